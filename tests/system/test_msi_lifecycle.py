"""The sample package's later life under Wine's msiexec: revision R1 upgraded to
R2, a repair, the other architecture's package of the same version, packages
that must be refused. Both revisions of the shipped x86 package are built for
each test by examples/msi/build_msi.sh, R2 with its own relinfo.xml.
(A failed installation, upgrade or uninstall is not here: Wine's msiexec runs
rollback actions only after it has deleted the installed files, so neither
program can run; build_msi.sh checks the rollback actions in the tables.)"""

import os
import subprocess

import pytest

from conftest import (DRIVE_C, FILE_ASSOCIATION, MACHINE, REPO, USER, apply_env, drive_c_tree, expected_env,
                      link_name, product_env, programs_folder, to_windows, tree)
from test_msi_package import FOLDER_NAME, PROGRAM_FILES, SamplePackage, menu_tree, registered_versions

R1, R2 = "2026 R1", "2026 R2"
VERSIONS = {R1: "18.1.1", R2: "18.1.2"}
# Linux sees msiexec's "installation failed" (1603) through an 8-bit exit status.
INSTALL_FAILED = 1603 % 256
# What the suite or its user set, not the installer.
LANGUAGE = "de-DE"


@pytest.fixture
def suite_setup(request, tmp_path):
    """The x86 package of one scope, built as R1 and as R2: `.builds[revision]`."""
    relinfo = (REPO / "examples/msi/relinfo.xml").read_text(encoding="utf-8")
    assert R1 in relinfo
    folders = {}
    for revision, version in VERSIONS.items():
        folder = tmp_path / version
        folder.mkdir()
        (folder / "relinfo.xml").write_text(relinfo.replace(R1, revision), encoding="utf-8")
        built = subprocess.run([REPO / "examples/msi/build_msi.sh"], capture_output=True, text=True, env=dict(
            os.environ, MSI_ARCHES="x86", MSI_OUT=str(folder), MSI_VERSION=version,
            MSI_RELINFO=str(folder / "relinfo.xml")))
        assert built.returncode == 0, built.stderr
        folders[revision] = folder / "x86"
    package = SamplePackage("x86", request.param, folders[R1])
    package.builds = {revision: folder / package.name for revision, folder in folders.items()}
    package.menu = programs_folder(request.param) / FOLDER_NAME
    package.other = USER if package.admin else MACHINE
    yield package
    package.uninstall_left_over()


@pytest.mark.parametrize("suite_setup", [MACHINE, USER], indirect=True,
                         ids=["per-machine-by-administrator", "per-user-by-standard-user"])
def test_upgrade_leaves_only_the_new_revision_and_its_uninstall_nothing(suite_setup):
    setup = suite_setup
    before = drive_c_tree()
    setup.msiexec("/i", package=setup.builds[R1])
    apply_env({(setup.scope, "ZEP_LOCALE182"): LANGUAGE})

    setup.msiexec("/i", package=setup.builds[R2])

    # The old remover read its own relinfo.xml: R1's shortcuts gone, R2's made,
    # the variables the new installer set still there, and the user's language
    # setting, which the old remover deleted, written back.
    assert tree(setup.menu) == menu_tree(R2)
    assert product_env() == {setup.scope: {**expected_env(to_windows(setup.root)), "ZEP_LOCALE182": LANGUAGE},
                             setup.other: {}}
    assert registered_versions() == [VERSIONS[R2]]

    setup.msiexec("/x", package=setup.builds[R2])

    assert (drive_c_tree() ^ before) - setup.shared_folders == set()
    assert product_env() == {setup.scope: {"NIMBA_SYSDIR": "winx64"}, setup.other: {}}
    assert registered_versions() == []


@pytest.mark.parametrize("suite_setup", [MACHINE], indirect=True)
def test_repair_brings_back_a_deleted_shortcut_and_variable(suite_setup):
    setup = suite_setup
    setup.msiexec("/i")
    (setup.menu / FILE_ASSOCIATION[0] / link_name(FILE_ASSOCIATION[1], R1)).unlink()
    apply_env({(MACHINE, "ZEP_ROOT182"): None})

    setup.msiexec("/i", "REINSTALL=ALL", "REINSTALLMODE=amus")

    assert tree(setup.menu) == menu_tree(R1)
    assert product_env()[MACHINE] == expected_env(to_windows(setup.root))


@pytest.mark.parametrize("suite_setup", [MACHINE], indirect=True)
def test_other_architecture_of_the_same_version_replaces_the_installed_one(suite_setup):
    setup = suite_setup
    before = drive_c_tree()
    setup.msiexec("/i", package=setup.builds[R1])
    x64 = SamplePackage("x64", MACHINE)

    x64.msiexec("/i")
    setup.installed = x64.path

    # One entry, the x64 suite's shortcuts and variables, nothing of the x86 tree.
    assert registered_versions() == [VERSIONS[R1]]
    assert tree(setup.menu) == menu_tree(R1)
    assert product_env()[MACHINE] == expected_env(to_windows(x64.root))
    assert not (DRIVE_C / PROGRAM_FILES["x86"] / setup.root.name).exists()

    x64.msiexec("/x")

    assert drive_c_tree() ^ before == set()
    assert registered_versions() == []


# (scope of the setup, revision installed first or None, revision then started, by an administrator?)
REFUSED = {
    "older-revision": (MACHINE, R2, R1, True),
    "per-user-package-by-administrator": (USER, R1, R2, True),
}


@pytest.mark.parametrize("suite_setup, first, refused, admin", REFUSED.values(), ids=REFUSED.keys(),
                         indirect=["suite_setup"])
def test_refused_package_changes_nothing(suite_setup, first, refused, admin):
    setup = suite_setup
    setup.msiexec("/i", package=setup.builds[first])
    before = (drive_c_tree(), product_env(), registered_versions())

    setup.msiexec("/i", package=setup.builds[refused], admin=admin, expect=INSTALL_FAILED)

    assert (drive_c_tree(), product_env(), registered_versions()) == before

"""The sample package's later life under Wine's msiexec: revision R1 upgraded to
R2, a repair, a refused downgrade. Both revisions are built for each test from
the x64 programs by examples/msi/build_msi.sh, R2 with its own relinfo.xml.
(A failed installation is not here: Wine's msiexec runs rollback actions only
after it has deleted the installed files, so the remover cannot run.)"""

import os
import re
import subprocess

import pytest

from conftest import (FILE_ASSOCIATION, MACHINE, REPO, USER, apply_env, drive_c_tree, expected_env, link_name,
                      product_env, programs_folder, to_windows, tree, wine)
from test_msi_package import FOLDER_NAME, PRODUCT, SamplePackage, menu_tree

R1, R2 = "2026 R1", "2026 R2"
VERSIONS = {R1: "18.1.1", R2: "18.1.2"}
# Linux sees msiexec's "installation failed" (1603) through an 8-bit exit status.
INSTALL_FAILED = 1603 % 256
# Wine's msiexec lists per-user products in the machine's list too.
UNINSTALL_KEYS = [rf"{hive}\Software\Microsoft\Windows\CurrentVersion\Uninstall" for hive in ("HKLM", "HKCU")]


@pytest.fixture
def suite_setup(request, tmp_path):
    """The x64 package of one scope, built as R1 and as R2: `.builds[revision]`."""
    relinfo = (REPO / "examples/msi/relinfo.xml").read_text(encoding="utf-8")
    assert R1 in relinfo
    folders = {}
    for revision, version in VERSIONS.items():
        folder = tmp_path / version
        folder.mkdir()
        (folder / "relinfo.xml").write_text(relinfo.replace(R1, revision), encoding="utf-8")
        built = subprocess.run([REPO / "examples/msi/build_msi.sh"], capture_output=True, text=True, env=dict(
            os.environ, MSI_ARCHES="x64", MSI_OUT=str(folder), MSI_VERSION=version,
            MSI_RELINFO=str(folder / "relinfo.xml")))
        assert built.returncode == 0, built.stderr
        folders[revision] = folder / "x64"
    package = SamplePackage("x64", request.param, folders[R1])
    package.builds = {revision: folder / package.name for revision, folder in folders.items()}
    package.menu = programs_folder(request.param) / FOLDER_NAME
    package.other = USER if package.admin else MACHINE
    yield package
    package.uninstall_left_over()


def registered_versions():
    """The sample suite's versions in the installed-programs list."""
    versions = []
    for key in UNINSTALL_KEYS:
        for entry in wine("reg", "query", key, "/s").stdout.decode("cp437", "replace").split("\r\n\r\n"):
            if re.search(rf"^\s+DisplayName\s+REG_SZ\s+{re.escape(PRODUCT)}\r?$", entry, re.M):
                versions += re.findall(r"^\s+DisplayVersion\s+REG_SZ\s+(\S+)", entry, re.M)
    return sorted(versions)


@pytest.mark.parametrize("suite_setup", [MACHINE, USER], indirect=True,
                         ids=["per-machine-by-administrator", "per-user-by-standard-user"])
def test_upgrade_leaves_only_the_new_revision_and_its_uninstall_nothing(suite_setup):
    setup = suite_setup
    before = drive_c_tree()
    setup.msiexec("/i", package=setup.builds[R1])

    setup.msiexec("/i", package=setup.builds[R2])

    # The old remover read its own relinfo.xml: R1's shortcuts gone, R2's made,
    # and the variables the new installer set still there.
    assert tree(setup.menu) == menu_tree(R2)
    assert product_env() == {setup.scope: expected_env(to_windows(setup.root)), setup.other: {}}
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
def test_older_revision_is_refused_and_changes_nothing(suite_setup):
    setup = suite_setup
    setup.msiexec("/i", package=setup.builds[R2])
    before = (drive_c_tree(), product_env(), registered_versions())

    setup.msiexec("/i", package=setup.builds[R1], expect=INSTALL_FAILED)

    assert (drive_c_tree(), product_env(), registered_versions()) == before

"""The sample suite's Windows Installer package (examples/msi), installed and
uninstalled by Wine's own msiexec, which runs shortcut_installer.exe and
shortcut_remover.exe as the package's deferred custom actions."""

import pytest

from conftest import (DIST_X64, DRIVE_C, FILE_ASSOCIATION, MACHINE, PRODUCT_CONFIG, UNINSTALL, USER, drive_c_tree,
                      expected_env, expected_shortcut, link_name, prefix_user_name, product_env, programs_folder,
                      read_shortcut, run, to_windows, toolbar_list_bytes, tree)

PRODUCT = "NIMBA Sample Suite 18.1"
# As examples/msi/relinfo.xml gives them.
FOLDER_NAME, REVISION = "NIMBA 18.1 Sample", "2026 R1"
# The package carries no CAD configuration utility, so that shortcut is left out.
SHORTCUTS = (UNINSTALL, PRODUCT_CONFIG, FILE_ASSOCIATION)


class SamplePackage:
    """The package of one scope, run by an administrator (per machine) or by a
    standard user through run_restricted.exe (per user)."""

    def __init__(self, scope):
        self.scope = scope
        self.admin = scope == MACHINE
        self.path = DIST_X64 / ("nimba_sample_suite.msi" if self.admin else "nimba_sample_suite_peruser.msi")
        # The per-user package installs below the user's LocalAppData\Programs,
        # a folder shared by every per-user program, which therefore stays.
        programs = DRIVE_C / "users" / prefix_user_name() / "AppData/Local/Programs"
        self.shared_folders = set() if self.admin else {str(programs.relative_to(DRIVE_C)) + "/"}
        self.root = (DRIVE_C / "Program Files" if self.admin else programs) / PRODUCT
        self.installed = False

    def msiexec(self, action):
        ran = run("msiexec.exe", action, to_windows(self.path), "/qn", admin=self.admin)
        assert ran.code == 0, ran
        self.installed = action == "/i"


@pytest.fixture
def sample_package(request):
    package = SamplePackage(request.param)
    assert package.path.is_file(), f"{package.path} missing: run make all"
    yield package
    if package.installed:
        # Leave no registered product behind a failed check.
        run("msiexec.exe", "/x", to_windows(package.path), "/qn", admin=package.admin)


@pytest.mark.parametrize("sample_package", [MACHINE, USER], indirect=True,
                         ids=["per-machine-by-administrator", "per-user-by-standard-user"])
def test_package_runs_installer_after_copying_and_remover_before_deleting(sample_package):
    package = sample_package
    other = USER if package.admin else MACHINE
    root = to_windows(package.root)
    product_folder = programs_folder(package.scope) / FOLDER_NAME
    before = drive_c_tree()

    package.msiexec("/i")

    assert tree(package.root) >= {"NIMBA/bin/winx64/setup/shortcut_installer.exe",
                                  "NIMBA/bin/winx64/setup/shortcut_remover.exe",
                                  "commonfiles/globalsettings/relinfo.xml"}
    assert tree(product_folder) == {"Utilities/"} | {
        (f"{sub}/" if sub else "") + link_name(name, REVISION) for sub, name in SHORTCUTS}
    for shortcut in SHORTCUTS:
        link = read_shortcut(product_folder / shortcut[0] / link_name(shortcut[1], REVISION))
        assert (link.local_path, link.description, link.icon_location) == expected_shortcut(root, shortcut)
    assert not (programs_folder(other) / FOLDER_NAME).exists()
    assert product_env() == {package.scope: expected_env(root), other: {}}
    assert (package.root / "NIMBA/gui/en-us/toolbars/tlbrlist182.qel").read_bytes() == toolbar_list_bytes(root)

    package.msiexec("/x")

    # Tree, toolbar list, shortcuts and their folders gone; NIMBA_SYSDIR is shared
    # with other releases and stays.
    changed = drive_c_tree() ^ before
    assert changed - package.shared_folders == set()
    assert product_env() == {package.scope: {"NIMBA_SYSDIR": "winx64"}, other: {}}

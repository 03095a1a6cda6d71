"""The sample suite's NSIS setups (examples/nsis), run silently under Wine: the
setup runs shortcut_installer.exe once the files are copied, its uninstaller
runs shortcut_remover.exe before it deletes them."""

import re
import time

import pytest

from conftest import (DRIVE_C, MACHINE, REPO, USER, drive_c_tree, expected_env, product_env, programs_folder,
                      run, temp_folder, to_windows, tree, wine)
from test_msi_package import FOLDER_NAME, PRODUCT, REVISION, assert_sample_installed, install_place, menu_tree

SETUPS = {MACHINE: REPO / "dist/x86/nimba_sample_suite_setup.exe",
          USER: REPO / "dist/x86/nimba_sample_suite_setup_peruser.exe"}
# The same release for all users with another shortcut revision (examples/nsis/build_nsis.sh).
OLDER_SETUP, OLDER_REVISION = REPO / "build/nsis/nimba_sample_suite_setup_2025r2.exe", "2025 R2"
UNINSTALL_KEYS = {
    # The setup is a 32-bit program: its machine-wide key lands in the 32-bit view.
    MACHINE: rf"HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\{PRODUCT}",
    USER: rf"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\{PRODUCT}",
}
# Started without _?=, an NSIS uninstaller runs from a copy of itself in the
# user's Temp folder, which Windows deletes at the next restart (PendingFileRenameOperations).
UNINSTALLER_COPY = re.compile(r"~nsu[^/]*\.tmp(/.*)?$")
UNINSTALL_TIMEOUT = 60


def is_uninstaller_copy(path):
    temp = temp_folder().relative_to(DRIVE_C).as_posix() + "/"
    return path.startswith(temp) and UNINSTALLER_COPY.match(path[len(temp):]) is not None


class SampleSetup:
    """The setups of one scope, run by an administrator (all users) or by a
    standard user through run_restricted.exe (current user)."""

    def __init__(self, scope):
        self.scope = scope
        self.admin = scope == MACHINE
        # A 32-bit setup: all users' programs go below Program Files (x86).
        self.root, self.shared_folders = install_place(scope, "Program Files (x86)")

    def install(self, setup):
        ran = run(to_windows(setup), "/S", admin=self.admin)
        assert ran.code == 0, ran

    def uninstall(self):
        """Runs the registered uninstaller and waits for its temporary copy's work:
        the folder goes last."""
        ran = run(to_windows(self.root / "Uninstall.exe"), "/S", admin=self.admin)
        assert ran.code == 0, ran
        deadline = time.monotonic() + UNINSTALL_TIMEOUT
        while self.root.exists():
            assert time.monotonic() < deadline, f"{self.root} still there {UNINSTALL_TIMEOUT} s after the uninstall"
            time.sleep(0.1)

    def registered_version(self):
        """DisplayVersion of the Add/Remove Programs entry, None without an entry."""
        done = wine("reg", "query", UNINSTALL_KEYS[self.scope], "/v", "DisplayVersion")
        if done.returncode != 0:
            return None
        return done.stdout.decode("cp437").split("REG_SZ", 1)[1].strip()

    def shortcuts(self):
        return tree(programs_folder(self.scope) / FOLDER_NAME)


@pytest.fixture
def nsis_setup(request):
    setup = SampleSetup(request.param)
    for path in (*SETUPS.values(), OLDER_SETUP):
        assert path.is_file(), f"{path} missing: run make all"
    yield setup
    if (setup.root / "Uninstall.exe").exists():
        # Leave no installed suite behind a failed check.
        setup.uninstall()


@pytest.mark.parametrize("nsis_setup", [MACHINE, USER], indirect=True,
                         ids=["all-users-by-administrator", "current-user-by-standard-user"])
def test_setup_runs_installer_after_copying_and_uninstaller_runs_remover_before_deleting(nsis_setup):
    setup = nsis_setup
    other = USER if setup.admin else MACHINE
    before = drive_c_tree()

    setup.install(SETUPS[setup.scope])

    assert_sample_installed(setup.root, setup.scope)
    assert (setup.root / "Uninstall.exe").is_file()
    assert setup.registered_version() == REVISION

    setup.uninstall()

    # Tree, toolbar list, shortcuts, their folders and the Add/Remove Programs entry
    # gone; NIMBA_SYSDIR is shared with other releases and stays.
    changed = {p for p in drive_c_tree() ^ before if not is_uninstaller_copy(p)}
    assert changed - setup.shared_folders == set()
    assert product_env() == {setup.scope: {"NIMBA_SYSDIR": "winx64"}, other: {}}
    assert setup.registered_version() is None


@pytest.mark.parametrize("nsis_setup", [MACHINE], indirect=True, ids=["all-users-by-administrator"])
def test_setup_over_older_revision_leaves_only_new_revision(nsis_setup):
    setup = nsis_setup
    root = to_windows(setup.root)
    before = drive_c_tree()
    setup.install(OLDER_SETUP)
    assert setup.shortcuts() == menu_tree(OLDER_REVISION)

    setup.install(SETUPS[MACHINE])

    assert setup.shortcuts() == menu_tree(REVISION)
    assert product_env()[MACHINE] == expected_env(root)
    assert setup.registered_version() == REVISION

    setup.uninstall()

    changed = {p for p in drive_c_tree() ^ before if not is_uninstaller_copy(p)}
    assert changed == set()
    assert product_env()[MACHINE] == {"NIMBA_SYSDIR": "winx64"}

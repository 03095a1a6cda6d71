"""The sample suite's NSIS setups (examples/nsis), run silently under Wine: the
setup runs shortcut_installer.exe once the files are copied, its uninstaller
runs shortcut_remover.exe before it deletes them."""

import os
import re
import shutil
import subprocess
import time

import pytest

from conftest import (DRIVE_C, MACHINE, REPO, TOOLS, USER, apply_env, drive_c_tree, expected_env, files_below,
                      next_id, product_env, programs_folder, read_shortcut, run, run_command_line, temp_folder,
                      to_linux, to_windows, tree, wine)
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
# Add/Remove Programs and deployment tools compare versions as dotted numbers.
DOTTED_VERSION = re.compile(r"\d+(\.\d+){1,3}")
# The setups' exit codes (examples/nsis/nimba_sample_suite.nsi).
STOPPED, WRONG_ACCOUNT = 2, 3
# A program that ends at once with status 7: a helper that fails.
FAILING_PROGRAM = TOOLS / "exits_at_once.exe"
HELPERS = REPO / "dist/x86"
REMOVER_PLACE = "NIMBA/bin/winx64/setup/shortcut_remover.exe"


def plugin_folders():
    """The folders below Temp into which running NSIS programs unpacked their plugins
    ($PLUGINSDIR, ns*.tmp); each deletes its own as it exits, after its last step."""
    return [path for path in temp_folder().glob("ns*.tmp") if path.is_dir()]


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
        the folder goes last, the copy's plugins folder as it exits."""
        ran = run(to_windows(self.root / "Uninstall.exe"), "/S", admin=self.admin)
        assert ran.code == 0, ran
        deadline = time.monotonic() + UNINSTALL_TIMEOUT
        while self.root.exists() or plugin_folders():
            assert time.monotonic() < deadline, f"{self.root} still there {UNINSTALL_TIMEOUT} s after the uninstall"
            time.sleep(0.1)

    def uninstall_in_place(self, admin=None):
        """Runs the uninstaller in place (_?=, from a batch file, which keeps the
        folder unquoted) and returns its own exit code."""
        root = to_windows(self.root)
        return run_command_line(DRIVE_C / "st", f'"{root}\\Uninstall.exe" /S _?={root}',
                                admin=self.admin if admin is None else admin).code

    def registered(self, value="DisplayVersion"):
        """A value of the Add/Remove Programs entry, None without an entry."""
        done = wine("reg", "query", UNINSTALL_KEYS[self.scope], "/v", value)
        if done.returncode != 0:
            return None
        return done.stdout.decode("cp437").split("REG_SZ", 1)[1].strip()

    def assert_registered(self, revision):
        """The entry shows a dotted version and, in its name, the shortcuts' revision."""
        assert DOTTED_VERSION.fullmatch(self.registered()), self.registered()
        assert self.registered("DisplayName") == f"{PRODUCT} ({revision})"

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
    forget_setups()


def forget_setups():
    """No Add/Remove Programs entry of the sample left, whatever a failed check left."""
    for key in UNINSTALL_KEYS.values():
        wine("reg", "delete", key, "/f")


@pytest.mark.parametrize("nsis_setup", [MACHINE, USER], indirect=True,
                         ids=["all-users-by-administrator", "current-user-by-standard-user"])
def test_setup_runs_installer_after_copying_and_uninstaller_runs_remover_before_deleting(nsis_setup):
    setup = nsis_setup
    other = USER if setup.admin else MACHINE
    before = drive_c_tree()

    setup.install(SETUPS[setup.scope])

    assert_sample_installed(setup.root, setup.scope)
    assert (setup.root / "Uninstall.exe").is_file()
    setup.assert_registered(REVISION)
    # Every shortcut leads to a file the setup installed.
    folder = programs_folder(setup.scope) / FOLDER_NAME
    for link in (p for p in setup.shortcuts() if p.endswith(".lnk")):
        target = read_shortcut(folder / link).local_path.strip('"')
        assert to_linux(target).is_file(), f"{link} leads to {target}, which is not there"

    setup.uninstall()

    # Tree, toolbar list, shortcuts, their folders and the Add/Remove Programs entry
    # gone; NIMBA_SYSDIR is shared with other releases and stays.
    changed = {p for p in drive_c_tree() ^ before if not is_uninstaller_copy(p)}
    assert changed - setup.shared_folders == set()
    assert product_env() == {setup.scope: {"NIMBA_SYSDIR": "winx64"}, other: {}}
    assert setup.registered() is None


@pytest.mark.parametrize("nsis_setup", [MACHINE], indirect=True, ids=["all-users-by-administrator"])
def test_setup_over_older_revision_leaves_only_new_revision_and_keeps_language(nsis_setup):
    setup = nsis_setup
    root = to_windows(setup.root)
    before = drive_c_tree()
    setup.install(OLDER_SETUP)
    assert setup.shortcuts() == menu_tree(OLDER_REVISION)
    # The suite's language setting, which the older release's remover deletes
    # (for all users: the machine's and the running user's own).
    apply_env({(MACHINE, "ZEP_LOCALE182"): "de-DE", (USER, "ZEP_LOCALE182"): "fr-FR"})

    setup.install(SETUPS[MACHINE])

    assert setup.shortcuts() == menu_tree(REVISION)
    assert product_env() == {MACHINE: expected_env(root) | {"ZEP_LOCALE182": "de-DE"}, USER: {"ZEP_LOCALE182": "fr-FR"}}
    setup.assert_registered(REVISION)

    setup.uninstall()

    changed = {p for p in drive_c_tree() ^ before if not is_uninstaller_copy(p)}
    assert changed == set()
    assert product_env() == {MACHINE: {"NIMBA_SYSDIR": "winx64"}, USER: {}}


# A setup started with the other kind of rights would copy its files for one
# scope while the programs set up the other.
@pytest.mark.parametrize("scope, admin", [(USER, True), (MACHINE, False)],
                         ids=["current-user-setup-by-administrator", "all-users-setup-by-standard-user"])
def test_setup_for_other_kind_of_account_refuses_and_changes_nothing(scope, admin):
    before = drive_c_tree()
    try:
        assert run(to_windows(SETUPS[scope]), "/S", admin=admin).code == WRONG_ACCOUNT

        assert drive_c_tree() == before
        assert product_env() == {MACHINE: {}, USER: {}}
        assert SampleSetup(scope).registered() is None
    finally:
        forget_setups()


def remove_remover(root):
    (root / REMOVER_PLACE).unlink()


def fail_remover(root):
    shutil.copyfile(FAILING_PROGRAM, root / REMOVER_PLACE)


# An uninstaller whose remover does not run must not take the suite's
# registration away: the shortcuts and variables would stay with nothing left to
# remove them. It stops before, with an exit code that says so.
@pytest.mark.parametrize("nsis_setup, break_it, admin, code", [
    (MACHINE, remove_remover, True, STOPPED),
    (MACHINE, fail_remover, True, STOPPED),
    (USER, None, True, WRONG_ACCOUNT),
], indirect=["nsis_setup"], ids=["remover-missing", "remover-fails", "current-user-uninstaller-by-administrator"])
def test_uninstaller_stops_before_removing_registration(nsis_setup, break_it, admin, code):
    setup = nsis_setup
    setup.install(SETUPS[setup.scope])
    if break_it:
        break_it(setup.root)

    assert setup.uninstall_in_place(admin=admin) == code

    setup.assert_registered(REVISION)
    assert setup.shortcuts() == menu_tree(REVISION)
    assert product_env()[setup.scope] == expected_env(to_windows(setup.root))
    # The fixture's uninstall takes it all away.
    shutil.copyfile(HELPERS / "shortcut_remover.exe", setup.root / REMOVER_PLACE)


@pytest.mark.parametrize("nsis_setup", [MACHINE], indirect=True, ids=["all-users-by-administrator"])
def test_setup_stops_when_installer_cannot_run(nsis_setup):
    setup = nsis_setup
    # The installer needs oleaut32, the setup does not.
    ran = run(to_windows(SETUPS[MACHINE]), "/S", dll_overrides="oleaut32=d")

    assert ran.code == STOPPED, ran
    assert setup.shortcuts() == set()
    # Registered all the same, so that what was copied can be removed.
    setup.assert_registered(REVISION)


@pytest.mark.parametrize("nsis_setup", [MACHINE], indirect=True, ids=["all-users-by-administrator"])
def test_setup_over_older_revision_whose_uninstaller_fails_keeps_older_revision(nsis_setup):
    setup = nsis_setup
    setup.install(OLDER_SETUP)
    fail_remover(setup.root)

    assert run(to_windows(SETUPS[MACHINE]), "/S").code == STOPPED

    setup.assert_registered(OLDER_REVISION)
    assert setup.shortcuts() == menu_tree(OLDER_REVISION)
    assert product_env()[MACHINE] == expected_env(to_windows(setup.root))
    shutil.copyfile(HELPERS / "shortcut_remover.exe", setup.root / REMOVER_PLACE)


@pytest.mark.parametrize("nsis_setup", [MACHINE], indirect=True, ids=["all-users-by-administrator"])
def test_setup_over_entry_whose_folder_was_deleted_replaces_it(nsis_setup):
    setup = nsis_setup
    setup.install(OLDER_SETUP)
    shutil.rmtree(setup.root)

    setup.install(SETUPS[MACHINE])

    setup.assert_registered(REVISION)


# Folders of the installed tree that another user swapped for links to a
# folder of theirs, holding what the setup put there; the elevated uninstaller
# deleted those files through the links.
@pytest.mark.parametrize("nsis_setup, linked, behind", [
    (MACHINE, ("commonfiles/globalsettings", "NIMBA/gui/en-us/toolbars", "commonfiles/tools/winx64"),
     {"relinfo.xml", "tlbrlist182.qel", "fileassoc.exe"}),
    (MACHINE, ("NIMBA/gui",), {"tlbrlist182.qel"}),
], indirect=["nsis_setup"], ids=["three-linked-folders", "linked-folder-above-the-files"])
def test_uninstaller_deletes_nothing_through_a_link(nsis_setup, linked, behind):
    setup = nsis_setup
    setup.install(SETUPS[MACHINE])
    outside = DRIVE_C / "st" / f"outside-{next_id()}"
    outside.mkdir(parents=True)
    try:
        for number, folder in enumerate(linked):
            shutil.move(setup.root / folder, outside / str(number))
            (setup.root / folder).symlink_to(outside / str(number), target_is_directory=True)
        kept = files_below(outside)
        assert {path.rsplit("/", 1)[-1] for path in kept} == behind

        assert setup.uninstall_in_place() == 0

        assert files_below(outside) == kept
        assert all(os.readlink(setup.root / folder) == str(outside / str(number)) for number, folder in enumerate(linked))
        # The rest went, the remover ran: only the links, the folders above them
        # and the uninstaller that ran in place are left.
        parents = {"/".join(folder.split("/")[:level]) + "/" for folder in linked
                   for level in range(1, folder.count("/") + 1)}
        assert tree(setup.root) == {"Uninstall.exe"} | {folder + "/" for folder in linked} | parents
        assert setup.shortcuts() == set()
        assert setup.registered() is None
    finally:
        for folder in linked:
            if (setup.root / folder).is_symlink():
                (setup.root / folder).unlink()
        shutil.rmtree(setup.root, ignore_errors=True)


def folder_is_a_file(root, outside):
    root.mkdir(parents=True)
    (root / "commonfiles").write_bytes(b"not a folder")


def program_folder_is_a_link(root, outside):
    (root / "NIMBA").mkdir(parents=True)
    (root / "NIMBA/bin").symlink_to(outside, target_is_directory=True)


# An all-users tree whose folders cannot all be locked to administrators is not
# installed: the setup stops before it copies or registers anything (the
# folders it made and locked before the one that failed stay, empty).
@pytest.mark.parametrize("prepare", [folder_is_a_file, program_folder_is_a_link],
                         ids=["folder-is-a-file", "program-folder-is-a-link"])
def test_setup_stops_when_it_cannot_lock_its_folders(prepare):
    root = DRIVE_C / "st" / f"t{next_id()}"
    outside = DRIVE_C / "st" / f"outside-{next_id()}"
    outside.mkdir(parents=True)
    prepare(root, outside)
    before = drive_c_tree()
    try:
        ran = run(to_windows(SETUPS[MACHINE]), "/S", f"/D={to_windows(root)}")

        assert ran.code == STOPPED, ran
        after = drive_c_tree()
        assert before <= after and {path for path in after - before if not path.endswith("/")} == set()
        assert tree(outside) == set()
        assert product_env() == {MACHINE: {}, USER: {}}
        assert SampleSetup(MACHINE).registered() is None
    finally:
        forget_setups()


# build_nsis.sh refuses a makensis whose uninstallers have the Temp folder flaw
# (CVE-2023-37378): upstream 3.08 and older. An accepted one goes on to build,
# which this stand-in, good for its version only, fails with status 3.
@pytest.mark.no_prefix
@pytest.mark.parametrize("version, accepted", [("v3.08", False), ("v2.51", False), ("v3.09", True), ("v3.10", True)])
def test_build_refuses_makensis_without_the_temp_folder_fix(tmp_path, version, accepted):
    stand_in = tmp_path / "makensis"
    stand_in.write_text(f'#!/bin/sh\n[ "$1" = -VERSION ] && {{ echo {version}; exit 0; }}\nexit 3\n')
    stand_in.chmod(0o755)

    built = subprocess.run([REPO / "examples/nsis/build_nsis.sh"], capture_output=True, text=True,
                           env=dict(os.environ, PATH=f"{tmp_path}:{os.environ['PATH']}"))

    refused = "install NSIS 3.09 or later, or on Debian 12 the package nsis 3.08-3+deb12u1" in built.stderr
    assert (built.returncode, refused) == ((3, False) if accepted else (1, True)), built.stderr

"""The sample suite's Windows Installer package (examples/msi), installed and
uninstalled by Wine's own msiexec, which runs shortcut_installer.exe and
shortcut_remover.exe as the package's deferred custom actions: the shipped
32-bit package and the one built from the x64 programs."""

import functools
import re
import struct
import subprocess
import time

import pytest

from conftest import (DRIVE_C, FILE_ASSOCIATION, INSTALLER, MACHINE, PRODUCT_CONFIG, REPO, UNINSTALL, USER,
                      drive_c_tree, expected_env, expected_shortcut, files_below, link_name, next_id,
                      prefix_user_name, product_env, programs_folder, read_shortcut, run, to_linux, to_windows,
                      toolbar_list_bytes, tree, wine_tool)

PRODUCT = "NIMBA Sample Suite 18.1"
# As examples/msi/relinfo.xml gives them.
FOLDER_NAME, REVISION = "NIMBA 18.1 Sample", "2026 R1"
# The package carries no CAD configuration utility, so that shortcut is left out.
SHORTCUTS = (UNINSTALL, PRODUCT_CONFIG, FILE_ASSOCIATION)
# Where a per-machine package lands in a 64-bit prefix: a 32-bit one in the
# folder for 32-bit programs.
PROGRAM_FILES = {"x64": "Program Files", "x86": "Program Files (x86)"}
# The machine field of a program's PE header.
PE_MACHINE = {"x64": 0x8664, "x86": 0x14C}
PACKAGES = [(arch, scope) for arch in PROGRAM_FILES for scope in (MACHINE, USER)]
PACKAGE_IDS = [f"{arch}-{'per-machine-by-administrator' if scope == MACHINE else 'per-user-by-standard-user'}"
               for arch, scope in PACKAGES]
# The installed-programs lists: Wine's msiexec lists per-user products in the
# machine's too, and a 32-bit package's in the machine's 32-bit view.
UNINSTALL_KEYS = [rf"{hive}\Software\{view}Microsoft\Windows\CurrentVersion\Uninstall"
                  for hive, view in (("HKLM", ""), ("HKLM", "Wow6432Node\\"), ("HKCU", ""))]
# The access list the per-machine package gives every folder of its tree
# (examples/msi/README.md): Administrators and LocalSystem full control, Users
# and the folder's owner read and execute, nothing inherited from above.
LOCKED_FOLDER = "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;OICI;0x1200a9;;;OW)"


def menu_tree(revision):
    """What the product's Start Menu folder holds once the package is installed."""
    return {"Utilities/"} | {(f"{sub}/" if sub else "") + link_name(name, revision) for sub, name in SHORTCUTS}


def install_place(scope, program_files="Program Files"):
    """(installation folder, folders that stay after the uninstall) of a setup of
    the sample suite for `scope`. Per user it installs below the user's
    LocalAppData\\Programs, a folder shared by every per-user program."""
    if scope == MACHINE:
        return DRIVE_C / program_files / PRODUCT, set()
    programs = DRIVE_C / "users" / prefix_user_name() / "AppData/Local/Programs"
    return programs / PRODUCT, {str(programs.relative_to(DRIVE_C)) + "/"}


def assert_sample_installed(install_folder, scope):
    """The sample suite's programs, shortcuts (read from the .lnk files), variables and
    toolbar list as its setup for `scope` leaves them; nothing in the other scope."""
    other = USER if scope == MACHINE else MACHINE
    root = to_windows(install_folder)
    product_folder = programs_folder(scope) / FOLDER_NAME
    assert tree(install_folder) >= {"NIMBA/bin/winx64/setup/shortcut_installer.exe",
                                    "NIMBA/bin/winx64/setup/shortcut_remover.exe",
                                    "commonfiles/globalsettings/relinfo.xml"}
    assert tree(product_folder) == menu_tree(REVISION)
    for shortcut in SHORTCUTS:
        link = read_shortcut(product_folder / shortcut[0] / link_name(shortcut[1], REVISION))
        assert (link.local_path, link.description, link.icon_location) == expected_shortcut(root, shortcut)
    assert not (programs_folder(other) / FOLDER_NAME).exists()
    assert product_env() == {scope: expected_env(root), other: {}}
    assert (install_folder / "NIMBA/gui/en-us/toolbars/tlbrlist182.qel").read_bytes() == toolbar_list_bytes(root)


@functools.cache
def listed_keys():
    """The installed-programs keys, made where the prefix has none yet (the 32-bit
    view's and the user's): querying a missing key fails as a start that Wine lost
    does, which wine_tool retries."""
    for key in UNINSTALL_KEYS:
        wine_tool("reg", "add", key, "/f")
    return UNINSTALL_KEYS


def registered_versions():
    """The sample suite's versions in the installed-programs list, one per entry."""
    versions = []
    for key in listed_keys():
        for entry in wine_tool("reg", "query", key, "/s").stdout.decode("cp437", "replace").split("\r\n\r\n"):
            if re.search(rf"^\s+DisplayName\s+REG_SZ\s+{re.escape(PRODUCT)}\r?$", entry, re.M):
                versions += re.findall(r"^\s+DisplayVersion\s+REG_SZ\s+(\S+)", entry, re.M)
    return sorted(versions)


def msi_rows(package, table):
    """A table of a built package as one dict a row; none when the package has no such table."""
    tables = subprocess.run(["msiinfo", "tables", package], capture_output=True, text=True, check=True).stdout
    if table not in tables.split():
        return []
    exported = subprocess.run(["msiinfo", "export", package, table], capture_output=True, text=True,
                              check=True).stdout.replace("\r", "").split("\n")
    columns = exported[0].split("\t")
    return [dict(zip(columns, line.split("\t"))) for line in exported[3:] if line]


def package_name(scope):
    return "nimba_sample_suite.msi" if scope == MACHINE else "nimba_sample_suite_peruser.msi"


class SamplePackage:
    """The package of one architecture and scope, run by an administrator (per
    machine) or by a standard user through run_restricted.exe (per user); its
    other builds (revisions) lie in other folders under the same name."""

    def __init__(self, arch, scope, folder=None):
        self.arch, self.scope = arch, scope
        self.admin = scope == MACHINE
        self.name = package_name(scope)
        self.path = (folder or REPO / "dist" / arch) / self.name
        self.root, self.shared_folders = install_place(scope, PROGRAM_FILES[arch])
        self.installed = None

    def msiexec(self, action, *properties, package=None, expect=0, admin=None):
        """Runs msiexec /i or /x on this package or another build of it, as its
        own user or as the one given; the one installed last is kept for the
        clean-up."""
        package = package or self.path
        admin = self.admin if admin is None else admin
        ran = run("msiexec.exe", action, to_windows(package), *properties, "/qn", admin=admin)
        assert ran.code == expect, ran
        if ran.code == 0:
            self.installed = package if action == "/i" else None

    def uninstall_left_over(self):
        """Leaves no registered product behind a failed check."""
        if self.installed:
            run("msiexec.exe", "/x", to_windows(self.installed), "/qn", admin=self.admin)


@pytest.fixture
def sample_package(request):
    package = SamplePackage(*request.param)
    assert package.path.is_file(), f"{package.path} missing: run make all"
    yield package
    package.uninstall_left_over()


@pytest.mark.parametrize("sample_package", PACKAGES, indirect=True, ids=PACKAGE_IDS)
def test_package_runs_installer_after_copying_and_remover_before_deleting(sample_package):
    package = sample_package
    other = USER if package.admin else MACHINE
    before = drive_c_tree()

    package.msiexec("/i")

    assert_sample_installed(package.root, package.scope)
    # The package carries the programs of its own architecture.
    program = (package.root / "NIMBA/bin/winx64/setup" / INSTALLER).read_bytes()
    assert struct.unpack_from("<H", program, struct.unpack_from("<I", program, 0x3C)[0] + 4)[0] == \
        PE_MACHINE[package.arch]

    # Every shortcut leads to a file the package installed.
    links = list((programs_folder(package.scope) / FOLDER_NAME).rglob("*.lnk"))
    assert links and [link for link in links if not to_linux(read_shortcut(link).local_path).is_file()] == []

    # The Uninstall shortcut's target starts this product's uninstall and
    # returns at once, so that its own file is free to go: wait for the end.
    uninstall = read_shortcut(programs_folder(package.scope) / FOLDER_NAME / link_name(UNINSTALL[1], REVISION))
    ran = run(uninstall.local_path, "/qn", admin=package.admin)
    assert ran.code == 0, ran
    deadline = time.monotonic() + 120
    while (registered_versions() or (drive_c_tree() ^ before) - package.shared_folders) and time.monotonic() < deadline:
        time.sleep(1)

    # Tree, toolbar list, shortcuts and their folders gone; NIMBA_SYSDIR is shared
    # with other releases and stays.
    changed = drive_c_tree() ^ before
    assert changed - package.shared_folders == set()
    assert product_env() == {package.scope: {"NIMBA_SYSDIR": "winx64"}, other: {}}
    assert registered_versions() == []


# Wine stores no folder security, so what Windows alone shows is read from the
# packages: per machine, every folder of the tree locked by Windows Installer 5.0
# (MsiLockPermissionsEx) and, below 5.0, by the deferred action given the same
# descriptor and folders; per user, below the user's own profile, nothing.
@pytest.mark.no_prefix
@pytest.mark.parametrize("arch, scope", PACKAGES, ids=PACKAGE_IDS)
def test_per_machine_package_locks_every_folder_of_its_tree(arch, scope):
    package = REPO / "dist" / arch / package_name(scope)
    parents = {row["Directory"]: row["Directory_Parent"] for row in msi_rows(package, "Directory")}

    def in_tree(folder):
        while folder and folder != "INSTALLDIR":
            folder = parents[folder]
        return folder == "INSTALLDIR"

    folders = {folder for folder in parents if in_tree(folder)}
    locked = scope == MACHINE
    assert len(folders) == 12
    assert {(row["LockObject"], row["Table"], row["SDDLText"], row["Condition"])
            for row in msi_rows(package, "MsiLockPermissionsEx")} == \
        {(folder, "CreateFolder", LOCKED_FOLDER, "") for folder in folders if locked}
    # Each one is a folder that CreateFolders makes; both tables in one package
    # would fail every installation on Windows Installer 5.0 (error 1941).
    assert {row["Directory_"] for row in msi_rows(package, "CreateFolder")} >= (folders if locked else set())
    assert msi_rows(package, "LockPermissions") == []
    given = [row["Target"] for row in msi_rows(package, "CustomAction") if row["Action"] == "SetLockInstallationFolders"]
    descriptor = [row["Value"] for row in msi_rows(package, "Property") if row["Property"] == "NimbaLockedFolder"]
    if locked:
        first, *rest = given[0].split("|")
        assert (first, sorted(rest), descriptor) == \
            ("[NimbaLockedFolder]", sorted(f"[{folder}]" for folder in folders), [LOCKED_FOLDER])
    else:
        assert (given, descriptor) == ([], [])


# A junction that a standard user planted in a folder made before the
# installation (a Unix symlink stands in): where the package's own action locks
# the tree (Windows Installer below 5.0, as Wine reports itself), it refuses to
# lock, and so to install, through it.
def test_per_machine_package_installs_nothing_through_a_linked_folder():
    package = SamplePackage("x86", MACHINE)
    root = DRIVE_C / "st" / f"t{next_id()}"
    outside = DRIVE_C / "st" / f"outside{next_id()}"
    outside.mkdir(parents=True)
    (root / "NIMBA").mkdir(parents=True)
    (root / "NIMBA/bin").symlink_to(outside, target_is_directory=True)
    try:
        package.msiexec("/i", f"INSTALLDIR={to_windows(root)}\\", expect=1603 % 256)
        assert files_below(outside) == {}
        assert registered_versions() == []
    finally:
        package.uninstall_left_over()

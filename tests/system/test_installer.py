"""shortcut_installer.exe run as the suite's setup runs it, judged from outside Wine."""

import contextlib
import ctypes
import ctypes.util
import os
import re
import shutil
import struct
import threading
from pathlib import Path

import pytest

from conftest import (ALL_SHORTCUTS, CAD_MANAGER, DIST_X86, DRIVE_C, FILE_ASSOCIATION, INSTALLER, MACHINE,
                      PLANTED_DLLS, PRODUCT_CONFIG, REMOVER, TOOLBAR_LIST, UNINSTALL, USER, drive_c_tree, env_entries,
                      env_values, expected_env, expected_shortcut, files_below, link_name, next_id, product_env,
                      programs_folder, read_shortcut, run, run_command_line, short_id, to_windows, toolbar_list_bytes,
                      tree)

NO_CONFIG = "-NO_PRODUCT_CONFIG_START_MENU_SHORTCUT"
OLD_LIST = b"C:\\old\\ONE.TLB\r\nC:\\old\\TWO.TLB\r\nC:\\old\\THREE.TLB\r\nC:\\old\\FOUR.TLB\r\n"


def new_entries_outside(before, after, *allowed):
    """Entries that appeared in drive_c and lie in none of the allowed folders."""
    prefixes = [str(p.relative_to(DRIVE_C)) + "/" for p in allowed]
    return {e for e in after - before if not any(e.startswith(p) or e == p for p in prefixes)}


@pytest.mark.parametrize("admin, revision, cad", [
    (True, "7", True),
    (True, "", False),
    (False, "r5 beta", True),
    (False, "", False),
])
def test_shortcuts_and_environment_land_in_the_callers_scope(make_suite, admin, revision, cad):
    suite = make_suite(revision=revision, cad=cad, toolbars=True)
    scope, other = (MACHINE, USER) if admin else (USER, MACHINE)
    suite.install(admin=admin)

    expected_links = [s for s in ALL_SHORTCUTS if cad or s != CAD_MANAGER]
    expected_tree = {"Utilities/"} | {
        (f"{sub}/" if sub else "") + link_name(name, revision) for sub, name in expected_links}
    assert tree(suite.product_folder(scope)) == expected_tree
    assert not suite.product_folder(other).exists()

    for shortcut in expected_links:
        target, description, icon = expected_shortcut(suite.win_root, shortcut)
        link = read_shortcut(suite.link(scope, shortcut))
        assert (link.local_path, link.description, link.icon_location, link.icon_index) == (
            target, description, icon, 0)
        assert link.working_directory == "%HOMEDRIVE%%HOMEPATH%"
        assert link.arguments == ""
        assert link.show_command == 1

    assert not suite.toolbar_list.exists()
    assert product_env() == {scope: expected_env(suite.win_root), other: {}}
    entries = env_entries(scope)
    assert {n: entries[n][0] for n in expected_env(suite.win_root)} == dict.fromkeys(expected_env(""), "REG_SZ")

    # A second run rewrites the same shortcuts, a stale one included, and nothing else.
    first = {s: read_shortcut(suite.link(scope, s)) for s in expected_links}
    suite.link(scope, UNINSTALL).write_bytes(suite.link(scope, FILE_ASSOCIATION).read_bytes())
    suite.install(admin=admin)
    assert tree(suite.product_folder(scope)) == expected_tree
    assert {s: read_shortcut(suite.link(scope, s)) for s in expected_links} == first
    assert product_env() == {scope: expected_env(suite.win_root), other: {}}


@pytest.mark.parametrize("args, writes_list, config_shortcuts", [
    ([], False, True),
    (["-INSTALL"], True, True),
    (["-install"], True, True),
    (["-Install", "unrelated"], True, True),
    (["/INSTALL"], False, True),
    (["--INSTALL"], False, True),
    (["-INSTALL=1"], False, True),
    (["-INSTALLX"], False, True),
    (["INSTALL"], False, True),
    # Only a to z fold: dotless i and long s upper-case to I and S elsewhere.
    (["-\u0131nstall"], False, True),
    (["-in\u017ftall"], False, True),
    (["\uff0dINSTALL"], False, True),
    ([NO_CONFIG], False, False),
    ([NO_CONFIG.lower()], False, False),
    ([NO_CONFIG + "S"], False, True),
    (["-INSTALL", NO_CONFIG], True, False),
    ([NO_CONFIG, "-INSTALL"], True, False),
])
def test_command_line_switches(make_suite, args, writes_list, config_shortcuts):
    # The CAD utility exists, so its shortcut's absence can only come from the switch.
    suite = make_suite(cad=True, toolbars=True)
    suite.toolbar_list.write_bytes(OLD_LIST)
    suite.install(*args)

    assert suite.toolbar_list.read_bytes() == (toolbar_list_bytes(suite.win_root) if writes_list else OLD_LIST)
    assert not suite.toolbar_list.with_name("tlbrlist182.qel.new").exists()
    present = {s for s in ALL_SHORTCUTS if suite.link(MACHINE, s).exists()}
    expected = {UNINSTALL, FILE_ASSOCIATION} | ({PRODUCT_CONFIG, CAD_MANAGER} if config_shortcuts else set())
    assert present == expected


@pytest.mark.parametrize("command_line, writes_list, config_shortcuts", [
    ('"-INSTALL"', True, True),
    ('-INST"ALL"', True, True),
    (f'"{NO_CONFIG}" "-install"', True, False),
    # One quoted element holding both words is neither switch.
    (f'"-INSTALL {NO_CONFIG}"', False, True),
])
def test_quoted_arguments_are_split_as_windows_does(make_suite, command_line, writes_list, config_shortcuts):
    suite = make_suite(cad=True, toolbars=True)
    ran = run_command_line(suite.root, f'"{suite.program(INSTALLER)}" {command_line}')
    ran.assert_quiet_success()
    assert suite.toolbar_list.exists() == writes_list
    assert suite.link(MACHINE, PRODUCT_CONFIG).exists() == config_shortcuts
    assert suite.link(MACHINE, CAD_MANAGER).exists() == config_shortcuts
    assert suite.link(MACHINE, UNINSTALL).exists()


def test_toolbar_list_without_toolbars_folder_writes_nothing(suite):
    before = tree(suite.root)
    suite.install("-INSTALL")
    assert tree(suite.root) == before
    assert suite.link(MACHINE, UNINSTALL).exists()


def test_toolbar_list_that_cannot_be_replaced_stays(make_suite):
    # A folder in the list's place cannot be replaced by the new list.
    suite = make_suite(toolbars=True)
    suite.toolbar_list.mkdir()
    (suite.toolbar_list / "kept.txt").write_bytes(b"kept")
    before = tree(suite.root)
    suite.install("-INSTALL")
    assert tree(suite.root) == before
    assert env_values(MACHINE).get("ZEP_ROOT182") == suite.win_root


def test_read_only_toolbar_list_stays(make_suite):
    # Wine, unlike Windows, lets a rename replace a read-only file: the program must keep it itself.
    suite = make_suite(toolbars=True)
    suite.toolbar_list.write_bytes(OLD_LIST)
    suite.toolbar_list.chmod(0o444)
    suite.install("-INSTALL")
    assert sorted(p.name for p in suite.toolbar_list.parent.iterdir()) == ["tlbrlist182.qel"]
    assert suite.toolbar_list.read_bytes() == OLD_LIST


LIST_FOLDER = TOOLBAR_LIST.replace("\\", "/").rsplit("/", 1)[0]


# Another user who may write in the tree swaps a level of the list's folder
# for a link to a folder of theirs, holding a file of the list's name (a Unix
# symlink planted from Linux stands in for a junction). The elevated installer
# writes nothing through it and makes nothing anywhere. A link above the root
# is the administrator's own: the list is written through it.
@pytest.mark.parametrize("linked", ["NIMBA", "NIMBA/gui", "NIMBA/gui/en-us", LIST_FOLDER, ""],
                         ids=["NIMBA", "gui", "en-us", "toolbars", "above-the-root"])
def test_toolbar_list_is_written_through_no_link_below_the_root(make_suite, linked):
    outside = DRIVE_C / "st" / f"outside{next_id()}"
    if not linked:
        suite = make_suite(base=outside, toolbars=True)
        root = DRIVE_C / "st" / f"t{next_id()}"
        root.symlink_to(outside, target_is_directory=True)
        run(to_windows(root / suite.program_dir.relative_to(outside) / INSTALLER), "-INSTALL").assert_quiet_success()
        assert suite.toolbar_list.read_bytes() == toolbar_list_bytes(to_windows(root))
        return
    suite = make_suite(toolbars=True)
    theirs = outside / LIST_FOLDER[len(linked):].lstrip("/")
    theirs.mkdir(parents=True)
    (theirs / "tlbrlist182.qel").write_bytes(OLD_LIST)
    shutil.rmtree(suite.root / linked)
    (suite.root / linked).symlink_to(outside, target_is_directory=True)
    before, theirs_before = drive_c_tree(), files_below(outside)
    suite.install("-INSTALL")
    assert files_below(outside) == theirs_before
    assert new_entries_outside(before, drive_c_tree(), programs_folder(MACHINE)) == set()


IN_CREATE = 0x100
_libc = ctypes.CDLL(ctypes.util.find_library("c"), use_errno=True)


@contextlib.contextmanager
def new_files_swapped_for_links(folder, pattern, target):
    """While the block runs, every file made in `folder` whose name matches
    `pattern` is swapped at once for a link to `target`, as another user's
    program watching the folder would do. Yields the names swapped."""
    swapped = []
    descriptor = _libc.inotify_init1(0)
    assert descriptor >= 0, os.strerror(ctypes.get_errno())
    assert _libc.inotify_add_watch(descriptor, os.fsencode(folder), IN_CREATE) >= 0
    # Made ahead, so that a swap is one rename once the file shows.
    spare = Path(folder) / ".swap"

    def watch():
        spare.symlink_to(target)
        while True:
            events = os.read(descriptor, 65536)
            while events:
                _, _, _, length = struct.unpack_from("iIII", events)
                name = events[16:16 + length].rstrip(b"\0").decode()
                events = events[16 + length:]
                if name == "end":
                    return
                if re.fullmatch(pattern, name):
                    os.rename(spare, Path(folder) / name)
                    swapped.append(name)
                    spare.symlink_to(target)

    watcher = threading.Thread(target=watch)
    watcher.start()
    try:
        yield swapped
    finally:
        (Path(folder) / "end").write_bytes(b"")
        watcher.join()
        os.close(descriptor)
        (Path(folder) / "end").unlink()
        spare.unlink(missing_ok=True)


# Swapped before the installer renames it (the old list then stays), the
# pending file's link must lead nowhere: the file it leads to is neither
# written nor moved into the tree. A swap that comes after the rename misses;
# the run is repeated until one came in time.
def test_pending_list_swapped_for_a_link_writes_nothing_outside(make_suite):
    suite = make_suite(toolbars=True)
    theirs = DRIVE_C / "st" / f"theirs{next_id()}.txt"
    theirs.write_bytes(b"another user's file")
    with new_files_swapped_for_links(suite.toolbar_list.parent, r"tlb.*\.tmp", theirs) as swapped:
        for _ in range(20):
            suite.toolbar_list.write_bytes(OLD_LIST)
            suite.install("-INSTALL")
            assert theirs.read_bytes() == b"another user's file"
            if suite.toolbar_list.read_bytes() == OLD_LIST:
                break
    assert swapped, "the pending file was never seen"
    assert suite.toolbar_list.read_bytes() == OLD_LIST, "no swap came before the rename"


def test_program_two_levels_below_drive_root_uses_the_drive_root(dist):
    # C:\<x>\<y>\prog.exe: the climb stops at C:\, whose relinfo.xml the run reads.
    top = DRIVE_C / f"x{next_id()}"
    (top / "y").mkdir(parents=True)
    (top / "y" / INSTALLER).write_bytes((dist / INSTALLER).read_bytes())
    folder_name = f"NIMBA Drive Root {next_id()}"
    relinfo = DRIVE_C / "commonfiles/globalsettings/relinfo.xml"
    assert not relinfo.parent.parent.exists()
    relinfo.parent.mkdir(parents=True)
    relinfo.write_bytes(f'startMenuFolderName="{folder_name}"'.encode())

    ran = run(to_windows(top / "y" / INSTALLER), "-INSTALL")
    ran.assert_quiet_success()

    env = env_values(MACHINE)
    assert env["ZEP_ROOT182"] == "C:\\"
    assert env["NIMBA182_DIR"] == "C:\\" + "\\NIMBA"
    links = programs_folder(MACHINE) / folder_name
    for shortcut in (UNINSTALL, FILE_ASSOCIATION, PRODUCT_CONFIG):
        target, description, icon = expected_shortcut("C:\\", shortcut)
        link = read_shortcut(links / shortcut[0] / link_name(shortcut[1], ""))
        assert link.local_path == target
        assert (link.description, link.icon_location) == (description, icon)
    assert not (DRIVE_C / "NIMBA").exists(), "the toolbar list needs an existing toolbars folder"


ODD_RELEASE_INFO = {
    "binary": bytes(range(256)) * 4 + b'\x00startMenuFolderName="Hidden"',
    "no quotes": b"startMenuFolderName=Plain startMenuShortcutAppendRevision=3\r\n",
    "one quote": b'startMenuFolderName="Unclosed startMenuShortcutAppendRevision=3',
    "invalid utf-8": b'startMenuFolderName="Bad \xff\xfe\xc3 Name" startMenuShortcutAppendRevision="\x80"',
    "1 MB value": b'startMenuFolderName="' + b"A" * (1 << 20) + b'"',
    "empty file": b"",
    "no file": None,
    "no settings folder": None,
    "folder named relinfo.xml": None,
}


@pytest.mark.parametrize("kind", ODD_RELEASE_INFO)
def test_odd_release_information_never_stops_the_run(make_suite, kind):
    suite = make_suite(folder_name=None, relinfo=ODD_RELEASE_INFO[kind])
    suite.relinfo_path.parent.mkdir(parents=True, exist_ok=True)
    if kind == "no settings folder":
        suite.relinfo_path.parent.rmdir()
    elif kind == "folder named relinfo.xml":
        suite.relinfo_path.mkdir()
    before_tree = drive_c_tree()
    before_relinfo = suite.relinfo_path.read_bytes() if suite.relinfo_path.is_file() else None

    suite.install()

    assert env_values(MACHINE).get("ZEP_ROOT182") == suite.win_root, "the run did not reach its end"
    assert new_entries_outside(before_tree, drive_c_tree(), programs_folder(MACHINE)) == set()
    if before_relinfo is None:
        assert not suite.relinfo_path.is_file(), "reading the release information created it"
        assert suite.relinfo_path.parent.exists() == (kind != "no settings folder")
    else:
        assert suite.relinfo_path.read_bytes() == before_relinfo


def test_key_at_the_end_of_a_30_mb_file_is_found(make_suite):
    suite = make_suite(folder_name=None)
    folder_name = f"NIMBA Big {next_id()}"
    padding = b"<!-- padding -->\r\n" * (30 * 1024 * 1024 // 18)
    suite.write_relinfo(raw=padding + f'startMenuFolderName="{folder_name}" '
                        f'startMenuShortcutAppendRevision="9"'.encode())
    suite.install()
    assert (programs_folder(MACHINE) / folder_name / link_name(UNINSTALL[1], "9")).is_file()


@pytest.mark.parametrize("relinfo, folder_name, revision", [
    ('<r startMenuShortcutAppendRevision="4" other="x" startMenuFolderName="{f}"/>', "{f}", "4"),
    ('startMenuFolderName\r\n   =   "{f}" startMenuShortcutAppendRevision = \'no\' "5"', "{f}", "5"),
    # Both keys' first occurrences share the quotes that follow them.
    ('<!-- startMenuFolderName, startMenuShortcutAppendRevision -->"{f}" "6"', "{f}", "{f}"),
    ('startMenuFolderName="{f}" startMenuFolderName="Second" startMenuShortcutAppendRevision="7"', "{f}", "7"),
    # Bytes, not XML: entities stay as written.
    ('startMenuFolderName="R&amp;D {f}" startMenuShortcutAppendRevision="&lt;1&gt;"', "R&amp;D {f}", "&lt;1&gt;"),
])
def test_value_is_the_text_between_the_first_two_quotes_after_the_key(make_suite, relinfo, folder_name, revision):
    unique = f"NIMBA Key {next_id()}"
    suite = make_suite(folder_name=None, relinfo=relinfo.format(f=unique).encode())
    suite.install()
    link = link_name(UNINSTALL[1], revision.format(f=unique))
    assert (programs_folder(MACHINE) / folder_name.format(f=unique) / link).is_file()


@pytest.mark.parametrize("folder_name, revision", [
    ("Suite ÄÖÜ € {id}", "ß2"),
    ("Vendor {id}\\Suite", ""),
])
def test_unicode_and_nested_folder_names(make_suite, folder_name, revision):
    suite = make_suite(folder_name=folder_name.format(id=next_id()), revision=revision)
    suite.install()
    assert {s for s in ALL_SHORTCUTS if suite.link(MACHINE, s).is_file()} == {
        UNINSTALL, PRODUCT_CONFIG, FILE_ASSOCIATION}
    link = read_shortcut(suite.link(MACHINE, UNINSTALL))
    assert link.local_path == expected_shortcut(suite.win_root, UNINSTALL)[0]


# The longest value relinfo.xml may hold, in bytes.
LONGEST_VALUE = 32767


# Refused: names that could reach outside the Programs folder, names the shell
# could not parse back (device names, a trailing dot or blank) and paths that
# would not fit MAX_PATH.
@pytest.mark.parametrize("folder_name, revision", [
    ("..\\..\\Escape {id}", ""),
    ("Suite\\..\\..\\..\\..\\..\\..\\..\\Escape {id}", ""),
    ("C:\\Escape {id}", ""),
    ("Esc:ape {id}", ""),
    ("Suite {id}\\.. ", ""),
    ("Suite {id}", "\\..\\Escape"),
    ("Suite {id}", "a/../../b"),
    ("Suite {id}", "x:y"),
    ("Suite {id}\\con.txt", ""),
    ("Suite {id}.", ""),
    ("Suite {id} ", ""),
    ("Suite {id}", "LPT1"),
    ("Suite {id}", "R "),
    ("Long {id}\\" + "x" * 140 + "\\" + "y" * 150, ""),
    ("Deep {id}\\" + "\\".join(["a"] * 2000), ""),
    ("Deepest {id}" + "\\a" * LONGEST_VALUE, ""),
    # Windows starts what the Startup folder holds at every logon.
    ("Startup", ""),
    ("startup\\Suite {id}", ""),
], ids=short_id)
def test_refused_names_create_nothing(make_suite, folder_name, revision):
    folder_name = folder_name.format(id=next_id())[:LONGEST_VALUE]
    suite = make_suite(folder_name=folder_name, revision=revision, cad=True)
    before = drive_c_tree()
    suite.install()
    assert drive_c_tree() == before
    assert env_values(MACHINE).get("ZEP_ROOT182") == suite.win_root, "the rest of the run was skipped"


# The toolbar list is written in the system's ANSI code page (C.UTF-8 gives
# code page 1252 under Wine, ja_JP.UTF-8 code page 932); a root with a
# character the code page has no form for keeps the old list whole.
@pytest.mark.parametrize("locale, root_name, code_page", [
    ("C.UTF-8", "Wurzel 根 Ä", None),
    ("C.UTF-8", "Wurzel € Ä", "cp1252"),
    ("ja_JP.UTF-8", "ルート 根", "cp932"),
])
def test_installation_root_outside_the_ascii_range(make_suite, locale, root_name, code_page):
    suite = make_suite(base=DRIVE_C / "st" / f"t{next_id()}" / root_name, revision="1", toolbars=True)
    suite.toolbar_list.write_bytes(OLD_LIST)
    suite.install("-INSTALL", locale=locale)
    assert product_env()[MACHINE] == expected_env(suite.win_root)
    for shortcut in (UNINSTALL, PRODUCT_CONFIG, FILE_ASSOCIATION):
        # The target's local path is stored in the ANSI code page: compare the icon, which is Unicode.
        assert read_shortcut(suite.link(MACHINE, shortcut)).icon_location == expected_shortcut(
            suite.win_root, shortcut)[2]
    assert sorted(p.name for p in suite.toolbar_list.parent.iterdir()) == ["tlbrlist182.qel"]
    expected = OLD_LIST if code_page is None else toolbar_list_bytes(suite.win_root, code_page)
    assert suite.toolbar_list.read_bytes() == expected


def test_installation_root_longer_than_520_characters(make_suite, dist):
    if dist == DIST_X86:
        pytest.skip("Wine's 32-bit side starts no program from a path of MAX_PATH (260) units or more")
    levels = [f"{i}" + "L" * 99 for i in range(5)]
    base = DRIVE_C / "st" / f"long{next_id()}"
    suite = make_suite(base=base.joinpath(*levels), toolbars=True)
    assert len(suite.program(INSTALLER)) > 520
    suite.install("-INSTALL")
    env = env_values(MACHINE)
    assert env.get("ZEP_ROOT182") == suite.win_root
    assert env.get("NIMBA182_DIR") == suite.win_root + "\\NIMBA"
    assert suite.toolbar_list.read_bytes() == toolbar_list_bytes(suite.win_root)
    # The folder name comes from the long tree's own relinfo.xml, for both programs.
    assert suite.link(MACHINE, UNINSTALL).is_file()
    suite.remove()
    assert not suite.product_folder(MACHINE).exists()


@pytest.mark.parametrize("program", [INSTALLER, REMOVER])
def test_dll_planted_beside_the_program_is_not_loaded(make_suite, dist, program):
    # Both load uxtheme at run time, not through their imports. With native
    # DLLs first, as Windows has it for uxtheme, a copy beside the program
    # would be taken unless the DLL search is restricted to the system folder.
    suite = make_suite()
    if program == REMOVER:
        # With shortcuts to remove, so that the remover goes through the shell.
        suite.install()
    shutil.copy(PLANTED_DLLS[dist], suite.program_dir / "uxtheme.dll")
    run(suite.program(program), dll_overrides="uxtheme=n,b").assert_quiet_success()
    assert not (suite.program_dir / "uxtheme.dll.loaded").exists()

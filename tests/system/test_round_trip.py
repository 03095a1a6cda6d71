"""shortcut_installer.exe followed by shortcut_remover.exe, as setup runs them on
installation and on removal, in every mix of privileges."""

import os
import shutil
import stat

import pytest

from conftest import (ALL_SHORTCUTS, FILE_ASSOCIATION, MACHINE, PRODUCT_CONFIG, UNINSTALL, USER, apply_env,
                      drive_c_tree, link_name, next_id, product_env, programs_folder, scope_of, short_id,
                      to_windows, tree)

NO_CONFIG = "-NO_PRODUCT_CONFIG_START_MENU_SHORTCUT"
# Variables the remover deletes; NIMBA_SYSDIR is shared with other releases and stays.
REMOVED = ("ZEP_ROOT182", "NIMBA182_DIR", "ZEP_LOCALE182")


def snapshot():
    return tree(programs_folder(MACHINE)), tree(programs_folder(USER)), product_env()


def expected_env_after_removal(before, admin):
    scopes = (MACHINE, USER) if admin else (USER,)
    return {scope: {n: v for n, v in values.items() if not (scope in scopes and n in REMOVED)}
            for scope, values in before.items()}


def preset_locale():
    apply_env({(MACHINE, "ZEP_LOCALE182"): "de-DE", (USER, "ZEP_LOCALE182"): "fr-FR"})


@pytest.mark.parametrize("install_admin, remove_admin", [
    (True, True), (False, False), (True, False), (False, True),
], ids=["admin-admin", "user-user", "admin-user", "user-admin"])
def test_remover_clears_its_own_scope_only(make_suite, install_admin, remove_admin):
    suite = make_suite(folder_name=f"NIMBA Sys Ä & Co {next_id()}", revision="3", cad=True, toolbars=True)
    preset_locale()
    suite.install("-INSTALL", admin=install_admin)
    installed_scope, removing_scope = scope_of(install_admin), scope_of(remove_admin)
    assert suite.link(installed_scope, UNINSTALL).is_file()

    # The other Programs folder holds the same product, which must survive.
    untouched_scope = USER if remove_admin else MACHINE
    if not suite.product_folder(untouched_scope).exists():
        shutil.copytree(suite.product_folder(installed_scope), suite.product_folder(untouched_scope))
    untouched = tree(suite.product_folder(untouched_scope))
    assert untouched
    env_before = product_env()
    toolbar_list = suite.toolbar_list.read_bytes()

    suite.remove(admin=remove_admin)

    assert not suite.product_folder(removing_scope).exists()
    assert programs_folder(removing_scope).is_dir()
    assert tree(suite.product_folder(untouched_scope)) == untouched
    assert product_env() == expected_env_after_removal(env_before, remove_admin)
    assert product_env()[installed_scope]["NIMBA_SYSDIR"] == "winx64"
    assert suite.toolbar_list.read_bytes() == toolbar_list

    settled = snapshot()
    suite.remove(admin=remove_admin)
    assert snapshot() == settled


@pytest.mark.parametrize("install_args, remove_args", [
    ([NO_CONFIG], []),
    (["-INSTALL"], ["-INSTALL"]),
    ([], [NO_CONFIG, "/?", "--anything"]),
])
def test_remover_takes_no_options_and_ends_clean(make_suite, install_args, remove_args):
    suite = make_suite(revision="11", cad=True, toolbars=True)
    suite.install(*install_args)
    assert suite.product_folder(MACHINE).is_dir()
    # Left empty by the companion's and the documentation's own removal: they go too.
    for emptied in ("Client Tools", "Help"):
        (suite.product_folder(MACHINE) / emptied).mkdir()
    suite.remove(*remove_args)
    assert not suite.product_folder(MACHINE).exists()
    assert product_env() == {MACHINE: {"NIMBA_SYSDIR": "winx64"}, USER: {}}
    assert suite.toolbar_list.exists() == ("-INSTALL" in install_args)


@pytest.mark.parametrize("keeper, admin", [("Help", True), ("Utilities", False)])
def test_folder_keeping_a_foreign_file_keeps_itself_and_the_product_folder(make_suite, keeper, admin):
    suite = make_suite(revision="2")
    suite.install(admin=admin)
    scope = scope_of(admin)
    (suite.product_folder(scope) / keeper).mkdir(exist_ok=True)
    shutil.copy(suite.link(scope, UNINSTALL), suite.product_folder(scope) / keeper / "Reference Manual.lnk")

    suite.remove(admin=admin)

    assert tree(suite.product_folder(scope)) == {f"{keeper}/", f"{keeper}/Reference Manual.lnk"}


@pytest.mark.parametrize("extra_file", [False, True], ids=["only-its-shortcuts", "with-a-foreign-file"])
def test_client_tools_companion_folder_goes_with_the_product(make_suite, extra_file):
    suite = make_suite(revision="5 SP1")
    suite.install()
    client_tools = suite.product_folder(MACHINE) / "Client Tools"
    client_tools.mkdir()
    for name in ("Client Tools Configuration", "Client Tools Documentation"):
        shutil.copy(suite.link(MACHINE, UNINSTALL), client_tools / link_name(name, "5 SP1"))
    # An unsuffixed one belongs to another release of the companion.
    shutil.copy(suite.link(MACHINE, UNINSTALL), client_tools / link_name("Client Tools Configuration", ""))
    if extra_file:
        (client_tools / "Notes.txt").write_bytes(b"notes")

    suite.remove()

    if extra_file:
        assert tree(suite.product_folder(MACHINE)) == {
            "Client Tools/", "Client Tools/Notes.txt", "Client Tools/Client Tools Configuration.lnk"}
    else:
        assert tree(suite.product_folder(MACHINE)) == {
            "Client Tools/", "Client Tools/Client Tools Configuration.lnk"}


@pytest.mark.parametrize("levels, foreign, left", [
    (("Suite",), None, set()),
    (("Line", "Suite"), None, set()),
    (("Suite",), "Other Product.lnk", {"Other Product.lnk"}),
    (("Line", "Suite"), "Other Line/Tool.lnk", {"Other Line/", "Other Line/Tool.lnk"}),
], ids=["two-levels", "three-levels", "vendor-holds-a-shortcut", "vendor-holds-a-product"])
def test_nested_folder_name_round_trip(make_suite, levels, foreign, left):
    # Vendor\...\Suite: each level the installer made goes once emptied; a level
    # holding another product's files stays, and so does everything above it.
    vendor = f"Vendor {next_id()}"
    suite = make_suite(folder_name="\\".join((vendor, *levels)), revision="")
    suite.install()
    assert suite.link(MACHINE, FILE_ASSOCIATION).is_file()
    vendor_folder = programs_folder(MACHINE) / vendor
    if foreign:
        (vendor_folder / foreign).parent.mkdir(parents=True, exist_ok=True)
        shutil.copy(suite.link(MACHINE, UNINSTALL), vendor_folder / foreign)
    programs_before = set(programs_folder(MACHINE).iterdir())
    suite.remove()
    assert tree(vendor_folder) == left
    assert vendor_folder.exists() == bool(left)
    assert set(programs_folder(MACHINE).iterdir()) == programs_before - ({vendor_folder} if not left else set())
    assert product_env()[MACHINE] == {"NIMBA_SYSDIR": "winx64"}


@pytest.fixture
def bare_programs_folder():
    """The all-users Programs folder with the prefix's own entries set aside, so
    that an attempt to remove the Programs folder itself would succeed and show."""
    programs = programs_folder(MACHINE)
    aside = programs.parent / f"aside {next_id()}"
    aside.mkdir()
    own_entries = list(programs.iterdir())
    for entry in own_entries:
        entry.rename(aside / entry.name)
    yield programs
    programs.mkdir(parents=True, exist_ok=True)
    for entry in own_entries:
        if (aside / entry.name).exists() and not entry.exists():
            (aside / entry.name).rename(entry)
    shutil.rmtree(aside, ignore_errors=True)


def install_without_folder_name(make_suite, programs):
    suite = make_suite(folder_name=None)
    suite.write_relinfo(raw=b'<releaseInfo startMenuShortcutAppendRevision=""/>')
    (programs / "Help").mkdir()
    # Without a folder name the installer writes straight into Programs.
    suite.install()
    assert (programs / link_name(UNINSTALL[1], "")).is_file()
    assert (programs / FILE_ASSOCIATION[0] / link_name(FILE_ASSOCIATION[1], "")).is_file()
    return suite


@pytest.mark.parametrize("with_sibling", [False, True], ids=["bare", "with-sibling-product"])
def test_absent_folder_name_keeps_the_programs_folder_and_other_products(
        make_suite, bare_programs_folder, with_sibling):
    programs = bare_programs_folder
    sibling = set()
    if with_sibling:
        name = f"Other Product {next_id()}"
        (programs / name / "Utilities").mkdir(parents=True)
        (programs / name / "Utilities" / "Tool.lnk").write_bytes(b"L")
        sibling = {f"{name}/", f"{name}/Utilities/", f"{name}/Utilities/Tool.lnk"}
    suite = install_without_folder_name(make_suite, programs)

    suite.remove()

    # The shortcuts go; with no product folder, no folder is removed: a Help
    # or Utilities directly in Programs may belong to anyone.
    assert tree(programs) == sibling | {"Help/", "Utilities/"}


LONG_NAME = "Long {id}\\" + "x" * 140 + "\\" + "y" * 150


# Refused: names that could reach outside the Programs folder, names the shell
# could not parse back (device names, a trailing dot or blank) and paths that
# would not fit MAX_PATH. Each victim is what a removal of the composed path
# would take away.
@pytest.mark.parametrize("folder_name, revision, victims", [
    ("..\\Victim {id}", "", ["../Victim {id}/Uninstall NIMBA.lnk", "../Victim {id}/Utilities/File Association.lnk",
                            "../Victim {id}/Help/"]),
    ("..\\..\\..\\..\\Victim {id}", "", ["../../../../Victim {id}/Uninstall NIMBA.lnk"]),
    ("C:\\Victim {id}", "", ["../../../../../Victim {id}/Uninstall NIMBA.lnk"]),
    ("Suite {id}", "\\..\\Victim", ["Suite {id}/Victim.lnk", "Suite {id}/Utilities/Victim.lnk"]),
    ("Suite {id}\\con.txt", "", ["Suite {id}/con.txt/Uninstall NIMBA.lnk", "Suite {id}/con.txt/Help/"]),
    # The platform drops the dot: the folder it would address is another one's.
    ("Suite {id}.", "", ["Suite {id}/Uninstall NIMBA.lnk", "Suite {id}/Utilities/"]),
    ("Suite {id}", "LPT1", ["Suite {id}/Uninstall NIMBA LPT1.lnk"]),
    (LONG_NAME, "", [LONG_NAME.replace("\\", "/") + "/Uninstall NIMBA.lnk",
                     LONG_NAME.replace("\\", "/") + "/Utilities/File Association.lnk"]),
    ("Deep {id}\\" + "\\".join(["a"] * 2000), "", []),
    # The all-users Startup folder, whatever case the name is given in: its
    # shortcuts are not the suite's, and emptied it must still stay.
    ("Startup", "", ["{startup}/Uninstall NIMBA.lnk", "{startup}/Utilities/File Association.lnk"]),
    ("STARTUP\\Suite {id}", "", ["{startup}/Suite {id}/Uninstall NIMBA.lnk"]),
], ids=short_id)
def test_refused_names_remove_nothing(make_suite, folder_name, revision, victims):
    run_id = next_id()
    suite = make_suite(folder_name=folder_name.format(id=run_id), revision=revision)
    programs = programs_folder(MACHINE)
    startup, = (p.name for p in programs.iterdir() if p.name.lower() == "startup")
    for victim in victims:
        path = (programs / victim.format(id=run_id, startup=startup)).resolve()
        if victim.endswith("/"):
            path.mkdir(parents=True)
        else:
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(b"L")
    apply_env({(MACHINE, "ZEP_ROOT182"): suite.win_root})
    before = drive_c_tree()

    suite.remove()

    assert drive_c_tree() == before
    assert "ZEP_ROOT182" not in product_env()[MACHINE], "the rest of the run was skipped"


def test_folder_name_with_trailing_separator_round_trip(make_suite):
    suite = make_suite(folder_name=f"Trailing {next_id()}\\", revision="")
    suite.install()
    assert suite.link(MACHINE, UNINSTALL).is_file()
    suite.remove()
    assert not suite.product_folder(MACHINE).exists()


@pytest.mark.parametrize("over", [0, 1], ids=["longest-path-fits", "longest-path-one-over"])
def test_folder_name_at_the_path_limit_round_trip(make_suite, over):
    # The longest shortcut path is <Programs>\F\Utilities\\Product & CAD Configuration.lnk:
    # MAX_PATH - 1 code units long, or MAX_PATH, which the shell no longer parses.
    programs = to_windows(programs_folder(MACHINE))
    longest = "\\Utilities\\\\" + PRODUCT_CONFIG[1] + ".lnk"
    stem = f"Limit {next_id()} "
    padding = "x" * (259 + over - len(programs) - 1 - len(longest) - len(stem))
    suite = make_suite(folder_name=stem + padding, cad=True)

    suite.install()
    made = {s for s in ALL_SHORTCUTS if suite.link(MACHINE, s).is_file()}
    assert made == set(ALL_SHORTCUTS) - ({PRODUCT_CONFIG} if over else set())
    suite.remove()
    assert not suite.product_folder(MACHINE).exists()


def deep_path(levels):
    return "/".join(["a"] * levels)


@pytest.fixture
def deep_folder():
    """deep_folder(top, levels) makes top/a/a/.../a, level by level relative to
    top (the whole path is longer than Linux takes at once); it goes afterwards."""
    made = []

    def make(top, levels):
        top.mkdir()
        made.append((os.open(top, os.O_RDONLY), levels))
        for level in range(1, levels + 1):
            os.mkdir(deep_path(level), dir_fd=made[-1][0])

    yield make
    for top_fd, levels in made:
        for level in range(levels, 0, -1):
            try:
                os.rmdir(deep_path(level), dir_fd=top_fd)
            except FileNotFoundError:
                pass
        os.close(top_fd)


def test_folder_too_deep_for_the_shell_is_left_alone(make_suite, deep_folder):
    # 1,400 levels: within what the file system takes, far past what the shell parses.
    levels = 1400
    top = f"Deep {next_id()}"
    suite = make_suite(folder_name=top + "\\" + "\\".join(["a"] * levels))
    deep_folder(programs_folder(MACHINE) / top, levels)
    apply_env({(MACHINE, "ZEP_ROOT182"): suite.win_root})

    suite.remove()

    top_fd = os.open(programs_folder(MACHINE) / top, os.O_RDONLY)
    try:
        deepest_kept = stat.S_ISDIR(os.stat(deep_path(levels), dir_fd=top_fd).st_mode)
    except FileNotFoundError:
        deepest_kept = False
    finally:
        os.close(top_fd)
    assert deepest_kept
    assert "ZEP_ROOT182" not in product_env()[MACHINE], "the rest of the run was skipped"

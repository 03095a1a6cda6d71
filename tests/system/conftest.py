"""Harness for the black-box runs of shortcut_installer.exe and shortcut_remover.exe.

The programs run under the prefix named by WINEPREFIX (scripts/wine_env.sh,
scripts/wine_prefix.sh fresh). Everything is judged from outside Wine: files
in drive_c, the shortcut files' own bytes, `reg export`/`reg query` for the
environment keys.
Each test gets its own installation tree under C:\\st\\ and its own Start Menu
folder name; the clean-state fixture puts the shared prefix back afterwards.
"""

import dataclasses
import functools
import os
import re
import secrets
import shutil
import struct
import subprocess
import tempfile
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
DIST_X64 = REPO / "dist" / "x64"
DIST_X86 = REPO / "dist" / "x86"
# The programs of each build: x86 ships, x64 is the same sources for 64-bit.
DIST = {"x86": DIST_X86, "x64": DIST_X64}
TOOLS = REPO / "build" / "x64" / "tests" / "tools"
# The DLL that marks its own loading, built for each architecture.
PLANTED_DLLS = {dist: REPO / "build" / arch / "tests" / "tools" / "nimba_planted.dll" for arch, dist in DIST.items()}
INSTALLER = "shortcut_installer.exe"
REMOVER = "shortcut_remover.exe"

WINE = os.environ.get("WINE", "/usr/lib/wine/wine64")
PREFIX = Path(os.environ["WINEPREFIX"]) if os.environ.get("WINEPREFIX") else None
DRIVE_C = PREFIX / "drive_c" if PREFIX else None

MACHINE, USER = "machine", "user"
ENV_KEYS = {
    MACHINE: r"HKLM\System\CurrentControlSet\Control\Session Manager\Environment",
    USER: r"HKCU\Environment",
}
REG_FILE_KEYS = {
    MACHINE: r"HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Session Manager\Environment",
    USER: r"HKEY_CURRENT_USER\Environment",
}
PRODUCT_VARIABLES = ("NIMBA_SYSDIR", "ZEP_ROOT182", "NIMBA182_DIR", "ZEP_LOCALE182")

# Shortcut names and where they sit below Programs\F.
UNINSTALL = ("", "Uninstall NIMBA")
PRODUCT_CONFIG = ("Utilities", "Product & CAD Configuration")
CAD_MANAGER = ("Utilities", "CAD Configuration Manager")
FILE_ASSOCIATION = ("Utilities", "File Association")
ALL_SHORTCUTS = (UNINSTALL, PRODUCT_CONFIG, CAD_MANAGER, FILE_ASSOCIATION)
CAD_PROGRAM = r"commonfiles\CAD\bin\winx64\Qel.CadInt.CADConfigUtilityGUI.exe"
TOOLBAR_LIST = r"NIMBA\gui\en-us\toolbars\tlbrlist182.qel"
TOOLBAR_FILES = ("NIMBASTANDARD.TLB", "NIMBAABBR.TLB", "NIMBAGRAPHICAL.TLB")

SESSION_TOKEN = secrets.token_hex(2)
_counter = [0]


def next_id():
    _counter[0] += 1
    return f"{SESSION_TOKEN}-{_counter[0]}"


# ---------------------------------------------------------------- paths

def to_linux(windows_path):
    """C:\\a\\b -> <prefix>/drive_c/a/b; Z:\\a -> /a."""
    drive, _, rest = windows_path.partition(":")
    parts = [p for p in rest.split("\\") if p]
    if drive.upper() == "C":
        return DRIVE_C.joinpath(*parts)
    if drive.upper() == "Z":
        return Path("/").joinpath(*parts)
    raise ValueError(f"no mapping for {windows_path!r}")


def to_windows(path):
    path = Path(path).absolute()
    try:
        return "C:\\" + "\\".join(path.relative_to(DRIVE_C).parts)
    except ValueError:
        return "Z:\\" + "\\".join(path.parts[1:])


def prefix_user_name():
    """The Windows user of the prefix: the one profile folder besides Public."""
    names = [p.name for p in (DRIVE_C / "users").iterdir() if p.is_dir() and p.name != "Public"]
    if len(names) == 1:
        return names[0]
    for candidate in (os.environ.get("USER"), os.environ.get("LOGNAME"), "root"):
        if candidate in names:
            return candidate
    raise RuntimeError(f"cannot tell the prefix's user among {names}")


@functools.cache
def temp_folder():
    """The prefix user's Temp folder as programs see it (%TEMP%); Wine versions place it differently."""
    return to_linux(wine_tool("cmd", "/c", "echo %TEMP%").stdout.decode().strip())


def programs_folder(scope):
    """The all-users (machine) or the current user's Start Menu Programs folder."""
    if scope == MACHINE:
        return DRIVE_C / "ProgramData/Microsoft/Windows/Start Menu/Programs"
    return DRIVE_C / "users" / prefix_user_name() / "AppData/Roaming/Microsoft/Windows/Start Menu/Programs"


def scope_of(admin):
    return MACHINE if admin else USER


def link_name(name, suffix):
    return f"{name} {suffix}.lnk" if suffix else f"{name}.lnk"


def tree(path):
    """Relative paths below `path` (folders end in '/'), for before/after comparison."""
    path = Path(path)
    found = set()
    if not path.exists():
        return found
    for folder, dirs, files in os.walk(path):
        rel = Path(folder).relative_to(path)
        found.update(f"{rel / d}/" for d in dirs)
        found.update(str(rel / f) for f in files)
    return found


def files_below(folder):
    """Every file below a folder (links not followed) with its bytes, for before/after comparison."""
    folder = Path(folder)
    return {path: (folder / path).read_bytes() for path in tree(folder)
            if not path.endswith("/") and not (folder / path).is_symlink()}


def drive_c_tree():
    """Everything in drive_c except the Windows folder, which Wine itself keeps changing."""
    return {p for p in tree(DRIVE_C) if not p.startswith("windows/")}


# ---------------------------------------------------------------- processes

@dataclasses.dataclass
class Ran:
    code: int
    stdout: bytes
    stderr: bytes

    def assert_quiet_success(self):
        assert (self.code, self.stdout, self.stderr) == (0, b"", b"")


# Wine turns the Linux arguments into UTF-16 by the locale's character set.
WINE_ENVIRONMENT = dict(os.environ)
if not any("UTF-8" in os.environ.get(v, "").upper() for v in ("LC_ALL", "LC_CTYPE", "LANG")):
    WINE_ENVIRONMENT["LC_ALL"] = "C.UTF-8"


# Wine's launcher (start.exe) now and then fails to start a program at all
# (about once in a thousand starts here); the program never ran, so it is retried.
LAUNCH_FAILURE = b"ShellExecuteEx failed"


def linux_locale(name):
    """The environment for a UTF-8 Linux locale such as ja_JP.UTF-8, compiled once
    beside the prefix when the machine lacks it: without it Wine reads the
    program's path and arguments in ASCII."""
    language = name.split(".")[0]
    if language == "C":
        return {"LC_ALL": name}
    folder = PREFIX.parent / "locales"
    if not (folder / name).is_dir():
        folder.mkdir(exist_ok=True)
        subprocess.run(["localedef", "-i", language, "-f", "UTF-8", str(folder / name)],
                       stdin=subprocess.DEVNULL, capture_output=True, check=False)
    assert (folder / name).is_dir(), f"localedef could not compile {name} (package locales)"
    return {"LC_ALL": name, "LOCPATH": str(folder)}


def wine(*args, timeout=120, locale=None, dll_overrides=None):
    """Runs `wine64 args...` and waits for that process only. Output goes to files,
    not pipes: the desktop process Wine starts for a GUI program inherits the
    handles and would hold a pipe open for about a second after the exit.
    A locale (such as ja_JP.UTF-8) sets the program's Windows locale and ANSI
    code page."""
    environment = WINE_ENVIRONMENT if locale is None else dict(WINE_ENVIRONMENT, **linux_locale(locale))
    if dll_overrides is not None:
        # Load order as Windows has it for these DLLs: a file found first wins.
        environment = dict(environment, WINEDLLOVERRIDES=f"{environment['WINEDLLOVERRIDES']};{dll_overrides}")
    for _ in range(3):
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            done = subprocess.run([WINE, *args], stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                  timeout=timeout, env=environment)
            out.seek(0)
            err.seek(0)
            done = subprocess.CompletedProcess(done.args, done.returncode, out.read(), err.read())
        if LAUNCH_FAILURE not in done.stdout + done.stderr:
            break
    return done


def wine_tool(*args):
    """Runs one of Wine's own tools for the harness (idempotent: export, import).
    Under load one start in several hundred ends with status 1 and no output;
    a second attempt then succeeds."""
    for _ in range(3):
        done = wine(*args)
        if done.returncode == 0:
            return done
    raise AssertionError(f"wine {' '.join(args)} failed: {done}")


def run(program, *args, admin=True, locale=None, dll_overrides=None):
    """Starts a program by its Windows path and waits for it; a non-administrator
    run goes through run_restricted.exe (Administrators deny-only), which hands
    back the program's exit status. Returns Ran(code, stdout, stderr)."""
    prefix = [] if admin else [str(TOOLS / "run_restricted.exe")]
    for _ in range(3):
        done = wine(*prefix, program, *args, locale=locale, dll_overrides=dll_overrides)
        # Now and then (seen once in a full run) Wine ends a start with status 1
        # and no output, as it does for its own tools (wine_tool). The suite's
        # two programs never exit with 1, and a run of theirs may be repeated.
        lost = (done.returncode, done.stdout, done.stderr) == (1, b"", b"")
        if not (lost and program.endswith((INSTALLER, REMOVER))):
            break
    return Ran(done.returncode, done.stdout, done.stderr)


def run_command_line(folder, command_line, admin=True):
    """Runs a command line exactly as typed (quotes included) from a batch file,
    since Wine re-quotes every argument it is handed from Linux."""
    batch = Path(folder) / f"run-{next_id()}.bat"
    batch.write_bytes(f"@echo off\r\n{command_line}\r\nexit /b %errorlevel%\r\n".encode())
    try:
        return run("cmd.exe", "/c", to_windows(batch), admin=admin)
    finally:
        batch.unlink()


# ---------------------------------------------------------------- shortcuts

@dataclasses.dataclass
class Shortcut:
    local_path: str
    description: str
    working_directory: str
    arguments: str
    icon_location: str
    icon_index: int
    show_command: int


# Shell link file layout (the documented .lnk format): the header's flags say
# which parts follow it, in this order.
HAS_ID_LIST, HAS_LINK_INFO, IS_UNICODE = 0x01, 0x02, 0x80
STRING_FIELDS = (  # flag of each optional string, in file order
    (0x04, "description"), (0x08, "relative_path"), (0x10, "working_directory"),
    (0x20, "arguments"), (0x40, "icon_location"))


def read_shortcut(path):
    """The fields of a saved shortcut, read from the file itself: no reader's
    rendering (quoting, escaping, code page) comes between the bytes and the test."""
    data = Path(path).read_bytes()
    flags, = struct.unpack_from("<I", data, 0x14)
    icon_index, show_command = struct.unpack_from("<iI", data, 0x38)
    at = 0x4C
    if flags & HAS_ID_LIST:
        at += 2 + struct.unpack_from("<H", data, at)[0]
    local_path = None
    if flags & HAS_LINK_INFO:
        size, header_size, info_flags, _, base, _, suffix = struct.unpack_from("<7I", data, at)
        if info_flags & 1:  # VolumeIDAndLocalBasePath
            if header_size >= 0x24:
                base, suffix = struct.unpack_from("<2I", data, at + 0x1C)
                local_path = _utf16z(data, at + base) + _utf16z(data, at + suffix)
            else:
                # Stored in the ANSI code page; read as Windows-1252, the prefix's own.
                local_path = (data[at + base:data.index(b"\0", at + base)]
                              + data[at + suffix:data.index(b"\0", at + suffix)]).decode("cp1252", "replace")
        at += size
    strings = {}
    for flag, name in STRING_FIELDS:
        if flags & flag:
            count, = struct.unpack_from("<H", data, at)
            width = 2 if flags & IS_UNICODE else 1
            raw = data[at + 2:at + 2 + count * width]
            # Wine counts the terminating null too: the text ends at the first.
            strings[name] = raw.decode("utf-16-le" if width == 2 else "cp1252", "replace").split("\0")[0]
            at += 2 + count * width
    return Shortcut(local_path=local_path, description=strings.get("description"),
                    working_directory=strings.get("working_directory"), arguments=strings.get("arguments"),
                    icon_location=strings.get("icon_location"), icon_index=icon_index, show_command=show_command)


def _utf16z(data, at):
    end = at
    while data[end:end + 2] != b"\0\0":
        end += 2
    return data[at:end].decode("utf-16-le")


# ---------------------------------------------------------------- registry

_REG_LINE = re.compile(r"^    (.+?)    (REG_[A-Z_]+)(?:    (.*))?$")
_EXPORTED_VALUE = re.compile(r'^"((?:[^"\\]|\\.)*)"=(.*)$')


def _unescape(text):
    return re.sub(r"\\(.)", r"\1", text)


def env_entries(scope):
    """All values of the scope's environment key, name -> (type, data), read exactly
    (Unicode included) from one `reg export`."""
    with tempfile.TemporaryDirectory() as folder:
        exported = Path(folder) / "env.reg"
        done = wine_tool("reg", "export", ENV_KEYS[scope], to_windows(exported), "/y")
        text = exported.read_bytes().decode("utf-16")
    entries = {}
    for line in text.replace("\\\r\n", "").splitlines():
        match = _EXPORTED_VALUE.match(line.strip())
        if not match:
            continue
        name, data = _unescape(match.group(1)), match.group(2)
        if data.startswith('"'):
            entries[name] = ("REG_SZ", _unescape(data[1:-1]))
        elif data.startswith("hex(2):"):
            raw = bytes(int(b, 16) for b in data[7:].replace(" ", "").split(",") if b)
            entries[name] = ("REG_EXPAND_SZ", raw.decode("utf-16-le").rstrip("\0"))
        elif data.startswith("dword:"):
            entries[name] = ("REG_DWORD", int(data[6:], 16))
        else:
            entries[name] = ("other", data)
    return entries


def env_values(scope):
    """All values of the scope's environment key, name -> data."""
    return {name: data for name, (_, data) in env_entries(scope).items()}


def env_value(scope, name):
    """One value by `reg query /v` (its text passes the console code page: use it for
    ASCII data), None when absent."""
    done = wine("reg", "query", ENV_KEYS[scope], "/v", name)
    if done.returncode != 0:
        return None
    for line in done.stdout.decode("cp437", "replace").splitlines():
        match = _REG_LINE.match(line.rstrip("\r"))
        if match and match.group(1).lower() == name.lower():
            return match.group(3) or ""
    return None


def product_env():
    """The product's variables in both scopes: {scope: {name: value}} (absent names left out)."""
    result = {}
    for scope in (MACHINE, USER):
        values = env_values(scope)
        result[scope] = {n: values[n] for n in PRODUCT_VARIABLES if n in values}
    return result


def _reg_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def apply_env(changes):
    """Sets or deletes environment values with one `regedit /s`:
    {(scope, name): value or None to delete}."""
    lines = ["Windows Registry Editor Version 5.00", ""]
    for scope in (MACHINE, USER):
        entries = [(n, v) for (s, n), v in changes.items() if s == scope]
        if entries:
            lines.append(f"[{REG_FILE_KEYS[scope]}]")
            lines += [f"{_reg_string(n)}={'-' if v is None else _reg_string(v)}" for n, v in entries]
            lines.append("")
    reg_file = DRIVE_C / f"env-{next_id()}.reg"
    reg_file.write_bytes(b"\xff\xfe" + "\r\n".join(lines).encode("utf-16-le"))
    try:
        wine_tool("regedit", "/s", to_windows(reg_file))
    finally:
        reg_file.unlink()


def clear_product_env():
    apply_env({(s, n): None for s in (MACHINE, USER) for n in PRODUCT_VARIABLES})


# ---------------------------------------------------------------- installation trees

class Suite:
    """An installation tree R with the programs at R\\a\\b\\c\\d and its relinfo.xml."""

    def __init__(self, root, folder_name, revision, relinfo=None, cad=False, toolbars=False,
                 program_levels=("a", "b", "c", "d"), dist=DIST_X86):
        self.root = Path(root)
        self.folder_name = folder_name
        self.revision = revision
        self.program_dir = self.root.joinpath(*program_levels)
        self.program_dir.mkdir(parents=True, exist_ok=True)
        for program in (INSTALLER, REMOVER):
            shutil.copy2(dist / program, self.program_dir / program)
        if relinfo is not None:
            self.write_relinfo(raw=relinfo)
        elif folder_name is not None:
            self.write_relinfo(folder_name, revision)
        if cad:
            self.add_cad_program()
        if toolbars:
            (self.root / "NIMBA/gui/en-us/toolbars").mkdir(parents=True, exist_ok=True)

    @property
    def win_root(self):
        return to_windows(self.root)

    @property
    def relinfo_path(self):
        return self.root / "commonfiles/globalsettings/relinfo.xml"

    @property
    def toolbar_list(self):
        return self.root / TOOLBAR_LIST.replace("\\", "/")

    def write_relinfo(self, folder_name=None, revision=None, raw=None):
        if raw is None:
            raw = (f'<?xml version="1.0" encoding="UTF-8"?>\r\n<releaseInfo>\r\n'
                   f'  <startMenu startMenuFolderName="{folder_name}"\r\n'
                   f'             startMenuShortcutAppendRevision="{revision or ""}"/>\r\n'
                   f'</releaseInfo>\r\n').encode("utf-8")
        self.relinfo_path.parent.mkdir(parents=True, exist_ok=True)
        self.relinfo_path.write_bytes(raw)

    def add_cad_program(self):
        cad = self.root / CAD_PROGRAM.replace("\\", "/")
        cad.parent.mkdir(parents=True, exist_ok=True)
        cad.write_bytes(b"MZ")

    def program(self, name):
        return to_windows(self.program_dir / name)

    def install(self, *args, admin=True, locale=None):
        ran = run(self.program(INSTALLER), *args, admin=admin, locale=locale)
        ran.assert_quiet_success()
        return ran

    def remove(self, *args, admin=True):
        ran = run(self.program(REMOVER), *args, admin=admin)
        ran.assert_quiet_success()
        return ran

    def product_folder(self, scope):
        return programs_folder(scope) / self.folder_name.replace("\\", "/")

    def link(self, scope, shortcut, suffix=None):
        subfolder, name = shortcut
        suffix = self.revision if suffix is None else suffix
        return self.product_folder(scope) / subfolder / link_name(name, suffix)


def short_id(value):
    """A parameter's test id: long names by their start and length."""
    if isinstance(value, str) and len(value) >= 40:
        return f"{value[:12]}...{len(value)}"
    return None


@pytest.fixture(scope="session")
def wine_prefix():
    if PREFIX is None or not (DRIVE_C / "windows").is_dir():
        pytest.exit("WINEPREFIX does not name a started prefix: . scripts/wine_env.sh <dir>; "
                    "scripts/wine_prefix.sh fresh", returncode=2)
    programs = [folder / program for folder in DIST.values() for program in (INSTALLER, REMOVER)]
    for needed in (*programs, TOOLS / "run_restricted.exe", TOOLS / "is_admin.exe"):
        if not needed.is_file():
            pytest.exit(f"{needed} missing: run make all", returncode=2)
    # Every scope-dependent check rests on these two answers.
    assert wine(str(TOOLS / "is_admin.exe")).stdout.strip() == b"1"
    assert run(to_windows(TOOLS / "is_admin.exe"), admin=False).stdout.strip() == b"0"
    (DRIVE_C / "st").mkdir(exist_ok=True)
    return drive_c_tree()


def pytest_configure(config):
    config.addinivalue_line("markers", "no_prefix: the test reads files only and needs no Wine prefix")


@pytest.fixture(autouse=True)
def clean_state(request):
    """No product variable in either scope before and after each test; anything a
    test left in drive_c (its tree, Start Menu folders, stray files) goes."""
    if request.node.get_closest_marker("no_prefix"):
        yield
        return
    wine_prefix = request.getfixturevalue("wine_prefix")
    clear_product_env()
    yield
    clear_product_env()
    for entry in sorted(drive_c_tree() - wine_prefix, key=len):
        path = DRIVE_C / entry.rstrip("/")
        if path.is_symlink() or path.is_file():
            path.unlink()
        elif path.is_dir():
            shutil.rmtree(path, ignore_errors=True)


@pytest.fixture(params=DIST, ids=lambda arch: arch)
def dist(request):
    """The folder of one build's programs: every suite test runs both."""
    return DIST[request.param]


@pytest.fixture
def make_suite(dist):
    """make_suite(folder_name=<unique>, revision="", relinfo=None (bytes), cad=False,
    toolbars=False, base=None (a Path for R)) -> Suite with the programs of `dist`."""

    def make(folder_name=..., revision="", relinfo=None, cad=False, toolbars=False, base=None, **kw):
        if folder_name is ...:
            folder_name = f"NIMBA Sys {next_id()}"
        root = base if base is not None else DRIVE_C / "st" / f"t{next_id()}"
        return Suite(root, folder_name, revision, relinfo=relinfo, cad=cad, toolbars=toolbars, dist=dist, **kw)

    return make


def expected_shortcut(root, shortcut):
    """(target, description, icon) of one shortcut for the installation root R."""
    program = {
        UNINSTALL: ("Uninstall.exe", "Uninstall Products"),
        PRODUCT_CONFIG: ("ProductConfig.exe", "NIMBA Product & CAD Configuration"),
        CAD_MANAGER: (CAD_PROGRAM, "CAD Configuration Manager"),
        FILE_ASSOCIATION: (r"commonfiles\tools\winx64\fileassoc.exe", "NIMBA File Association"),
    }[shortcut]
    target_root = root[:-1] if root.endswith("\\") else root
    return target_root + "\\" + program[0], program[1], root + "\\" + program[0]


def expected_env(root):
    """The installer's variables for the installation root R."""
    return {"NIMBA_SYSDIR": "winx64", "ZEP_ROOT182": root, "NIMBA182_DIR": root + "\\NIMBA"}


def toolbar_list_bytes(root, code_page="ascii"):
    """The toolbar list that "-INSTALL" writes for the installation root R, in the system's ANSI code page."""
    return b"".join(f"{root}\\nimba\\gui\\en-us\\toolbars\\{name}\r\n".encode(code_page) for name in TOOLBAR_FILES)


@pytest.fixture
def suite(make_suite):
    return make_suite()

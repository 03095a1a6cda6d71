#!/usr/bin/python3
"""Drives the demonstration inside the prefix that demo.sh prepared.

  demo.py            the shipped x86 programs (dist/x86) run by an administrator (elevated)
  demo.py --user     the same run by a standard user (run_restricted.exe)
  demo.py --msi      the sample Windows Installer package (examples/msi) runs them,
                     installed and uninstalled by msiexec; with --user the per-user package
  demo.py --nsis     the sample NSIS setup (examples/nsis) runs them, installed and
                     uninstalled silently; with --user the per-user setup
  demo.py --x64      the 64-bit build (dist/x64) instead; not with --nsis (NSIS setups are 32-bit)
"""
import argparse
import os
import re
import shutil
import subprocess
import time
from pathlib import Path, PureWindowsPath

WINE = os.environ["WINE"]
PREFIX = Path(os.environ["WINEPREFIX"])
DRIVE_C = PREFIX / "drive_c"
REPO = Path(__file__).resolve().parent.parent
TOOLS = REPO / "build/x64/tests/tools"
SAMPLE = REPO / "examples/msi"
BUILDS = {"x86": "the shipped 32-bit programs", "x64": "the 64-bit build"}
# An NSIS uninstaller started without _?= hands its work to a copy of itself and returns at once.
UNINSTALL_TIMEOUT = 60

VARIABLES = ["NIMBA_SYSDIR", "ZEP_ROOT182", "NIMBA182_DIR", "ZEP_LOCALE182"]
SCOPES = {
    "all users (machine)": r"HKLM\System\CurrentControlSet\Control\Session Manager\Environment",
    "current user": r"HKCU\Environment",
}


class Suite:
    """Where the demonstrated suite lives and what its relinfo.xml says."""

    def __init__(self, root_win, folder_name, revision):
        self.root_win = root_win
        self.folder_name = folder_name
        self.revision = revision

    @property
    def root(self):
        return linux_path(self.root_win)


def linux_path(windows_path):
    assert windows_path[:3].upper() == "C:\\"
    return DRIVE_C.joinpath(*windows_path[3:].split("\\"))


def windows_path(path):
    path = Path(path)
    if path.is_relative_to(DRIVE_C):
        return "C:\\" + "\\".join(path.relative_to(DRIVE_C).parts)
    return "Z:" + str(path).replace("/", "\\")


def user_name():
    return next(p.name for p in (DRIVE_C / "users").iterdir() if p.name.lower() != "public")


def programs_folders():
    return {
        "all users": DRIVE_C / "ProgramData/Microsoft/Windows/Start Menu/Programs",
        "current user": DRIVE_C / f"users/{user_name()}/AppData/Roaming/Microsoft/Windows/Start Menu/Programs",
    }


def lay_out_suite(dist):
    suite = Suite(r"C:\Demo\NIMBA Suite", "NIMBA 18.1 Demo", "2026 R1")
    root = suite.root
    shutil.rmtree(root.parent, ignore_errors=True)
    bin_dir = root / "nimba" / "bin" / "winx64" / "setup"
    bin_dir.mkdir(parents=True)
    for program in ("shortcut_installer.exe", "shortcut_remover.exe"):
        shutil.copy(dist / program, bin_dir / program)
    settings = root / "commonfiles" / "globalsettings"
    settings.mkdir(parents=True)
    (settings / "relinfo.xml").write_text(
        '<?xml version="1.0" encoding="UTF-8"?>\n<relinfo>\n'
        f'  <startMenuFolderName value="{suite.folder_name}"/>\n'
        f'  <startMenuShortcutAppendRevision value="{suite.revision}"/>\n</relinfo>\n',
        encoding="utf-8",
    )
    cad = root / "commonfiles" / "CAD" / "bin" / "winx64"
    cad.mkdir(parents=True)
    (cad / "Qel.CadInt.CADConfigUtilityGUI.exe").write_bytes(b"MZ")
    (root / "NIMBA" / "gui" / "en-us" / "toolbars").mkdir(parents=True)
    return suite


def sample_package_suite(per_user, program_files):
    """The sample package's or setup's installation folder and its relinfo.xml values."""
    relinfo = (SAMPLE / "relinfo.xml").read_text(encoding="utf-8")
    folder_name, revision = (re.search(rf'{key} value="([^"]*)"', relinfo).group(1)
                             for key in ("startMenuFolderName", "startMenuShortcutAppendRevision"))
    base = rf"C:\users\{user_name()}\AppData\Local\Programs" if per_user else program_files
    return Suite(base + r"\NIMBA Sample Suite 18.1", folder_name, revision)


def environment_values():
    values = {}
    for scope, key in SCOPES.items():
        listing = subprocess.run([WINE, "reg", "query", key], capture_output=True, text=True).stdout
        for line in listing.splitlines():
            match = re.match(r"\s+(\S+)\s+REG_\w+\s+(.*)$", line)
            if match and match.group(1) in VARIABLES:
                values[(scope, match.group(1))] = match.group(2).strip()
    return values


def shortcut_fields(link):
    text = subprocess.run(["lnkinfo", str(link)], capture_output=True, text=True).stdout
    # Named as the shortcut's Properties dialog names them.
    fields = {}
    for label, shown in (("Local path", "Target"), ("Command line arguments", "Arguments"),
                         ("Working directory", "Start in"), ("Description", "Comment"),
                         ("Icon location", "Icon file"), ("Icon index", "Icon index")):
        match = re.search(rf"^\s*{label}\s*:[ \t]*(.*)$", text, re.MULTILINE)
        fields[shown] = match.group(1).strip() if match else ""
    show = int.from_bytes(link.read_bytes()[0x3C:0x40], "little")
    fields["Run"] = {1: "Normal window", 3: "Maximized", 7: "Minimized"}.get(show, str(show))
    return fields


def start_menu_state(suite):
    state = {}
    for scope, folder in programs_folders().items():
        product = folder / suite.folder_name
        entries = sorted(str(p.relative_to(folder)) for p in product.rglob("*")) if product.exists() else []
        state[scope] = ([suite.folder_name] if product.exists() else []) + entries
    return state


def toolbar_list(suite):
    path = suite.root / "NIMBA/gui/en-us/toolbars/tlbrlist182.qel"
    return path.read_bytes() if path.exists() else None


def snapshot(suite):
    return {"start menu": start_menu_state(suite), "environment": environment_values(),
            "toolbar list": toolbar_list(suite), "tree": suite.root.exists()}


def run(launcher, program, *arguments):
    """Runs a program by its Windows path, through the launcher when there is one."""
    result = subprocess.run([WINE, *launcher, program, *arguments], capture_output=True)
    return result.returncode, result.stdout + result.stderr


def report_exit(command, code, output):
    shown = " ".join(PureWindowsPath(part).name if "\\" in part else part for part in command)
    print(f"\n{shown} exited with status {code}"
          f"{' and printed nothing' if not output else ' and printed: ' + output.decode(errors='replace')}.")


def describe_state(title, state):
    print(f"\n{title}")
    for scope, entries in state["start menu"].items():
        print(f"  Start Menu, {scope}: " + (", ".join(entries) if entries else "nothing of the suite"))
    if state["environment"]:
        for (scope, name), value in sorted(state["environment"].items()):
            print(f"  Environment ({scope}): {name} = {value}")
    else:
        print("  Environment: none of the suite's variables")
    listing = state["toolbar list"]
    print("  Toolbar list: " + ("absent" if listing is None else f"{len(listing.splitlines())} lines"))


def describe_scopes_used(suite, installed):
    """Where the installer's work landed, read back from the Start Menu and the registry."""
    folders = programs_folders()
    menus = [f"{scope}: {windows_path(folders[scope])}" for scope, entries in installed["start menu"].items()
             if entries]
    environments = [f"{scope}: {SCOPES[scope]}" for scope in SCOPES
                    if (scope, "ZEP_ROOT182") in installed["environment"]]
    print(f"\nStart Menu used:          {', '.join(menus) or 'none'}")
    print(f"Environment scope used:   {', '.join(environments) or 'none'}")


def side_by_side(before, after):
    print("\nBefore the installer versus after the remover:")
    rows = []
    for scope in before["start menu"]:
        rows.append((f"Start Menu ({scope})", ", ".join(before["start menu"][scope]) or "-",
                     ", ".join(after["start menu"][scope]) or "-"))
    for scope in SCOPES:
        for name in VARIABLES:
            rows.append((f"{name} ({scope})", before["environment"].get((scope, name), "-"),
                         after["environment"].get((scope, name), "-")))
    kept = "present (kept on purpose)" if after["tree"] else "present"
    rows.append(("Toolbar list", "absent" if before["toolbar list"] is None else "present",
                 "absent" if after["toolbar list"] is None else kept))
    width = max(len(r[0]) for r in rows)
    middle = max(len(r[1]) for r in rows + [("", "before")])
    print(f"  {'':{width}}  {'before':{middle}}  after")
    for label, first, second in rows:
        print(f"  {label:{width}}  {first:{middle}}  {second}")


def main():
    parser = argparse.ArgumentParser(description="Installs and removes a sample NIMBA suite under Wine.")
    parser.add_argument("--user", action="store_true",
                        help="run as a standard user (Administrators deny-only) instead of an administrator")
    parser.add_argument("--msi", action="store_true",
                        help="let the sample Windows Installer package run the programs (examples/msi)")
    parser.add_argument("--nsis", action="store_true",
                        help="let the sample NSIS setup run the programs (examples/nsis, x86 only)")
    parser.add_argument("--x64", action="store_true",
                        help="run the 64-bit build (dist/x64) instead of the shipped x86 programs")
    options = parser.parse_args()
    if options.nsis and (options.msi or options.x64):
        parser.error("--nsis goes with neither --msi nor --x64 (NSIS setups are 32-bit)")
    arch = "x64" if options.x64 else "x86"
    dist = REPO / "dist" / arch
    # A 32-bit program on a 64-bit system installs below Program Files (x86).
    program_files = r"C:\Program Files" if arch == "x64" else r"C:\Program Files (x86)"
    print(f"\nBuild run:                  {arch} (dist/{arch}, {BUILDS[arch]})")

    launcher = [str(TOOLS / "run_restricted.exe")] if options.user else []
    admin = run(launcher, windows_path(TOOLS / "is_admin.exe"))[1].strip() == b"1"

    if options.msi:
        package = dist / ("nimba_sample_suite_peruser.msi" if options.user else "nimba_sample_suite.msi")
        suite = sample_package_suite(options.user, program_files)
        install = ("msiexec.exe", "/i", windows_path(package), "/qn")
        remove = ("msiexec.exe", "/x", windows_path(package), "/qn")
        print("\nSample Windows Installer package:")
        print(f"  Package                   {package.relative_to(REPO)} "
              f"({'per user' if options.user else 'per machine'}, from examples/msi/nimba_sample_suite.wxs)")
        print(f"  Installation folder       {suite.root_win}")
        print("  Custom actions            shortcut_installer.exe -INSTALL after InstallFiles (first install),")
        print("                            shortcut_remover.exe before RemoveFiles (REMOVE=\"ALL\"), both deferred")
    elif options.nsis:
        package = dist / ("nimba_sample_suite_setup_peruser.exe" if options.user else "nimba_sample_suite_setup.exe")
        suite = sample_package_suite(options.user, program_files)
        install = (windows_path(package), "/S")
        remove = (suite.root_win + r"\Uninstall.exe", "/S")
        print("\nSample NSIS setup:")
        print(f"  Setup                     {package.relative_to(REPO)} "
              f"({'current user' if options.user else 'all users'}, from examples/nsis/nimba_sample_suite.nsi)")
        print(f"  Installation folder       {suite.root_win}")
        print("  Runs                      shortcut_installer.exe -INSTALL once the files are copied (ExecWait),")
        print("                            shortcut_remover.exe from the uninstaller before it deletes them")
    else:
        suite = lay_out_suite(dist)
        setup = suite.root_win + r"\nimba\bin\winx64\setup"
        install = (setup + r"\shortcut_installer.exe", "-INSTALL")
        remove = (setup + r"\shortcut_remover.exe",)
        print("\nSample suite laid out:")
        print(f"  Installation root         {suite.root_win}")
        print(f"  Programs placed in        {setup} (four levels below the root)")
    print(f"  relinfo.xml says          startMenuFolderName=\"{suite.folder_name}\", "
          f"startMenuShortcutAppendRevision=\"{suite.revision}\"")
    print("  Running as                " + ("an administrator (elevated)" if admin else
                                           "a standard user (run_restricted.exe: Administrators deny-only)"))

    before = snapshot(suite)
    describe_state("State before the installer:", before)

    code, output = run(launcher, *install)
    report_exit(install, code, output)

    installed = snapshot(suite)
    describe_scopes_used(suite, installed)
    for scope, folder in programs_folders().items():
        product = folder / suite.folder_name
        if not product.exists():
            continue
        print(f"\nShortcuts it made in the {scope} Start Menu ({product.relative_to(DRIVE_C.parent)}):")
        for link in sorted(product.rglob("*.lnk")):
            print(f"  {link.relative_to(product)}")
            for label, value in shortcut_fields(link).items():
                print(f"      {label + ':':12}{value if value else '(none)'}")

    print("\nEnvironment variables it registered:")
    for (where, name), value in sorted(installed["environment"].items()):
        print(f"  {name} = {value}   [{where}]")
    listing = installed["toolbar list"]
    print(f"\nToolbar list {suite.root_win}\\NIMBA\\gui\\en-us\\toolbars\\tlbrlist182.qel:")
    if listing is None:
        print("  (not written)")
    else:
        for line in listing.split(b"\r\n"):
            if line:
                print(f"  {line.decode('latin-1')}   (ends in CR LF)")

    code, output = run(launcher, *remove)
    report_exit(remove, code, output)
    if options.nsis:
        started = time.monotonic()
        while suite.root.exists() and time.monotonic() - started < UNINSTALL_TIMEOUT:
            time.sleep(0.1)
        waited = time.monotonic() - started
        print("An NSIS uninstaller hands its work to a copy of itself in the Temp folder and returns;"
              f"\nthe installation folder was {'gone' if not suite.root.exists() else 'still there'} "
              f"{waited:.1f} s after it returned.")
    after = snapshot(suite)
    describe_state("State after the remover:", after)
    if options.msi or options.nsis:
        print(f"  Installation folder: {'still there' if after['tree'] else 'gone'}")
    side_by_side(before, after)


if __name__ == "__main__":
    main()

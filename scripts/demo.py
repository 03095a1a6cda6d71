#!/usr/bin/python3
"""Drives the demonstration inside the prefix that demo.sh prepared."""
import os
import re
import shutil
import subprocess
from pathlib import Path

WINE = os.environ["WINE"]
PREFIX = Path(os.environ["WINEPREFIX"])
DRIVE_C = PREFIX / "drive_c"
REPO = Path(__file__).resolve().parent.parent

ROOT_WIN = r"C:\Demo\NIMBA Suite"
FOLDER_NAME = "NIMBA 18.1 Demo"
REVISION = "2026 R1"
VARIABLES = ["NIMBA_SYSDIR", "ZEP_ROOT182", "NIMBA182_DIR", "ZEP_LOCALE182"]
SCOPES = {
    "all users (machine)": r"HKLM\System\CurrentControlSet\Control\Session Manager\Environment",
    "current user": r"HKCU\Environment",
}


def linux_path(windows_path):
    assert windows_path[:3].upper() == "C:\\"
    return DRIVE_C.joinpath(*windows_path[3:].split("\\"))


def programs_folders():
    user = next(p.name for p in (DRIVE_C / "users").iterdir() if p.name.lower() != "public")
    return {
        "all users": DRIVE_C / "ProgramData/Microsoft/Windows/Start Menu/Programs",
        "current user": DRIVE_C / f"users/{user}/AppData/Roaming/Microsoft/Windows/Start Menu/Programs",
    }


def lay_out_suite():
    root = linux_path(ROOT_WIN)
    shutil.rmtree(root.parent, ignore_errors=True)
    bin_dir = root / "nimba" / "bin" / "winx64" / "setup"
    bin_dir.mkdir(parents=True)
    for program in ("shortcut_installer.exe", "shortcut_remover.exe"):
        shutil.copy(REPO / "dist" / "x64" / program, bin_dir / program)
    settings = root / "commonfiles" / "globalsettings"
    settings.mkdir(parents=True)
    (settings / "relinfo.xml").write_text(
        '<?xml version="1.0" encoding="UTF-8"?>\n<relinfo>\n'
        f'  <startMenuFolderName value="{FOLDER_NAME}"/>\n'
        f'  <startMenuShortcutAppendRevision value="{REVISION}"/>\n</relinfo>\n',
        encoding="utf-8",
    )
    cad = root / "commonfiles" / "CAD" / "bin" / "winx64"
    cad.mkdir(parents=True)
    (cad / "Qel.CadInt.CADConfigUtilityGUI.exe").write_bytes(b"MZ")
    (root / "NIMBA" / "gui" / "en-us" / "toolbars").mkdir(parents=True)
    return bin_dir


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


def start_menu_state():
    state = {}
    for scope, folder in programs_folders().items():
        product = folder / FOLDER_NAME
        entries = sorted(str(p.relative_to(folder)) for p in product.rglob("*")) if product.exists() else []
        state[scope] = ([FOLDER_NAME] if product.exists() else []) + entries
    return state


def toolbar_list():
    path = linux_path(ROOT_WIN) / "NIMBA/gui/en-us/toolbars/tlbrlist182.qel"
    return path.read_bytes() if path.exists() else None


def snapshot():
    return {"start menu": start_menu_state(), "environment": environment_values(), "toolbar list": toolbar_list()}


def run(program, *arguments):
    result = subprocess.run([WINE, program, *arguments], capture_output=True)
    return result.returncode, result.stdout + result.stderr


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
    rows.append(("Toolbar list", "absent" if before["toolbar list"] is None else "present",
                 "absent" if after["toolbar list"] is None else "present (kept on purpose)"))
    width = max(len(r[0]) for r in rows)
    middle = max(len(r[1]) for r in rows + [("", "before")])
    print(f"  {'':{width}}  {'before':{middle}}  after")
    for label, first, second in rows:
        print(f"  {label:{width}}  {first:{middle}}  {second}")


def main():
    bin_dir = lay_out_suite()
    installer = bin_dir / "shortcut_installer.exe"
    remover = bin_dir / "shortcut_remover.exe"
    admin = subprocess.run([WINE, str(REPO / "build/x64/tests/tools/is_admin.exe")],
                           capture_output=True, text=True).stdout.strip() == "1"

    print("\nSample suite laid out:")
    print(f"  Installation root         {ROOT_WIN}")
    print(f"  Programs placed in        {ROOT_WIN}\\nimba\\bin\\winx64\\setup (four levels below the root)")
    print(f"  relinfo.xml says          startMenuFolderName=\"{FOLDER_NAME}\", "
          f"startMenuShortcutAppendRevision=\"{REVISION}\"")
    print(f"  Running as                {'administrator: all-users locations' if admin else 'a standard user'}")

    before = snapshot()
    describe_state("State before the installer:", before)

    code, output = run(installer, "-INSTALL")
    print(f"\nshortcut_installer.exe -INSTALL exited with status {code}"
          f"{' and printed nothing' if not output else ' and printed: ' + output.decode(errors='replace')}.")

    folders = programs_folders()
    scope = "all users" if admin else "current user"
    product = folders[scope] / FOLDER_NAME
    print(f"\nShortcuts it made in the {scope} Start Menu ({product.relative_to(DRIVE_C.parent)}):")
    for link in sorted(product.rglob("*.lnk")):
        print(f"  {link.relative_to(product)}")
        for label, value in shortcut_fields(link).items():
            print(f"      {label + ':':12}{value if value else '(none)'}")

    installed = snapshot()
    print("\nEnvironment variables it registered:")
    for (where, name), value in sorted(installed["environment"].items()):
        print(f"  {name} = {value}   [{where}]")
    listing = installed["toolbar list"]
    print(f"\nToolbar list {ROOT_WIN}\\NIMBA\\gui\\en-us\\toolbars\\tlbrlist182.qel:")
    if listing is None:
        print("  (not written)")
    else:
        for line in listing.split(b"\r\n"):
            if line:
                print(f"  {line.decode('latin-1')}   (ends in CR LF)")

    code, output = run(remover)
    print(f"\nshortcut_remover.exe exited with status {code}"
          f"{' and printed nothing' if not output else ' and printed: ' + output.decode(errors='replace')}.")
    after = snapshot()
    describe_state("State after the remover:", after)
    side_by_side(before, after)


if __name__ == "__main__":
    main()

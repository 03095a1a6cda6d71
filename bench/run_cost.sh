#!/usr/bin/env bash
# What an installer and a remover run cost under Wine, as ratios to floors of
# our own measured in the same run, and the size of each executable. Prints
# one table for each build, the shipped one (x86) first, each ending in a
# one-line summary. Not part of the tests.
#   bench/run_cost.sh [rounds] [builds]   default 20 rounds a figure (at least 10), "x86 x64"
set -euo pipefail
cd "$(dirname "$0")/.."
pairs=${1:-20}
builds=${2:-x86 x64}

scripts/bootstrap.sh
make --no-print-directory all >/dev/null
. scripts/wine_env.sh build/wine-bench
trap 'scripts/wine_prefix.sh stop; rm -rf "$WINEPREFIX/drive_c/bench"' EXIT
scripts/wine_prefix.sh fresh

bench="$WINEPREFIX/drive_c/bench"

# A suite tree with the programs four levels below its root; $2 writes its relinfo.xml.
make_suite() {
  local root="$bench/$1"
  mkdir -p "$root/a/b/c/d" "$root/commonfiles/globalsettings" "$root/NIMBA/gui/en-us/toolbars" \
    "$root/commonfiles/CAD/bin/winx64"
  cp "dist/$build/shortcut_installer.exe" "dist/$build/shortcut_remover.exe" "$root/a/b/c/d/"
  : >"$root/commonfiles/CAD/bin/winx64/Qel.CadInt.CADConfigUtilityGUI.exe"
  /usr/bin/python3 - "$root/commonfiles/globalsettings/relinfo.xml" "$2" <<'PY'
import sys
path, kind = sys.argv[1], sys.argv[2]
keys = b'<relinfo startMenuFolderName="NIMBA Bench" startMenuShortcutAppendRevision="1"/>\n'
filler = b"<!-- release notes, padding the file the way a real one never would -->\n"
sizes = {"1k": 1 << 10, "1m": 1 << 20, "1g": 1 << 30}
with open(path, "wb") as out:
    if kind == "1g-nokey":
        # No key anywhere and no NUL byte: every lookup must read it all.
        block = filler * ((1 << 20) // len(filler))
        written = 0
        while written < sizes["1g"]:
            out.write(block[: sizes["1g"] - written])
            written += len(block)
    elif kind == "1g":
        # The keys at the start, then a hole that reads as zero bytes and costs no disk.
        out.write(keys)
        out.truncate(sizes["1g"])
    else:
        out.write(keys + filler * ((sizes[kind] - len(keys)) // len(filler)))
PY
}
# Each build is timed against floors of its own build, one build after the other.
for build in $builds; do
  rm -rf "$bench"
  mkdir -p "$bench/bin"
  for program in empty_program work_floor desktop_keeper hung_windows; do
    cp "build/$build/bench/$program.exe" "$bench/bin/"
  done
  for kind in 1k 1m 1g 1g-nokey; do make_suite "suite-$kind" "$kind"; done
  "$WINE" build/x64/bench/bench_runner.exe "$pairs" 'C:\bench' "Z:$(pwd | tr / '\\')\\dist" "$build" </dev/null 2>&1 |
    sed -u "s/\r$//"
  echo
done

#!/usr/bin/env bash
# How much an installer and a remover run cost beyond a bare process start
# under Wine, as ratios (seconds on their own depend on the machine).
#   bench/run_cost.sh [runs]      default 20 runs of each
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-20}

make --no-print-directory all >/dev/null
. scripts/wine_env.sh build/wine-bench
trap 'scripts/wine_prefix.sh stop' EXIT
scripts/wine_prefix.sh fresh

root="$WINEPREFIX/drive_c/BenchSuite"
mkdir -p "$root/a/b/c/d" "$root/commonfiles/globalsettings" "$root/NIMBA/gui/en-us/toolbars"
cp dist/x64/shortcut_installer.exe dist/x64/shortcut_remover.exe "$root/a/b/c/d/"
printf '<r startMenuFolderName="NIMBA Bench" startMenuShortcutAppendRevision="1"/>' \
  >"$root/commonfiles/globalsettings/relinfo.xml"

# Average seconds of one run of the given command line.
average() {
  local start end
  start=$(date +%s.%N)
  for _ in $(seq "$runs"); do "$@" </dev/null >/dev/null 2>&1; done
  end=$(date +%s.%N)
  awk -v s="$start" -v e="$end" -v n="$runs" 'BEGIN { print (e - s) / n }'
}

bare=$(average "$WINE" build/x64/tests/tools/is_admin.exe)
install=$(average "$WINE" "$root/a/b/c/d/shortcut_installer.exe" -INSTALL)
remove=$(average "$WINE" "$root/a/b/c/d/shortcut_remover.exe")
printf 'bare process start   1.00\n'
awk -v b="$bare" -v i="$install" -v r="$remove" \
  'BEGIN { printf "installer -INSTALL   %.2f\nremover              %.2f\n", i / b, r / b }'

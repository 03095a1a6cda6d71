#!/usr/bin/env bash
# Builds the sample suite's NSIS setups from the shipped 32-bit programs
# (make deliverables, or make msi which builds them first):
#   dist/x86/nimba_sample_suite_setup.exe           for all users (administrator)
#   dist/x86/nimba_sample_suite_setup_peruser.exe   for the installing user alone
#   build/nsis/nimba_sample_suite_setup_2025r2.exe  for all users, with an older
#       shortcut revision, which the tests install before the current setup
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
bin="$repo/dist/x86"
older="$repo/build/nsis"
mkdir -p "$older"

# The older release differs from the current one in its revision only.
sed 's/startMenuShortcutAppendRevision value="[^"]*"/startMenuShortcutAppendRevision value="2025 R2"/' \
  "$here/../msi/relinfo.xml" >"$older/relinfo.xml"
grep -q 'startMenuShortcutAppendRevision value="2025 R2"' "$older/relinfo.xml"

build() { # setup defines...
  # makensis reads relative paths from the .nsi's folder.
  (cd "$here" && makensis -V2 -WX -DBIN="$bin" -DOUTFILE="$1" "${@:2}" nimba_sample_suite.nsi) >/dev/null
  echo "$1"
}
build "$bin/nimba_sample_suite_setup.exe"
build "$bin/nimba_sample_suite_setup_peruser.exe" -DPER_USER
build "$older/nimba_sample_suite_setup_2025r2.exe" -DRELINFO="$older/relinfo.xml"

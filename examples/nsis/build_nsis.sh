#!/usr/bin/env bash
# Builds the sample suite's NSIS setups from the shipped 32-bit programs
# (make deliverables, or make msi which builds them first):
#   dist/x86/nimba_sample_suite_setup.exe           for all users (administrator)
#   dist/x86/nimba_sample_suite_setup_peruser.exe   for the installing user alone
#   build/nsis/nimba_sample_suite_setup_2025r2.exe  for all users, with an older
#       shortcut revision, which the tests install before the current setup
# Each setup is told the release number (-DVERSION, from the file VERSION) and
# is a function of its inputs: NSIS stores each file with its time, so it packs
# copies that all carry SOURCE_DATE_EPOCH (default: the last commit's time).
# With SIGN_PFX set each setup is signed (scripts/sign.sh).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
bin="$repo/dist/x86"
older="$repo/build/nsis"
version="$(head -n1 "$repo/VERSION")"
epoch="${SOURCE_DATE_EPOCH:-$(git -C "$repo" log -1 --format=%ct 2>/dev/null || stat -c %Y "$repo/VERSION")}"
mkdir -p "$older"
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT

# The older release differs from the current one in its revision only.
sed 's/startMenuShortcutAppendRevision value="[^"]*"/startMenuShortcutAppendRevision value="2025 R2"/' \
  "$here/../msi/relinfo.xml" >"$older/relinfo.xml"
grep -q 'startMenuShortcutAppendRevision value="2025 R2"' "$older/relinfo.xml"

mkdir -p "$stage/bin" "$stage/older"
cp "$bin/shortcut_installer.exe" "$bin/shortcut_remover.exe" "$stage/bin/"
cp "$here/../msi/relinfo.xml" "$stage/relinfo.xml"
cp "$older/relinfo.xml" "$stage/older/relinfo.xml"
find "$stage" -exec touch -h -d "@$epoch" {} +

build() { # setup defines...
  # makensis reads relative paths from the .nsi's folder.
  (cd "$here" && makensis -V2 -WX -DBIN="$stage/bin" -DVERSION="$version" -DOUTFILE="$1" "${@:2}" \
    nimba_sample_suite.nsi) >/dev/null
  "$repo/scripts/sign.sh" "$1"
  echo "$1"
}
build "$bin/nimba_sample_suite_setup.exe" -DRELINFO="$stage/relinfo.xml"
build "$bin/nimba_sample_suite_setup_peruser.exe" -DRELINFO="$stage/relinfo.xml" -DPER_USER
build "$older/nimba_sample_suite_setup_2025r2.exe" -DRELINFO="$stage/older/relinfo.xml"

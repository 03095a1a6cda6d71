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
# makensis must carry the fix for the uninstaller's temporary folder
# (CVE-2023-37378): an uninstaller that copies itself to the Temp folder and
# runs from there trusted a folder that another user could have made first.
# Fixed in NSIS 3.09; Debian 12 carries the fix in 3.08-3+deb12u1. Refused: 3.08
# and older, unless the makensis in use is Debian's package of 3.08-3+deb12u1 or
# a later Debian revision.
set -euo pipefail
check_makensis() {
  local path version owner package=""
  path="$(command -v makensis)" || { echo "makensis is missing: install the package nsis" >&2; exit 1; }
  version="$(makensis -VERSION)"
  version="${version#v}"
  owner="$(dpkg -S "$(readlink -f "$path")" 2>/dev/null || true)"
  if [ "${owner%%:*}" = nsis ]; then
    package="$(dpkg-query -W -f='${Version}' nsis)"
    dpkg --compare-versions "$package" ge 3.08-3+deb12u1 && return
  elif [ "$(printf '%s\n' 3.09 "${version%%-*}" | sort -V | head -n1)" = 3.09 ]; then
    return
  fi
  echo "$path (${package:+Debian package nsis }${package:-$version}) writes uninstallers with the Temp folder flaw" \
    "(CVE-2023-37378): install NSIS 3.09 or later, or on Debian 12 the package nsis 3.08-3+deb12u1 or later" \
    "(apt-get install nsis from bookworm-security or a current bookworm mirror)" >&2
  exit 1
}
check_makensis
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

#!/usr/bin/env bash
# Builds the sample suite's Windows Installer packages from the built programs
# (make deliverables tested, or make msi which does both first) and checks
# where the two setup helpers stand in the installation script:
#   dist/x86/nimba_sample_suite.msi           the shipped 32-bit programs, per machine
#   dist/x86/nimba_sample_suite_peruser.msi   the same, per user
#   dist/x64/nimba_sample_suite{,_peruser}.msi   from the 64-bit build, which Wine runs here
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
dist="$(cd "$here/../.." && pwd)/dist"

# Sequence numbers, as wixl must write them: the remover right ahead of
# RemoveFiles, the installer right behind InstallFiles, both inside the script
# (InstallInitialize 1500 .. InstallFinalize 6600).
expected_sequence="InstallInitialize=1500 RunShortcutRemover=3499 RemoveFiles=3500 InstallFiles=4000
RunShortcutInstaller=4001 InstallFinalize=6600"
# 18 an executable from the File table, +64 exit status ignored,
# +1024 deferred, +2048 not impersonated.
expected_types="RunShortcutInstaller=3154 RunShortcutRemover=3154"

table_values() { # package table "name=column" pairs for the rows named
  local package=$1 table=$2 column=$3
  shift 3
  msiinfo export "$package" "$table" | tr -d '\r' |
    awk -F'\t' -v column="$column" -v wanted="$*" '
      BEGIN { n = split(wanted, names, " "); for (i = 1; i <= n; i++) want[names[i]] = 1 }
      NR > 3 && ($1 in want) { found[$1] = $column }
      END { for (i = 1; i <= n; i++) printf "%s%s=%s", (i > 1 ? " " : ""), names[i], found[names[i]] }'
}

check() { # package what expected actual
  if [ "$3" != "$4" ]; then
    echo "$1: $2 are '$4', expected '$3'" >&2
    exit 1
  fi
}

for arch in x86 x64; do
  for scope in perMachine perUser; do
    name=nimba_sample_suite
    [ "$scope" = perUser ] && name+=_peruser
    package="$dist/$arch/$name.msi"
    # wixl looks for sources relative to the .wxs file.
    wixl -a "$arch" -D Arch="$arch" -D Scope="$scope" -D Bin="../../dist/$arch" \
      -o "$package" "$here/nimba_sample_suite.wxs"
    actions="InstallInitialize RunShortcutRemover RemoveFiles InstallFiles RunShortcutInstaller InstallFinalize"
    check "$package" "sequence numbers" "$(echo $expected_sequence)" \
      "$(table_values "$package" InstallExecuteSequence 3 $actions)"
    check "$package" "custom action types" "$expected_types" \
      "$(table_values "$package" CustomAction 2 RunShortcutInstaller RunShortcutRemover)"
    template=$(msiinfo suminfo "$package" | sed -n 's/^Template: //p')
    check "$package" "platform" "$([ "$arch" = x64 ] && echo x64 || echo Intel);1033" "$template"
    echo "$package"
  done
done

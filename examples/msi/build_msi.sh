#!/usr/bin/env bash
# Builds the sample suite's Windows Installer packages from the built programs
# (make deliverables tested, or make msi which does both first) and checks
# where the two setup helpers stand in the installation script:
#   dist/x86/nimba_sample_suite.msi           the shipped 32-bit programs, per machine
#   dist/x86/nimba_sample_suite_peruser.msi   the same, per user
#   dist/x64/nimba_sample_suite{,_peruser}.msi   from the 64-bit build, which Wine runs here
# Another build (the system tests build two revisions this way):
#   MSI_VERSION  product version, higher for every build shipped   default 18.1.1 (R1)
#   MSI_RELINFO  the relinfo.xml to ship                            default the one here
#   MSI_ARCHES   architectures                                      default "x86 x64"
#   MSI_OUT      folder for <arch>/<package>.msi                    default dist
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
dist="$(cd "$here/../.." && pwd)/dist"
version="${MSI_VERSION:-18.1.1}"
# wixl takes sources only relative to the .wxs file.
relinfo="$(realpath --relative-to="$here" "${MSI_RELINFO:-$here/relinfo.xml}")"
out="${MSI_OUT:-$dist}"

# Sequence numbers, as wixl must write them: the old revision removed before
# the script starts; the remover right ahead of RemoveFiles, the installer and
# its rollback right behind InstallFiles, all inside the script
# (InstallInitialize 1500 .. InstallFinalize 6600).
expected_sequence="InstallValidate=1400 RemoveExistingProducts=1401 InstallInitialize=1500
RunShortcutRemover=3499 RemoveFiles=3500 InstallFiles=4000 UndoShortcutInstaller=4001
RunShortcutInstaller=4002 InstallFinalize=6600"
# 18 an executable from the File table, +64 exit status ignored,
# +1024 deferred, +2048 not impersonated; +256 run on rollback only.
expected_types="RunShortcutInstaller=3154 RunShortcutRemover=3154 UndoShortcutInstaller=3410"

table_values() { # package table "name=column" pairs for the rows named
  local package=$1 table=$2 column=$3
  shift 3
  msiinfo export "$package" "$table" | tr -d '\r' |
    awk -F'\t' -v column="$column" -v wanted="$*" '
      BEGIN { n = split(wanted, names, " "); for (i = 1; i <= n; i++) want[names[i]] = 1 }
      NR > 3 && ($1 in want) { found[$1] = $column }
      END { for (i = 1; i <= n; i++) printf "%s%s=%s", (i > 1 ? " " : ""), names[i], found[names[i]] }'
}

names() { # "name=value ..." -> "name ..."
  echo $1 | sed 's/=[^ ]*//g'
}

check() { # package what expected actual
  if [ "$3" != "$4" ]; then
    echo "$1: $2 are '$4', expected '$3'" >&2
    exit 1
  fi
}

for arch in ${MSI_ARCHES:-x86 x64}; do
  mkdir -p "$out/$arch"
  for scope in perMachine perUser; do
    name=nimba_sample_suite
    [ "$scope" = perUser ] && name+=_peruser
    package="$out/$arch/$name.msi"
    wixl -a "$arch" -D Arch="$arch" -D Scope="$scope" -D Bin="../../dist/$arch" \
      -D Version="$version" -D RelInfo="$relinfo" -o "$package" "$here/nimba_sample_suite.wxs"
    msibuild "$package" -q "UPDATE CustomAction SET Type = 3410 WHERE Action = 'UndoShortcutInstaller'"
    check "$package" "sequence numbers" "$(echo $expected_sequence)" \
      "$(table_values "$package" InstallExecuteSequence 3 $(names "$expected_sequence"))"
    check "$package" "custom action types" "$expected_types" \
      "$(table_values "$package" CustomAction 2 $(names "$expected_types"))"
    check "$package" "product version" "ProductVersion=$version" \
      "$(table_values "$package" Property 2 ProductVersion)"
    template=$(msiinfo suminfo "$package" | sed -n 's/^Template: //p')
    check "$package" "platform" "$([ "$arch" = x64 ] && echo x64 || echo Intel);1033" "$template"
    echo "$package"
  done
done

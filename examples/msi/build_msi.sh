#!/usr/bin/env bash
# Builds the sample suite's Windows Installer packages from the built programs
# (make deliverables tested, or make msi which does both first) and checks
# where the two setup helpers stand in the installation script:
#   dist/x86/nimba_sample_suite.msi           the shipped 32-bit programs, per machine
#   dist/x86/nimba_sample_suite_peruser.msi   the same, per user
#   dist/x64/nimba_sample_suite{,_peruser}.msi   from the 64-bit build, which Wine runs here
# Another build (the system tests build two revisions this way):
#   MSI_VERSION  product version, higher for every build shipped   default the file VERSION
#   MSI_RELINFO  the relinfo.xml to ship                            default the one here
#   MSI_ARCHES   architectures                                      default "x86 x64"
#   MSI_OUT      folder for <arch>/<package>.msi                    default dist
# A package is a function of its inputs: its files carry the time
# SOURCE_DATE_EPOCH (default: the last commit's), its ProductCode and package
# code are derived from everything that goes into it, its summary dates are
# pinned. With SIGN_PFX set each package is signed last (scripts/sign.sh).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
dist="$repo/dist"
version="${MSI_VERSION:-$(head -n1 "$repo/VERSION")}"
relinfo="$(realpath "${MSI_RELINFO:-$here/relinfo.xml}")"
out="${MSI_OUT:-$dist}"
epoch="${SOURCE_DATE_EPOCH:-$(git -C "$repo" log -1 --format=%ct 2>/dev/null || stat -c %Y "$repo/VERSION")}"
tools=(/usr/bin/python3 "$here/package_tools.py")
# The programs, each under its File table key: versioned files, which Windows
# Installer replaces by version and for which it keeps no hash.
programs="ShortcutInstallerExe=shortcut_installer.exe ShortcutRemoverExe=shortcut_remover.exe"
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT

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
    # wixl takes sources only relative to the .wxs file, and packs each file
    # with its time: a copy of every input, all of one time.
    rm -rf "$stage/in"
    mkdir -p "$stage/in/bin"
    cp "$here/nimba_sample_suite.wxs" "$here/tlbrlist182.qel" "$stage/in/"
    cp "$relinfo" "$stage/in/relinfo.xml"
    cp "$dist/$arch/shortcut_installer.exe" "$dist/$arch/shortcut_remover.exe" "$stage/in/bin/"
    find "$stage/in" -exec touch -h -d "@$epoch" {} +
    defines=(-D Arch="$arch" -D Scope="$scope" -D Bin=bin -D Version="$version" -D RelInfo=relinfo.xml)
    wixl -a "$arch" "${defines[@]}" -o "$package" "$stage/in/nimba_sample_suite.wxs"
    msibuild "$package" -q "UPDATE CustomAction SET Type = 3410 WHERE Action = 'UndoShortcutInstaller'"
    check "$package" "sequence numbers" "$(echo $expected_sequence)" \
      "$(table_values "$package" InstallExecuteSequence 3 $(names "$expected_sequence"))"
    check "$package" "custom action types" "$expected_types" \
      "$(table_values "$package" CustomAction 2 $(names "$expected_types"))"
    # wixl leaves a program's version out of the File table and hashes it
    # like a data file.
    file_versions=""
    for entry in $programs; do
      file_version=$("${tools[@]}" file-version "$stage/in/bin/${entry#*=}")
      msibuild "$package" -q "UPDATE File SET Version = '$file_version', Language = '1033' WHERE File = '${entry%%=*}'" \
        -q "DELETE FROM MsiFileHash WHERE File_ = '${entry%%=*}'"
      file_versions+="${file_versions:+ }${entry%%=*}=$file_version"
    done
    check "$package" "program versions" "$file_versions" "$(table_values "$package" File 5 $(names "$programs"))"
    check "$package" "program hashes" "$(names "$programs" | sed 's/[^ ]*/&=/g')" \
      "$(table_values "$package" MsiFileHash 3 $(names "$programs"))"
    # The codes: from every input's bytes and name and every value given to wixl.
    inputs=$(cd "$stage/in" && find . -type f | LC_ALL=C sort)
    codes=($(cd "$stage/in" && "${tools[@]}" codes $inputs "$here/build_msi.sh" "$here/package_tools.py" \
      -- $inputs "arch=$arch" "${defines[@]}"))
    random_code=$(table_values "$package" Property 2 ProductCode)
    msibuild "$package" -q "UPDATE Property SET Value = '${codes[0]}' WHERE Property = 'ProductCode'"
    summary=$(msiinfo suminfo "$package")
    msibuild "$package" -s "$(sed -n 's/^Subject: //p' <<<"$summary")" "$(sed -n 's/^Author: //p' <<<"$summary")" \
      "$(sed -n 's/^Template: //p' <<<"$summary")" "${codes[1]}"
    "${tools[@]}" overwrite-string "$package" "${random_code#ProductCode=}" "${codes[0]}"
    "${tools[@]}" pin-dates "$package" "$epoch"
    check "$package" "product code" "ProductCode=${codes[0]}" "$(table_values "$package" Property 2 ProductCode)"
    check "$package" "package code" "${codes[1]}" "$(msiinfo suminfo "$package" | sed -n 's/^Revision number (UUID): //p')"
    check "$package" "product version" "ProductVersion=$version" \
      "$(table_values "$package" Property 2 ProductVersion)"
    template=$(msiinfo suminfo "$package" | sed -n 's/^Template: //p')
    check "$package" "platform" "$([ "$arch" = x64 ] && echo x64 || echo Intel);1033" "$template"
    "$repo/scripts/sign.sh" "$package"
    echo "$package"
  done
done

#!/usr/bin/env bash
# Builds the sample suite's Windows Installer packages from the built programs
# (make deliverables tested, or make msi which does both first), with the
# sample's own programs (built into build/msi-sample/<arch>), adds the rows wixl
# cannot write and checks the tables examples/msi/README.md describes:
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
# The sample's own programs carry it as their PE timestamp too.
export SOURCE_DATE_EPOCH="$epoch"
tools=(/usr/bin/python3 "$here/package_tools.py")
# The programs, each under its File table key: versioned files, which Windows
# Installer replaces by version and for which it keeps no hash.
programs="ShortcutInstallerExe=shortcut_installer.exe ShortcutRemoverExe=shortcut_remover.exe"
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT

# What build_msi.sh checks in every package (examples/msi/README.md says why).
# Sequence numbers, as wixl must write them: the old revision removed inside
# the script (InstallInitialize 1500 .. InstallFinalize 6600); the remover's
# rollback and the remover right ahead of RemoveFiles, the installer's rollback
# and the installer right behind InstallFiles.
# Per machine the folders are locked right after CreateFolders has made them,
# before InstallFiles puts a program there.
expected_sequence() { # scope
  echo "FindRelatedProducts=25 AppSearch=50" \
    "$([ "$1" = perUser ] && echo CheckInstallingToken=99) LaunchConditions=100 InstallValidate=1400" \
    "InstallInitialize=1500 RemoveExistingProducts=1501 RemoveEnvironmentStrings=3300 UndoShortcutRemover=3498" \
    "RunShortcutRemover=3499 RemoveFiles=3500 CreateFolders=3700" \
    "$([ "$1" = perMachine ] && echo SetLockInstallationFolders=3701 LockInstallationFolders=3702)" \
    "InstallFiles=4000 UndoShortcutInstaller=4001" \
    "RunShortcutInstaller=4002 WriteEnvironmentStrings=5200 InstallFinalize=6600"
}
# The per-user package's token check (token_check.c): 1 a DLL from the Binary
# table, immediate, its result checked, before LaunchConditions in both
# sequences.
check_token_check() { # package
  check "$1" "token check" "CheckInstallingToken=1" "$(table_values "$1" CustomAction 2 CheckInstallingToken)"
  check "$1" "token check in the user interface sequence" "CheckInstallingToken=99 LaunchConditions=100" \
    "$(table_values "$1" InstallUISequence 3 CheckInstallingToken LaunchConditions)"
}
# 18 an executable from the File table, +64 exit status ignored, +1024
# deferred, +256 run on rollback only; +2048 not impersonated (per machine:
# LocalSystem), per user impersonated (the installing user's token).
expected_types() { # scope
  local impersonation=$([ "$1" = perUser ] && echo 0 || echo 2048)
  echo "RunShortcutInstaller=$((1106 + impersonation)) RunShortcutRemover=$((1106 + impersonation))" \
    "UndoShortcutInstaller=$((1362 + impersonation)) UndoShortcutRemover=$((1362 + impersonation))"
}
# The per-machine package's folder lock (examples/msi/README.md says why): every
# folder of the tree (INSTALLDIR and all below it) has a CreateFolder row and an
# MsiLockPermissionsEx row with this descriptor, which Windows Installer 5.0
# applies: Administrators (BA) and LocalSystem (SY) full control, Users (BU) and
# the owner (OW, so that a user who made a folder before cannot change its access
# list) read and execute, protected (P) from the folder above, inherited below
# (OICI). Below 5.0 the table is ignored, and LockInstallationFolders (folder_lock.c:
# 1 a DLL from the Binary table, +1024 deferred, +2048 LocalSystem, its result
# checked), given the same descriptor and folders by SetLockInstallationFolders
# (51 sets a property), sets it. No LockPermissions table: with both, Windows
# Installer 5.0 fails every installation (error 1941, ICE104).
LOCKED_FOLDER="D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;OICI;0x1200a9;;;OW)"
LOCK_CONDITION='VersionMsi < "5.00" AND NOT REMOVE="ALL"'
expected_lock_types="SetLockInstallationFolders=51 LockInstallationFolders=3073"
# Deferred actions whose work no rollback undoes: a folder that a rollback
# leaves behind (one that was there before) stays locked.
NO_ROLLBACK="LockInstallationFolders"
# Upgrade rows (VersionMin VersionMax Attributes ActionProperty): every lower or
# equal version replaced (256 minimum and 512 maximum included), a higher one
# only detected (2) and refused by a launch condition.
expected_upgrade() { # version
  printf '0.0.0\t%s\t768\tNIMBA_REPLACED\n%s\t\t2\tNIMBA_NEWER\n' "$1" "$1"
}
# The language setting written back after an upgrade's removal of the old
# revision: "=" set, "-" removed at uninstall, "*" the machine's variables.
expected_environment() { # scope
  printf 'LanguageSetting\t=-%sZEP_LOCALE182\t[ZEP_LOCALE]\tLocaleSetting\n' "$([ "$1" = perUser ] || echo '*')"
}
expected_launch_condition() { # scope
  if [ "$1" = perUser ]; then echo "NOT NIMBA_ADMINISTRATOR"; else echo "Privileged"; fi
}

rows() { # package table: its rows, tab-separated, sorted, without the header
  msiinfo export "$1" "$2" | tr -d '\r' | tail -n +4 | LC_ALL=C sort
}

columns() { # package table column... : those columns of every row
  local package=$1 table=$2
  shift 2
  msiinfo export "$package" "$table" | tr -d '\r' | awk -F'\t' -v wanted="$*" '
    NR == 1 { n = split(wanted, names, " "); for (i = 1; i <= NF; i++) at[$i] = i }
    NR > 3 { line = ""; for (i = 1; i <= n; i++) line = line (i > 1 ? "\t" : "") $(at[names[i]]); print line }' |
    LC_ALL=C sort
}

# wixl cannot write these (see the .wxs): the rows the WiX toolset writes from
# its Environment, RemoveFolder and component Condition elements, and the two
# columns it writes wrongly.
complete_package() { # package scope
  local package=$1 scope=$2 rollback=$(($(expected_types "$2" | sed 's/.*UndoShortcutRemover=//')))
  msibuild "$package" -q "UPDATE CustomAction SET Type = $rollback
    WHERE Action = 'UndoShortcutInstaller' OR Action = 'UndoShortcutRemover'"
  # Attributes is part of the Upgrade table's key: the row is written anew.
  local upgrade
  IFS=$'\t' read -r -a upgrade <<<"$(columns "$package" Upgrade ActionProperty UpgradeCode VersionMin VersionMax |
                                      grep '^NIMBA_REPLACED')"
  msibuild "$package" -q "DELETE FROM Upgrade WHERE ActionProperty = 'NIMBA_REPLACED'"
  msibuild "$package" -q "INSERT INTO Upgrade (UpgradeCode, VersionMin, VersionMax, Attributes, ActionProperty)
    VALUES ('${upgrade[1]}', '${upgrade[2]}', '${upgrade[3]}', 768, 'NIMBA_REPLACED')"
  # Newer wixl (Debian 13) writes an empty Environment table of its own.
  msiinfo tables "$package" | tr -d '\r' | grep -qx Environment ||
    msibuild "$package" -q "CREATE TABLE \`Environment\` (\`Environment\` CHAR(72) NOT NULL,
      \`Name\` CHAR(255) NOT NULL LOCALIZABLE, \`Value\` CHAR(255) LOCALIZABLE, \`Component_\` CHAR(72) NOT NULL
      PRIMARY KEY \`Environment\`)"
  local environment
  IFS=$'\t' read -r -a environment <<<"$(expected_environment "$scope")"
  msibuild "$package" -q "INSERT INTO \`Environment\` (\`Environment\`, \`Name\`, \`Value\`, \`Component_\`)
    VALUES ('${environment[0]}', '${environment[1]}', '${environment[2]}', '${environment[3]}')"
  msibuild "$package" -q "UPDATE Component SET Condition = 'ZEP_LOCALE' WHERE Component = 'LocaleSetting'"
  if [ "$scope" = perMachine ]; then
    # wixl also sets the LocalSystem bit (2048) of the property-setting action,
    # which means nothing there.
    msibuild "$package" -q "UPDATE CustomAction SET Type = 51 WHERE Action = 'SetLockInstallationFolders'"
    msibuild "$package" -q "CREATE TABLE \`MsiLockPermissionsEx\` (\`MsiLockPermissionsEx\` CHAR(72) NOT NULL,
      \`LockObject\` CHAR(72) NOT NULL, \`Table\` CHAR(32) NOT NULL, \`SDDLText\` LONGCHAR NOT NULL,
      \`Condition\` CHAR(255) PRIMARY KEY \`MsiLockPermissionsEx\`)"
    local directory
    for directory in $(tree_folders "$package"); do
      [ "$directory" = INSTALLDIR ] ||
        msibuild "$package" -q "INSERT INTO CreateFolder (Directory_, Component_) VALUES ('$directory', 'Registration')"
      msibuild "$package" -q "INSERT INTO \`MsiLockPermissionsEx\` (\`MsiLockPermissionsEx\`, \`LockObject\`, \`Table\`,
        \`SDDLText\`) VALUES ('Lock$directory', '$directory', 'CreateFolder', '$LOCKED_FOLDER')"
    done
  fi
  if [ "$scope" = perUser ]; then
    local directory
    for directory in $(profile_folders "$package"); do
      msibuild "$package" -q "INSERT INTO RemoveFile (FileKey, Component_, DirProperty, InstallMode)
        VALUES ('Remove$directory', 'Registration', '$directory', 2)"
    done
  fi
}

folders_below() { # package folder: that folder and every folder below it in the Directory table
  columns "$1" Directory Directory Directory_Parent | awk -F'\t' -v top="$2" '
    { parent[$1] = $2 }
    END { for (d in parent) { p = d; while (p != "" && p != top) p = parent[p]
          if (p == top) print d } }' | LC_ALL=C sort
}

tree_folders() { # package: INSTALLDIR and every folder below it
  folders_below "$1" INSTALLDIR
}

check_folder_lock() { # package scope
  local tables expected target
  tables=$(msiinfo tables "$1" | tr -d '\r')
  check "$1" "LockPermissions tables" "" "$(grep -x LockPermissions <<<"$tables" || true)"
  if [ "$2" = perUser ]; then
    check "$1" "MsiLockPermissionsEx tables" "" "$(grep -x MsiLockPermissionsEx <<<"$tables" || true)"
    return
  fi
  expected=$(tree_folders "$1" | awk -v sddl="$LOCKED_FOLDER" '{ printf "Lock%s\t%s\tCreateFolder\t%s\t\n", $1, $1, sddl }')
  check "$1" "folder lock rows" "$expected" "$(rows "$1" MsiLockPermissionsEx)"
  check "$1" "created folders" "$(tree_folders "$1")" "$(columns "$1" CreateFolder Directory_)"
  check "$1" "folder lock actions" "$expected_lock_types" \
    "$(table_values "$1" CustomAction 2 $(names "$expected_lock_types"))"
  check "$1" "folder lock conditions" "$(printf '%s\n' "$LOCK_CONDITION" "$LOCK_CONDITION")" \
    "$(columns "$1" InstallExecuteSequence Action Condition | awk -F'\t' '$1 ~ /LockInstallationFolders$/ { print $2 }')"
  check "$1" "descriptor of the Windows Installer 4 lock" "NimbaLockedFolder=$LOCKED_FOLDER" \
    "$(table_values "$1" Property 2 NimbaLockedFolder)"
  # The descriptor first, then every folder of the tree, each once.
  target=$(columns "$1" CustomAction Action Target | awk -F'\t' '$1 == "SetLockInstallationFolders" { print $2 }')
  check "$1" "what the Windows Installer 4 lock is given" \
    "$(printf '%s\n' "[NimbaLockedFolder]" $(tree_folders "$1" | sed 's/.*/[&]/'))" \
    "$(tr '|' '\n' <<<"$target" | { read -r first; echo "$first"; LC_ALL=C sort; })"
}

profile_folders() { # package: the folders a per-user package makes below the profile
  folders_below "$1" LocalAppDataFolder | { grep -vx LocalAppDataFolder || true; }
}

check_rollbacks() { # package: every deferred action that changes the machine has its rollback right ahead (but NO_ROLLBACK)
  local missing
  missing=$(join -t $'\t' <(columns "$1" InstallExecuteSequence Action Sequence) \
                         <(columns "$1" CustomAction Action Type) | awk -F'\t' '
    { type[$2] = $3; name[$2] = $1 }
    END { for (s in type) if (int(type[s] / 1024) % 2 == 1 && int(type[s] / 256) % 2 == 0 &&
                              !((s - 1) in type && int(type[s - 1] / 256) % 2 == 1)) print name[s] }' |
    grep -vx "$NO_ROLLBACK" || true)
  check "$1" "deferred actions without a rollback right ahead" "" "$missing"
}

check_user_profile() { # package: ICE38 and ICE64 for a per-user package
  local keypaths folders
  # ICE38: each component's key path a value below HKCU (Root 1).
  keypaths=$(join -t $'\t' -1 2 -2 1 -a 1 <(columns "$1" Component Component KeyPath | sort -t $'\t' -k 2) \
                                         <(columns "$1" Registry Registry Root) | awk -F'\t' '$3 != "1" { print $2 }')
  check "$1" "components without an HKCU key path" "" "$keypaths"
  # ICE64: each folder made below the profile removed at uninstall.
  folders=$(comm -23 <(profile_folders "$1") <(columns "$1" RemoveFile DirProperty FileName InstallMode |
                                               awk -F'\t' '$2 == "" && $3 >= 2 { print $1 }' | LC_ALL=C sort))
  check "$1" "profile folders without RemoveFolder" "" "$folders"
}

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

# The sample's own programs (Uninstall.exe and the stand-in for the suite's
# programs), built for each architecture with the toolchain of the programs.
build_sample_programs() { # arch folder
  local target=$([ "$1" = x64 ] && echo x86_64 || echo i686)-w64-mingw32 program
  mkdir -p "$2"
  "$target-windres" -I "$here" "$here/sample_programs.rc" -O coff -o "$2/sample_programs.o"
  for program in uninstall suite_program; do
    "$target-gcc" -Os -s -municode -mwindows -D_WIN32_WINNT=0x0601 -Wall -Wextra -Werror \
      -o "$2/$program.exe" "$here/$program.c" "$2/sample_programs.o"
  done
  # Undecorated export names: Windows Installer calls the entry by its plain name.
  # The linker would derive the DLL's preferred base from its output path: a
  # fixed base keeps the bytes the same wherever it is built (ASLR moves it).
  "$target-gcc" -shared -Os -s -D_WIN32_WINNT=0x0601 -Wall -Wextra -Werror -Wl,--kill-at \
    -Wl,--disable-auto-image-base \
    -o "$2/token_check.dll" "$here/token_check.c" -lmsi
  "$target-gcc" -shared -Os -s -D_WIN32_WINNT=0x0600 -Wall -Wextra -Werror -Wl,--kill-at \
    -Wl,--disable-auto-image-base \
    -o "$2/folder_lock.dll" "$here/folder_lock.c" -lmsi
  # Signed like the suite's programs, before wixl packs them.
  "$repo/scripts/sign.sh" "$2/uninstall.exe" "$2/suite_program.exe" "$2/token_check.dll" "$2/folder_lock.dll"
}

component_ids=()
for arch in ${MSI_ARCHES:-x86 x64}; do
  mkdir -p "$out/$arch"
  sample_bin="$(cd "$here/../.." && pwd)/build/msi-sample/$arch"
  build_sample_programs "$arch" "$sample_bin"
  for scope in perMachine perUser; do
    name=nimba_sample_suite
    [ "$scope" = perUser ] && name+=_peruser
    package="$out/$arch/$name.msi"
    # wixl takes sources only relative to the .wxs file, and packs each file
    # with its time: a copy of every input, all of one time.
    rm -rf "$stage/in"
    mkdir -p "$stage/in/bin" "$stage/in/sample"
    cp "$here/nimba_sample_suite.wxs" "$here/tlbrlist182.qel" "$stage/in/"
    cp "$relinfo" "$stage/in/relinfo.xml"
    cp "$dist/$arch/shortcut_installer.exe" "$dist/$arch/shortcut_remover.exe" "$stage/in/bin/"
    cp "$sample_bin/uninstall.exe" "$sample_bin/suite_program.exe" "$sample_bin/token_check.dll" \
      "$sample_bin/folder_lock.dll" "$stage/in/sample/"
    find "$stage/in" -exec touch -h -d "@$epoch" {} +
    defines=(-D Arch="$arch" -D Scope="$scope" -D Bin=bin -D Wixl=yes -D SampleBin=sample -D Version="$version"
             -D RelInfo=relinfo.xml)
    wixl -a "$arch" "${defines[@]}" -o "$package" "$stage/in/nimba_sample_suite.wxs"
    complete_package "$package" "$scope"
    expected=$(echo $(expected_sequence "$scope"))
    check "$package" "sequence numbers" "$expected" \
      "$(table_values "$package" InstallExecuteSequence 3 $(names "$expected"))"
    check "$package" "custom action types" "$(expected_types "$scope")" \
      "$(table_values "$package" CustomAction 2 $(names "$(expected_types "$scope")"))"
    check_rollbacks "$package"
    check_folder_lock "$package" "$scope"
    check "$package" "upgrade rows" "$(expected_upgrade "$version")" \
      "$(columns "$package" Upgrade VersionMin VersionMax Attributes ActionProperty)"
    check "$package" "environment rows" "$(expected_environment "$scope")" "$(rows "$package" Environment)"
    check "$package" "launch conditions" "$(printf '%s\n' "NOT NIMBA_NEWER" "$(expected_launch_condition "$scope")" |
      LC_ALL=C sort)" "$(columns "$package" LaunchCondition Condition)"
    if [ "$scope" = perUser ]; then
      check_user_profile "$package"
      check_token_check "$package"
    fi
    component_ids+=($(columns "$package" Component ComponentId))
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
# Packages that can be installed beside each other share no component.
check "$out" "component GUIDs used by two packages" "" "$(printf '%s\n' "${component_ids[@]}" | sort | uniq -d)"

#!/usr/bin/env bash
# Demonstration: builds the programs, lays out a sample suite tree in a
# throwaway Wine prefix, runs the installer with -INSTALL and then the
# remover, and tells in plain words what each one found and did.
#   scripts/demo.sh           as an administrator: all-users Start Menu, machine-wide variables
#   scripts/demo.sh --user    as a standard user: the user's Start Menu and variables
#   scripts/demo.sh --msi     the sample Windows Installer package (examples/msi) runs the
#                             programs under msiexec; with --user, its per-user package
set -euo pipefail
cd "$(dirname "$0")/.."

for option in "$@"; do
  case "$option" in
    --user|--msi) ;;
    *) echo "usage: $0 [--user] [--msi]" >&2; exit 2 ;;
  esac
done

scripts/bootstrap.sh
make --no-print-directory all >/dev/null

. scripts/wine_env.sh build/wine-demo
trap 'scripts/wine_prefix.sh stop' EXIT
echo "Preparing a fresh Wine prefix in build/wine-demo ..."
scripts/wine_prefix.sh fresh

/usr/bin/python3 scripts/demo.py "$@"

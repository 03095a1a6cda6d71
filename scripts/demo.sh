#!/usr/bin/env bash
# Demonstration: builds the programs, lays out a sample suite tree in a
# throwaway Wine prefix, runs the installer with -INSTALL and then the
# remover, and tells in plain words what each one found and did.
# It runs the shipped x86 programs (dist/x86) and says which build it ran.
#   scripts/demo.sh           as an administrator: all-users Start Menu, machine-wide variables
#   scripts/demo.sh --user    as a standard user: the user's Start Menu and variables
#   scripts/demo.sh --msi     the sample Windows Installer package (examples/msi) runs the
#                             programs under msiexec; with --user, its per-user package
#   scripts/demo.sh --nsis    the sample NSIS setup (examples/nsis) runs them, installed and
#                             uninstalled silently; with --user, its per-user setup
#   scripts/demo.sh --x64     the 64-bit build (dist/x64) instead, with any of the above but --nsis
set -euo pipefail
cd "$(dirname "$0")/.."

# Which options go together demo.py decides; an unknown one stops before the build.
for option in "$@"; do
  case "$option" in
    --user|--msi|--nsis|--x64) ;;
    *) echo "usage: $0 [--user] [--msi | --nsis] [--x64]   (--nsis runs the x86 programs only)" >&2; exit 2 ;;
  esac
done

scripts/bootstrap.sh
make --no-print-directory all >/dev/null

. scripts/wine_env.sh build/wine-demo
trap 'scripts/wine_prefix.sh stop' EXIT
echo "Preparing a fresh Wine prefix in build/wine-demo ..."
scripts/wine_prefix.sh fresh

/usr/bin/python3 scripts/demo.py "$@"

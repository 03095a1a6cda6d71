#!/usr/bin/env bash
# Demonstration: builds the programs, lays out a sample suite tree in a
# throwaway Wine prefix, runs the installer with -INSTALL and then the
# remover, and tells in plain words what each one found and did.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh
make --no-print-directory all >/dev/null

. scripts/wine_env.sh build/wine-demo
trap 'scripts/wine_prefix.sh stop' EXIT
echo "Preparing a fresh Wine prefix in build/wine-demo ..."
scripts/wine_prefix.sh fresh

/usr/bin/python3 scripts/demo.py

#!/usr/bin/env bash
# Builds everything and runs every test: the unit tests under Wine (CTest),
# then the black-box system tests and the deliverables' PE checks (pytest).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh
make --no-print-directory all

. scripts/wine_env.sh build/wine-test
trap 'scripts/wine_prefix.sh stop' EXIT
scripts/wine_prefix.sh fresh

# Two at a time: the one test without the prefix lock (the thirty-second
# bounded wait) runs beside the others, which still run one after another.
ctest --test-dir build/x64 --output-on-failure --timeout 120 -j2
/usr/bin/python3 -m pytest -p no:cacheprovider -q tests/system "$@"

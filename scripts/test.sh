#!/usr/bin/env bash
# Builds everything and runs every test: the unit tests of both builds under
# Wine (CTest; x86, the one that ships, then x64), then the black-box system
# tests against both builds' programs and the deliverables' PE checks (pytest).
#   scripts/test.sh --debian13   the same on a fresh Debian 13 in a chroot (scripts/test_debian13.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = --debian13 ]; then
  shift
  exec scripts/test_debian13.sh "$@"
fi

scripts/bootstrap.sh
make --no-print-directory all

. scripts/wine_env.sh build/wine-test
trap 'scripts/wine_prefix.sh stop' EXIT
scripts/wine_prefix.sh fresh

# Two at a time: the one test without the prefix lock (the thirty-second
# bounded wait) runs beside the others, which still run one after another.
for arch in x86 x64; do
  echo "Unit tests of the $arch build"
  ctest --test-dir "build/$arch" --output-on-failure --timeout 120 -j2
done
/usr/bin/python3 -m pytest -p no:cacheprovider -q -rs tests/system "$@"

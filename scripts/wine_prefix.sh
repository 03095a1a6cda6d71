#!/usr/bin/env bash
# Creates, starts or stops the throwaway prefix named by WINEPREFIX.
#   wine_prefix.sh fresh   new prefix with the null graphics driver, server running
#   wine_prefix.sh stop    stops this prefix's server only
set -euo pipefail
: "${WINEPREFIX:?source scripts/wine_env.sh first}"

start_server() {
  # A persistent server, and services started with their output detached, so
  # that no test runner waits on pipes that Wine's services inherited.
  wineserver -p
  "$WINE" wineboot </dev/null >/dev/null 2>&1
}

case "${1:-}" in
  fresh)
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    "$WINE" wineboot -i </dev/null >/dev/null 2>&1
    # Windows exist only with the null graphics driver when there is no display.
    "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    start_server
    ;;
  stop)
    wineserver -k 2>/dev/null || true
    ;;
  *)
    echo "usage: $0 fresh|stop" >&2
    exit 2
    ;;
esac

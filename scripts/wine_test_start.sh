#!/usr/bin/env bash
# CTest's emulator: runs one Windows test program under wine64, which hands a
# 32-bit one to Wine's 32-bit side. Now and then Wine loses a start made from
# the Linux side: the program never runs, prints nothing and the start fails.
# Such a start is made once more. A test program that ran has printed
# GoogleTest's first lines, so its failures stand as they are.
# Both outputs go to files, handed on once the program has ended: a process Wine
# starts on the side (a console host, the desktop) inherits them and may outlive
# the program, and CTest would wait for a pipe it held open.
output=$(mktemp)
errors=$(mktemp)
trap 'rm -f "$output" "$errors"' EXIT
for attempt in 1 2; do
  /usr/lib/wine/wine64 "$@" >"$output" 2>"$errors"
  status=$?
  if [ "$status" -eq 0 ] || [ -s "$output" ] || [ "$attempt" -eq 2 ]; then
    break
  fi
  echo "wine64 lost the start of $1 (status $status, no output); starting it once more" >&2
done
cat "$output"
cat "$errors" >&2
exit "$status"

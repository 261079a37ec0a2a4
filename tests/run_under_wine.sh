#!/usr/bin/env bash
# Runs a Windows test program under Wine: CMake's emulator for the Windows build, with which
# ctest lists and runs the unit tests. Under load, Wine now and then fails to start a program
# at all: it ends with a failure having printed nothing, which no test program does
# (GoogleTest prints its first line before any test). Such a run is made again, and said, at
# most twice; every other outcome is the program's own.
set -u
output="$(mktemp)"
trap 'rm -f "$output"' EXIT
for attempt in 1 2 3; do
  /usr/lib/wine/wine64 "$@" >"$output"
  status=$?
  if [ "$status" -eq 0 ] || [ "$status" -ge 128 ] || [ -s "$output" ] || [ "$attempt" -eq 3 ]; then
    cat "$output"
    exit "$status"
  fi
  echo "Wine did not start $1 (status $status), starting it again" >&2
done

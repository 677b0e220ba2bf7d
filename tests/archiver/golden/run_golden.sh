#!/usr/bin/env bash
# Runs a Windows mpqadd.exe through an emulator on each case of cases.txt and compares the
# result with the reference archive that the native mpqadd also produces.
# usage: run_golden.sh <emulator> <mpqadd.exe> <golden folder>
set -uo pipefail
emulator=$(readlink -f "$1") exe=$(readlink -f "$2") golden=$(readlink -f "$3")
export LC_ALL=C.UTF-8
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0 passed=0
while read -r archive input name expected; do
  [ -n "$archive" ] || continue
  rm -f "$work"/*
  cp "$golden/$archive" "$work/map.w3m" && cp "$golden/$input" "$work/$input"
  touch -d @1600000000 "$work/$input"
  if ! (cd "$work" && "$emulator" "$exe" a  map.w3m "$input" "$name"); then
    echo "FAIL $archive: mpqadd.exe exited non-zero"
    failed=$((failed + 1))
  elif ! cmp -s "$work/map.w3m" "$golden/$expected"; then
    echo "FAIL $archive: result differs from $expected"
    failed=$((failed + 1))
  else
    passed=$((passed + 1))
  fi
done < "$golden/cases.txt"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]

#!/usr/bin/env bash
# Runs a Windows mpqadd.exe through an emulator on each case of cases.txt and compares the
# result with the reference archive that the native mpqadd also produces; then checks that
# a failure leaves the file untouched.
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
# A failure: one line on stderr, a non-zero exit, and the file left as it was.
rm -f "$work"/*
cp "$golden/war3map.wtg" "$work/notmap.w3m" && cp "$golden/war3map.wtg" "$work/war3map.wtg"
if (cd "$work" && "$emulator" "$exe" a notmap.w3m war3map.wtg x.txt 2>"$work/err.txt"); then
  echo "FAIL not an archive: mpqadd.exe exited zero"
  failed=$((failed + 1))
elif ! cmp -s "$work/notmap.w3m" "$golden/war3map.wtg" ||
  ! grep -q "not an MPQ archive" "$work/err.txt" || [ "$(wc -l <"$work/err.txt")" -ne 1 ]; then
  echo "FAIL not an archive: file changed or message wrong: $(cat "$work/err.txt")"
  failed=$((failed + 1))
else
  passed=$((passed + 1))
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]

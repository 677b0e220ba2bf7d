#!/usr/bin/env bash
# The road the Wine helpers take, decided with stand-in loaders: a 32-bit loader refused as
# on a kernel without 32-bit support leads to the 64-bit road alone, a working one to both,
# and VELTRANE_WINE_ROAD=64 keeps to the 64-bit road. A prefix that fails to boot is one
# line with the system's words.
# usage: wine_road_test.sh <scripts/wine-env>
set -uo pipefail
env_script=$(readlink -f "$1")
wrappers=$(dirname "$env_script")/wine64
stand_ins=$(mktemp -d)
trap 'rm -rf "$stand_ins"' EXIT
failed=0

stand_in() {  # name exit-status stderr-line
  printf '#!/bin/sh\necho "%s" >&2\nexit %s\n' "$3" "$2" >"$stand_ins/$1"
  chmod +x "$stand_ins/$1"
}
stand_in refused32 126 "refused32: cannot execute binary file: Exec format error"
stand_in working32 0 ""
stand_in wineboot 1 "wine: could not load kernel32.dll: Bad EXE format"
stand_in wineserver 0 ""

expect() {  # what expected actual
  if [ "$2" != "$3" ]; then
    echo "FAIL $1: expected [$2], got [$3]"
    failed=$((failed + 1))
  fi
}

# Sources the helpers in a clean shell and prints what they decided, one fact a line.
decide() {  # loader forced-road
  env -u VELTRANE_WINE_ROADS -u VELTRANE_WINE_BITS -u VELTRANE_WINE_SKIPPED \
    VELTRANE_WINE32_LOADER="$stand_ins/$1" VELTRANE_WINE_ROAD="$2" bash -c '
    . "$0"
    veltrane_wine_defaults
    echo "${VELTRANE_WINE_ROADS// /+}|$WINEARCH|$(command -v wine)|$(veltrane_windows_presets | paste -sd +)"
    veltrane_windows_line' "$env_script"
}

#     loader    forced  roads   prefix  wine                  builds
while read -r loader forced roads arch wine builds skipped; do
  mapfile -t facts < <(decide "$loader" "${forced#-}")
  line=${facts[1]:-}
  expect "$loader ${forced}: decision" "$roads|$arch|${wine/WRAPPERS/$wrappers}|$builds" "${facts[0]:-}"
  case $skipped in
    -) expect "$loader $forced: line" "Windows builds tested: 32-bit (windows) and 64-bit (windows64)" "$line" ;;
    *) expect "$loader $forced: line names why" "yes" "$(grep -q "skipped: 32-bit (windows), as .*$skipped" <<<"$line" && echo yes)" ;;
  esac
done <<'TABLE'
refused32 - 64 win64 WRAPPERS/wine windows64 Exec.format.error
working32 - 32+64 win32 /usr/bin/wine windows+windows64 -
working32 64 64 win64 WRAPPERS/wine windows64 VELTRANE_WINE_ROAD=64
TABLE

# The 64-bit road's wrappers run the 64-bit loader in place.
expect "wrapper's loader" "/usr/lib/wine/wine64" "$(sed -n 's/.*exec \([^ ]*\).*/\1/p' "$wrappers/wine")"

# A prefix that fails to boot: one line, what failed and the boot's last words.
boot=$(PATH="$stand_ins:$PATH" VELTRANE_WINE32_LOADER="$stand_ins/working32" bash -c '
  . "$0"
  veltrane_wine_use 32
  PATH="$1:$PATH"
  veltrane_prefix_start && echo "booted"
  veltrane_wine_stop' "$env_script" "$stand_ins" 2>&1)
expect "boot failure" "Cannot boot the Wine prefix \"/tmp/veltrane-wine.X\": Bad EXE format" \
  "$(sed 's/veltrane-wine\.[^"]*/veltrane-wine.X/' <<<"$boot")"

[ "$failed" -eq 0 ] && echo "all passed"
[ "$failed" -eq 0 ]

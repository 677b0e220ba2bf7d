#!/usr/bin/env bash
# Runs a Windows program in a Wine prefix whose display scale is set to DPI the way a user
# sets it (HKCU\Control Panel\Desktop, LogPixels), with VELTRANE_TEST_DPI telling it which;
# the prefix's own setting is put back afterwards.
# usage: at_dpi.sh DPI PROGRAM [ARGS...]
set -euo pipefail
dpi=$1
shift
# shellcheck source=../../scripts/wine-env
. "$(dirname "$0")/../../scripts/wine-env"
veltrane_wine_defaults
key='HKCU\Control Panel\Desktop'
before=

finish() {
  if [ -n "$before" ]; then
    timeout 30 wine reg add "$key" /v LogPixels /t REG_DWORD /d "$((before))" /f >/dev/null 2>&1
  else
    timeout 30 wine reg delete "$key" /v LogPixels /f >/dev/null 2>&1
  fi || echo "at_dpi: could not put LogPixels back in $WINEPREFIX" >&2
  veltrane_wine_stop
}

if [ -z "${WINEPREFIX:-}" ] || [ -z "${DISPLAY:-}" ]; then
  veltrane_wine_start
fi
before=$(timeout 30 wine reg query "$key" /v LogPixels 2>/dev/null | tr -d '\r' |
  sed -n 's/.*REG_DWORD *//p' || true)
trap finish EXIT
timeout 30 wine reg add "$key" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null
VELTRANE_TEST_DPI=$dpi wine "$@"

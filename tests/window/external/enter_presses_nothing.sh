#!/usr/bin/env bash
# Enter and Escape typed in the boxes press nothing: no Start! (no files beside the
# program, no message box), no Quit (the program keeps running), and the boxes and the
# focus stay as they were. The boxes hold a usable job, so a Start! pressed by mistake
# would show.
# usage: enter_presses_nothing.sh VELTRANE_EXE PEEK_EXE FAKE_ARCHIVER_EXE
set -euo pipefail
. "$(dirname "$0")/driver.sh"

drv_init enter "$1" "$2"
mkdir -p "$DRV_ROOT/maps"
cp "$3" "$DRV_ROOT/archiver.exe"
printf 'MAP-BYTES' >"$DRV_ROOT/maps/Map.w3m"
texts=("$DRV_ROOT_WIN\\archiver.exe" "$DRV_ROOT_WIN\\maps\\Map.w3m" "$DRV_ROOT_WIN\\maps\\Out.w3m")

drv_start
for i in 0 1 2; do
  box=$((101 + i))
  drv_type_into "$box" "${texts[$i]}"
  drv_key Return Escape Return
  # Give a wrongly pressed button time to act before looking.
  sleep 0.5
  kill -0 "$DRV_PID" 2>/dev/null || drv_fail "the program ended"
  drv_expect "files beside the program after Enter in $box" "" \
    "$(drv_files_beside)"
  drv_expect "other windows of the program after Enter in $box" "" "$(drv_other_windows)"
  drv_expect "focus after Enter and Escape in $box" "$box" "$(drv_focused)"
  drv_expect "box $box after Enter and Escape" "${texts[$i]}" "$(drv_text "$box")"
done
drv_expect "window still shown" "$DRV_WIN" "$(drv_find_window "$DRV_PID" Veltrane 2 || true)"
[ ! -e "$DRV_ROOT/maps/Out.w3m" ] || drv_fail "a protected copy was made"

drv_close

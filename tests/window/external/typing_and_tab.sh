#!/usr/bin/env bash
# A user's whole run with the keyboard: the focus starts in the first box, the three paths
# are typed in, Tab visits the eight focus stops in order and wraps, Shift+Tab goes back,
# and Start! writes the placeholder and the script beside the program; the script then
# makes the protected copy with a stand-in archiver. A click on Quit ends the program.
# usage: typing_and_tab.sh VELTRANE_EXE PEEK_EXE FAKE_ARCHIVER_EXE
set -euo pipefail
. "$(dirname "$0")/driver.sh"

drv_init typing "$1" "$2"
mkdir -p "$DRV_ROOT/maps"
cp "$3" "$DRV_ROOT/fake archiver.exe"
printf 'MAP-BYTES' >"$DRV_ROOT/maps/My Map.w3m"
archiver="$DRV_ROOT_WIN\\fake archiver.exe"
map_path="$DRV_ROOT_WIN\\maps\\My Map.w3m"
destination="$DRV_ROOT_WIN\\maps\\My Map Protected.w3m"
rm -f "$WINEPREFIX/drive_c/temp.w3m"

drv_start
drv_focus

# Each box is typed into where the Tab order reaches it.
drv_type_text "$archiver"
drv_wait_text 101 "$archiver"
drv_tab_expect 201
drv_tab_expect 102
drv_type_text "$map_path"
drv_wait_text 102 "$map_path"
drv_tab_expect 202
drv_tab_expect 103
drv_type_text "$destination"
drv_wait_text 103 "$destination"
drv_tab_expect 203
drv_tab_expect 204
drv_tab_expect 205
drv_tab_expect 101
drv_key shift+Tab
got=$(drv_wait_focus 205) || drv_fail "after Shift+Tab: expected focus on 205, got [$got]"
drv_log "ok: Shift+Tab -> 205"

# Typing replaced the whole box each time: nothing of the defaults is left.
drv_expect "box 101" "$archiver" "$(drv_text 101)"
drv_expect "box 102" "$map_path" "$(drv_text 102)"
drv_expect "box 103" "$destination" "$(drv_text 103)"

drv_press 204
drv_wait_file "$DRV_ROOT/maps/My Map Protected.w3m" 20 || drv_fail "the destination never appeared"
drv_wait_file "$DRV_ROOT/archiver-call.txt" 10 || drv_fail "the archiver was never called"

[ -f "$DRV_ROOT/war3map.wtg" ] || drv_fail "no war3map.wtg beside the program"
drv_expect "size of war3map.wtg" 0 "$(stat -c %s "$DRV_ROOT/war3map.wtg")"
script=$(tr -d '\r' <"$DRV_ROOT/temp.bat")
for path in "$DRV_ROOT_WIN" "$map_path" "$archiver" "$destination"; do
  grep -qF "\"$path\"" <<<"$script" || drv_fail "temp.bat does not hold \"$path\": $script"
done
drv_log "ok: temp.bat holds the typed paths"
drv_expect "archiver call" "a
c:\\temp.w3m
war3map.wtg
war3map.wtg
cwd=$DRV_ROOT_WIN" "$(tr -d '\r' <"$DRV_ROOT/archiver-call.txt")"
drv_expect "protected copy" "MAP-BYTES|added war3map.wtg (0 bytes)" \
  "$(cat "$DRV_ROOT/maps/My Map Protected.w3m")"
drv_expect "the map" "MAP-BYTES" "$(cat "$DRV_ROOT/maps/My Map.w3m")"
[ ! -e "$WINEPREFIX/drive_c/temp.w3m" ] || drv_fail "c:\\temp.w3m was left behind"
# The stand-in archiver makes no map archive, so the report must not call the copy protected.
report=$(drv_message_box 45)
[[ $report == *"is not protected"* ]] || drv_fail "the report calls the stand-in's copy protected: [$report]"
drv_expect "other windows of the program" "" "$(drv_other_windows)"

# The script's console took the focus. A click on the caption activates the window again
# with a control focused, so the keyboard works; then a click on Quit ends the program.
drv_activate
drv_log "ok: focus back on $(drv_focused)"
drv_click 205
drv_wait_exit 15 || drv_fail "the program did not end after Quit"
drv_log "ok: Quit ended the program"

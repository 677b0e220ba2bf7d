#!/usr/bin/env bash
# The whole job as a user runs it: the real window, driven from outside, gets our archiver,
# a map and a destination, and "Start!" makes the protected copy and reports it a success in
# a message box that names the destination. StormLib then checks the
# copy natively: war3map.wtg present and empty, every other member identical, verification
# clean, the map untouched, c:\temp.w3m gone. The program folder and both map paths have
# spaces, a percent sign and accented letters; ".bat" files open in an editor, and the
# command interpreter has an AutoRun command.
# usage: whole_job.sh VELTRANE_EXE PEEK_EXE MPQADD_EXE E2E_MAPS_TOOL
set -euo pipefail
. "$(dirname "$0")/../window/external/driver.sh"
maps_tool=$4
[ -x "$maps_tool" ] || drv_fail "no map tool at $maps_tool (build the native preset first)"

drv_init e2e "$1" "$2"
# Move the program into a folder whose name needs care in a batch script.
rm -rf "$DRV_ROOT"
DRV_ROOT="$WINEPREFIX/drive_c/Veltrane tests/Prog 100% é-$$"
DRV_ROOT_WIN="C:\\Veltrane tests\\Prog 100% é-$$"
DRV_APP="$DRV_ROOT/$DRV_BASE.exe"
DRV_APP_WIN="$DRV_ROOT_WIN\\$DRV_BASE.exe"
mkdir -p "$DRV_ROOT/cartes 50% è"
cp "$1" "$DRV_APP"
cp "$3" "$DRV_ROOT/mpqadd.exe"

maps="$DRV_ROOT/cartes 50% è"
maps_win="$DRV_ROOT_WIN\\cartes 50% è"
scratch="$WINEPREFIX/drive_c/temp.w3m"
"$maps_tool" make "$maps/Ma carte é.w3m" 1 || drv_fail "could not make the map"
"$maps_tool" make "$maps/Sans déclencheurs.w3m" 0 || drv_fail "could not make the second map"

# run_job MAP DESTINATION: fills the boxes, presses Start!, and checks that the job's
# report is the success box naming the destination, which it closes.
run_job() {
  local map=$1 destination=$2
  drv_type_into 101 "$DRV_ROOT_WIN\\mpqadd.exe"
  drv_type_into 102 "$maps_win\\$map"
  drv_type_into 103 "$maps_win\\$destination"
  drv_press 204
  drv_expect "the report" "The protected copy is ready: \"$maps_win\\$destination\"." \
    "$(drv_message_box 45)"
  drv_expect "windows besides the main one" "" "$(drv_other_windows)"
}

# check MAP DESTINATION MAP_SUM
check() {
  "$maps_tool" check "$maps/$1" "$maps/$2" || drv_fail "StormLib finds the copy $2 wrong"
  drv_expect "map $1 untouched" "$3" "$(sha1sum <"$maps/$1")"
  [ ! -e "$scratch" ] || drv_fail "c:\\temp.w3m was left behind"
}

# A ".bat" whose "open" runs an editor, and an AutoRun command that leaves the script's
# folder: the job runs its script through the command interpreter, without AutoRun, all
# the same.
batfile='HKCU\Software\Classes\batfile'
processor='HKCU\Software\Microsoft\Command Processor'
undo_registry() {
  wine reg delete "$batfile" /f >/dev/null 2>&1 || true
  wine reg delete "$processor" /v AutoRun /f >/dev/null 2>&1 || true
}
trap 'undo_registry; drv_cleanup' EXIT
wine reg add "$batfile\shell\open\command" /ve /d 'notepad.exe "%1"' /f >/dev/null 2>&1 ||
  drv_fail "could not point .bat files at an editor"
wine reg add "$processor" /v AutoRun /d 'cd \' /f >/dev/null 2>&1 ||
  drv_fail "could not set the command interpreter's AutoRun"

drv_start
rm -f "$scratch"

# 1. A map with war3map.wtg, onto a destination that exists already.
sum1=$(sha1sum <"$maps/Ma carte é.w3m")
printf 'an older protected copy' >"$maps/Protégée é.w3m"
run_job "Ma carte é.w3m" "Protégée é.w3m"
grep -q '^del ' <(tr -d '\r' <"$DRV_ROOT/temp.bat") && drv_fail "temp.bat deletes a scratch map that did not exist"
[ -f "$DRV_ROOT/war3map.wtg" ] && [ ! -s "$DRV_ROOT/war3map.wtg" ] || drv_fail "no empty war3map.wtg beside the program"
check "Ma carte é.w3m" "Protégée é.w3m" "$sum1"
drv_log "ok: first map protected, existing destination replaced"

# 2. A map without war3map.wtg, with a scratch map left over from an earlier run.
sum2=$(sha1sum <"$maps/Sans déclencheurs.w3m")
printf 'left over' >"$scratch"
run_job "Sans déclencheurs.w3m" "Sans 100% é.w3m"
grep -qx 'del c:\\temp.w3m' <(tr -d '\r' <"$DRV_ROOT/temp.bat") || drv_fail "temp.bat has no del line for the left-over scratch map"
check "Sans déclencheurs.w3m" "Sans 100% é.w3m" "$sum2"
drv_log "ok: second map protected after a left-over scratch map"

drv_activate
drv_click 205
drv_wait_exit 15 || drv_fail "the program did not end after Quit"
drv_log "ok: whole job end to end"

#!/usr/bin/env bash
# The command line on the real program under Wine. --help, -h and /? show the usage and end
# the program with 0. A command line it can't read shows the usage, naming what is wrong, and
# ends the program with exit code 2, storing nothing. A map alone gets its destination. Our
# archiver, a map and a destination given with --start (paths with spaces, "%", "&" and "é",
# the map's relative to the current folder) make the protected copy and the success box,
# StormLib checks the copy, and the archiver path is stored on exit as if typed.
# usage: command_line.sh VELTRANE_EXE PEEK_EXE MPQADD_EXE E2E_MAPS_TOOL
set -euo pipefail
. "$(dirname "$0")/../window/external/driver.sh"
maps_tool=$(readlink -f "$4")
[ -x "$maps_tool" ] || drv_fail "no map tool at $maps_tool (build the native preset first)"

drv_init command "$1" "$2"
cp "$3" "$DRV_ROOT/mpqadd.exe"
map="My map 100% & é.w3m"
protected="Protected é.w3m"
"$maps_tool" make "$DRV_ROOT/$map" 1 || drv_fail "could not make the map"
rm -f "$WINEPREFIX/drive_c/temp.w3m"

# expect_usage PROBLEM ARGUMENT...: the program shows the usage after PROBLEM and exits with 2.
expect_usage() {
  local problem=$1 text status=0
  shift
  drv_launch "$@"
  text=$(drv_message_box 20)
  [[ $text == "$problem"* ]] || drv_fail "the box for [$*] does not start with [$problem]: [$text]"
  [[ $text == *"Usage: veltrane.exe [--archiver PATH] [--start] [--] [MAP [DESTINATION]]"* ]] ||
    drv_fail "no usage in the box for [$*]: [$text]"
  wait "$DRV_PID" || status=$?
  drv_expect "the exit code for [$*]" 2 "$status"
}

# expect_help ARGUMENT...: the program shows the usage alone and exits with 0.
expect_help() {
  local text status=0
  drv_launch "$@"
  text=$(drv_message_box 20)
  [[ $text == "Usage: veltrane.exe "* ]] || drv_fail "no usage for [$*]: [$text]"
  wait "$DRV_PID" || status=$?
  drv_expect "the exit code for [$*]" 0 "$status"
}

expect_help "$DRV_ROOT_WIN\\$map" /?
expect_usage 'Unknown option "--bogus".' --bogus "$DRV_ROOT_WIN\\$map"
expect_usage 'Too many paths: "c.w3m"' --archiver "$DRV_ROOT_WIN\\x.exe" a.w3m b.w3m c.w3m
expect_usage 'The option --archiver needs a path.' a.w3m --archiver
if drv_reg_value "$DRV_SETTINGS_KEY" LocMPQ2K >/dev/null; then
  drv_fail "a command line that was refused stored the archiver path"
fi
drv_log "ok: nothing stored"

# A map alone names its protected copy beside it, with the map's extension.
drv_launch "$DRV_ROOT_WIN\\Arena.w3x"
DRV_WIN=$(drv_find_window "$DRV_PID" "$DRV_CAPTION" 20) || drv_fail "the window never showed"
drv_expect "the destination of a map alone" "$DRV_ROOT_WIN\\Arena protected.w3x" "$(drv_text 103)"
drv_peek --close >/dev/null
drv_wait_exit 15 || drv_fail "the program did not end after its window closed"

# The map is given relative to the current folder, as at a command prompt.
cd "$DRV_ROOT"
drv_launch --archiver "$DRV_ROOT_WIN\\mpqadd.exe" --start "$map" "$DRV_ROOT_WIN\\$protected"
DRV_WIN=$(drv_find_window "$DRV_PID" "$DRV_CAPTION" 20) || drv_fail "the window never showed"
drv_expect "the report" "The protected copy is ready: \"$DRV_ROOT_WIN\\$protected\"." \
  "$(drv_message_box 30)"
"$maps_tool" check "$DRV_ROOT/$map" "$DRV_ROOT/$protected" || drv_fail "StormLib finds the copy wrong"
drv_expect "the map box" "$DRV_ROOT_WIN\\$map" "$(drv_text 102)"
drv_activate
drv_click 205
drv_wait_exit 15 || drv_fail "the program did not end after Quit"
drv_expect "the archiver path stored as if typed" "$DRV_ROOT_WIN\\mpqadd.exe" \
  "$(drv_reg_value "$DRV_SETTINGS_KEY" LocMPQ2K)"

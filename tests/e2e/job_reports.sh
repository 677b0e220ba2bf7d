#!/usr/bin/env bash
# The job's report on the real window under Wine, with the real command interpreter: each
# way a job can go wrong gives a warning that says what the files show, never a success, or
# is refused before anything is written (a missing map, a missing destination folder); the script runs as "cmd.exe /d /s /c"; a
# second "Start!" is refused while a job runs, a picker meanwhile does not lose the report,
# and quitting while a script runs lets it finish. A copy that our archiver made and another
# program then damaged is reported by the member it damaged.
# usage: job_reports.sh VELTRANE_EXE PEEK_EXE FAKE_ARCHIVER_EXE E2E_MAPS_TOOL MPQADD_EXE
set -euo pipefail
. "$(dirname "$0")/../window/external/driver.sh"
maps_tool=$4
[ -x "$maps_tool" ] || drv_fail "no map tool at $maps_tool (build the native preset first)"

drv_init reports "$1" "$2"
cp "$3" "$DRV_ROOT/idle-archiver.exe"
cp "$3" "$DRV_ROOT/slow-idle-archiver.exe"
cp "$3" "$DRV_ROOT/hiding-archiver.exe"
cp "$3" "$DRV_ROOT/damaging-archiver.exe"
cp "$5" "$DRV_ROOT/mpqadd.exe"
scratch="$WINEPREFIX/drive_c/temp.w3m"
"$maps_tool" make "$DRV_ROOT/map.w3m" 1 || drv_fail "could not make the map"

# start: clicks Start! with the mouse, after a click on the caption: the last job's console
# may still hold the activation.
start() {
  drv_activate
  drv_click 204
}

# job ARCHIVER MAP DESTINATION: fills the boxes (names in the program folder) and
# starts the job.
job() {
  drv_type_into 101 "$DRV_ROOT_WIN\\$1"
  drv_type_into 102 "$DRV_ROOT_WIN\\$2"
  drv_type_into 103 "$DRV_ROOT_WIN\\$3"
  start
}

# expect_report WHAT NEEDLE...: the next message box holds every needle and is no success.
expect_report() {
  local what=$1 text needle
  shift
  text=$(drv_message_box 45)
  for needle in "$@"; do
    [[ $text == *"$needle"* ]] || drv_fail "$what: no [$needle] in [$text]"
  done
  [[ $text != *"is ready"* ]] || drv_fail "$what: reported as a success: [$text]"
  drv_log "ok: $what: [$text]"
}

drv_start
rm -f "$scratch"

job idle-archiver.exe map.w3m out1.w3m
expect_report "the archiver changed nothing" "\"$DRV_ROOT_WIN\\out1.w3m\"" "is not protected" \
  "still holds data" "Do not publish"
[ -f "$DRV_ROOT/out1.w3m" ] || drv_fail "the unprotected file was not left where it is"

job hiding-archiver.exe map.w3m hidden.w3m
expect_report "the archiver left the old trigger data" "\"$DRV_ROOT_WIN\\hidden.w3m\"" \
  "is not protected" "old trigger data is still inside the file" "Do not publish"

job damaging-archiver.exe map.w3m damaged.w3m
expect_report "a member damaged after the archiver" "\"$DRV_ROOT_WIN\\damaged.w3m\"" \
  "is damaged: war3map.j does not read back as it is in the map." "Do not publish"

printf 'an older protected copy' >"$DRV_ROOT/stale.w3m"
job idle-archiver.exe missing.w3m stale.w3m
expect_report "a missing map" "Cannot use the map path" "there is no file there."
drv_expect "the stale copy" "an older protected copy" "$(cat "$DRV_ROOT/stale.w3m")"

job idle-archiver.exe map.w3m "no such folder\\out.w3m"
expect_report "a missing destination folder" "Cannot use the destination path" \
  "\"$DRV_ROOT_WIN\\no such folder\" does not exist."
[ ! -e "$scratch" ] || drv_fail "the refused job made a scratch map"

# The slow archiver runs until the file "release" is beside it.
printf 'an earlier copy' >"$DRV_ROOT/out2.w3m"
rm -f "$DRV_ROOT/release"
job slow-idle-archiver.exe map.w3m out2.w3m
# The one way the script starts: the system's command interpreter, without AutoRun.
drv_wait_file "$scratch" 60 || drv_fail "the slow job made no scratch map"
ps -eo args | grep -qiF 'cmd.exe /d /s /c ""'"$DRV_ROOT_WIN\\temp.bat"'""' ||
  drv_fail "no command interpreter runs the script as cmd.exe /d /s /c: $(ps -eo args | grep -i 'cmd\.exe')"
start
expect_report "a second Start!" "A job is still running"
dialog=$(drv_open_dialog 202 "Select Map...")
drv_answer_dialog "$dialog" "Select Map..." drv_key Escape
drv_expect "the boxes after the refusal" "$DRV_ROOT_WIN\\out2.w3m" "$(drv_text 103)"
touch "$DRV_ROOT/release"
drv_wait_gone "$scratch" 60 || drv_fail "the slow job never moved its copy"
expect_report "the first job, after the refusal and a picker" "\"$DRV_ROOT_WIN\\out2.w3m\"" \
  "is not protected" "It replaced the file that was there before the job."

rm -f "$DRV_ROOT/release"
job slow-idle-archiver.exe map.w3m out3.w3m
drv_activate
drv_click 205
drv_wait_exit 15 || drv_fail "the program did not end while its script ran"
[ ! -e "$DRV_ROOT/out3.w3m" ] || drv_fail "the script had ended before Quit: nothing shown"
drv_expect "the stored archiver path" "$DRV_ROOT_WIN\\slow-idle-archiver.exe" \
  "$(drv_reg_value "$DRV_SETTINGS_KEY" LocMPQ2K)"
touch "$DRV_ROOT/release"
drv_wait_file "$DRV_ROOT/out3.w3m" 60 || drv_fail "the script did not finish after the program ended"
drv_log "ok: job reports"

#!/usr/bin/env bash
# A refused "Start!" in a program not run as administrator asks to restart as administrator,
# and the restarted instance runs the job with the same paths. The root of C: refuses new
# files in a mount namespace of this script's own (as root, as CI runs), and the program is
# started without elevation by limited_launch.exe: under Wine every process is elevated
# otherwise. Wine's "runas" starts the new instance without elevating it, so the job is
# refused there too, and the restart's mark must make that the plain refusal.
# usage: restart_as_administrator.sh VELTRANE_EXE PEEK_EXE LIMITED_LAUNCH_EXE
set -euo pipefail
. "$(dirname "$0")/../window/external/driver.sh"
drv_enter_mount_namespace "$0" "$@"

drv_init restart "$1" "$2"
launcher=$(readlink -f "$3")
drv_readonly_c_root
restarted=--restarted-as-administrator

# question: waits for the question and prints its texts, one control a line.
question() {
  drv_peek_window "$DRV_CAPTION" --class '#32770' --wait 45 ||
    drv_fail "no question within 15 s"
}

# expect_question: the question names the scratch map and offers the restart.
expect_question() {
  local texts needle
  texts=$(question)
  for needle in 'Run this job as administrator?' 'where the job makes its copy c:\temp.w3m.' \
    'Restart as administrator' 'Cancel'; do
    [[ $texts == *"$needle"* ]] || drv_fail "no [$needle] in the question: [$texts]"
  done
  drv_log "ok: the question: [$texts]"
}

wine "$launcher" "$DRV_APP_WIN" >/dev/null 2>&1 || drv_fail "limited_launch could not start the program"
drv_adopt "\\.exe\"? *$" 20
drv_type_into 101 "$DRV_ROOT_WIN\\mpqadd.exe"
drv_type_into 102 "$DRV_ROOT_WIN\\map 1.w3m"
drv_type_into 103 "$DRV_ROOT_WIN\\out 1.w3m"

drv_press 204
expect_question
drv_click_in_dialog 2
deadline=$((SECONDS + 30))
while question_left=$(drv_other_windows) && [ -n "$question_left" ]; do
  [ "$SECONDS" -ge "$deadline" ] && drv_fail "the question stayed after Cancel: [$question_left]"
  sleep 0.05
done
drv_expect "files beside the program after Cancel" "" "$(drv_files_beside)"
drv_expect "the map box after Cancel" "$DRV_ROOT_WIN\\map 1.w3m" "$(drv_text 102)"
drv_expect "instances after Cancel" 1 "$(drv_instances | wc -l)"

drv_press 204
expect_question
first=$DRV_PID
drv_click_in_dialog 100
timeout 15 tail --pid="$first" -f /dev/null || drv_fail "the first window stayed after the restart"
drv_log "ok: the first instance ended"
drv_adopt "$restarted" 20
text=$(drv_message_box 15)
for needle in 'Cannot create "c:\temp.w3m": ' 'Run Veltrane as administrator.'; do
  [[ $text == *"$needle"* ]] || drv_fail "no [$needle] in the restarted refusal [$text]"
done
drv_log "ok: the restarted instance's plain refusal: [$text]"
drv_wait_text 101 "$DRV_ROOT_WIN\\mpqadd.exe"
drv_wait_text 102 "$DRV_ROOT_WIN\\map 1.w3m"
drv_wait_text 103 "$DRV_ROOT_WIN\\out 1.w3m"
drv_log "ok: the restarted instance shows the three paths"
sleep 1
drv_expect "windows besides the main one" "" "$(drv_other_windows)"
drv_expect "instances" 1 "$(drv_instances | wc -l)"
drv_expect "files beside the program" "" "$(drv_files_beside)"
drv_expect "the archiver path stored before the restart" "$DRV_ROOT_WIN\\mpqadd.exe" \
  "$(drv_reg_value "$DRV_SETTINGS_KEY" LocMPQ2K)"
drv_close

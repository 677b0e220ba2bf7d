#!/usr/bin/env bash
# The report takes the keyboard: job after job started with a click on "Start!", the report
# box is the foreground window once the script has ended, and Enter pressed on the keyboard
# (not sent to a window) closes it. Prints "report in front: K of N" and fails unless K is N.
# usage: report_focus.sh VELTRANE_EXE PEEK_EXE FAKE_ARCHIVER_EXE [JOBS, 8 by default]
set -euo pipefail
. "$(dirname "$0")/../window/external/driver.sh"
jobs=${4:-8}

drv_init focus "$1" "$2"
cp "$3" "$DRV_ROOT/idle-archiver.exe"
printf 'a map' >"$DRV_ROOT/map.w3m"
rm -f "$WINEPREFIX/drive_c/temp.w3m"

# one_job N: starts a job with a click and prints "yes" when its report box is in front and
# Enter closes it, else what was seen. A box Enter did not close is closed for the next job.
one_job() {
  local front
  drv_activate
  # No --sync: the pointer is already there after the first job, and would never "arrive".
  xdotool mousemove "$start_x" "$start_y" click 1
  drv_peek_window "$DRV_CAPTION" --class '#32770' --wait 45 --hwnd >/dev/null ||
    drv_fail "job $1: no report within 45 s"
  # A user reads the box first; the console's last moments are over by then.
  sleep 1
  front=$(drv_peek_window "$DRV_CAPTION" --class '#32770' --foreground || true)
  drv_key Return
  local deadline=$((SECONDS + 10))
  while drv_peek_window "$DRV_CAPTION" --class '#32770' --hwnd >/dev/null; do
    if [ "$SECONDS" -ge "$deadline" ]; then
      drv_peek_window "$DRV_CAPTION" --class '#32770' --close >/dev/null || true
      sleep 0.5
      echo "Enter did not close it; foreground: $front"
      return 0
    fi
    sleep 0.05
  done
  echo "$front"
}

drv_start
drv_type_into 101 "$DRV_ROOT_WIN\\idle-archiver.exe"
drv_type_into 102 "$DRV_ROOT_WIN\\map.w3m"
drv_type_into 103 "$DRV_ROOT_WIN\\out.w3m"
# Where "Start!" is: the window does not move.
read -r x y w h <<<"$(drv_peek --rect 204)" || drv_fail "no Start! button"
start_x=$((x + w / 2)) start_y=$((y + h / 2))
in_front=0
for n in $(seq 1 "$jobs"); do
  seen=$(one_job "$n")
  drv_log "job $n: $seen"
  [ "$seen" = yes ] && in_front=$((in_front + 1))
done
echo "report in front: $in_front of $jobs"
drv_expect "reports in front, Enter closing them" "$jobs" "$in_front"

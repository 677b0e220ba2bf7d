# shellcheck shell=bash
# The driver's processes: instances of the program started by other means than drv_start,
# and the mount namespace in which drive C:'s root is read-only. Sourced by driver.sh.

# drv_launch ARGUMENT...: starts the program with these arguments, without waiting for it.
drv_launch() {
  wine "$DRV_APP" "$@" >/dev/null 2>&1 &
  DRV_PID=$!
  DRV_PIDS+=("$DRV_PID")
}

# drv_instances [PATTERN]: prints the process ids of this test's program, started by whatever
# process, whose command line matches the extended regular expression PATTERN. Under Wine a
# Windows process's command line is its Linux one.
drv_instances() {
  local proc line
  for proc in /proc/[0-9]*; do
    { tr '\0' '\n' <"$proc/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
    line=$({ tr '\0' ' ' <"$proc/cmdline"; } 2>/dev/null) || continue
    [[ $line == *"$DRV_BASE.exe"* ]] || continue
    printf '%s\n' "$line" | grep -qE -- "${1:-.}" && echo "${proc#/proc/}"
  done
}

# drv_adopt PATTERN SECONDS: makes the instance whose command line matches PATTERN the one the
# helpers drive, once its window shows; it is ended with the others at the end.
drv_adopt() {
  local pid deadline=$((SECONDS + $2))
  until pid=$(drv_instances "$1" | head -n 1) && [ -n "$pid" ]; do
    [ "$SECONDS" -ge "$deadline" ] && drv_fail "no instance matching [$1] within $2 s"
    sleep 0.1
  done
  DRV_PID=$pid
  DRV_PIDS+=("$pid")
  DRV_WIN=$(drv_find_window "$DRV_PID" "$DRV_CAPTION" "$2") || drv_fail "instance $pid shows no window"
}

# drv_enter_mount_namespace SCRIPT ARGUMENT...: runs the calling script again, as root, in a
# mount namespace of its own. Wine's server opens files for its clients, so the prefix's
# server is ended first and Wine runs wholly inside the namespace.
drv_enter_mount_namespace() {
  [ -n "${VELTRANE_IN_NAMESPACE:-}" ] && return 0
  veltrane_wine_defaults
  [ -n "${WINEPREFIX:-}" ] && drv_end_server
  exec unshare -m env VELTRANE_IN_NAMESPACE=1 bash "$@"
}

drv_end_server() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}

# drv_readonly_c_root: in the mount namespace, after drv_init, makes the root of drive C:
# refuse new files, as Windows refuses them to a program not run as administrator; the
# folders in it (the program's among them) stay writable. The prefix's server is ended
# before and again at the end, before the namespace goes.
drv_readonly_c_root() {
  local drive_c=$WINEPREFIX/drive_c folder
  trap 'drv_cleanup; drv_end_server' EXIT
  drv_end_server
  rm -f "$drive_c/temp.w3m"
  mount --make-rprivate /
  mount --bind "$drive_c" "$drive_c"
  mount -o remount,ro,bind "$drive_c"
  for folder in "$drive_c"/*/; do
    mount --bind "$folder" "$folder"
    mount -o remount,rw,bind "$folder"
  done
  if touch "$drive_c/probe" 2>/dev/null; then drv_fail "the root of C: is still writable"; fi
}

# drv_click_in_dialog ID: clicks the middle of control ID in the program's dialog captioned
# like the window (a message box or the question).
drv_click_in_dialog() {
  local rect x y w h
  rect=$(drv_peek_window "$DRV_CAPTION" --class '#32770' --rect "$1") ||
    drv_fail "no control $1 in the dialog"
  read -r x y w h <<<"$rect"
  xdotool mousemove --sync $((x + w / 2)) $((y + h / 2)) click 1
}

# shellcheck shell=bash
# Drives the real Veltrane window from outside, as a user does: keys go through the X
# server with xdotool, texts and focus are read back with peek.exe, and results are seen in
# the files and the registry. Sourced by the test scripts beside it.
#
# Uses the display and Wine prefix in DISPLAY and WINEPREFIX (scripts/test exports them);
# without them, starts a virtual display and a throwaway prefix of its own.
# Every wait has a timeout; each failure names what was expected and what was seen.

drv_here=$(dirname "${BASH_SOURCE[0]}")
# shellcheck source=../../../scripts/wine-env
. "$drv_here/../../../scripts/wine-env"

DRV_CAPTION=Veltrane
DRV_PIDS=()
DRV_PID=
DRV_WIN=

drv_log() { echo "[$(date +%T.%3N)] $*" >&2; }

drv_fail() {
  drv_log "FAIL: $*"
  exit 1
}

# drv_expect WHAT EXPECTED ACTUAL
drv_expect() {
  if [ "$2" != "$3" ]; then
    drv_fail "$1: expected [$2], got [$3]"
  fi
  drv_log "ok: $1 = [$3]"
}

# Ends what this test started, by PID, and removes its program folder and settings key.
drv_cleanup() {
  local pid
  for pid in "${DRV_PIDS[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${DRV_PIDS[@]}"; do
    timeout 5 tail --pid="$pid" -f /dev/null 2>/dev/null || kill -9 "$pid" 2>/dev/null || true
  done
  if [ -n "${DRV_SETTINGS_KEY:-}" ]; then
    timeout 20 wine reg delete "${DRV_SETTINGS_KEY%\\Settings}" /f >/dev/null 2>&1 || true
  fi
  [ -n "${DRV_ROOT:-}" ] && rm -rf "$DRV_ROOT"
  veltrane_wine_stop
}

# drv_init NAME APP_EXE PEEK_EXE
# Copies the real program into a fresh folder C:\Veltrane tests\NAME-<pid>\ of the prefix,
# named veltrane-NAME.exe so that its remembered setting has a key of its own.
drv_init() {
  local name=$1 app=$2 peek=$3
  [ -f "$app" ] || drv_fail "no program at $app"
  [ -f "$peek" ] || drv_fail "no peek.exe at $peek"
  veltrane_wine_defaults
  trap drv_cleanup EXIT
  if [ -z "${DISPLAY:-}" ] || [ -z "${WINEPREFIX:-}" ]; then
    drv_log "no DISPLAY/WINEPREFIX given: starting a display and prefix of our own"
    veltrane_wine_start || drv_fail "could not start Xvfb and Wine"
  fi
  DRV_PEEK=$(readlink -f "$peek")
  DRV_ROOT="$WINEPREFIX/drive_c/Veltrane tests/$name-$$"
  DRV_ROOT_WIN="C:\\Veltrane tests\\$name-$$"
  rm -rf "$DRV_ROOT"
  mkdir -p "$DRV_ROOT"
  DRV_BASE="veltrane-$name"
  DRV_APP="$DRV_ROOT/$DRV_BASE.exe"
  DRV_APP_WIN="$DRV_ROOT_WIN\\$DRV_BASE.exe"
  cp "$app" "$DRV_APP"
  DRV_SETTINGS_KEY="HKCU\\Software\\VB and VBA Program Settings\\$DRV_BASE\\Settings"
}

# Runs peek.exe on this test's window (matched by caption and by our copy's path).
drv_peek() {
  timeout 60 wine "$DRV_PEEK" --exe "$DRV_APP_WIN" "$@" "$DRV_CAPTION" 2>/dev/null
}

# drv_peek_window TITLE ARGS...: peek.exe on another window of this program, a dialog say.
drv_peek_window() {
  local title=$1
  shift
  timeout 60 wine "$DRV_PEEK" --exe "$DRV_APP_WIN" "$@" "$title" 2>/dev/null
}

drv_text() { drv_peek --text "$1"; }
drv_focused() { drv_peek --focus; }

# drv_find_window PID TITLE SECONDS: prints the X window id of PID's visible window whose
# title is exactly TITLE, or fails after SECONDS. xdotool needs --all, or it would take any
# window of the process.
drv_find_window() {
  local pid=$1 title=$2 seconds=$3 pattern deadline id
  pattern="^$(printf '%s' "$title" | sed 's/[][\.*^$?+(){}|]/\\&/g')\$"
  deadline=$((SECONDS + seconds))
  while [ "$SECONDS" -lt "$deadline" ]; do
    kill -0 "$pid" 2>/dev/null || return 1
    if id=$(xdotool search --all --onlyvisible --pid "$pid" --name "$pattern" 2>/dev/null); then
      echo "$id" | head -n 1
      return 0
    fi
    sleep 0.05
  done
  return 1
}

# drv_wait_window_gone PID TITLE SECONDS
drv_wait_window_gone() {
  local pid=$1 title=$2 seconds=$3 deadline
  deadline=$((SECONDS + seconds))
  while [ "$SECONDS" -lt "$deadline" ]; do
    drv_find_window "$pid" "$title" 0 >/dev/null || return 0
    sleep 0.05
  done
  return 1
}

# Ends the Wine desktop process of this prefix, by PID: the rare cold start whose desktop
# never reaches the display leaves every later window of the prefix invisible too.
drv_end_stuck_desktop() {
  local proc pid
  for proc in /proc/[0-9]*; do
    pid=${proc#/proc/}
    { tr '\0' '\n' <"$proc/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
    { tr '\0' ' ' <"$proc/cmdline"; } 2>/dev/null | grep -qi 'explorer\.exe' || continue
    drv_log "ending the prefix's desktop process $pid"
    kill "$pid" 2>/dev/null || true
  done
}

drv_launch_once() {
  wine "$DRV_APP" >/dev/null 2>&1 &
  DRV_PID=$!
  DRV_PIDS+=("$DRV_PID")
  DRV_WIN=$(drv_find_window "$DRV_PID" "$DRV_CAPTION" 40) || return 1
  # Keys sent before the window has put the focus in its first box are lost.
  local deadline=$((SECONDS + 30))
  while [ "$SECONDS" -lt "$deadline" ]; do
    [ "$(drv_focused)" = 101 ] && return 0
    sleep 0.05
  done
  return 1
}

# Starts the program and waits for its window, retrying once after a failed cold start.
drv_start() {
  if ! drv_launch_once; then
    drv_log "window did not show; ending PID $DRV_PID and retrying once"
    kill "$DRV_PID" 2>/dev/null || true
    timeout 5 tail --pid="$DRV_PID" -f /dev/null 2>/dev/null || kill -9 "$DRV_PID" 2>/dev/null || true
    drv_end_stuck_desktop
    drv_launch_once || drv_fail "the window never became ready"
  fi
  drv_log "started PID $DRV_PID, window $DRV_WIN, focus in 101"
}

# drv_focus [X_WINDOW]: gives a window (the main one by default) the X keyboard focus.
drv_focus() {
  timeout 10 xdotool windowfocus --sync "${1:-$DRV_WIN}" || drv_fail "could not focus window ${1:-$DRV_WIN}"
}

# Makes the main window the active one with a control focused, as a user does by clicking
# its title bar. After a launched script's console has taken the activation, the X focus
# alone does not give it back to the window; a click on the caption does.
drv_activate() {
  drv_focus
  drv_wait_focus_on_a_control 1 >/dev/null && return 0
  xdotool mousemove --window "$DRV_WIN" --sync 150 10 click 1
  drv_wait_focus_on_a_control 5 >/dev/null || drv_fail "no control has the focus after a click on the caption"
}

drv_key() {
  xdotool key --delay 20 "$@"
}

# drv_wait_focus ID: the keys are delivered asynchronously, so the focus is polled.
drv_wait_focus() {
  local want=$1 got deadline=$((SECONDS + 30))
  while :; do
    got=$(drv_focused || true)
    [ "$got" = "$want" ] && return 0
    [ "$SECONDS" -ge "$deadline" ] && {
      echo "$got"
      return 1
    }
    sleep 0.05
  done
}

# drv_wait_focus_on_a_control SECONDS: prints the control that has the focus once one has;
# fails when none gets it in time.
drv_wait_focus_on_a_control() {
  local got deadline=$((SECONDS + $1))
  while :; do
    got=$(drv_focused || true)
    if [ -n "$got" ] && [ "$got" != none ]; then
      echo "$got"
      return 0
    fi
    [ "$SECONDS" -ge "$deadline" ] && return 1
    sleep 0.05
  done
}

# drv_tab_expect ID: presses Tab and checks that the focus moved to control ID.
drv_tab_expect() {
  local got
  drv_key Tab
  got=$(drv_wait_focus "$1") || drv_fail "after Tab: expected focus on $1, got [$got]"
  drv_log "ok: Tab -> $1"
}

# drv_tab_to ID: presses Tab until control ID has the focus (at most one round).
drv_tab_to() {
  drv_activate
  for _ in $(seq 0 9); do
    [ "$(drv_focused)" = "$1" ] && return 0
    drv_key Tab
    sleep 0.05
  done
  drv_fail "Tab never reached control $1"
}

# drv_wait_text ID TEXT: polls until control ID holds exactly TEXT, else fails.
drv_wait_text() {
  drv_wait_until 30 drv_holds "$1" "$2" ||
    drv_fail "box $1: expected [$2], got [$(drv_text "$1" || true)]"
}

# drv_type_text TEXT: replaces the focused box's text by TEXT, as typed on the keyboard.
# A text of ASCII letters goes through the X keyboard. xdotool types a letter that the X key
# map lacks (an "é") by mapping a spare key for that one keystroke, and a busy Wine reads the
# key after the map is back, so the letter is lost every time: such a text is typed inside
# Wine instead, as Unicode key strokes in one batch (peek.exe --retype).
drv_type_text() {
  if LC_ALL=C grep -q '[^ -~]' <<<"$1"; then
    timeout 60 wine "$DRV_PEEK" --exe "$DRV_APP_WIN" --retype "$1" "$DRV_CAPTION" ||
      drv_log "peek.exe could not type [$1]"
    return 0
  fi
  drv_key Home shift+End
  xdotool type --delay 10 -- "$1"
}

# drv_holds ID TEXT: whether control ID holds exactly TEXT.
drv_holds() { [ "$(drv_text "$1" || true)" = "$2" ]; }

# drv_type_into ID TEXT: tabs to box ID, replaces its text and checks it took. A key can
# still be lost on a fresh or a busy display, so the text is typed up to 3 times.
drv_type_into() {
  local got attempt
  for attempt in 1 2 3; do
    drv_tab_to "$1"
    drv_type_text "$2"
    drv_wait_until 5 drv_holds "$1" "$2" || true
    got=$(drv_text "$1" || true)
    if [ "$got" = "$2" ]; then
      drv_log "ok: typed into $1: [$2]"
      return 0
    fi
    drv_log "typed [$2] into $1 but it holds [$got] (attempt $attempt)"
  done
  drv_fail "box $1: expected [$2], got [$got]"
}

# drv_press ID: tabs to button ID and presses it with the space bar.
drv_press() {
  drv_tab_to "$1"
  drv_key space
}

# drv_click ID: clicks the middle of control ID with the mouse (Wine's screen coordinates
# are the X root window's).
drv_click() {
  local rect x y w h
  rect=$(drv_peek --rect "$1") || drv_fail "no control $1 to click"
  read -r x y w h <<<"$rect"
  xdotool mousemove --sync $((x + w / 2)) $((y + h / 2)) click 1
}

# drv_open_dialog BUTTON TITLE: presses BUTTON and prints the X window id of the dialog
# titled TITLE that it opens, once the dialog's own file name box has the focus.
drv_open_dialog() {
  local dialog deadline
  drv_press "$1"
  dialog=$(drv_find_window "$DRV_PID" "$2" 10) || drv_fail "button $1 opened no window titled \"$2\""
  deadline=$((SECONDS + 30))
  until [ "$(drv_peek_window "$2" --focus || true)" = 1148 ]; do
    [ "$SECONDS" -ge "$deadline" ] && drv_fail "\"$2\" never put the focus in its file name box"
    sleep 0.05
  done
  echo "$dialog"
}

# drv_answer_dialog X_WINDOW TITLE KEYS...: focuses the dialog, sends the keys (for
# instance typing a path then Return) and waits for the dialog to close.
drv_answer_dialog() {
  local dialog=$1 title=$2
  shift 2
  drv_focus "$dialog"
  "$@"
  drv_wait_window_gone "$DRV_PID" "$title" 10 || drv_fail "\"$title\" did not close"
}

# drv_wait_exit SECONDS: waits for the program to end.
drv_wait_exit() {
  timeout "$1" tail --pid="$DRV_PID" -f /dev/null 2>/dev/null || return 1
  wait "$DRV_PID" 2>/dev/null || true
}

# Closes the window the way the close box does (Alt+F4 sends WM_CLOSE) and waits for the
# program to end.
drv_close() {
  drv_focus
  drv_key alt+F4
  drv_wait_exit 15 || drv_fail "the program did not end after Alt+F4"
  drv_log "ok: closed with Alt+F4"
}

# drv_wait_until SECONDS COMMAND...: polls until COMMAND succeeds; fails after SECONDS.
drv_wait_until() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -ge "$deadline" ] && return 1
    sleep 0.1
  done
}

# drv_wait_file PATH SECONDS, drv_wait_gone PATH SECONDS
drv_wait_file() { drv_wait_until "$2" test -e "$1"; }
drv_wait_gone() { drv_wait_until "$2" test ! -e "$1"; }

# drv_reg_value KEY NAME: prints a REG_SZ value's data, or fails when it is not there.
# Wine's reg writes to a pipe in code page 437.
drv_reg_value() {
  local out
  out=$(timeout 30 wine reg query "$1" /v "$2" 2>/dev/null | iconv -f CP437 -t UTF-8 | tr -d '\r') ||
    return 1
  printf '%s\n' "$out" | sed -n "s/^ *$2 *REG_SZ *//p" | grep . || return 1
}

# Prints which of the files Start! writes (war3map.wtg, temp.bat) are beside the program.
drv_files_beside() {
  local name
  for name in war3map.wtg temp.bat; do
    if [ -e "$DRV_ROOT/$name" ]; then echo "$name"; fi
  done
}

# drv_other_windows: prints the titles of the program's visible top-level windows other
# than the main one (a message box, for instance).
drv_other_windows() {
  local id
  for id in $(xdotool search --all --onlyvisible --pid "$DRV_PID" --name '.*' 2>/dev/null); do
    [ "$id" = "$DRV_WIN" ] || xdotool getwindowname "$id"
  done
}

# drv_message_box SECONDS: waits up to SECONDS (at most 58) for the program's message box,
# captioned like the window, prints its text and closes it.
drv_message_box() {
  local text deadline=$((SECONDS + 30))
  text=$(drv_peek_window "$DRV_CAPTION" --class '#32770' --wait "$1" --text 65535) ||
    drv_fail "no message box within $1 s"
  drv_peek_window "$DRV_CAPTION" --class '#32770' --close >/dev/null ||
    drv_fail "could not close the message box"
  while drv_peek_window "$DRV_CAPTION" --class '#32770' --hwnd >/dev/null; do
    [ "$SECONDS" -ge "$deadline" ] && drv_fail "the message box did not close"
    sleep 0.05
  done
  printf '%s\n' "$text"
}

# shellcheck source=driver_process.sh
. "$drv_here/driver_process.sh"

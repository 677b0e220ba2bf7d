#!/usr/bin/env bash
# "Start!" when drive C:'s root refuses new files, as it does on Windows for a program not
# run as administrator: the program says so, naming c:\temp.w3m, and writes and launches
# nothing. The root is made read-only in a mount namespace of this script's own (as root),
# with the folders that Wine and the test write to bound writable again inside it. Wine's
# server opens files for its clients, so the prefix's server is ended first and Wine runs
# wholly inside the namespace; its server is ended again before the namespace goes.
# usage: scratch_refused.sh VELTRANE_EXE PEEK_EXE
set -euo pipefail
if [ -z "${VELTRANE_IN_NAMESPACE:-}" ]; then
  . "$(dirname "$0")/../../scripts/wine-env"
  veltrane_wine_defaults
  [ -n "${WINEPREFIX:-}" ] && { wineserver -k 2>/dev/null || true; wineserver -w 2>/dev/null || true; }
  exec unshare -m env VELTRANE_IN_NAMESPACE=1 bash "$0" "$@"
fi
. "$(dirname "$0")/../window/external/driver.sh"

drv_init scratch "$1" "$2"
drv_readonly_c_root
touch "$DRV_ROOT/probe" || drv_fail "the program folder is not writable"
rm -f "$DRV_ROOT/probe"
printf 'map' >"$DRV_ROOT/map.w3m"

drv_start
drv_type_into 101 "$DRV_ROOT_WIN\\mpqadd.exe"
drv_type_into 102 "$DRV_ROOT_WIN\\map.w3m"
drv_type_into 103 "$DRV_ROOT_WIN\\out.w3m"
drv_press 204
text=$(drv_message_box 15)
for needle in 'Cannot create "c:\temp.w3m": ' 'Run Veltrane as administrator.'; do
  [[ $text == *"$needle"* ]] || drv_fail "no [$needle] in [$text]"
done
drv_log "ok: the scratch message: [$text]"
drv_expect "files beside the program" "" "$(drv_files_beside)"
drv_expect "the boxes keep their texts" "$DRV_ROOT_WIN\\out.w3m" "$(drv_text 103)"
for proc in /proc/[0-9]*; do
  { tr '\0' '\n' <"$proc/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
  { tr '\0' ' ' <"$proc/cmdline"; } 2>/dev/null | grep -qi 'cmd\.exe' &&
    drv_fail "a command interpreter runs: $(tr '\0' ' ' <"$proc/cmdline")"
done
[ ! -e "$DRV_ROOT/out.w3m" ] || drv_fail "something made the destination"
drv_close
drv_log "ok: nothing written, nothing launched"

#!/usr/bin/env bash
# The archiver path is remembered per user, under the executable's base name: closed with
# Alt+F4 (what the close box sends), the typed path is stored in the registry and is in the
# first box at the next start, while the other two boxes start at their defaults again.
# Quit stores it too. A stored path that names no file gives way to our own archiver beside
# the program.
# usage: remembered_path.sh VELTRANE_EXE PEEK_EXE [FAKE_ARCHIVER_EXE]
set -euo pipefail
. "$(dirname "$0")/driver.sh"

drv_init remember "$1" "$2"
timeout 30 wine reg delete "$DRV_SETTINGS_KEY" /f >/dev/null 2>&1 || true
default_map='c:\MyMap.w3m'
default_destination='c:\MyMapProtected.w3m'

# First start: nothing stored yet, so all three boxes hold their defaults.
drv_start
drv_expect "box 101 with nothing stored" 'c:\mpq2k\mpq2k.exe' "$(drv_text 101)"
drv_expect "box 102 at start" "$default_map" "$(drv_text 102)"
drv_expect "box 103 at start" "$default_destination" "$(drv_text 103)"

# Only a path that names a file is taken from the setting, so the remembered one exists.
mkdir -p "$DRV_ROOT/Tools 100%"
: >"$DRV_ROOT/Tools 100%/mpq2k é.exe"
remembered="$DRV_ROOT_WIN\\Tools 100%\\mpq2k é.exe"
drv_type_into 101 "$remembered"
drv_type_into 102 'C:\Other\Map.w3m'
drv_type_into 103 'C:\Other\Out.w3m'
drv_close
drv_expect "stored LocMPQ2K" "$remembered" "$(drv_reg_value "$DRV_SETTINGS_KEY" LocMPQ2K)"

# Second start: the live window shows the stored path; the map boxes are not remembered.
drv_start
drv_expect "box 101 after a restart" "$remembered" "$(drv_text 101)"
drv_expect "box 102 after a restart" "$default_map" "$(drv_text 102)"
drv_expect "box 103 after a restart" "$default_destination" "$(drv_text 103)"

# Quit stores the path as well, replacing the old one.
drv_type_into 101 'C:\second\mpq2k.exe'
drv_press 205
drv_wait_exit 15 || drv_fail "the program did not end after Quit"
drv_expect "stored LocMPQ2K after Quit" 'C:\second\mpq2k.exe' \
  "$(drv_reg_value "$DRV_SETTINGS_KEY" LocMPQ2K)"

# Third start: the stored C:\second\mpq2k.exe names no file, so the box starts with the
# archiver that ships beside the program.
: >"$DRV_ROOT/mpqadd.exe"
drv_start
drv_expect "box 101 with a stored path that names no file" "$DRV_ROOT_WIN\\mpqadd.exe" \
  "$(drv_text 101)"
drv_close

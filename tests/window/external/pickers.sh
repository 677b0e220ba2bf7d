#!/usr/bin/env bash
# The three Browse... buttons open the real file dialogs: the archiver picker is an Open
# dialog for .exe files, the map pickers an Open and a Save dialog. A full path typed and
# confirmed lands in the box; Escape leaves the box as it was; the Save dialog adds .w3m to
# a name typed without one. The focus comes back to the button afterwards.
# usage: pickers.sh VELTRANE_EXE PEEK_EXE FAKE_ARCHIVER_EXE
set -euo pipefail
. "$(dirname "$0")/driver.sh"

drv_init pickers "$1" "$2"
mkdir -p "$DRV_ROOT/tools" "$DRV_ROOT/maps"
cp "$3" "$DRV_ROOT/tools/mpq2k.exe"
printf 'MAP-BYTES' >"$DRV_ROOT/maps/Source Map.w3m"
archiver="$DRV_ROOT_WIN\\tools\\mpq2k.exe"
map_path="$DRV_ROOT_WIN\\maps\\Source Map.w3m"
destination="$DRV_ROOT_WIN\\maps\\Protected"

type_and_confirm() {
  drv_type_text "$1"
  drv_key Return
}

drv_start

# Command1: an Open dialog for executables.
dialog=$(drv_open_dialog 201 'Select MPQ2K.exe')
drv_expect "archiver picker's confirm button" '&Open' "$(drv_peek_window 'Select MPQ2K.exe' --text 1)"
drv_expect "archiver picker's file types" 'EXE Files (*.exe)' \
  "$(drv_peek_window 'Select MPQ2K.exe' --text 1136)"
drv_answer_dialog "$dialog" 'Select MPQ2K.exe' type_and_confirm "$archiver"
drv_wait_text 101 "$archiver"
got=$(drv_wait_focus 201) || drv_fail "focus after the archiver picker: expected 201, got [$got]"
drv_log "ok: picked the archiver; focus back on 201"

# Command2: cancelling leaves the box as it was; confirming fills it.
before=$(drv_text 102)
dialog=$(drv_open_dialog 202 'Select Map...')
drv_expect "map picker's confirm button" '&Open' "$(drv_peek_window 'Select Map...' --text 1)"
drv_answer_dialog "$dialog" 'Select Map...' drv_key Escape
got=$(drv_wait_focus 202) || drv_fail "focus after a cancelled map picker: expected 202, got [$got]"
drv_expect "box 102 after Escape" "$before" "$(drv_text 102)"
dialog=$(drv_open_dialog 202 'Select Map...')
drv_answer_dialog "$dialog" 'Select Map...' type_and_confirm "$map_path"
drv_wait_text 102 "$map_path"
drv_log "ok: picked the map"

# Command3: a Save dialog, which adds the maps' extension to a bare name.
dialog=$(drv_open_dialog 203 'Select Map...')
drv_expect "destination picker's confirm button" '&Save' "$(drv_peek_window 'Select Map...' --text 1)"
drv_answer_dialog "$dialog" 'Select Map...' type_and_confirm "$destination"
drv_wait_text 103 "$destination.w3m"
got=$(drv_wait_focus 203) || drv_fail "focus after the destination picker: expected 203, got [$got]"
drv_log "ok: picked the destination, with .w3m added"
drv_expect "box 101 after the map pickers" "$archiver" "$(drv_text 101)"
drv_expect "files beside the program" "" "$(drv_files_beside)"

drv_close

#!/usr/bin/env bash
# Runs the job's Windows tests from the root of a drive: the prefix's spare drive letter R:
# is mapped to a fresh folder holding the test program and the stand-in archiver, and S: to
# the same folder.
# usage: drive_root.sh JOB_WIN_TESTS FAKE_ARCHIVER
set -euo pipefail
tests=$1
archiver=$2
# shellcheck source=../../scripts/wine-env
. "$(dirname "$0")/../../scripts/wine-env"
veltrane_wine_defaults
if [ -z "${WINEPREFIX:-}" ] || [ -z "${DISPLAY:-}" ]; then
  trap veltrane_wine_stop EXIT
  veltrane_wine_start
fi
root=$(mktemp -d /tmp/veltrane-drive.XXXXXX)
drive="$WINEPREFIX/dosdevices/r:"
# A second letter onto the same folder: another spelling of every file in it.
second="$WINEPREFIX/dosdevices/s:"
for letter in "$drive" "$second"; do
  [ ! -e "$letter" ] || { echo "drive_root: $letter is taken" >&2; exit 1; }
done
finish() { rm -f "$drive" "$second"; rm -rf "$root"; }
trap 'finish; veltrane_wine_stop' EXIT
ln -s "$root" "$drive"
ln -s "$root" "$second"
cp "$tests" "$root/job_win_tests.exe"
cp "$archiver" "$root/fake_archiver.exe"
VELTRANE_TEST_DRIVE_ROOT='R:\' VELTRANE_TEST_SECOND_DRIVE='S:\' wine 'R:\job_win_tests.exe' --gtest_filter='DriveRoot.*'

#!/usr/bin/env bash
# Runs the job's Windows tests from the root of a drive: the prefix's spare drive letter R:
# is mapped to a fresh folder holding the test program and the stand-in archiver.
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
[ ! -e "$drive" ] || { echo "drive_root: R: is taken in $WINEPREFIX" >&2; exit 1; }
finish() { rm -f "$drive"; rm -rf "$root"; }
trap 'finish; veltrane_wine_stop' EXIT
ln -s "$root" "$drive"
cp "$tests" "$root/job_win_tests.exe"
cp "$archiver" "$root/fake_archiver.exe"
VELTRANE_TEST_DRIVE_ROOT='R:\' wine 'R:\job_win_tests.exe' --gtest_filter='DriveRoot.*'

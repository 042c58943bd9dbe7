#!/usr/bin/env bash
# End-to-end tests of zipdrop.exe under Wine, its windows on a virtual X display.
# Usage: end_to_end_test.sh BUILD_FOLDER, with WINEPREFIX set to an initialised prefix and
# DISPLAY to a running X server.
set -euo pipefail

build=$1
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=../checks.sh
source "$here/../checks.sh"

drive_c="$WINEPREFIX/drive_c"
program_folder="$drive_c/zipdrop e2e"
inbox="$drive_c/in box"
probe_report="$drive_c/planted_probe_report.txt"
rm -rf "$program_folder" "$inbox" "$probe_report"
mkdir -p "$program_folder" "$inbox"
cp "$build/zipdrop.exe" "$program_folder/"
exe='C:\zipdrop e2e\zipdrop.exe'

visible_windows() { { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null || true; } | wc -l; }

await_window() {
  local title=$1 tries=0
  while [ "$(visible_windows "$title")" -eq 0 ]; do
    tries=$((tries + 1))
    [ "$tries" -gt 300 ] && return 1
    sleep 0.1
  done
}

await_exit() {
  local pid=$1 tries=0
  while kill -0 "$pid" 2>/dev/null; do
    tries=$((tries + 1))
    if [ "$tries" -gt 200 ]; then kill "$pid"; return 1; fi
    sleep 0.1
  done
  wait "$pid"
}

# Starts zipdrop.exe, expects exactly one box with the title, presses OK on it and expects the
# program to end with status 0 and no further box. A second box could only show after the first
# is closed, since a message box blocks the program until then.
one_box_then_exit() {
  local title=$1 other=$2
  shift 2
  wine "$exe" "$@" &
  local pid=$!
  await_window "$title" || { echo "        no window titled $title"; kill "$pid"; return 1; }
  [ "$(visible_windows "$title")" -eq 1 ] || { echo "        more than one box"; return 1; }
  [ "$(visible_windows "$other")" -eq 0 ] || { echo "        unexpected $other box"; return 1; }
  xdotool windowfocus --sync "$(xdotool search --onlyvisible --name "^$title\$")" key Return
  await_exit "$pid" || { echo "        the program did not end after OK"; return 1; }
  [ "$(visible_windows "$title")" -eq 0 ] && [ "$(visible_windows "$other")" -eq 0 ]
}

echo "end-to-end (Wine $(wine --version))"
check "no argument: one usage box" one_box_then_exit '使い方' 'エラー'
check "not a ZIP: one error box" one_box_then_exit 'エラー' '使い方' 'C:\in box\notes.txt'
check "a name with .ZIP inside: one error box" one_box_then_exit 'エラー' '使い方' 'C:\in box\a.ZIP.txt'

source "$here/end_to_end_zip_run.sh"
# shellcheck source=end_to_end_copy_run.sh
source "$here/end_to_end_copy_run.sh"

finish "end-to-end"

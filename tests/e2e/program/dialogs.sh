#!/usr/bin/env bash
# The file dialog with the real viewer under a virtual display: with no
# dialog program at all, File > Open says so in a message box (it used to
# print a line on the terminal and do nothing).
# Usage: with_xvfb.sh dialogs.sh TAMLO_BINARY DATA_DIR OUTPUT_DIR
set -euo pipefail
binary=$1 data=$2 out=$3
mkdir -p "$out"
rm -f "$out"/*.png
[ -n "${DISPLAY:-}" ] || { echo "FAIL: run me under tests/e2e/with_xvfb.sh"; exit 1; }
source "$(dirname "$0")/session_lib.sh"

# No zenity on the PATH: a message box names what is missing.
(cd "$data" && exec env PATH=/nonexistent "$binary") 2>"$out/viewer.stderr" &
viewer_pid=$!
window=$(wait_for_window '^Tamlo Ex01$') || fail "no window titled 'Tamlo Ex01'"
sleep 2
menu_key f o
# SDL's box sets no class, which xdotool's search needs; the tree names it.
box_id() { xwininfo -root -tree | awk '/"File dialog"/ { print $1; exit }'; }
box=
for _ in $(seq 50); do box=$(box_id); [ -n "$box" ] && break; sleep 0.2; done
[ -n "$box" ] || fail "no message box said the dialog could not be shown"
shot no_dialog
xdotool windowfocus --sync "$box" 2>/dev/null || true
xdotool key Return
for _ in $(seq 50); do [ -z "$(box_id)" ] && break; sleep 0.2; done
[ -z "$(box_id)" ] || fail "the message box did not close with Return"
exit_through_menu
echo "PASS: a missing dialog program is reported in a message box"

#!/usr/bin/env bash
# The transfer-function panel in an 800 x 600 window, a laptop's size: open,
# it rises only until its handle meets the client area's top edge, the picker
# works where it is drawn, and a click on the handle closes it again.
# Usage: with_xvfb.sh short_window.sh TAMLO_BINARY DATA_DIR OUTPUT_DIR
set -euo pipefail
binary=$1 data=$2 out=$3
mkdir -p "$out"
rm -f "$out"/*.png
[ -n "${DISPLAY:-}" ] || { echo "FAIL: run me under tests/e2e/with_xvfb.sh"; exit 1; }
source "$(dirname "$0")/session_lib.sh"

start_viewer 800 600
[ "$client_height" -lt 672 ] || fail "the client area is tall enough for the whole panel"
open_volume "$data/head256.vol" "the phantom"

# The open panel's bottom edge lies below the client's by what it could not
# rise: its rows are counted from there.
bottom=672
picker_is_shown() { read -r r g b <<<"$(pixel "$1" 12 $((bar + bottom - 598)))"; [ "$r" -gt 200 ] && [ "$b" -lt 80 ]; }
picker_is_gone() { ! picker_is_shown "$1"; }

client_click 50 $((client_height - 10)) 1
wait_until open picker_is_shown "the panel did not open to its short height"
settle open
# The handle's strip sits in the client's top rows, not under the menu bar.
read -r r g b <<<"$(pixel open 300 $((bar + 31)))"
[ "$r" -gt 60 ] || fail "no strip line at the top of the client area ($r $g $b)"

# Add a point in the graph's middle, then pick a green for it on the picker,
# each where it is drawn.
client_click $((10 + (width / 2 - 30) / 2)) $((bottom - 300)) 1
settle added
pick_green "$bottom" picked

client_click 50 16 1
wait_until closed picker_is_gone "the handle at the top of the client area did not close the panel"
settle closed
wait_until closed greener "the picker did not recolour the volume"
exit_through_menu
echo "PASS: in an 800 x 600 window the panel opens, edits and closes by its handle"

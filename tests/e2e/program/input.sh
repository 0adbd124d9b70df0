#!/usr/bin/env bash
# The mouse with the real viewer under a virtual display: a rotation drag
# released far outside the window ends there (it used to keep turning until
# the next right click), and a wheel notch shows at once, without a drag.
# Usage: with_xvfb.sh input.sh TAMLO_BINARY DATA_DIR OUTPUT_DIR
set -euo pipefail
binary=$1 data=$2 out=$3
mkdir -p "$out"
rm -f "$out"/*.png
[ -n "${DISPLAY:-}" ] || { echo "FAIL: run me under tests/e2e/with_xvfb.sh"; exit 1; }
source "$(dirname "$0")/session_lib.sh"

start_viewer 400 400
open_volume "$data/head256.vol" "the phantom"
changed_pixels() { compare -metric AE -fuzz 2% "$out/$1.png" "$out/$2.png" null: 2>&1 || true; }

for try in 1 2 3; do
    xdotool mousemove 200 $((bar + 200)) mousedown 3
    sleep 0.3
    xdotool mousemove 300 $((bar + 250))
    sleep 0.3
    xdotool mousemove 1500 1100
    sleep 0.3
    xdotool mouseup 3
    settle "released$try"
    sleep 2
    shot "later$try"
    [ "$(changed_pixels "released$try" "later$try")" = 0 ] ||
        fail "try $try: the view kept turning after the button was released outside the window"
done
echo "three drags released outside the window ended there"

# One notch in: the next frames show it with no drag.
xdotool mousemove 200 $((bar + 200)) click 4
settle zoomed
[ "$(changed_pixels later3 zoomed)" -gt 500 ] || fail "the wheel did not show until a drag"
exit_through_menu
echo "PASS: drags end where the button is released; the wheel shows at once"

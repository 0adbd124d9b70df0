#!/usr/bin/env bash
# A user's session with the real viewer under a virtual display, through the
# real menus and file dialogs: open the sample phantom, turn it with a
# right-button drag, zoom with the wheel, open the transfer-function panel, add
# a point, drag it, recolour it, see the volume change, save the function and
# check the file's bytes, delete the point, close the panel, close the volume,
# exit. Pictures are left in OUTPUT_DIR.
# Usage: with_xvfb.sh viewer_session.sh TAMLO_BINARY DATA_DIR OUTPUT_DIR
set -euo pipefail
binary=$1 data=$2 out=$3
mkdir -p "$out"
rm -f "$out"/*.png "$out/saved.tf"
[ -n "${DISPLAY:-}" ] || { echo "FAIL: run me under tests/e2e/with_xvfb.sh"; exit 1; }

source "$(dirname "$0")/session_lib.sh"

# A smaller window keeps llvmpipe's frames quick; the panel still fits.
start_viewer 640 800

# File > Open through the menu's keyboard path and the real dialog.
open_volume "$data/head256.vol" "the phantom"
opened=$(covered opened)
echo "phantom covers $opened pixels"
[ "$opened" -gt 2000 ] || fail "the phantom is too small or missing"

# A right-button drag to the right of the anchor turns the view.
focus_viewer
xdotool mousemove 300 $((bar + 300)) mousedown 3
xdotool mousemove 420 $((bar + 300))
sleep 3
xdotool mouseup 3
turned_away() { [ "$(compare -metric AE -fuzz 2% "$out/opened.png" "$out/$1.png" null: 2>&1 || true)" -gt 500 ]; }
wait_until turned turned_away "the right-button drag did not turn the view"
settle turned

# Three wheel notches forward zoom in; the next drag rebuilds the view.
for _ in 1 2 3; do click 320 $((bar + 300)) 4; sleep 0.2; done
xdotool mousemove 320 $((bar + 300)) mousedown 3
sleep 1.5
xdotool mouseup 3
zoomed_in() { [ "$(covered "$1")" -gt $((opened * 3 / 2)) ]; }
wait_until zoomed zoomed_in "the wheel did not zoom in"
settle zoomed
echo "zoomed phantom covers $(covered zoomed) pixels"

# The panel: the handle opens it.
client_click 50 $((client_height - 10)) 1
wait_until panel_open panel_is_open "the panel did not open"
settle panel_open

# Add a point in the middle of the graph, drag it, recolour it with the picker.
graph_x() { echo $((10 + $1 * (width / 2 - 30) / 100)); }  # position in percent
graph_y() { echo $((client_height - 200 - 2 * $1)); }       # opacity in percent
client_click "$(graph_x 50)" "$(graph_y 50)" 1
settle added
xdotool mousemove "$(graph_x 50)" $((bar + $(graph_y 50))) mousedown 1
sleep 0.5
xdotool mousemove "$(graph_x 60)" $((bar + $(graph_y 70)))
sleep 0.5
xdotool mouseup 1
settle dragged
pick_green "$client_height" edited
# Close the panel (handle at 640 < d < 672) and look at the volume again.
client_click 50 $((client_height - 656)) 1
wait_until recoloured panel_is_closed "the panel did not close"
wait_until recoloured greener "the volume did not take the picked green"
echo "volume centre after recolouring: $(centre_of recoloured)"

# Transfer Function > Save through the real dialog, then check the bytes.
menu_key t s
answer_dialog "$out/saved.tf" save
sleep 1
[ -f "$out/saved.tf" ] || fail "no file was saved"
size=$(stat -c %s "$out/saved.tf")
count=$(od -An -tu4 -N4 "$out/saved.tf" | tr -d ' ')
echo "saved.tf: $size bytes, $count points"
[ "$count" = 3 ] && [ "$size" = 64 ] || fail "the saved function is not 3 points in 64 bytes"
python3 - "$out/saved.tf" <<'PY' || fail "the saved point is not where it was dragged and coloured"
import struct, sys
data = open(sys.argv[1], "rb").read()
points = [struct.unpack_from("<5f", data, 4 + 20 * i) for i in range(3)]
position, red, green, blue, alpha = points[1]
print("middle point", points[1])
assert 0.55 < position < 0.65 and 0.65 < alpha < 0.75, "dragged to (0.6, 0.7)"
assert green > red and green > blue, "recoloured green"
assert points[0][0] == 0.0 and points[2][0] == 1.0
PY

# Open the panel again and delete the point with a right click.
client_click 50 $((client_height - 10)) 1
wait_until reopened panel_is_open "the panel did not open again"
settle reopened
client_click "$(graph_x 60)" "$(graph_y 70)" 3
point_gone() { read -r r g b <<<"$(pixel "$1" "$(graph_x 60)" $((bar + $(graph_y 70))))"; [ "$g" -lt $((r + 60)) ]; }
wait_until deleted point_gone "the right click did not delete the point"
client_click 50 $((client_height - 656)) 1
wait_until panel_closed panel_is_closed "the panel did not close again"

# File > Close returns to dark blue; File > Exit ends the program with 0.
menu_key f c
dark_blue() { [ "$(centre_of "$1")" = "0 0 128" ]; }
wait_until closed dark_blue "File > Close left a picture"
exit_through_menu
echo "PASS: a whole session through the real menus, dialogs and mouse"

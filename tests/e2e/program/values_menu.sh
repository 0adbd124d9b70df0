#!/usr/bin/env bash
# The value menus in the real viewer under a virtual display: Values > Full
# range maps the open CT again (another picture) and Values > CT brings the
# same picture back; Transfer Function > Presets loads a preset; the
# logarithmic histogram changes only the panel's histogram; the tip beside the
# cursor appears over the graph.
# Usage: with_xvfb.sh values_menu.sh TAMLO_BINARY DATA_DIR OUTPUT_DIR WRITE_TEST_SCAN MAKE_VOLUME
set -euo pipefail
binary=$1 data=$2 out=$3 writer=$4 make_volume=$5
mkdir -p "$out"
rm -f "$out"/*.png "$out"/*.nii.gz "$out"/*.vol
[ -n "${DISPLAY:-}" ] || { echo "FAIL: run me under tests/e2e/with_xvfb.sh"; exit 1; }
source "$(dirname "$0")/session_lib.sh"

"$writer" "$out/head-ct.nii.gz" || fail "could not write the test scan"
differ() { [ "$(compare -metric AE "$out/$1.png" "$out/$2.png" null: 2>&1 || true)" != 0 ]; }
region_differs() {  # region_differs A B GEOMETRY
    convert "$out/$1.png" -crop "$3" +repage "$out/crop-a.png"
    convert "$out/$2.png" -crop "$3" +repage "$out/crop-b.png"
    differ crop-a crop-b
}

start_viewer 480 720
open_volume "$out/head-ct.nii.gz" "the scan"

menu_key a f   # Values > Full range
wait_until_changed opened || fail "Values > Full range did not change the picture"
settle full
menu_key a c   # Values > CT (Hounsfield units)
settle ct
differ opened ct && fail "Values > CT did not give the first picture back"

menu_key t p   # Transfer Function > Presets: the submenu, at its first preset
sleep 0.4
xdotool key Return
settle preset
differ ct preset || fail "choosing a preset changed nothing"

# The synthetic CT head, whose histogram has small peaks (bone, the lenses);
# the panel's handle opens it; the log histogram changes the histogram alone.
"$make_volume" "$out/ct-head.vol" 64 64 64 ct || fail "could not write the CT head"
menu_key f o
answer_dialog "$out/ct-head.vol" open
settle head
client_click 50 $((client_height - 10)) 1
wait_until panel_open panel_is_open "the panel did not open"
settle panel_open
menu_key t l   # Transfer Function > Logarithmic Histogram
settle log_histogram
region_differs panel_open log_histogram "200x200+12+$((bar + client_height - 400))" ||
    fail "the logarithmic histogram looks like the linear one"
region_differs panel_open log_histogram "480x$((client_height - 420))+0+$bar" &&
    fail "the logarithmic histogram changed the picture above the panel"

# The tip beside the cursor over the graph.
xdotool mousemove 120 $((bar + client_height - 300))
sleep 1.5
shot tip
region_differs log_histogram tip "160x40+130+$((bar + client_height - 290))" || fail "no tip over the graph"

exit_through_menu
echo "PASS: the Values menu, the presets, the logarithmic histogram and the value tip work in the viewer"

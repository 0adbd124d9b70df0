#!/usr/bin/env bash
# The slice window with the real viewer under a virtual display: with the
# sagittal and coronal planes shown, S opens the coronal one flat (the
# sagittal plane a red line across it), and a click in it moves the
# sagittal plane there: its line in the window and the plane face on in the
# 3-D view beside it. The window follows Page Up and closes by its close box;
# a double click on the sagittal plane opens it on that plane.
# Usage: with_xvfb.sh slice_window.sh TAMLO_BINARY DATA_DIR OUTPUT_DIR
set -euo pipefail
binary=$1 data=$2 out=$3
mkdir -p "$out"
rm -f "$out"/*.png
[ -n "${DISPLAY:-}" ] || { echo "FAIL: run me under tests/e2e/with_xvfb.sh"; exit 1; }
source "$(dirname "$0")/session_lib.sh"

start_viewer 480 360
open_volume "$data/head256.vol" "the phantom"
menu_key s x
menu_key s z  # the coronal plane, shown last, is the one the window shows
focus_viewer
xdotool key 4  # the right view: the sagittal plane face on
settle planes
# The window opens at the client's top left, 240 x 270.
window_part="240x270+10+$((bar + 10))"
view_part="$((width - 260))x$((client_height - 40))+260+$bar"
# The left edge of the sagittal plane's red line in REGION, -1 with none.
red_line() {  # red_line NAME REGION
    convert "$out/$1.png" -crop "$2" +repage -fuzz 15% -fill black +opaque 'rgb(255,51,51)' \
        -fill white -opaque 'rgb(255,51,51)' "$out/red.png"
    convert "$out/red.png" -format '%[fx:mean > 0 ? 1 : 0]' info: | grep -q 1 || { echo -1; return; }
    convert "$out/red.png" -format '%@' info: | sed 's/.*+\([0-9]*\)+.*/\1/'
}

focus_viewer
xdotool key s
settle opened_window
changed=$(pixels_differing_in planes opened_window "$window_part")
echo "S changed $changed pixels where the window opens"
[ "$changed" -gt 20000 ] || fail "S opened no slice window"
line=$(red_line opened_window "$window_part")
echo "the sagittal plane's line at x $line of the window's part"
[ "$line" -gt 0 ] || fail "no red line for the sagittal plane in the slice window"

# A click a quarter of the way across the picture, away from the line.
xdotool mousemove $((10 + 60)) $((bar + 10 + 140)) click 1
settle clicked
moved_line=$(red_line clicked "$window_part")
echo "after the click the line lies at x $moved_line"
[ "$moved_line" -ge 58 ] && [ "$moved_line" -le 62 ] || fail "the line did not move to the click (x 60)"
moved=$(pixels_differing_in opened_window clicked "$view_part")
echo "the click changed $moved pixels of the 3-D view"
[ "$moved" -gt 200 ] || fail "the click did not move the sagittal plane in the 3-D view"

# Page Up moves the coronal plane, and the window follows it; its close box
# closes it.
focus_viewer
for _ in $(seq 8); do xdotool key Prior; sleep 0.1; done
settle paged
[ "$(pixels_differing_in clicked paged "$window_part")" -gt 500 ] || fail "the slice window did not follow Page Up"
title_colour=$(pixel paged 100 $((bar + 19)))
xdotool mousemove 238 $((bar + 19)) click 1
settle closed
[ "$(pixel closed 100 $((bar + 19)))" != "$title_colour" ] || fail "the close box left the slice window open"

# A double click on the sagittal plane, face on in the view's centre, opens
# the window again, on that plane.
xdotool mousemove $((width / 2 + 40)) $((bar + client_height / 2)) click --repeat 2 --delay 80 1
settle double_clicked
[ "$(pixels_differing_in closed double_clicked "$window_part")" -gt 20000 ] || fail "a double click on a plane opened no window"
[ "$(red_line double_clicked "$window_part")" = -1 ] || fail "the window shows the coronal plane, not the sagittal"
exit_through_menu
echo "PASS: the slice window opened, a click in it moved the other plane, it followed Page Up and closed"

#!/usr/bin/env bash
# The Slices menu with the real viewer under a virtual display: Slices >
# X-Axis puts the sagittal plane into the picture (seen face on from the
# right), Page Up moves it and the status line follows, Slices > Show
# Boundaries outlines it in red, and Slices > Clear brings the first picture
# back.
# Usage: with_xvfb.sh slices.sh TAMLO_BINARY DATA_DIR OUTPUT_DIR
set -euo pipefail
binary=$1 data=$2 out=$3
mkdir -p "$out"
rm -f "$out"/*.png
[ -n "${DISPLAY:-}" ] || { echo "FAIL: run me under tests/e2e/with_xvfb.sh"; exit 1; }
source "$(dirname "$0")/session_lib.sh"

start_viewer 400 380
open_volume "$data/head256.vol" "the phantom"
focus_viewer
xdotool key 4  # the right view: the sagittal plane face on
settle plain
volume_part="${width}x$((client_height - 40))+0+$bar"
status_box="200x16+$((width - 200))+$((bar + client_height - 20))"
red_pixels() {
    convert "$out/$1.png" -crop "$volume_part" +repage -fill white -fuzz 12% -opaque 'rgb(255,51,51)' \
        -fill black +opaque white -format '%[fx:int(w*h*mean)]' info:
}

menu_key s x
settle plane
changed=$(pixels_differing_in plain plane "$volume_part")
echo "Slices > X-Axis changed $changed pixels"
[ "$changed" -gt 2000 ] || fail "Slices > X-Axis did not show a plane"
focus_viewer
for _ in $(seq 12); do xdotool key Prior; sleep 0.1; done
settle moved
moved=$(pixels_differing_in plane moved "$volume_part")
echo "Page Up x 12 changed $moved pixels"
[ "$moved" -gt 100 ] || fail "Page Up did not move the plane"
[ "$(pixels_differing_in plane moved "$status_box")" -gt 5 ] || fail "the status line did not follow the plane"

xdotool mousemove $((width / 2)) $((bar + (client_height - 40) / 2))
for _ in $(seq 6); do xdotool keydown ctrl click 4 keyup ctrl; sleep 0.1; done
settle wheeled
wheeled=$(pixels_differing_in moved wheeled "$volume_part")
echo "Ctrl+wheel x 6 over the plane changed $wheeled pixels"
[ "$wheeled" -gt 100 ] || fail "Ctrl+wheel over the plane did not move it"
[ "$(pixels_differing_in moved wheeled "$status_box")" -gt 5 ] || fail "the status line did not follow the wheel"
for _ in $(seq 6); do xdotool key Next; sleep 0.1; done
settle unwheeled
[ "$(pixels_differing_in moved unwheeled "$volume_part")" -lt 20 ] || fail "Ctrl+wheel did more than move the plane"
xdotool keydown ctrl mousedown 1 mousemove_relative --sync 0 60 mouseup 1 keyup ctrl
settle darker
darker=$(pixels_differing_in moved darker "$volume_part")
echo "Ctrl+drag down on the plane changed $darker pixels"
[ "$darker" -gt 500 ] || fail "Ctrl+drag on the plane did not change its grey"
middle="80x80+$((width / 2 - 40))+$((bar + (client_height - 40) / 2 - 40))"
grey() { convert "$out/$1.png" -crop "$middle" +repage -colorspace gray -format '%[fx:int(1000*mean)]' info:; }
[ "$(grey darker)" -lt "$(grey moved)" ] || fail "Ctrl+drag down did not darken the plane"

[ "$(red_pixels moved)" -lt 10 ] || fail "a red outline before Slices > Show Boundaries"
menu_key s s
settle outlined
[ "$(red_pixels outlined)" -gt 100 ] || fail "Slices > Show Boundaries drew no red outline"
menu_key s s
settle unoutlined

menu_key s c
settle cleared
back=$(pixels_differing_in plain cleared "$volume_part")
echo "after Slices > Clear $back pixels differ from the first picture"
[ "$back" -lt 20 ] || fail "Slices > Clear did not bring the first picture back"
exit_through_menu
echo "PASS: a plane shown, moved, outlined and cleared"

#!/usr/bin/env bash
# Finding one's way with the real viewer under a virtual display: the title
# names the open file and the status line shows at the bottom right; a
# middle-button drag moves the volume with the cursor and Shift + right drag
# brings it back; a wheel notch keeps the point under the cursor there; View >
# Boundaries outlines the box and F fits that outline to the window; the
# front view centres it again; View > Background > White and the pan survive
# opening the volume again.
# Usage: with_xvfb.sh navigation.sh TAMLO_BINARY DATA_DIR OUTPUT_DIR
set -euo pipefail
binary=$1 data=$2 out=$3
mkdir -p "$out"
rm -f "$out"/*.png
[ -n "${DISPLAY:-}" ] || { echo "FAIL: run me under tests/e2e/with_xvfb.sh"; exit 1; }
source "$(dirname "$0")/session_lib.sh"

start_viewer 480 440
open_volume "$data/head256.vol" "the phantom"
title=$(xdotool getwindowname "$window")
[ "$title" = "Tamlo Ex01 - head256.vol" ] || fail "the title is \"$title\", not the file's"

# In screenshot NAME's REGION (client rows above the handle and the status
# line by default), the pixels that are (is) or are not (not) COLOUR: how
# many, or their bounding box "X0 Y0 X1 Y1".
above_bottom="${width}x$((client_height - 40))+0+$bar"
mask() {  # mask NAME is|not COLOUR [REGION] -> convert arguments after it
    local keep=white other=black
    [ "$2" = not ] && keep=black other=white
    convert "$out/$1.png" -crop "${4:-$above_bottom}" +repage -fill $keep -fuzz 10% -opaque "$3" \
        -fill $other +opaque $keep "${@:5}"
}
count() { mask "$1" "$2" "$3" "${4:-$above_bottom}" -format '%[fx:int(w*h*mean)]' info:; }
extent() {
    mask "$1" "$2" "$3" "$above_bottom" -trim -format '%X %Y %w %h' info: |
        tr -d '+' | awk '{ print $1, $2, $1 + $3, $2 + $4 }'
}
near() { [ $(($1 - $2)) -le "$3" ] && [ $(($2 - $1)) -le "$3" ]; }
blue='rgb(0,0,128)' amber='rgb(255,191,0)' white='rgb(255,255,255)'
status_box="200x16+$((width - 200))+$((bar + client_height - 20))"
[ "$(count opened not "$blue" "$status_box")" -gt 100 ] || fail "no status line at the bottom right"
menu_key v u  # View > Status, off: the pictures below are the volume's alone
settle no_status
[ "$(count no_status not "$blue" "$status_box")" -lt 10 ] || fail "View > Status did not hide the status line"

read -r x0 y0 x1 y1 <<<"$(extent no_status not "$blue")"
echo "the phantom lies at $x0,$y0 - $x1,$y1"
cx=$(((x0 + x1) / 2)) cy=$((bar + (y0 + y1) / 2))

# The middle button: the volume follows the cursor by the drag.
xdotool mousemove "$cx" "$cy" mousedown 2
for step in 1 2 3 4; do xdotool mousemove $((cx + 15 * step)) $((cy + 10 * step)); sleep 0.2; done
xdotool mouseup 2
settle panned
read -r p0 q0 p1 q1 <<<"$(extent panned not "$blue")"
echo "panned by 60,40: now at $p0,$q0 - $p1,$q1"
for pair in "$p0 $((x0 + 60))" "$p1 $((x1 + 60))" "$q0 $((y0 + 40))" "$q1 $((y1 + 40))"; do
    near $pair 3 || fail "the middle-button drag did not move the volume by the drag"; done
# Shift and the right button pan back; the right button alone still turns.
focus_viewer
xdotool mousemove $((cx + 60)) $((cy + 40)) keydown shift sleep 0.3 mousedown 3
for step in 1 2 3 4; do xdotool mousemove $((cx + 60 - 15 * step)) $((cy + 40 - 10 * step)); sleep 0.2; done
xdotool mouseup 3 sleep 0.3 keyup shift
settle back
read -r b0 c0 b1 c1 <<<"$(extent back not "$blue")"
for pair in "$b0 $x0" "$b1 $x1" "$c0 $y0" "$c1 $y1"; do
    near $pair 3 || fail "Shift + right drag did not pan the volume back ($b0,$c0 - $b1,$c1)"; done

# A notch in with the cursor over the volume's upper left: the volume grows
# about that point, which keeps its place within it.
px=$((x0 + (x1 - x0) / 4)) py=$((y0 + (y1 - y0) / 4))
xdotool mousemove "$px" $((bar + py)) click 4
settle zoomed
read -r z0 w0 z1 w1 <<<"$(extent zoomed not "$blue")"
echo "zoomed in about $px,$py: now at $z0,$w0 - $z1,$w1"
[ $((z1 - z0)) -gt $(((x1 - x0) * 12 / 10)) ] || fail "the notch did not zoom in"
# The cursor's fraction of the box, before and after, in hundredths.
for axis in "$px $x0 $x1 $z0 $z1" "$py $y0 $y1 $w0 $w1"; do
    read -r p a0 a1 n0 n1 <<<"$axis"
    near $((100 * (p - a0) / (a1 - a0))) $((100 * (p - n0) / (n1 - n0))) 5 ||
        fail "the point under the cursor moved within the volume as it zoomed"
done

# View > Boundaries: an amber outline, and F fits it to the window.
[ "$(count zoomed is "$amber")" -lt 10 ] || fail "an outline before View > Boundaries"
menu_key v b
settle outlined
[ "$(count outlined is "$amber")" -gt 150 ] || fail "View > Boundaries drew no outline"
focus_viewer
xdotool key f
settle fitted
read -r f0 g0 f1 g1 <<<"$(extent fitted is "$amber")"
echo "fitted outline: $f0,$g0 - $f1,$g1"
near $(((f0 + f1) / 2)) $((width / 2)) 12 || fail "F did not centre the box"
[ $((f1 - f0)) -gt $((width * 7 / 10)) ] || [ $((g1 - g0)) -gt $(((client_height - 40) * 7 / 10)) ] ||
    fail "F did not fill the window with the box"
menu_key v b
settle plain
[ "$(count plain is "$amber")" -lt 10 ] || fail "View > Boundaries did not take the outline away"

# Pan, then View > Background > White; both stay when the volume opens again.
read -r x0 y0 x1 y1 <<<"$(extent plain not "$blue")"
cx=$(((x0 + x1) / 2)) cy=$((bar + (y0 + y1) / 2))
xdotool mousemove "$cx" "$cy" mousedown 2 mousemove $((cx - 20)) "$cy" sleep 0.2 mousemove $((cx - 40)) "$cy"
xdotool mouseup 2
menu_key v g
sleep 0.4
xdotool key w
settle white
[ "$(pixel white 3 $((bar + 3)))" = "255 255 255" ] || fail "View > Background > White did not whiten it"
before=$(extent white not "$white")
menu_key f o
answer_dialog "$data/head256.vol" open
sleep 3
settle reopened
[ "$(pixel reopened 3 $((bar + 3)))" = "255 255 255" ] || fail "the background did not survive a new volume"
after=$(extent reopened not "$white")
echo "panned on white: $before; reopened: $after"
read -r a0 _ a1 _ <<<"$before"
read -r r0 _ r1 _ <<<"$after"
near "$a0" "$r0" 3 && near "$a1" "$r1" 3 || fail "the pan did not survive a new volume"
# The front view looks at the box's centre again.
focus_viewer
xdotool key 1
settle front
read -r x0 _ x1 _ <<<"$(extent front not "$white")"
near $(((x0 + x1) / 2)) $((width / 2)) 3 || fail "the front view kept the pan"
exit_through_menu
echo "PASS: title, status, pan, zoom to the cursor, boundaries, fit, background"

#!/usr/bin/env bash
# The standard views, undo and redo, and the saved picture with the real
# viewer under a virtual display: View > Front and Top show what
# `tamlo-render --view` draws at the client size, Start View goes back to the
# opened picture, File > Save Picture writes that picture without the panel,
# View > Crop...'s slider cuts the head and Reset brings it back, and a point
# moved on the panel comes back with Edit > Undo and goes again with
# Edit > Redo.
# Usage: with_xvfb.sh views_undo_picture.sh TAMLO_BINARY DATA_DIR OUTPUT_DIR TAMLO_RENDER
set -euo pipefail
binary=$1 data=$2 out=$3 render=$4
mkdir -p "$out"
rm -f "$out"/*.png
[ -n "${DISPLAY:-}" ] || { echo "FAIL: run me under tests/e2e/with_xvfb.sh"; exit 1; }
source "$(dirname "$0")/session_lib.sh"

start_viewer 480 760
open_volume "$data/head256.vol" "the phantom"
# View > Status off: tamlo-render's pictures have no status line.
menu_key v u
settle opened
# Pixels that differ by more than a grey level or two between two pictures.
differing() { compare -metric AE -fuzz 1% "$1" "$2" null: 2>&1 || true; }
client_of() { convert "$out/$1.png" -crop "${width}x${client_height}+0+$bar" +repage "$out/$1-client.png"; }

for view in front top; do
    menu_key v "${view:0:1}"
    settle "$view"
    client_of "$view"
    "$render" "$data/head256.vol" --view "$view" --size "${width}x${client_height}" --data "$data" \
        -o "$out/render-$view.png" >/dev/null || fail "tamlo-render --view $view failed"
    d=$(differing "$out/$view-client.png" "$out/render-$view.png")
    echo "View > $view against tamlo-render --view $view: $d pixels differ"
    [ "$d" -lt 20 ] || fail "View > $view does not show what tamlo-render --view $view draws"
done


# File > Save Picture: the volume frame without the panel's handle, the same
# as tamlo-render's above the handle's rows.
menu_key f p
answer_dialog "$out/saved-top.png" save
for _ in $(seq 50); do [ -f "$out/saved-top.png" ] && break; sleep 0.2; done
[ -f "$out/saved-top.png" ] || fail "File > Save Picture wrote nothing"
[ "$(identify -format '%wx%h' "$out/saved-top.png")" = "${width}x${client_height}" ] ||
    fail "the saved picture is not the client size"
above="${width}x$((client_height - 40))+0+0"
d=$(compare -metric AE -fuzz 1% "$out/saved-top.png[$above]" "$out/render-top.png[$above]" null: 2>&1 || true)
echo "saved picture against tamlo-render above the handle: $d pixels differ"
[ "$d" -lt 20 ] || fail "the saved picture is not the view on screen"
handle="80x20+10+$((client_height - 20))"
d=$(compare -metric AE -fuzz 5% "$out/saved-top.png[$handle]" "$out/top-client.png[$handle]" null: 2>&1 || true)
[ "$d" -gt 100 ] || fail "the saved picture shows the panel's handle"

menu_key v s
settle start
[ "$(differing "$out/start.png" "$out/opened.png")" -lt 20 ] || fail "View > Start View is not the start camera"
focus_viewer
xdotool key 1
settle front_key
[ "$(differing "$out/front_key.png" "$out/front.png")" -lt 20 ] || fail "the key 1 is not the front view"
xdotool key Home
settle home_key
[ "$(differing "$out/home_key.png" "$out/opened.png")" -lt 20 ] || fail "Home is not the start camera"

# View > Crop...: the crop window at the client's top right; its first
# slider's low end dragged half way cuts the patient's right half away (the
# screen's left at the start view), the box outlined while the button is held.
menu_key v p   # View > Crop...
sleep 2
shot crop_window
crop_x=$((width - 320))  # the window's left edge is 330 from the right, its slider 13 px inside
head_left="$((width / 2 - 30)) $((bar + client_height / 2))"
xdotool mousemove $((crop_x + 3)) $((bar + 46)) mousedown 1
sleep 0.5
xdotool mousemove $((crop_x + 30)) $((bar + 46))
sleep 0.5
xdotool mousemove $((crop_x + 52)) $((bar + 46))
sleep 3
shot crop_held
outline=$(convert "$out/crop_held.png" -crop "${width}x$((client_height - 170))+0+$((bar + 170))" +repage \
    -fill white -fuzz 12% -opaque 'rgb(255,210,0)' -fill black +opaque white -format '%[fx:int(w*h*mean)]' info:)
echo "crop outline: $outline pixels"
[ "$outline" -gt 100 ] || fail "the crop box is not outlined while the slider moves"
xdotool mouseup 1
settle cropped
read -r r _ _ <<<"$(pixel cropped $head_left)"
[ "$r" -lt 20 ] || fail "the crop did not cut the head's left side away on screen"
below="${width}x$((client_height - 170))+0+$((bar + 170))"
# Reset brings the whole box back; the close box ends the window.
xdotool mousemove $((crop_x + 19)) $((bar + 115)) click 1
settle uncropped
d=$(compare -metric AE -fuzz 1% "$out/uncropped.png[$below]" "$out/crop_window.png[$below]" null: 2>&1 || true)
[ "$d" -lt 20 ] || fail "Reset did not bring the whole box back ($d pixels differ)"
xdotool mousemove $((width - 22)) $((bar + 19)) click 1
settle crop_closed
[ "$(differing "$out/crop_closed.png" "$out/start.png")" -lt 20 ] || fail "the crop window did not close"
echo "the crop window cut the head, reset and closed"

# Undo and redo a point's move on the panel.
client_click 50 $((client_height - 10)) 1
wait_until panel_open panel_is_open "the panel did not open"
settle panel_open
graph_x() { echo $((10 + $1 * (width / 2 - 30) / 100)); }
graph_y() { echo $((client_height - 200 - 2 * $1)); }
# The pointer is parked off the graph before each picture, where no value tip
# shows. Until the viewer has taken a drag's release, the pointer stays
# confined to the graph, so the move is repeated until the pointer is there.
park() {
    local x=$((width - 10)) y=$((bar + client_height - 60))
    for _ in $(seq 30); do
        xdotool mousemove "$x" "$y"
        [ "$(xdotool getmouselocation | cut -d' ' -f1-2)" = "x:$x y:$y" ] && return 0
        sleep 1
    done
    fail "the pointer could not be parked"
}
client_click "$(graph_x 50)" "$(graph_y 50)" 1
park
settle added
xdotool mousemove "$(graph_x 50)" $((bar + $(graph_y 50))) mousedown 1
sleep 0.5
xdotool mousemove "$(graph_x 70)" $((bar + $(graph_y 80)))
sleep 0.5
xdotool mouseup 1
park
settle moved
# The function's graph and the picker of the selected point's colour: opaque
# parts of the panel, so that what they show is the points alone and not the
# volume drawn behind the panel (its frames are checked elsewhere).
panel_parts() {
    local graph="208x200+10+$((bar + client_height - 399))" picker="178x178+10+$((bar + client_height - 599))"
    echo $(($(compare -metric AE -fuzz 1% "$1[$graph]" "$2[$graph]" null: 2>&1 || true) +
        $(compare -metric AE -fuzz 1% "$1[$picker]" "$2[$picker]" null: 2>&1 || true)))
}
[ "$(panel_parts "$out/moved.png" "$out/added.png")" -gt 100 ] || fail "the point did not move"
# Edit > Undo and Redo, then the keys (a modifier is held a moment before
# its key, so that the window has seen it go down).
press() { if [ "$1" = menu ]; then menu_key e "$2"; else focus_viewer; xdotool keydown "$1"; sleep 0.3; xdotool key "$2"; xdotool keyup "$1"; fi; }
for step in "menu u added" "menu r moved" "ctrl z added" "ctrl+shift z moved" "ctrl z added" "ctrl y moved"; do
    read -r modifier key expected <<<"$step"
    press "$modifier" "$key"
    park
    settle "$modifier-$key"
    d=$(panel_parts "$out/$modifier-$key.png" "$out/$expected.png")
    echo "$modifier $key: $d pixels of the panel differ from $expected" \
        "($(differing "$out/$modifier-$key.png" "$out/$expected.png") in the whole window)"
    [ "$d" -lt 20 ] || fail "$modifier $key did not give the points of $expected"
done
exit_through_menu
echo "PASS: standard views, the saved picture, undo and redo"

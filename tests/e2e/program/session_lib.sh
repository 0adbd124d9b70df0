# Shared by the viewer's end-to-end scripts: screenshots, pixels, the file
# dialog, opening a volume, the colour picker, and waiting for llvmpipe's
# slow frames. The script that sources it
# sets binary, data and out, and later window, width, bar and client_height.

viewer_pid=
# Ends only what this script started: the viewer and the dialogs it opened,
# never another test's (or the user's) zenity.
cleanup() {
    if [ -n "$viewer_pid" ]; then
        pkill -P "$viewer_pid" 2>/dev/null || true
        kill "$viewer_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; echo "--- viewer stderr:"; tail -n 20 "$out/viewer.stderr" || true; exit 1; }

shot() { import -window root "$out/$1.png"; }
pixel() {  # pixel NAME X Y -> "r g b" of the screenshot, in screen coordinates
    convert "$out/$1.png" -format '%[fx:int(255*p{'"$2,$3"'}.r)] %[fx:int(255*p{'"$2,$3"'}.g)] %[fx:int(255*p{'"$2,$3"'}.b)]' info:
}
# Pixels of the client area that differ from the idle clear colour.
covered() {
    convert "$out/$1.png" -crop "${width}x$((client_height - 40))+0+$bar" +repage -fill black -fuzz 3% \
        -opaque 'rgb(0,0,128)' -fill white +opaque black -format '%[fx:int(w*h*mean)]' info:
}
wait_for_window() {  # wait_for_window NAME_REGEX -> window id
    local id=
    for _ in $(seq 100); do
        id=$(xdotool search --name "$1" 2>/dev/null | tail -n 1 || true)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.2
    done
    return 1
}
# Types a path into the zenity file chooser that is open and confirms it.
answer_dialog() {
    local dialog
    dialog=$(wait_for_window '^zenity$') || fail "no file dialog appeared"
    sleep 1.5
    for w in $(xdotool search --name '^zenity$'); do xdotool windowfocus --sync "$w" 2>/dev/null || true; done
    xdotool key ctrl+a
    [ "$2" = open ] && xdotool key ctrl+l && sleep 0.3
    # The save dialog's name field starts as ".tf" with the cursor before it;
    # a select-all that arrives before the field has the keyboard would leave
    # it there (typing then gives "saved.tf.tf"). Empty the field outright.
    [ "$2" = save ] && xdotool key --delay 80 End shift+Home BackSpace
    xdotool type --delay 10 "$1"
    sleep 0.5
    xdotool key Return
    for _ in $(seq 50); do xdotool search --name '^zenity$' >/dev/null 2>&1 || return 0; sleep 0.2; done
    fail "the file dialog did not close"
}
# Waits until the client centre stops being the given colour (a frame came).
wait_until_changed() {  # NAME: waits until a new screenshot differs from NAME's centre
    local before now
    before=$(pixel "$1" "$((width / 2))" "$((bar + client_height / 2))")
    for _ in $(seq 60); do
        sleep 0.5
        shot now
        now=$(pixel now "$((width / 2))" "$((bar + client_height / 2))")
        [ "$now" != "$before" ] && return 0
    done
    return 1
}
# Waits until the picture has stopped changing for three seconds (a frame can
# take a second on llvmpipe), then keeps the last screenshot as NAME.
settle() {
    local same=0
    import -window root "$out/previous.png"
    for _ in $(seq 90); do
        sleep 1
        import -window root "$out/settle.png"
        if [ "$(compare -metric AE "$out/settle.png" "$out/previous.png" null: 2>&1 || true)" = 0 ]; then
            same=$((same + 1))
            if [ "$same" -ge 3 ]; then
                mv "$out/settle.png" "$out/$1.png"
                rm -f "$out/previous.png"
                return 0
            fi
        else
            same=0
        fi
        mv "$out/settle.png" "$out/previous.png"
    done
    fail "the picture never settled ($1)"
}
# Re-takes screenshot NAME until the check (a shell function over it) holds,
# for up to a minute: frames take a second or more on llvmpipe.
wait_until() {  # wait_until NAME CHECK DESCRIPTION
    for _ in $(seq 60); do
        shot "$1"
        "$2" "$1" && return 0
        sleep 1
    done
    fail "$3"
}
# How many pixels of REGION (a geometry) differ between two screenshots.
pixels_differing_in() {  # pixels_differing_in NAME_A NAME_B REGION
    convert "$out/$1.png" -crop "$3" +repage "$out/a-part.png"
    convert "$out/$2.png" -crop "$3" +repage "$out/b-part.png"
    compare -metric AE -fuzz 3% "$out/a-part.png" "$out/b-part.png" null: 2>&1 || true
}
centre_of() { pixel "$1" "$((width / 2))" "$((bar + client_height / 2))"; }
panel_is_open() { read -r r g b <<<"$(pixel "$1" 12 $((bar + client_height - 598)))"; [ "$r" -gt 200 ] && [ "$b" -lt 80 ]; }
panel_is_closed() { ! panel_is_open "$1"; }
focus_viewer() { xdotool windowfocus --sync "$window" 2>/dev/null || true; }
click() { xdotool mousemove "$1" "$2" click "$3"; }
client_click() { click "$1" "$((bar + $2))" "$3"; }


# Starts the viewer from the data folder at WIDTH x HEIGHT (small windows keep
# llvmpipe's frames quick) and finds the menu bar: sets viewer_pid, window,
# width, bar and client_height, and leaves the idle screenshot.
start_viewer() {  # start_viewer WIDTH HEIGHT
    (cd "$data" && exec "$binary") 2>"$out/viewer.stderr" &
    viewer_pid=$!
    window=$(wait_for_window '^Tamlo Ex01$') || fail "no window titled 'Tamlo Ex01'"
    width=$1
    xdotool windowsize "$window" "$width" "$2"
    sleep 2
    shot idle
    # The menu bar ends where the dark blue client area begins.
    bar=0
    while [ "$(pixel idle $((width / 2)) "$bar")" != "0 0 128" ]; do
        bar=$((bar + 1))
        [ "$bar" -lt 60 ] || fail "no dark blue client area below a menu bar"
    done
    client_height=$(($2 - bar))
    echo "menu bar $bar px, client $width x $client_height"
}

# A menu item by the keyboard path: Alt+MENU opens the menu, ITEM chooses.
menu_key() {  # menu_key MENU_LETTER ITEM_LETTER
    focus_viewer
    xdotool key "alt+$1"
    sleep 0.4
    xdotool key "$2"
}

# File > Open through the menu's keyboard path and the real dialog; waits for
# the first frame after the idle screenshot and keeps the settled picture as
# "opened".
open_volume() {  # open_volume PATH WHAT (named in the failure)
    menu_key f o
    answer_dialog "$1" open
    wait_until_changed idle || fail "$2 never appeared"
    settle opened
}

# A left-button drag on the open panel's hue/saturation field towards a green;
# the point takes it on release. The field's rows count from the panel's
# bottom edge, which lies below the client's when the window is too short for
# the whole panel. Keeps the settled picture as NAME.
pick_green() {  # pick_green PANEL_BOTTOM NAME
    xdotool mousemove 100 $((bar + $1 - 500)) mousedown 1
    sleep 0.3
    xdotool mousemove 80 $((bar + $1 - 595))
    sleep 0.3
    xdotool mouseup 1
    settle "$2"
}
# Whether screenshot NAME's client centre is clearly green (after pick_green).
greener() { read -r r g b <<<"$(centre_of "$1")"; [ "$g" -gt $((r + 15)) ]; }

# File > Exit; fails unless the viewer ends, with status 0.
exit_through_menu() {
    local status=
    menu_key f e
    for _ in $(seq 100); do
        if ! kill -0 "$viewer_pid" 2>/dev/null; then
            set +e; wait "$viewer_pid"; status=$?; set -e
            break
        fi
        sleep 0.2
    done
    viewer_pid=
    [ -n "$status" ] || fail "File > Exit did not end the viewer"
    [ "$status" -eq 0 ] || fail "exit code $status"
}

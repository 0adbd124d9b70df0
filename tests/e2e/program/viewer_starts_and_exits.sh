#!/usr/bin/env bash
# The real viewer under a virtual display: it opens its window with the menu
# bar over a dark blue client area, and File > Exit ends it with exit code 0.
# Usage: with_xvfb.sh viewer_starts_and_exits.sh TAMLO_BINARY DATA_DIR OUTPUT_DIR
set -euo pipefail
binary=$1 data=$2 out=$3
mkdir -p "$out"

viewer_pid=
cleanup() { [ -n "$viewer_pid" ] && kill "$viewer_pid" 2>/dev/null || true; }
trap cleanup EXIT
[ -n "${DISPLAY:-}" ] || { echo "FAIL: run me under tests/e2e/with_xvfb.sh"; exit 1; }

(cd "$data" && exec "$binary") 2>"$out/viewer.stderr" &
viewer_pid=$!

window=
for _ in $(seq 300); do
    window=$(xdotool search --name '^Tamlo Ex01$' 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && break
    sleep 0.1
done
if [ -z "$window" ]; then
    echo "FAIL: no window titled 'Tamlo Ex01' appeared"; cat "$out/viewer.stderr"; exit 1
fi
sleep 1.5

import -window root "$out/viewer_idle.png"
# The client area: the middle of the screen is the idle clear colour (0, 0, 128).
centre=$(convert "$out/viewer_idle.png" -format '%[pixel:p{640,600}]' info:)
echo "centre pixel: $centre"
case "$centre" in
    "srgb(0,0,128)" | "rgb(0,0,128)") ;;
    *) echo "FAIL: the client area is not dark blue"; exit 1 ;;
esac
# The menu bar: the top rows are not the clear colour.
top=$(convert "$out/viewer_idle.png" -format '%[pixel:p{300,8}]' info:)
echo "menu bar pixel: $top"
case "$top" in
    "srgb(0,0,128)" | "rgb(0,0,128)") echo "FAIL: no menu bar above the client area"; exit 1 ;;
esac

# File > Exit through the menu's keyboard path: Alt+F opens File, E chooses Exit.
xdotool mousemove --window "$window" 640 500
xdotool key --window "$window" alt+f
sleep 0.5
import -window root "$out/viewer_file_menu.png"
xdotool key --window "$window" e

status=
for _ in $(seq 100); do
    if ! kill -0 "$viewer_pid" 2>/dev/null; then
        set +e; wait "$viewer_pid"; status=$?; set -e
        break
    fi
    sleep 0.1
done
viewer_pid=
if [ -z "$status" ]; then echo "FAIL: File > Exit did not end the viewer"; exit 1; fi
if [ "$status" -ne 0 ]; then echo "FAIL: exit code $status"; cat "$out/viewer.stderr"; exit 1; fi
echo "PASS: the viewer started, showed its menu bar and dark blue client area, and exited with 0"

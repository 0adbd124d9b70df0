#!/usr/bin/env bash
# The built viewer started from / finds fx.fx and tam_ui.dds in its build
# tree's data folder and shows the volume named on its command line; a copy
# of it with no data anywhere says, at start, which folders it looked in.
# Usage: with_xvfb.sh viewer_from_anywhere.sh TAMLO_BINARY DATA_DIR OUTPUT_DIR
set -euo pipefail
binary=$1 data=$2 out=$3
mkdir -p "$out"
rm -rf "$out"/*.png "$out/alone"
[ -n "${DISPLAY:-}" ] || { echo "FAIL: run me under tests/e2e/with_xvfb.sh"; exit 1; }
source "$(dirname "$0")/session_lib.sh"

(cd / && exec "$binary" "$data/head256.vol") 2>"$out/viewer.stderr" &
viewer_pid=$!
window=$(wait_for_window '^Tamlo Ex01( - head256\.vol)?$') || fail "no window titled 'Tamlo Ex01' (started from /)"
width=400
xdotool windowsize "$window" "$width" 360
settle opened
# The menu bar ends where the dark blue client area begins (at the left edge,
# beside the volume).
bar=0
while [ "$(pixel opened 2 "$bar")" != "0 0 128" ]; do
    bar=$((bar + 1))
    [ "$bar" -lt 60 ] || fail "no dark blue client area below a menu bar"
done
client_height=$((360 - bar))
shown=$(covered opened)
echo "the phantom given on the command line covers $shown pixels"
[ "$shown" -gt 2000 ] || fail "the volume given on the command line does not show"
exit_through_menu

# No data in the working folder, beside the executable or in a build tree:
# the start-up message names every folder tried (no display: on stderr).
mkdir -p "$out/alone/bin" "$out/alone/work"
cp "$binary" "$out/alone/bin/tamlo"
set +e
(cd "$out/alone/work" && env -u DISPLAY -u WAYLAND_DISPLAY timeout 60 "$out/alone/bin/tamlo") \
    >"$out/alone/stdout" 2>"$out/alone/stderr"
status=$?
set -e
cat "$out/alone/stderr"
[ "$status" -eq 0 ] || fail "the viewer without data exited with $status"
for expected in "cannot read 'fx.fx'" "$out/alone/work (the working folder)" "$out/alone/share/tamlo" \
    "$out/alone/data"; do
    grep -qF -- "$expected" "$out/alone/stderr" || fail "the message does not name: $expected"
done
echo "PASS: started from /, the viewer found its data and opened its argument; with none it named the folders"

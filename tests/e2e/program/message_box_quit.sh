#!/usr/bin/env bash
# A message box does not hold the viewer: SIGTERM or SIGINT while one is
# shown ends the box and the viewer within seconds, as it would without a
# box. The box, a refusal naming a 200-character folder, is wrapped to fit
# the screen.
# Usage: with_xvfb.sh message_box_quit.sh TAMLO_BINARY DATA_DIR OUTPUT_DIR
set -euo pipefail
binary=$1 data=$2 out=$3
[ -n "${DISPLAY:-}" ] || { echo "FAIL: run me under tests/e2e/with_xvfb.sh"; exit 1; }
folder="$out/$(printf 'n%.0s' $(seq 200))"
mkdir -p "$folder"
printf 'not a scan at all\n' >"$folder/junk.nrrd"
screen_width=$(xdotool getdisplaygeometry | cut -d' ' -f1)

viewer_pid=
cleanup() { [ -n "$viewer_pid" ] && kill -9 "$viewer_pid" 2>/dev/null || true; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; tail -n 5 "$out/viewer.stderr" || true; exit 1; }
# The box's line of xwininfo's tree: 0x600002 "error: Volume": ()  2382x100+-391+366  +-391+366
box_windows() { xwininfo -root -tree 2>/dev/null | grep '"error: Volume"' || true; }
left_behind() { pgrep -f "$folder/junk.nrrd" || true; }

for ending in TERM INT; do
    (cd "$data" && exec "$binary" "$folder/junk.nrrd") 2>"$out/viewer.stderr" &
    viewer_pid=$!
    box=
    for _ in $(seq 100); do
        box=$(box_windows | tail -n 1)
        [ -n "$box" ] && break
        sleep 0.2
    done
    [ -n "$box" ] || fail "no message box appeared"
    sleep 1
    read -r WIDTH X <<<"$(sed -E 's/.*\)  ([0-9]+)x[0-9]+\+(-?[0-9]+)\+.*/\1 \2/' <<<"$box")"
    [ "$X" -ge 0 ] && [ $((X + WIDTH)) -le "$screen_width" ] ||
        fail "the box runs off the screen: x $X, width $WIDTH of $screen_width"
    [ "$ending" = TERM ] && import -window root "$out/box.png"
    kill -"$ending" "$viewer_pid"
    for _ in $(seq 50); do
        kill -0 "$viewer_pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$viewer_pid" 2>/dev/null && fail "the viewer still runs 5 s after SIG$ending"
    status=0
    wait "$viewer_pid" || status=$?
    [ "$status" -eq 0 ] || fail "the viewer exited with status $status (SIG$ending)"
    viewer_pid=
    sleep 0.5
    [ -z "$(box_windows)" ] || fail "the box outlived the viewer (SIG$ending)"
    [ -z "$(left_behind)" ] || fail "a process of the viewer outlived it (SIG$ending)"
    echo "the viewer and its box ended on SIG$ending (box ${WIDTH} px wide)"
done
echo "PASS: a message box never holds the viewer"

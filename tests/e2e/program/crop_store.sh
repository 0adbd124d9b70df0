#!/usr/bin/env bash
# A store's crop in the running viewer: View > Crop...'s first slider dragged
# and let go reads the crop alone (the title says so), and Reset reads the
# whole again.
# Usage: with_xvfb.sh crop_store.sh TAMLO_BINARY DATA_DIR OUTPUT_DIR
set -euo pipefail
binary=$1 data=$2 out=$3
mkdir -p "$out"
rm -rf "$out"/*.png "$out/store.zarr"
[ -n "${DISPLAY:-}" ] || { echo "FAIL: run me under tests/e2e/with_xvfb.sh"; exit 1; }
source "$(dirname "$0")/session_lib.sh"

# Two levels of a ball beside a ramp.
/usr/bin/python3 - "$out/store.zarr" <<'PY' || { echo "SKIP: /usr/bin/python3 with zarr is needed"; exit 0; }
import sys, numpy, zarr
z, y, x = numpy.ogrid[:48, :48, :48]
data = (numpy.where((x - 14) ** 2 + (y - 24) ** 2 + (z - 24) ** 2 < 100, 2000, 0) + 20 * x).astype("<u2")
root = zarr.open_group(sys.argv[1], mode="w")
root.create_dataset("0", data=data, chunks=(16, 16, 16))
root.create_dataset("1", data=data[::2, ::2, ::2], chunks=(16, 16, 16))
root.attrs["multiscales"] = [{"version": "0.4", "axes": [{"name": a, "type": "space"} for a in "zyx"],
                              "datasets": [{"path": "0"}, {"path": "1"}]}]
PY

title() { xdotool getwindowname "$window"; }
wait_title() {  # wait_title GREP_ARGS... -- DESCRIPTION
    local description=${*: -1}
    for _ in $(seq 150); do
        title | grep -q "${@:1:$#-1}" && return 0
        sleep 0.2
    done
    fail "$description (the title: $(title))"
}

start_viewer 900 700
open_volume "$out/store.zarr/.zattrs" "the store"
wait_title "level 0 of 2" "the store's level is not in the title"

menu_key v p   # View > Crop...
sleep 2
crop_x=$((width - 320))  # the window's left edge is 330 from the right, its slider 13 px inside
xdotool mousemove $((crop_x + 3)) $((bar + 46)) mousedown 1
sleep 0.5
xdotool mousemove $((crop_x + 60)) $((bar + 46))
sleep 0.5
xdotool mouseup 1
wait_title ", the crop" "letting go of the crop's slider did not read the crop alone"
settle cropped
xdotool mousemove $((crop_x + 19)) $((bar + 115)) click 1   # Reset
wait_title -v ", the crop" "Reset did not read the whole store again"
settle whole
[ "$(pixels_differing_in cropped whole "${width}x$((client_height - 200))+0+$((bar + 150))")" -gt 100 ] ||
    fail "the whole store looks as its crop did"
exit_through_menu

#!/usr/bin/env bash
# A series in the real window: Space plays it (the picture changes by
# itself), Space again pauses it (the picture settles), Right steps on.
# Usage: with_xvfb.sh time_series.sh TAMLO_BINARY DATA_DIR OUTPUT_DIR
set -euo pipefail
binary=$1 data=$2 out=$3
mkdir -p "$out"
rm -f "$out"/*.png
[ -n "${DISPLAY:-}" ] || { echo "FAIL: run me under tests/e2e/with_xvfb.sh"; exit 1; }
source "$(dirname "$0")/session_lib.sh"

# A ball filling the middle of the box, brighter at each of 12 points.
/usr/bin/python3 - "$out/series.nii" <<'PY'
import sys
import nibabel as nib
import numpy as np
z, y, x = np.mgrid[0:32, 0:32, 0:32]
ball = (x - 16) ** 2 + (y - 16) ** 2 + (z - 16) ** 2 < 144
series = np.stack([ball * (400 + 300 * t) for t in range(12)], axis=-1).astype(np.int16)
nib.save(nib.Nifti1Image(series, np.eye(4)), sys.argv[1])
PY
differs() { [ "$(compare -metric AE "$out/$1.png" "$out/$2.png" null: 2>&1 || true)" != 0 ]; }

start_viewer 480 360
open_volume "$out/series.nii" "the series"
focus_viewer
xdotool key space
wait_until_changed opened || fail "Space did not play the series"
shot playing
# Two looks a fraction of the loop apart: 12 points at 10 a second come round
# every 1.2 s, so one look a whole loop later may well see the same point.
sleep 0.45
shot later
sleep 0.3
shot later2
differs playing later || differs playing later2 || fail "the picture stood still while the series played"
xdotool key space
settle paused
sleep 2
shot still
differs paused still && fail "the picture kept changing after the second Space"
xdotool key Right
wait_until_changed still || fail "Right did not step to the next point"
exit_through_menu
echo "PASS: Space plays a series and pauses it, Right steps one point"

#!/usr/bin/env bash
# A series of time points in the real window: opened, the Time window comes
# with it; Space plays (the picture changes by itself), Space again pauses
# (the picture settles and stays); Right steps one point on.
# Usage: with_xvfb.sh time_series.sh TAMLO_BINARY DATA_DIR OUTPUT_DIR
set -euo pipefail
binary=$1 data=$2 out=$3
mkdir -p "$out"
rm -f "$out"/*.png
[ -n "${DISPLAY:-}" ] || { echo "FAIL: run me under tests/e2e/with_xvfb.sh"; exit 1; }
source "$(dirname "$0")/session_lib.sh"

# A ball filling the middle of the box, brighter at each of 12 points, as a
# 4-D NIfTI with a step of half a second.
/usr/bin/python3 - "$out/series.nii" <<'PY'
import sys
import nibabel as nib
import numpy as np
side, points = 32, 12
z, y, x = np.mgrid[0:side, 0:side, 0:side]
ball = (x - 16) ** 2 + (y - 16) ** 2 + (z - 16) ** 2 < 12 ** 2
series = np.zeros((side, side, side, points), np.int16)
for t in range(points):
    series[..., t] = ball * (400 + 300 * t)
image = nib.Nifti1Image(series, np.eye(4))
image.header.set_xyzt_units("mm", "sec")
image.header["pixdim"][4] = 0.5
nib.save(image, sys.argv[1])
PY

start_viewer 480 360
open_volume "$out/series.nii" "the series"
differs() { [ "$(compare -metric AE "$out/$1.png" "$out/$2.png" null: 2>&1 || true)" != 0 ]; }

focus_viewer
xdotool key space
wait_until_changed opened || fail "Space did not play the series"
shot playing
sleep 1
shot later
differs playing later || fail "the picture stood still while the series played"

xdotool key space
settle paused
sleep 2
shot still
differs paused still && fail "the picture kept changing after the second Space"

xdotool key Right
wait_until_changed still || fail "Right did not step to the next point"
settle stepped
exit_through_menu
echo "PASS: Space plays a series and pauses it, Right steps one point"

#!/usr/bin/env bash
# A series of 40 time points played as the viewer plays it (tamlo-render
# --timing play: each frame the next point, drawn at drag quality on a slow
# device): a ball moving through a noisy 128^3 grid, written as a 4-D NIfTI
# by nibabel. For each picture size: the frames per second of the play, and
# the median cost of a switch to another point (the 3D texture's upload, the
# gradient worked out again and uploaded, the clear-space bricks), which
# every played frame pays before it draws.
# With CHANNELS above 1, each point holds that many channels, each its own
# ball at its own height.
#   bench/time_series.sh [BUILD [FRAMES [SIDE [CHANNELS]]]]   (SIDE: the grid's edge, 128 unless given)
set -euo pipefail
build=${1:-build}
frames=${2:-40}
data="$build/data"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 - "$work/series.nii" "${3:-128}" "${4:-1}" <<'PY'
import sys
import nibabel as nib
import numpy as np
side, points, channels = int(sys.argv[2]), 40, int(sys.argv[3])
rng = np.random.default_rng(7)
z, y, x = np.mgrid[0:side, 0:side, 0:side].astype(np.float32)
series = np.empty((side, side, side, points, channels), np.int16)
for t in range(points):
    cx = 24 + (side - 48) * t / (points - 1)
    for c in range(channels):
        cy = 64 + (side - 128) * c / max(channels - 1, 1)
        ball = ((x - cx) ** 2 + (y - cy) ** 2 + (z - 64) ** 2 < 20 ** 2) * 1200
        noise = rng.normal(100, 30, (side, side, side))
        series[..., t, c] = np.transpose(ball + noise, (2, 1, 0)).astype(np.int16)
if channels == 1:
    series = series[..., 0]
image = nib.Nifti1Image(series, np.diag([1.0, 1.0, 1.0, 1.0]))
image.header.set_xyzt_units("mm", "sec")
image.header["pixdim"][4] = 0.1
nib.save(image, sys.argv[1])
PY
render() { "$build/tools/render/tamlo-render" "$work/series.nii" --data "$data" "$@" -o "$work/f.png" 2>&1; }
printf "%-10s %16s %18s\n" size "frames/s" "switch (median)"
for size in 640x512 1280x1024; do
    out=$(render --size "$size" --frames "$frames" --timing play || true)
    line=$(grep '^playing ' <<<"$out" || true)
    if [ -z "$line" ]; then
        echo "tamlo-render did not play the series: $(tail -n 1 <<<"$out")" >&2
        exit 1
    fi
    fps=$(sed -n 's/.*: \([0-9.]*\) frames per second.*/\1/p' <<<"$line")
    switch=$(sed -n 's/.*switch to a time point: median \([0-9.]*\) ms.*/\1/p' <<<"$line")
    printf "%-10s %16s %15s ms\n" "$size" "$fps" "$switch"
done

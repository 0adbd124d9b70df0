#!/usr/bin/env bash
# A still frame of four channels against one channel of the same 256^3 grid
# at 1280 x 1024, in one run: the phantom's samples as channel 1, the same
# samples shifted along x, y and z as channels 2 to 4 (each channel its own
# ramp), on the slices and on the CPU pass. Each line is tamlo-render's
# median of FRAMES full redraws; the ratio follows.
#   bench/channels.sh [BUILD [FRAMES]]
set -euo pipefail
build=${1:-build}
frames=${2:-5}
render="$build/tools/render/tamlo-render"
volume="$build/data/head256.vol"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 - "$volume" "$work" <<'PY'
import sys, numpy, nibabel
raw = numpy.fromfile(sys.argv[1], dtype="<u2")
nx, ny, nz = (int(v) for v in raw[:3])
grid = raw[3:].reshape((nz, ny, nx)).transpose(2, 1, 0)  # x, y, z
one = nibabel.Nifti1Image(grid.astype(numpy.int16), numpy.eye(4))
nibabel.save(one, f"{sys.argv[2]}/one.nii")
four = numpy.stack([grid, numpy.roll(grid, 8, 0), numpy.roll(grid, 8, 1), numpy.roll(grid, 8, 2)], axis=-1)
nibabel.save(nibabel.Nifti1Image(four[:, :, :, numpy.newaxis, :].astype(numpy.int16), numpy.eye(4)),
             f"{sys.argv[2]}/four.nii")
PY
for pass in slices cpu; do
    for volume in one four; do
        printf '%s, %s: ' "$pass" "$volume"
        "$render" "$work/$volume.nii" --size 1280x1024 --volume-pass "$pass" --frames "$frames" \
            -o "$work/picture.png" 2>/dev/null | grep 'frames at' | sed 's/.*: //' | tee "$work/$pass-$volume"
    done
    awk -v p="$pass" 'NR == FNR { split($0, a, " "); one = a[2] + 0; next }
                      { split($0, b, " "); printf "%s: four channels / one: %.2fx (target at most 1.6x)\n", p, (b[2] + 0) / one }' \
        "$work/$pass-one" "$work/$pass-four"
done

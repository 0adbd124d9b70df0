#!/usr/bin/env bash
# The volume layer drawn by the slices and by the CPU's own pass, in one run:
# the phantom at 1280 x 1024, at the start camera (distance 4) and close up
# (1.6), through a grey ramp (the editor's default), a colour ramp and a
# function clear below 0.3 and opaque above it, unshaded and shaded. Each
# line is tamlo-render's median of FRAMES full redraws.
#   bench/volume_pass.sh [BUILD [FRAMES]]
set -euo pipefail
build=${1:-build}
frames=${2:-5}
render="$build/tools/render/tamlo-render"
volume="$build/data/head256.vol"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A .tf file: the point count, then position, red, green, blue, opacity per
# point, little-endian floats.
/usr/bin/python3 - "$work" <<'PY'
import struct, sys
functions = {
    "colour": [(0, 0, 0, 0, 0), (0.3, 1, 0.2, 0.1, 0.05), (0.6, 0.2, 0.9, 0.3, 0.4), (1, 1, 1, 1, 1)],
    "opaque": [(0, 1, 1, 1, 0), (0.3, 1, 1, 1, 0), (0.3, 1, 0.9, 0.8, 1), (1, 1, 1, 1, 1)],
}
for name, points in functions.items():
    with open(f"{sys.argv[1]}/{name}.tf", "wb") as f:
        f.write(struct.pack("<I", len(points)))
        for p in points:
            f.write(struct.pack("<5f", *p))
PY
for distance in 4 1.6; do
    for function in grey colour opaque; do
        tf=()
        [ "$function" = grey ] || tf=(--tf "$work/$function.tf")
        for shading in off on; do
            for pass in slices cpu; do
                printf 'distance %s, %s, shading %s, %s: ' "$distance" "$function" "$shading" "$pass"
                "$render" "$volume" "${tf[@]}" --distance "$distance" --shading "$shading" \
                    --volume-pass "$pass" --frames "$frames" -o "$work/picture.png" 2>/dev/null |
                    grep 'frames at' | sed 's/.*: //'
            done
        done
    done
done

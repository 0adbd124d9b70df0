#!/usr/bin/env bash
# Draws the presets' pictures in this folder with tamlo-render: the CT presets
# on a synthetic CT head (Hounsfield units as 12-bit scanners store them), the
# MRI preset on the same head as a T1-weighted MRI, the colour ramp on the
# sample phantom. 256 x 256, the panel's handle cropped off; each shaded
# (NAME.png, as the viewer starts) and unshaded (NAME-unshaded.png).
# Usage: docs/presets/render.sh [BUILD_DIR]   (after a build; needs ImageMagick)
set -euo pipefail
cd "$(dirname "$0")"
build=$(cd "../../${1:-build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/tools/make_volume" "$work/ct.vol" 160 160 160 ct
"$build/tools/make_volume" "$work/mri.vol" 160 160 160 mri
shoot() {  # shoot VOLUME PRESET PITCH YAW
    for shading in on off; do
        local name=$2
        [ "$shading" = on ] || name=$2-unshaded
        "$build/tools/render/tamlo-render" "$1" --tf "$build/data/presets/$2.tf" --size 256x320 \
            --pitch "$3" --yaw "$4" --distance 2 --shading "$shading" -o "$work/$name.png" >/dev/null
        convert "$work/$name.png" -crop 256x256+0+24 +repage -strip "$name.png"
    done
}
shoot "$work/ct.vol" ct-bone 0.1 1.0
shoot "$work/ct.vol" ct-skin 0.1 1.0
shoot "$work/mri.vol" mri-brain 0.6 0.4
shoot "$build/data/head256.vol" colour-ramp 0.3 0.6
echo "pictures written to $(pwd)"

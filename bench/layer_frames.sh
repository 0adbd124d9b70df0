#!/usr/bin/env bash
# Frame times of the volume layer on this device, at the start camera
# (distance 4) and close up (1.6), 1280 x 1024, the phantom: a full redraw,
# a frame that reuses the layer, and a rotation drag's frame. With a second
# build folder (one from before the layer), its full redraw is timed in the
# same run, alternating with ours, as the baseline.
#   bench/layer_frames.sh [BUILD [BASELINE_BUILD [FRAMES]]]
set -euo pipefail
build=${1:-build}
baseline=${2:-}
frames=${3:-5}
data="$build/data"
median() { sed -n 's/.*median \([0-9.]*\) ms.*/\1/p'; }
time_frames() {  # BUILD DISTANCE [TIMING]
    local timing=()
    [ -n "${3:-}" ] && timing=(--timing "$3")
    "$1/tools/render/tamlo-render" "$data/head256.vol" --data "$1/data" --distance "$2" --frames "$frames" \
        "${timing[@]}" -o "$(mktemp -d)/frame.png" 2>/dev/null | median
}
printf "%-10s %-10s %12s\n" distance frame "median ms"
for distance in 4 1.6; do
    for timing in full unchanged drag; do
        printf "%-10s %-10s %12s\n" "$distance" "$timing" "$(time_frames "$build" "$distance" "$timing")"
    done
    if [ -n "$baseline" ]; then
        printf "%-10s %-10s %12s\n" "$distance" "baseline" "$(time_frames "$baseline" "$distance")"
        printf "%-10s %-10s %12s\n" "$distance" "full again" "$(time_frames "$build" "$distance" full)"
    fi
done

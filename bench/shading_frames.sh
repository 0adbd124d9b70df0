#!/usr/bin/env bash
# What shading costs a still frame: the phantom at 1280 x 1024, at the start
# camera (distance 4) and close up (1.6), unshaded and shaded, twice.
#
# Each frame's cost is the CPU time (user + system, all of llvmpipe's
# threads) that tamlo-render measures around the frame itself, so nothing of
# the start-up counts: the start-up's own CPU time (file read, page faults,
# shader compiles) scatters by about half a second from run to run, which is
# what made an earlier method (a run of 1 + FRAMES frames less a run of 1)
# scatter by a third at a few frames. The first frame of each process is left
# out (it compiles the rasteriser's shader variants); per case the median of
# the rest. Within a run the cases alternate unshaded, shaded, shaded,
# unshaded (two processes each), so a drift in the machine's load falls on
# both alike. Wall-time medians are printed beside, and the load.
#   bench/shading_frames.sh [BUILD [FRAMES]]
set -euo pipefail
build=${1:-build}
frames=${2:-4}
out=$(mktemp -d)
frame_times() {  # DISTANCE SHADING: "wall cpu" per timed frame, the first left out
    "$build/tools/render/tamlo-render" "$build/data/head256.vol" --data "$build/data" --size 1280x1024 \
        --distance "$1" --shading "$2" --frames $((frames + 1)) -o "$out/frame.png" 2>/dev/null |
        sed -n 's/^frame \([0-9]*\): \([0-9.]*\) ms (CPU \([0-9.]*\) ms)$/\1 \2 \3/p' | awk '$1 > 1 { print $2, $3 }'
}
median() {  # COLUMN < lines
    sort -g -k "$1" | awk -v c="$1" '{ v[NR] = $c } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
printf "%-4s %-8s %12s %12s %12s %12s %7s %7s  %s\n" run distance "off CPU s" "on CPU s" "off wall s" \
    "on wall s" "CPU x" "wall x" "load (1, 5 min)"
for run in 1 2; do
    for distance in 4 1.6; do
        : >"$out/off"
        : >"$out/on"
        for shading in off on on off; do
            frame_times "$distance" "$shading" >>"$out/$shading"
        done
        load=$(cut -d ' ' -f 1,2 /proc/loadavg)
        offCpu=$(median 2 <"$out/off") onCpu=$(median 2 <"$out/on")
        offWall=$(median 1 <"$out/off") onWall=$(median 1 <"$out/on")
        awk -v r="$run" -v d="$distance" -v a="$offCpu" -v b="$onCpu" -v c="$offWall" -v e="$onWall" -v l="$load" \
            'BEGIN { printf "%-4s %-8s %12.3f %12.3f %12.3f %12.3f %7.2f %7.2f  %s\n", r, d, a / 1000, b / 1000,
                     c / 1000, e / 1000, b / a, e / c, l }'
    done
done
rm -rf "$out"

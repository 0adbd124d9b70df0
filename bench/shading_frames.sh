#!/usr/bin/env bash
# What shading costs a still frame: the phantom at 1280 x 1024, at the start
# camera (distance 4) and close up (1.6), unshaded and shaded, alternating,
# twice. Each frame's cost is CPU time (user + system, all of llvmpipe's
# threads): a run of 1 + FRAMES frames less a run of 1, over FRAMES, so that
# start-up and the load cancel and other work on the machine counts less
# than in wall time.
#   bench/shading_frames.sh [BUILD [FRAMES]]
set -euo pipefail
build=${1:-build}
frames=${2:-4}
cpu() {  # DISTANCE SHADING COUNT
    /usr/bin/time -f "%U %S" "$build/tools/render/tamlo-render" "$build/data/head256.vol" --data "$build/data" \
        --size 1280x1024 --distance "$1" --shading "$2" --frames "$3" -o "$(mktemp -d)/frame.png" 2>&1 >/dev/null |
        tail -n 1 | awk '{ print $1 + $2 }'
}
printf "%-5s %-9s %-8s %14s\n" run distance shading "CPU s / frame"
for run in 1 2; do
    for distance in 4 1.6; do
        for shading in off on; do
            one=$(cpu "$distance" "$shading" 1)
            many=$(cpu "$distance" "$shading" $((frames + 1)))
            awk -v r="$run" -v d="$distance" -v s="$shading" -v a="$one" -v b="$many" -v n="$frames" \
                'BEGIN { printf "%-5s %-9s %-8s %14.3f\n", r, d, s, (b - a) / n }'
        done
    done
done

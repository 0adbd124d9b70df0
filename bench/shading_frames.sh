#!/usr/bin/env bash
# What shading costs a still frame: the phantom at 1280 x 1024, at the start
# camera (distance 4) and close up (1.6), twice. tamlo_bench_shading draws
# unshaded and shaded frames in turn in one process and takes each pair's
# ratio of CPU time (user + system, all of llvmpipe's threads), so that other
# work on the machine falls on both kinds alike; frames from separate
# processes scattered by more than the difference measured.
#   bench/shading_frames.sh [BUILD [PAIRS]]
set -euo pipefail
build=${1:-build}
pairs=${2:-8}
for run in 1 2; do
    for distance in 4 1.6; do
        printf 'run %s: ' "$run"
        "$build/bench/tamlo_bench_shading" "$distance" "$pairs" 2>/dev/null | tail -n 1
        printf '        load (1, 5 min): %s\n' "$(cut -d ' ' -f 1,2 /proc/loadavg)"
    done
done

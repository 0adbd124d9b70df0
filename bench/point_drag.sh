#!/usr/bin/env bash
# A control point dragged on the open panel, as the hand drags it, against
# the full frame, in one run: 1280 x 1024, the phantom, the start camera
# (distance 4) and close up (1.6). For each: the full frame's median, the
# drag frames' median and 95th percentile, the time from the last move until
# the whole picture is refined and shown, that time over the full frame, and
# the longest band of the refinement (the most an input waits meanwhile: the
# window reads its input between bands).
#   bench/point_drag.sh [BUILD [MOVES]]
set -euo pipefail
build=${1:-build}
moves=${2:-20}
data="$build/data"
render() { "$build/tools/render/tamlo-render" "$data/head256.vol" --data "$data" "$@" -o "$(mktemp -d)/f.png" 2>/dev/null; }
printf "%-9s %10s %12s %10s %12s %8s %12s\n" distance "full ms" "drag median" "drag p95" "refined ms" ratio "longest band"
for distance in 4 1.6; do
    full=$(render --distance "$distance" --frames 3 --timing full | sed -n 's/.*median \([0-9.]*\) ms.*/\1/p')
    out=$(render --distance "$distance" --frames "$moves" --timing point-drag)
    median=$(sed -n 's/.*median \([0-9.]*\) ms.*/\1/p' <<<"$out")
    p95=$(sed -n 's/^frame [0-9]*: \([0-9.]*\) ms/\1/p' <<<"$out" | sort -n |
          awk '{v[NR]=$1} END {i=int(NR*0.95+0.999); if (i>NR) i=NR; print v[i]}')
    refined=$(sed -n 's/^whole picture complete \([0-9.]*\) ms.*/\1/p' <<<"$out")
    band=$(sed -n 's/.*longest band \([0-9.]*\) ms.*/\1/p' <<<"$out")
    ratio=$(awk -v r="$refined" -v f="$full" 'BEGIN {printf "%.2f", r / f}')
    printf "%-9s %10s %12s %10s %12s %8s %12s\n" "$distance" "$full" "$median" "$p95" "$refined" "$ratio" "$band"
done

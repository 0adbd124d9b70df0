#!/usr/bin/env bash
# Single wheel notches, each after a pause, as the viewer's window answers
# them (tamlo-render --timing wheel: the viewer's own wheel handler and frame,
# then the refinement between inputs): 1280 x 1024, the phantom, the start
# camera (distance 4) and close up (1.6). For each: the median time from the
# notch to the first frame that shows it (and that frame's CPU time, all the
# program's threads), and to the whole picture.
#   bench/wheel_notch.sh [BUILD [NOTCHES]]
set -euo pipefail
build=${1:-build}
notches=${2:-3}
data="$build/data"
render() { "$build/tools/render/tamlo-render" "$data/head256.vol" --data "$data" "$@" -o "$(mktemp -d)/f.png" 2>/dev/null; }
median() { sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }
printf "%-9s %14s %12s %14s\n" distance "first frame" "its CPU" "whole picture"
for distance in 4 1.6; do
    out=$(render --distance "$distance" --frames "$notches" --timing wheel)
    first=$(sed -n 's/^frame [0-9]*: \([0-9.]*\) ms.*/\1/p' <<<"$out" | median)
    cpu=$(sed -n 's/^frame [0-9]*: .*(CPU \([0-9.]*\) ms).*/\1/p' <<<"$out" | median)
    whole=$(sed -n 's/.*whole picture \([0-9.]*\) ms after the notch/\1/p' <<<"$out" | median)
    printf "%-9s %11s ms %9s ms %11s ms\n" "$distance" "$first" "$cpu" "$whole"
done

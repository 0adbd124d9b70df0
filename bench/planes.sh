#!/usr/bin/env bash
# The slice planes on the CPU's volume pass: the phantom at 1280 x 1024, at
# the start camera (distance 4) and close up (1.6). A still frame with the
# three planes through the middle and their outlines against one without
# (tamlo-render's median of FRAMES full redraws, and their ratio), and a
# plane moved by one Ctrl+wheel notch as the viewer's window answers it (the
# median time to the first frame that shows it, and to the whole picture).
#   bench/planes.sh [BUILD [FRAMES]]
set -euo pipefail
build=${1:-build}
frames=${2:-5}
data="$build/data"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
planes=(--slices x=128,y=128,z=128 --slice-outlines)
render() {
    "$build/tools/render/tamlo-render" "$data/head256.vol" --data "$data" --volume-pass cpu "$@" \
        -o "$work/f.png" 2>/dev/null
}
still() { render "$@" --frames "$frames" | sed -n 's/.*frames at .*: median \([0-9.]*\) ms.*/\1/p'; }
median() { sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }
printf "%-9s %12s %12s %7s %14s %14s\n" distance "no planes" "planes" ratio "notch: first" "whole picture"
for distance in 4 1.6; do
    none=$(still --distance "$distance")
    with=$(still --distance "$distance" "${planes[@]}")
    out=$(render --distance "$distance" "${planes[@]}" --frames "$frames" --timing plane-wheel)
    first=$(sed -n 's/^frame [0-9]*: \([0-9.]*\) ms.*/\1/p' <<<"$out" | median)
    whole=$(sed -n 's/.*whole picture \([0-9.]*\) ms after the notch/\1/p' <<<"$out" | median)
    ratio=$(awk -v a="$with" -v b="$none" 'BEGIN {printf "%.3f", a / b}')
    printf "%-9s %9s ms %9s ms %7s %11s ms %11s ms\n" "$distance" "$none" "$with" "$ratio" "$first" "$whole"
done

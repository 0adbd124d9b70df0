#!/usr/bin/env bash
# The slice planes on the CPU's volume pass: the phantom at 1280 x 1024, at
# the start camera (distance 4) and close up (1.6). A still frame (the
# median of FRAMES full redraws, its time and its CPU time, all the
# program's threads) with the three planes and their outlines against one
# without, and the ratios: the planes through the middle (they hide what lies
# behind them) and as the walls behind the volume at the start camera
# (x=0, y=0, z=255: they hide nothing of it, and every ray still meets them). Then a plane moved by one Ctrl+wheel notch as the
# viewer's window answers it: the median time to the first frame that shows
# it, and to the whole picture.
#   bench/planes.sh [BUILD [FRAMES [ROUNDS]]]
# The two stills are drawn by turns, ROUNDS times (3 unless given), each
# figure the median of its rounds: a shared machine's load then weighs on
# both alike.
set -euo pipefail
build=${1:-build}
frames=${2:-5}
rounds=${3:-3}
data="$build/data"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
render() {
    "$build/tools/render/tamlo-render" "$data/head256.vol" --data "$data" --volume-pass cpu "$@" \
        -o "$work/f.png" 2>/dev/null
}
median() { sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }
# "WALL CPU": the medians of the timed frames.
still() {
    local out
    out=$(render "$@" --frames "$frames")
    echo "$(sed -n 's/^frame [0-9]*: \([0-9.]*\) ms.*/\1/p' <<<"$out" | median)" \
        "$(sed -n 's/^frame [0-9]*: .*(CPU \([0-9.]*\) ms).*/\1/p' <<<"$out" | median)"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
printf "%-9s %-7s %18s %18s %11s %14s %14s\n" distance planes "none (wall, CPU)" "planes (wall, CPU)" \
    "ratios" "notch: first" "whole picture"
for distance in 4 1.6; do
    for at in middle behind; do
        layers=x=128,y=128,z=128
        [ "$at" = behind ] && layers=x=0,y=0,z=255
        planes=(--slices "$layers" --slice-outlines)
        : >"$work/none" && : >"$work/with"
        for _ in $(seq "$rounds"); do
            still --distance "$distance" >>"$work/none"
            still --distance "$distance" "${planes[@]}" >>"$work/with"
        done
        none=$(cut -d' ' -f1 "$work/none" | median) noneCpu=$(cut -d' ' -f2 "$work/none" | median)
        with=$(cut -d' ' -f1 "$work/with" | median) withCpu=$(cut -d' ' -f2 "$work/with" | median)
        out=$(render --distance "$distance" "${planes[@]}" --frames "$frames" --timing plane-wheel)
        first=$(sed -n 's/^frame [0-9]*: \([0-9.]*\) ms.*/\1/p' <<<"$out" | median)
        whole=$(sed -n 's/.*whole picture \([0-9.]*\) ms after the notch/\1/p' <<<"$out" | median)
        printf "%-9s %-7s %8s %6s ms %8s %6s ms %5s %5s %11s ms %11s ms\n" "$distance" "$at" "$none" \
            "$noneCpu" "$with" "$withCpu" "$(ratio "$with" "$none")" "$(ratio "$withCpu" "$noneCpu")" \
            "$first" "$whole"
    done
done

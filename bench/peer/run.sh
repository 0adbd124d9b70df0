#!/usr/bin/env bash
# The peer comparison: the bundled 256^3 phantom at one image size through the
# grey and opacity ramps, drawn by VTK's GPU ray-cast mapper (Debian's
# python3-vtk9 on Mesa llvmpipe under Xvfb, ~500 samples across the volume)
# and by tamlo-render, in one run: still frames at distances 4 and 1.6 (unshaded
# and shaded, each pair's pictures compared), and
# a drag's frames close up (VTK's interactive rendering at a desired 10
# frames per second against tamlo-render --timing drag). Prints the frame-time
# summaries, a table of the medians and their ratios, and the pictures' folder.
#
#   bench/peer/run.sh [BUILD_DIR] [WIDTHxHEIGHT] [FRAMES]     (default build 1280x1024 5)
#
# The peer is installed here, never by scripts/deps.sh, and nothing of it
# enters the build.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
size="${2:-1280x1024}"
frames="${3:-5}"
width="${size%x*}"
height="${size#*x}"
render="$build/tools/render/tamlo-render"
volume="$build/data/head256.vol"
out="${TAMLO_BENCH_OUT:-$build/bench-peer}"
mkdir -p "$out"

[ -x "$render" ] || { echo "peer: $render is not built" >&2; exit 1; }
[ -f "$volume" ] || { echo "peer: $volume is missing (build the tamlo_data target)" >&2; exit 1; }

if ! /usr/bin/python3 -c "import vtkmodules.vtkRenderingVolumeOpenGL2" 2>/dev/null; then
  echo "peer: installing python3-vtk9 (Debian's VTK 9) and Xvfb ..." >&2
  if ! apt-get install -y --no-install-recommends python3-vtk9 xvfb xauth >/dev/null; then
    echo "peer: python3-vtk9 cannot be installed here (run as root with the Debian archive reachable)" >&2
    exit 1
  fi
fi
command -v xvfb-run >/dev/null || { echo "peer: xvfb-run is missing (apt-get install xvfb xauth)" >&2; exit 1; }

# Both on the CPU rasteriser, so the ratio compares the two programs' work.
export LIBGL_ALWAYS_SOFTWARE=1 GALLIUM_DRIVER=llvmpipe

# Still frames at the start camera (4) and close up (1.6), unshaded and
# shaded, then a drag's frames: VTK's interactive rendering against
# tamlo-render --timing drag. Each still pair's pictures are compared.
median_of() { sed -n 's/.*frames .*median \([0-9.]*\) ms.*/\1/p' "$1" | head -n 1; }
peer() {  # peer DISTANCE MODE LOG
  xvfb-run -a -s "-screen 0 $((width + 64))x$((height + 64))x24" \
    /usr/bin/python3 "$root/bench/peer/peer_vtk.py" "$volume" "$width" "$height" "$frames" \
    "$out/peer-$1-$2.png" "$1" "$2" | tee "$3"
}
tamlo() {  # tamlo DISTANCE TIMING SHADING LOG
  "$render" "$volume" --size "$size" --frames "$frames" --distance "$1" --timing "$2" --shading "$3" \
    --data "$build/data" --output "$out/tamlo-$1-$2-$3.png" 2> >(grep -v '^D3DResize' >&2) | tee "$4"
}
rows=()
differences=()
for distance in 4 1.6; do
  for shading in off on; do
    mode=still
    [ "$shading" = on ] && mode=shaded
    peer "$distance" "$mode" "$out/peer-$distance-$mode.txt"
    tamlo "$distance" full "$shading" "$out/tamlo-$distance-$mode.txt"
    rows+=("$mode, distance $distance|$(median_of "$out/peer-$distance-$mode.txt")|$(median_of "$out/tamlo-$distance-$mode.txt")")
    differences+=("$mode, distance $distance: $(/usr/bin/python3 "$root/bench/peer/peer_vtk.py" compare \
      "$out/peer-$distance-$mode.png" "$out/tamlo-$distance-full-$shading.png")")
  done
done
peer 1.6 interactive "$out/peer-drag.txt"
tamlo 1.6 drag on "$out/tamlo-drag.txt"
rows+=("drag, distance 1.6|$(median_of "$out/peer-drag.txt")|$(median_of "$out/tamlo-drag.txt")")

echo
printf '%-26s %14s %14s %8s\n' "median frame at $size" "VTK (ms)" "tamlo (ms)" "ratio"
for row in "${rows[@]}"; do
  IFS='|' read -r what p t <<<"$row"
  awk -v w="$what" -v p="$p" -v t="$t" 'BEGIN { printf "%-26s %14s %14s %8.2f\n", w, p, t, t / p }'
done
echo
echo "the same picture? (inside the volume, VTK against tamlo)"
printf '  %s\n' "${differences[@]}"
echo "pictures: $out/"

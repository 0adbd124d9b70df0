#!/usr/bin/env bash
# The peer comparison: the bundled 256^3 phantom at one image size through the
# grey and opacity ramps, drawn by VTK's GPU ray-cast mapper (Debian's
# python3-vtk9 on Mesa llvmpipe under Xvfb, ~500 samples across the volume)
# and by tamlo-render, in one run: still frames at distances 4 and 1.6 (unshaded
# and shaded, each pair's pictures compared), and
# a drag's frames close up (VTK's interactive rendering at a desired 10
# frames per second against tamlo-render --timing drag). Then the lighting
# alone: a few smooth balls without noise through an opaque surface function
# (every visible sample on an edge, where both programs shade fully), still
# frames at distances 4 and 2, each pair compared. Prints the frame-time
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
peer() {  # peer VOLUME NAME DISTANCE MODE LOG [TF.txt]
  xvfb-run -a -s "-screen 0 $((width + 64))x$((height + 64))x24" \
    /usr/bin/python3 "$root/bench/peer/peer_vtk.py" "$1" "$width" "$height" "$frames" \
    "$out/peer-$2-$3-$4.png" "$3" "$4" ${6:+"$6"} | tee "$5"
}
tamlo() {  # tamlo VOLUME NAME DISTANCE TIMING SHADING PASS LOG [TF.tf]
  "$render" "$1" --size "$size" --frames "$frames" --distance "$3" --timing "$4" --shading "$5" \
    --volume-pass "$6" ${8:+--tf "$8"} --data "$build/data" --output "$out/tamlo-$2-$3-$4-$5-$6.png" \
    2> >(grep -v '^D3DResize' >&2) | tee "$7"
}
rows=()
differences=()
stills() {  # stills VOLUME NAME [TF.txt TF.tf], at the distances that follow
  local volume=$1 name=$2 text=${3:-} tf=${4:-}
  shift 4
  for distance in "$@"; do
    for shading in off on; do
      mode=still
      [ "$shading" = on ] && mode=shaded
      peer "$volume" "$name" "$distance" "$mode" "$out/peer-$name-$distance-$mode.txt" "$text"
      # A row for each of tamlo's volume passes: the GPU's slices and the CPU's rays.
      for pass in slices cpu; do
        tamlo "$volume" "$name" "$distance" full "$shading" "$pass" "$out/tamlo-$name-$distance-$mode-$pass.txt" "$tf"
        rows+=("$name $mode, distance $distance, $pass|$(median_of "$out/peer-$name-$distance-$mode.txt")|$(median_of \
          "$out/tamlo-$name-$distance-$mode-$pass.txt")")
        differences+=("$name $mode, distance $distance, $pass: $(/usr/bin/python3 "$root/bench/peer/peer_vtk.py" \
          compare "$out/peer-$name-$distance-$mode.png" "$out/tamlo-$name-$distance-full-$shading-$pass.png")")
      done
    done
  done
}
stills "$volume" phantom "" "" 4 1.6
peer "$volume" phantom 1.6 interactive "$out/peer-drag.txt"
for pass in slices cpu; do
  tamlo "$volume" phantom 1.6 drag on "$pass" "$out/tamlo-drag-$pass.txt"
  rows+=("phantom drag, distance 1.6, $pass|$(median_of "$out/peer-drag.txt")|$(median_of "$out/tamlo-drag-$pass.txt")")
done
# The lighting alone: smooth balls, a tan surface opaque from 0.6 of the range.
/usr/bin/python3 "$root/bench/peer/peer_vtk.py" balls "$out/balls.vol" 128
printf '0 0.9 0.8 0.6 0\n0.4 0.9 0.8 0.6 0\n0.6 0.9 0.8 0.6 1\n1 0.9 0.8 0.6 1\n' >"$out/surface.txt"
"$build/tools/make_tf" "$out/surface.txt" "$out/surface.tf"
stills "$out/balls.vol" balls "$out/surface.txt" "$out/surface.tf" 4 2

echo
printf '%-42s %14s %14s %8s\n' "median frame at $size" "VTK (ms)" "tamlo (ms)" "ratio"
for row in "${rows[@]}"; do
  IFS='|' read -r what p t <<<"$row"
  awk -v w="$what" -v p="$p" -v t="$t" 'BEGIN { printf "%-42s %14s %14s %8.2f\n", w, p, t, t / p }'
done
echo
echo "the same picture? (inside the volume, VTK against tamlo)"
printf '  %s\n' "${differences[@]}"
echo "pictures: $out/"

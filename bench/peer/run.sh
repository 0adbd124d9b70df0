#!/usr/bin/env bash
# The peer comparison: the bundled 256^3 phantom at one image size through the
# grey and opacity ramps, drawn by VTK's GPU ray-cast mapper (Debian's
# python3-vtk9 on Mesa llvmpipe under Xvfb, ~500 samples across the volume)
# and by tamlo-render, in one run. Prints both frame-time summaries, the ratio
# of their medians and both pictures' paths.
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

peer_log="$out/peer.txt"
tamlo_log="$out/tamlo.txt"
xvfb-run -a -s "-screen 0 $((width + 64))x$((height + 64))x24" \
  /usr/bin/python3 "$root/bench/peer/peer_vtk.py" "$volume" "$width" "$height" "$frames" "$out/peer.png" \
  | tee "$peer_log"
"$render" "$volume" --size "$size" --frames "$frames" --data "$build/data" --output "$out/tamlo.png" \
  2> >(grep -v '^D3DResize' >&2) | tee "$tamlo_log"

peer_median="$(sed -n 's/^peer frames .*median \([0-9.]*\) ms.*/\1/p' "$peer_log")"
tamlo_median="$(sed -n 's/^[0-9]* frames at .*median \([0-9.]*\) ms.*/\1/p' "$tamlo_log")"
echo
printf '%-28s %12s\n' "median frame at $size" "ms"
printf '%-28s %12s\n' "VTK GPU ray cast (peer)" "$peer_median"
printf '%-28s %12s\n' "tamlo-render (500 slices)" "$tamlo_median"
awk -v p="$peer_median" -v t="$tamlo_median" 'BEGIN { printf "%-28s %12.2f\n", "ratio tamlo / peer", t / p }'
echo "pictures: $out/peer.png $out/tamlo.png"

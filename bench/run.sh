#!/usr/bin/env bash
# Builds and runs the benchmarks and prints one table: each measurement, the
# plain baseline it is held against, the ratio, and the target.
#
#   bench/run.sh [BUILD_DIR] [FRAMES]        (default: build, 5 frames per size)
#
# Heavy: on 2 cores with llvmpipe a 1280 x 1024 frame takes seconds. Not run
# by CI. The peer comparison with VTK is bench/peer/run.sh.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
frames="${2:-5}"
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target tamlo_bench_volume tamlo_bench_startup tamlo_bench_scan tamlo-render tamlo_data >/dev/null
build="$(cd "$build" && pwd)"
out="$build/bench-results"
mkdir -p "$out"

quiet() { "$@" 2> >(grep -v '^D3DResize' >&2); }

echo "running the volume benchmarks ..." >&2
quiet "$build/bench/tamlo_bench_volume" --benchmark_format=json --benchmark_out="$out/volume.json" \
  --benchmark_out_format=json >/dev/null
echo "running start-up to first frame ..." >&2
quiet "$build/bench/tamlo_bench_startup" --benchmark_format=json --benchmark_out="$out/startup.json" \
  --benchmark_out_format=json >/dev/null
for size in 640x512 1280x1024; do
  echo "rendering $frames frames at $size ..." >&2
  quiet "$build/tools/render/tamlo-render" "$build/data/head256.vol" --data "$build/data" --size "$size" \
    --frames "$frames" --output "$out/frame-$size.png" >"$out/frames-$size.txt"
done

/usr/bin/env python3 - "$out" <<'PY'
import json, re, sys
out = sys.argv[1]
runs = {}
for name in ("volume", "startup"):
    with open(f"{out}/{name}.json") as f:
        for b in json.load(f)["benchmarks"]:
            if "error_message" in b:
                sys.exit(f"{b['name']}: {b['error_message']}")
            scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
            # The name and its arguments, without the run's settings.
            name = "/".join(p for p in b["name"].split("/") if ":" not in p and not p.endswith("_time"))
            runs[name] = b["real_time"] * scale  # milliseconds

def frames(size):
    text = open(f"{out}/frames-{size}.txt").read()
    m = re.search(r"median ([0-9.]+) ms, min ([0-9.]+) ms, max ([0-9.]+) ms", text)
    return tuple(float(v) for v in m.groups())

def fmt(ms):
    return f"{ms * 1000:.1f} us" if ms < 1 else f"{ms:.1f} ms"

rows = []
def row(what, ms, base_name=None, base_ms=None, target="", met=None):
    ratio = f"{ms / base_ms:.2f}x" if base_ms else ""
    verdict = "" if met is None else ("met" if met else "MISSED")
    rows.append((what, fmt(ms), base_name or "", fmt(base_ms) if base_ms else "", ratio, target, verdict))

load, plain = runs["BM_VolumeLoad"], runs["BM_PlainReadAndTexture"]
row("CVolume::Load 256^3", load, "read + 3D texture", plain, "<= 1.5x", load <= 1.5 * plain)
# The load includes the gradient; its share is held against the rest.
gradient = runs["BM_GradientWithTexture/1"]
row("gradient + its texture, 256^3", gradient, "the rest of the load", load - gradient, "<= 0.5x",
    gradient <= 0.5 * (load - gradient))
row("gradient alone (CPU), full 256^3 grid", runs["BM_ComputeGradient"])
row("gradient + texture on the full grid", runs["BM_GradientWithTexture/0"], "the rest of the load", load - gradient)
count, summing = runs["BM_CountHistogram"], runs["BM_SummingPass"]
row("histogram count, 640 bins", count, "one summing pass", summing, "<= 3x", count <= 3 * summing)
row("GenerateHistogram(640)", runs["BM_GenerateHistogram"])
cut = runs["BM_CutSlices500"]
row("cut 500 planes (one view)", cut, target="< 30 us", met=cut < 0.030)
row("GenerateTransfer", runs["BM_GenerateTransfer"])
row("GenerateColorGeometry", runs["BM_GenerateColorGeometry"])
start = runs["BM_StartupToFirstFrame"]
row("start-up to first frame", start, target="< 1 s", met=start < 1000)
for size in ("640x512", "1280x1024"):
    median, lo, hi = frames(size)
    rows.append((f"tamlo-render frame {size} (median)", fmt(median), "min / max", f"{fmt(lo)} / {fmt(hi)}",
                 "", "", ""))

head = ("measurement", "time", "baseline", "baseline time", "ratio", "target", "")
widths = [max(len(str(r[i])) for r in rows + [head]) for i in range(len(head))]
line = lambda r: "| " + " | ".join(str(v).ljust(w) for v, w in zip(r, widths)) + " |"
print(line(head))
print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
for r in rows:
    print(line(r))
PY

# Scans: the importer against ITK's own read, the histogram from value
# counts, and the peak memory of one import in a fresh process.
echo
echo "reading scans:"
quiet "$build/bench/tamlo_bench_scan" 2>/dev/null | grep '^BM_'
for file in head256.nii head256.nii.gz; do "$build/bench/tamlo_bench_scan" --peak-memory "$file"; done

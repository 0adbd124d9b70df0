#!/usr/bin/env bash
# Peak memory for a large scan: a 1024 x 1024 x 512 uint16 NRRD (1 GiB of
# samples, voxels 0.5 x 0.5 x 1 mm) made here, then, one after another,
# tamlo-render of it, tamlo-convert of it (the grid kept) and tamlo-render of
# the volume file written, each under /usr/bin/time -v. Its "Maximum resident
# set size" is the largest of the program and its reader's child, each on its
# own (they are not added). Needs about 2 GiB in TMPDIR and 3 GiB of free
# memory besides; the files are removed at the end. On a busy or slow disk
# give TMPDIR=/dev/shm: the reader reports no progress within one file's read
# and is stopped after 300 s without it.
#   [TMPDIR=/dev/shm] bench/large_volume_memory.sh [BUILD]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/tamlo-large-XXXXXX")
trap 'rm -rf "$work"' EXIT

# A ball of soft tissue in a brighter shell, in air, written slice by slice
# (the script never holds more than one).
/usr/bin/python3 - "$work/large.nrrd" <<'PYTHON'
import math, struct, sys
nx, ny, nz = 1024, 1024, 512
air, tissue, bone = struct.pack("<H", 0), struct.pack("<H", 1040), struct.pack("<H", 2040)
with open(sys.argv[1], "wb") as f:
    f.write(b"NRRD0004\ntype: uint16\ndimension: 3\nsizes: %d %d %d\n"
            b"spacings: 0.5 0.5 1\nendian: little\nencoding: raw\n\n" % (nx, ny, nz))
    for z in range(nz):
        rows = []
        for y in range(ny):
            # Half-widths, in samples along x, of the ball (200 mm) and its inside (180 mm).
            d2 = ((y - ny / 2) * 0.5) ** 2 + (z - nz / 2) ** 2
            outer = min(nx // 2, int(math.sqrt(max(0.0, 200.0**2 - d2)) / 0.5))
            inner = min(outer, int(math.sqrt(max(0.0, 180.0**2 - d2)) / 0.5))
            rows.append(air * (nx // 2 - outer) + bone * (outer - inner) + tissue * (2 * inner) +
                        bone * (outer - inner) + air * (nx // 2 - outer))
        f.write(b"".join(rows))
PYTHON

peak() {
    local name=$1
    shift
    /usr/bin/time -v nice "$@" >"$work/out.txt" 2>"$work/time.txt" || {
        cat "$work/out.txt" "$work/time.txt" >&2
        return 1
    }
    local kib
    kib=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")
    printf '%-36s peak %5.2f GiB (%s KiB), %s wall\n' "$name" "$(echo "$kib / 1048576" | bc -l)" "$kib" \
        "$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time.txt")"
}

peak "tamlo-render large.nrrd" "$build/tools/render/tamlo-render" "$work/large.nrrd" --size 64x64 \
    -o "$work/large.png"
peak "tamlo-convert large.nrrd large.vol" "$build/tools/convert/tamlo-convert" "$work/large.nrrd" \
    "$work/large.vol"
sed -n 's/^output: */  wrote: /p' "$work/out.txt"
rm -f "$work/large.nrrd"
peak "tamlo-render large.vol" "$build/tools/render/tamlo-render" "$work/large.vol" --size 64x64 \
    -o "$work/large-vol.png"
printf 'load (1, 5 min): %s\n' "$(cut -d ' ' -f 1,2 /proc/loadavg)"

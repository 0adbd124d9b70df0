#!/usr/bin/env bash
# The first picture of a huge store: an OME-Zarr v2 store whose finest level
# is FINEST^3 uint16 (16384^3, 8 TiB, by default), levels halving down to
# 128^3, with only the coarsest level's chunks written (every finer chunk
# absent: its metadata alone says how large it is). tamlo-render draws a
# small picture of the coarsest level (--level, as the viewer's first
# picture is), twice; each line gives its wall time and peak memory. Then
# one run under strace counts the bytes read from the store's files: strace
# -f -ff -y names each read's file, so that only the store's reads count
# (the program's own data files, the libraries and /proc are left out),
# and writing each thread's calls to its own file keeps every call on one
# line. Those bytes are set against the coarsest level's size on disk.
#   bench/zarr_sparse.sh [BUILD [FINEST]]
set -euo pipefail
build=${1:-build}
finest=${2:-16384}
render="$build/tools/render/tamlo-render"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The metadata as JSON, the coarsest level's chunks through python3-zarr:
# the store tests' own writer.
root="$(cd "$(dirname "$0")/.." && pwd)"
levels=$(/usr/bin/python3 "$root/tests/unit/volume/make_zarr_stores.py" "$work" sparse "$finest")
coarsest=$((levels - 1))
store="$work/huge.zarr"
edge=$((finest >> coarsest))
awk -v n="$finest" -v e="$edge" -v l="$levels" -v d="$(du -sb "$store" | cut -f1)" \
    'BEGIN { printf "store: %d levels, %d^3 to %d^3 uint16 (%.3g TiB at the finest); %d bytes on disk\n",
                    l, n, e, n * n * n * 2 / 2 ^ 40, d }'
draw=("$render" "$store" --level "$coarsest" --size 256x256 -o "$work/out.png")
# The same picture from a volume file of the coarsest level's samples: the
# program's own start and drawing, which any first picture pays.
"$build/tools/convert/tamlo-convert" --level "$coarsest" "$store" "$work/coarsest.vol" > /dev/null
file=("$render" "$work/coarsest.vol" --size 256x256 -o "$work/file.png")
for run in 1 2; do
    /usr/bin/time -f '%e %M' -o "$work/time" "${draw[@]}" > /dev/null
    read -r seconds kb < "$work/time"
    /usr/bin/time -f '%e' -o "$work/time" "${file[@]}" > /dev/null
    read -r fileSeconds < "$work/time"
    /usr/bin/time -f '%e' -o "$work/time" "$build/tools/convert/tamlo-convert" --level "$coarsest" "$store" \
        "$work/again.vol" > /dev/null
    read -r readSeconds < "$work/time"
    printf 'run %d: first picture %6.2f s (peak %4d MiB); the same from a volume file %6.2f s; the read alone (tamlo-convert) %6.2f s\n' \
        "$run" "$seconds" $((kb / 1024)) "$fileSeconds" "$readSeconds"
done

strace -f -ff -y -s 0 -qq -e trace=read,pread64 -o "$work/trace" "${draw[@]}" > /dev/null
# "read(7</.../store.zarr/7/0.0.0>, ""..., 8192) = 4096": the bytes each
# call returned, by what of the store it read.
cat "$work"/trace.* | awk -v store="$store/" -v coarsest="$coarsest" '
    index($0, "<" store) && $NF ~ /^[0-9]+$/ {
        path = substr($0, index($0, "<" store) + length(store) + 1)
        path = substr(path, 1, index(path, ">") - 1)
        if (path ~ /(^|\/)\.z(group|attrs|array)$/) meta += $NF
        else if (index(path, coarsest "/") == 1) chunks += $NF
        else finer += $NF
    }
    END { printf "read from the store: %d bytes of metadata, %d of the coarsest level'"'"'s chunks, %d of finer levels\n",
                 meta, chunks, finer }'
on_disk=$(find "$store/$coarsest" -type f ! -name .zarray -printf '%s\n' | awk '{s += $1} END {print s}')
echo "the coarsest level: $on_disk bytes of chunks on disk, $((edge * edge * edge * 2)) bytes of samples"

# Writes the small OME-Zarr stores the store tests read: v2 stores through
# Debian's python3-zarr with each compressor and key separator, and v3
# stores with sharding written by hand from the format's description.
# Values: v = x + 7 y + 31 z (+ 1000 c + 500 t), so every position is known.
# With "start": the shards' indexes at their start. With "sparse": only a
# huge store whose finer levels have no chunks.
import json
import os
import struct
import sys
import zlib

import numpy
import zarr
from numcodecs import GZip, LZ4, Blosc, Zlib, Zstd

out = sys.argv[1]
mode = sys.argv[2] if len(sys.argv) > 2 else ""


def write_sparse(root, finest, coarsest, chunk):
    """A v2 store of uint16 levels halving from finest^3 down to coarsest^3,
    its metadata written as JSON and only the coarsest level's chunks
    written: every finer level's chunks are absent (the fill value), so that
    a store of terabytes takes a few megabytes."""
    levels = []
    while finest >> len(levels) >= coarsest:
        levels.append(finest >> len(levels))
    os.makedirs(root, exist_ok=True)
    with open(os.path.join(root, ".zgroup"), "w") as f:
        json.dump({"zarr_format": 2}, f)
    with open(os.path.join(root, ".zattrs"), "w") as f:
        json.dump({"multiscales": multiscales(space, [[2.0 ** i] * 3 for i in range(len(levels))])}, f)
    for i, n in enumerate(levels):
        os.makedirs(os.path.join(root, str(i)), exist_ok=True)
        with open(os.path.join(root, str(i), ".zarray"), "w") as f:
            json.dump({"zarr_format": 2, "shape": [n] * 3, "chunks": [min(chunk, n)] * 3, "dtype": "<u2",
                       "compressor": {"id": "blosc", "cname": "lz4", "clevel": 5, "shuffle": 1, "blocksize": 0},
                       "fill_value": 0, "order": "C", "filters": None}, f)
    # A ball of two shells in noise, as a scan's values might be.
    n = levels[-1]
    z, y, x = numpy.ogrid[:n, :n, :n]
    r = numpy.sqrt((x - n / 2) ** 2 + (y - n / 2) ** 2 + (z - n / 2) ** 2)
    noise = numpy.random.default_rng(7).integers(0, 50, (n, n, n))
    data = (numpy.where(r < n / 4, 2000, numpy.where(r < n * 0.4, 1000, 100)) + noise).astype("<u2")
    zarr.open_array(os.path.join(root, str(len(levels) - 1)), mode="r+")[:] = data
    return levels


def values(shape_czyx, dtype):
    c, z, y, x = numpy.meshgrid(*[numpy.arange(n) for n in shape_czyx], indexing="ij")
    return (x + 7 * y + 31 * z + 1000 * c).astype(dtype)


def multiscales(axes, scales, version="0.4"):
    return [{"version": version, "axes": axes,
             "datasets": [{"path": str(i), "coordinateTransformations": [{"type": "scale", "scale": s}]}
                          for i, s in enumerate(scales)]}]


space = [{"name": n, "type": "space", "unit": "micrometer"} for n in "zyx"]

# Only the huge store, for the tests that ask for it.
if mode == "sparse":
    # 16384^3 uint16 at the finest (8 TiB) unless told, 128^3 at the coarsest;
    # the number of levels on standard output.
    levels = write_sparse(os.path.join(out, "huge.zarr"), int(sys.argv[3]) if len(sys.argv) > 3 else 16384,
                          128, 64)
    print(len(levels))
    sys.exit(0)

# Two levels of z, y, x; each compressor and both separators.
for name, compressor, separator, order in [
        ("blosc-lz4", Blosc(cname="lz4", shuffle=Blosc.SHUFFLE), ".", "C"),
        ("blosc-zstd-bit", Blosc(cname="zstd", shuffle=Blosc.BITSHUFFLE), "/", "C"),
        ("zstd", Zstd(level=3), ".", "F"), ("zlib", Zlib(), "/", "C"), ("gzip", GZip(), ".", "C"),
        ("lz4", LZ4(), ".", "C"), ("raw", None, "/", "C")]:
    root = zarr.open_group(zarr.DirectoryStore(os.path.join(out, name + ".zarr"), dimension_separator=separator),
                           mode="w")
    fine = values((1, 6, 5, 9), numpy.uint16)[0]
    coarse = fine[::2, ::2, ::2]
    for level, data in enumerate([fine, coarse]):
        root.create_dataset(str(level), data=data, chunks=(4, 3, 4), compressor=compressor, order=order,
                            dtype=">u2" if name == "zstd" else "<u2")
    root.attrs["multiscales"] = multiscales(space, [[2, 0.5, 0.5], [4, 1, 1]])

# Channels and time, a float type with NaN fill, a chunk left out.
root = zarr.open_group(zarr.DirectoryStore(os.path.join(out, "tczyx.zarr")), mode="w")
data = numpy.stack([values((2, 3, 4, 5), numpy.float32) + 500 * t for t in range(2)])
array = root.create_dataset("0", data=data, chunks=(1, 1, 2, 2, 5), fill_value=numpy.nan,
                            compressor=Blosc(cname="lz4"))
os.remove(os.path.join(out, "tczyx.zarr", "0", "1.1.1.1.0"))  # t 1, c 1, z 2..3, y 2..3: the fill value
root.attrs["multiscales"] = multiscales(
    [{"name": "t", "type": "time", "unit": "second"}, {"name": "c", "type": "channel"}] + space,
    [[1, 1, 1, 1, 1]])


# v3: a group zarr.json with "ome" attributes; the array sharded, inner
# chunks gzip, the index little-endian with a crc32c.
def crc32c(data):
    crc = 0xFFFFFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0x82F63B78 if crc & 1 else crc >> 1
    return crc ^ 0xFFFFFFFF


def write_sharded(root, levels, shard, inner, left_out=(), shards_left_out=()):
    """A v3 store of int16 levels (z, y, x), each sharded into `shard` of
    `inner` chunks, gzip each; `left_out`: inner chunk indexes (z, y, x,
    within their shard) stored as absent; `shards_left_out`: shard indexes
    of level 0 not written at all."""
    at_start = mode == "start"
    scales = [[2 ** i] * 3 for i in range(len(levels))]
    os.makedirs(root, exist_ok=True)
    with open(os.path.join(root, "zarr.json"), "w") as f:
        json.dump({"zarr_format": 3, "node_type": "group",
                   "attributes": {"ome": {"version": "0.5", "multiscales": multiscales(space, scales, "0.5")}}}, f)
    grid = [s // i for s, i in zip(shard, inner)]
    count = grid[0] * grid[1] * grid[2]
    index_bytes = count * 16 + 4  # (offset, length) for each inner chunk, then the crc32c
    for level, full in enumerate(levels):
        os.makedirs(os.path.join(root, str(level)), exist_ok=True)
        with open(os.path.join(root, str(level), "zarr.json"), "w") as f:
            json.dump({"zarr_format": 3, "node_type": "array", "shape": list(full.shape), "data_type": "int16",
                       "chunk_grid": {"name": "regular", "configuration": {"chunk_shape": list(shard)}},
                       "chunk_key_encoding": {"name": "default", "configuration": {"separator": "/"}},
                       "fill_value": -5,
                       "codecs": [{"name": "sharding_indexed", "configuration": {
                           "chunk_shape": list(inner),
                           "codecs": [{"name": "bytes", "configuration": {"endian": "little"}}, {"name": "gzip"}],
                           "index_codecs": [{"name": "bytes", "configuration": {"endian": "little"}},
                                            {"name": "crc32c"}],
                           "index_location": "start" if at_start else "end"}}]}, f)
        padded = numpy.full([-(-n // s) * s for n, s in zip(full.shape, shard)], -5, numpy.int16)
        padded[:full.shape[0], :full.shape[1], :full.shape[2]] = full
        for sz, sy, sx in numpy.ndindex(*[p // s for p, s in zip(padded.shape, shard)]):
            if level == 0 and (sz, sy, sx) in shards_left_out:
                continue
            body, index = b"", b""
            for iz, iy, ix in numpy.ndindex(*grid):
                if (iz, iy, ix) in left_out:
                    index += struct.pack("<QQ", 2**64 - 1, 2**64 - 1)  # left out: the fill value
                    continue
                z0, y0, x0 = sz * shard[0] + iz * inner[0], sy * shard[1] + iy * inner[1], sx * shard[2] + ix * inner[2]
                block = padded[z0:z0 + inner[0], y0:y0 + inner[1], x0:x0 + inner[2]]
                packed = zlib.compress(numpy.ascontiguousarray(block).astype("<i2").tobytes(), wbits=31)
                index += struct.pack("<QQ", len(body) + (index_bytes if at_start else 0), len(packed))
                body += packed
            index += struct.pack("<I", crc32c(index))
            folder = os.path.join(root, str(level), "c", str(sz), str(sy))
            os.makedirs(folder, exist_ok=True)
            with open(os.path.join(folder, str(sx)), "wb") as f:
                f.write(index + body if at_start else body + index)


# One shard of 2 x 2 x 2 inner chunks, one of them left out.
write_sharded(os.path.join(out, "sharded.zarr"), [values((1, 4, 4, 6), numpy.int16)[0]], (4, 4, 6), (2, 2, 3),
              left_out={(1, 1, 1)})
# Two levels of shards, the last ones cut by the array's edge, one shard of
# level 0 left out: for reading parts.
fine = values((1, 10, 9, 14), numpy.int16)[0]
write_sharded(os.path.join(out, "shards.zarr"), [fine, fine[::2, ::2, ::2]], (4, 4, 8), (2, 2, 4),
              left_out={(0, 1, 1)}, shards_left_out={(2, 0, 1)})
# One shard of 64 inner chunks: a part within one of them reads a sliver of it.
write_sharded(os.path.join(out, "big-shard.zarr"), [values((1, 32, 32, 64), numpy.int16)[0]], (32, 32, 64),
              (8, 8, 16))

# Writes the small OME-Zarr stores the store tests read: v2 stores through
# Debian's python3-zarr with each compressor and key separator, and a v3
# store with sharding written by hand from the format's description.
# Values: v = x + 7 y + 31 z (+ 1000 c + 500 t), so every position is known.
import json
import os
import struct
import sys
import zlib

import numpy
import zarr
from numcodecs import GZip, LZ4, Blosc, Zlib, Zstd

out = sys.argv[1]


def values(shape_czyx, dtype):
    c, z, y, x = numpy.meshgrid(*[numpy.arange(n) for n in shape_czyx], indexing="ij")
    return (x + 7 * y + 31 * z + 1000 * c).astype(dtype)


def multiscales(axes, scales, version="0.4"):
    return [{"version": version, "axes": axes,
             "datasets": [{"path": str(i), "coordinateTransformations": [{"type": "scale", "scale": s}]}
                          for i, s in enumerate(scales)]}]


space = [{"name": n, "type": "space", "unit": "micrometer"} for n in "zyx"]

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


v3 = os.path.join(out, "sharded.zarr")
os.makedirs(os.path.join(v3, "0", "c", "0", "0"), exist_ok=True)
with open(os.path.join(v3, "zarr.json"), "w") as f:
    json.dump({"zarr_format": 3, "node_type": "group",
               "attributes": {"ome": {"version": "0.5", "multiscales": multiscales(space, [[1, 1, 1]], "0.5")}}}, f)
shape, shard, inner = (4, 4, 6), (4, 4, 6), (2, 2, 3)
with open(os.path.join(v3, "0", "zarr.json"), "w") as f:
    json.dump({"zarr_format": 3, "node_type": "array", "shape": list(shape), "data_type": "int16",
               "chunk_grid": {"name": "regular", "configuration": {"chunk_shape": list(shard)}},
               "chunk_key_encoding": {"name": "default", "configuration": {"separator": "/"}},
               "fill_value": -5,
               "codecs": [{"name": "sharding_indexed", "configuration": {
                   "chunk_shape": list(inner),
                   "codecs": [{"name": "bytes", "configuration": {"endian": "little"}}, {"name": "gzip"}],
                   "index_codecs": [{"name": "bytes", "configuration": {"endian": "little"}}, {"name": "crc32c"}],
                   "index_location": sys.argv[2] if len(sys.argv) > 2 else "end"}}]}, f)
full = values((1,) + shape, numpy.int16)[0]
at_start = len(sys.argv) > 2 and sys.argv[2] == "start"
index_bytes = 8 * 16 + 4  # (offset, length) for each of the 8 inner chunks, then the crc32c
body, index = b"", b""
for iz in range(2):
    for iy in range(2):
        for ix in range(2):
            if (iz, iy, ix) == (1, 1, 1):
                index += struct.pack("<QQ", 2**64 - 1, 2**64 - 1)  # left out: the fill value
                continue
            block = full[iz * 2:iz * 2 + 2, iy * 2:iy * 2 + 2, ix * 3:ix * 3 + 3]
            packed = zlib.compress(numpy.ascontiguousarray(block).astype("<i2").tobytes(), wbits=31)
            index += struct.pack("<QQ", len(body) + (index_bytes if at_start else 0), len(packed))
            body += packed
index += struct.pack("<I", crc32c(index))
with open(os.path.join(v3, "0", "c", "0", "0", "0"), "wb") as f:
    f.write(index + body if at_start else body + index)

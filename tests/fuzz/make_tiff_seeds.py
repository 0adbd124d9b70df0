#!/usr/bin/python3
# Writes the TIFF fuzz seeds (tests/fuzz/corpus/tiff/): tiny stacks of each
# kind the reader takes, each behind the one byte that picks the value window.
# Run with Debian's python3 (tifffile, numpy): /usr/bin/python3 tests/fuzz/make_tiff_seeds.py
import io
import os

import numpy as np
import tifffile

out = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'corpus', 'tiff')
os.makedirs(out, exist_ok=True)


def seed(name, window, data, **options):
    options.setdefault('photometric', 'minisblack')
    buffer = io.BytesIO()
    tifffile.imwrite(buffer, data, **options)
    with open(os.path.join(out, name), 'wb') as f:
        f.write(bytes([window]) + buffer.getvalue())


ramp = np.arange(2 * 3 * 4, dtype='uint8').reshape(2, 3, 4)
seed('plain-uint8', 0, ramp)
seed('bigtiff-uint16', 0, ramp.astype('uint16'), bigtiff=True)
seed('plain-int16-deflate', 1, ramp.astype('int16') - 5, compression='zlib')
seed('plain-float32', 2, np.linspace(-1, 1, 2 * 3 * 4, dtype='float32').reshape(2, 3, 4))
seed('tiles-deflate', 3, np.arange(16 * 16, dtype='uint8').reshape(16, 16) % 7, tile=(16, 16), compression='zlib')
seed('rgb-contig', 0, np.arange(2 * 2 * 3 * 3, dtype='uint8').reshape(2, 2, 3, 3), photometric='rgb')
seed('rgb-separate', 1, np.arange(3 * 2 * 3, dtype='uint16').reshape(3, 2, 3), photometric='rgb',
     planarconfig='separate')
hyper = np.arange(2 * 1 * 2 * 2 * 3, dtype='uint16').reshape(2, 1, 2, 2, 3)
seed('imagej-hyperstack', 2, hyper, imagej=True, resolution=(2, 2),
     metadata={'axes': 'TZCYX', 'spacing': 1.5, 'unit': 'um', 'finterval': 2})
seed('ome-czyx', 3, hyper[0].transpose(1, 0, 2, 3), ome=True, photometric='minisblack',
     metadata={'axes': 'CZYX', 'PhysicalSizeX': 0.5, 'PhysicalSizeZ': 2, 'Channel': {'Name': ['a', 'b']}})


def ome_seed(name, window, tiffdata, slices):
    """Two slices of `ramp` as pages in the order `slices`, the first page
    holding an OME description whose TiffData elements are `tiffdata`."""
    xml = ('<OME xmlns="http://www.openmicroscopy.org/Schemas/OME/2016-06"><Image ID="Image:0"><Pixels ID="Pixels:0" '
           'DimensionOrder="XYZCT" Type="uint8" SizeX="4" SizeY="3" SizeZ="2" SizeC="1" SizeT="1">' + tiffdata +
           '</Pixels></Image></OME>')
    buffer = io.BytesIO()
    with tifffile.TiffWriter(buffer) as tif:
        for i, z in enumerate(slices):
            tif.write(ramp[z], photometric='minisblack', description=xml if i == 0 else None, metadata=None)
    with open(os.path.join(out, name), 'wb') as f:
        f.write(bytes([window]) + buffer.getvalue())


# Planes placed by TiffData elements, in the reverse of the pages' order.
ome_seed('ome-tiffdata-reversed', 0, '<TiffData IFD="1" FirstZ="0"/><TiffData IFD="0" FirstZ="1" PlaneCount="1"/>',
         (1, 0))
# A set of two files: slice 1 from this file, slice 2 from the other,
# "part.ome.tif" (the fuzzer writes the same bytes under that name beside it).
ome_seed('ome-set-of-two-files', 1,
         '<TiffData IFD="0" FirstZ="0" PlaneCount="1"><UUID FileName="stack.tif">urn:uuid:1</UUID></TiffData>'
         '<TiffData IFD="1" FirstZ="1" PlaneCount="1"><UUID FileName="part.ome.tif">urn:uuid:2</UUID></TiffData>',
         (0, 1))

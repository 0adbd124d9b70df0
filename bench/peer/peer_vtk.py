#!/usr/bin/python3
"""The peer: the same volume file drawn by VTK's GPU ray-cast mapper.

Reads Tamlo's volume file (u16 dimensions, then 12-bit u16 samples, x
fastest), draws it through a grey ramp and an opacity ramp over the 12-bit
range (Tamlo's default transfer function), from the viewer's start camera,
with a sample distance that gives about 500 samples across the volume.
Like for like: the volume mirrored in x (VTK's camera frame is right-handed,
Tamlo's left-handed, so without it VTK draws Tamlo's picture mirrored) and
the opacity per 1/8 of the box's longest side, as Tamlo's transfer function
means it. With MODE "shaded" VTK shades with Tamlo's terms (a headlight,
two-sided, ambient 0.3, diffuse 0.7, specular 0.3 with power 20). A preset's
source (TF.txt: "position red green blue alpha" a line, positions over the
12-bit range) replaces the ramps where it is given. With MODE
"interactive" it times VTK's own interactive rendering instead: the mapper
choosing its sample distances for a desired update rate of 10 frames per
second while the camera turns a little each frame, as a drag.
Prints one line per frame and a summary line the bench script reads:
    peer frames N at WxH: median M ms, min A ms, max B ms

"peer_vtk.py balls OUT.vol N" writes an N^3 volume file of a few overlapping
balls with smooth edges and no noise: with an opaque surface transfer function
every visible sample lies on an edge, where both programs shade fully, so the
shaded pictures compare the lighting itself (on noisy data Tamlo fades the
shading out where the gradient is weak and smooths it, VTK does neither).

"peer_vtk.py compare A.png B.png" prints the mean difference of two pictures
in grey levels over the pixels where A shows the volume (not the background).
"""
import math
import struct
import sys
import time

from vtkmodules.vtkIOImage import vtkImageReader2, vtkPNGReader, vtkPNGWriter
from vtkmodules.vtkImagingCore import vtkImageFlip
from vtkmodules.vtkRenderingCore import (vtkColorTransferFunction, vtkRenderer, vtkRenderWindow,
                                         vtkVolume, vtkVolumeProperty, vtkWindowToImageFilter)
from vtkmodules.vtkCommonDataModel import vtkPiecewiseFunction
from vtkmodules.vtkRenderingVolumeOpenGL2 import vtkOpenGLGPUVolumeRayCastMapper
import vtkmodules.vtkRenderingOpenGL2  # noqa: F401  (the OpenGL back end)


def read_png(path):
    reader = vtkPNGReader()
    reader.SetFileName(path)
    reader.Update()
    scalars = reader.GetOutput().GetPointData().GetScalars()
    components = scalars.GetNumberOfComponents()
    values = [scalars.GetValue(i) for i in range(scalars.GetNumberOfValues())]
    return [values[i:i + 3] for i in range(0, len(values), components)]


def compare(a_path, b_path):
    total, inside = 0.0, 0
    for a, b in zip(read_png(a_path), read_png(b_path)):
        if a[0] < 8 and a[1] < 8 and abs(a[2] - 127.5) < 8:
            continue  # the background
        total += sum(abs(x - y) for x, y in zip(a, b)) / 3.0
        inside += 1
    mean = total / inside if inside else 0.0
    print(f"mean difference {mean:.2f} levels over {inside} pixels ({a_path} vs {b_path})")


def read_preset(path):
    """The control points of a preset's source: (position, r, g, b, a) a line, '#' starts a comment."""
    points = []
    with open(path) as f:
        for line in f:
            fields = line.split("#", 1)[0].split()
            if fields:
                points.append(tuple(float(x) for x in fields[:5]))
    return points


def write_balls(path, n):
    # (centre, radius) in the unit box; the edge rises over about 3 voxels.
    balls = [((0.45, 0.5, 0.5), 0.28), ((0.7, 0.62, 0.45), 0.16), ((0.35, 0.3, 0.35), 0.14)]
    edge = 3.0 / n
    with open(path, "wb") as f:
        f.write(struct.pack("<3H", n, n, n))
        for z in range(n):
            pz = (z + 0.5) / n
            for y in range(n):
                py = (y + 0.5) / n
                row = []
                for x in range(n):
                    px = (x + 0.5) / n
                    inside = max(r - math.sqrt((px - c[0]) ** 2 + (py - c[1]) ** 2 + (pz - c[2]) ** 2)
                                 for c, r in balls)
                    row.append(int(4095.0 * min(1.0, max(0.0, 0.5 + inside / edge)) + 0.5))
                f.write(struct.pack(f"<{n}H", *row))


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "compare":
        return compare(sys.argv[2], sys.argv[3])
    if len(sys.argv) == 4 and sys.argv[1] == "balls":
        return write_balls(sys.argv[2], int(sys.argv[3]))
    if len(sys.argv) not in (6, 7, 8, 9):
        sys.exit("usage: peer_vtk.py VOLUME WIDTH HEIGHT FRAMES OUT.png [DISTANCE [still|shaded|interactive [TF.txt]]]\n"
                 "       peer_vtk.py balls OUT.vol N\n"
                 "       peer_vtk.py compare A.png B.png")
    path, width, height, frames, out = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
    distance = float(sys.argv[6]) if len(sys.argv) > 6 else 4.0
    mode = sys.argv[7] if len(sys.argv) > 7 else "still"
    interactive = mode == "interactive"
    preset = read_preset(sys.argv[8]) if len(sys.argv) > 8 else [(0.0, 0.0, 0.0, 0.0, 0.0), (1.0, 1.0, 1.0, 1.0, 1.0)]
    with open(path, "rb") as f:
        dim_x, dim_y, dim_z = struct.unpack("<3H", f.read(6))

    reader = vtkImageReader2()
    reader.SetFileName(path)
    reader.SetHeaderSize(6)
    reader.SetDataScalarTypeToUnsignedShort()
    reader.SetDataByteOrderToLittleEndian()
    reader.SetFileDimensionality(3)
    reader.SetFileLowerLeft(True)  # the first row is y = 0, as Tamlo reads it (not flipped)
    reader.SetDataExtent(0, dim_x - 1, 0, dim_y - 1, 0, dim_z - 1)
    # Tamlo draws the volume in a box whose longest side is 1.
    longest = max(dim_x, dim_y, dim_z)
    reader.SetDataSpacing(1.0 / longest, 1.0 / longest, 1.0 / longest)
    reader.SetDataOrigin(-0.5 * (dim_x - 1) / longest, -0.5 * (dim_y - 1) / longest, -0.5 * (dim_z - 1) / longest)
    reader.Update()
    # Mirrored in x about the box's centre: the right-handed camera then
    # shows what Tamlo's left-handed one does.
    mirror = vtkImageFlip()
    mirror.SetInputConnection(reader.GetOutputPort())
    mirror.SetFilteredAxis(0)
    mirror.Update()

    colour = vtkColorTransferFunction()
    opacity = vtkPiecewiseFunction()
    for position, red, green, blue, alpha in preset:
        colour.AddRGBPoint(4096.0 * position, red, green, blue)
        opacity.AddPoint(4096.0 * position, alpha)
    prop = vtkVolumeProperty()
    prop.SetColor(colour)
    prop.SetScalarOpacity(opacity)
    prop.SetInterpolationTypeToLinear()
    # Tamlo's opacity is that of a layer 1/8 of the box's longest side thick.
    prop.SetScalarOpacityUnitDistance(0.125)
    if mode == "shaded":
        prop.ShadeOn()
        prop.SetAmbient(0.3)
        prop.SetDiffuse(0.7)
        prop.SetSpecular(0.3)
        prop.SetSpecularPower(20.0)
    else:
        prop.ShadeOff()

    mapper = vtkOpenGLGPUVolumeRayCastMapper()
    mapper.SetInputConnection(mirror.GetOutputPort())
    if interactive:
        # VTK's own answer to a drag: coarser sampling chosen for the update rate.
        mapper.SetAutoAdjustSampleDistances(True)
    else:
        mapper.SetAutoAdjustSampleDistances(False)
        # About 500 samples across the box (its side is 1).
        mapper.SetSampleDistance(1.0 / 500.0)
    mapper.SetBlendModeToComposite()

    volume = vtkVolume()
    volume.SetMapper(mapper)
    volume.SetProperty(prop)

    renderer = vtkRenderer()
    renderer.SetBackground(0.0, 0.0, 0.5)
    renderer.SetTwoSidedLighting(True)  # both faces of a thin layer lit, as in Tamlo
    renderer.AddVolume(volume)
    window = vtkRenderWindow()
    window.SetSize(width, height)
    window.SetOffScreenRendering(False)
    window.AddRenderer(renderer)
    if interactive:
        window.SetDesiredUpdateRate(10.0)

    # The viewer's start camera: pitch 1 rad about x, 45-degree field.
    pitch = 1.0
    camera = renderer.GetActiveCamera()
    camera.SetFocalPoint(0.0, 0.0, 0.0)
    camera.SetPosition(0.0, distance * math.sin(pitch), -distance * math.cos(pitch))
    camera.SetViewUp(0.0, math.cos(pitch), math.sin(pitch))
    camera.SetViewAngle(45.0)
    renderer.ResetCameraClippingRange()

    times = []
    if interactive:
        window.Render()  # the first frame sets the mapper up; a drag starts after it
    for i in range(frames):
        if interactive:
            camera.Azimuth(0.6)
        start = time.perf_counter()
        window.Render()
        times.append((time.perf_counter() - start) * 1000.0)
        print(f"peer frame {i + 1}: {times[-1]:.2f} ms", flush=True)

    grab = vtkWindowToImageFilter()
    grab.SetInput(window)
    grab.SetInputBufferTypeToRGB()
    grab.ReadFrontBufferOff()
    grab.Update()
    writer = vtkPNGWriter()
    writer.SetFileName(out)
    writer.SetInputConnection(grab.GetOutputPort())
    writer.Write()

    ordered = sorted(times)
    n = len(ordered)
    median = ordered[n // 2] if n % 2 else 0.5 * (ordered[n // 2 - 1] + ordered[n // 2])
    print(f"peer frames {n} at {width}x{height}: median {median:.2f} ms, min {ordered[0]:.2f} ms, "
          f"max {ordered[-1]:.2f} ms")
    renderer_lines = [line for line in window.ReportCapabilities().splitlines() if "renderer string" in line]
    print("peer " + (renderer_lines[0].strip() if renderer_lines else "OpenGL renderer: unknown"))


if __name__ == "__main__":
    main()

// The volume's compositing against a double-precision reference of the same
// sum, worked out on the CPU for the same 500 slices: a volume that changes
// only with depth, seen straight along it, so that every slice is one
// density and each pixel near the centre lies inside every slice. The 16-bit
// layer must stay within a level of the reference; the 8-bit path (drawing
// straight into the back buffer, as frames do when the device gives no
// layer) rounds at each of its 500 blends and strays further.
#include <algorithm>
#include <cmath>
#include <iostream>

#include "app/app_state.h"
#include "render/renderer.h"
#include "slicing/slice_geometry.h"
#include "tests/gpu/viewer/viewer_harness.h"
#include "volume/volume.h"

namespace viewer_test {
namespace {

constexpr int kWidth = 96, kHeight = 96, kSide = 16;

// The sample of depth layer z, as the volume file holds it (12 bits).
uint16_t LayerValue(int z) {
    return static_cast<uint16_t>(60 + 170 * z);
}

// The texture's linear filter along depth at coordinate w (0..1), as the
// device reads the 16-bit texture (12-bit value shifted up four bits).
double DensityAt(double w) {
    const double voxel = std::clamp(w * kSide - 0.5, 0.0, kSide - 1.0);
    const int below = std::min(static_cast<int>(voxel), kSide - 2);
    const double f = voxel - below;
    const double a = LayerValue(below) * 16.0 / 65535.0, b = LayerValue(below + 1) * 16.0 / 65535.0;
    return a + (b - a) * f;
}

// The default transfer function through its 1024-texel float texture with
// linear filtering: the ramp from clear black to opaque white.
double Ramp(double u) {
    return std::clamp((u * 1024.0 - 0.5) / 1023.0, 0.0, 1.0);
}

struct Error {
    double mean = 0, max = 0;
};

class CompositingTest : public ViewerTest {
  protected:
    // The reference colour of the centre pixels (rgb, 0..255), from the
    // program's own slices for the view in force.
    static std::array<double, 3> Reference() {
        std::vector<VolumeVertex> vertices(kSliceVertexCapacity);
        std::vector<uint32_t> indices(kSliceIndexCapacity);
        const SliceCut cut = CutSlices(Renderer.view, Volume.halfExtentX, Volume.halfExtentY,
                                       Volume.halfExtentZ, vertices.data(), indices.data());
        // Seen straight along depth every slice has one texture depth; the fans
        // come farthest first, a slice's triangles one after another.
        std::vector<double> sliceDepths;
        for (uint32_t i = 0; i < cut.indexCount; i += 3) {
            const double w = vertices[indices[i]].w;
            if (sliceDepths.empty() || std::fabs(sliceDepths.back() - w) > 1e-7)
                sliceDepths.push_back(w);
        }
        EXPECT_EQ(sliceDepths.size(), static_cast<size_t>(kSliceCount));
        const double depth = 2.0 * Volume.halfExtentZ;  // the box along the view
        const double layers = 8.0 * depth / 501.0;
        std::array<double, 3> colour{0.0, 0.0, 0.5};  // the clear colour
        for (double w : sliceDepths) {
            const double c = Ramp(DensityAt(w));
            const double alpha = 1.0 - std::pow(1.0 - c, layers);
            for (double& channel : colour)
                channel = c * alpha + channel * (1.0 - alpha);
        }
        for (double& channel : colour)
            channel *= 255.0;
        return colour;
    }

    static Error Measure(const Frame& frame, const std::array<double, 3>& reference) {
        Error e;
        int n = 0;
        for (int y = kHeight / 2 - 4; y < kHeight / 2 + 4; ++y)
            for (int x = kWidth / 2 - 4; x < kWidth / 2 + 4; ++x)
                for (int c = 0; c < 3; ++c) {
                    const double d = std::fabs(frame.At(x, y)[c] - reference[c]);
                    e.mean += d;
                    e.max = std::max(e.max, d);
                    ++n;
                }
        e.mean /= n;
        return e;
    }
};

TEST_F(CompositingTest, TheSixteenBitLayerMatchesTheDoublePrecisionSumAndBeatsEightBits) {
    std::vector<uint16_t> samples(kSide * kSide * kSide);
    for (int z = 0; z < kSide; ++z)
        std::fill_n(samples.begin() + z * kSide * kSide, kSide * kSide, LayerValue(z));
    const std::string path = ScratchDir() + "/depth.vol";
    WriteVolume(path, kSide, kSide, kSide, samples);
    shell::testing::SetFileDialogScript({path});
    Frame layered, direct;
    std::array<double, 3> reference{};
    Run({[] {
             Size(kWidth, kHeight);
             OrbitCamera.pitch = 0.0f;
             OrbitCamera.yaw = 0.0f;
             OrbitCamera.distance = 2.0f;
             Command(kCmdViewShading);  // the sum of the transfer function's colours, unshaded
             Command(kCmdFileOpen);
         },
         [] {},
         [&] {
             layered = ReadFrame();
             reference = Reference();
             ASSERT_TRUE(HaveVolumeLayer());
             ReleaseVolumeLayer();  // the next frames draw straight into the back buffer
         },
         [] {}, [&] { direct = ReadFrame(); }});
    EXPECT_TRUE(boxes_.empty());
    ASSERT_EQ(layered.width, static_cast<uint32_t>(kWidth));
    const Error layerError = Measure(layered, reference), eightBitError = Measure(direct, reference);
    std::cout << "reference (" << reference[0] << ", " << reference[1] << ", " << reference[2]
              << "); error in 8-bit levels, mean / max: 16-bit layer " << layerError.mean << " / "
              << layerError.max << ", 8-bit target " << eightBitError.mean << " / " << eightBitError.max
              << "\n";
    RecordProperty("layer_mean_error", std::to_string(layerError.mean));
    RecordProperty("eight_bit_mean_error", std::to_string(eightBitError.mean));
    EXPECT_LE(layerError.max, 1.0) << "the layer rounds to 8 bits only once, at the end";
    EXPECT_LT(layerError.mean, eightBitError.mean);
}

}  // namespace
}  // namespace viewer_test

// Several channels drawn together against a double-precision reference of
// the per-sample mix over the program's own slices: slabs of two channels at
// two depths, seen straight along depth (every slice one density a channel
// near the centre). The CPU's pass against the slices; the channel chosen,
// hidden and left out.
#include <algorithm>
#include <cmath>

#include "app/app_state.h"
#include "render/renderer.h"
#include "slicing/slice_geometry.h"
#include "tests/gpu/viewer/viewer_harness.h"
#include "ui/tab.h"
#include "volume/gradient.h"
#include "volume/volume.h"

namespace viewer_test {
namespace {

// Three bricks deep (render/empty_space.h), so that a channel's clear space
// is its own.
constexpr int kWidth = 64, kHeight = 64, kSide = 16, kDepth = 48;
using Layers = std::vector<std::vector<uint16_t>>;  // a 12-bit value per z, a channel each
using Rgb = std::array<double, 3>;

VolumeData Slabs(const Layers& layers) {
    VolumeData volume;
    volume.dimX = volume.dimY = kSide;
    volume.dimZ = kDepth;
    volume.channels.assign(layers.size(), VolumeChannel{});
    volume.samples.reset(new uint16_t[volume.SampleCount()]);
    for (uint32_t c = 0; c < layers.size(); ++c)
        for (int z = 0; z < kDepth; ++z)
            std::fill_n(volume.Grid(c, 0) + z * kSide * kSide, kSide * kSide, layers[c][z]);
    return volume;
}

std::vector<uint16_t> Slab(uint16_t outside, uint16_t inside, int from, int to) {
    std::vector<uint16_t> z(kDepth, outside);
    std::fill(z.begin() + from, z.begin() + to, inside);
    return z;
}

// The linear filters the device applies: along depth at w (the 16-bit
// texel), and along a channel's lookup row at density d.
double DensityAt(const std::vector<uint16_t>& layer, double w) {
    const double p = std::clamp(w * kDepth - 0.5, 0.0, kDepth - 1.0);
    const int i = std::min(static_cast<int>(p), kDepth - 2);
    return (layer[i] + (layer[i + 1] - layer[i]) * (p - i)) * 16.0 / 65535.0;
}
std::array<double, 4> Lookup(uint32_t channel, double d) {
    const UI::PointList points = EditorTab.ChannelPoints(channel);
    std::vector<float> t(kTransferTexels * 4);
    WalkTransferFunction(points.data(), static_cast<uint32_t>(points.size()), t.data());
    const double p = std::clamp(d * kTransferTexels - 0.5, 0.0, kTransferTexels - 1.0);
    const int i = std::min(static_cast<int>(p), kTransferTexels - 2);
    std::array<double, 4> out{};
    for (int k = 0; k < 4; ++k)
        out[k] = t[i * 4 + k] + (t[(i + 1) * 4 + k] - t[i * 4 + k]) * (p - i);
    return out;
}

// The slices' texture depths for the view in force, farthest first.
std::vector<double> SliceDepths() {
    std::vector<VolumeVertex> vertices(kSliceVertexCapacity);
    std::vector<uint32_t> indices(kSliceIndexCapacity);
    const SliceCut cut = CutSlices(Renderer.view, Volume.halfExtentX, Volume.halfExtentY, Volume.halfExtentZ,
                                   vertices.data(), indices.data());
    std::vector<double> depths;
    for (uint32_t i = 0; i < cut.indexCount; i += 3)
        if (depths.empty() || std::fabs(depths.back() - vertices[indices[i]].w) > 1e-7)
            depths.push_back(vertices[indices[i]].w);
    return depths;
}

// The composite over the slices in [low, high] (hidden: a channel taken as
// clear): each sample mixes the channels, opacity 1 - prod(1 - a), colour
// weighted by opacity, each lit by its own gradient's texel when shaded
// (along the centre ray the eye lies along z). rgb 0..255.
Rgb CompositeReference(const Layers& layers, bool shaded, double low = 0, double high = 1, int hidden = -1,
                       Rgb behind = {0.0, 0.0, 0.5}) {
    std::vector<std::vector<uint8_t>> gradients;
    for (const auto& layer : layers) {
        gradients.emplace_back(size_t{kSide} * kSide * kDepth * 4);
        const uint32_t dims[3] = {kSide, kSide, kDepth};
        const float spacing[3] = {1, 1, 1};
        ComputeGradient(Slabs({layer}).samples.get(), dims, spacing, gradients.back().data());
    }
    Rgb colour = behind;
    for (double w : SliceDepths()) {
        Rgb weighted{0, 0, 0};
        double sum = 0, clearance = 1;
        for (uint32_t c = 0; c < layers.size() && w >= low && w <= high; ++c) {
            const auto tf = Lookup(c, DensityAt(layers[c], w));
            const double a = static_cast<int>(c) == hidden ? 0.0 : std::clamp(tf[3], 0.0, 1.0);
            const int z = std::clamp(static_cast<int>(std::floor(w * kDepth)), 0, kDepth - 1);
            const uint8_t* n =
                &gradients[c][((static_cast<size_t>(z) * kSide + kSide / 2) * kSide + kSide / 2) * 4];
            const double f[3] = {(n[0] - 128) / 127.0, (n[1] - 128) / 127.0, (n[2] - 128) / 127.0};
            const double fade = std::sqrt(f[0] * f[0] + f[1] * f[1] + f[2] * f[2]), facing = std::fabs(f[2]);
            for (int k = 0; k < 3 && a > 0; ++k)
                weighted[k] += a * (shaded ? std::clamp(tf[k] * (1 - 0.7 * fade + 0.7 * facing) +
                                                            0.3 * std::pow(facing, 20.0),
                                                        0.0, 1.0)
                                           : tf[k]);
            sum += a;
            clearance *= 1 - a;
        }
        const double alpha = 1 - std::pow(clearance, 8.0 * 2.0 * Volume.halfExtentZ / 501.0);
        for (int k = 0; k < 3 && sum > 0; ++k)
            colour[k] = weighted[k] / sum * alpha + colour[k] * (1 - alpha);
    }
    return {colour[0] * 255, colour[1] * 255, colour[2] * 255};
}

// A z plane on `layer` (the grey window the whole 12 bits): each visible
// channel's grey in its colour, added, under the slices in front of it.
Rgb PlaneReference(const Layers& layers, int layer, int hidden) {
    Rgb plane{0, 0, 0};
    for (uint32_t c = 0; c < layers.size(); ++c) {
        const uint32_t rgb = EditorTab.channelColours[c];
        for (int k = 0; k < 3 && static_cast<int>(c) != hidden; ++k)
            plane[k] += layers[c][layer] / 4095.0 * ((rgb >> (16 - 8 * k)) & 0xff) / 255.0;
    }
    for (double& k : plane)
        k = std::min(k, 1.0);
    return CompositeReference(layers, false, 0, (layer + 0.5) / kDepth, hidden, plane);
}

// Each channel's extreme over the slices through its own lookup, the
// colours added over the clear colour. rgb 0..255.
Rgb ExtremeReference(const Layers& layers, bool maximum) {
    Rgb added{0, 0, 0};
    double clearance = 1;
    for (uint32_t c = 0; c < layers.size(); ++c) {
        double e = maximum ? 0.0 : 1.0;
        for (double w : SliceDepths())
            e = maximum ? std::max(e, DensityAt(layers[c], w)) : std::min(e, DensityAt(layers[c], w));
        const auto tf = Lookup(c, e);
        const double a = std::clamp(tf[3], 0.0, 1.0);
        for (int k = 0; k < 3; ++k)
            added[k] += a * tf[k];
        clearance *= 1 - a;
    }
    added[2] += 0.5 * clearance;
    return {std::min(added[0], 1.0) * 255, std::min(added[1], 1.0) * 255, std::min(added[2], 1.0) * 255};
}

// The largest difference from a reference over the centre pixels, and
// between two frames over every pixel inside the image's edge (its last
// column differs between the two passes for one channel as well).
double Off(const Frame& frame, const Rgb& reference, const Frame* other = nullptr) {
    double worst = 0;
    const uint32_t from = other ? 1 : kWidth / 2 - 2, to = other ? kWidth - 1 : kWidth / 2 + 2;
    for (uint32_t y = from; y < to; ++y)
        for (uint32_t x = from; x < to; ++x)
            for (int k = 0; k < 3; ++k)
                worst = std::max(worst,
                                 std::fabs(frame.At(x, y)[k] - (other ? other->At(x, y)[k] : reference[k])));
    return worst;
}
double Off(const Frame& a, const Frame& b) {
    return Off(a, {}, &b);
}

class ChannelsTest : public ViewerTest {
  protected:
    static std::function<void()> Show(const Layers& layers) {
        return [layers] {
            VolumeProblem problem;
            std::vector<VolumeNotice> notices;
            ASSERT_TRUE(Volume.Install(Slabs(layers), "slabs", &problem, &notices)) << problem.text;
            ASSERT_TRUE(ShowLoadedVolume());
        };
    }
    static void LookAlongDepth() {
        Size(kWidth, kHeight);
        OrbitCamera.pitch = OrbitCamera.yaw = 0.0f;
        OrbitCamera.distance = 2.0f;
    }
    static std::function<void()> CpuPass(bool on) {
        return [on] {
            Renderer.volumePassOnCpu = on;
            Renderer.softwareImage.clear();
            InvalidateVolumeLayer();
        };
    }
};

// Channel 0 (green by default) and channel 1 (magenta) at two depths, then
// swapped: whichever lies in front gives its colour. The crop cuts both; a
// hidden channel adds nothing.
const Layers kFrontBack = {Slab(0, 4095, 8, 16), Slab(0, 4095, 32, 40)};
const Layers kBackFront = {Slab(0, 4095, 32, 40), Slab(0, 4095, 8, 16)};

TEST_F(ChannelsTest, EachSampleMixesTheChannelsSoTheOneInFrontHidesTheOneBehind) {
    Frame first, swapped, cropped, hidden;
    Rgb references[4];
    CropBox crop;
    crop.low[2] = 0.5f;
    Run({[] {
             LookAlongDepth();
             Command(kCmdViewShading);  // unshaded
         },
         Show(kFrontBack), [] {},
         [&] { first = ReadFrame(), references[0] = CompositeReference(kFrontBack, false); },
         Show(kBackFront), [] {},
         [&] {
             swapped = ReadFrame(), references[1] = CompositeReference(kBackFront, false);
             SetVolumeCrop(crop);
         },
         [] {},
         [&] {
             cropped = ReadFrame(), references[2] = CompositeReference(kBackFront, false, 0.5, 1.0);
             SetVolumeCrop(CropBox{});
             Command(kCmdChannelToggleFirst + 1);  // as the Channels window's check box posts it
         },
         [] {},
         [&] { hidden = ReadFrame(), references[3] = CompositeReference(kBackFront, false, 0, 1, 1); }});
    EXPECT_TRUE(boxes_.empty());
    const Frame* frames[4] = {&first, &swapped, &cropped, &hidden};
    for (int i = 0; i < 4; ++i)
        EXPECT_LE(Off(*frames[i], references[i]), 1.5) << "frame " << i;
    const Rgba a = first.At(kWidth / 2, kHeight / 2), b = swapped.At(kWidth / 2, kHeight / 2);
    EXPECT_LT((a[1] - a[0]) * (b[1] - b[0]), 0) << "the channel in front hides the one behind";
    EXPECT_GT(std::abs(a[1] - a[0]), 40);
    EXPECT_GT(Off(cropped, swapped), 20) << "the crop leaves a slab out";
    EXPECT_GT(Off(hidden, swapped), 20);
}

// A plane through layers where each channel is even (and clear under its
// ramp, which starts there): each visible channel's grey in its colour, on
// both passes; a hidden channel leaves the plane.
TEST_F(ChannelsTest, APlaneShowsTheVisibleChannelsInTheirColours) {
    const Layers layers = {Slab(1000, 4095, 36, 44), Slab(2000, 4095, 36, 44)};
    const int layer = (kDepth - 1) / 2;  // where Slices > ZAxis first puts it
    Frame slices, cpu, hidden;
    Rgb references[2];
    Run({[] {
             LookAlongDepth();
             Command(kCmdViewShading);  // unshaded
         },
         Show(layers), [] { Command(kCmdSlicesZAxis); }, [] {},
         [&] {
             slices = ReadFrame(), references[0] = PlaneReference(layers, layer, -1);
             CpuPass(true)();
         },
         [] {},
         [&] {
             cpu = ReadFrame();
             Command(kCmdChannelToggleFirst + 1);
         },
         [] {}, [&] { hidden = ReadFrame(), references[1] = PlaneReference(layers, layer, 1); }});
    EXPECT_TRUE(boxes_.empty());
    EXPECT_LE(Off(slices, references[0]), 1.5);
    EXPECT_LE(Off(cpu, slices), 2.0);
    EXPECT_LE(Off(hidden, references[1]), 1.5) << "on the CPU, channel 1 hidden";
    const Rgba both = slices.At(kWidth / 2, kHeight / 2), one = hidden.At(kWidth / 2, kHeight / 2);
    EXPECT_GT(both[0], 60) << "magenta's grey shows";
    EXPECT_LT(one[0], 10) << "the hidden channel adds nothing";
    EXPECT_GT(one[1], 40);
}

// Each channel lit by its own gradient, and each channel's extremes added;
// the CPU's pass draws the slices' picture of both.
TEST_F(ChannelsTest, ShadingAndExtremesFollowEachChannelOnBothPasses) {
    const Layers extremes = {Slab(1000, 4095, 8, 16), Slab(3000, 4095, 32, 40)};
    Frame shaded, cpuShaded, maximum, cpuMaximum, minimum;
    Rgb references[3];
    bool cpuDrew = false;
    Run({LookAlongDepth, Show(kFrontBack), [] {},
         [&] {
             shaded = ReadFrame(), references[0] = CompositeReference(kFrontBack, true);
             CpuPass(true)();
         },
         Show(kFrontBack), [] {},  // anew: the volume keeps a gradient for the CPU
         [&] {
             cpuShaded = ReadFrame(), cpuDrew = !Renderer.softwareImage.empty();
             CpuPass(false)();
             Command(kCmdViewMaximum);
         },
         Show(extremes), [] {},
         [&] {
             maximum = ReadFrame(), references[1] = ExtremeReference(extremes, true);
             CpuPass(true)();
         },
         [] {},
         [&] {
             cpuMaximum = ReadFrame();
             CpuPass(false)();
             Command(kCmdViewMinimum);
         },
         [] {}, [&] { minimum = ReadFrame(), references[2] = ExtremeReference(extremes, false); }});
    EXPECT_TRUE(boxes_.empty());
    EXPECT_LE(Off(shaded, references[0]), 2.0);
    EXPECT_LE(Off(maximum, references[1]), 1.5);
    EXPECT_LE(Off(minimum, references[2]), 1.5);
    EXPECT_TRUE(cpuDrew) << "the CPU drew the layer";
    EXPECT_LE(Off(cpuShaded, shaded), 2.0);
    EXPECT_LE(Off(cpuMaximum, maximum), 2.0);
    const Rgba m = maximum.At(kWidth / 2, kHeight / 2);
    EXPECT_TRUE(m[0] > 100 && m[1] > 100) << "green and magenta added";
    for (const Frame* frame : {&maximum, &minimum}) {
        const Rgba corner = frame->At(1, 1);
        EXPECT_TRUE(corner[0] == 0 && corner[1] == 0 && std::abs(corner[2] - 128) <= 1)
            << "uncovered: background";
    }
}

// Channel 2 edited, with its histogram; past four channels the first
// four are shown and the others named; one channel has no window.
TEST_F(ChannelsTest, TheEditedChannelTheLeftOutAndTheWindow) {
    uint32_t edited = 0, shownChannels = 0;
    std::vector<uint32_t> counts, colours;
    std::vector<VolumeNotice> notices;
    bool windowOpen = false, windowForOne = true;
    Run({LookAlongDepth, Show({Slab(0, 4095, 8, 16), Slab(0, 2000, 32, 40)}),
         [] { Command(kCmdChannelEditFirst + 1); },  // as the window's choice posts it
         [] {},
         [&] {
             edited = EditorTab.editedChannel, counts = Volume.valueCounts;
             Command(kCmdViewChannels);
         },
         [] {},
         [&] {
             windowOpen = ChannelsWindowOpen();
             VolumeData six = Slabs(Layers(6, Slab(0, 2000, 4, 12)));
             for (uint32_t c = 0; c < 6; ++c)
                 six.channels[c].name = "stain" + std::to_string(c + 1);
             six.channels[1].colour = 0x123456;
             VolumeProblem problem;
             ASSERT_TRUE(Volume.Install(std::move(six), "six", &problem, &notices)) << problem.text;
             ASSERT_TRUE(ShowLoadedVolume());
             shownChannels = EditorTab.channelCount, colours = EditorTab.channelColours;
         },
         Show({Slab(0, 4095, 8, 16)}), [] {}, [&] { windowForOne = ChannelsWindowOpen(); }});
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(edited, 1u);
    ASSERT_EQ(counts.size(), kSampleValues);
    EXPECT_EQ(counts[2000], 8u * kSide * kSide) << "the histogram counts channel 2's values";
    EXPECT_TRUE(windowOpen);
    EXPECT_FALSE(windowForOne) << "one channel: no window";
    EXPECT_EQ(shownChannels, 4u);
    EXPECT_EQ(colours, (std::vector<uint32_t>{0x00FF00, 0x123456, 0x00FFFF, 0xFFFF00}))
        << "the file's, else by index";
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].caption, "Volume channels");
    EXPECT_NE(notices[0].text.find("left out: stain5, stain6."), std::string::npos) << notices[0].text;
}

}  // namespace
}  // namespace viewer_test

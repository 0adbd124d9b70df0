// Several channels drawn together against a double-precision reference of
// the per-sample mix, worked out on the CPU for the program's own slices: two
// slabs of two channels at two depths, seen straight along depth, so that
// every slice holds one density a channel near the centre. The channel in
// front hides the one behind; the crop, shading and the extremes follow the
// same reference. More than four channels show the first four and say so.
#include <SDL2/SDL.h>

#include <algorithm>
#include <cmath>

#include "app/app_state.h"
#include "platform/shell/window_internal.h"
#include "render/renderer.h"
#include "slicing/slice_geometry.h"
#include "tests/gpu/viewer/viewer_harness.h"
#include "ui/tab.h"
#include "volume/gradient.h"
#include "volume/volume.h"

namespace viewer_test {
namespace {

constexpr int kWidth = 64, kHeight = 64, kSide = 16;
using Layers = std::vector<std::vector<uint16_t>>;  // per channel, a 12-bit value per z

VolumeData Slabs(const Layers& layers) {
    VolumeData volume;
    volume.dimX = volume.dimY = volume.dimZ = kSide;
    volume.channels.assign(layers.size(), VolumeChannel{});
    volume.samples.reset(new uint16_t[volume.SampleCount()]);
    for (uint32_t c = 0; c < layers.size(); ++c)
        for (int z = 0; z < kSide; ++z)
            std::fill_n(volume.Grid(c, 0) + z * kSide * kSide, kSide * kSide, layers[c][z]);
    return volume;
}

std::vector<uint16_t> Slab(uint16_t outside, uint16_t inside, int from, int to) {
    std::vector<uint16_t> z(kSide, outside);
    std::fill(z.begin() + from, z.begin() + to, inside);
    return z;
}

// The texture's linear filter along depth at w, as the 16-bit texel.
double DensityAt(const std::vector<uint16_t>& layer, double w) {
    const double voxel = std::clamp(w * kSide - 0.5, 0.0, kSide - 1.0);
    const int below = std::min(static_cast<int>(voxel), kSide - 2);
    const double f = voxel - below;
    return (layer[below] + (layer[below + 1] - layer[below]) * f) * 16.0 / 65535.0;
}

// A channel's lookup row through its linear filter at density d.
std::array<double, 4> Lookup(const UI::PointList& points, double d) {
    std::vector<float> texels(kTransferTexels * 4);
    WalkTransferFunction(points.data(), static_cast<uint32_t>(points.size()), texels.data());
    const double p = std::clamp(d * kTransferTexels - 0.5, 0.0, kTransferTexels - 1.0);
    const int i = std::min(static_cast<int>(p), kTransferTexels - 2);
    const double f = p - i;
    std::array<double, 4> out{};
    for (int k = 0; k < 4; ++k)
        out[k] = texels[i * 4 + k] + (texels[(i + 1) * 4 + k] - texels[i * 4 + k]) * f;
    return out;
}

// The slices' texture depths for the view in force, farthest first.
std::vector<double> SliceDepths() {
    std::vector<VolumeVertex> vertices(kSliceVertexCapacity);
    std::vector<uint32_t> indices(kSliceIndexCapacity);
    const SliceCut cut = CutSlices(Renderer.view, Volume.halfExtentX, Volume.halfExtentY, Volume.halfExtentZ,
                                   vertices.data(), indices.data());
    std::vector<double> depths;
    for (uint32_t i = 0; i < cut.indexCount; i += 3) {
        const double w = vertices[indices[i]].w;
        if (depths.empty() || std::fabs(depths.back() - w) > 1e-7)
            depths.push_back(w);
    }
    return depths;
}

using Rgb = std::array<double, 3>;

// Channel c's shading factor at depth w for the centre ray (along z): the
// gradient texel of its slice, lit as the shaders light it.
Rgb Lit(const std::vector<uint8_t>& gradient, uint32_t gz, double w, const Rgb& rgb) {
    const uint32_t slice =
        std::min<uint32_t>(static_cast<uint32_t>(std::max(0.0, std::floor(w * gz))), gz - 1);
    const uint8_t* texel = gradient.data() + ((size_t{slice} * kSide + kSide / 2) * kSide + kSide / 2) * 4;
    const double n[3] = {texel[0] * (255.0 / 127.0) / 255.0 - 128.0 / 127.0,
                         texel[1] * (255.0 / 127.0) / 255.0 - 128.0 / 127.0,
                         texel[2] * (255.0 / 127.0) / 255.0 - 128.0 / 127.0};
    const double fade = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    const double facing = std::fabs(n[2]);
    Rgb out;
    for (int k = 0; k < 3; ++k)
        out[k] =
            std::clamp(rgb[k] * (1.0 - 0.7 * fade + 0.7 * facing) + 0.3 * std::pow(facing, 20.0), 0.0, 1.0);
    return out;
}

// The composite of the per-sample mix over the slices whose depth lies in
// [low, high], from the clear colour; rgb 0..255.
Rgb CompositeReference(const Layers& layers, bool shaded, double low = 0.0, double high = 1.0,
                       int hidden = -1) {
    const double thickness = 8.0 * 2.0 * Volume.halfExtentZ / 501.0;
    std::vector<std::vector<uint8_t>> gradients;
    uint32_t gz = kSide;
    for (const auto& layer : layers) {
        VolumeData one = Slabs({layer});
        gradients.emplace_back(size_t{kSide} * kSide * kSide * 4);
        const uint32_t dims[3] = {kSide, kSide, kSide};
        const float spacing[3] = {1, 1, 1};
        ComputeGradient(one.samples.get(), dims, spacing, gradients.back().data());
    }
    Rgb colour{0.0, 0.0, 0.5};
    for (double w : SliceDepths()) {
        if (w < low || w > high)
            continue;
        Rgb weighted{0, 0, 0};
        double sum = 0, clearance = 1;
        for (uint32_t c = 0; c < layers.size(); ++c) {
            if (static_cast<int>(c) == hidden)
                continue;  // its opacity taken as 0
            const auto tf = Lookup(EditorTab.ChannelPoints(c), DensityAt(layers[c], w));
            const double a = std::clamp(tf[3], 0.0, 1.0);
            if (a <= 0)
                continue;
            Rgb rgb{tf[0], tf[1], tf[2]};
            if (shaded)
                rgb = Lit(gradients[c], gz, w, rgb);
            for (int k = 0; k < 3; ++k)
                weighted[k] += a * rgb[k];
            sum += a;
            clearance *= 1 - a;
        }
        if (sum <= 0)
            continue;
        const double alpha = 1 - std::pow(clearance, thickness);
        for (int k = 0; k < 3; ++k)
            colour[k] = weighted[k] / sum * alpha + colour[k] * (1 - alpha);
    }
    for (double& k : colour)
        k *= 255.0;
    return colour;
}

// Each channel's extreme over the slices, through its own lookup, the
// colours added over the clear colour; rgb 0..255.
Rgb ExtremeReference(const Layers& layers, bool maximum) {
    Rgb added{0, 0, 0};
    double clearance = 1;
    for (uint32_t c = 0; c < layers.size(); ++c) {
        double extreme = maximum ? 0.0 : 1.0;
        for (double w : SliceDepths())
            extreme = maximum ? std::max(extreme, DensityAt(layers[c], w))
                              : std::min(extreme, DensityAt(layers[c], w));
        const auto tf = Lookup(EditorTab.ChannelPoints(c), extreme);
        const double a = std::clamp(tf[3], 0.0, 1.0);
        for (int k = 0; k < 3; ++k)
            added[k] += a * tf[k];
        clearance *= 1 - a;
    }
    added[2] += 0.5 * clearance;
    for (double& k : added)
        k = std::min(k, 1.0) * 255.0;
    return added;
}

// The largest difference between the centre pixels and the reference.
double CentreError(const Frame& frame, const Rgb& reference) {
    double worst = 0;
    for (uint32_t y = kHeight / 2 - 2; y < kHeight / 2 + 2; ++y)
        for (uint32_t x = kWidth / 2 - 2; x < kWidth / 2 + 2; ++x)
            for (int k = 0; k < 3; ++k)
                worst = std::max(worst, std::fabs(frame.At(x, y)[k] - reference[k]));
    return worst;
}

class ChannelsTest : public ViewerTest {
  protected:
    // A step that shows `layers` as a fresh volume, seen along depth.
    std::function<void()> Show(const Layers& layers) {
        return [this, layers] {
            VolumeProblem problem;
            std::vector<VolumeNotice> notices;
            ASSERT_TRUE(Volume.Install(Slabs(layers), "slabs", &problem, &notices)) << problem.text;
            ASSERT_TRUE(ShowLoadedVolume());
        };
    }
    static void LookAlongDepth() {
        Size(kWidth, kHeight);
        OrbitCamera.pitch = 0.0f;
        OrbitCamera.yaw = 0.0f;
        OrbitCamera.distance = 2.0f;
    }
};

// Channel 0 (green by default) and channel 1 (magenta) in slabs at two
// depths, then the slabs swapped: whichever lies in front gives its colour.
const Layers kFrontBack = {Slab(0, 4095, 3, 7), Slab(0, 4095, 9, 13)};
const Layers kBackFront = {Slab(0, 4095, 9, 13), Slab(0, 4095, 3, 7)};

TEST_F(ChannelsTest, EachSampleMixesTheChannelsSoTheOneInFrontHidesTheOneBehindAndTheCropCutsBoth) {
    Frame first, swapped, cropped;
    Rgb firstReference{}, swappedReference{}, croppedReference{};
    Run({[] {
             LookAlongDepth();
             Command(kCmdViewShading);  // unshaded
         },
         Show(kFrontBack), [] {},
         [&] {
             first = ReadFrame();
             firstReference = CompositeReference(kFrontBack, false);
         },
         Show(kBackFront), [] {},
         [&] {
             swapped = ReadFrame();
             swappedReference = CompositeReference(kBackFront, false);
             CropBox crop;
             crop.low[2] = 0.5f;  // keeps the back half of the box's z only
             SetVolumeCrop(crop);
         },
         [] {},
         [&] {
             cropped = ReadFrame();
             croppedReference = CompositeReference(kBackFront, false, 0.5, 1.0);
         }});
    EXPECT_TRUE(boxes_.empty());
    EXPECT_LE(CentreError(first, firstReference), 1.5);
    EXPECT_LE(CentreError(swapped, swappedReference), 1.5);
    EXPECT_LE(CentreError(cropped, croppedReference), 1.5);
    // Green against magenta's red: the front channel's colour leads, and
    // swapping the depths swaps which leads.
    const Rgba a = first.At(kWidth / 2, kHeight / 2), b = swapped.At(kWidth / 2, kHeight / 2);
    EXPECT_LT((a[1] - a[0]) * (b[1] - b[0]), 0) << "the channel in front hides the one behind";
    EXPECT_GT(std::fabs(a[1] - a[0]), 40);
    const Rgba c = cropped.At(kWidth / 2, kHeight / 2);
    EXPECT_GT(std::abs(c[1] - b[1]) + std::abs(c[0] - b[0]), 20) << "the crop leaves a slab out";
}

// The CPU's pass draws the channels' very picture: shaded, and each
// channel's maximum, every pixel against the slices'.
TEST_F(ChannelsTest, TheCpuPassDrawsTheSlicesPictureOfSeveralChannels) {
    Frame cpuShaded, slicesShaded, cpuMaximum, slicesMaximum;
    bool cpuDrew = false;
    const auto cpu = [](bool on) {
        return [on] {
            Renderer.volumePassOnCpu = on;
            Renderer.softwareImage.clear();
            InvalidateVolumeLayer();
        };
    };
    Run({LookAlongDepth, cpu(true), Show(kFrontBack), [] {},
         [&] {
             cpuShaded = ReadFrame();
             cpuDrew = !Renderer.softwareImage.empty();
             cpu(false)();
         },
         [] {},
         [&] {
             slicesShaded = ReadFrame();
             Command(kCmdViewMaximum);
         },
         [] {},
         [&] {
             slicesMaximum = ReadFrame();
             cpu(true)();
         },
         [] {}, [&] { cpuMaximum = ReadFrame(); }});
    EXPECT_TRUE(boxes_.empty());
    EXPECT_TRUE(cpuDrew) << "the CPU drew the layer";
    for (const auto& [a, b] :
         {std::pair{&cpuShaded, &slicesShaded}, std::pair{&cpuMaximum, &slicesMaximum}}) {
        ASSERT_EQ(a->rgba.size(), b->rgba.size());
        ASSERT_FALSE(a->rgba.empty());
        // Inside the image's edge: its last column differs between the passes
        // for one channel as well, which is the passes' own matter.
        int worst = 0;
        for (uint32_t y = 1; y + 1 < a->height; ++y)
            for (uint32_t x = 1; x + 1 < a->width; ++x)
                for (int k = 0; k < 3; ++k)
                    worst = std::max(worst, std::abs(a->At(x, y)[k] - b->At(x, y)[k]));
        EXPECT_LE(worst, 2) << (a == &cpuShaded ? "shaded" : "maximum");
    }
    EXPECT_NE(slicesShaded.rgba, slicesMaximum.rgba);
}

TEST_F(ChannelsTest, ShadingLightsEachChannelByItsOwnGradient) {
    Frame shaded;
    Rgb reference{};
    Run({LookAlongDepth, Show(kFrontBack), [] {},
         [&] {
             shaded = ReadFrame();
             reference = CompositeReference(kFrontBack, true);
         }});
    EXPECT_TRUE(boxes_.empty());
    EXPECT_LE(CentreError(shaded, reference), 2.0);
}

TEST_F(ChannelsTest, ExtremesAddEachChannelsColourAtItsOwnExtremeAndLeaveUncoveredPixelsClear) {
    const Layers layers = {Slab(1000, 4095, 3, 7), Slab(3000, 4095, 9, 13)};
    Frame maximum, minimum;
    Rgb maximumReference{}, minimumReference{};
    Run({[] {
             LookAlongDepth();
             Command(kCmdViewMaximum);
         },
         Show(layers), [] {},
         [&] {
             maximum = ReadFrame();
             maximumReference = ExtremeReference(layers, true);
             Command(kCmdViewMinimum);
         },
         [] {},
         [&] {
             minimum = ReadFrame();
             minimumReference = ExtremeReference(layers, false);
         }});
    EXPECT_TRUE(boxes_.empty());
    EXPECT_LE(CentreError(maximum, maximumReference), 1.5);
    EXPECT_LE(CentreError(minimum, minimumReference), 1.5);
    // Green plus magenta: every component lit.
    const Rgba m = maximum.At(kWidth / 2, kHeight / 2);
    EXPECT_GT(m[0], 100);
    EXPECT_GT(m[1], 100);
    for (const Frame* frame : {&maximum, &minimum}) {
        const Rgba corner = frame->At(1, 1);  // outside the box
        EXPECT_EQ(corner[0], 0);
        EXPECT_EQ(corner[1], 0);
        EXPECT_NEAR(corner[2], 128, 1) << "no slice covered it: the background";
    }
}

// Ctrl+2 makes the panel edit channel 2, with its histogram; the Channels
// window's check box hides a channel, which then adds nothing. A volume of
// one channel has no window to show.
TEST_F(ChannelsTest, TheEditedChannelAndAHiddenChannelFollowTheKeysAndTheWindow) {
    const Layers layers = {Slab(0, 4095, 3, 7), Slab(0, 2000, 9, 13)};
    uint32_t edited = 0;
    std::vector<uint32_t> counts;
    bool windowOpen = false, windowForOne = true;
    Frame hidden;
    Rgb reference{};
    const auto key = [](uint32_t type, SDL_Keycode sym, uint16_t mod) {
        SDL_Event e{};
        e.type = type;
        e.key.windowID = SDL_GetWindowID(MainWindow->surface->Window());
        e.key.keysym.sym = sym;
        e.key.keysym.mod = mod;
        return e;
    };
    Run({[] {
             LookAlongDepth();
             Command(kCmdViewShading);
         },
         Show(layers),
         [&] {
             for (SDL_Event e :
                  {key(SDL_KEYDOWN, SDLK_LCTRL, KMOD_LCTRL), key(SDL_KEYDOWN, SDLK_2, KMOD_LCTRL),
                   key(SDL_KEYUP, SDLK_2, KMOD_LCTRL), key(SDL_KEYUP, SDLK_LCTRL, 0)})
                 SDL_PushEvent(&e);
         },
         [] {},
         [&] {
             edited = EditorTab.editedChannel;
             counts = Volume.valueCounts;
             Command(kCmdViewChannels);
             Command(kCmdChannelToggleFirst + 0);  // as the window's check box posts it
         },
         [] {},
         [&] {
             hidden = ReadFrame();
             windowOpen = ChannelsWindowOpen();
             reference = CompositeReference(layers, false, 0.0, 1.0, 0);
         },
         [&] {
             VolumeProblem problem;
             std::vector<VolumeNotice> notices;
             ASSERT_TRUE(Volume.Install(Slabs({layers[0]}), "one", &problem, &notices));
             ASSERT_TRUE(ShowLoadedVolume());
         },
         [] {}, [&] { windowForOne = ChannelsWindowOpen(); }});
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(edited, 1u) << "Ctrl+2 edits the second channel";
    ASSERT_EQ(counts.size(), kSampleValues);
    EXPECT_EQ(counts[2000], 4u * kSide * kSide) << "the histogram counts channel 2's values";
    EXPECT_EQ(counts[4095], 0u);
    EXPECT_TRUE(windowOpen);
    EXPECT_LE(CentreError(hidden, reference), 1.5) << "a hidden channel adds nothing";
    EXPECT_FALSE(windowForOne) << "one channel: no window";
}

TEST_F(ChannelsTest, MoreThanFourChannelsShowTheFirstFourAndNameTheOthers) {
    std::vector<VolumeNotice> notices;
    uint32_t tabChannels = 0, components = 0;
    Run({LookAlongDepth, [&] {
             VolumeData volume = Slabs(Layers(6, Slab(0, 2000, 4, 12)));
             for (uint32_t c = 0; c < 6; ++c)
                 volume.channels[c].name = "stain" + std::to_string(c + 1);
             volume.channels[1].colour = 0x123456;
             VolumeProblem problem;
             ASSERT_TRUE(Volume.Install(std::move(volume), "six", &problem, &notices)) << problem.text;
             ASSERT_TRUE(ShowLoadedVolume());
             tabChannels = EditorTab.channelCount;
             components = Volume.texelComponents;
             EXPECT_EQ(EditorTab.channelColours.at(0), 0x00FF00u) << "no colour given: green first";
             EXPECT_EQ(EditorTab.channelColours.at(1), 0x123456u) << "the file's colour";
             EXPECT_EQ(EditorTab.channelColours.at(2), 0x00FFFFu);
         }});
    EXPECT_EQ(tabChannels, 4u);
    EXPECT_EQ(components, 4u);
    const auto notice = std::find_if(notices.begin(), notices.end(),
                                     [](const VolumeNotice& n) { return n.caption == "Volume channels"; });
    ASSERT_NE(notice, notices.end());
    EXPECT_NE(notice->text.find("stain5, stain6"), std::string::npos) << notice->text;
    EXPECT_EQ(notice->text.find("stain4"), std::string::npos) << notice->text;
}

}  // namespace
}  // namespace viewer_test

// Scans opened through File > Open and drawn headless: the same picture as
// the volume file of the same samples, whatever the stored orientation; a
// box that follows the voxel spacing; refusals that keep what is shown; a
// file that is a volume file by its size stays one.
#include <SDL2/SDL.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "app/app_state.h"
#include "platform/shell/window_internal.h"
#include "render/client_area.h"
#include "render/renderer.h"
#include "slicing/slice_geometry.h"
#include "tests/gpu/viewer/viewer_harness.h"
#include "tests/support/scan_writer.h"
#include "ui/tab.h"
#include "volume/volume.h"

namespace viewer_test {
namespace {

using scan_test::ScanSpec;
using scan_test::StoredType;

constexpr int kWidth = 160, kHeight = 128;

class ScanOpenTest : public ViewerTest {
  protected:
    // Opens each path in turn through the dialog, one frame apart, and
    // returns the frame drawn after each.
    // `commands[i]` opens path i (File > Open when not given).
    std::vector<Frame> OpenEach(const std::vector<std::string>& paths, std::vector<uint16_t> commands = {}) {
        commands.resize(paths.size(), kCmdFileOpen);
        std::vector<Frame> frames;
        std::vector<std::optional<std::string>> script(paths.begin(), paths.end());
        shell::testing::SetFileDialogScript(script);
        std::vector<std::function<void()>> steps = {[] {
            Size(kWidth, kHeight);
            OrbitCamera.pitch = 0.4f;
            OrbitCamera.yaw = 0.7f;
            OrbitCamera.distance = 2.2f;
        }};
        for (size_t i = 0; i < paths.size(); ++i) {
            steps.push_back([command = commands[i]] { Command(command); });
            steps.push_back(FinerLevelRead());
            steps.push_back([] {});
            steps.push_back([&] {
                frames.push_back(ReadFrame());
                titles_.push_back(SDL_GetWindowTitle(MainWindow->surface->Window()));
            });
        }
        Run(steps);
        return frames;
    }
    // Waits until a store's finer level is swapped in: a minute at most, by
    // the clock (a reader's child on a machine busy with other tests, under
    // the sanitizers, may take many frames to come back).
    std::function<void()> FinerLevelRead() {
        auto since = std::make_shared<std::chrono::steady_clock::time_point>();
        return WaitFor(
            [since] {
                if (FinerLevelReadText().empty())
                    return true;
                const auto now = std::chrono::steady_clock::now();
                if (*since == std::chrono::steady_clock::time_point{})
                    *since = now;
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                return now - *since > std::chrono::seconds(60);
            },
            1000000);
    }
    std::vector<std::string> titles_;  // the window's title after each open
};

// An asymmetric head-like shape: a solid block, a knob towards the patient's
// left-superior-posterior corner, by LPS grid position.
double Shape(int l, int p, int s) {
    if (l >= 10 && p >= 10 && s >= 10)
        return 1000;
    if (l >= 3 && l < 13 && p >= 2 && p < 9 && s >= 4 && s < 12)
        return 600;
    return 0;
}

int Differences(const Frame& a, const Frame& b) {
    int differing = 0;
    for (size_t i = 0; i < a.rgba.size(); ++i)
        differing += a.rgba[i] != b.rgba[i];
    return differing;
}

TEST_F(ScanOpenTest, ScansDrawLikeTheVolumeFileOfTheirSamples) {
    const std::string dir = ScratchDir();
    ScanSpec spec;
    spec.dims = {14, 13, 15};
    std::vector<double> values;
    for (int s = 0; s < 15; ++s)
        for (int p = 0; p < 13; ++p)
            for (int l = 0; l < 14; ++l)
                values.push_back(Shape(l, p, s));
    ASSERT_EQ(scan_test::WriteScan(dir + "/head.nii.gz", spec, values), "");

    // The same head stored right-to-left and inferior-to-superior reversed.
    ScanSpec flipped = spec;
    flipped.directions = {{{-1, 0, 0}, {0, 1, 0}, {0, 0, -1}}};
    std::vector<double> flippedValues;
    for (int s = 14; s >= 0; --s)
        for (int p = 0; p < 13; ++p)
            for (int l = 13; l >= 0; --l)
                flippedValues.push_back(Shape(l, p, s));
    ASSERT_EQ(scan_test::WriteScan(dir + "/flipped.nrrd", flipped, flippedValues), "");

    // The volume file of the program's order: x left, y superior, z posterior.
    std::vector<uint16_t> samples;
    for (int p = 0; p < 13; ++p)
        for (int s = 0; s < 15; ++s)
            for (int l = 0; l < 14; ++l)
                samples.push_back(static_cast<uint16_t>(Shape(l, p, s) * 4095 / 1000 + 0.5));
    WriteVolume(dir + "/head.vol", 14, 15, 13, samples);

    const std::vector<Frame> frames =
        OpenEach({dir + "/head.vol", dir + "/head.nii.gz", dir + "/flipped.nrrd"});
    ASSERT_TRUE(boxes_.empty()) << boxes_[0].caption << ": " << boxes_[0].text;
    ASSERT_EQ(frames.size(), 3u);
    frames[1].SavePng(dir + "/../tamlo-scan-head.png");
    EXPECT_EQ(Differences(frames[0], frames[1]), 0) << "the NIfTI draws as its volume file";
    EXPECT_EQ(Differences(frames[1], frames[2]), 0) << "a flipped header draws the same picture";
    int lit = 0;
    for (size_t i = 0; i < frames[1].rgba.size(); i += 4)
        lit += frames[1].rgba[i] > 60;
    EXPECT_GT(lit, 200) << "the head is on screen";
}

// An OME-Zarr store of the same samples, typed into File > Open Location...
// (its axes are the program's): the same picture as the volume file.
// A store of two levels of the shape (x, y, z: 14, 15, 13 and 7, 8, 7) and
// the volume file of its finer level's samples; false without python3-zarr.
bool WriteHeadStore(const std::string& dir) {
    std::vector<uint16_t> stored, samples;
    for (int p = 0; p < 13; ++p)
        for (int s = 0; s < 15; ++s)
            for (int l = 0; l < 14; ++l) {
                stored.push_back(static_cast<uint16_t>(Shape(l, p, s)));
                samples.push_back(static_cast<uint16_t>(Shape(l, p, s) * 4095 / 1000 + 0.5));
            }
    WriteVolume(dir + "/head.vol", 14, 15, 13, samples);
    std::ofstream(dir + "/head.raw", std::ios::binary)
        .write(reinterpret_cast<const char*>(stored.data()), static_cast<long>(stored.size() * 2));
    const std::string script =
        "import numpy, sys, zarr\n"
        "d = sys.argv[1]\n"
        "data = numpy.fromfile(d + '/head.raw', dtype='<u2').reshape((13, 15, 14))\n"
        "root = zarr.open_group(d + '/head.zarr', mode='w')\n"
        "root.create_dataset('0', data=data, chunks=(5, 8, 8))\n"
        "root.create_dataset('1', data=data[::2, ::2, ::2], chunks=(5, 8, 8))\n"
        "root.attrs['multiscales'] = [{'version': '0.4', 'axes': [{'name': n, 'type': 'space'} for n in "
        "'zyx'],\n"
        "  'datasets': [{'path': '0', 'coordinateTransformations': [{'type': 'scale', 'scale': [1, 1, "
        "1]}]},\n"
        "               {'path': '1', 'coordinateTransformations': [{'type': 'scale', 'scale': [2, 2, "
        "2]}]}]}]\n";
    std::ofstream(dir + "/make.py") << script;
    return std::system(("/usr/bin/python3 " + dir + "/make.py " + dir + " 2>/dev/null").c_str()) == 0;
}

TEST_F(ScanOpenTest, AStoreDrawsLikeTheVolumeFileOfItsSamples) {
    const std::string dir = ScratchDir();
    if (!WriteHeadStore(dir))
        GTEST_SKIP() << "/usr/bin/python3 with zarr is needed to write the store";
    std::vector<Frame> frames =
        OpenEach({dir + "/head.vol", dir + "/head.zarr"}, {kCmdFileOpen, kCmdFileOpenLocation});
    EXPECT_EQ(titles_, (std::vector<std::string>{"Tamlo Ex01 - head.vol",
                                                 "Tamlo Ex01 - head.zarr (level 0 of 2, 1 mm)"}))
        << "the title names the file, and a store's level";
    ASSERT_TRUE(boxes_.empty()) << boxes_[0].caption << ": " << boxes_[0].text;
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(Differences(frames[0], frames[1]), 0) << "the store draws as its volume file";
}

// A store opens at its coarsest level, shown at once, and its finer level
// follows when read: the camera, the panel's function and a plane (at its
// place in the box) stay as the user left them on the coarse one.
TEST_F(ScanOpenTest, AStoreShowsItsCoarsestLevelFirstThenTheFinerKeepingTheView) {
    const std::string dir = ScratchDir();
    if (!WriteHeadStore(dir))
        GTEST_SKIP() << "/usr/bin/python3 with zarr is needed to write the store";
    int32_t coarseDimX = 0, coarsePlane = -1;
    UI::PointList edited;
    // In one step, before the frame loop can look in on the finer read.
    Run({[] { Size(kWidth, kHeight); },
         [&] {
             ASSERT_TRUE(OpenVolumeFile((dir + "/head.zarr").c_str()));
             coarseDimX = Volume.dimX;
             WndProc(MainWindow, shell::WM_COMMAND, kCmdSlicesZAxis, 0);
             coarsePlane = Renderer.planes.index[2];
             OrbitCamera.yaw = 0.7f;
             edited = EditorTab.Points();
             edited[edited.size() / 2].alpha = 0.25f;
             EditorTab.ReplacePoints(edited.data(), static_cast<uint32_t>(edited.size()));
         },
         FinerLevelRead(), [] {}});
    ASSERT_TRUE(boxes_.empty()) << boxes_[0].caption << ": " << boxes_[0].text;
    EXPECT_EQ(coarseDimX, 7) << "the coarsest level first";
    EXPECT_EQ(Volume.dimX, 14) << "then the finer";
    EXPECT_EQ(Volume.levelText.rfind("level 0 of 2", 0), 0u) << Volume.levelText;
    EXPECT_EQ(OrbitCamera.yaw, 0.7f);
    const UI::PointList kept = EditorTab.Points();
    ASSERT_EQ(kept.size(), edited.size());
    EXPECT_EQ(std::memcmp(kept.data(), edited.data(), kept.size() * sizeof(kept[0])), 0)
        << "the panel's function kept";
    EXPECT_EQ(coarsePlane, 3);
    EXPECT_EQ(Renderer.planes.index[2], 6) << "the plane at the same place in the box";
}

// A crop let go with a store shown is read alone at the finest level that
// fits it, through the window the whole was shown through, and drawn where it
// lies: the same picture as the finest level whole through the same crop
// (seen along z, a part whole in z has the same slices). Reset reads the
// whole at its level again: the first picture, the camera kept.
TEST_F(ScanOpenTest, ACropLetGoIsReadAtTheFinestLevelThatFitsItAndResetReadsTheWholeAgain) {
    const std::string dir = ScratchDir();
    if (!WriteHeadStore(dir))
        GTEST_SKIP() << "/usr/bin/python3 with zarr is needed to write the store";
    CropBox crop;
    crop.high[0] = crop.high[1] = 0.5f;
    Frame whole, part, reset, reference;
    uint32_t partDims[3] = {}, resetDimX = 0;
    std::string partLevel;
    ValueChoice sameWindow{ValueWindow::Custom};
    const auto look = [] {
        OrbitCamera = {0.0f, 0.0f, 2.2f};
        UpdateCamera();
    };
    // The read swapped in, then the picture whole.
    std::vector<std::function<void()>> steps;
    const auto until = [this, &steps] {
        steps.push_back(FinerLevelRead());
        steps.push_back(WaitFor([] { return Renderer.layerQuality.Full() && !Renderer.refining; }, 2000));
    };
    steps.push_back([] { Size(kWidth, kHeight); });
    steps.push_back([&] {
        ValueChoice small;
        small.maxEdge = 13;  // the finer level's 14 and 15 do not fit
        ASSERT_TRUE(OpenVolumeFile((dir + "/head.zarr").c_str(), small));
        look();
        sameWindow.low = Volume.windowLow;
        sameWindow.high = Volume.windowHigh;
    });
    until();
    steps.push_back([] {});
    steps.push_back([&] { whole = ReadFrame(); });
    steps.push_back([&] {
        SetVolumeCrop(crop);
        Command(kCmdCropRead);
    });
    until();
    steps.push_back([] {});
    steps.push_back([&] {
        part = ReadFrame();
        partDims[0] = Volume.dimX, partDims[1] = Volume.dimY, partDims[2] = Volume.dimZ;
        partLevel = Volume.levelText;
        SetVolumeCrop(CropBox{});
        Command(kCmdCropRead);
    });
    until();
    steps.push_back([] {});
    steps.push_back([&] {
        reset = ReadFrame();
        resetDimX = static_cast<uint32_t>(Volume.dimX);
        ValueChoice finest = sameWindow;
        finest.level = 0;
        ASSERT_TRUE(OpenVolumeFile((dir + "/head.zarr").c_str(), finest));
        look();
        SetVolumeCrop(crop);
    });
    until();
    steps.push_back([] {});
    steps.push_back([&] { reference = ReadFrame(); });
    Run(steps);
    ASSERT_TRUE(boxes_.empty()) << boxes_[0].caption << ": " << boxes_[0].text;
    EXPECT_EQ(partDims[0], 9u) << "half of level 0's 14, and two voxels more";
    EXPECT_EQ(partDims[1], 10u);
    EXPECT_EQ(partDims[2], 13u);
    EXPECT_NE(partLevel.find("level 0 of 2"), std::string::npos) << partLevel;
    EXPECT_NE(partLevel.find("the crop"), std::string::npos) << partLevel;
    int largest = 0, shown = 0;
    for (size_t i = 0; i < part.rgba.size(); ++i) {
        largest = std::max(largest, std::abs(int(part.rgba[i]) - int(reference.rgba[i])));
        shown += reference.rgba[i] != reference.rgba[i % 4];
    }
    EXPECT_GT(shown, 200) << "the crop shows the head";
    EXPECT_LE(largest, 2) << "the part draws as the finest level through the crop";
    EXPECT_EQ(resetDimX, 7u) << "Reset reads the whole at its level";
    EXPECT_EQ(Differences(reset, whole), 0);
}

// 1 x 1 x 2 mm slices: the box is twice as deep along the slices as that of
// the 1 mm grid with every second slice, and as deep as the full 1 mm grid.
TEST_F(ScanOpenTest, VoxelSpacingShapesTheBox) {
    const std::string dir = ScratchDir();
    ScanSpec full;
    full.dims = {16, 12, 16};
    std::vector<double> fullValues(16 * 12 * 16, 0), halfValues;
    for (size_t i = 0; i < fullValues.size(); ++i)
        fullValues[i] = static_cast<double>(i % 97);
    for (int s = 0; s < 16; s += 2)
        halfValues.insert(halfValues.end(), fullValues.begin() + s * 192, fullValues.begin() + (s + 1) * 192);
    ScanSpec thick = full;
    thick.dims = {16, 12, 8};
    thick.spacing = {1, 1, 2};
    ScanSpec thin = thick;
    thin.spacing = {1, 1, 1};
    ASSERT_EQ(scan_test::WriteScan(dir + "/full.mha", full, fullValues), "");
    ASSERT_EQ(scan_test::WriteScan(dir + "/thick.nii", thick, halfValues), "");
    ASSERT_EQ(scan_test::WriteScan(dir + "/thin.nii", thin, halfValues), "");
    WriteVolume(dir + "/deep.vol", 2, 4, 8, std::vector<uint16_t>(64, 3000));  // deepest along z
    std::vector<std::array<float, 3>> extents;
    std::vector<std::function<void()>> steps = {[] { Size(64, 48); }};
    for (const char* name : {"/full.mha", "/thick.nii", "/thin.nii", "/deep.vol"}) {
        steps.push_back([dir, name] {
            shell::testing::SetFileDialogScript({dir + name});
            Command(kCmdFileOpen);
        });
        steps.push_back([&] { extents.push_back({Volume.extentX, Volume.extentY, Volume.extentZ}); });
    }
    Run(steps);
    ASSERT_TRUE(boxes_.empty()) << boxes_[0].text;
    ASSERT_EQ(extents.size(), 4u);
    EXPECT_EQ(extents[3], (std::array<float, 3>{0.25f, 0.5f, 1.0f})) << "the longest side is z";
    // Slices go along superior, the program's y.
    EXPECT_FLOAT_EQ(extents[1][1], 2 * extents[2][1]);
    EXPECT_FLOAT_EQ(extents[1][1], extents[0][1]);
    EXPECT_FLOAT_EQ(extents[1][0], 1.0f);
    EXPECT_FLOAT_EQ(extents[1][2], 12.0f / 16.0f);
    EXPECT_FLOAT_EQ(extents[2][1], 0.5f);
}

TEST_F(ScanOpenTest, RefusedScansKeepTheShownVolumeAndMode) {
    const std::string dir = ScratchDir();
    WriteVolume(dir + "/good.vol", 4, 4, 4, std::vector<uint16_t>(64, 3000));
    ScanSpec spec;
    spec.dims = {16, 16, 16};
    std::vector<double> noise(4096);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<double>((i * 7919) % 3001);
    ASSERT_EQ(scan_test::WriteScan(dir + "/whole.nii.gz", spec, noise), "");
    std::filesystem::copy_file(dir + "/whole.nii.gz", dir + "/cut.nii.gz");
    std::filesystem::resize_file(dir + "/cut.nii.gz", std::filesystem::file_size(dir + "/whole.nii.gz") / 2);
    std::ofstream(dir + "/absurd.nrrd")
        << "NRRD0004\ntype: short\ndimension: 3\nsizes: 100000 100000 100000\n"
           "encoding: raw\nendian: little\n\n";
    // Past what a volume with channels and time can be: a fifth axis, and
    // more channels than any reader takes.
    std::ofstream(dir + "/fiveD.nhdr") << "NRRD0004\ntype: uchar\ndimension: 5\nsizes: 2 2 2 2 2\n"
                                          "encoding: raw\ndata file: fiveD.raw\n";
    std::ofstream(dir + "/fiveD.raw") << std::string(32, 'x');
    std::ofstream(dir + "/wide.mha") << "NDims = 3\nDimSize = 1 1 1\nElementType = MET_UCHAR\n"
                                        "ElementNumberOfChannels = 2000\nElementDataFile = LOCAL\n"
                                     << std::string(2000, 'x');
    ScanSpec series = spec;
    series.timePoints = 3;
    ASSERT_EQ(scan_test::WriteScan(dir + "/fmri.nii.gz", series, std::vector<double>(4096 * 3, 1)), "");

    const std::vector<std::string> bad = {dir + "/cut.nii.gz", dir + "/absurd.nrrd", dir + "/fiveD.nhdr",
                                          dir + "/wide.mha"};
    std::vector<std::optional<std::string>> script = {dir + "/good.vol"};
    script.insert(script.end(), bad.begin(), bad.end());
    // A 4-D image opens as a series of time points.
    script.push_back(dir + "/fmri.nii.gz");
    shell::testing::SetFileDialogScript(script);
    uint16_t* shown = nullptr;
    std::vector<std::vector<shell::testing::RecordedMessageBox>> answers;
    std::vector<bool> kept;
    std::vector<std::function<void()>> steps = {[] {
                                                    Size(64, 48);
                                                    Command(kCmdFileOpen);
                                                },
                                                [&] { shown = Volume.voxels.get(); }};
    for (size_t i = 0; i < bad.size(); ++i) {
        steps.push_back([] { Command(kCmdFileOpen); });
        steps.push_back([&] {
            answers.push_back(shell::testing::TakeMessageBoxes());
            kept.push_back(Volume.voxels.get() == shown && Volume.volumeView != nullptr && Volume.dimX == 4 &&
                           InputHandlerTable.Frame == &RenderVolumeFrame);
        });
    }
    uint32_t seriesPoints = 0;
    steps.push_back([] { Command(kCmdFileOpen); });
    steps.push_back([&] { seriesPoints = Volume.timePoints; });
    Run(steps);
    EXPECT_EQ(seriesPoints, 3u) << "the 4-D image opens as a series";
    ASSERT_EQ(answers.size(), bad.size());
    const char* reasons[] = {"ends before its last sample", "too large", "5-D image",
                             "2000 values per sample"};
    for (size_t i = 0; i < bad.size(); ++i) {
        ASSERT_EQ(answers[i].size(), 1u) << bad[i] << ": one message";
        EXPECT_EQ(answers[i][0].caption, "error: Volume");
        EXPECT_NE(answers[i][0].text.find(bad[i]), std::string::npos) << answers[i][0].text;
        EXPECT_NE(answers[i][0].text.find(reasons[i]), std::string::npos) << answers[i][0].text;
        EXPECT_TRUE(kept[i]) << bad[i] << ": the shown volume and the mode stay";
    }
}

// A read the user cancels (an endless one: lines skipped in 64 GB of zeros),
// by Esc and then by a click on the progress's Cancel button, ends at once,
// with no message, and the shown volume stays.
TEST_F(ScanOpenTest, EscOrCancelEndsAReadAndKeepsTheShownVolume) {
    const std::string dir = ScratchDir();
    WriteVolume(dir + "/good.vol", 4, 4, 4, std::vector<uint16_t>(64, 3000));
    { std::ofstream sparse(dir + "/zeros.raw"); }
    std::filesystem::resize_file(dir + "/zeros.raw", uintmax_t{64} << 30);  // sparse: no disk used
    std::ofstream(dir + "/endless.nhdr")
        << "NRRD0004\ntype: uchar\ndimension: 3\nsizes: 4 4 4\nencoding: raw\n"
           "line skip: 1000000000\ndata file: zeros.raw\n";
    shell::testing::SetFileDialogScript({dir + "/good.vol", dir + "/endless.nhdr", dir + "/endless.nhdr"});
    uint16_t* shown = nullptr;
    std::atomic<bool> reading = false;
    std::thread user;
    std::chrono::steady_clock::time_point asked;
    std::vector<double> seconds;
    std::vector<bool> kept;
    // Opens the endless file and has `input` (made in the first step) given
    // while the reader works, every half second, until the read has ended.
    const auto openAndPress = [&](const SDL_Event& input) {
        return [&, event = &input] {
            asked = std::chrono::steady_clock::now();
            Command(kCmdFileOpen);
            reading = true;
            user = std::thread([&reading, input = *event]() mutable {
                for (int i = 0; i < 60 && reading; ++i) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(500));
                    SDL_PushEvent(&input);
                }
            });
        };
    };
    const auto ended = [&] {
        reading = false;
        user.join();
        seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count());
        kept.push_back(Volume.voxels.get() == shown && Volume.path == dir + "/good.vol" &&
                       InputHandlerTable.Frame == &RenderVolumeFrame);
    };
    SDL_Event escape{}, click{};
    escape.type = SDL_KEYDOWN;
    escape.key.keysym.sym = SDLK_ESCAPE;
    click.type = SDL_MOUSEBUTTONDOWN;
    click.button.button = SDL_BUTTON_LEFT;
    Run({[&] {
             Size(64, 48);
             Command(kCmdFileOpen);
             SDL_Window* window = MainWindow->surface->Window();
             int width = 0, height = 0;
             SDL_GetWindowSize(window, &width, &height);
             const shell::detail::MenuRect cancel =
                 shell::detail::LayoutProgress(static_cast<float>(width), static_cast<float>(height),
                                               static_cast<float>(shell::detail::kMenuBarHeight))
                     .cancel;
             escape.key.windowID = click.button.windowID = SDL_GetWindowID(window);
             click.button.x = static_cast<int>((cancel.x0 + cancel.x1) / 2);
             click.button.y = static_cast<int>((cancel.y0 + cancel.y1) / 2);
         },
         [&] { shown = Volume.voxels.get(); }, openAndPress(escape), ended, openAndPress(click), ended});
    ASSERT_EQ(kept.size(), 2u);
    for (int i : {0, 1}) {
        EXPECT_LT(seconds[i], 30) << "ended by the user (" << i << "), not by the reader's time limit";
        EXPECT_TRUE(kept[i]) << "the shown volume stays (" << i << ")";
    }
    EXPECT_TRUE(boxes_.empty()) << "a cancel the user asked for is no error: " << boxes_[0].text;
}

// A DICOM file whose preamble (free bytes by the standard) happens to start
// with a header that promises exactly its length: a volume file by size.
TEST_F(ScanOpenTest, AFileOfExactVolumeSizeIsReadAsOneEvenIfAScanReaderTakesIt) {
    const std::string dir = ScratchDir();
    ScanSpec spec;
    spec.dims = {4, 4, 1};
    ASSERT_EQ(scan_test::WriteDicomSeries(dir, spec, std::vector<double>(16, 100), {"slice.dcm"}), "");
    const std::string path = dir + "/slice.dcm";
    uint64_t size = std::filesystem::file_size(path);
    if (size % 2 == 1) {
        std::ofstream(path, std::ios::binary | std::ios::app).put('\0');
        ++size;
    }
    ASSERT_LE((size - 6) / 2, 65535u);
    const uint16_t dimX = static_cast<uint16_t>((size - 6) / 2);
    {
        std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
        const char header[6] = {static_cast<char>(dimX & 0xFF), static_cast<char>(dimX >> 8), 1, 0, 1, 0};
        file.write(header, 6);
    }
    shell::testing::SetFileDialogScript({path});
    int32_t dims[3] = {};
    Run({[] {
             Size(64, 48);
             Command(kCmdFileOpen);
         },
         [&] { dims[0] = Volume.dimX, dims[1] = Volume.dimY, dims[2] = Volume.dimZ; }});
    // Its bytes read as samples use all 16 bits: the one message is the notice.
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].caption, "Volume rescaled") << boxes_[0].text;
    EXPECT_EQ(dims[0], dimX) << "read as a volume file";
    EXPECT_EQ(dims[1], 1);
    EXPECT_EQ(dims[2], 1);
    EXPECT_EQ(Volume.spacingX, 1.0f);
}

}  // namespace
}  // namespace viewer_test

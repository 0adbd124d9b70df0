// The crop, the saved picture and the transfer function's history in the
// running program, headless: a crop to the whole box changes no pixel and a
// crop of half the box draws what a volume without that half draws; the
// saved picture is the frame without the panel; a load is one step to undo,
// opening a volume keeps the history, and Edit's items are greyed to match;
// a key chord means what it meant when typed, however late it is handled; a
// plane of the Slices menu moves by the keys and survives the next volume.
#include <SDL2/SDL.h>
#include <stb/stb_image.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/app_state.h"
#include "app/picture_file.h"
#include "platform/shell/window_internal.h"
#include "render/renderer.h"
#include "slicing/slice_geometry.h"
#include "tests/gpu/viewer/viewer_harness.h"
#include "ui/tab.h"
#include "volume/volume.h"

namespace viewer_test {
namespace {

constexpr int kWidth = 200, kHeight = 160, kSide = 32;

std::string ReadWhole(const std::string& path) {
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
}

class CropAndPictureTest : public ViewerTest {
  protected:
    // A ball in each half of the box along x, neither near the middle: the
    // volume with only the left ball is the left half alone.
    std::string MakeBalls(const std::string& name, bool rightBall) {
        std::vector<uint16_t> samples(static_cast<size_t>(kSide) * kSide * kSide);
        for (size_t i = 0; i < samples.size(); ++i) {
            const int x = int(i % kSide), y = int(i / kSide % kSide), z = int(i / kSide / kSide);
            auto in = [&](int cx) {
                return (x - cx) * (x - cx) + (y - 16) * (y - 16) + (z - 15) * (z - 15) < 30;
            };
            samples[i] = in(8) || (rightBall && in(24)) ? static_cast<uint16_t>(2500 + 300 * (y % 4)) : 0;
        }
        WriteVolume(ScratchDir() + "/" + name, kSide, kSide, kSide, samples);
        return ScratchDir() + "/" + name;
    }
    std::function<void()> UntilWhole() {
        return WaitFor([] { return Renderer.layerQuality.Full() && !Renderer.refining; }, 2000);
    }
    std::vector<std::function<void()>> OpenSteps() {
        return {[] {
                    Size(kWidth, kHeight);
                    Command(kCmdFileOpen);
                },
                [] {}};
    }
};

TEST_F(CropAndPictureTest, CroppingToTheWholeBoxOrHalfOfItDrawsWhatTheVolumeWouldWithoutThePartCutAway) {
    shell::testing::SetFileDialogScript({MakeBalls("both.vol", true), MakeBalls("left.vol", false)});
    Frame uncropped, wholeCrop, halfCrop, leftOnly;
    CropBox leftHalf;
    leftHalf.high[0] = 0.5f;
    std::vector<std::function<void()>> steps = OpenSteps();
    const auto turn = [] {
        OrbitCamera = {0.4f, 0.6f, 2.2f};
        UpdateCamera();
    };
    // Each picture read once whole: a continuous change (the start-up's
    // resizes) may have left a coarse one, refined between the steps.
    const auto read = [&](Frame* frame, std::function<void()> then) {
        steps.insert(steps.end(), {UntilWhole(), [] {},
                                   [frame, then] {
                                       *frame = ReadFrame();
                                       then();
                                   }});
    };
    steps.push_back(turn);
    read(&uncropped, [&] { SetVolumeCrop(leftHalf); });
    read(&halfCrop, [] { SetVolumeCrop(CropBox{}); });
    read(&wholeCrop, [] { Command(kCmdFileOpen); });
    steps.insert(steps.end(), {[] {}, turn});
    read(&leftOnly, [] {});
    Run(steps);
    ASSERT_TRUE(boxes_.empty()) << boxes_[0].text;
    ASSERT_EQ(uncropped.width, static_cast<uint32_t>(kWidth));
    EXPECT_EQ(wholeCrop.rgba, uncropped.rgba) << "the whole box is no crop";
    EXPECT_NE(halfCrop.rgba, uncropped.rgba) << "the right ball is cut away";
    // The same planes through the same samples; only the rounding of the
    // clipped slices' texture coordinates may differ.
    int largest = 0;
    for (size_t i = 0; i < halfCrop.rgba.size(); ++i)
        largest = std::max(largest, std::abs(int(halfCrop.rgba[i]) - int(leftOnly.rgba[i])));
    EXPECT_LE(largest, 2);
}

// A store's crop read alone is a part of the box's grid: drawn in the part's
// own box where it lies in the whole, it shows what the whole grid shows
// through the same crop. Seen along z a part whole in z has the whole's
// slices, so the very same samples: the crop's faces cut through both balls
// (filtered and lit with the voxels beyond them, which the part keeps).
class VolumePartTest : public CropAndPictureTest, public ::testing::WithParamInterface<VolumePassChoice> {};

VolumeData BallsGrid(uint32_t x0, uint32_t x1) {
    VolumeData volume;
    volume.dimX = x1 - x0;
    volume.dimY = volume.dimZ = kSide;
    volume.samples.reset(new uint16_t[volume.SampleCount()]);
    for (uint32_t z = 0; z < kSide; ++z)
        for (uint32_t y = 0; y < kSide; ++y)
            for (uint32_t x = x0; x < x1; ++x) {
                const auto in = [&](int cx) {
                    return (int(x) - cx) * (int(x) - cx) + (int(y) - 16) * (int(y) - 16) +
                               (int(z) - 15) * (int(z) - 15) <
                           30;
                };
                volume.samples[(size_t(z) * kSide + y) * volume.dimX + (x - x0)] =
                    in(8) || in(24) ? static_cast<uint16_t>(2500 + 300 * (y % 4) + 40 * x) : 0;
            }
    return volume;
}

TEST_P(VolumePartTest, APartDrawsAsTheWholeGridThroughTheSameCrop) {
    Renderer.volumePassChoice = GetParam();
    CropBox crop;
    crop.low[0] = 0.3f;
    crop.high[0] = 0.7f;
    crop.low[1] = 0.2f;
    Frame whole, part;
    const auto show = [crop](VolumeData volume) {
        VolumeProblem problem;
        std::vector<VolumeNotice> notices;
        ASSERT_TRUE(Volume.Install(std::move(volume), "balls", &problem, &notices)) << problem.text;
        ASSERT_TRUE(ShowLoadedVolume(true));
        OrbitCamera = {0.0f, 0.0f, 1.6f};
        UpdateCamera();
        SetVolumeCrop(crop);
    };
    const auto read = [this](Frame* frame) {
        return std::vector<std::function<void()>>{UntilWhole(), [] {}, [frame] { *frame = ReadFrame(); }};
    };
    std::vector<std::function<void()>> steps = {[] { Size(kWidth, kHeight); },
                                                [&] { show(BallsGrid(0, kSide)); }};
    for (auto step : read(&whole))
        steps.push_back(step);
    // x from voxel 7 to 25: the crop's 9.6 to 22.4 widened to voxels and two more.
    steps.push_back([&] {
        VolumeData volume = BallsGrid(7, 25);
        volume.wholeDims[0] = volume.wholeDims[1] = volume.wholeDims[2] = kSide;
        volume.partOrigin[0] = 7;
        show(std::move(volume));
    });
    for (auto step : read(&part))
        steps.push_back(step);
    Run(steps);
    Renderer.volumePassChoice = VolumePassChoice::Automatic;
    ASSERT_TRUE(boxes_.empty()) << boxes_[0].text;
    EXPECT_EQ(Volume.dimX, 18);
    EXPECT_EQ(Volume.extentX, 1.0f) << "the box is the whole grid's";
    int largest = 0, shown = 0;
    for (size_t i = 0; i < part.rgba.size(); ++i) {
        largest = std::max(largest, std::abs(int(part.rgba[i]) - int(whole.rgba[i])));
        shown += whole.rgba[i] != whole.rgba[i % 4];
    }
    EXPECT_GT(shown, 400) << "both balls show in the crop";
    EXPECT_LE(largest, 2) << "only the rounding of the texture coordinates may differ";
}

INSTANTIATE_TEST_SUITE_P(BothPasses, VolumePartTest,
                         ::testing::Values(VolumePassChoice::Slices, VolumePassChoice::Cpu),
                         [](const auto& info) {
                             return info.param == VolumePassChoice::Cpu ? "Cpu" : "Slices";
                         });

// A crop that keeps nothing leaves no slice to draw: the background and no
// message, through a new view too; the whole box comes back after.
// The Slices menu's plane moves with Page Up and Page Down and its place is
// on the status line; it survives the next volume, brought inside its grid.
TEST_F(CropAndPictureTest, APlaneMovesByTheKeysAndSurvivesASmallerVolume) {
    const std::string big = MakeBalls("big.vol", true), small = ScratchDir() + "/small.vol";
    WriteVolume(small, 6, 5, 4, std::vector<uint16_t>(6 * 5 * 4, 1000));
    shell::testing::SetFileDialogScript({big, small});
    const auto key = [](int vk) { Post(shell::WM_KEYDOWN, static_cast<shell::WPARAM>(vk), 0); };
    std::vector<std::function<void()>> steps = OpenSteps();
    std::string atStart, moved, reopened;
    Frame plain, withPlane;
    steps.insert(steps.end(), {UntilWhole(), [] {},
                               [&] {
                                   plain = ReadFrame();
                                   Command(kCmdSlicesYAxis);
                               },
                               [&] { atStart = ShownPlaneText(); }, UntilWhole(), [] {},
                               [&] {
                                   withPlane = ReadFrame();
                                   for (int i = 0; i < 3; ++i)
                                       key(shell::VK_PRIOR);
                                   key(shell::VK_NEXT);
                               },
                               [] {},
                               [&] {
                                   moved = ShownPlaneText();
                                   Command(kCmdFileOpen);
                               },
                               [] {}, [&] { reopened = ShownPlaneText(); }});
    Run(steps);
    ASSERT_TRUE(boxes_.empty()) << boxes_[0].text;
    EXPECT_NE(withPlane.rgba, plain.rgba) << "the axial plane shows";
    EXPECT_EQ(atStart, "axial 16 / 32, 15.0 mm") << "the middle voxel, counted from 1";
    EXPECT_EQ(moved, "axial 18 / 32, 17.0 mm") << "three up, one down";
    EXPECT_EQ(reopened, "axial 5 / 5, 4.0 mm") << "kept, on the smaller grid's last layer";
    EXPECT_NE(StatusLineText().find(reopened), std::string::npos) << StatusLineText();
}

TEST_F(CropAndPictureTest, ACropThatKeepsNothingShowsTheBackgroundWithoutAMessage) {
    shell::testing::SetFileDialogScript({MakeBalls("empty.vol", true)});
    Frame uncropped, empty, restored;
    CropBox nothing;
    nothing.low[0] = 1.0f;  // the x slider's low end dragged to its top
    std::vector<std::function<void()>> steps = OpenSteps();
    const std::function<void()> crop = [&] {
        SetVolumeCrop(nothing);
        UpdateCamera();
    };
    const std::function<void()> uncrop = [] { SetVolumeCrop(CropBox{}); }, none = [] {};
    for (auto [frame, then] : {std::pair{&uncropped, crop}, {&empty, uncrop}, {&restored, none}})
        steps.insert(steps.end(), {UntilWhole(), [] {},
                                   [frame, then] {
                                       *frame = ReadFrame();
                                       then();
                                   }});
    Run(steps);
    ASSERT_TRUE(boxes_.empty()) << boxes_[0].text;
    // Above the closed panel's handle, the background: the uncropped corner.
    const size_t strip = size_t(kHeight - 40) * kWidth * 4;
    size_t volume = 0, drawn = 0;
    for (size_t i = 0; i < strip; ++i) {
        volume += uncropped.rgba[i] != uncropped.rgba[i % 4];
        drawn += empty.rgba[i] != uncropped.rgba[i % 4];
    }
    EXPECT_GT(volume, 100u) << "the uncropped volume shows";
    EXPECT_EQ(drawn, 0u) << "nothing of the volume is drawn";
    EXPECT_EQ(restored.rgba, uncropped.rgba) << "the whole box again";
}

TEST_F(CropAndPictureTest, TheSavedPictureIsTheFrameWithoutThePanel) {
    const std::string saved = ScratchDir() + "/saved";  // the .png is added
    const std::string turn = ScratchDir() + "/turn.png";
    shell::testing::SetFileDialogScript(
        {MakeBalls("saved.vol", true), saved, ScratchDir() + "/no such folder/picture.png", turn});
    Frame frame;
    float yawAfterTurn = 1.0f;
    std::vector<std::function<void()>> steps = OpenSteps();
    steps.insert(steps.end(), {UntilWhole(), [] {}, [&] { frame = ReadFrame(); },
                               [] { Command(kCmdFileSavePicture); }, [] { Command(kCmdFileSavePicture); },
                               [] { Command(kCmdTurntableSave); }, [&] { yawAfterTurn = OrbitCamera.yaw; }});
    Run(steps);
    // The turntable: tamlo-render's names, the first picture the view on
    // screen, the others turned, the view given back.
    EXPECT_EQ(yawAfterTurn, OrbitCameraRecord{}.yaw);
    const int pictures = TurntablePictureCount();
    for (int i = 0; i < pictures; ++i)
        EXPECT_TRUE(std::filesystem::exists(TurntableFrameName(turn, i))) << TurntableFrameName(turn, i);
    EXPECT_FALSE(std::filesystem::exists(TurntableFrameName(turn, pictures)));
    EXPECT_EQ(ReadWhole(TurntableFrameName(turn, 0)), ReadWhole(saved + ".png"));
    EXPECT_NE(ReadWhole(TurntableFrameName(turn, pictures / 4)), ReadWhole(saved + ".png"));
    int width = 0, height = 0, channels = 0;
    stbi_uc* pixels = stbi_load((saved + ".png").c_str(), &width, &height, &channels, 4);
    ASSERT_NE(pixels, nullptr) << "the picture was written, named .png";
    const std::vector<uint8_t> picture(pixels, pixels + size_t(width) * height * 4);
    stbi_image_free(pixels);
    ASSERT_EQ(width * height, kWidth * kHeight);
    // Above the closed panel's handle (the bottom rows) the picture is the frame, opaque.
    const size_t strip = size_t(kHeight - 40) * kWidth * 4;
    size_t differentBelow = 0;
    for (size_t i = 0; i < picture.size(); ++i) {
        if (i % 4 != 3 && i < strip) {
            ASSERT_EQ(picture[i], frame.rgba[i]) << "pixel " << i / 4 % kWidth << "," << i / 4 / kWidth;
        }
        differentBelow += i % 4 != 3 && i >= strip && picture[i] != frame.rgba[i];
    }
    EXPECT_GT(differentBelow, 100u) << "the panel's handle is left out";
    ASSERT_EQ(boxes_.size(), 1u) << "the unwritable folder is one message";
    EXPECT_NE(boxes_[0].text.find("no such folder"), std::string::npos) << boxes_[0].text;
}

// The dialog asks about the name typed; when ".png" is added, the program asks
// about the name it adds it to: No goes back to the dialog and keeps the file.
TEST_F(CropAndPictureTest, SavePictureAsksBeforeReplacingAFile) {
    const std::string typed = ScratchDir() + "/asked";
    std::ofstream(typed + ".png") << "an older picture";
    shell::testing::SetFileDialogScript({MakeBalls("asked.vol", true), typed, std::nullopt, typed});
    shell::testing::SetMessageBoxAnswers({shell::IDNO, shell::IDYES});
    std::string afterNo;
    std::vector<std::function<void()>> steps = OpenSteps();
    steps.insert(steps.end(),
                 {UntilWhole(), [] {}, [] { Command(kCmdFileSavePicture); },
                  [&] { afterNo = ReadWhole(typed + ".png"); }, [] { Command(kCmdFileSavePicture); }});
    Run(steps);
    EXPECT_EQ(afterNo, "an older picture") << "no keeps the file";
    EXPECT_EQ(ReadWhole(typed + ".png").substr(1, 3), "PNG") << "yes replaces it";
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[0].text, "asked.png already exists.\nDo you want to replace it?");
    EXPECT_EQ(boxes_[1].caption, "Confirm Save As");
    const auto calls = shell::testing::TakeFileDialogCalls();
    ASSERT_EQ(calls.size(), 4u) << "the volume, the picture, the dialog again after no, the picture";
    for (size_t i = 1; i < calls.size(); ++i)
        EXPECT_TRUE(calls[i].flags & shell::OFN_OVERWRITEPROMPT) << "the dialog itself asks too";
}

TEST_F(CropAndPictureTest, ALoadIsOneStepToUndoAndOpeningAVolumeKeepsTheHistory) {
    const std::string volume = MakeBalls("history.vol", false), tf = ScratchDir() + "/three.tf";
    const ControlPoint three[3] = {{0, 0, 0, 0, 0}, {0.5f, 1, 0, 0, 0.5f}, {1, 1, 1, 1, 1}};
    std::string why;
    ASSERT_TRUE(ReplaceFileAtomically(tf, SerializeTransferFunction(three, 3), &why)) << why;
    shell::testing::SetFileDialogScript({volume, tf, volume});
    // After each step: the points shown, and Edit > Undo and Redo greyed or not.
    std::vector<std::tuple<uint32_t, bool, bool>> seen;
    auto look = [&] {
        const shell::HMENU menu = shell::GetMenu(MainWindow);
        auto greyed = [&](uint16_t id) {
            const int was = shell::EnableMenuItem(menu, id, shell::MF_GRAYED);
            shell::EnableMenuItem(menu, id, static_cast<shell::UINT>(was));
            return (was & shell::MF_GRAYED) != 0;
        };
        seen.emplace_back(EditorTab.pointCount, greyed(kCmdEditUndo), greyed(kCmdEditRedo));
    };
    std::vector<std::function<void()>> steps = OpenSteps();
    for (uint16_t command : {kCmdTransferOpen, kCmdFileOpen, kCmdEditUndo, kCmdEditUndo, kCmdEditRedo})
        steps.insert(steps.end(), {look, [command] { Command(command); }});
    steps.push_back(look);
    Run(steps);
    EXPECT_TRUE(boxes_.empty());
    const std::vector<std::tuple<uint32_t, bool, bool>> expected = {
        {2, true, true},    // nothing done yet
        {3, false, true},   // loaded
        {3, false, true},   // a volume opened: the history stays
        {2, true, false},   // the load undone in one step
        {2, true, false},   // nothing left to undo: nothing happens
        {3, false, true}};  // redone
    EXPECT_EQ(seen, expected);
}

// A chord typed faster than a frame: every key event of it, releases
// included, is taken from the system in one pass before the key is handled.
// The key still means what it meant while the modifiers were held.
TEST_F(CropAndPictureTest, AChordReleasedBeforeItIsHandledKeepsItsModifiers) {
    const std::string saved = ScratchDir() + "/chord.png";
    shell::testing::SetFileDialogScript({MakeBalls("chord.vol", true), saved});
    const auto key = [](uint32_t type, SDL_Keycode sym, uint16_t mod) {
        SDL_Event e{};
        e.type = type;
        e.key.windowID = SDL_GetWindowID(MainWindow->surface->Window());
        e.key.keysym.sym = sym;
        e.key.keysym.mod = mod;
        return e;
    };
    std::vector<std::function<void()>> steps = OpenSteps();
    steps.insert(steps.end(),
                 {UntilWhole(),
                  [&] {
                      const uint16_t both = KMOD_LCTRL | KMOD_LSHIFT;
                      for (SDL_Event e :
                           {key(SDL_KEYDOWN, SDLK_LCTRL, KMOD_LCTRL), key(SDL_KEYDOWN, SDLK_LSHIFT, both),
                            key(SDL_KEYDOWN, SDLK_s, both), key(SDL_KEYUP, SDLK_s, both),
                            key(SDL_KEYUP, SDLK_LSHIFT, KMOD_LCTRL), key(SDL_KEYUP, SDLK_LCTRL, 0)})
                          SDL_PushEvent(&e);
                  },
                  [] {}, [] {}});
    Run(steps);
    ASSERT_TRUE(boxes_.empty()) << boxes_[0].text;
    EXPECT_TRUE(std::filesystem::exists(saved)) << "Ctrl+Shift+S saved the picture";
}

}  // namespace
}  // namespace viewer_test

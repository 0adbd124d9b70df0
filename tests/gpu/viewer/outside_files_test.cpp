// Files that come from outside the menus: the command line's file, opened at
// start as File > Open would, and files dropped onto the window (a volume, or
// a .tf as the transfer function).
#include <fstream>
#include <utility>

#include "app/app_state.h"
#include "render/renderer.h"
#include "tests/gpu/viewer/viewer_harness.h"
#include "ui/tab.h"
#include "volume/volume.h"

namespace viewer_test {
namespace {

constexpr int kWidth = 96, kHeight = 80;

class OutsideFilesTest : public ViewerTest {
  protected:
    // Writes a small volume: a bright cube in a dark box.
    std::string SmallVolume(const std::string& name) {
        std::vector<uint16_t> samples(10 * 10 * 10, 0);
        for (int z = 3; z < 7; ++z)
            for (int y = 3; y < 7; ++y)
                for (int x = 3; x < 7; ++x)
                    samples[(z * 10 + y) * 10 + x] = 3500;
        const std::string path = ScratchDir() + "/" + name;
        WriteVolume(path, 10, 10, 10, samples);
        return path;
    }
    std::string WriteTf(const std::string& name, const std::vector<ControlPoint>& points) {
        const auto bytes = SerializeTransferFunction(points.data(), static_cast<uint32_t>(points.size()));
        const std::string path = ScratchDir() + "/" + name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    // One frame at the test's size, after whatever the steps did.
    Frame RunAndRead(std::vector<std::function<void()>> steps) {
        Frame frame;
        steps.insert(steps.begin(), [] { Size(kWidth, kHeight); });
        steps.push_back([] {});
        steps.push_back([&] { frame = ReadFrame(); });
        EXPECT_EQ(Run(steps), 0);
        return frame;
    }
    static void Drop(std::vector<std::string> paths) {
        Post(shell::WM_DROPFILES, reinterpret_cast<shell::WPARAM>(shell::testing::MakeDrop(std::move(paths))),
             0);
    }
    // A fresh program, the scratch folder kept.
    void Restart() {
        const std::string kept = std::exchange(scratch_, {});
        TearDown();
        SetUp();
        scratch_ = kept;
    }
};

TEST_F(OutsideFilesTest, TheCommandLinesFileShowsAsFileOpenShowsIt) {
    const std::string volume = SmallVolume("cube.vol");
    shell::testing::SetFileDialogScript({volume});
    const Frame viaMenu = RunAndRead({[] { Command(kCmdFileOpen); }});
    ASSERT_TRUE(boxes_.empty());

    Restart();
    startFile_ = volume;
    const Frame viaArgument = RunAndRead({});
    EXPECT_TRUE(boxes_.empty());
    ASSERT_EQ(viaArgument.width, static_cast<uint32_t>(kWidth));
    ASSERT_EQ(viaArgument.rgba.size(), viaMenu.rgba.size());
    EXPECT_EQ(viaArgument.rgba, viaMenu.rgba) << "the same picture as File > Open";
    size_t lit = 0;
    for (uint32_t y = 0; y < viaArgument.height; ++y)
        lit += viaArgument.At(kWidth / 2, y)[0] > 40;
    EXPECT_GT(lit, 0u) << "the cube shows";
}

// A file the load refuses (here a volume file whose header promises more than
// it holds, and one that is not there): the very message File > Open gives,
// and the viewer runs on, empty.
TEST_F(OutsideFilesTest, ABadCommandLineFileGetsFileOpensMessageAndTheViewerRunsOn) {
    const std::string dir = ScratchDir();
    std::ofstream(dir + "/short.vol", std::ios::binary) << std::string("\x04\x00\x04\x00\x04\x00\x01\x02", 8);
    shell::testing::SetFileDialogScript({dir + "/short.vol"});
    RunAndRead({[] { Command(kCmdFileOpen); }});
    const auto viaMenu = boxes_;
    ASSERT_EQ(viaMenu.size(), 1u);

    Restart();
    startFile_ = dir + "/short.vol";
    bool idle = false;
    RunAndRead({[&] { idle = InputHandlerTable.Frame == &RenderIdleFrame; }});
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, viaMenu[0].text);
    EXPECT_EQ(boxes_[0].caption, viaMenu[0].caption);
    EXPECT_TRUE(idle) << "no volume, idle mode";

    Restart();
    startFile_ = dir + "/not-there.vol";
    RunAndRead({[&] { idle = InputHandlerTable.Frame == &RenderIdleFrame; }});
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].caption, "error: Volume");
    EXPECT_NE(boxes_[0].text.find("not-there.vol"), std::string::npos) << boxes_[0].text;
    EXPECT_TRUE(idle);
}

TEST_F(OutsideFilesTest, DroppedFilesOpenAsVolumesAndTransferFunctions) {
    const std::string volume = SmallVolume("cube.vol");
    const std::string red = WriteTf("Red.TF", {{0, 0, 0, 0, 0}, {0.5f, 1, 0, 0, 1}, {1, 1, 0, 0, 1}});
    const std::string blue = WriteTf("blue.tf", {{0, 0, 0, 0, 0}, {0.5f, 0, 0, 1, 1}, {1, 0, 0, 1, 1}});
    const std::string bad = ScratchDir() + "/bad.tf";
    std::ofstream(bad, std::ios::binary) << std::string("\x09\x00\x00\x00\x01", 5);

    uint32_t pointsAfterTf = 0, pointsAtEnd = 0;
    bool volumeModeAfterVolume = false;
    size_t boxesAfterBoth = 99;
    // A .tf alone (in idle mode), then a volume alone, then a bad .tf; then
    // a volume and a .tf at once (the first file of each kind is taken).
    const Frame last = RunAndRead({
        [&] { Drop({red}); },
        [&] { pointsAfterTf = EditorTab.pointCount; },
        [&] { Drop({volume}); },
        [&] { volumeModeAfterVolume = InputHandlerTable.Frame == &RenderVolumeFrame; },
        [&] { Drop({bad}); },
        [&] {
            boxesAfterBoth = shell::testing::TakeMessageBoxes().size();
            Drop({blue, volume, red, bad});
        },
        [&] { pointsAtEnd = EditorTab.pointCount; },
    });
    EXPECT_EQ(pointsAfterTf, 3u) << "a dropped .tf (any case) is the transfer function, even with no volume";
    EXPECT_TRUE(volumeModeAfterVolume) << "any other file opens as the volume";
    ASSERT_EQ(boxesAfterBoth, 1u) << "a bad .tf is refused with one message";
    EXPECT_TRUE(boxes_.empty()) << "the last drop raised nothing";
    EXPECT_EQ(pointsAtEnd, 3u);

    // The last drop installed blue over the cube: blue pixels and no red ones.
    int bluePixels = 0, redPixels = 0;
    for (uint32_t y = 0; y < last.height; ++y)
        for (uint32_t x = 0; x < last.width; ++x) {
            const Rgba p = last.At(x, y);
            bluePixels += p[2] > 150 && p[0] < 40;
            redPixels += p[0] > 150 && p[2] < 60;
        }
    EXPECT_GT(bluePixels, 10) << "the dropped blue function shows";
    EXPECT_EQ(redPixels, 0);
}

TEST_F(OutsideFilesTest, ABadDroppedVolumeKeepsTheShownOne) {
    const std::string volume = SmallVolume("cube.vol");
    const std::string dir = ScratchDir();
    std::ofstream(dir + "/short.vol", std::ios::binary) << std::string("\x04\x00\x04\x00\x04\x00\x01\x02", 8);
    int32_t dimAfter = 0;
    RunAndRead(
        {[&] { Drop({volume}); }, [&] { Drop({dir + "/short.vol"}); }, [&] { dimAfter = Volume.dimX; }});
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].caption, "error: Volume");
    EXPECT_EQ(dimAfter, 10) << "the cube stays";
}

}  // namespace
}  // namespace viewer_test

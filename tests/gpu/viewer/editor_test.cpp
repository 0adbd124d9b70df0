// The transfer-function panel in the running program: opening it by its
// handle, editing points and colours with the mouse, the ".tf" commands, and
// what the volume shows afterwards.
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "app/app_state.h"
#include "render/renderer.h"
#include "tests/gpu/viewer/viewer_harness.h"
#include "tests/support/scan_writer.h"
#include "ui/tab.h"
#include "volume/volume.h"

namespace viewer_test {
namespace {

// Tall enough for the open panel (640 px) and its handle strip above it.
constexpr int kWidth = 400, kHeight = 700;

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteTf(const std::string& path, const std::vector<ControlPoint>& points) {
    const auto bytes = SerializeTransferFunction(points.data(), static_cast<uint32_t>(points.size()));
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class EditorTest : public ViewerTest {
  protected:
    // Steps that load a small bright volume at the panel's size and open the
    // panel with a left click on its handle.
    std::vector<std::function<void()>> OpenPanel(std::string volume = {}) {
        volume_ = volume.empty() ? ScratchDir() + "/bright.vol" : volume;
        if (volume.empty())
            WriteVolume(volume_, 8, 8, 8, std::vector<uint16_t>(512, 3000));
        shell::testing::SetFileDialogScript({volume_});
        return {[] {
                    Size(kWidth, kHeight);
                    Command(kCmdFileOpen);
                },
                [] { Mouse(shell::WM_LBUTTONDOWN, 50, kHeight - 10); },
                [] { Mouse(shell::WM_LBUTTONUP, 50, kHeight - 10); },
                WaitFor([] { return EditorTab.state == UI::kTabOpen; })};
    }
    // Client pixel of a graph position and opacity (the open panel).
    static int GraphX(float position) { return static_cast<int>(9.5f + position * (kWidth / 2.0f - 30.0f)); }
    static int GraphY(float alpha) { return kHeight - static_cast<int>(200 + 200 * alpha); }

    std::string volume_;
};

TEST_F(EditorTest, TheHandleOpensThePanelAndTheGraphAddsSelectsAndRemovesPoints) {
    auto steps = OpenPanel();
    Frame open;
    uint32_t countAfterInsert = 0, selectedAfterInsert = 0, selectedAfterSecondClick = 99;
    float insertedPosition = 0, insertedAlpha = 0;
    bool rotationAfterGraphRightClick = true;
    steps.insert(steps.end(), {
                                  [&] { open = ReadFrame(); },
                                  [] {
                                      Mouse(shell::WM_LBUTTONDOWN, GraphX(0.4f), GraphY(0.3f));
                                      Mouse(shell::WM_LBUTTONUP, GraphX(0.4f), GraphY(0.3f));
                                  },
                                  [&] {
                                      countAfterInsert = EditorTab.pointCount;
                                      selectedAfterInsert = EditorTab.selectedPoint;
                                      insertedPosition = EditorTab.points[1].position;
                                      insertedAlpha = EditorTab.points[1].alpha;
                                      EditorTab.selectedPoint = 0;
                                      Mouse(shell::WM_LBUTTONDOWN, GraphX(0.4f), GraphY(0.3f));
                                      Mouse(shell::WM_LBUTTONUP, GraphX(0.4f), GraphY(0.3f));
                                  },
                                  [&] {
                                      selectedAfterSecondClick = EditorTab.selectedPoint;
                                      Mouse(shell::WM_RBUTTONDOWN, GraphX(0.0f),
                                            GraphY(0.0f));  // the first point: kept
                                      Mouse(shell::WM_RBUTTONUP, GraphX(0.0f), GraphY(0.0f));
                                  },
                                  [&] {
                                      rotationAfterGraphRightClick = RotationDrag.active;
                                      Mouse(shell::WM_RBUTTONDOWN, GraphX(0.4f),
                                            GraphY(0.3f));  // the inner point: removed
                                      Mouse(shell::WM_RBUTTONUP, GraphX(0.4f), GraphY(0.3f));
                                  },
                              });
    EXPECT_EQ(Run(steps), 0);
    EXPECT_TRUE(boxes_.empty()) << (boxes_.empty() ? "" : boxes_[0].text);

    // The open panel: the background behind the picker, the field's colours.
    ASSERT_EQ(open.height, static_cast<uint32_t>(kHeight));
    const Rgba panel = open.At(kWidth - 20, kHeight - 20);
    EXPECT_LT(panel[0], 60) << "dark panel background";
    EXPECT_LT(panel[2], 90) << "not the window's blue";
    const Rgba fieldTopLeft = open.At(12, kHeight - 598);
    EXPECT_GT(fieldTopLeft[0], 200) << "hue 0 at full saturation is red";
    EXPECT_LT(fieldTopLeft[2], 60);

    EXPECT_EQ(countAfterInsert, 3u) << "a click between the first two points inserts one";
    EXPECT_EQ(selectedAfterInsert, 1u);
    EXPECT_NEAR(insertedPosition, 0.4f, 0.01f);
    EXPECT_NEAR(insertedAlpha, 0.3f, 0.01f);
    EXPECT_EQ(selectedAfterSecondClick, 1u) << "the next click hits and selects the new point";
    EXPECT_FALSE(rotationAfterGraphRightClick) << "the panel takes right clicks on the graph";
    EXPECT_EQ(EditorTab.pointCount, 2u) << "a right click on the inner point removes it";
    EXPECT_EQ(EditorTab.selectedPoint, 1u) << "the selection moves to the point that followed";
}

// On a slow device a click on the graph shows in the very next frame: the
// new point on the panel over a volume drawn with less work, refined after.
TEST_F(EditorTest, AClickOnThePanelShowsInTheNextFrameOverACoarseVolume) {
    auto steps = OpenPanel();
    Frame before, first;
    bool coarse = false;
    const int x = GraphX(0.4f), y = GraphY(0.3f);
    steps.insert(steps.end(), {[&] {
                                   before = ReadFrame();
                                   Renderer.layerSeconds = 10.0;  // a very slow device
                                   Mouse(shell::WM_LBUTTONDOWN, x, y);
                                   Mouse(shell::WM_LBUTTONUP, x, y);
                               },
                               [] {},
                               [&] {
                                   first = ReadFrame();
                                   coarse = !Renderer.layerQuality.Full();
                               },
                               WaitFor([] { return Renderer.layerQuality.Full(); }, 2000)});
    EXPECT_EQ(Run(steps), 0);
    ASSERT_EQ(EditorTab.pointCount, 3u) << "the click added a point";
    EXPECT_TRUE(coarse) << "the volume behind the panel is drawn with less work";
    int changed = 0;
    for (int dy = -6; dy <= 6; ++dy)
        for (int dx = -6; dx <= 6; ++dx)
            changed += first.At(x + dx, y + dy) != before.At(x + dx, y + dy);
    EXPECT_GT(changed, 10) << "the new point shows in the same frame";
}

TEST_F(EditorTest, APickerDragRecoloursTheSelectedPointAndTheVolume) {
    auto steps = OpenPanel();
    std::optional<shell::RECT> clipDuringDrag, clipAfter;
    Frame recoloured;
    steps.insert(steps.end(),
                 {
                     [] {  // select the white, opaque end point by clicking it
                         Mouse(shell::WM_LBUTTONDOWN, GraphX(1.0f), GraphY(1.0f));
                         Mouse(shell::WM_LBUTTONUP, GraphX(1.0f), GraphY(1.0f));
                     },
                     [] { Mouse(shell::WM_LBUTTONDOWN, 50, kHeight - 500); },
                     [&] {
                         clipDuringDrag = shell::testing::CurrentCursorClip();
                         Mouse(shell::WM_LBUTTONUP, 100, kHeight - 600);  // hue 180, saturation 1
                     },
                     [&] {
                         clipAfter = shell::testing::CurrentCursorClip();
                         Mouse(shell::WM_LBUTTONDOWN, 230, kHeight - 510);  // the lightness bar, halfway
                         Mouse(shell::WM_LBUTTONUP, 230, kHeight - 510);
                     },
                     [] {  // close the panel to see the volume
                         Mouse(shell::WM_LBUTTONDOWN, 50, kHeight - 650);
                         Mouse(shell::WM_LBUTTONUP, 50, kHeight - 650);
                     },
                     WaitFor([] { return EditorTab.state == UI::kTabClosed; }),
                     [] {},
                     [&] { recoloured = ReadFrame(); },
                 });
    EXPECT_EQ(Run(steps), 0);
    EXPECT_TRUE(clipDuringDrag.has_value()) << "the cursor is held in the field during the drag";
    EXPECT_FALSE(clipAfter.has_value()) << "the release lets it go";
    EXPECT_EQ(EditorTab.selectedPoint, 1u);
    EXPECT_FLOAT_EQ(EditorTab.selectedHsl.hue, 180.0f);
    EXPECT_FLOAT_EQ(EditorTab.selectedHsl.saturation, 1.0f);
    EXPECT_FLOAT_EQ(EditorTab.selectedHsl.lightness, 0.5f);
    const ControlPoint& end = EditorTab.points[1];
    EXPECT_NEAR(end.red, 0.0f, 1e-6) << "cyan";
    EXPECT_NEAR(end.green, 1.0f, 1e-6);
    EXPECT_NEAR(end.blue, 1.0f, 1e-6);
    EXPECT_NEAR(end.alpha, 1.0f, 0.01f) << "the opacity passes through";
    const Rgba centre = recoloured.At(kWidth / 2, kHeight / 2);
    EXPECT_GT(centre[1] - centre[0], 40) << "the volume is drawn cyan";
    EXPECT_GT(centre[2] - centre[0], 40);
}

TEST_F(EditorTest, TransferFunctionFilesOpenSaveAndRefuseBadOnes) {
    const std::string dir = ScratchDir();
    WriteTf(dir + "/red.tf", {{0, 0, 0, 0, 0}, {0.1f, 1, 0, 0, 1}, {1, 1, 0, 0, 1}});
    std::ofstream(dir + "/short.tf", std::ios::binary) << std::string("\x05\x00\x00\x00\x01\x02", 6);
    std::ofstream(dir + "/one.tf", std::ios::binary)
        << std::string("\x01\x00\x00\x00", 4) << std::string(20, '\0');
    std::ofstream(dir + "/long.tf", std::ios::binary) << std::string(500, 'x');
    std::filesystem::create_directory(dir + "/folder.tf");
    shell::testing::SetFileDialogScript({
        dir + "/short.tf", dir + "/one.tf",  // refused
        dir + "/saved.tf",                   // the default function
        dir + "/long.tf",                    // saved over a longer file
        dir + "/folder.tf",                  // a save that cannot happen
        dir + "/red.tf",                     // opened in idle mode
    });
    std::vector<size_t> boxesAfter;
    auto countBoxes = [&] { boxesAfter.push_back(shell::testing::TakeMessageBoxes().size()); };
    const int result = Run({
        [] { Size(64, 48); },
        [] { Command(kCmdTransferOpen); },
        [&] {
            countBoxes();
            Command(kCmdTransferOpen);
        },
        [&] {
            countBoxes();
            Command(kCmdTransferSave);
        },
        [&] {
            countBoxes();
            Command(kCmdTransferSave);
        },
        [&] {
            countBoxes();
            Command(kCmdTransferSave);
        },
        [&] {
            countBoxes();
            Command(kCmdTransferOpen);
        },
        [&] { countBoxes(); },
    });
    EXPECT_EQ(result, 0);
    ASSERT_EQ(boxesAfter.size(), 6u);
    EXPECT_EQ(boxesAfter[0], 1u) << "a file shorter than its count: one message";
    EXPECT_EQ(boxesAfter[1], 1u) << "a one-point file: one message";
    EXPECT_EQ(boxesAfter[2], 0u) << "a good save says nothing";
    EXPECT_EQ(boxesAfter[3], 0u);
    EXPECT_EQ(boxesAfter[4], 1u) << "a save that fails is reported";
    EXPECT_EQ(boxesAfter[5], 0u);

    const std::vector<uint8_t> saved = ReadBytes(dir + "/saved.tf");
    ASSERT_EQ(saved.size(), 44u) << "the refused files left the default function";
    EXPECT_EQ(saved[0], 2);
    EXPECT_EQ(ReadBytes(dir + "/long.tf").size(), 44u) << "the old, longer file is replaced whole";
    EXPECT_TRUE(std::filesystem::is_directory(dir + "/folder.tf")) << "a failed save destroys nothing";
    EXPECT_EQ(std::filesystem::directory_iterator(dir + "/folder.tf"), std::filesystem::directory_iterator{});
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        EXPECT_EQ(entry.path().filename().string().find(".tf."), std::string::npos)
            << "no temporary file is left behind: " << entry.path();

    EXPECT_EQ(EditorTab.pointCount, 3u) << "Transfer Function > Open works in idle mode";
    EXPECT_EQ(EditorTab.selectedPoint, 0u);
    EXPECT_NE(EditorTab.transferView, nullptr);
}

TEST_F(EditorTest, ASaveKeepsAnExistingFilesPermissions) {
    const std::string path = ScratchDir() + "/kept.tf";
    std::ofstream(path) << "old";
    ::chmod(path.c_str(), 0640);
    shell::testing::SetFileDialogScript({path});
    Run({[] { Command(kCmdTransferSave); }, [] {}});
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(ReadBytes(path).size(), 44u);
}

// Opening a FIFO must not wait for a writer; a save never turns a pipe or a
// read-only file into a new plain file, and goes through a link to its file.
TEST_F(EditorTest, PipesLinksAndReadOnlyFilesAreHandledSafely) {
    const std::string dir = ScratchDir();
    ASSERT_EQ(::mkfifo((dir + "/pipe.tf").c_str(), 0644), 0);
    ASSERT_EQ(::mkfifo((dir + "/pipe.vol").c_str(), 0644), 0);
    std::ofstream(dir + "/target.tf") << "old";
    std::filesystem::create_symlink("target.tf", dir + "/link.tf");
    std::ofstream(dir + "/locked.tf") << "old";
    ::chmod((dir + "/locked.tf").c_str(), 0444);
    shell::testing::SetFileDialogScript(
        {dir + "/pipe.tf", dir + "/pipe.vol", dir + "/pipe.tf", dir + "/link.tf", dir + "/locked.tf"});
    std::vector<std::vector<shell::testing::RecordedMessageBox>> answers;
    auto take = [&] { answers.push_back(shell::testing::TakeMessageBoxes()); };
    Run({[] { Command(kCmdTransferOpen); },
         [&] {
             take();
             Command(kCmdFileOpen);
         },
         [&] {
             take();
             Command(kCmdTransferSave);
         },
         [&] {
             take();
             Command(kCmdTransferSave);
         },
         [&] {
             take();
             Command(kCmdTransferSave);
         },
         [&] { take(); }});
    ASSERT_EQ(answers.size(), 5u);
    const char* expected[5] = {"not a regular file", "not a volume file", "not a regular file", nullptr,
                               "read-only"};
    for (size_t i = 0; i < 5; ++i) {
        if (expected[i] == nullptr) {
            EXPECT_TRUE(answers[i].empty()) << "step " << i << ": " << answers[i][0].text;
            continue;
        }
        ASSERT_EQ(answers[i].size(), 1u) << "step " << i;
        EXPECT_NE(answers[i][0].text.find(expected[i]), std::string::npos) << answers[i][0].text;
    }
    struct stat info {};
    ASSERT_EQ(::lstat((dir + "/pipe.tf").c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode)) << "the pipe is still a pipe";
    ASSERT_EQ(::lstat((dir + "/link.tf").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode)) << "the link is still a link";
    EXPECT_EQ(ReadBytes(dir + "/target.tf").size(), 44u) << "and its file holds the function";
    EXPECT_EQ(ReadBytes(dir + "/locked.tf").size(), 3u) << "the read-only file is as it was";
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        EXPECT_EQ(entry.path().filename().string().find(".tf."), std::string::npos) << entry.path();
}

TEST_F(EditorTest, AColouredFunctionShowsInTheNextFrame) {
    const std::string tf = ScratchDir() + "/green.tf";
    WriteTf(tf, {{0, 0, 0, 0, 0}, {0.05f, 0, 1, 0, 1}, {1, 0, 1, 0, 1}});
    const std::string vol = ScratchDir() + "/cube.vol";
    WriteVolume(vol, 8, 8, 8, std::vector<uint16_t>(512, 2000));
    shell::testing::SetFileDialogScript({vol, tf});
    Frame frame;
    Run({[] {
             Size(128, 100);
             Command(kCmdFileOpen);
         },
         [] { Command(kCmdTransferOpen); }, [] {}, [&] { frame = ReadFrame(); }});
    EXPECT_TRUE(boxes_.empty());
    const Rgba centre = frame.At(64, 50);
    EXPECT_GT(centre[1], 150) << "the volume is drawn green";
    EXPECT_LT(centre[0], 40);
}

TEST_F(EditorTest, TheValueUnderTheCursorSpeaksTheScansUnits) {
    // A CT in Hounsfield units: air round a block of soft tissue.
    scan_test::ScanSpec spec;
    spec.dims = {8, 8, 8};
    std::vector<double> hu(512, -1000);
    for (size_t i = 0; i < hu.size(); ++i)
        if (i % 8 > 2 && i % 8 < 6)
            hu[i] = 40;
    const std::string ct = ScratchDir() + "/ct.nii";
    ASSERT_EQ(scan_test::WriteScan(ct, spec, hu), "");
    const int x = GraphX((350 + 1024) / 4095.0f);
    std::string overGraph, dragging, outside;
    auto steps = OpenPanel(ct);
    // Each step's messages are handled before the next step runs.
    steps.insert(steps.end(), {[&] { Mouse(shell::WM_MOUSEMOVE, x, GraphY(0.5f)); },
                               [&] {
                                   overGraph = shell::GetToolTip(MainWindow);
                                   Mouse(shell::WM_LBUTTONDOWN, GraphX(1.0f),
                                         GraphY(1.0f));  // the last point
                                   Mouse(shell::WM_MOUSEMOVE, GraphX(0.5f), GraphY(0.5f));
                               },
                               [&] {
                                   dragging = shell::GetToolTip(MainWindow);
                                   Mouse(shell::WM_LBUTTONUP, GraphX(1.0f), GraphY(0.5f));
                                   Mouse(shell::WM_MOUSEMOVE, kWidth - 5, 5);
                               },
                               [&] { outside = shell::GetToolTip(MainWindow); }});
    Run(steps);
    // One pixel of the graph is 4095 / 170 HU: the tip names the value of the pixel's position.
    const double step = 4095.0 / (kWidth / 2.0 - 30.0);
    ASSERT_NE(overGraph.find(" HU, opacity "), std::string::npos) << overGraph;
    EXPECT_NEAR(std::stod(overGraph), 350.0, step) << overGraph;
    EXPECT_EQ(dragging.rfind("3071 HU, opacity ", 0), 0u)
        << "the last point stays at the top of the window: " << dragging;
    EXPECT_EQ(outside, "") << "no tip away from the graph";
}

}  // namespace
}  // namespace viewer_test

// The batch renderer: its options, the checks it makes before any device
// exists, the real program's output and exit status, and the promise that its
// picture is the viewer's picture for the same state.
#include <stb/stb_image.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <optional>
#include <sstream>
#include <tuple>

#include "app/app_state.h"
#include "render/renderer.h"
#include "tests/gpu/viewer/viewer_harness.h"
#include "tests/support/scan_writer.h"
#include "tools/render/batch_render.h"
#include "tools/volume/phantom.h"
#include "ui/tab.h"
#include "ui/tab_layout.h"
#include "volume/volume.h"

namespace {

using batch::Options;

std::string Parse(std::vector<const char*> args, Options* options) {
    args.insert(args.begin(), "tamlo-render");
    return batch::ParseOptions(static_cast<int>(args.size()), args.data(), options);
}

TEST(RenderOptions, DefaultsAreTheViewersStartState) {
    Options o;
    ASSERT_EQ(Parse({"head.vol"}, &o), "");
    const OrbitCameraRecord start;
    EXPECT_EQ(o.volumePath, "head.vol");
    EXPECT_EQ(o.width, 1280);
    EXPECT_EQ(o.height, 1024);
    EXPECT_EQ(o.pitch, start.pitch) << "pitch starts where the viewer's does";
    EXPECT_EQ(o.yaw, start.yaw);
    EXPECT_EQ(o.distance, start.distance);
    EXPECT_FALSE(o.panelOpen);
    EXPECT_EQ(o.frames, 0);
    EXPECT_TRUE(o.tfPath.empty()) << "no .tf: the editor's default function";
    EXPECT_TRUE(o.shading) << "shaded, as the viewer starts";
    EXPECT_EQ(o.mode, Options::Mode::Composite);
}

TEST(RenderOptions, EveryOptionInBothSpellings) {
    Options o;
    ASSERT_EQ(Parse({"--tf", "a.tf", "--size=640x512", "--pitch", "-0.5", "--yaw=2", "--distance", "1.5",
                     "--panel=open", "-o", "out.png", "--frames", "7", "--data", "/d", "--shading", "off",
                     "--mode=minip", "v.vol"},
                    &o),
              "");
    EXPECT_EQ(o.tfPath, "a.tf");
    EXPECT_TRUE(o.moreTfPaths.empty());
    Options channels;
    ASSERT_EQ(Parse({"--tf", "a.tf", "--tf=b.tf", "--tf", "c.tf", "v.vol"}, &channels), "");
    EXPECT_EQ(channels.tfPath, "a.tf") << "the first channel's";
    EXPECT_EQ(channels.moreTfPaths, (std::vector<std::string>{"b.tf", "c.tf"}))
        << "the next channels', in order";
    EXPECT_EQ(o.width, 640);
    EXPECT_EQ(o.height, 512);
    EXPECT_FLOAT_EQ(o.pitch, -0.5f);
    EXPECT_FLOAT_EQ(o.yaw, 2.0f);
    EXPECT_FLOAT_EQ(o.distance, 1.5f);
    EXPECT_TRUE(o.panelOpen);
    EXPECT_EQ(o.outputPath, "out.png");
    EXPECT_EQ(o.frames, 7);
    EXPECT_EQ(o.dataDir, "/d");
    EXPECT_FALSE(o.shading);
    EXPECT_EQ(o.mode, Options::Mode::Minimum);
    EXPECT_EQ(o.volumePath, "v.vol");
    Options help;
    EXPECT_EQ(Parse({"--bogus", "--help"}, &help), "unknown option --bogus") << "options are read in order";
    EXPECT_EQ(Parse({"--help", "--bogus"}, &help), "");
    EXPECT_TRUE(help.help);
}

TEST(RenderOptions, BadCommandLinesAreRefusedWithTheirReason) {
    const std::vector<std::pair<std::vector<const char*>, std::string>> cases = {
        {{}, "no volume file"},
        {{"a.vol", "b.vol"}, "one volume file only"},
        {{"v.vol", "--nope"}, "unknown option --nope"},
        {{"v.vol", "--size"}, "needs a value"},
        {{"v.vol", "--size", "640"}, "--size takes"},
        {{"v.vol", "--size", "0x10"}, "--size takes"},
        {{"v.vol", "--size", "8193x10"}, "--size takes"},
        {{"v.vol", "--size", "64x-2"}, "--size takes"},
        {{"v.vol", "--pitch", "north"}, "--pitch takes a finite number"},
        {{"v.vol", "--yaw", "inf"}, "--yaw takes a finite number"},
        {{"v.vol", "--yaw", "1.0x"}, "--yaw takes a finite number"},
        {{"v.vol", "--distance", "0"}, "--distance must be from 0.25 to 100"},
        {{"v.vol", "--distance", "1e7"}, "--distance must be from 0.25 to 100"},
        {{"v.vol", "--panel", "ajar"}, "--panel takes open or closed"},
        {{"v.vol", "--frames", "0"}, "--frames takes a count"},
        {{"v.vol", "--frames", "2.5"}, "--frames takes a count"},
        {{"v.vol", "--tf="}, "--tf needs a file name"},
        {{"v.vol", "--help=yes"}, "unknown option --help"},
        {{"v.vol", "--view", "side"}, "--view takes front, back"},
        {{"v.vol", "--view", "top", "--yaw", "1"}, "does not go with --pitch or --yaw"},
        {{"v.vol", "--crop", "0,1,0,1,0"}, "--crop takes six numbers"},
        {{"v.vol", "--crop", "0,1,0,1.5,0,1"}, "fractions of the box from 0 to 1"},
        {{"v.vol", "--crop", "0,1,0.6,0.5,0,1"}, "Y0 is greater than Y1"},
        {{"v.vol", "--values", "9,3"}, "--values takes ct, auto, full or LOW,HIGH"},
        {{"v.vol", "--values=nan,3"}, "not \"nan,3\""},
        {{"v.vol", "--shading", "dim"}, "--shading takes on or off"},
        {{"v.vol", "--mode", "mean"}, "--mode takes composite, mip or minip"},
        {{"v.vol", "--pan", "0.5"}, "--pan takes two numbers X,Y"},
        {{"v.vol", "--pan", "0.5,up"}, "--pan takes two numbers X,Y"},
        {{"v.vol", "--pan=1e9,0"}, "--pan takes numbers from -100 to 100"},
        {{"v.vol", "--background", "pink"}, "--background takes dark-blue, black, grey or white"},
        {{"v.vol", "--time", "-1"}, "--time takes a time point counted from 0"},
        {{"v.vol", "--time-series", "--turntable", "3"}, "--time-series and --turntable do not go together"},
        {{"v.vol", "--time-series", "--frames", "3"}, "--time-series and --frames do not go together"},
        {{"v.vol", "--time", "1", "--time-series"}, "does not go with --time-series"},
        {{"v.vol", "--tf", "1.tf", "--tf", "2.tf", "--tf", "3.tf", "--tf", "4.tf", "--tf", "5.tf"},
         "--tf given more than 4 times"},
    };
    for (const auto& [args, expected] : cases) {
        Options o;
        const std::string error = Parse(args, &o);
        EXPECT_NE(error.find(expected), std::string::npos)
            << "arguments #" << (&args - &cases.front().first) << " gave \"" << error << "\"";
        EXPECT_EQ(error.find('\n'), std::string::npos) << "one line: " << error;
    }
}

// A number is refused for what is wrong with it: one past a float is an
// angle less whole turns, one too small for a float as near 0 as it holds.
TEST(RenderOptions, NumbersBeyondAFloatAreTakenForWhatTheyAre) {
    Options o;
    ASSERT_EQ(Parse({"v.vol", "--yaw", "1e308", "--pitch=-1e300", "--crop", "1e-320,1,0,1,0,1"}, &o), "");
    EXPECT_TRUE(std::fabs(o.yaw) < 6.3f && std::fabs(o.pitch) < 6.3f) << o.yaw << " " << o.pitch;
    EXPECT_EQ(o.crop.low[0], 0.0f);
    ASSERT_EQ(Parse({"v.vol", "--yaw", "2.5"}, &o), "");
    EXPECT_EQ(o.yaw, 2.5f) << "an angle a float holds is kept as given";
    EXPECT_NE(Parse({"v.vol", "--distance", "1e308"}, &o).find("must be from 0.25 to 100"),
              std::string::npos);
    EXPECT_NE(Parse({"v.vol", "--yaw", "1e400"}, &o).find("past the largest"), std::string::npos);
}

// Files the tests draw: a small head phantom and a coloured .tf.
class RenderFiles {
  public:
    explicit RenderFiles(const std::string& dir) : dir_(dir) {}
    std::string Volume(int n = 48) {
        const std::string path = dir_ + "/head.vol";
        viewer_test::WriteVolume(path, n, n, n, phantom::MakeHeadPhantom(n, n, n));
        return path;
    }
    std::string Transfer() {
        const ControlPoint points[4] = {
            {0.0f, 0.0f, 0.0f, 0.0f, 0.0f},
            {0.2f, 1.0f, 0.2f, 0.1f, 0.05f},
            {0.6f, 0.2f, 0.9f, 0.3f, 0.6f},
            {1.0f, 1.0f, 1.0f, 1.0f, 1.0f},
        };
        return WriteBytes("colour.tf", SerializeTransferFunction(points, 4));
    }
    std::string WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

  private:
    std::string dir_;
};

class RenderTest : public viewer_test::ViewerTest {
  protected:
    void TearDown() override {
        batch::EndSession();
        ViewerTest::TearDown();
    }
    RenderFiles Files() { return RenderFiles(ScratchDir()); }

    // The viewer's own frame for this state: File > Open and Transfer Function
    // > Open through the dialogs, the camera set before the open, the panel
    // put where a finished slide leaves it.
    viewer_test::Frame ViewerFrame(const Options& o) {
        viewer_test::Frame frame;
        // A fresh program each time: a test may draw more than one state.
        ResetApplicationState();
        shell::testing::Reset();
        shell::testing::RecordMessageBoxes(true);
        std::vector<std::optional<std::string>> answers = {o.volumePath};
        if (!o.tfPath.empty())
            answers.push_back(o.tfPath);
        shell::testing::SetFileDialogScript(answers);
        Run({[&] {
                 Size(o.width, o.height);
                 OrbitCamera = {o.pitch, o.yaw, o.distance};
                 Command(kCmdFileOpen);
                 if (!o.tfPath.empty())
                     Command(kCmdTransferOpen);
                 if (!o.shading)
                     Command(kCmdViewShading);
                 if (o.mode != Options::Mode::Composite)
                     Command(o.mode == Options::Mode::Maximum ? kCmdViewMaximum : kCmdViewMinimum);
             },
             [&] {
                 if (o.panelOpen) {
                     EditorTab.state = UI::kTabOpen;
                     EditorTab.slideOffset = UI::OpenSlideDistance(ClientArea.heightF);
                 }
             },
             [] {}, [&] { frame = ReadFrame(); }});
        return frame;
    }

    batch::Picture BatchPicture(const Options& o) {
        const std::string error = batch::StartSession(o);
        EXPECT_EQ(error, "") << "the batch session starts";
        batch::RenderFrame();
        batch::Picture picture = batch::ReadPicture();
        batch::EndSession();
        return picture;
    }

    void ExpectSamePixels(const Options& o) {
        const batch::Picture batchPicture = BatchPicture(o);
        const viewer_test::Frame viewer = ViewerFrame(o);
        ASSERT_TRUE(boxes_.empty()) << boxes_[0].text;
        ASSERT_EQ(batchPicture.width, static_cast<uint32_t>(o.width));
        ASSERT_EQ(batchPicture.height, static_cast<uint32_t>(o.height));
        ASSERT_EQ(viewer.width, batchPicture.width);
        ASSERT_EQ(viewer.height, batchPicture.height);
        size_t differing = 0, firstDiff = 0, covered = 0;
        for (size_t i = 0; i < viewer.rgba.size(); ++i) {
            if (viewer.rgba[i] != batchPicture.rgba[i] && differing++ == 0)
                firstDiff = i;
        }
        for (size_t i = 3; i < batchPicture.rgba.size(); i += 4)
            covered += batchPicture.rgba[i] > 16;
        EXPECT_GT(covered, batchPicture.rgba.size() / 4 / 50) << "the volume covers part of the picture";
        EXPECT_EQ(differing, 0u) << "first differing byte at pixel " << firstDiff / 4 << " (x "
                                 << firstDiff / 4 % o.width << ", y " << firstDiff / 4 / o.width << ")";
    }
};

TEST_F(RenderTest, BatchPictureEqualsTheViewersFrame) {
    RenderFiles files = Files();
    Options o;
    o.volumePath = files.Volume();
    o.width = 160;
    o.height = 128;
    o.pitch = 0.4f;
    o.yaw = -0.7f;
    o.distance = 2.0f;
    {
        SCOPED_TRACE("default function, panel closed");
        ExpectSamePixels(o);
    }
    o.tfPath = files.Transfer();
    o.panelOpen = true;
    o.height = 400;  // tall enough for the slid panel to show
    {
        SCOPED_TRACE("coloured .tf, panel open");
        ExpectSamePixels(o);
    }
    o.shading = false;
    {
        SCOPED_TRACE("unshaded");
        ExpectSamePixels(o);
    }
    o.mode = Options::Mode::Maximum;
    {
        SCOPED_TRACE("maximum intensity");
        ExpectSamePixels(o);
    }
}

// A store's levels draw as volume files of their samples; a crop of it is
// read alone at the finest level that fits it, and draws as that level's
// samples through the same crop (seen along z, a part whole in z takes the
// same slices).
TEST_F(RenderTest, AStoresLevelsDrawAsTheirSamplesAndACropIsReadAtAFinerLevel) {
    const std::string dir = ScratchDir();
    std::ofstream(dir + "/make.py")
        << "import numpy, sys, zarr\n"
           "d = sys.argv[1]\n"
           "z, y, x = numpy.ogrid[:12, :20, :20]\n"
           "r = (x - 7) ** 2 + (y - 8) ** 2 + (z - 6) ** 2\n"
           "data = numpy.where(r < 30, 1000, numpy.where(x > 12, 400, 0)).astype('<u2')\n"
           "data.tofile(d + '/level0.raw')\n"
           "data[::2, ::2, ::2].copy().tofile(d + '/level1.raw')\n"
           "root = zarr.open_group(d + '/s.zarr', mode='w')\n"
           "root.create_dataset('0', data=data, chunks=(5, 8, 8))\n"
           "root.create_dataset('1', data=data[::2, ::2, ::2], chunks=(4, 4, 4))\n"
           "root.attrs['multiscales'] = [{'version': '0.4', 'axes': [{'name': n, "
           "'type': 'space'} for n in 'zyx'], 'datasets': [{'path': '0'}, {'path': '1'}]}]\n";
    if (std::system(("/usr/bin/python3 " + dir + "/make.py " + dir + " 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "/usr/bin/python3 with zarr is needed to write the store";
    const auto volumeFile = [&](const std::string& raw, int nx, int ny, int nz) {
        std::vector<uint16_t> stored(size_t(nx) * ny * nz), samples;
        std::ifstream(dir + "/" + raw, std::ios::binary)
            .read(reinterpret_cast<char*>(stored.data()), std::streamsize(stored.size() * 2));
        for (uint16_t v : stored)
            samples.push_back(static_cast<uint16_t>(v * 4095 / 1000.0 + 0.5));
        viewer_test::WriteVolume(dir + "/" + raw + ".vol", nx, ny, nz, samples);
        return dir + "/" + raw + ".vol";
    };
    Options o;
    o.width = 160;
    o.height = 128;
    o.dataDir = DataDir();
    o.distance = 2.0f;
    o.pitch = o.yaw = 0.0f;  // along z
    o.values = ValueChoice{ValueWindow::Custom, 0, 1000};
    const auto draw = [&](const std::string& path, int32_t level, uint32_t maxEdge) {
        Options at = o;
        at.volumePath = path;
        at.values.level = level;
        at.values.maxEdge = maxEdge;
        return BatchPicture(at).rgba;
    };
    EXPECT_EQ(draw(dir + "/s.zarr", 0, 0), draw(volumeFile("level0.raw", 20, 20, 12), -1, 0)) << "level 0";
    EXPECT_EQ(draw(dir + "/s.zarr", 1, 0), draw(volumeFile("level1.raw", 10, 10, 6), -1, 0)) << "level 1";

    o.crop.high[0] = o.crop.high[1] = 0.5f;
    const std::vector<uint8_t> part = draw(dir + "/s.zarr", -1, 12);  // the whole fits level 1 only
    uint32_t partDims[3] = {};
    {
        Options at = o;
        at.volumePath = dir + "/s.zarr";
        at.values.maxEdge = 12;
        ASSERT_EQ(batch::StartSession(at), "");
        partDims[0] = Volume.dimX, partDims[1] = Volume.dimY, partDims[2] = Volume.dimZ;
        batch::EndSession();
    }
    EXPECT_EQ(partDims[0], 12u) << "half of level 0's 20, and two voxels more";
    EXPECT_EQ(partDims[1], 12u);
    EXPECT_EQ(partDims[2], 12u);
    const std::vector<uint8_t> finest = draw(volumeFile("level0.raw", 20, 20, 12), -1, 0);
    ASSERT_EQ(part.size(), finest.size());
    int largest = 0, shown = 0;
    for (size_t i = 0; i < part.size(); ++i) {
        largest = std::max(largest, std::abs(int(part[i]) - int(finest[i])));
        shown += finest[i] != finest[i % 4];
    }
    EXPECT_GT(shown, 200) << "the crop shows the ball";
    EXPECT_LE(largest, 2) << "the part draws as the finest level through the crop";
}

TEST_F(RenderTest, InputChecksNameTheProblemBeforeAnyDevice) {
    RenderFiles files = Files();
    Options o;
    o.volumePath = files.Volume(8);
    o.outputPath = ScratchDir() + "/out.png";
    EXPECT_EQ(batch::CheckInputs(o), "") << "sound inputs pass";

    auto problem = [&](auto change) {
        Options bad = o;
        change(bad);
        return batch::CheckInputs(bad);
    };
    EXPECT_NE(problem([](Options& b) { b.volumePath += ".missing"; }).find("No such file"),
              std::string::npos);
    EXPECT_NE(problem([&](Options& b) {
                  b.volumePath = files.WriteBytes("tiny.vol", {8, 0, 8});
              }).find("not a volume file"),
              std::string::npos);
    // What only a reader can rule out (a folder, a file of another length
    // than its header says) is the load's to name, as in the viewer.
    auto loadProblem = [&](const std::string& volume) {
        Options bad = o;
        bad.volumePath = volume;
        bad.width = bad.height = 16;
        EXPECT_EQ(batch::CheckInputs(bad), "") << volume;
        const std::string error = batch::StartSession(bad);
        batch::EndSession();
        return error;
    };
    EXPECT_NE(loadProblem(ScratchDir()).find("holds no DICOM series"), std::string::npos) << "a folder";
    EXPECT_NE(
        loadProblem(files.WriteBytes("short.vol", {8, 0, 8, 0, 8, 0, 1})).find("shorter than its header"),
        std::string::npos);
    EXPECT_NE(problem([&](Options& b) {
                  b.tfPath = files.WriteBytes("one.tf", {1, 0, 0, 0});
              }).find("Not a transfer function"),
              std::string::npos);
    EXPECT_NE(
        problem([&](Options& b) { b.outputPath = ScratchDir() + "/no/such/out.png"; }).find("does not exist"),
        std::string::npos);
    EXPECT_NE(problem([&](Options& b) { b.outputPath = ScratchDir(); }).find("it is a folder"),
              std::string::npos);
    const std::string kept = files.WriteBytes("kept.png", {1, 2, 3});
    ASSERT_EQ(::chmod(kept.c_str(), 0444), 0);
    EXPECT_NE(problem([&](Options& b) { b.outputPath = kept; }).find("read-only"), std::string::npos);
}

TEST_F(RenderTest, SessionReportsTheProgramsOwnMessages) {
    RenderFiles files = Files();
    Options o;
    o.volumePath = files.Volume(8);
    o.width = 32;
    o.height = 32;
    gpu::testing::FailNthCreation(gpu::testing::CreationKind::Texture3D, 1);
    const std::string error = batch::StartSession(o);
    EXPECT_NE(error.find("CreateTexture failed"), std::string::npos) << error;
    EXPECT_EQ(Renderer.device, nullptr) << "a failed start releases the device";
}

int ChildrenEnded = 0;

// A scan is recognised and read by one child, as in the viewer: the checks
// before the device start none.
TEST_F(RenderTest, AScanCostsOneChild) {
    std::vector<double> values(256);
    std::iota(values.begin(), values.end(), 0.0);
    Options o;
    o.volumePath = ScratchDir() + "/one.nii";
    o.width = o.height = 16;
    ASSERT_EQ(scan_test::WriteScan(o.volumePath, {{8, 8, 4}}, values), "");
    struct sigaction counting = {}, before = {};
    counting.sa_handler = [](int) { ++ChildrenEnded; };
    ASSERT_EQ(::sigaction(SIGCHLD, &counting, &before), 0);
    EXPECT_EQ(batch::CheckInputs(o) + std::to_string(ChildrenEnded), "0") << "the checks start no reader";
    EXPECT_EQ(batch::StartSession(o), "");
    ::sigaction(SIGCHLD, &before, nullptr);
    EXPECT_EQ(ChildrenEnded, 1) << "one child recognises and reads the scan";
}

// The real program, run as a user would.
struct Outcome {
    int status = -1;
    std::string out, err;
};

// `shell` runs before the program in the same shell (limits, traps).
Outcome RunProgram(const std::string& args, const std::string& dir, const std::string& shell = "") {
    const std::string out = dir + "/stdout.txt", err = dir + "/stderr.txt";
    const std::string command = std::string("cd ") + dir + " && " + shell +
                                " DISPLAY= WAYLAND_DISPLAY= " + TAMLO_RENDER_PROGRAM + " " + args + " >" +
                                out + " 2>" + err;
    const int raw = std::system(command.c_str());
    Outcome o;
    o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::stringstream so, se;
    so << std::ifstream(out).rdbuf();
    se << std::ifstream(err).rdbuf();
    o.out = so.str();
    o.err = se.str();
    return o;
}

class RenderProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tamlo-render-XXXXXX";
        dir_ = ::mkdtemp(pattern);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string dir_;
};

TEST_F(RenderProgramTest, ErrorsAreOneLineAndANonZeroStatus) {
    RenderFiles files(dir_);
    const std::string volume = files.Volume(8);
    const std::string badTf = files.WriteBytes("bad.tf", {9, 0, 0, 0, 1});
    const std::vector<std::tuple<std::string, int, std::string>> cases = {
        {"missing.vol", 1, "cannot open volume file"},
        {badTf, 1, "not a volume file"},
        {files.WriteBytes("short.vol", {4, 0, 4, 0, 4, 0, 1, 2}), 1, "shorter than its header says"},
        {volume + " --tf " + badTf, 1, "Not a transfer function"},
        {volume + " --tf missing.tf", 1, "Unable to read transfer function"},
        {volume + " --size 12", 2, "--size takes"},
        {volume + " --wat", 2, "unknown option --wat"},
        {volume + " --data " + dir_, 1, "fx.fx"},
    };
    for (const auto& [args, status, text] : cases) {
        const Outcome o = RunProgram(args, dir_);
        EXPECT_EQ(o.status, status) << args << "\n" << o.err;
        const std::string lastLine = o.err.substr(o.err.rfind('\n', o.err.size() - 2) + 1);
        EXPECT_EQ(lastLine.rfind("tamlo-render: ", 0), 0u) << args << ": " << o.err;
        EXPECT_NE(lastLine.find(text), std::string::npos) << args << ": " << o.err;
        if (status == 2 || text != "fx.fx") {
            EXPECT_EQ(o.err, lastLine) << args << ": the error is the only line";
        }
        EXPECT_TRUE(o.out.empty()) << args << ": nothing on stdout";
    }
    const Outcome help = RunProgram("--help", dir_);
    EXPECT_EQ(help.status, 0);
    for (const char* option :
         {"--tf", "--size", "--pitch", "--yaw", "--distance", "--panel", "--output", "--frames"})
        EXPECT_NE(help.out.find(option), std::string::npos) << "--help describes " << option;
}

TEST_F(RenderProgramTest, WritesAnOpaquePngAndTimesFrames) {
    RenderFiles files(dir_);
    const std::string volume = files.Volume(24);
    const Outcome o = RunProgram(volume + " --size 96x64 --distance 2 -o pic.png --frames 3", dir_);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.out.find(dir_ + "/pic.png\n"), std::string::npos) << "prints the picture's path: " << o.out;
    for (const char* line : {"frame 1: ", "frame 2: ", "frame 3: ", "3 frames at 96 x 64: median "})
        EXPECT_NE(o.out.find(line), std::string::npos) << o.out;
    EXPECT_NE(o.out.find(", min "), std::string::npos) << o.out;
    EXPECT_NE(o.out.find(", max "), std::string::npos) << o.out;
    // Each frame's CPU time beside its wall time: bench/shading_frames.sh reads it.
    const size_t third = o.out.find("frame 3: ");
    ASSERT_NE(third, std::string::npos) << o.out;
    const std::string line = o.out.substr(third, o.out.find('\n', third) - third);
    EXPECT_NE(line.find(" ms (CPU "), std::string::npos) << line;
    int w = 0, h = 0, channels = 0;
    ASSERT_TRUE(stbi_info((dir_ + "/pic.png").c_str(), &w, &h, &channels)) << "a PNG was written";
    EXPECT_EQ(w, 96);
    EXPECT_EQ(h, 64);
    EXPECT_EQ(channels, 3) << "written opaque, as the window shows it";
    // Wheel notches, each timed to its first frame and to the whole picture.
    const Outcome notches = RunProgram(volume + " --size 96x64 -o notch.png --frames 2 --timing wheel", dir_);
    ASSERT_EQ(notches.status, 0) << notches.err;
    for (const char* line :
         {"frame 2: ", "whole picture ", " ms after the notch\n", "whole picture after a notch: median "})
        EXPECT_NE(notches.out.find(line), std::string::npos) << notches.out;
}

// A turntable: N pictures on one device, the first the plain picture, each
// turned by a further N-th of a full turn about the vertical axis.
TEST_F(RenderProgramTest, ATurntableWritesNPicturesAroundTheVerticalAxis) {
    RenderFiles files(dir_);
    const std::string volume = files.Volume(24);
    const std::string common = volume + " --size 40x32 --pitch 0.3 --distance 2.5";
    const Outcome o = RunProgram(common + " --turntable 3 -o spin.png", dir_);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, dir_ + "/spin-0001.png\n" + dir_ + "/spin-0002.png\n" + dir_ + "/spin-0003.png\n");
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/spin.png")) << "only the numbered pictures";
    ASSERT_EQ(RunProgram(common + " -o plain.png", dir_).status, 0);
    ASSERT_EQ(RunProgram(common + " --yaw 4.18879020 -o third.png", dir_).status, 0);
    auto bytes = [&](const std::string& name) {
        std::ifstream in(dir_ + "/" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(bytes("spin-0001.png"), bytes("plain.png")) << "the turn starts at the start yaw";
    EXPECT_EQ(bytes("spin-0003.png"), bytes("third.png")) << "the third picture is two thirds round";
    EXPECT_NE(bytes("spin-0001.png"), bytes("spin-0002.png"));
    EXPECT_NE(bytes("spin-0002.png"), bytes("spin-0003.png"));

    for (const auto& [args, text] : std::vector<std::pair<std::string, std::string>>{
             {" --turntable 0", "--turntable takes a count from 1 to 9999"},
             {" --turntable 2 --frames 2", "do not go together"},
         }) {
        const Outcome bad = RunProgram(common + args, dir_);
        EXPECT_EQ(bad.status, 2) << args;
        EXPECT_NE(bad.err.find(text), std::string::npos) << bad.err;
    }
    // A shorter turn over a longer one's pictures says which are left.
    ASSERT_EQ(RunProgram(common + " --turntable 5 -o long.png", dir_).status, 0);
    const Outcome shorter = RunProgram(common + " --turntable 2 -o long.png", dir_);
    EXPECT_EQ(shorter.status, 0) << shorter.err;
    EXPECT_NE(shorter.err.find("long-0003.png to " + dir_ + "/long-0005.png are left from an earlier turn"),
              std::string::npos)
        << shorter.err;
    EXPECT_NE(shorter.err.find("-frames:v 2"), std::string::npos) << shorter.err;
    EXPECT_EQ(o.err, "") << "a turn over nothing says nothing";

    std::filesystem::remove(dir_ + "/spin-0002.png");
    std::filesystem::create_directory(dir_ + "/spin-0002.png");
    const Outcome blocked = RunProgram(common + " --turntable 3 -o spin.png", dir_);
    EXPECT_EQ(blocked.status, 1);
    EXPECT_NE(blocked.err.find("cannot write spin-0002.png: it is a folder"), std::string::npos)
        << blocked.err;
}

// A 4-D scan of a ball moving along x: --time draws one point, one past the
// end is refused naming the count, and --time-series draws every point,
// named as a turntable's pictures.
TEST_F(RenderProgramTest, ASeriesIsDrawnAPointAtATime) {
    scan_test::ScanSpec spec;
    spec.dims = {16, 16, 16};
    spec.timePoints = 5;
    std::vector<double> values(16 * 16 * 16 * 5, 0.0);
    for (size_t i = 0; i < values.size(); ++i) {
        const int x = int(i % 16), y = int(i / 16 % 16), z = int(i / 256 % 16), t = int(i / 4096);
        const int cx = 3 + 2 * t;
        values[i] = (x - cx) * (x - cx) + (y - 8) * (y - 8) + (z - 8) * (z - 8) < 12 ? 1000.0 : 0.0;
    }
    ASSERT_EQ(scan_test::WriteScan(dir_ + "/moving.nii", spec, values), "");
    const std::string common = dir_ + "/moving.nii --size 32x32 --distance 2";
    const Outcome past = RunProgram(common + " --time 7 -o late.png", dir_);
    EXPECT_EQ(past.status, 1);
    EXPECT_NE(past.err.find("tamlo-render: --time 7: the volume has 5 time points (0 to 4)\n"),
              std::string::npos)
        << past.err;
    ASSERT_EQ(RunProgram(common + " --time 3 -o third.png", dir_).status, 0);
    ASSERT_EQ(RunProgram(common + " -o plain.png", dir_).status, 0);
    const Outcome series = RunProgram(common + " --time-series -o s.png", dir_);
    ASSERT_EQ(series.status, 0) << series.err;
    std::string names;
    for (int i = 1; i <= 5; ++i)
        names += dir_ + "/s-000" + std::to_string(i) + ".png\n";
    EXPECT_EQ(series.out, names);
    auto bytes = [&](const std::string& name) {
        std::ifstream in(dir_ + "/" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(bytes("s-0001.png"), bytes("plain.png")) << "the first point unless --time says";
    EXPECT_EQ(bytes("s-0004.png"), bytes("third.png")) << "picture 4 is point 3";
    EXPECT_NE(bytes("s-0001.png"), bytes("s-0002.png")) << "the ball moved";
    const Outcome play = RunProgram(common + " --frames 3 --timing play -o p.png", dir_);
    ASSERT_EQ(play.status, 0) << play.err;
    EXPECT_NE(play.out.find("playing 5 time points: "), std::string::npos) << play.out;
    EXPECT_NE(play.out.find(" frames per second; switch to a time point: median "), std::string::npos)
        << play.out;
    // A volume of one point has point 0 alone and nothing to play.
    const std::string one = RenderFiles(dir_).Volume(16) + " --size 32x32";
    EXPECT_EQ(RunProgram(one + " --time 1", dir_).err,
              "tamlo-render: --time 1: the volume has 1 time point (0)\n");
    EXPECT_NE(RunProgram(one + " --frames 2 --timing play", dir_).err.find("no series to play"),
              std::string::npos);
    EXPECT_NE(RunProgram("--help", dir_).out.find("--time-series"), std::string::npos);
}

// A crop that keeps nothing is a picture of the background, as the viewer
// shows it.
TEST_F(RenderProgramTest, ACropThatKeepsNothingIsTheBackground) {
    const std::string common = RenderFiles(dir_).Volume(24) + " --size 48x96 --distance 2";
    const Outcome o = RunProgram(common + " --crop 0,1,0,1,1,1 -o empty.png", dir_);
    ASSERT_EQ(o.status, 0) << o.err;
    int w = 0, h = 0, n = 0;
    stbi_uc* empty = stbi_load((dir_ + "/empty.png").c_str(), &w, &h, &n, 3);
    ASSERT_TRUE(empty != nullptr && w * h == 48 * 96);
    const std::vector<uint8_t> rows(empty, empty + w * (h - 40) * 3);  // above the closed panel's handle
    stbi_image_free(empty);
    for (size_t i = 0; i < rows.size(); i += 3)
        ASSERT_EQ(rows[i] * 65536 + rows[i + 1] * 256 + rows[i + 2], 128) << "the dark blue background";
}

// --slices: the planes change the picture where they lie; a plane past the
// grid or a list that is not one is refused in one line before any picture.
TEST_F(RenderProgramTest, SlicesDrawPlanesAndRefuseWhatIsNotThere) {
    const std::string common = RenderFiles(dir_).Volume(24) + " --size 64x96 --distance 2 ";
    const auto load = [&](const std::string& name) {
        int w = 0, h = 0, n = 0;
        stbi_uc* p = stbi_load((dir_ + "/" + name).c_str(), &w, &h, &n, 3);
        std::vector<uint8_t> rgb;
        if (p != nullptr)
            rgb.assign(p, p + w * h * 3);
        stbi_image_free(p);
        return rgb;
    };
    ASSERT_EQ(RunProgram(common + "-o none.png", dir_).status, 0);
    const Outcome one = RunProgram(common + "--slices z=10 -o z.png", dir_);
    ASSERT_EQ(one.status, 0) << one.err;
    ASSERT_EQ(RunProgram(common + "--slices=z=10,x=3 -o zx.png", dir_).status, 0);
    const std::vector<uint8_t> none = load("none.png"), z = load("z.png"), zx = load("zx.png");
    ASSERT_EQ(none.size(), size_t{64 * 96 * 3});
    ASSERT_EQ(z.size(), none.size());
    ASSERT_EQ(zx.size(), none.size());
    EXPECT_NE(z, none) << "the plane shows";
    EXPECT_NE(zx, z) << "a second plane shows too";
    // One Ctrl+wheel notch over the plane (the viewer's handler) draws it a layer on, exactly.
    const Outcome notch = RunProgram(common + "--slices z=10 --frames 1 --timing plane-wheel -o n.png", dir_);
    ASSERT_EQ(notch.status, 0) << notch.err;
    ASSERT_EQ(RunProgram(common + "--slices z=11 -o z11.png", dir_).status, 0);
    EXPECT_EQ(load("n.png"), load("z11.png")) << notch.out;
    EXPECT_NE(load("n.png"), z);
    ASSERT_EQ(RunProgram(common + "--slices z=10 --slice-outlines -o zo.png", dir_).status, 0);
    EXPECT_NE(load("zo.png"), z) << "the outlines show";
    for (const auto& [args, text] : std::vector<std::pair<std::string, std::string>>{
             {"--slices z=24", "--slices z=24 lies past the grid: its layers are 0..23"},
             {"--slices y=", "--slices takes x=N,y=N,z=N"},
             {"--slices w=1", "--slices takes x=N,y=N,z=N (any of them), not \"w=1\""},
             {"--slices x=1,,y=2", "not \"\""},
             {"--slices x=1.5", "--slices x takes a layer from 0, not \"1.5\""},
             {"--slices z=1,z=2", "--slices names z twice"},
             {"--frames 1 --timing plane-wheel",
              "--timing plane-wheel moves a plane: give one with --slices"}}) {
        const Outcome o = RunProgram(common + args + " -o bad.png", dir_);
        EXPECT_NE(o.status, 0) << args;
        EXPECT_EQ(o.err.rfind("tamlo-render: ", 0), 0u) << args << ": " << o.err;
        EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << args << ": one line: " << o.err;
        EXPECT_NE(o.err.find(text), std::string::npos) << args << ": " << o.err;
        EXPECT_FALSE(std::filesystem::exists(dir_ + "/bad.png")) << args;
    }
}

// The picture over a chosen background, and without one (its alpha).
TEST_F(RenderProgramTest, ABackgroundOfChoiceOrNone) {
    const std::string common = RenderFiles(dir_).Volume(24) + " --size 96x64 --distance 2 -o pic.png ";
    for (const char* option : {"--background white", "--transparent"}) {
        const Outcome o = RunProgram(common + option, dir_);
        ASSERT_EQ(o.status, 0) << o.err;
        int w = 0, h = 0, n = 0;
        stbi_uc* p = stbi_load((dir_ + "/pic.png").c_str(), &w, &h, &n, 4);
        ASSERT_TRUE(p != nullptr && w == 96 && h == 64) << option;
        const bool clear = option[2] == 't';
        EXPECT_EQ(n, clear ? 4 : 3) << option << ": alpha only when transparent";
        for (int corner : {0, 95})
            EXPECT_EQ(p[corner * 4] + p[corner * 4 + 1] + p[corner * 4 + 2] + p[corner * 4 + 3] * 1000,
                      clear ? 0 : 3 * 255 + 255000)
                << option << ": corner " << corner;
        EXPECT_GT(p[(12 * 96 + 48) * 4 + 3], clear ? 0 : 254) << option << ": the volume covers the middle";
        stbi_image_free(p);
    }
}

// A DICOM series: its folder and any one of its files give the same
// picture; a broken scan is one line with the reader's reason.
TEST_F(RenderProgramTest, ReadsScansAndDicomFolders) {
    scan_test::ScanSpec spec;
    spec.dims = {12, 10, 6};
    spec.spacing = {1.5, 1.5, 3};
    std::vector<double> values;
    for (uint32_t z = 0; z < 6; ++z)
        for (uint32_t y = 0; y < 10; ++y)
            for (uint32_t x = 0; x < 12; ++x)
                values.push_back(x > 3 && x < 9 && y > 2 ? 900.0 + 20 * z : -1000.0);
    std::filesystem::create_directories(dir_ + "/ct");
    ASSERT_EQ(scan_test::WriteDicomSeries(dir_ + "/ct", spec, values, {"s5", "s2", "s0", "s4", "s1", "s3"}),
              "");
    const Outcome folder = RunProgram("ct --size 64x48 -o folder.png", dir_);
    ASSERT_EQ(folder.status, 0) << folder.err;
    EXPECT_EQ(folder.err, "") << "nothing from the readers, nor the debug output";
    const Outcome debug = RunProgram("ct --size 64x48 -o debug.png", dir_, "TAMLO_DEBUG=1");
    EXPECT_NE(debug.err.find("D3DResize()\n"), std::string::npos) << "the debug output on request";
    const Outcome file = RunProgram("ct/s4 --size 64x48 -o file.png", dir_);
    ASSERT_EQ(file.status, 0) << file.err;
    auto bytes = [&](const std::string& name) {
        std::ifstream in(dir_ + "/" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(bytes("folder.png"), bytes("file.png"));

    ASSERT_EQ(scan_test::WriteScan(dir_ + "/whole.nii.gz", spec, values), "");
    std::filesystem::copy_file(dir_ + "/whole.nii.gz", dir_ + "/cut.nii.gz");
    std::filesystem::resize_file(dir_ + "/cut.nii.gz", std::filesystem::file_size(dir_ + "/cut.nii.gz") - 40);
    const Outcome cut = RunProgram("cut.nii.gz --size 64x48", dir_);
    EXPECT_EQ(cut.status, 1);
    EXPECT_EQ(cut.err.rfind("tamlo-render: error: Volume: Unable to read scan (", 0), 0u) << cut.err;
    EXPECT_NE(cut.err.find("ends before its last sample"), std::string::npos) << cut.err;
    EXPECT_EQ(std::count(cut.err.begin(), cut.err.end(), '\n'), 1) << "one error: " << cut.err;

    // Junk under a scan's name is what the viewer says it is, never
    // measured as a volume file.
    for (const char* name : {"junk.nii", "junk.nrrd", "junk.mha", "junk.dcm"}) {
        std::vector<uint8_t> junk(5000);
        for (size_t i = 0; i < junk.size(); ++i)
            junk[i] = static_cast<uint8_t>(i * 7919 % 251 + 3);
        RenderFiles(dir_).WriteBytes(name, junk);
        const Outcome o = RunProgram(std::string(name) + " --size 32x32", dir_);
        EXPECT_EQ(o.status, 1) << name;
        EXPECT_NE(o.err.find("no reader recognises its content"), std::string::npos) << name << ": " << o.err;
    }
}

// The picture is written whole or not at all, never over an input, and only
// under a name that says PNG.
TEST_F(RenderProgramTest, OutputsThatCannotBeRightAreRefused) {
    RenderFiles files(dir_);
    const std::string volume = files.Volume(24);
    const std::string before = [&] {
        std::ifstream in(volume, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {volume + " -o " + volume, "it is an input"},
        {volume + " -o picture.jpg", "name it .png"},
    };
    for (const auto& [args, text] : cases) {
        const Outcome o = RunProgram(args, dir_);
        EXPECT_EQ(o.status, 1) << args;
        EXPECT_NE(o.err.find(text), std::string::npos) << args << ": " << o.err;
    }
    std::ifstream in(volume, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), before) << "the input is untouched";
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/picture.jpg"));

    // Every file a header names is the input too: a picture's name, or a
    // turn's, never replaces a scan's data file.
    const std::string samples(64, '\x40');
    for (const char* name : {"d.png", "e-0001.png", "e-0002.png", "e-0003.png", "e-0004.png"})
        std::ofstream(dir_ + "/" + name) << samples;
    std::ofstream(dir_ + "/d.nhdr") << "NRRD0004\ntype: uchar\ndimension: 3\nsizes: 4 4 4\n"
                                       "encoding: raw\ndata file: d.png\n";
    std::ofstream(dir_ + "/e.mhd") << "NDims = 3\nDimSize = 4 4 4\nElementType = MET_UCHAR\n"
                                      "ElementDataFile = e-%04d.png 1 4 1\n";
    for (const std::string args : {"d.nhdr -o d.png", "e.mhd --turntable 3 -o e.png"}) {
        const Outcome o = RunProgram(args + " --size 16x16", dir_);
        EXPECT_EQ(o.status, 1) << args;
        EXPECT_NE(o.err.find(".png: it is an input, a data file the input's header names"), std::string::npos)
            << args << ": " << o.err;
    }
    EXPECT_EQ(std::filesystem::file_size(dir_ + "/d.png") + std::filesystem::file_size(dir_ + "/e-0001.png"),
              128u)
        << "the data files are untouched";

    // A disk that fills up (a file size limit of 2 KiB; the picture is larger).
    const Outcome full = RunProgram(volume + " --size 256x256 --distance 1.5 -o full.png", dir_,
                                    "ulimit -f 2 && trap '' XFSZ &&");
    EXPECT_EQ(full.status, 1) << full.out << full.err;
    EXPECT_NE(full.err.find("tamlo-render: cannot write "), std::string::npos) << full.err;
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/full.png")) << "no partial picture under the name";
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/full.png.partial"));
}

TEST(RenderStats, MedianMinMax) {
    const batch::FrameStats odd = batch::Summarise({5, 1, 9});
    EXPECT_EQ(odd.median, 5);
    EXPECT_EQ(odd.min, 1);
    EXPECT_EQ(odd.max, 9);
    EXPECT_EQ(batch::Summarise({4, 1, 2, 8}).median, 3) << "even count: the mean of the middle two";
}

}  // namespace

#include "tests/gpu/viewer/viewer_harness.h"

#include <stb/stb_image_write.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "app/app_state.h"
#include "platform/gpu/gpu.h"
#include "render/renderer.h"
#include "tools/volume/phantom.h"
#include "ui/tab.h"
#include "volume/volume.h"

namespace viewer_test {

Rgba Frame::At(uint32_t x, uint32_t y) const {
    const uint8_t* p = &rgba[(static_cast<size_t>(y) * width + x) * 4];
    return {p[0], p[1], p[2], p[3]};
}

// The target's alpha is the volume's coverage, not something to show: the
// picture is written as the window shows it, opaque.
bool Frame::SavePng(const std::string& path) const {
    std::vector<uint8_t> rgb;
    rgb.reserve(rgba.size() / 4 * 3);
    for (size_t i = 0; i < rgba.size(); i += 4)
        rgb.insert(rgb.end(), {rgba[i], rgba[i + 1], rgba[i + 2]});
    return stbi_write_png(path.c_str(), static_cast<int>(width), static_cast<int>(height), 3, rgb.data(),
                          static_cast<int>(width * 3)) != 0;
}

void ViewerTest::SetUp() {
    // No display: the shell takes SDL's offscreen driver, as on a server.
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    ASSERT_EQ(::chdir(DataDir().c_str()), 0) << DataDir();
    shell::testing::Reset();
    shell::testing::RecordMessageBoxes(true);
    gpu::testing::ClearCreationFailures();
    presentsAtStart_ = gpu::testing::PresentCount();
    // A fast device whatever this machine is doing: every frame whole unless
    // a test says the device is slow (layerSeconds), and no frame's time
    // overrules it.
    Renderer.timeLayers = false;
    // These tests check the slices pass (bands, steps, its pictures); the
    // CPU's pass, which llvmpipe would choose, has tests of its own.
    Renderer.volumePassChoice = VolumePassChoice::Slices;
    Renderer.layerSeconds = kFastLayerSeconds;
}

void ViewerTest::TearDown() {
    gpu::testing::ClearCreationFailures();
    Renderer.timeLayers = true;
    // A failed start-up leaves its objects for the process to drop; a test
    // process runs many start-ups, so let them go here.
    ReleaseDevice();
    Volume.Unload();
    EditorTab.Release();
    EditorTab.ForgetChannels();
    const ControlPoint defaults[2] = {{0, 0, 0, 0, 0}, {1, 1, 1, 1, 1}};
    EditorTab.ReplacePoints(defaults, 2);
    EditorTab.selectedHsl = HslColor{0, 0, 0};
    EditorTab.state = UI::kTabClosed;
    EditorTab.slideOffset = 0;
    EditorTab.dragMode = UI::kDragNone;
    EditorTab.history.Clear();
    ResetApplicationState();
    shell::testing::Reset();
    if (!scratch_.empty() && std::getenv("TAMLO_KEEP_SCRATCH") == nullptr)
        std::filesystem::remove_all(scratch_);
    scratch_.clear();
    startFile_.clear();
}

int ViewerTest::Run(std::vector<std::function<void()>> steps) {
    size_t next = 0;
    bool exitChosen = false;
    shell::testing::SetIdleHook([&] {
        if (next < steps.size()) {
            repeatStep_ = false;
            steps[next]();
            if (!repeatStep_)
                ++next;
        } else if (!exitChosen) {
            exitChosen = true;
            Command(kCmdFileExit);
        }
    });
    const int result =
        TamloMain(nullptr, shell::SW_SHOWDEFAULT, startFile_.empty() ? nullptr : startFile_.c_str());
    shell::testing::SetIdleHook(nullptr);
    boxes_ = shell::testing::TakeMessageBoxes();
    return result;
}

std::function<void()> ViewerTest::WaitFor(std::function<bool()> done, int maxPasses) {
    auto passes = std::make_shared<int>(0);
    return [this, done, maxPasses, passes] {
        if (done())
            return;
        if (++*passes >= maxPasses) {
            ADD_FAILURE() << "the awaited state did not come within " << maxPasses << " frames";
            return;
        }
        repeatStep_ = true;
    };
}

void ViewerTest::Post(shell::UINT message, shell::WPARAM wParam, shell::LPARAM lParam) {
    shell::testing::InjectMessage(MainWindow, message, wParam, lParam);
}

void ViewerTest::Size(int width, int height) {
    Post(shell::WM_SIZE, 0, shell::MAKELPARAM(static_cast<uint16_t>(width), static_cast<uint16_t>(height)));
}

void ViewerTest::Command(uint16_t id) {
    Post(shell::WM_COMMAND, id, 0);
}

void ViewerTest::Mouse(shell::UINT message, int x, int y) {
    Post(message, 0, shell::MAKELPARAM(static_cast<uint16_t>(x), static_cast<uint16_t>(y)));
}

Frame ViewerTest::ReadFrame() {
    Frame frame;
    if (Renderer.swapChain)
        gpu::testing::ReadBackBuffer(Renderer.swapChain, &frame.rgba, &frame.width, &frame.height);
    return frame;
}

std::string ViewerTest::DataDir() {
    return TAMLO_DATA_DIR;
}

std::string ViewerTest::ScratchDir() {
    if (scratch_.empty()) {
        char pattern[] = "/tmp/tamlo-viewer-XXXXXX";
        scratch_ = ::mkdtemp(pattern);
    }
    return scratch_;
}

void WriteVolume(const std::string& path, int dimX, int dimY, int dimZ,
                 const std::vector<uint16_t>& samples) {
    std::string error;
    ASSERT_TRUE(phantom::WriteVolumeFile(path, dimX, dimY, dimZ, samples, &error)) << error;
}

}  // namespace viewer_test

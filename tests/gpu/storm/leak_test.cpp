// No GPU object outlives its use: File > Open / File > Close cycles and
// transfer-function edits end with the live-object count they started from,
// and the whole program lets every object go. Run under LeakSanitizer
// (detect_leaks=1, see lsan.supp) this also checks host memory.
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <iostream>
#include <optional>

#include "app/app_state.h"
#include "platform/gpu/gpu.h"
#include "render/renderer.h"
#include "tests/gpu/storm/hostile_files.h"
#include "tests/gpu/viewer/viewer_harness.h"
#include "ui/tab.h"
#include "volume/volume.h"

namespace viewer_test {
namespace {

// Mesa unloads its driver (and LLVM with it) when the display goes; what it
// leaked would then be reported from an unknown module, which no
// suppression can name. Pinning the loaded driver libraries keeps their
// frames symbolised, so lsan.supp can suppress them by library.
void PinGraphicsDrivers() {
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void*) {
            const std::string name = info->dlpi_name ? info->dlpi_name : "";
            if (name.find("/dri/") != std::string::npos || name.find("libLLVM") != std::string::npos ||
                name.find("libgallium") != std::string::npos)
                ::dlopen(name.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
            return 0;
        },
        nullptr);
}

class LeakTest : public ViewerTest {};

TEST_F(LeakTest, OpenCloseCyclesAndTransferEditsReturnToTheSameObjectCount) {
    constexpr int kCycles = 100, kEdits = 1000;
    const std::string path = ScratchDir() + "/v.vol", tf = ScratchDir() + "/t.tf";
    storm_test::WriteSmallVolume(path, 6, 5, 4);
    storm_test::WriteTransferFile(tf, {{0, 0, 0, 0, 0}, {0.4f, 1, 0, 0, 0.5f}, {1, 1, 1, 1, 1}});
    std::vector<std::optional<std::string>> script(kCycles + 1, path);
    script.push_back(tf);
    shell::testing::SetFileDialogScript(script);

    int afterFirst = -1, afterCycles = -1, beforeEdits = -1, afterEdits = -1, edits = 0;
    // The cycles go straight to the window procedure between two frames: what
    // is counted is objects, and drawing each would only cost time.
    auto command = [](uint16_t id) { WndProc(MainWindow, shell::WM_COMMAND, id, 0); };
    std::vector<std::function<void()>> steps = {[] {
                                                    PinGraphicsDrivers();
                                                    Size(120, 680);
                                                },
                                                [&] {
                                                    command(kCmdFileOpen);
                                                    command(kCmdFileClose);
                                                },
                                                [&] { afterFirst = gpu::testing::LiveObjectCount(); },
                                                [&] {
                                                    for (int i = 1; i < kCycles; ++i) {
                                                        command(kCmdFileOpen);
                                                        command(kCmdFileClose);
                                                    }
                                                },
                                                [&] { afterCycles = gpu::testing::LiveObjectCount(); }};
    // Open the volume (zoomed far out: its frames are cheap) and the panel,
    // whose slide runs on the frame clock.
    steps.push_back([] {
        Command(kCmdFileOpen);
        Command(kCmdTransferOpen);
        for (int i = 0; i < 12; ++i)
            Post(shell::WM_MOUSEWHEEL, static_cast<shell::WPARAM>(static_cast<uint16_t>(-120)) << 16, 0);
    });
    steps.push_back([] {
        Mouse(shell::WM_LBUTTONDOWN, 50, ClientArea.height - 10);
        Mouse(shell::WM_LBUTTONUP, 50, ClientArea.height - 10);
    });
    // Frames until the panel is open, then the edits, then idle mode (cheap
    // frames) for whatever waiting steps are left.
    bool edited = false;
    auto editOnce = [&] {
        ASSERT_EQ(EditorTab.state, UI::kTabOpen) << "the panel opened";
        beforeEdits = gpu::testing::LiveObjectCount();
        const int h = ClientArea.height, midX = ClientArea.width / 4;
        auto send = [](shell::UINT message, int x, int y) {
            WndProc(MainWindow, message, 0,
                    shell::MAKELPARAM(static_cast<uint16_t>(x), static_cast<uint16_t>(y)));
        };
        // Insert a point, recolour it from the lightness bar, remove it: each
        // edit rebuilds the geometry and the lookup texture.
        for (uint32_t n = EditorTab.pointCount; edits < kEdits && !HasFailure(); ++edits) {
            const int x = midX + edits % 5;
            switch (edits % 3) {
                case 0:
                    send(shell::WM_LBUTTONDOWN, x, h - 300);
                    send(shell::WM_LBUTTONUP, x, h - 300);
                    EXPECT_EQ(EditorTab.pointCount, n + 1) << "edit " << edits << " inserts";
                    break;
                case 1:
                    send(shell::WM_LBUTTONDOWN, 230, h - 500);
                    send(shell::WM_LBUTTONUP, 230, h - 430 - edits % 50);
                    break;
                default:
                    send(shell::WM_RBUTTONDOWN, x - 1, h - 300);
                    send(shell::WM_RBUTTONUP, x - 1, h - 300);
                    EXPECT_EQ(EditorTab.pointCount, n) << "edit " << edits << " removes";
                    break;
            }
        }
    };
    // The context holds what the last frame bound (as Direct3D's does), so
    // the count after the edits is taken one frame later.
    for (int i = 0; i < 150; ++i)
        steps.push_back([&] {
            if (afterEdits >= 0)
                return;
            if (edited) {
                afterEdits = gpu::testing::LiveObjectCount();
                Command(kCmdFileClose);
            } else if (EditorTab.state != UI::kTabOpen) {
                ::usleep(10000);
            } else {
                edited = true;
                editOnce();
            }
        });
    EXPECT_EQ(Run(std::move(steps)), 0);
    EXPECT_TRUE(boxes_.empty()) << boxes_.size()
                                << " message box(es), first: " << (boxes_.empty() ? "" : boxes_[0].text);
    std::cout << "live GPU objects: after one open/close " << afterFirst << ", after " << kCycles
              << " cycles " << afterCycles << "; before " << edits << " transfer edits " << beforeEdits
              << ", after " << afterEdits << std::endl;
    RecordProperty("live_after_first_cycle", afterFirst);
    RecordProperty("live_after_cycles", afterCycles);
    RecordProperty("live_before_edits", beforeEdits);
    RecordProperty("live_after_edits", afterEdits);
    EXPECT_GT(afterFirst, 0);
    EXPECT_EQ(afterCycles, afterFirst) << kCycles << " open/close cycles";
    EXPECT_EQ(edits, kEdits);
    EXPECT_EQ(afterEdits, beforeEdits) << kEdits << " transfer-function edits";

    // The program has ended: what is still alive is only what the harness
    // lets go of for the next run.
    Volume.Unload();
    EditorTab.Release();
    EXPECT_EQ(gpu::testing::LiveObjectCount(), 0) << "objects left once the program and the editor are gone";
}

}  // namespace
}  // namespace viewer_test

// Start-up to the first presented frame: the real entry function, headless
// (SDL's offscreen window, EGL), from the call to the first Present, with the
// HLSL translation of all three shader pairs included. Each iteration is a
// whole program run in this process.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include <unistd.h>

#include "app/app_state.h"
#include "platform/gpu/gpu.h"
#include "platform/shell/shell.h"
#include "render/renderer.h"
#include "ui/tab.h"

namespace {

void BM_StartupToFirstFrame(benchmark::State& state) {
    for (auto _ : state) {
        shell::testing::Reset();
        shell::testing::RecordMessageBoxes(true);
        ResetApplicationState();
        const int presentsBefore = gpu::testing::PresentCount();
        const auto start = std::chrono::steady_clock::now();
        double seconds = -1;
        shell::testing::SetIdleHook([&] {
            if (seconds < 0 && gpu::testing::PresentCount() > presentsBefore) {
                seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                shell::testing::InjectMessage(MainWindow, shell::WM_COMMAND, kCmdFileExit, 0);
            }
        });
        TamloMain(nullptr, shell::SW_SHOWDEFAULT);
        shell::testing::SetIdleHook(nullptr);
        if (seconds < 0) {
            state.SkipWithError("the program ended before presenting a frame");
            return;
        }
        state.SetIterationTime(seconds);
        EditorTab.Release();
    }
}

BENCHMARK(BM_StartupToFirstFrame)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
    // The viewer reads its shaders and atlas from its working folder; no
    // display: the offscreen driver, as on a server.
    if (::chdir(TAMLO_DATA_DIR) != 0) {
        std::perror(TAMLO_DATA_DIR);
        return 1;
    }
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

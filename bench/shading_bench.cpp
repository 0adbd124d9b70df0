// What shading costs a still frame, measured in pairs: one process draws the
// bundled phantom unshaded and shaded in turn (off on, on off, off on, ...)
// and prints each pair's CPU times and their ratio, then the median ratio.
// Frames from separate processes scatter by more than the difference being
// measured when other work shares the machine (a neighbour's load lands on
// one process and not the next); two frames a second apart in one process
// see the same machine, so their ratio keeps still where their times do not.
//   tamlo_bench_shading [DISTANCE [PAIRS [WIDTHxHEIGHT]]]   (default 4 8 1280x1024)
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "render/renderer.h"
#include "tools/render/batch_render.h"

namespace {

// The CPU time of one whole frame, every rasteriser thread counted.
double FrameCpuMilliseconds(bool shading) {
    SetVolumeShading(shading);
    batch::PrepareTimedFrame(batch::Options::Timing::Full);
    const double start = batch::ProcessCpuMilliseconds();
    batch::RenderFrame();
    return batch::ProcessCpuMilliseconds() - start;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string distance = argc > 1 ? argv[1] : "4";
    const int pairs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 8;
    const std::string size = argc > 3 ? argv[3] : "1280x1024";
    const std::string volume = std::string(TAMLO_DATA_DIR) + "/head256.vol";
    const char* const renderArgs[] = {"tamlo-render", volume.c_str(),   "--size", size.c_str(),
                                      "--distance",   distance.c_str(), "--data", TAMLO_DATA_DIR};
    batch::Options options;
    std::string problem = batch::ParseOptions(static_cast<int>(std::size(renderArgs)), renderArgs, &options);
    if (problem.empty())
        problem = batch::CheckInputs(options);
    if (problem.empty()) {
        SetProgramDataFolders(batch::DataFoldersFor(options.dataDir));
        problem = batch::StartSession(options);
    }
    if (!problem.empty()) {
        std::fprintf(stderr, "tamlo_bench_shading: %s\n", problem.c_str());
        return 1;
    }
    // The first frame of each kind compiles the rasteriser's code for it.
    FrameCpuMilliseconds(false);
    FrameCpuMilliseconds(true);
    std::vector<double> ratios, unshaded, shaded;
    for (int i = 0; i < pairs; ++i) {
        // Alternate which comes first, so that a drift within a pair falls
        // on each kind equally often.
        const bool shadedFirst = i % 2 == 1;
        const double first = FrameCpuMilliseconds(shadedFirst);
        const double second = FrameCpuMilliseconds(!shadedFirst);
        unshaded.push_back(shadedFirst ? second : first);
        shaded.push_back(shadedFirst ? first : second);
        ratios.push_back(shaded.back() / unshaded.back());
        std::printf("pair %d: unshaded %.1f ms, shaded %.1f ms of CPU: %.3fx\n", i + 1, unshaded.back(),
                    shaded.back(), ratios.back());
    }
    batch::EndSession();
    const batch::FrameStats ratio = batch::Summarise(ratios);
    std::printf(
        "distance %s, %s, %d pairs: unshaded %.1f ms, shaded %.1f ms (medians); ratio median %.3fx, "
        "min %.3fx, max %.3fx\n",
        distance.c_str(), size.c_str(), pairs, batch::Summarise(unshaded).median,
        batch::Summarise(shaded).median, ratio.median, ratio.min, ratio.max);
    return 0;
}

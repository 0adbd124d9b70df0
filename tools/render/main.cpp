// tamlo-render: the viewer's picture of one volume, drawn headless, as a PNG;
// with --frames, the time each frame takes (--timing: which kind of frame);
// with --turntable, pictures for a movie of the volume turning; with
// --time-series, one picture per time point of a series.

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "render/renderer.h"
#include "tools/render/batch_render.h"
#include "volume/chunk_cache.h"
#include "volume/volume.h"

namespace {

int Fail(const std::string& message, int status = 1) {
    std::fprintf(stderr, "tamlo-render: %s\n", message.c_str());
    return status;
}

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const auto start = std::chrono::steady_clock::now();
    SetChunkCacheBudget(0);  // one read: no chunk is asked for twice
    batch::Options options;
    const std::string usageError = batch::ParseOptions(argc, argv, &options);
    if (!usageError.empty())
        return Fail(usageError, 2);
    if (options.help) {
        std::fputs(batch::UsageText(), stdout);
        return 0;
    }
    const std::string problem = batch::CheckInputs(options);
    if (!problem.empty())
        return Fail(problem);

    options.volumePath = batch::Absolute(options.volumePath);
    options.tfPath = batch::Absolute(options.tfPath);
    for (std::string& more : options.moreTfPaths)
        more = batch::Absolute(more);
    options.outputPath = batch::Absolute(options.outputPath);
    SetProgramDataFolders(batch::DataFoldersFor(options.dataDir));

    const std::string startError = batch::StartSession(options);
    if (!startError.empty())
        return Fail(startError);
    const double readyMs = MillisecondsSince(start);

    // A numbered series of pictures on one device: each is `show(i)` (the
    // camera turned, or a time point shown) and one more frame.
    const auto writePictures = [&](int count, const std::function<std::string(int)>& show,
                                   const std::function<std::string(int)>& nameOf) {
        for (int i = 0; i < count; ++i) {
            const std::string name = nameOf(i);
            std::string problem = show(i);
            if (problem.empty()) {
                batch::RenderFrame();
                problem = batch::WritePng(name, batch::ReadOutputPicture(options), options.transparent);
            }
            if (!problem.empty()) {
                batch::EndSession();
                return Fail(problem);
            }
            std::printf("%s\n", name.c_str());
        }
        batch::EndSession();
        const std::string stale = batch::StaleTurntableNote(options.outputPath, count);
        if (!stale.empty())
            std::fprintf(stderr, "tamlo-render: note: %s\n", stale.c_str());
        return 0;
    };
    if (options.turntable > 0)
        return writePictures(
            options.turntable,
            [&](int i) {
                batch::TurnTo(batch::TurntableYaw(options.yaw, i, options.turntable));
                return std::string();
            },
            [&](int i) { return batch::TurntablePictureName(options.outputPath, i); });
    if (options.timeSeries)
        return writePictures(
            static_cast<int>(Volume.timePoints),
            [](int t) {
                return batch::ShowTimePoint(static_cast<uint32_t>(t))
                           ? std::string()
                           : "not enough memory to show time point " + std::to_string(t);
            },
            [&](int t) { return batch::TimeSeriesPictureName(options.outputPath, t); });

    const int frames = options.frames > 0 ? options.frames : 1;
    // A notch is timed from the event itself: what it does before the frame
    // (the slices cut again) is part of the wait.
    const bool notches = options.frames > 0 && (options.timing == batch::Options::Timing::Wheel ||
                                                options.timing == batch::Options::Timing::PlaneWheel);
    // A played frame is timed from its switch to the next point on.
    const bool playing = options.frames > 0 && options.timing == batch::Options::Timing::Play;
    std::vector<double> switches;
    const uint32_t seriesPoints = Volume.timePoints;
    std::vector<double> times, wholeTimes;
    if (options.frames > 0 && options.timing != batch::Options::Timing::Full)
        batch::RenderFrame();  // the layer the timed frames start from
    for (int i = 0; i < frames; ++i) {
        auto frameStart = std::chrono::steady_clock::now();
        double cpuStart = batch::ProcessCpuMilliseconds();
        if (options.frames > 0)
            batch::PrepareTimedFrame(options.timing);
        if (!notches && !playing) {
            frameStart = std::chrono::steady_clock::now();
            cpuStart = batch::ProcessCpuMilliseconds();
        }
        batch::RenderFrame();
        times.push_back(MillisecondsSince(frameStart));
        if (options.frames > 0)
            std::printf("frame %d: %.2f ms (CPU %.2f ms)", i + 1, times.back(),
                        batch::ProcessCpuMilliseconds() - cpuStart);
        if (playing) {
            switches.push_back(batch::LastTimeSwitchMilliseconds());
            std::printf("; switch %.2f ms", switches.back());
        }
        if (notches) {
            batch::RefineToWhole();
            wholeTimes.push_back(MillisecondsSince(frameStart));
            std::printf("; whole picture %.2f ms after the notch", wholeTimes.back());
        }
        if (options.frames > 0)
            std::printf("\n");
    }
    const double refinedMs = options.frames > 0 && options.timing == batch::Options::Timing::PointDrag
                                 ? batch::FinishPointDrag()
                                 : -1;
    const batch::Picture picture = batch::ReadOutputPicture(options);
    const std::string writeError = batch::WritePng(options.outputPath, picture, options.transparent);
    batch::EndSession();
    if (!writeError.empty())
        return Fail(writeError);

    if (options.frames > 0) {
        const batch::FrameStats stats = batch::Summarise(times);
        std::printf("start-up to ready: %.1f ms; first frame: %.2f ms\n", readyMs, times.front());
        std::printf("%d frames at %d x %d: median %.2f ms, min %.2f ms, max %.2f ms\n", frames, options.width,
                    options.height, stats.median, stats.min, stats.max);
        if (notches) {
            const batch::FrameStats whole = batch::Summarise(wholeTimes);
            std::printf("whole picture after a notch: median %.2f ms, min %.2f ms, max %.2f ms\n",
                        whole.median, whole.min, whole.max);
        }
        if (playing) {
            double total = 0;
            for (double ms : times)
                total += ms;
            const batch::FrameStats switched = batch::Summarise(switches);
            std::printf(
                "playing %u time points: %.1f frames per second; switch to a time point: median %.2f ms, "
                "min %.2f ms, max %.2f ms\n",
                seriesPoints, total > 0 ? 1000.0 * frames / total : 0.0, switched.median, switched.min,
                switched.max);
        }
        if (refinedMs >= 0)
            std::printf("whole picture complete %.1f ms after the last move; longest band %.1f ms\n",
                        refinedMs, Renderer.refineLongestBand * 1000.0);
    }
    std::printf("%s\n", options.outputPath.c_str());
    return 0;
}

// A multiscale store's finer level, read while its coarsest is shown: the
// read runs on a thread of its own (its reader in a child process, as every
// read), the frame loop looks in on it, and the level is swapped in on the
// main thread, where the device is, once it is whole.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "app/app_state.h"
#include "platform/shell/shell.h"
#include "render/renderer.h"
#include "volume/volume.h"
#include "volume/volume_read.h"

namespace {

struct FinerRead {
    std::string path;
    ValueChoice values;  // as the volume was opened, the level added
    std::atomic<bool> done{false}, stop{false};
    std::atomic<double> fraction{0.0};
    VolumeData read;
    VolumeProblem problem;
    bool wasRead = false;
    std::thread thread;
};

std::unique_ptr<FinerRead> Pending;

void Run(FinerRead* job) {
    ReadingWatch watch;
    watch.context = job;
    watch.progress = [](double fraction, void* self) { static_cast<FinerRead*>(self)->fraction = fraction; };
    watch.stopRequested = [](void* self) { return static_cast<FinerRead*>(self)->stop.load(); };
    watch.abandoned = watch.stopRequested;
    job->wasRead = ReadVolume(job->path, job->values, &job->read, &job->problem, watch);
    job->done = true;
}

// A plane keeps its place in the box on a grid of another size.
void MovePlanesToGrid(const uint32_t before[3]) {
    SlicePlanes planes = Renderer.planes;
    const uint32_t after[3] = {static_cast<uint32_t>(Volume.dimX), static_cast<uint32_t>(Volume.dimY),
                               static_cast<uint32_t>(Volume.dimZ)};
    for (int axis = 0; axis < 3; ++axis) {
        if (planes.index[axis] < 0 || before[axis] == 0)
            continue;
        const double at = (planes.index[axis] + 0.5) / before[axis];
        planes.index[axis] = static_cast<int32_t>(std::floor(at * after[axis]));
    }
    SetSlicePlanes(planes);
}

}  // namespace

void StartFinerLevelRead(const ValueChoice& values) {
    EndFinerLevelRead();
    if (Volume.finerLevel < 0 || Volume.voxels == nullptr)
        return;
    auto job = std::make_unique<FinerRead>();
    job->path = Volume.path;
    job->values = values;
    job->values.level = Volume.finerLevel;
    job->values.coarsestFirst = false;
    job->thread = std::thread(Run, job.get());
    Pending = std::move(job);
}

std::optional<ValueChoice> EndFinerLevelRead() {
    if (!Pending)
        return std::nullopt;
    Pending->stop = true;
    Pending->thread.join();
    ValueChoice opened = Pending->values;
    opened.level = -1;
    Pending.reset();
    return opened;
}

std::string FinerLevelReadText() {
    if (!Pending)
        return {};
    // In tens: each new text redraws the window's last picture.
    const int percent = static_cast<int>(std::clamp(Pending->fraction.load(), 0.0, 1.0) * 10.0) * 10;
    return "reading level " + std::to_string(Pending->values.level) + ": " + std::to_string(percent) + "%";
}

bool FinishFinerLevelRead() {
    if (!Pending || !Pending->done)
        return false;
    Pending->thread.join();
    const std::unique_ptr<FinerRead> job = std::move(Pending);
    if (!job->wasRead) {
        if (!job->problem.quiet)
            shell::MessageBox(
                MainWindow,
                ("The finer level could not be read; the coarse one stays shown. " + job->problem.text)
                    .c_str(),
                job->problem.caption.c_str(), shell::MB_OK);
        return false;
    }
    const uint32_t before[3] = {static_cast<uint32_t>(Volume.dimX), static_cast<uint32_t>(Volume.dimY),
                                static_cast<uint32_t>(Volume.dimZ)};
    const uint32_t point = Volume.shownTimePoint;
    VolumeProblem problem;
    std::vector<VolumeNotice> notices;
    if (!Volume.Install(std::move(job->read), job->path, &problem, &notices)) {
        // The coarse level is still there, as Install leaves it on failure.
        shell::MessageBox(
            MainWindow, ("The finer level could not be shown; the coarse one stays. " + problem.text).c_str(),
            problem.caption.c_str(), shell::MB_OK);
        return false;
    }
    MovePlanesToGrid(before);
    if (!ShowLoadedVolume(true))
        return false;
    if (point > 0)
        ShowTime(point);
    return true;
}

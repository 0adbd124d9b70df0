// A multiscale store's finer level, read while its coarsest is shown, and
// the crop read at the finest level that fits it: the read runs on a thread
// of its own (its reader in a child process, as every read), the frame loop
// looks in on it, and the level is swapped in on the main thread, where the
// device is, once it is whole.
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
#include "slicing/slice_geometry.h"
#include "volume/volume.h"
#include "volume/volume_read.h"

namespace {

struct FinerRead {
    std::string path;
    ValueChoice values;  // as the volume was opened, the level or the part added
    std::string what;    // "level 0", "the crop"

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

// The grid shown and the part of the box it covers.
struct GridInBox {
    uint32_t dims[3];
    float low[3], high[3];
};

GridInBox ShownGrid() {
    GridInBox grid{{static_cast<uint32_t>(Volume.dimX), static_cast<uint32_t>(Volume.dimY),
                    static_cast<uint32_t>(Volume.dimZ)},
                   {},
                   {}};
    for (int axis = 0; axis < 3; ++axis) {
        grid.low[axis] = Volume.partLow[axis];
        grid.high[axis] = Volume.partHigh[axis];
    }
    return grid;
}

// A plane keeps its place in the box on a grid of another size, or of
// another part of the box (at its edge when it lies outside).
void MovePlanesToGrid(const GridInBox& before) {
    SlicePlanes planes = Renderer.planes;
    const GridInBox after = ShownGrid();
    for (int axis = 0; axis < 3; ++axis) {
        if (planes.index[axis] < 0 || before.dims[axis] == 0 || after.dims[axis] == 0)
            continue;
        const double inBox = before.low[axis] + (planes.index[axis] + 0.5) / before.dims[axis] *
                                                    (before.high[axis] - before.low[axis]);
        const double inPart = (inBox - after.low[axis]) / (after.high[axis] - after.low[axis]);
        planes.index[axis] = static_cast<int32_t>(std::clamp(std::floor(inPart * after.dims[axis]), 0.0,
                                                             static_cast<double>(after.dims[axis] - 1)));
    }
    SetSlicePlanes(planes);
}

void StartRead(const ValueChoice& values, std::string what) {
    auto job = std::make_unique<FinerRead>();
    job->path = Volume.path;
    job->values = values;
    job->values.coarsestFirst = false;
    job->what = std::move(what);
    job->thread = std::thread(Run, job.get());
    Pending = std::move(job);
}

}  // namespace

void StartFinerLevelRead(const ValueChoice& values) {
    EndFinerLevelRead();
    if (Volume.finerLevel < 0 || Volume.voxels == nullptr)
        return;
    ValueChoice finer = values;
    finer.level = Volume.finerLevel;
    StartRead(finer, "level " + std::to_string(Volume.finerLevel));
}

bool StartCropRead(const CropBox& crop) {
    if (Volume.voxels == nullptr || Volume.levelText.empty() || crop.Empty())
        return false;
    // A whole crop of the whole volume: nothing finer to read than what is
    // shown or on its way.
    if (crop.Whole() && !Volume.IsPart())
        return false;
    EndFinerLevelRead();
    ValueChoice values = Volume.readWith;
    values.level = -1;  // the finest that fits
    for (int axis = 0; axis < 3; ++axis) {
        values.partLow[axis] = crop.Whole() ? 0.0 : crop.low[axis];
        values.partHigh[axis] = crop.Whole() ? 1.0 : crop.high[axis];
    }
    // The values keep the 12 bits they map to, so the functions keep their meaning.
    values.channelWindows.clear();
    for (const VolumeChannel& channel : Volume.channels)
        values.channelWindows.emplace_back(channel.windowLow, channel.windowHigh);
    if (Volume.channels.empty())
        values.channelWindows.emplace_back(Volume.windowLow, Volume.windowHigh);
    StartRead(values, crop.Whole() ? "the whole volume" : "the crop");
    return true;
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
    return "reading " + Pending->what + ": " + std::to_string(percent) + "%";
}

bool FinishFinerLevelRead() {
    if (!Pending || !Pending->done)
        return false;
    Pending->thread.join();
    const std::unique_ptr<FinerRead> job = std::move(Pending);
    // A finer level's failure keeps the coarse one; a crop's, what is shown.
    const bool finer = job->what.rfind("level ", 0) == 0;
    if (!job->wasRead) {
        if (!job->problem.quiet)
            shell::MessageBox(
                MainWindow,
                ((finer ? "The finer level could not be read; the coarse one stays shown. "
                        : "The crop could not be read at a finer level; the picture shown stays. ") +
                 job->problem.text)
                    .c_str(),
                job->problem.caption.c_str(), shell::MB_OK);
        return false;
    }
    const GridInBox before = ShownGrid();
    const uint32_t point = Volume.shownTimePoint;
    VolumeProblem problem;
    std::vector<VolumeNotice> notices;
    if (!Volume.Install(std::move(job->read), job->path, &problem, &notices)) {
        // The coarse level is still there, as Install leaves it on failure.
        shell::MessageBox(
            MainWindow,
            ((finer ? "The finer level could not be shown; the coarse one stays. "
                    : "The crop could not be shown at a finer level; the picture shown stays. ") +
             problem.text)
                .c_str(),
            problem.caption.c_str(), shell::MB_OK);
        return false;
    }
    Volume.readWith = job->values;
    MovePlanesToGrid(before);
    if (!ShowLoadedVolume(true))
        return false;
    if (point > 0)
        ShowTime(point);
    return true;
}

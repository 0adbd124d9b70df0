#include "volume/volume.h"

#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <system_error>

#include "platform/shell/shell.h"
#include "render/resources.h"
#include "volume/gradient.h"
#include "volume/reading_progress.h"
#include "volume/scan_import.h"

namespace {

constexpr const char* kVolumeCaption = kVolumeErrorCaption;
constexpr double kScanTimeLimitSeconds = 300;

void ShowVolumeError(const std::string& text, const char* caption = kVolumeCaption) {
    shell::MessageBox(nullptr, text.c_str(), caption, shell::MB_OK);
}

void ShowNotices(const std::vector<VolumeNotice>& notices) {
    for (const VolumeNotice& notice : notices)
        shell::MessageBox(nullptr, notice.text.c_str(), notice.caption.c_str(),
                          shell::MB_OK | shell::MB_ICONINFORMATION);
}

// The viewer's side of a read: the progress over the window once a scan's
// read begins, with its Cancel; the window's close box ends the reader too.
struct ViewerWatch {
    std::optional<ReadingProgress> reading;
    std::string path;

    ReadingWatch Watch() {
        ReadingWatch watch;
        watch.context = this;
        watch.scanStarts = [](void* self) {
            auto* viewer = static_cast<ViewerWatch*>(self);
            viewer->reading.emplace(viewer->path);
        };
        watch.progress = [](double fraction, void* self) {
            auto* viewer = static_cast<ViewerWatch*>(self);
            if (viewer->reading)
                ReadingProgress::Report(fraction, &*viewer->reading);
        };
        watch.stopRequested = [](void* self) {
            auto* viewer = static_cast<ViewerWatch*>(self);
            return viewer->reading ? ReadingProgress::StopRequested(&*viewer->reading)
                                   : shell::CloseRequested();
        };
        watch.abandoned = [](void* self) {
            auto* viewer = static_cast<ViewerWatch*>(self);
            return shell::CloseRequested() || (viewer->reading && viewer->reading->Cancelled());
        };
        return watch;
    }
};

}  // namespace

CVolume::~CVolume() {
    Unload();
}

bool CVolume::Load(const char* path, const ValueChoice& values) {
    // Everything that can go wrong with the file is found out before the
    // current volume is let go.
    VolumeData read;
    VolumeProblem problem;
    ViewerWatch viewer;
    viewer.path = path;
    const bool wasRead = ReadVolume(path, values, &read, &problem, viewer.Watch());
    // Later reads (a check of a file to save over) still end with the window.
    SetScanWait(
        kScanTimeLimitSeconds, [](void*) { return shell::CloseRequested(); }, nullptr);
    if (viewer.reading)
        viewer.reading->End();
    // What the readers had to say goes to the debug output, on request.
    const bool verbose = std::getenv("TAMLO_DEBUG") != nullptr;
    for (const std::string& warning : TakeScanWarnings()) {
        if (verbose)
            shell::OutputDebugString(("scan reader: " + warning + "\n").c_str());
    }
    if (!wasRead) {
        if (!problem.quiet)
            ShowVolumeError(problem.text, problem.caption.c_str());
        return false;
    }
    std::vector<VolumeNotice> notices;
    const std::vector<VolumeNotice> readNotices = std::move(read.notices);
    if (!Install(std::move(read), path, &problem, &notices)) {
        ShowVolumeError(problem.text, problem.caption.c_str());
        return false;
    }
    readWith = values;
    // What the device made of it first, then what the read found.
    ShowNotices(notices);
    ShowNotices(readNotices);
    return true;
}

bool CVolume::Remap(const ValueChoice& values) {
    if (voxels == nullptr || !isScan || path.empty())
        return false;
    const std::string shown = path;  // Load replaces it
    // The same level choice and part of the box, through another window.
    ValueChoice again = values;
    again.level = readWith.level;
    again.maxEdge = readWith.maxEdge;
    for (int axis = 0; axis < 3; ++axis) {
        again.partLow[axis] = readWith.partLow[axis];
        again.partHigh[axis] = readWith.partHigh[axis];
    }
    return Load(shown.c_str(), again);
}

namespace {

// One channel of texels `components` wide into `grid`: as texels (shift 0,
// the bricks' scale) or as 12-bit samples (shift 4, the gradient's).
const uint16_t* ChannelOfTexels(const uint16_t* texels, uint32_t count, uint32_t components, uint32_t channel,
                                uint32_t shift, uint16_t* grid) {
    for (uint32_t i = 0; i < count; ++i)
        grid[i] = static_cast<uint16_t>(texels[size_t{i} * components + channel] >> shift);
    return grid;
}

// A point's kept gradient, a run of planes per channel, into the gradient
// texture (channel c's run from slice c x max(planes, 2); a single plane
// repeated in its second slice) and into the CPU pass's copy.
void UploadKeptGradient(gpu::Texture2D* texture, const std::vector<uint8_t>& runs, uint32_t channels,
                        const uint32_t gradientDims[3], std::vector<uint8_t>* copy) {
    const uint32_t rowPitch = kGradientBytesPerSample * gradientDims[0];
    const size_t sliceBytes = size_t{rowPitch} * gradientDims[1];
    const uint32_t perChannel = std::max(gradientDims[2], 2u);
    for (uint32_t c = 0; c < channels; ++c) {
        const uint8_t* run = runs.data() + size_t{c} * gradientDims[2] * sliceBytes;
        for (uint32_t z = 0; z < gradientDims[2]; ++z)
            FillTexture(texture, c * perChannel + z, run + z * sliceBytes, rowPitch);
        if (gradientDims[2] < 2)
            FillTexture(texture, c * perChannel + 1, run, rowPitch);
    }
    if (copy->size() == runs.size())
        std::copy(runs.begin(), runs.end(), copy->begin());
}

// What a file with no samples most likely is, for the message that says so.
std::string ZeroDimensionHint(const std::string& path) {
    const auto endsWith = [&](const char* end) {
        const std::string tail =
            path.size() >= std::strlen(end) ? path.substr(path.size() - std::strlen(end)) : "";
        return strcasecmp(tail.c_str(), end) == 0;
    };
    if (endsWith(".tf"))
        return "; it looks like a transfer function, which File > Open does not take as a volume";
    if (endsWith(".img"))
        return "; an .img holds only the samples of a .hdr/.img pair: open its .hdr";
    return {};
}

// Each of `grids` grids reduced by box averages, one after another in one
// new array; null when its memory cannot be had.
std::unique_ptr<uint16_t[]> ReduceGrids(const uint16_t* samples, uint32_t grids, const uint32_t dims[3],
                                        const uint32_t factors[3], uint32_t reducedDims[3]) {
    for (int axis = 0; axis < 3; ++axis)
        reducedDims[axis] = (dims[axis] + factors[axis] - 1) / factors[axis];
    const uint64_t gridSamples = uint64_t{dims[0]} * dims[1] * dims[2];
    const uint64_t reducedSamples = uint64_t{reducedDims[0]} * reducedDims[1] * reducedDims[2];
    if (grids == 1)
        return BoxAverage(samples, dims, factors, reducedDims);
    std::unique_ptr<uint16_t[]> all(new (std::nothrow) uint16_t[reducedSamples * grids]);
    if (!all)
        return nullptr;
    for (uint32_t grid = 0; grid < grids; ++grid) {
        const std::unique_ptr<uint16_t[]> one =
            BoxAverage(samples + gridSamples * grid, dims, factors, reducedDims);
        if (!one)
            return nullptr;
        std::copy_n(one.get(), reducedSamples, all.get() + reducedSamples * grid);
    }
    return all;
}

}  // namespace

// The gradient of 12-bit `samples` into a gradient texture made for their
// grid (and into `copy`, its texels for the CPU's pass, where given), a slab
// at a time. False when a slab's memory cannot be had.
bool CVolume::FillGradient(const uint16_t* samples, const uint32_t dims[3], const float spacing[3],
                           gpu::Texture2D* texture, uint8_t* copy, uint32_t firstLayer) {
    uint32_t gradientDims[3], factors[3];
    GradientGrid(dims, gradientDims, factors);
    const uint32_t rowPitch = kGradientBytesPerSample * gradientDims[0];
    const size_t sliceBytes = size_t{rowPitch} * gradientDims[1];
    return ComputeGradientSlabs(samples, dims, spacing, kGradientSlabTexels,
                                [&](uint32_t firstZ, uint32_t planes, const uint8_t* slab) {
                                    for (uint32_t z = firstZ; z < firstZ + planes; ++z)
                                        FillTexture(texture, firstLayer + z, slab + (z - firstZ) * sliceBytes,
                                                    rowPitch);
                                    if (copy != nullptr)
                                        std::copy_n(slab, planes * sliceBytes, copy + firstZ * sliceBytes);
                                    if (gradientDims[2] < 2)  // one plane: its second slice repeats it
                                        FillTexture(texture, firstLayer + 1, slab, rowPitch);
                                });
}

bool CVolume::Install(VolumeData volume, const std::string& path, VolumeProblem* problem,
                      std::vector<VolumeNotice>* notices) {
    const auto fail = [problem](const std::string& text, const char* caption = kVolumeCaption) {
        *problem = VolumeProblem{caption, text, false};
        return false;
    };
    const uint32_t dims[3] = {volume.dimX, volume.dimY, volume.dimZ};
    const float spacing[3] = {static_cast<float>(volume.spacingX), static_cast<float>(volume.spacingY),
                              static_cast<float>(volume.spacingZ)};
    // Several channels are drawn together, up to the device's four; one
    // channel takes the path it always took, every time point of it kept as
    // texels. Several channels keep their 12-bit samples for the other time
    // points (channelSeries) and the texels of the one shown.
    if (volume.channels.empty())
        volume.channels.emplace_back();
    const uint32_t shown = std::min(volume.ChannelCount(), kMaxShownChannels);
    const uint32_t grids = shown > 1 ? 1 : std::max(1u, volume.timePoints);
    std::unique_ptr<uint16_t[]> samples = shown > 1 ? nullptr : std::move(volume.samples);
    // The texture would be refused; the message says which file and why.
    if (dims[0] == 0 || dims[1] == 0 || dims[2] == 0)
        return fail("CreateTexture failed (" + path + ": " + std::to_string(dims[0]) + " x " +
                    std::to_string(dims[1]) + " x " + std::to_string(dims[2]) + " samples, a zero dimension" +
                    ZeroDimensionHint(path) + ")");
    InvalidateVolumeLayer();
    uint32_t factors[3] = {1, 1, 1};
    uint32_t finalDims[3] = {dims[0], dims[1], dims[2]};
    float finalSpacing[3] = {spacing[0], spacing[1], spacing[2]};
    const uint32_t limit = MaxVolumeTextureEdge();
    ReductionFactors(dims, limit, factors);
    const bool reduced = factors[0] > 1 || factors[1] > 1 || factors[2] > 1;
    if (shown > 1) {
        samples = ChannelTexels(volume, 0, shown, factors, finalDims);
        if (!samples)
            return fail(std::string(reduced ? "Not enough memory to reduce the volume for the GPU ("
                                            : "Not enough memory for the volume's channels (") +
                        path + ")");
    } else if (reduced) {
        samples = ReduceGrids(samples.get(), grids, dims, factors, finalDims);
        if (!samples)
            return fail("Not enough memory to reduce the volume for the GPU (" + path + ")");
    }
    if (reduced)
        for (int axis = 0; axis < 3; ++axis)
            finalSpacing[axis] *= static_cast<float>(factors[axis]);
    const uint32_t components = TexelComponents(shown);
    const uint64_t count64 = uint64_t{finalDims[0]} * finalDims[1] * finalDims[2];
    if (count64 * 2 * components > UINT32_MAX || finalDims[0] > INT32_MAX || finalDims[1] > INT32_MAX ||
        finalDims[2] > INT32_MAX)
        return fail("Volume too large: " + std::to_string(finalDims[0]) + " x " +
                    std::to_string(finalDims[1]) + " x " + std::to_string(finalDims[2]) +
                    " samples do not fit in 4 GB (" + path + ")");
    const uint32_t count = static_cast<uint32_t>(count64);
    // All or nothing: the new textures and views are made before anything
    // of the shown volume is let go, so a failure leaves it shown and usable.
    // The volume's texture is made empty and filled once the gradient has
    // been worked out from the 12-bit samples, before their shift in place:
    // the samples are never held twice.
    gpu::Texture3DDesc desc;
    desc.Width = finalDims[0];
    desc.Height = finalDims[1];
    desc.Depth = finalDims[2];
    desc.Format = components == 1   ? gpu::Format::R16_UNORM
                  : components == 2 ? gpu::Format::R16G16_UNORM
                                    : gpu::Format::R16G16B16A16_UNORM;
    gpu::Texture3D* texture = nullptr;
    gpu::ShaderResourceView* view = nullptr;
    TextureFailure failure;
    if (!CreateTextureWithView(
            desc, gpu::SubresourceData{},
            {"CreateTexture failed", kVolumeCaption, "CreateShaderResourceView failed", "error: CVolume"},
            &texture, &view, &failure))
        return fail(failure.text != nullptr ? failure.text : "CreateTexture failed",
                    failure.caption != nullptr ? failure.caption : kVolumeCaption);
    // Shading is worth having but not a reason to refuse a volume: without
    // the memory for it the volume is shown unshaded.
    std::string gradientProblem;
    gpu::Texture2D* newGradientTexture = nullptr;
    gpu::ShaderResourceView* newGradientView = nullptr;
    std::vector<uint8_t> newGradientCopy;
    std::vector<uint32_t> counts(kSampleValues, 0);
    std::vector<std::vector<uint32_t>> shownCounts;
    std::vector<VolumeBricks> shownBricks;
    if (shown == 1) {
        MakeGradientTexture(samples.get(), finalDims, finalSpacing, &newGradientTexture, &newGradientView,
                            &gradientProblem, VolumePassOnCpu() ? &newGradientCopy : nullptr);
        // Every time point becomes texels; the histogram counts them all.
        std::vector<uint32_t> gridCounts(kSampleValues);
        for (uint32_t grid = 0; grid < grids; ++grid) {
            ShiftSamplesCountingValues(samples.get() + uint64_t{count} * grid, count, gridCounts.data());
            for (uint32_t v = 0; v < kSampleValues; ++v)
                counts[v] = static_cast<uint32_t>(
                    std::min<uint64_t>(uint64_t{counts[v]} + gridCounts[v], UINT32_MAX));
        }
    } else {
        // Each channel's 12 bits, one channel at a time out of the texels:
        // its gradient, value counts and bricks.
        std::unique_ptr<uint16_t[]> grid(new (std::nothrow) uint16_t[count]);
        if (!grid) {
            ReleaseAndNull(view);
            ReleaseAndNull(texture);
            return fail("Not enough memory for the volume's channels (" + path + ")");
        }
        const auto extract = [&](uint32_t c) {
            return ChannelOfTexels(samples.get(), count, components, c, 4, grid.get());
        };
        MakeGradientTexture(extract, shown, finalDims, finalSpacing, &newGradientTexture, &newGradientView,
                            &gradientProblem, VolumePassOnCpu() ? &newGradientCopy : nullptr);
        for (uint32_t c = 0; c < shown; ++c) {
            extract(c);
            shownCounts.emplace_back(kSampleValues, 0);
            ShiftSamplesCountingValues(grid.get(), count, shownCounts.back().data());
            shownBricks.push_back(MeasureBricks(grid.get(), finalDims));
        }
        // A series' histogram counts every time point, as one channel's does,
        // so the panel stays put while it plays: each channel's grids as read.
        if (volume.timePoints > 1 && volume.samples) {
            const uint64_t gridSamples = volume.GridSamples();
            for (uint32_t c = 0; c < shown; ++c) {
                std::vector<uint64_t> sums(kSampleValues, 0);
                for (uint32_t t = 0; t < volume.timePoints; ++t) {
                    const uint16_t* samplesOf = volume.Grid(c, t);
                    for (uint64_t i = 0; i < gridSamples; ++i)
                        ++sums[samplesOf[i] & (kSampleValues - 1)];
                }
                for (uint32_t v = 0; v < kSampleValues; ++v)
                    shownCounts[c][v] = static_cast<uint32_t>(std::min<uint64_t>(sums[v], UINT32_MAX));
            }
        }
        counts = shownCounts.front();
    }
    // In 64 bits: a slice of two 16-bit edges can pass 2^31 bytes.
    FillTexture(texture, 0, samples.get(), 2 * components * finalDims[0],
                static_cast<uint32_t>(uint64_t{2} * components * finalDims[0] * finalDims[1]));

    Unload();
    this->path = path;
    finerLevel = volume.finerLevel;
    levelText.clear();
    if (!volume.storeLevels.empty() && volume.format.find("level ") != std::string::npos) {
        char size[48];
        const double micrometres = 1000.0 * finalSpacing[0];
        if (micrometres >= 1000)
            std::snprintf(size, sizeof(size), ", %.3g mm", finalSpacing[0]);
        else
            std::snprintf(size, sizeof(size), ", %.3g \u00b5m", micrometres);
        levelText = volume.format.substr(volume.format.find("level ")) + size;
        if (volume.IsPart())
            levelText += ", the crop";
    }
    gradientTexture = newGradientTexture;
    gradientView = newGradientView;
    SetVolumeGradient(gradientView);
    gradientCopy = std::move(newGradientCopy);
    if (!gradientCopy.empty()) {
        uint32_t gradientDims[3], gradientFactors[3];
        GradientGrid(finalDims, gradientDims, gradientFactors);
        SetSoftwareGradient(gradientCopy.data(), gradientDims);
    }
    dimX = static_cast<int32_t>(finalDims[0]);
    dimY = static_cast<int32_t>(finalDims[1]);
    dimZ = static_cast<int32_t>(finalDims[2]);
    spacingX = finalSpacing[0];
    spacingY = finalSpacing[1];
    spacingZ = finalSpacing[2];
    // A part of a store's level lies in the level's whole box, which is the
    // box shown: the grid covers [partLow, partHigh] of it.
    const uint64_t readDims[3] = {volume.dimX, volume.dimY, volume.dimZ};
    for (int axis = 0; axis < 3; ++axis) {
        const bool part =
            volume.IsPart() && volume.wholeDims[axis] >= volume.partOrigin[axis] + readDims[axis];
        wholeDims[axis] = part ? volume.wholeDims[axis] : 0;
        partOrigin[axis] = part ? volume.partOrigin[axis] : 0;
        partLow[axis] =
            part ? static_cast<float>(static_cast<double>(partOrigin[axis]) / wholeDims[axis]) : 0.0f;
        partHigh[axis] =
            part
                ? static_cast<float>(static_cast<double>(partOrigin[axis] + readDims[axis]) / wholeDims[axis])
                : 1.0f;
    }
    // Physical sizes; with unit spacing exactly the grid's, so a volume file
    // keeps the box its dimensions give.
    const bool part = wholeDims[0] != 0 && wholeDims[1] != 0 && wholeDims[2] != 0;
    const float sizeX =
        part ? static_cast<float>(wholeDims[0] * volume.spacingX) : static_cast<float>(dimX) * spacingX;
    const float sizeY =
        part ? static_cast<float>(wholeDims[1] * volume.spacingY) : static_cast<float>(dimY) * spacingY;
    const float sizeZ =
        part ? static_cast<float>(wholeDims[2] * volume.spacingZ) : static_cast<float>(dimZ) * spacingZ;
    const float maxSize = std::max({sizeX, sizeY, sizeZ});
    extentX = sizeX / maxSize;
    extentY = sizeY / maxSize;
    extentZ = sizeZ / maxSize;
    halfExtentX = extentX * 0.5f;
    halfExtentY = extentY * 0.5f;
    halfExtentZ = extentZ * 0.5f;
    voxelCount = count;
    timePoints = std::max(1u, volume.timePoints);
    // The kept texels: every time point of one channel, or the shown time
    // point of several channels side by side (channelSeries holds the rest).
    channelCount = 1;
    shownTimePoint = 0;
    // What a series' points keep once shown: their bricks, and their
    // gradients within a quarter of the memory free now.
    StopPreparingTimePoints();
    timePointsKept.clear();
    timePointsKeptBytes = 0;
    if (timePoints > 1) {
        timePointsKept.resize(timePoints);
        timePointsKeptBudget = AvailableMemoryBytes() / 4;
    }
    timeStep = volume.timeStep;
    timeUnit = volume.timeUnit;
    const float half[3] = {halfExtentX, halfExtentY, halfExtentZ};
    if (shown == 1) {
        VolumeBricks bricks = MeasureBricks(samples.get(), finalDims);
        // The point shown first keeps what it was given, so that a play
        // coming round to it again only uploads.
        if (!timePointsKept.empty()) {
            timePointsKept.front().bricks = bricks;
            if (!gradientCopy.empty() && gradientCopy.size() <= timePointsKeptBudget) {
                try {
                    timePointsKept.front().gradient = gradientCopy;
                    timePointsKeptBytes = gradientCopy.size();
                } catch (const std::bad_alloc&) {
                    timePointsKept.front().gradient.clear();  // worked out again when next shown
                }
            }
        }
        SetClearSpaceVolume(std::move(bricks), half);
        SetClearSpaceMoreChannels({});
    } else {
        // As for one channel, all of the first point or none of it.
        const uint64_t texelBytes = uint64_t{2} * components * count;
        const bool gradientKept = gradientTexture == nullptr || !gradientCopy.empty();
        if (!timePointsKept.empty() && gradientKept &&
            texelBytes + gradientCopy.size() <= timePointsKeptBudget) {
            TimePointKept& first = timePointsKept.front();
            try {
                first.texels.reset(new uint16_t[size_t{components} * count]);
                std::copy_n(samples.get(), size_t{components} * count, first.texels.get());
                first.gradient = gradientCopy;
                first.bricks = shownBricks.front();
                first.moreBricks.assign(shownBricks.begin() + 1, shownBricks.end());
                timePointsKeptBytes = texelBytes + first.gradient.size();
            } catch (const std::bad_alloc&) {
                first = TimePointKept{};
            }
        }
        SetClearSpaceVolume(std::move(shownBricks.front()), half);
        SetClearSpaceMoreChannels(std::vector<VolumeBricks>(std::make_move_iterator(shownBricks.begin() + 1),
                                                            std::make_move_iterator(shownBricks.end())));
    }
    SetVolumePart(partLow, partHigh);
    voxels = std::move(samples);
    SetSoftwareVolume(voxels.get(), finalDims, shown, components);
    texelComponents = components;
    volumeTexture = texture;
    volumeView = view;
    isScan = volume.isScan;
    isCt = volume.isCt;
    channels.assign(volume.channels.begin(), volume.channels.begin() + shown);
    if (shown == 1)
        shownCounts.push_back(std::move(counts));
    channelValueCounts = std::move(shownCounts);
    ShowChannelValues(0);
    if (reduced) {
        const std::string text =
            "'" + path + "' has " + std::to_string(dims[0]) + " x " + std::to_string(dims[1]) + " x " +
            std::to_string(dims[2]) + " samples, more than this GPU's largest 3D texture edge (" +
            std::to_string(limit) + "). It is shown averaged over boxes of " + std::to_string(factors[0]) +
            " x " + std::to_string(factors[1]) + " x " + std::to_string(factors[2]) + " samples, as " +
            std::to_string(dimX) + " x " + std::to_string(dimY) + " x " + std::to_string(dimZ) + ".";
        notices->push_back({"Volume reduced", text});
    }
    if (volume.ChannelCount() > shown) {
        std::string left;
        for (uint32_t c = shown; c < volume.ChannelCount(); ++c)
            left += (c > shown ? ", " : "") + ChannelLabel(volume.channels[c], c);
        notices->push_back({"Volume channels", "'" + path + "' has " + std::to_string(volume.ChannelCount()) +
                                                   " channels; the first " + std::to_string(shown) +
                                                   " are shown together, and these are left out: " + left +
                                                   "."});
    }
    if (!gradientProblem.empty())
        notices->push_back({"Volume unshaded", "'" + path + "' is shown unshaded: " + gradientProblem + "."});
    // Several channels at several time points: each point's texels are made
    // from the samples when it is shown.
    if (shown > 1 && volume.timePoints > 1)
        channelSeries = std::make_unique<VolumeData>(std::move(volume));
    StartPreparingTimePoints();
    return true;
}

void CVolume::StartPreparingTimePoints() {
    StopPreparingTimePoints();
    if (timePoints < 2 || timePointsKept.size() != timePoints || voxels == nullptr)
        return;
    const uint32_t dims[3] = {static_cast<uint32_t>(dimX), static_cast<uint32_t>(dimY),
                              static_cast<uint32_t>(dimZ)};
    const float spacing[3] = {spacingX, spacingY, spacingZ};
    const bool shaded = gradientTexture != nullptr;
    const uint16_t* base = voxels.get();
    const uint32_t count = voxelCount, points = timePoints, start = shownTimePoint;
    stopPreparing = false;
    if (channelSeries) {
        const uint32_t sourceDims[3] = {channelSeries->dimX, channelSeries->dimY, channelSeries->dimZ};
        uint32_t factors[3] = {1, 1, 1};
        ReductionFactors(sourceDims, MaxVolumeTextureEdge(), factors);
        uint32_t gradientDims[3], gradientFactors[3];
        GradientGrid(dims, gradientDims, gradientFactors);
        const uint64_t pointBytes = uint64_t{2} * texelComponents * count +
                                    (shaded ? uint64_t{kGradientBytesPerSample} * gradientDims[0] *
                                                  gradientDims[1] * gradientDims[2] * channels.size()
                                            : 0);
        const auto prepareChannels = [this, factors, shaded, points, start, pointBytes] {
            std::unique_ptr<uint16_t[]> grid;
            for (uint32_t k = 1; k < points && !stopPreparing; ++k) {
                const uint32_t t = (start + k) % points;
                {
                    std::lock_guard lock(timePointsKeptMutex);
                    if (timePointsKept[t].texels || timePointsKeptBytes + pointBytes > timePointsKeptBudget)
                        continue;
                    timePointsKeptBytes += pointBytes;  // set aside while it is made
                    timePointPreparing = t;
                }
                TimePointKept made;
                const bool whole = MakeChannelsTimePoint(t, factors, shaded, grid, &made);
                {
                    std::lock_guard lock(timePointsKeptMutex);
                    if (whole && !timePointsKept[t].texels)
                        timePointsKept[t] = std::move(made);
                    else
                        timePointsKeptBytes -= pointBytes;
                    timePointPreparing = UINT32_MAX;
                }
                timePointPrepared.notify_all();
            }
        };
        try {
            timePointPreparer = std::thread(prepareChannels);
        } catch (const std::system_error&) {
            // No thread to be had: each point is made as it is shown.
        }
        return;
    }
    const auto prepare = [this, dims, spacing, shaded, base, count, points, start] {
        uint32_t gradientDims[3], factors[3];
        GradientGrid(dims, gradientDims, factors);
        const size_t sliceBytes = size_t{kGradientBytesPerSample} * gradientDims[0] * gradientDims[1];
        const size_t gradientBytes = sliceBytes * gradientDims[2];
        std::unique_ptr<uint16_t[]> plain;
        for (uint32_t k = 1; k < points && !stopPreparing; ++k) {
            const uint32_t t = (start + k) % points;
            const uint16_t* texels = base + uint64_t{count} * t;
            TimePointKept& kept = timePointsKept[t];
            bool wantBricks = false, wantGradient = false;
            {
                std::lock_guard lock(timePointsKeptMutex);
                wantBricks = !kept.bricks;
                // Set aside while it is made, so that the budget holds.
                wantGradient = shaded && kept.gradient.empty() &&
                               timePointsKeptBytes + gradientBytes <= timePointsKeptBudget;
                if (wantGradient)
                    timePointsKeptBytes += gradientBytes;
                if (wantBricks || wantGradient)
                    timePointPreparing = t;
            }
            std::optional<VolumeBricks> bricks;
            std::vector<uint8_t> made;
            try {
                if (wantBricks)
                    bricks = MeasureBricks(texels, dims);
                if (wantGradient) {
                    made.resize(gradientBytes);
                    if (!plain)
                        plain.reset(new uint16_t[count]);
                    for (uint32_t i = 0; i < count; ++i)
                        plain[i] = static_cast<uint16_t>(texels[i] >> 4);
                    if (!ComputeGradientSlabs(plain.get(), dims, spacing, kGradientSlabTexels,
                                              [&](uint32_t firstZ, uint32_t planes, const uint8_t* slab) {
                                                  std::copy_n(slab, planes * sliceBytes,
                                                              made.data() + firstZ * sliceBytes);
                                              }))
                        made.clear();
                }
            } catch (const std::bad_alloc&) {
                made.clear();  // left to be worked out when shown
            }
            {
                std::lock_guard lock(timePointsKeptMutex);
                if (bricks && !kept.bricks)
                    kept.bricks = std::move(bricks);
                if (wantGradient) {
                    if (!made.empty() && kept.gradient.empty())
                        kept.gradient = std::move(made);
                    else
                        timePointsKeptBytes -= gradientBytes;
                }
                timePointPreparing = UINT32_MAX;
            }
            timePointPrepared.notify_all();
        }
    };
    try {
        timePointPreparer = std::thread(prepare);
    } catch (const std::system_error&) {
        // No thread to be had: each point is worked out as it is shown.
    }
}

bool CVolume::MakeChannelsTimePoint(uint32_t t, const uint32_t factors[3], bool shaded,
                                    std::unique_ptr<uint16_t[]>& grid, TimePointKept* made) const {
    const uint32_t dims[3] = {static_cast<uint32_t>(dimX), static_cast<uint32_t>(dimY),
                              static_cast<uint32_t>(dimZ)};
    const float spacing[3] = {spacingX, spacingY, spacingZ};
    const uint32_t shown = static_cast<uint32_t>(channels.size()), components = texelComponents;
    uint32_t gradientDims[3], gradientFactors[3], texelDims[3];
    GradientGrid(dims, gradientDims, gradientFactors);
    const size_t sliceBytes = size_t{kGradientBytesPerSample} * gradientDims[0] * gradientDims[1];
    try {
        made->texels = ChannelTexels(*channelSeries, t, shown, factors, texelDims);
        if (!made->texels)
            return false;
        if (!grid)
            grid.reset(new uint16_t[voxelCount]);
        const uint16_t* texels = made->texels.get();
        const auto extract = [&](uint32_t c, uint32_t shift) {
            return ChannelOfTexels(texels, voxelCount, components, c, shift, grid.get());
        };
        if (shaded)
            made->gradient.resize(sliceBytes * gradientDims[2] * shown);
        // A grid as read (not reduced for the device) is its channel's 12
        // bits already: the gradient and bricks are taken from it directly,
        // the bricks scaled to the texels where no sample has more bits.
        const bool asRead = factors[0] == 1 && factors[1] == 1 && factors[2] == 1;
        for (uint32_t c = 0; c < shown && !stopPreparing; ++c) {
            uint8_t* run = made->gradient.data() + size_t{c} * gradientDims[2] * sliceBytes;
            const uint16_t* samples = asRead ? channelSeries->Grid(c, t) : extract(c, 4);
            if (shaded && !ComputeGradientSlabs(samples, dims, spacing, kGradientSlabTexels,
                                                [&](uint32_t firstZ, uint32_t planes, const uint8_t* slab) {
                                                    std::copy_n(slab, planes * sliceBytes,
                                                                run + firstZ * sliceBytes);
                                                }))
                return false;
            VolumeBricks bricks = MeasureBricks(samples, dims);
            if (!bricks.high.empty() &&
                *std::max_element(bricks.high.begin(), bricks.high.end()) < kSampleValues)
                for (size_t b = 0; b < bricks.low.size(); ++b)
                    bricks.low[b] = static_cast<uint16_t>(bricks.low[b] << 4),
                    bricks.high[b] = static_cast<uint16_t>(bricks.high[b] << 4);
            else
                bricks = MeasureBricks(extract(c, 0), dims);
            if (c == 0)
                made->bricks = std::move(bricks);
            else
                made->moreBricks.push_back(std::move(bricks));
        }
        return !stopPreparing;
    } catch (const std::bad_alloc&) {
        return false;  // left to be made when shown
    }
}

void CVolume::WaitForPreparedTimePoints() {
    if (timePointPreparer.joinable())
        timePointPreparer.join();
}

void CVolume::StopPreparingTimePoints() {
    stopPreparing = true;
    if (timePointPreparer.joinable())
        timePointPreparer.join();
    timePointPreparing = UINT32_MAX;
}

void CVolume::MakeGradientTexture(const uint16_t* samples, const uint32_t dims[3], const float spacing[3],
                                  gpu::Texture2D** texture, gpu::ShaderResourceView** view,
                                  std::string* problem, std::vector<uint8_t>* copy) {
    MakeGradientTexture([samples](uint32_t) { return samples; }, 1, dims, spacing, texture, view, problem,
                        copy);
}

void CVolume::MakeGradientTexture(const std::function<const uint16_t*(uint32_t channel)>& grid,
                                  uint32_t channelCount, const uint32_t dims[3], const float spacing[3],
                                  gpu::Texture2D** texture, gpu::ShaderResourceView** view,
                                  std::string* problem, std::vector<uint8_t>* copy) {
    uint32_t gradientDims[3], factors[3];
    GradientGrid(dims, gradientDims, factors);
    const uint64_t texels = uint64_t{gradientDims[0]} * gradientDims[1] * gradientDims[2] * channelCount;
    const uint64_t bytes = texels * kGradientBytesPerSample;
    // The driver's copy (a CPU device keeps its textures in the same memory)
    // and one slab of ours, next to everything the load holds already.
    const uint64_t slabBytes = std::min(texels, kGradientSlabTexels) * kGradientBytesPerSample;
    const uint64_t available = AvailableMemoryBytes();
    if (bytes > UINT32_MAX || (available != 0 && bytes + 2 * slabBytes > available)) {
        *problem = "its gradient needs " + std::to_string((bytes + (1u << 20) - 1) >> 20) +
                   " MB, more memory than is free";
        return;
    }
    // An array of 2D slices along z, not a 3D texture: the shader reads it
    // filtered within a slice and from the nearest slice, four texels where
    // a 3D texture's filter takes eight, which is most of what shading costs
    // a frame on a CPU rasteriser. Across slices the smoothed gradient
    // changes little (see ComputeGradient). Made empty, then filled a slab at
    // a time as the slabs are worked out, so that the gradient is never held
    // whole beside the device's copy.
    gpu::Texture2DDesc desc;
    desc.Width = gradientDims[0];
    desc.Height = gradientDims[1];
    // Two slices at least: one slice would be a plain 2D texture. Several
    // channels lie one after another, a run of as many slices each.
    const uint32_t perChannel = std::max(gradientDims[2], 2u);
    desc.ArraySize = perChannel * channelCount;
    desc.Format = gpu::Format::R8G8B8A8_UNORM;
    // Quietly: the one message is the notice that the volume is unshaded.
    if (!CreateTextureWithView(desc, gpu::SubresourceData{}, {nullptr, nullptr, nullptr, nullptr}, texture,
                               view)) {
        *problem = "the device could not make its gradient texture";
        return;
    }
    // The CPU's pass reads the gradient from memory; without room for that
    // copy it draws shaded pictures with the slices.
    if (copy != nullptr && (available == 0 || 2 * bytes + 2 * slabBytes <= available)) {
        try {
            copy->resize(bytes);
        } catch (const std::bad_alloc&) {
            copy->clear();
        }
    }
    const bool copying = copy != nullptr && copy->size() == bytes;
    const size_t sliceBytes = size_t{kGradientBytesPerSample} * gradientDims[0] * gradientDims[1];
    bool made = true;
    for (uint32_t c = 0; c < channelCount && made; ++c)
        made = FillGradient(grid(c), dims, spacing, *texture,
                            copying ? copy->data() + size_t{c} * gradientDims[2] * sliceBytes : nullptr,
                            c * perChannel);
    if (!made) {
        if (copy != nullptr)
            copy->clear();
        ReleaseAndNull(*view);
        ReleaseAndNull(*texture);
        *problem = "its gradient needs " + std::to_string((slabBytes + (1u << 20) - 1) >> 20) +
                   " MB while it is worked out, more memory than is free";
    }
}

std::string ChannelLabel(const VolumeChannel& channel, uint32_t index) {
    return channel.name.empty() ? "Channel " + std::to_string(index + 1) : channel.name;
}

void CVolume::ShowChannelValues(uint32_t channel) {
    if (channel >= channels.size() || channel >= channelValueCounts.size())
        return;
    valueCounts = channelValueCounts[channel];
    const auto first = std::find_if(valueCounts.begin(), valueCounts.end(), [](uint32_t n) { return n > 0; });
    const auto last =
        std::find_if(valueCounts.rbegin(), valueCounts.rend(), [](uint32_t n) { return n > 0; });
    minValue = first == valueCounts.end() ? 0 : static_cast<double>(first - valueCounts.begin());
    maxValue = last == valueCounts.rend() ? 0 : static_cast<double>(valueCounts.rend() - last - 1);
    // What the 12 bits stand for. A volume file's range is the one counted
    // here, unless its reader mapped a wider one onto 12 bits.
    const VolumeChannel& shown = channels[channel];
    if (isScan || shown.anyFinite) {
        minValue = shown.minValue;
        maxValue = shown.maxValue;
    }
    valueWindow = shown.window;
    windowLow = shown.windowLow;
    windowHigh = shown.windowHigh;
    valueUnit = shown.unit;
}

void CVolume::Unload() {
    StopPreparingTimePoints();
    InvalidateVolumeLayer();
    channelSeries.reset();
    timePointsKept.clear();
    timePointsKeptBytes = 0;
    levelText.clear();
    finerLevel = -1;
    for (int axis = 0; axis < 3; ++axis) {
        wholeDims[axis] = partOrigin[axis] = 0;
        partLow[axis] = 0.0f;
        partHigh[axis] = 1.0f;
    }
    SetSoftwareVolume(nullptr, nullptr);
    SetSoftwareGradient(nullptr, nullptr);
    gradientCopy.clear();
    gradientCopy.shrink_to_fit();
    voxels.reset();
    ReleaseAndNull(volumeTexture);
    ReleaseAndNull(volumeView);
    SetVolumeGradient(nullptr);
    ReleaseAndNull(gradientTexture);
    ReleaseAndNull(gradientView);
    valueCounts.clear();
    channelValueCounts.clear();
    channels.clear();
    texelComponents = 1;
    histogramBins.reset();
    maxSample = 0;
    ReleaseAndNull(histogramTexture);
    ReleaseAndNull(histogramView);
    isScan = false;
    timePoints = channelCount = 1;
    shownTimePoint = 0;
    timeStep = 0;
    timeUnit.clear();
    path.clear();
}

bool CVolume::ShowTimePoint(uint32_t t) {
    if (voxels == nullptr || volumeTexture == nullptr || t >= timePoints)
        return false;
    if (t == shownTimePoint)
        return true;
    const uint32_t dims[3] = {static_cast<uint32_t>(dimX), static_cast<uint32_t>(dimY),
                              static_cast<uint32_t>(dimZ)};
    if (channelSeries)
        return ShowChannelsTimePoint(t, dims);
    const uint16_t* texels = Texels(0, t);
    // A point shown before keeps its gradient's texels and its bricks (while
    // the memory set aside for them lasts): a series played round again
    // only uploads.
    TimePointKept* kept = t < timePointsKept.size() ? &timePointsKept[t] : nullptr;
    uint32_t gradientDims[3], gradientFactors[3];
    GradientGrid(dims, gradientDims, gradientFactors);
    const uint32_t rowPitch = kGradientBytesPerSample * gradientDims[0];
    const size_t sliceBytes = size_t{rowPitch} * gradientDims[1];
    const size_t gradientBytes = sliceBytes * gradientDims[2];
    bool keptGradient = false, keptBricks = false;
    if (kept != nullptr) {
        // A point being worked out ahead is waited for, not made twice.
        std::unique_lock lock(timePointsKeptMutex);
        timePointPrepared.wait(lock, [&] { return timePointPreparing != t; });
        keptGradient = kept->gradient.size() == gradientBytes;
        keptBricks = kept->bricks.has_value();
    }
    // The gradient is worked out from 12-bit samples; the kept ones are
    // texels, so one grid is taken back to 12 bits for the pass. Asked for
    // first: without it nothing of the shown point is touched.
    std::unique_ptr<uint16_t[]> plain;
    if (gradientTexture != nullptr && !keptGradient) {
        plain.reset(new (std::nothrow) uint16_t[voxelCount]);
        if (!plain)
            return false;
        for (uint32_t i = 0; i < voxelCount; ++i)
            plain[i] = static_cast<uint16_t>(texels[i] >> 4);
    }
    FillTexture(volumeTexture, 0, texels, 2 * dims[0],
                static_cast<uint32_t>(uint64_t{2} * dims[0] * dims[1]));
    if (gradientTexture != nullptr && keptGradient) {
        UploadKeptGradient(gradientTexture, kept->gradient, 1, gradientDims, &gradientCopy);
    } else if (plain) {
        // Worked out into what is kept for the point where the memory set
        // aside allows, else into the CPU pass's copy (or nowhere).
        std::vector<uint8_t> keep;
        bool room = false;
        if (kept != nullptr) {
            std::lock_guard lock(timePointsKeptMutex);
            room = timePointsKeptBytes + gradientBytes <= timePointsKeptBudget;
        }
        if (room) {
            try {
                keep.resize(gradientBytes);
            } catch (const std::bad_alloc&) {
                keep.clear();
            }
        }
        uint8_t* into = !keep.empty() ? keep.data() : gradientCopy.empty() ? nullptr : gradientCopy.data();
        const float spacing[3] = {spacingX, spacingY, spacingZ};
        if (!FillGradient(plain.get(), dims, spacing, gradientTexture, into)) {
            // The texture goes back to the point still shown; a slab's memory
            // is a few megabytes, so this is next to running out altogether.
            FillTexture(volumeTexture, 0, Texels(0, shownTimePoint), 2 * dims[0],
                        static_cast<uint32_t>(uint64_t{2} * dims[0] * dims[1]));
            InvalidateVolumeLayer();
            return false;
        }
        if (!keep.empty()) {
            if (!gradientCopy.empty())
                std::copy(keep.begin(), keep.end(), gradientCopy.begin());
            std::lock_guard lock(timePointsKeptMutex);
            if (kept->gradient.empty() && timePointsKeptBytes + keep.size() <= timePointsKeptBudget) {
                timePointsKeptBytes += keep.size();
                kept->gradient = std::move(keep);
            }
        }
    }
    const float half[3] = {halfExtentX, halfExtentY, halfExtentZ};
    if (kept != nullptr && !keptBricks) {
        VolumeBricks bricks = MeasureBricks(texels, dims);
        std::lock_guard lock(timePointsKeptMutex);
        if (!kept->bricks)
            kept->bricks = std::move(bricks);
    }
    SetClearSpaceVolume(kept != nullptr ? *kept->bricks : MeasureBricks(texels, dims), half);
    SetSoftwareVolume(texels, dims);
    shownTimePoint = t;
    InvalidateVolumeLayer();
    return true;
}

bool CVolume::ShowChannelsTimePoint(uint32_t t, const uint32_t dims[3]) {
    const uint32_t shown = static_cast<uint32_t>(channels.size());
    uint32_t gradientDims[3], gradientFactors[3];
    GradientGrid(dims, gradientDims, gradientFactors);
    const uint32_t perChannel = std::max(gradientDims[2], 2u);
    const uint32_t rowPitch = kGradientBytesPerSample * gradientDims[0];
    const size_t sliceBytes = size_t{rowPitch} * gradientDims[1];
    const float half[3] = {halfExtentX, halfExtentY, halfExtentZ};
    // A point worked out ahead (or the first one) only uploads: a point
    // being made is waited for, not made twice.
    TimePointKept* kept = t < timePointsKept.size() ? &timePointsKept[t] : nullptr;
    if (kept != nullptr) {
        std::unique_lock lock(timePointsKeptMutex);
        timePointPrepared.wait(lock, [&] { return timePointPreparing != t; });
        if (!kept->texels || !kept->bricks ||
            (gradientTexture != nullptr && kept->gradient.size() != sliceBytes * gradientDims[2] * shown))
            kept = nullptr;
    }
    if (kept != nullptr) {
        const uint32_t components = texelComponents;
        std::copy_n(kept->texels.get(), size_t{voxelCount} * components, voxels.get());
        FillTexture(volumeTexture, 0, voxels.get(), 2 * components * dims[0],
                    static_cast<uint32_t>(uint64_t{2} * components * dims[0] * dims[1]));
        if (gradientTexture != nullptr)
            UploadKeptGradient(gradientTexture, kept->gradient, shown, gradientDims, &gradientCopy);
        SetClearSpaceVolume(*kept->bricks, half);
        SetClearSpaceMoreChannels(kept->moreBricks);
        SetSoftwareVolume(voxels.get(), dims, shown, components);
        shownTimePoint = t;
        InvalidateVolumeLayer();
        return true;
    }
    const VolumeData& series = *channelSeries;
    const uint32_t sourceDims[3] = {series.dimX, series.dimY, series.dimZ};
    uint32_t factors[3] = {1, 1, 1}, texelDims[3];
    ReductionFactors(sourceDims, MaxVolumeTextureEdge(), factors);
    std::unique_ptr<uint16_t[]> texels = ChannelTexels(series, t, shown, factors, texelDims);
    std::unique_ptr<uint16_t[]> grid(new (std::nothrow) uint16_t[voxelCount]);
    if (!texels || !grid)
        return false;
    const uint32_t components = texelComponents;
    const auto extract = [&](uint32_t c, uint32_t shift) {
        return ChannelOfTexels(texels.get(), voxelCount, components, c, shift, grid.get());
    };
    // Each channel's gradient into its run of slices, then its bricks; the
    // texture last, so that a gradient that fails leaves the shown point.
    std::vector<VolumeBricks> bricks;
    const float spacing[3] = {spacingX, spacingY, spacingZ};
    for (uint32_t c = 0; c < shown; ++c) {
        extract(c, 4);
        if (gradientTexture != nullptr &&
            !FillGradient(
                grid.get(), dims, spacing, gradientTexture,
                gradientCopy.empty() ? nullptr : gradientCopy.data() + c * gradientDims[2] * sliceBytes,
                c * perChannel)) {
            InvalidateVolumeLayer();
            return false;
        }
        bricks.push_back(MeasureBricks(extract(c, 0), dims));
    }
    FillTexture(volumeTexture, 0, texels.get(), 2 * components * dims[0],
                static_cast<uint32_t>(uint64_t{2} * components * dims[0] * dims[1]));
    SetClearSpaceVolume(std::move(bricks.front()), half);
    SetClearSpaceMoreChannels(std::vector<VolumeBricks>(std::make_move_iterator(bricks.begin() + 1),
                                                        std::make_move_iterator(bricks.end())));
    voxels = std::move(texels);
    SetSoftwareVolume(voxels.get(), dims, shown, components);
    shownTimePoint = t;
    InvalidateVolumeLayer();
    return true;
}

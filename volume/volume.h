// The loaded volume: the volume file (volume_file.h), its samples, the 3D
// texture and view, and (filled by the histogram) the histogram image.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/gpu/gpu.h"
#include "render/empty_space.h"
#include "volume/scan_import.h"
#include "volume/volume_data.h"
#include "volume/volume_file.h"
#include "volume/volume_read.h"

class CVolume {
  public:
    CVolume() = default;
    ~CVolume();
    // One volume owns its samples and GPU objects; a copy would free them twice.
    CVolume(const CVolume&) = delete;
    CVolume& operator=(const CVolume&) = delete;

    // Reads `path` (ReadVolume, volume_read.h) and installs it, showing
    // the read's progress, a refusal in one message box and the notices in
    // boxes of their own. A file that cannot be read, is short, or is too
    // large is refused before the current volume is touched. False after
    // one message box (or none, when the user ended the read).
    //
    // `values` chooses how a scan's values map onto 12 bits (scan_import.h);
    // a volume file's samples are its 12-bit values whatever it says.
    bool Load(const char* path, const ValueChoice& values = {});
    // Makes `volume` the loaded volume, as read from `path`: the one place
    // the device's textures are made from a volume's samples. A grid wider
    // than the device allows is reduced by box averaging, and a notice
    // saying so is added to `notices` (as is one for a volume shown
    // unshaded). All or nothing: when the new texture or view cannot be
    // made, the shown volume stays as it was and `problem` says why.
    bool Install(VolumeData volume, const std::string& path, VolumeProblem* problem,
                 std::vector<VolumeNotice>* notices);
    void Unload();
    // Switches the picture to time point t (counted from 0) of the series:
    // the 3D texture, the gradient and the clear-space bricks are made from
    // that point's samples, in the textures Install made. False, with the
    // point shown before kept, for a t past the last point or when memory
    // for the gradient's pass cannot be had.
    bool ShowTimePoint(uint32_t t);
    // The samples of several channels at several time points, whose texels
    // ShowTimePoint makes for the point it shows; null otherwise.
    std::unique_ptr<VolumeData> channelSeries;
    // For each point of a series, once shown or worked out ahead: its
    // bricks, and its gradient's texels while timePointsKeptBudget bytes
    // last. Several channels keep all of it or nothing: their texels side by
    // side, each channel's gradient in its run (as the CPU pass's copy holds
    // them), the first channel's bricks and the others'.
    struct TimePointKept {
        std::vector<uint8_t> gradient;
        std::optional<VolumeBricks> bricks;
        std::unique_ptr<uint16_t[]> texels;
        std::vector<VolumeBricks> moreBricks;
    };
    std::vector<TimePointKept> timePointsKept;
    uint64_t timePointsKeptBytes = 0, timePointsKeptBudget = 0;
    // The points not shown yet get theirs worked out ahead, in play order
    // from the one shown, on a thread of their own: the first play of a
    // series then switches as fast as later ones. The mutex guards the
    // entries (an entry once filled is not changed again), the bytes and
    // the point in the making.
    void StartPreparingTimePoints();
    void StopPreparingTimePoints();
    // One point of several channels made whole for keeping: false where
    // memory ran out. `grid` holds a channel at a time.
    bool MakeChannelsTimePoint(uint32_t t, const uint32_t factors[3], bool shaded,
                               std::unique_ptr<uint16_t[]>& grid, TimePointKept* made) const;
    // Returns once every point has been worked out ahead (or the budget ran out).
    void WaitForPreparedTimePoints();
    std::thread timePointPreparer;
    std::atomic<bool> stopPreparing{false};
    std::mutex timePointsKeptMutex;
    std::condition_variable timePointPrepared;
    uint32_t timePointPreparing = UINT32_MAX;
    // The texels (12-bit samples shifted to 16 bits) of one channel's grid at
    // one time point; every grid Install was given is kept.
    const uint16_t* Texels(uint32_t channel, uint32_t time) const {
        return voxels.get() + uint64_t{voxelCount} * (uint64_t{time} * channelCount + channel);
    }
    // The scan shown, read again through another value window (with the
    // same progress and messages as Load); false, with the volume as it was,
    // when no scan is shown or it cannot be read.
    bool Remap(const ValueChoice& values);

    gpu::Texture3D* volumeTexture = nullptr;
    gpu::ShaderResourceView* volumeView = nullptr;
    // The gradient for shading (volume/gradient.h), made with the texture;
    // null when memory or the device gave none (the volume is shown
    // unshaded, and the user told so).
    gpu::Texture2D* gradientTexture = nullptr;  // an array, a slice per z
    gpu::ShaderResourceView* gradientView = nullptr;
    // Its texels, kept only where the CPU draws the volume layer.
    std::vector<uint8_t> gradientCopy;
    gpu::Texture2D* histogramTexture = nullptr;
    gpu::ShaderResourceView* histogramView = nullptr;
    // timePoints x channelCount grids of voxelCount texels each (t, then
    // channel, then z, y, x): a series is held once, as it was read, and a
    // time point is switched to without reading anything again.
    std::unique_ptr<uint16_t[]> voxels;
    int32_t dimX = 0, dimY = 0, dimZ = 0;
    uint32_t voxelCount = 0;  // of one grid
    uint32_t timePoints = 1, channelCount = 1;
    uint32_t shownTimePoint = 0;
    double timeStep = 0;   // between time points, in timeUnit; 0 when unknown
    std::string timeUnit;  // empty when unknown
    float extentX = 0, extentY = 0, extentZ = 0;
    float halfExtentX = 0, halfExtentY = 0, halfExtentZ = 0;
    std::unique_ptr<uint32_t[]> histogramBins;
    uint32_t maxSample = 0;
    uint32_t maxBinCount = 0;
    uint32_t binCount = 0;

    // Physical size of a voxel along x, y, z: 1, 1, 1 for a volume file; the
    // extents follow dims x spacing, so a scan keeps its proportions.
    float spacingX = 1, spacingY = 1, spacingZ = 1;
    // How many samples hold each 12-bit value (kSampleValues entries), counted
    // during the load over every time point, so that the panel's histogram
    // stays still while a series plays: the histogram is built from these,
    // not the samples.
    std::vector<uint32_t> valueCounts;
    // The scan's stored value range before mapping (0..4095 for a volume file).
    double minValue = 0, maxValue = 0;
    // What the 12 bits stand for. A scan's window [windowLow, windowHigh] in
    // its own units (valueUnit: "HU", or empty when unknown) is mapped onto
    // 0..4095; a volume file's samples are the values (0..4095, no unit).
    bool isScan = false;
    bool isCt = false;
    ValueWindow valueWindow = ValueWindow::FullRange;
    double windowLow = 0, windowHigh = 4095;
    std::string valueUnit;
    std::string path;  // what was loaded
    // A multiscale store's level shown, "level 2 of 6, 2.0 \u00b5m"; empty for
    // anything else.
    std::string levelText;
    // A store opened at its coarsest level first: the level to read next
    // (VolumeData::finerLevel); -1 for none.
    int32_t finerLevel = -1;
    // A part of a store's level (VolumeData::IsPart): the level's whole grid,
    // where this grid begins in it, and the fractions of the box it covers;
    // the box, extents and crop are the whole level's. wholeDims 0 and the
    // whole box for anything else.
    uint64_t wholeDims[3] = {0, 0, 0}, partOrigin[3] = {0, 0, 0};
    float partLow[3] = {0, 0, 0}, partHigh[3] = {1, 1, 1};
    bool IsPart() const { return wholeDims[0] != 0; }
    // The choice the volume was read with (its window and level; a part's
    // range), so that a part of it or the whole can be read again alike.
    ValueChoice readWith;
    // The channels shown (the volume's first kMaxShownChannels) as read, and
    // each one's value counts; the histogram, range and window above are
    // those of the one ShowChannelValues chose (channel 0 at install). The
    // texture holds channel c in component c of texelComponents.
    std::vector<VolumeChannel> channels;
    std::vector<std::vector<uint32_t>> channelValueCounts;
    uint32_t texelComponents = 1;
    uint32_t ShownChannels() const { return channels.empty() ? 1 : static_cast<uint32_t>(channels.size()); }
    // Makes channel `channel`'s counts, range and window the ones above (the
    // caller makes the histogram anew); nothing for a channel not shown.
    void ShowChannelValues(uint32_t channel);

  private:
    bool ShowChannelsTimePoint(uint32_t t, const uint32_t dims[3]);
    // The gradient texture of the final 12-bit samples (before their shift),
    // on the grid GradientGrid gives; both null, with the reason in
    // `problem`, when memory or the device cannot hold it.
    static void MakeGradientTexture(const uint16_t* samples, const uint32_t dims[3], const float spacing[3],
                                    gpu::Texture2D** texture, gpu::ShaderResourceView** view,
                                    std::string* problem, std::vector<uint8_t>* copy);
    static bool FillGradient(const uint16_t* samples, const uint32_t dims[3], const float spacing[3],
                             gpu::Texture2D* texture, uint8_t* copy, uint32_t firstLayer = 0);
    // The same for `channelCount` channels, `grid` giving each one's 12-bit
    // samples (valid until the next call): a run of slices a channel.
    static void MakeGradientTexture(const std::function<const uint16_t*(uint32_t channel)>& grid,
                                    uint32_t channelCount, const uint32_t dims[3], const float spacing[3],
                                    gpu::Texture2D** texture, gpu::ShaderResourceView** view,
                                    std::string* problem, std::vector<uint8_t>* copy);
};

// A channel's name for the user: its own, else "Channel N" (N from 1).
std::string ChannelLabel(const VolumeChannel& channel, uint32_t index);

extern CVolume Volume;

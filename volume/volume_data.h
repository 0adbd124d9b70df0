// A volume as its readers return it: plain data, no device, no dialog. One
// grid of 12-bit samples for each channel at each time point, the grid's
// spacing, and what each channel's values stand for. A volume file and a
// single scan are one channel at one time point.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Which window maps a scan's values onto 12 bits.
enum class ValueWindow : uint8_t {
    Default,  // Ct for a CT, else Automatic
    Ct,       // -1024..3071 HU
    Automatic,
    FullRange,  // the scan's [min, max]
    Custom,     // [low, high] as given
};

// One channel: its name and colour where the file gives them, and how its
// stored values were mapped onto 0..4095.
struct VolumeChannel {
    std::string name;                             // empty when the file names none
    int32_t colour = -1;                          // 0xRRGGBB from the file; -1 when it gives none
    double minValue = 0, maxValue = 0;            // the stored values' finite range
    bool anyFinite = false;                       // else minValue and maxValue are 0
    double windowLow = 0, windowHigh = 0;         // mapped onto 0 and 4095
    ValueWindow window = ValueWindow::FullRange;  // the window used (never Default)
    std::string unit;                             // "HU" for a CT, else empty (unknown)
};

// What the user is told about a volume that was read (a box in the viewer,
// a "note:" line from the tools).
struct VolumeNotice {
    std::string caption;
    std::string text;
};

struct VolumeData {
    // timePoints x channels grids of dimZ x dimY x dimX samples, x fastest,
    // each 0..4095 (a volume file's, unshifted).
    std::unique_ptr<uint16_t[]> samples;
    uint32_t dimX = 0, dimY = 0, dimZ = 0;
    double spacingX = 1, spacingY = 1, spacingZ = 1;  // physical size of a voxel (mm)
    // Scans are turned so that x grows towards the patient's left, y towards
    // superior and z towards posterior; a volume file's axes are its own.
    bool patientAxes = false;
    uint32_t timePoints = 1;
    double timeStep = 0;   // between time points, in timeUnit; 0 when unknown
    std::string timeUnit;  // "s", "ms" ...; empty when unknown
    // One entry a channel (at least one once read).
    std::vector<VolumeChannel> channels{VolumeChannel{}};
    bool isScan = false;      // read by a scan reader, not a volume file
    bool isCt = false;        // by Modality, or by the values' look
    std::string format;       // "NIfTI", "DICOM series (12 files)" ...
    std::string sampleType;   // "int16", "float32" ...
    std::string notice;       // what the reader has to say about the read (slices left out), else empty
    std::string storeLevels;  // a multiscale store's levels, one a line; else empty
    // The level the usual choice takes when the coarsest was read in its
    // stead (ValueChoice::coarsestFirst); -1 for none.
    int32_t finerLevel = -1;
    // A part of a store's level (ValueChoice::partLow/High): the level's
    // whole grid, and the voxel where this grid (dimX, dimY, dimZ) begins in
    // it; wholeDims all 0 for a whole grid.
    uint64_t wholeDims[3] = {0, 0, 0};
    uint64_t partOrigin[3] = {0, 0, 0};
    bool IsPart() const { return wholeDims[0] != 0; }
    std::vector<VolumeNotice> notices;  // for the user, in the order they are shown
    // Set instead of `samples` by a reader asked to leave them for later
    // (scan_reader.h): writes the rows [firstRow, endRow) of the samples
    // (row y + dimY * (z + dimZ * (channel + channels * time)), dimX samples
    // each) into `out`, from the stored values it holds. The reader's child
    // sends them a piece at a time, and so never holds the 12-bit samples
    // whole beside the stored ones.
    std::function<void(uint64_t firstRow, uint64_t endRow, uint16_t* out)> makeRows;

    uint32_t ChannelCount() const { return static_cast<uint32_t>(channels.size()); }
    uint64_t GridSamples() const { return uint64_t{dimX} * dimY * dimZ; }
    uint64_t SampleCount() const { return GridSamples() * ChannelCount() * timePoints; }
    uint64_t RowCount() const { return uint64_t{dimY} * dimZ * ChannelCount() * timePoints; }
    // The grid of one channel at one time point.
    const uint16_t* Grid(uint32_t channel, uint32_t time) const {
        return samples.get() + GridSamples() * (uint64_t{time} * ChannelCount() + channel);
    }
    uint16_t* Grid(uint32_t channel, uint32_t time) {
        return samples.get() + GridSamples() * (uint64_t{time} * ChannelCount() + channel);
    }
};

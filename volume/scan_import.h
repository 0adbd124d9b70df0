// Scans in the formats of the field: NIfTI-1/2 (.nii, .nii.gz, .hdr/.img),
// NRRD (.nrrd, .nhdr + data), MetaImage (.mha, .mhd + data) and DICOM (one
// file of a series, or the series' folder). The rest of the program sees what
// it sees for a volume file: 12-bit samples, x fastest, and the grid's size.
//
// Values (after any rescale the file asks for) are mapped linearly from a
// value window [low, high] onto 0..4095: below it to 0, above it to 4095,
// NaN to 0. A CT (DICOM's Modality, or for other formats the values' own
// look, scan_mapping.h) takes the fixed window -1024..3071 HU, the range the
// 12-bit volume files and the CT presets speak; any other scan a window from
// its percentiles that a few extreme voxels cannot move. The caller may ask
// for the full range, or a window of its own, instead. An empty window (a
// constant scan, or none finite) maps everything to 0.
//
// Orientation: every scan is turned so that sample x grows towards the
// patient's left, y towards superior (head) and z towards posterior (back).
// Seen from the default orbit (the eye on -z, y up) that is a front view of
// the patient, face towards the eye, the patient's right on the screen's
// left: the radiological convention. Oblique scans take the nearest axes.
//
// The readers come from ITK; nothing outside scan_import.cpp includes it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "volume/volume_data.h"

struct ValueChoice {
    ValueWindow window = ValueWindow::Default;
    double low = 0, high = 0;  // Custom only; low < high
    // A multiscale store's level: `level` (0 the finest) when not -1, else
    // the finest whose edges are at most `maxEdge` (0: the device's usual
    // limit) and that fits the memory.
    int32_t level = -1;
    uint32_t maxEdge = 0;
    // With no `level`: the coarsest level, the one that choice would take
    // said in VolumeData::finerLevel (a first picture at once, the finer
    // one read after it).
    bool coarsestFirst = false;
    // Part of a store's box only (cropping into the data): per axis x, y, z
    // the fractions [partLow, partHigh] of the whole box, low < high; the
    // whole box by default. The level chosen is then the finest whose part
    // fits, and the part read is that range widened to whole voxels and two
    // voxels more on each side (within the grid), so that filtering and the
    // shading gradient at the range's faces take the same neighbours as in
    // the whole level.
    double partLow[3] = {0, 0, 0}, partHigh[3] = {1, 1, 1};
    bool Whole() const {
        return partLow[0] <= 0 && partLow[1] <= 0 && partLow[2] <= 0 && partHigh[0] >= 1 &&
               partHigh[1] >= 1 && partHigh[2] >= 1;
    }
    // Each channel's window given ([low, high] in its stored units, channel c
    // the c-th), as Custom is for one: a part keeps the whole's mapping onto
    // 12 bits, so the transfer functions mean what they meant. Channels past
    // the list take `window`.
    std::vector<std::pair<double, double>> channelWindows = {};
};

// "ct", "auto", "full" or "LOW,HIGH" (LOW < HIGH, both finite); false for
// anything else.
bool ParseValueChoice(const std::string& text, ValueChoice* choice);
// "CT (Hounsfield units)", "Automatic", "Full range", "Custom".
const char* ValueWindowName(ValueWindow window);

// A scan as the readers return it (volume_data.h): its channels at its
// time points, each channel's values mapped through its own window.
using ScanVolume = VolumeData;
// The most channels and time points a reader takes (more would be a header
// that means something else, or far more than anyone can look at).
inline constexpr uint32_t kMostScanChannels = 1024;
inline constexpr uint32_t kMostScanTimePoints = 100000;

// Called now and then during a long read with the fraction done (0..1).
using ScanProgress = void (*)(double fraction, void* context);

// True when a reader recognises `path` by its content: a NIfTI, NRRD,
// MetaImage, DICOM or TIFF file, a folder holding DICOM files, or an
// OME-Zarr store (its folder, its metadata file or its URL).
bool IsScanFile(const std::string& path);

// What became of a read.
enum class ScanOutcome : uint8_t {
    Read,      // `volume` holds the scan
    NotAScan,  // no reader recognises the file (`error` says what was looked for)
    Refused,   // a reader took the file and refused it: `error` says why
    Stopped,   // the reader was stopped (asked to, or silent too long) or died: `error` says how
};

// Recognises and reads the scan at `path`, in one child process. Before
// any sample is read its size is checked against `memoryBudget` bytes (0:
// what the machine has free). `error` is set to one line unless the scan
// was read; `values` chooses the value window.
ScanOutcome OpenScan(const std::string& path, ScanVolume* volume, std::string* error,
                     uint64_t memoryBudget = 0, ScanProgress progress = nullptr,
                     void* progressContext = nullptr, const ValueChoice& values = {});
// OpenScan for callers that have nothing else to try: true when read.
bool ReadScan(const std::string& path, ScanVolume* volume, std::string* error, uint64_t memoryBudget = 0,
              ScanProgress progress = nullptr, void* progressContext = nullptr,
              const ValueChoice& values = {});

// Asked a few times a second while a reader works; true ends the reader
// (the read then fails with "reading was stopped").
using ScanStopCheck = bool (*)(void* context);
// A reader that gives no sign of progress for `timeLimitSeconds` (300 at
// first), or that works longer than its file can need (10 s of processor
// time and a second per 10 MB it may have to go through, a compressed
// stream counted as the most it inflates to; at most `timeLimitSeconds`),
// is ended and its file refused; `stopRequested` (may be null) lets the
// caller end it sooner. Holds for every later read.
void SetScanWait(double timeLimitSeconds, ScanStopCheck stopRequested, void* context);

// Bytes of memory the machine can still give (MemAvailable).
uint64_t AvailableMemoryBytes();

// What the readers would have printed on the terminal by themselves (ITK's
// output window, GDCM's warnings), kept here instead; taking them empties it.
std::vector<std::string> TakeScanWarnings();

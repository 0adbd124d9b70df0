// Scans in the formats of the field: NIfTI-1/2 (.nii, .nii.gz, .hdr/.img),
// NRRD (.nrrd, .nhdr + data), MetaImage (.mha, .mhd + data) and DICOM (one
// file of a series, or the series' folder). The rest of the program sees what
// it sees for a volume file: 12-bit samples, x fastest, and the grid's size.
//
// Values are mapped linearly from the scan's [min, max] (after any rescale
// the file asks for) onto 0..4095; a constant scan maps to 0.
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
#include <memory>
#include <string>
#include <vector>

struct ScanVolume {
    std::unique_ptr<uint16_t[]> samples;  // dimX * dimY * dimZ, each 0..4095
    uint32_t dimX = 0, dimY = 0, dimZ = 0;
    double spacingX = 1, spacingY = 1, spacingZ = 1;  // physical size of a voxel (mm)
    double minValue = 0, maxValue = 0;                // the stored values' range
    std::string format;                               // "NIfTI", "DICOM series (12 files)" ...
    std::string sampleType;                           // "int16", "float32" ...
};

// Called now and then during a long read with the fraction done (0..1).
using ScanProgress = void (*)(double fraction, void* context);

// True when a reader recognises `path` by its content: a NIfTI, NRRD,
// MetaImage or DICOM file, or a folder holding DICOM files.
bool IsScanFile(const std::string& path);

// Reads the scan at `path`. Before any sample is read its size is checked
// against `memoryBudget` bytes (0: what the machine has free). False with
// `*error` set to one line (the file's problem, or the library's reason).
bool ReadScan(const std::string& path, ScanVolume* volume, std::string* error, uint64_t memoryBudget = 0,
              ScanProgress progress = nullptr, void* progressContext = nullptr);

// Asked a few times a second while a reader works; true ends the reader
// (the read then fails with "reading was stopped").
using ScanStopCheck = bool (*)(void* context);
// A reader that gives no sign of progress for `timeLimitSeconds` (300 at
// first) is ended and its file refused; `stopRequested` (may be null) lets
// the caller end it sooner. Holds for every later IsScanFile and ReadScan.
void SetScanWait(double timeLimitSeconds, ScanStopCheck stopRequested, void* context);

// Bytes of memory the machine can still give (MemAvailable).
uint64_t AvailableMemoryBytes();

// What the readers would have printed on the terminal by themselves (ITK's
// output window, GDCM's warnings), kept here instead; taking them empties it.
std::vector<std::string> TakeScanWarnings();

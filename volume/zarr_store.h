// OME-Zarr multiscale stores on disk: Zarr v2 (.zgroup, .zattrs, .zarray)
// and v3 (zarr.json, sharding included), the OME "multiscales" metadata
// that names the levels and their axes, and the chunks' codecs (blosc,
// zstd, zlib, gzip, lz4, crc32c). No Zarr library is packaged here; this is
// the small part of one that showing a level needs. For the readers
// (scan_import.cpp) alone: the rest of the program sees ScanVolume.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "volume/scan_import.h"

// One level of a store: its array's folder (relative to the store) and the
// grid of its space axes, x first.
struct ZarrLevel {
    std::string path;
    uint64_t dims[3] = {1, 1, 1};   // x, y, z
    double spacing[3] = {1, 1, 1};  // mm, from the level's scale
    uint32_t channels = 1, timePoints = 1;
    std::string sampleType;  // "uint16" ...
    uint64_t bytes = 0;      // of its stored values
};

struct ZarrArray;  // a level's array header, as read

struct ZarrStore {
    std::string root;                                      // the store's folder
    std::string version;                                   // "0.4", "0.5" (the OME metadata's)
    std::vector<ZarrLevel> levels;                         // finest first
    std::vector<std::shared_ptr<const ZarrArray>> arrays;  // one a level
};

// True when `path` is a store's folder, or its zarr.json / .zattrs, with
// OME multiscales metadata.
bool IsOmeZarrStore(const std::string& path);

// The store's metadata and each level's array header: ScanFailure with a
// one-line reason naming the key at fault.
ZarrStore OpenOmeZarrStore(const std::string& path);

// Which level to read: `choice.level` when set (counted from the finest),
// else the finest whose every edge is at most `choice.maxEdge` (0: the
// device's usual limit) and whose values fit `budget`; for a part of the
// box (ValueChoice::partLow/High), the part's grid and values on that
// level. ScanFailure for a part that is none (low >= high, NaN, or
// outside the box).
size_t ChooseZarrLevel(const ZarrStore& store, const ValueChoice& choice, uint64_t budget);

// Reads level `level` of `store` into `volume` (FinishScan's stored values:
// every channel at every time point); the store's x, y, z are the
// program's. `volume->storeLevels` lists every level. For a part, only the
// chunks (and inner chunks of shards) that hold it are read, the volume's
// grid is the part's, and `volume->wholeDims` and `partOrigin` say where it
// lies in the level.
void ReadOmeZarrLevel(const ZarrStore& store, size_t level, uint64_t budget, const ValueChoice& choice,
                      ScanProgress progress, void* context, ScanVolume* volume);

// "level 0: 512 x 512 x 256, 0.001 x 0.001 x 0.002 mm" ..., one a line.
std::string ZarrLevelsText(const ZarrStore& store);

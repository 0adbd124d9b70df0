// TIFF stacks, read by libtiff: a plain multi-page stack (one page a z
// slice), an ImageJ hyperstack (its description gives channels, slices,
// frames, the z step and the unit) or an OME-TIFF (its OME-XML gives the
// sizes, the page order or each plane's page, the physical sizes, channel
// names and colours; planes in other files are refused).
// Pages of several samples (RGB) give a channel each.
//
// The grid is placed as the pages are seen on a screen: x to the right,
// y down and page 0 at the front, nearest the default view's eye.
#pragma once

#include <cstdint>
#include <string>

#include "volume/scan_import.h"

// True when the file starts with a TIFF or BigTIFF header (either byte order).
bool IsTiffFile(const std::string& path);

// Reads the whole stack into `volume` (ScanFailure with the reason when it
// cannot); `budget`: bytes of memory the read may take. Before any sample is
// read, every page is checked against the first and the whole size against
// the budget. `progress` (may be null) hears of each page read.
void ReadTiff(const std::string& path, uint64_t budget, const ValueChoice& choice, ScanVolume* volume,
              ScanProgress progress = nullptr, void* progressContext = nullptr);

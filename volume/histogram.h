// The histogram on the device: GenerateHistogram counts the loaded volume
// (histogram_counts.h) and hands the image to the device.
#pragma once

#include <cstdint>

#include "volume/histogram_counts.h"

// Counts Volume's samples (from its value counts when the load made them)
// into binCount bins and creates its histogram
// texture and view. False after a message box.
bool GenerateHistogram(uint32_t binCount);

// Transfer Function > Logarithmic Histogram: the bins drawn as log(1 + count).
extern bool HistogramIsLogarithmic;

// What a position on the transfer function's graph stands for in the volume's
// own values: the tip shown beside the cursor over the graph.
#pragma once

#include <cstdint>
#include <string>

#include "ui/transfer_function.h"

namespace UI {

// How the volume's 12 bits relate to its values: a scan's window in its own
// units (unit "HU", or empty when unknown) is mapped onto 0..4095; a volume
// file's 12-bit samples are its values.
struct ValueScale {
    bool isScan = false;
    double windowLow = 0, windowHigh = 4095;
    std::string unit;
};

// The value at a graph position (0..1): position 1 is 12-bit value 4095, the
// top of the window.
double ValueAtPosition(float position, const ValueScale& scale);

// "350 HU"; "value 1234" when the unit is unknown.
std::string ValueText(float position, const ValueScale& scale);
// "350 HU, opacity 0.30"; "value 1234, opacity 0.30" when the unit is
// unknown (a volume file's 12-bit value is a whole number; a scan's value
// keeps the digits its window needs).
std::string ValueReadoutText(float position, const ValueScale& scale, float opacity);

// The function's opacity at a position, linear between neighbouring points
// as the lookup table holds it.
float OpacityAt(const ControlPoint* points, uint32_t count, float position);

}  // namespace UI

// The ".tf" reader on hostile bytes, then what the editor does with what it
// accepts: the walk into the lookup table and the write back to bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ui/transfer_function.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<ControlPoint> points;
    std::string error;
    if (!ParseTransferFunction(data, size, &points, &error)) {
        if (error.empty() || !points.empty())
            abort();
        return 0;
    }
    if (points.size() < 2)
        abort();
    std::vector<float> texels(4 * kTransferTexels);
    WalkTransferFunction(points.data(), static_cast<uint32_t>(points.size()), texels.data());
    const std::vector<uint8_t> bytes =
        SerializeTransferFunction(points.data(), static_cast<uint32_t>(points.size()));
    // Accepted files round-trip: the records are kept as stored.
    if (bytes.size() > size || std::memcmp(bytes.data(), data, bytes.size()) != 0)
        abort();
    return 0;
}

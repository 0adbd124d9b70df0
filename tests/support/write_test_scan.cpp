// Writes a small head-like CT for the end-to-end runs: an int16 ellipsoid of
// soft tissue (40 HU) in air (-1000 HU) with a bone shell (1200 HU), 0.9 x
// 0.9 x 2 mm voxels, in the format the name asks for.
//   write_test_scan OUT.nii.gz
#include <cmath>
#include <cstdio>

#include "tests/support/scan_writer.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: write_test_scan OUT\n");
        return 2;
    }
    scan_test::ScanSpec spec;
    spec.dims = {64, 64, 30};
    spec.spacing = {0.9, 0.9, 2.0};
    std::vector<double> values;
    for (uint32_t z = 0; z < spec.dims[2]; ++z)
        for (uint32_t y = 0; y < spec.dims[1]; ++y)
            for (uint32_t x = 0; x < spec.dims[0]; ++x) {
                const double dx = (x - 31.5) / 26.0, dy = (y - 31.5) / 30.0, dz = (z - 14.5) / 13.0;
                const double r = std::sqrt(dx * dx + dy * dy + dz * dz);
                values.push_back(r > 1.0 ? -1000.0 : r > 0.85 ? 1200.0 : 40.0);
            }
    const std::string problem = scan_test::WriteScan(argv[1], spec, values);
    if (!problem.empty()) {
        std::fprintf(stderr, "write_test_scan: %s\n", problem.c_str());
        return 1;
    }
    return 0;
}

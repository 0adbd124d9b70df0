// Writes the head phantom as a volume file; with ct or mri, the head as that
// scanner would record it (for trying transfer functions).
// Usage: make_volume OUTPUT DIMX DIMY DIMZ [phantom|ct|mri]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/volume/phantom.h"

int main(int argc, char** argv) {
    const std::string kind = argc == 6 ? argv[5] : "phantom";
    if ((argc != 5 && argc != 6) || (kind != "phantom" && kind != "ct" && kind != "mri")) {
        std::fprintf(stderr, "usage: make_volume OUTPUT DIMX DIMY DIMZ [phantom|ct|mri]\n");
        return 2;
    }
    int dims[3];
    for (int i = 0; i < 3; ++i) {
        char* end = nullptr;
        const long d = std::strtol(argv[2 + i], &end, 10);
        if (end == argv[2 + i] || *end != '\0' || d < 1 || d > 1024) {
            std::fprintf(stderr, "make_volume: dimension '%s' is not a whole number from 1 to 1024\n",
                         argv[2 + i]);
            return 2;
        }
        dims[i] = static_cast<int>(d);
    }
    std::string error;
    const std::vector<uint16_t> samples =
        kind == "phantom"
            ? phantom::MakeHeadPhantom(dims[0], dims[1], dims[2])
            : phantom::MakeHeadScan(dims[0], dims[1], dims[2],
                                    kind == "ct" ? phantom::Modality::Ct : phantom::Modality::MriT1);
    if (!phantom::WriteVolumeFile(argv[1], dims[0], dims[1], dims[2], samples, &error)) {
        std::fprintf(stderr, "make_volume: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

// Turns a transfer function written as text (one point a line: position, red,
// green, blue, alpha, each 0 to 1; '#' starts a comment) into a .tf file,
// refusing anything Transfer Function > Open would refuse.
// Usage: make_tf INPUT.txt OUTPUT.tf
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ui/transfer_function.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_tf INPUT.txt OUTPUT.tf\n");
        return 2;
    }
    std::ifstream in(argv[1]);
    if (!in) {
        std::fprintf(stderr, "make_tf: cannot read %s\n", argv[1]);
        return 1;
    }
    std::vector<ControlPoint> points;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        line = line.substr(0, line.find('#'));
        std::istringstream fields(line);
        ControlPoint p{};
        if (!(fields >> p.position)) {
            if (line.find_first_not_of(" \t\r") != std::string::npos) {
                std::fprintf(stderr, "%s:%d: not a number\n", argv[1], number);
                return 1;
            }
            continue;  // blank or comment
        }
        std::string rest;
        if (!(fields >> p.red >> p.green >> p.blue >> p.alpha) || (fields >> rest)) {
            std::fprintf(stderr, "%s:%d: a point is five numbers: position red green blue alpha\n", argv[1],
                         number);
            return 1;
        }
        points.push_back(p);
    }
    const std::vector<uint8_t> bytes =
        SerializeTransferFunction(points.data(), static_cast<uint32_t>(points.size()));
    std::vector<ControlPoint> check;
    std::string why;
    if (!ParseTransferFunction(bytes.data(), bytes.size(), &check, &why)) {
        std::fprintf(stderr, "%s: the viewer would refuse it: %s\n", argv[1], why.c_str());
        return 1;
    }
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
        std::fprintf(stderr, "make_tf: could not write %s\n", argv[2]);
        return 1;
    }
    return 0;
}

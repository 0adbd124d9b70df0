// Volume and ".tf" files for the storm, failure and leak tests: sound ones
// and the truncated, oversized and malformed kinds a user (or an attacker)
// might hand to File > Open and Transfer Function > Open.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/transfer_function.h"

namespace storm_test {

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// A small sound volume with varied samples (the histogram has something to count).
void WriteSmallVolume(const std::string& path, int dimX, int dimY, int dimZ);

// A ".tf" file holding exactly these points.
void WriteTransferFile(const std::string& path, const std::vector<ControlPoint>& points);

// Every hostile file of both kinds, written into dir; paths returned.
struct HostileFiles {
    std::vector<std::string> volumes;   // sound ones first
    std::vector<std::string> transfer;  // sound ones first
    size_t soundVolumes = 0, soundTransfer = 0;
};
HostileFiles WriteHostileFiles(const std::string& dir);

}  // namespace storm_test

// The volume file as an attacker writes it: the plain header and size check,
// the sample block with its shift and histogram, and then, for bytes that
// make a volume file, the same bytes through CVolume::Load from a file (no
// device: it must stop at the texture with its message, after reading every
// sample the header promised). Other bytes would go to the scan readers,
// each read in a child process of its own; forking per input under the
// sanitizers would leave a few hundred inputs a minute, so this target keeps
// to the volume file's own checks, in this process.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/shell/shell.h"
#include "volume/histogram.h"
#include "volume/volume.h"

namespace {

void CheckPlain(const uint8_t* data, size_t size) {
    if (size < kVolumeHeaderBytes)
        return;
    const VolumeHeader header = ReadVolumeHeader(data);
    if (!CheckVolumeFile(header, size).empty())
        return;
    const uint64_t count = uint64_t{header.dimX} * header.dimY * header.dimZ;
    // A sound header never promises more samples than the bytes hold.
    if (kVolumeHeaderBytes + count * 2 > size)
        abort();
    std::vector<uint16_t> samples(count > 0 ? count : 1);
    std::memcpy(samples.data(), data + kVolumeHeaderBytes, count * 2);
    ShiftSamples(samples.data(), static_cast<uint32_t>(count));
    // Bin counts as a window gives them: half its width, 0 for a tiny one.
    const uint32_t binCount = size > kVolumeHeaderBytes ? data[size - 1] : 0;
    const HistogramCounts counts = CountHistogram(samples.data(), static_cast<uint32_t>(count), binCount);
    uint64_t total = 0;
    for (uint32_t b : counts.bins)
        total += b;
    if (binCount > 0 && total != count)
        abort();
    BuildHistogramImage(counts.bins, counts.maxBinCount);
}

void CheckLoad(const uint8_t* data, size_t size) {
    if (size < kVolumeHeaderBytes || !IsExactVolumeFile(ReadVolumeHeader(data), size))
        return;
    const int fd = ::memfd_create("volume", MFD_CLOEXEC);
    if (fd < 0)
        return;
    size_t done = 0;
    while (done < size) {
        const ssize_t put = ::write(fd, data + done, size - done);
        if (put <= 0)
            break;
        done += static_cast<size_t>(put);
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    // With no device a load never succeeds; what matters is that it reads
    // only what is there and leaves nothing behind.
    if (Volume.Load(path.c_str()))
        abort();
    if (Volume.voxels != nullptr || Volume.volumeTexture != nullptr)
        abort();
    if (shell::testing::TakeMessageBoxes().size() != 1)
        abort();
    ::close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    shell::testing::RecordMessageBoxes(true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckPlain(data, size);
    CheckLoad(data, size);
    return 0;
}

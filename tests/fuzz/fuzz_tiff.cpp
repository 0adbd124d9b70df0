// TIFF bytes as an attacker writes them (pages, strips, tiles, ImageJ and
// OME descriptions), through the TIFF reader and the mapping in this
// process, where the sanitizers see every read. The first byte picks the
// value window; the rest is the file.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/files/file_read.h"
#include "volume/scan_import.h"
#include "volume/scan_reader.h"

namespace {

std::string Folder;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/tamlo-fuzz-tiff-XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        std::abort();
    Folder = pattern;
    SkipDicomHere(true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    static const ValueWindow kWindows[] = {ValueWindow::Default, ValueWindow::Automatic,
                                           ValueWindow::FullRange, ValueWindow::Ct};
    const std::string path = Folder + "/stack.tif";
    // The same bytes beside it as the other file of a set, for descriptions
    // that place planes in "part.ome.tif" or take the set's description from it.
    for (const std::string& name : {path, Folder + "/part.ome.tif"}) {
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0 || !WriteFully(fd, data + 1, size - 1))
            std::abort();
        ::close(fd);
    }
    ScanVolume volume;
    std::string error;
    // A small budget: the reader must refuse what does not fit before reading it.
    const ScanOutcome outcome =
        ReadScanHere(path, &volume, &error, 64u << 20, nullptr, nullptr, {kWindows[data[0] % 4]});
    if (outcome == ScanOutcome::Read) {
        const uint64_t count = volume.SampleCount();
        if (count == 0 || volume.samples == nullptr || volume.channels.empty())
            std::abort();
        for (uint64_t i = 0; i < count; ++i)
            if (volume.samples[i] > 4095)
                std::abort();
    } else if (error.empty()) {
        std::abort();  // a refusal always says why
    }
    TakeScanWarningsHere();
    ::unlink(path.c_str());
    ::unlink((Folder + "/part.ome.tif").c_str());
    return 0;
}

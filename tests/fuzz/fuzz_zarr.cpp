// An OME-Zarr level's array header and one chunk as an attacker writes
// them, through the store reader in this process: the JSON, the codecs,
// the shard index and the placing of items. The first byte picks Zarr v2 or
// v3; the rest is the array's header, a NUL, then the bytes of its first
// chunk (under every key a chunk may have).
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "volume/scan_import.h"
#include "volume/scan_reader.h"

namespace {

namespace fs = std::filesystem;
fs::path Folder;

void Write(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<long>(bytes.size()));
}

const char kMultiscales[] =
    R"({"version": "0.4", "axes": [{"name": "z", "type": "space"}, {"name": "y", "type": "space"},
        {"name": "x", "type": "space"}], "datasets": [{"path": "0"}]})";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/tamlo-fuzz-zarr-XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        std::abort();
    Folder = pattern;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const bool v3 = data[0] & 1;
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const size_t split = rest.find('\0');
    const std::string header = rest.substr(0, split);
    const std::string chunk = split == std::string::npos ? std::string() : rest.substr(split + 1);
    const fs::path store = Folder / "store.zarr";
    std::error_code ec;
    fs::remove_all(store, ec);
    if (v3) {
        Write(store / "zarr.json", std::string(R"({"zarr_format": 3, "node_type": "group", "attributes":
            {"ome": {"version": "0.5", "multiscales": [)") +
                                       kMultiscales + "]}}}");
        Write(store / "0" / "zarr.json", header);
        Write(store / "0" / "c" / "0" / "0" / "0", chunk);
    } else {
        Write(store / ".zattrs", std::string(R"({"multiscales": [)") + kMultiscales + "]}");
        Write(store / "0" / ".zarray", header);
        Write(store / "0" / "0" / "0" / "0", chunk);
    }
    Write(store / "0" / "0.0.0", chunk);
    ScanVolume volume;
    std::string error;
    // A small budget: the reader must refuse what does not fit before reading it.
    const ScanOutcome outcome = ReadScanHere(store.string(), &volume, &error, 64u << 20, nullptr, nullptr);
    if (outcome == ScanOutcome::Read) {
        if (volume.SampleCount() == 0 || volume.samples == nullptr)
            std::abort();
        for (uint64_t i = 0; i < volume.SampleCount(); ++i)
            if (volume.samples[i] > 4095)
                std::abort();
    } else if (error.empty()) {
        std::abort();  // a refusal always says why
    }
    TakeScanWarningsHere();
    return 0;
}

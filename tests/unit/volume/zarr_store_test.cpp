// OME-Zarr stores written by python3-zarr (v2, every compressor, both key
// separators, C and F order, either byte order) and by hand (v3 with
// sharding), read through the scan readers: every sample lands where the
// store put it, levels are chosen by size, a part of the box gives the
// same voxels of the whole, and damaged stores are refused naming the key
// at fault.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "volume/scan_import.h"
#include "volume/scan_reader.h"

namespace {

namespace fs = std::filesystem;

class ZarrStoreTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = fs::temp_directory_path() / ("tamlo-zarr-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "start");
        const std::string script = std::string(TAMLO_SOURCE_DIR) + "/tests/unit/volume/make_zarr_stores.py";
        made_ = std::system(("/usr/bin/python3 " + script + " " + dir_.string() +
                             " 2>/dev/null && /usr/bin/python3 " + script + " " + (dir_ / "start").string() +
                             " start 2>/dev/null")
                                .c_str()) == 0;
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }
    void SetUp() override {
        if (!made_)
            GTEST_SKIP() << "/usr/bin/python3 with zarr and numcodecs is needed to write the stores";
    }

    static std::string Path(const std::string& name) { return (dir_ / name).string(); }

    static ScanVolume Read(const std::string& path, ValueChoice choice = Full()) {
        ScanVolume volume;
        std::string error;
        EXPECT_TRUE(ReadScan(path, &volume, &error, 0, nullptr, nullptr, choice)) << path << ": " << error;
        return volume;
    }
    static std::string Refusal(const std::string& path, ValueChoice choice = Full()) {
        ScanVolume volume;
        std::string error;
        EXPECT_FALSE(ReadScan(path, &volume, &error, 0, nullptr, nullptr, choice)) << path << " was read";
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        return error;
    }
    static ValueChoice Full() {
        ValueChoice choice;
        choice.window = ValueWindow::FullRange;
        return choice;
    }

    static inline fs::path dir_;
    static inline bool made_ = false;
};

// The stored value at (x, y, z), channel c, time point t.
double Stored(uint32_t x, uint32_t y, uint32_t z, uint32_t c = 0, uint32_t t = 0) {
    return x + 7.0 * y + 31.0 * z + 1000.0 * c + 500.0 * t;
}

uint16_t Mapped(double value, double low, double high) {
    return static_cast<uint16_t>(std::lround((value - low) / (high - low) * 4095));
}

TEST_F(ZarrStoreTest, EveryCodecAndLayoutGivesTheStoredSamples) {
    for (const char* name : {"blosc-lz4", "blosc-zstd-bit", "zstd", "zlib", "gzip", "lz4", "raw"}) {
        SCOPED_TRACE(name);
        for (int level : {0, 1}) {
            ValueChoice choice = Full();
            choice.level = level;
            const ScanVolume volume = Read(Path(std::string(name) + ".zarr"), choice);
            const uint32_t step = level == 0 ? 1 : 2;
            const uint32_t dims[3] = {level == 0 ? 9u : 5u, level == 0 ? 5u : 3u, level == 0 ? 6u : 3u};
            ASSERT_EQ(volume.dimX, dims[0]);
            ASSERT_EQ(volume.dimY, dims[1]);
            ASSERT_EQ(volume.dimZ, dims[2]);
            // The scale's micrometres as millimetres; the store's axes are
            // the program's, not a patient's.
            EXPECT_DOUBLE_EQ(volume.spacingX, 0.0005 * step);
            EXPECT_DOUBLE_EQ(volume.spacingZ, 0.002 * step);
            EXPECT_FALSE(volume.patientAxes);
            const double high = Stored(step * (dims[0] - 1), step * (dims[1] - 1), step * (dims[2] - 1));
            for (uint32_t z = 0; z < dims[2]; ++z)
                for (uint32_t y = 0; y < dims[1]; ++y)
                    for (uint32_t x = 0; x < dims[0]; ++x)
                        ASSERT_EQ(volume.samples[(z * dims[1] + y) * dims[0] + x],
                                  Mapped(Stored(step * x, step * y, step * z), 0, high))
                            << "level " << level << " at " << x << ", " << y << ", " << z;
        }
    }
}

TEST_F(ZarrStoreTest, LevelsChannelsTimeAndShards) {
    // Unasked, the finest level that fits the edge allowed.
    ValueChoice small = Full();
    small.maxEdge = 5;
    EXPECT_EQ(Read(Path("zstd.zarr"), small).dimX, 5u);
    EXPECT_EQ(Read(Path("zstd.zarr")).dimX, 9u);
    small.maxEdge = 2;  // none fits: the coarsest
    EXPECT_EQ(Read(Path("zstd.zarr"), small).dimX, 5u);
    ValueChoice past = Full();
    past.level = 2;
    EXPECT_NE(Refusal(Path("zstd.zarr"), past).find("--level 2: the store has 2 levels (0 to 1)"),
              std::string::npos);
    EXPECT_NE(Read(Path("zstd.zarr")).storeLevels.find("level 1: 5 x 3 x 3, 0.001 x 0.001 x 0.004 mm"),
              std::string::npos);
    // The coarsest first, naming the level the choice would have read; none
    // named where that is the coarsest, or a level was asked for.
    ValueChoice first = Full();
    first.coarsestFirst = true;
    const ScanVolume coarse = Read(Path("zstd.zarr"), first);
    EXPECT_EQ(coarse.dimX, 5u);
    EXPECT_EQ(coarse.finerLevel, 0);
    first.maxEdge = 2;
    EXPECT_EQ(Read(Path("zstd.zarr"), first).finerLevel, -1);
    first.maxEdge = 0;
    first.level = 0;
    EXPECT_EQ(Read(Path("zstd.zarr"), first).dimX, 9u);

    // t, c, z, y, x of float32; the chunk of t 1, c 1, z 2..3, y 2..3 left
    // out reads as the fill value NaN, shown at 0.
    const ScanVolume series = Read(Path("tczyx.zarr"));
    ASSERT_EQ(series.ChannelCount(), 2u);
    ASSERT_EQ(series.timePoints, 2u);
    ASSERT_EQ(series.dimX * series.dimY * series.dimZ, 5u * 4 * 3);
    for (uint32_t c = 0; c < 2; ++c) {
        // Channel 2's highest value lies in the chunk left out.
        const double low = Stored(0, 0, 0, c, 0),
                     high = c == 0 ? Stored(4, 3, 2, c, 1) : Stored(4, 1, 2, c, 1);
        EXPECT_EQ(series.channels[c].windowLow, low);
        EXPECT_EQ(series.channels[c].windowHigh, high);
        EXPECT_EQ(series.Grid(c, 1)[(1 * 4 + 1) * 5 + 3], Mapped(Stored(3, 1, 1, c, 1), low, high));
    }
    EXPECT_EQ(series.Grid(1, 1)[(2 * 4 + 3) * 5 + 4], 0) << "a chunk left out is the fill value";
    EXPECT_EQ(series.Grid(0, 1)[(2 * 4 + 3) * 5 + 4],
              Mapped(Stored(4, 3, 2, 0, 1), 0, Stored(4, 3, 2, 0, 1)));

    // v3, sharded, the index at either end; the inner chunk left out is -5.
    for (const char* name : {"sharded.zarr", "start/sharded.zarr"}) {
        SCOPED_TRACE(name);
        const ScanVolume sharded = Read(Path(name));
        ASSERT_EQ(sharded.dimX, 6u);
        const double low = -5, high = Stored(2, 3, 3);  // the largest outside the left-out chunk
        EXPECT_EQ(sharded.samples[(1 * 4 + 2) * 6 + 1], Mapped(Stored(1, 2, 1), low, high));
        EXPECT_EQ(sharded.samples[(3 * 4 + 3) * 6 + 5], 0);
    }
}

TEST_F(ZarrStoreTest, DamagedStoresAreRefusedNamingTheKey) {
    const auto copy = [&](const char* from, const char* to) {
        fs::remove_all(Path(to));
        fs::copy(Path(from), Path(to), fs::copy_options::recursive);
        return Path(to);
    };
    const auto write = [](const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    };
    const std::string notJson = copy("raw.zarr", "bad-json.zarr");
    write(notJson + "/0/.zarray", "{\"shape\": [6, 5,");
    EXPECT_NE(Refusal(notJson).find("bad-json.zarr/0/.zarray is not JSON"), std::string::npos);

    const std::string absurd = copy("raw.zarr", "absurd.zarr");
    write(absurd + "/0/.zarray",
          R"({"zarr_format": 2, "shape": [1000000000000000, 5, 9], "chunks": [4, 3, 4], "dtype": "<u2",
              "compressor": null, "fill_value": 0, "order": "C", "filters": null})");
    EXPECT_NE(Refusal(absurd).find("more than any axis can be"), std::string::npos);
    write(absurd + "/0/.zarray",
          R"({"zarr_format": 2, "shape": [6, 5, 9], "chunks": [100000, 100000, 100], "dtype": "<u2",
              "compressor": null, "fill_value": 0, "order": "C", "filters": null})");
    EXPECT_NE(Refusal(absurd).find("more than a chunk may"), std::string::npos);
    write(absurd + "/0/.zarray",
          R"({"zarr_format": 2, "shape": [6, 5, 9], "chunks": [4, 3, 4], "dtype": "<u2",
              "compressor": {"id": "snappy"}, "fill_value": 0, "order": "C", "filters": null})");
    EXPECT_NE(Refusal(absurd).find("compressor snappy is not supported"), std::string::npos);

    const std::string cut = copy("blosc-lz4.zarr", "cut.zarr");
    fs::resize_file(cut + "/0/0.0.0", fs::file_size(cut + "/0/0.0.0") - 3);
    EXPECT_NE(Refusal(cut).find("cut.zarr/0/0.0.0: the blosc chunk says it is"), std::string::npos);
    const std::string longer = copy("zstd.zarr", "long.zarr");
    std::ofstream(longer + "/0/1.1.1", std::ios::binary | std::ios::app) << "trailing";
    EXPECT_NE(Refusal(longer).find("long.zarr/0/1.1.1"), std::string::npos);
    const std::string raw = copy("raw.zarr", "short-raw.zarr");
    fs::resize_file(raw + "/0/0/0/0", 10);
    EXPECT_NE(Refusal(raw).find("short-raw.zarr/0/0/0/0: the chunk holds 10 bytes, 96 expected"),
              std::string::npos);

    // A flipped bit in a shard's index fails its checksum.
    const std::string flipped = copy("sharded.zarr", "flipped.zarr");
    const std::string shard = flipped + "/0/c/0/0/0";
    std::string bytes;
    {
        std::ifstream in(shard, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    bytes[bytes.size() - 20] ^= 1;
    write(shard, bytes);
    EXPECT_NE(Refusal(flipped).find("crc32c checksum does not match"), std::string::npos);
    TakeScanWarnings();
}

// The voxels a part [low, high] of the box covers along an axis of n: the
// voxels it touches and two more on each side (filtering and the shading
// gradient's kernel), within the grid.
std::pair<uint64_t, uint64_t> PartVoxels(double low, double high, uint64_t n) {
    int64_t first = static_cast<int64_t>(std::floor(std::max(low, 0.0) * static_cast<double>(n))) - 2;
    int64_t end = static_cast<int64_t>(std::ceil(std::min(high, 1.0) * static_cast<double>(n))) + 2;
    first = std::clamp<int64_t>(first, 0, static_cast<int64_t>(n) - 1);
    end = std::clamp<int64_t>(end, first + 1, static_cast<int64_t>(n));
    return {static_cast<uint64_t>(first), static_cast<uint64_t>(end - first)};
}

struct Box {
    double low[3], high[3];
};

ValueChoice PartOf(const Box& box, ValueChoice choice = {}) {
    for (int a = 0; a < 3; ++a) {
        choice.partLow[a] = box.low[a];
        choice.partHigh[a] = box.high[a];
    }
    return choice;
}

// `choice` with each channel's window as `volume` has it.
ValueChoice WindowsOf(const ScanVolume& volume, ValueChoice choice) {
    for (const VolumeChannel& channel : volume.channels)
        choice.channelWindows.push_back({channel.windowLow, channel.windowHigh});
    return choice;
}

// `part` is `box` of `whole`: where the rule puts it, with the whole's
// windows, and every sample of every channel at every time point the same
// voxel's of the whole.
void ExpectPartOfWhole(const ScanVolume& part, const ScanVolume& whole, const Box& box) {
    const uint64_t wholeDims[3] = {whole.dimX, whole.dimY, whole.dimZ};
    const uint32_t partDims[3] = {part.dimX, part.dimY, part.dimZ};
    ASSERT_TRUE(part.IsPart());
    for (int a = 0; a < 3; ++a) {
        const auto [first, size] = PartVoxels(box.low[a], box.high[a], wholeDims[a]);
        ASSERT_EQ(part.wholeDims[a], wholeDims[a]) << "axis " << a;
        ASSERT_EQ(part.partOrigin[a], first) << "axis " << a;
        ASSERT_EQ(partDims[a], size) << "axis " << a;
    }
    EXPECT_DOUBLE_EQ(part.spacingX, whole.spacingX);
    EXPECT_DOUBLE_EQ(part.spacingZ, whole.spacingZ);
    ASSERT_EQ(part.ChannelCount(), whole.ChannelCount());
    ASSERT_EQ(part.timePoints, whole.timePoints);
    for (uint32_t c = 0; c < part.ChannelCount(); ++c) {
        EXPECT_EQ(part.channels[c].windowLow, whole.channels[c].windowLow);
        EXPECT_EQ(part.channels[c].windowHigh, whole.channels[c].windowHigh);
        for (uint32_t t = 0; t < part.timePoints; ++t)
            for (uint32_t z = 0; z < part.dimZ; ++z)
                for (uint32_t y = 0; y < part.dimY; ++y)
                    for (uint32_t x = 0; x < part.dimX; ++x) {
                        const uint64_t wx = x + part.partOrigin[0], wy = y + part.partOrigin[1],
                                       wz = z + part.partOrigin[2];
                        ASSERT_EQ(part.Grid(c, t)[(uint64_t{z} * part.dimY + y) * part.dimX + x],
                                  whole.Grid(c, t)[(wz * whole.dimY + wy) * whole.dimX + wx])
                            << "channel " << c << ", time " << t << " at " << x << ", " << y << ", " << z;
                    }
    }
}

TEST_F(ZarrStoreTest, PartsGiveTheSamplesOfTheWhole) {
    const Box boxes[] = {
        {{0.2, 0.3, 0.1}, {0.6, 0.7, 0.5}},      // within
        {{0.8, 0, 0.5}, {1, 1, 1}},              // at the box's far faces: cut there
        {{-0.5, 0.1, 0.9}, {0.3, 0.4, 1.5}},     // past both ends
        {{0.5, 0.5, 0.5}, {0.5001, 0.51, 0.6}},  // thinner than a voxel
    };
    for (const char* name :
         {"blosc-lz4.zarr", "zstd.zarr", "shards.zarr", "start/shards.zarr", "tczyx.zarr"}) {
        for (int level : {0, 1}) {
            if (level == 1 && std::string(name) == "tczyx.zarr")
                continue;
            SCOPED_TRACE(std::string(name) + ", level " + std::to_string(level));
            // Automatic windows: a part choosing its own would map otherwise.
            ValueChoice choice;
            choice.level = level;
            const ScanVolume whole = Read(Path(name), choice);
            EXPECT_FALSE(whole.IsPart());
            for (const Box& box : boxes)
                ExpectPartOfWhole(Read(Path(name), PartOf(box, WindowsOf(whole, choice))), whole, box);
        }
    }
}

TEST_F(ZarrStoreTest, APartChoosesItsLevelAndReadsOnlyItsChunks) {
    // The finest level whose part fits the edge or the memory allowed.
    const Box corner = {{0, 0, 0}, {0.3, 0.3, 0.3}};
    ValueChoice small = Full();
    small.maxEdge = 5;
    EXPECT_EQ(Read(Path("blosc-lz4.zarr"), small).dimX, 5u);
    EXPECT_EQ(Read(Path("blosc-lz4.zarr"), PartOf(corner, small)).wholeDims[0], 9u);
    ScanVolume volume;
    std::string error;
    const uint64_t budget = 9 * 5 * 6 * 4 - 1;  // level 0 needs 4 bytes a voxel, its part less
    ASSERT_TRUE(ReadScan(Path("blosc-lz4.zarr"), &volume, &error, budget, nullptr, nullptr, Full())) << error;
    EXPECT_EQ(volume.dimX, 5u);
    ASSERT_TRUE(
        ReadScan(Path("blosc-lz4.zarr"), &volume, &error, budget, nullptr, nullptr, PartOf(corner, Full())))
        << error;
    EXPECT_EQ(volume.wholeDims[0], 9u);
    // The coarsest first is for a whole store: a part is read at its level.
    ValueChoice first = PartOf(corner, Full());
    first.coarsestFirst = true;
    const ScanVolume part = Read(Path("blosc-lz4.zarr"), first);
    EXPECT_EQ(part.wholeDims[0], 9u);
    EXPECT_EQ(part.finerLevel, -1);

    // A damaged chunk, or inner chunk of a shard, outside the part is never
    // read: the whole is refused, the part is read.
    const auto copy = [&](const char* from, const char* to) {
        fs::remove_all(Path(to));
        fs::copy(Path(from), Path(to), fs::copy_options::recursive);
        return Path(to);
    };
    const std::string cut = copy("blosc-lz4.zarr", "cut-far.zarr");
    fs::resize_file(cut + "/0/1.1.1", 10);
    const Box near = {{0, 0, 0}, {0.2, 0.2, 0.2}};  // x, y, z 0..2: chunk 0.0.0 alone
    ValueChoice level0 = Full();
    level0.level = 0;
    EXPECT_NE(Refusal(cut, level0).find("cut-far.zarr/0/1.1.1"), std::string::npos);
    const ScanVolume whole = Read(Path("blosc-lz4.zarr"), level0);
    ExpectPartOfWhole(Read(cut, PartOf(near, WindowsOf(whole, level0))), whole, near);
    const std::string shards = copy("shards.zarr", "damaged-inner.zarr");
    const std::string shard = shards + "/0/c/0/0/0";
    std::string bytes;
    {
        std::ifstream in(shard, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    // The last inner chunk stored (1,1,1: x 4..7) ends before the index.
    bytes[bytes.size() - (8 * 16 + 4) - 6] ^= 0x55;
    std::ofstream(shard, std::ios::binary | std::ios::trunc) << bytes;
    const Box nearShard = {{0, 0, 0}, {0.1, 0.1, 0.1}};  // x 0..2, y 0..1, z 0..1: inner chunk 0,0,0
    EXPECT_NE(Refusal(shards, level0).find("damaged-inner.zarr/0/c/0/0/0 (inner chunk 1,1,1)"),
              std::string::npos);
    const ScanVolume wholeShards = Read(Path("shards.zarr"), level0);
    ExpectPartOfWhole(Read(shards, PartOf(nearShard, WindowsOf(wholeShards, level0))), wholeShards,
                      nearShard);

    // Of a shard only its index and the inner chunks wanted are read:
    // counted as the bytes a process forked for the read (one thread, no
    // other test's) and its reaped reader read.
    const auto bytesRead = [](const std::string& path, const ValueChoice& choice) {
        int out[2];
        if (::pipe(out) != 0)
            return uint64_t{0};
        const pid_t child = ::fork();
        if (child == 0) {
            const auto rchar = [] {
                std::ifstream in("/proc/self/io");
                std::string name;
                uint64_t value = 0;
                while (in >> name >> value)
                    if (name == "rchar:")
                        return value;
                return uint64_t{0};
            };
            // Earlier tests' library warnings, held in this process, would
            // come back with the volume from the reader it forks.
            TakeScanWarningsHere();
            const uint64_t before = rchar();
            ScanVolume volume;
            std::string error;
            const bool read = ReadScan(path, &volume, &error, 0, nullptr, nullptr, choice);
            const uint64_t bytes = read ? rchar() - before : 0;
            ::_exit(::write(out[1], &bytes, sizeof(bytes)) == sizeof(bytes) ? 0 : 1);
        }
        ::close(out[1]);
        uint64_t bytes = 0;
        if (::read(out[0], &bytes, sizeof(bytes)) != sizeof(bytes))
            bytes = 0;
        ::close(out[0]);
        ::waitpid(child, nullptr, 0);
        return bytes;
    };
    for (const char* name : {"big-shard.zarr", "start/big-shard.zarr"}) {
        SCOPED_TRACE(name);
        const uint64_t shardBytes = fs::file_size(Path(name) + "/0/c/0/0/0");
        const ScanVolume big = Read(Path(name));
        const Box sliver = {{0, 0, 0}, {0.1, 0.1, 0.1}};  // x 0..7, y and z 0..4: one inner chunk
        const ValueChoice part = PartOf(sliver, WindowsOf(big, {}));
        ExpectPartOfWhole(Read(Path(name), part), big, sliver);
        // The whole read reads the shard (and its samples come back from
        // the reader); the part's its metadata, the index and a sliver.
        EXPECT_GE(bytesRead(Path(name), {}), shardBytes);
        EXPECT_LT(bytesRead(Path(name), part), shardBytes / 2)
            << "the shard takes " << shardBytes << " bytes";
    }
    TakeScanWarnings();
}

TEST_F(ZarrStoreTest, PartsThatAreNoneAreRefused) {
    const double nan = std::nan("");
    struct Case {
        Box box;
        const char* says;
    };
    for (const Case& c : {Case{{{0.5, 0, 0}, {0.5, 1, 1}}, "the part x 0.5..0.5 of the box is empty"},
                          Case{{{0, 0.6, 0}, {1, 0.2, 1}}, "the part y 0.6..0.2 of the box is empty"},
                          Case{{{0, 0, nan}, {1, 1, 1}}, "the part z nan..1 of the box is empty"},
                          Case{{{0, 0, 0}, {nan, 1, 1}}, "the part x 0..nan of the box is empty"},
                          Case{{{1.2, 0, 0}, {1.5, 1, 1}}, "the part x 1.2..1.5 lies outside the box"},
                          Case{{{0, -2, 0}, {1, 0, 1}}, "the part y -2..0 lies outside the box"}}) {
        SCOPED_TRACE(c.says);
        for (int level : {-1, 0}) {
            ValueChoice choice = Full();
            choice.level = level;
            const std::string error = Refusal(Path("blosc-lz4.zarr"), PartOf(c.box, choice));
            EXPECT_NE(error.find(c.says), std::string::npos) << error;
        }
    }
    ValueChoice windows = Full();
    windows.channelWindows = {{10, nan}};
    EXPECT_NE(
        Refusal(Path("blosc-lz4.zarr"), windows).find("the window 10..nan given for channel 1 is no window"),
        std::string::npos);
    TakeScanWarnings();
}

}  // namespace

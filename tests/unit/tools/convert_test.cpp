// tamlo-convert: cubic voxels from anisotropic ones, the volume file it
// writes, and the program's own lines and refusals.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <tuple>

#include "tests/support/scan_writer.h"
#include "tools/convert/resample.h"

namespace {

TEST(ConvertTest, ResamplesOntoTheSmallestSpacing) {
    const uint32_t dims[3] = {2, 2, 2};
    const double spacing[3] = {1, 1, 2};
    const IsotropicGrid grid = IsotropicGridFor(dims, spacing);
    EXPECT_EQ(grid.spacing, 1);
    EXPECT_EQ(grid.dims[0], 2u);
    EXPECT_EQ(grid.dims[1], 2u);
    EXPECT_EQ(grid.dims[2], 4u) << "two 2 mm slices become four 1 mm ones";
    const uint16_t samples[8] = {0, 0, 0, 0, 4000, 4000, 4000, 4000};
    const std::unique_ptr<uint16_t[]> out = ResampleIsotropic(samples, dims, spacing, grid, nullptr, nullptr);
    // New centres at 0.25, 0.75, 1.25 and 1.75 mm in old slice units: -0.25
    // (held at the first slice), 0.25, 0.75, 1.25 (held at the last).
    const uint16_t expected[4] = {0, 1000, 3000, 4000};
    for (uint32_t z = 0; z < 4; ++z)
        for (uint32_t i = 0; i < 4; ++i)
            EXPECT_EQ(out[z * 4 + i], expected[z]) << "slice " << z;

    const uint32_t single[3] = {3, 1, 1};
    const double unit[3] = {0.5, 0.5, 0.5};
    const IsotropicGrid same = IsotropicGridFor(single, unit);
    const uint16_t line[3] = {10, 20, 4095};
    const std::unique_ptr<uint16_t[]> copied = ResampleIsotropic(line, single, unit, same, nullptr, nullptr);
    EXPECT_EQ(copied[0], 10);
    EXPECT_EQ(copied[1], 20);
    EXPECT_EQ(copied[2], 4095) << "cubic already: the samples as they were";
}

// `samples` copied to the very end of a page that an unmapped one follows:
// a read past the last sample faults.
const uint16_t* BeforeAGuardPage(const std::vector<uint16_t>& samples) {
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE)), bytes = samples.size() * 2;
    const size_t pages = (bytes + page - 1) / page;
    auto* base = static_cast<uint8_t*>(
        ::mmap(nullptr, (pages + 1) * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ::mprotect(base + pages * page, page, PROT_NONE);
    return static_cast<const uint16_t*>(std::memcpy(base + pages * page - bytes, samples.data(), bytes));
}

// The cubic grid covers the same box to within half a new voxel per axis,
// capped or not; samples are the trilinear value at each new centre, rounded
// to the nearest step (a ramp of 0 and 10 over 4 mm slices: quarter steps).
TEST(ConvertTest, TheGridKeepsTheBoxAndSamplesRoundToTheNearest) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> spacingOf(0.3, 3.0);
    std::uniform_int_distribution<uint32_t> dimOf(1, 40);
    for (int n = 0; n < 200; ++n) {
        const uint32_t dims[3] = {dimOf(random), dimOf(random), dimOf(random)};
        const double spacing[3] = {spacingOf(random), spacingOf(random), spacingOf(random)};
        const IsotropicGrid narrow = CappedIsotropicGrid(dims, spacing, uint64_t{1} << 30, 23);
        EXPECT_LE(std::max({narrow.dims[0], narrow.dims[1], narrow.dims[2]}), 23u) << "capped per axis";
        for (const IsotropicGrid& grid :
             {IsotropicGridFor(dims, spacing), CappedIsotropicGrid(dims, spacing, uint64_t{1} << 30, 65535)})
            for (int a = 0; a < 3; ++a)
                ASSERT_LE(std::fabs(grid.dims[a] * grid.spacing - dims[a] * spacing[a]),
                          grid.spacing / 2 + 1e-9)
                    << "axis " << a << ": " << dims[a] << " x " << spacing[a] << " onto " << grid.spacing;
    }
    const uint32_t column[3] = {1, 1, 2};
    const double thick[3] = {1, 1, 4};
    const uint16_t* ramp = BeforeAGuardPage({0, 10});  // and never read past the last sample
    const IsotropicGrid grid = IsotropicGridFor(column, thick);
    ASSERT_EQ(grid.dims[2], 8u);
    const std::unique_ptr<uint16_t[]> out = ResampleIsotropic(ramp, column, thick, grid, nullptr, nullptr);
    for (uint32_t z = 0; z < 8; ++z)
        EXPECT_EQ(out[z], std::lround(10 * std::clamp((z + 0.5) / 4 - 0.5, 0.0, 1.0))) << "slice " << z;
}

struct Outcome {
    int status = -1;
    std::string out, err;
};

Outcome Convert(const std::string& args, const std::string& dir) {
    const std::string command =
        std::string(TAMLO_CONVERT_PROGRAM) + " " + args + " >" + dir + "/out.txt 2>" + dir + "/err.txt";
    Outcome o;
    const int raw = std::system(command.c_str());
    o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ostringstream so, se;
    so << std::ifstream(dir + "/out.txt").rdbuf();
    se << std::ifstream(dir + "/err.txt").rdbuf();
    o.out = so.str();
    o.err = se.str();
    return o;
}

TEST(ConvertTest, WritesTheVolumeFileAndSaysWhatItDid) {
    char pattern[] = "/tmp/tamlo-convert-XXXXXX";
    const std::string dir = ::mkdtemp(pattern);
    scan_test::ScanSpec spec;
    spec.dims = {4, 3, 2};
    spec.spacing = {1, 1, 2};
    std::vector<double> values;
    for (int i = 0; i < 24; ++i)
        values.push_back(-100 + 10 * i);
    ASSERT_EQ(scan_test::WriteScan(dir + "/ct.nii.gz", spec, values), "");
    const auto volumeFile = [&](const std::string& name) {
        std::ifstream in(dir + "/" + name, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});
        std::vector<uint16_t> words(bytes.size() / 2);
        std::memcpy(words.data(), bytes.data(), words.size() * 2);
        return words;  // x, y, z, then the samples
    };
    // Unasked, the grid as read: the samples are not resampled, and the
    // output line says that their spacing is lost.
    const Outcome o = Convert(dir + "/ct.nii.gz " + dir + "/ct.vol", dir);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "");
    EXPECT_NE(o.out.find("(NIfTI, int16)"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("grid:    4 x 2 x 3, spacing 1 x 2 x 1"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("values:  -100 .. 130"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("4 x 2 x 3 samples, the grid as read"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("not 1 x 2 x 1 (--cubic"), std::string::npos) << o.out;
    const std::vector<uint16_t> kept = volumeFile("ct.vol");
    ASSERT_EQ(kept.size(), 3u + 4 * 2 * 3);
    EXPECT_EQ(std::vector<uint16_t>(kept.begin(), kept.begin() + 3), (std::vector<uint16_t>{4, 2, 3}));
    // --cubic: onto cubic voxels of the smallest spacing, the box kept.
    const Outcome c = Convert("--cubic " + dir + "/ct.nii.gz " + dir + "/cubes.vol", dir);
    ASSERT_EQ(c.status, 0) << c.err;
    EXPECT_NE(c.out.find("4 x 4 x 3 cubic voxels of 1, resampled from 4 x 2 x 3"), std::string::npos)
        << c.out;
    const std::vector<uint16_t> cubes = volumeFile("cubes.vol");
    ASSERT_EQ(cubes.size(), 3u + 4 * 4 * 3);
    EXPECT_EQ(std::vector<uint16_t>(cubes.begin(), cubes.begin() + 3), (std::vector<uint16_t>{4, 4, 3}));
    for (const std::vector<uint16_t>* file : {&kept, &cubes}) {
        EXPECT_EQ((*file)[3], 0) << "the smallest value maps to 0";
        EXPECT_EQ(file->back(), 4095) << "the largest to 4095";
    }
    EXPECT_FALSE(std::filesystem::exists(dir + "/ct.vol.partial"));
    // Edges are little-endian 16-bit words: one past 255 keeps its high byte.
    const uint32_t long300[3] = {300, 1, 1};
    ASSERT_EQ(WriteVolumeFile(dir + "/long.vol", long300, std::vector<uint16_t>(300, 7).data()), "");
    uint16_t edge = 0;
    std::ifstream(dir + "/long.vol", std::ios::binary).read(reinterpret_cast<char*>(&edge), 2);
    EXPECT_EQ(edge, 300);

    std::ofstream(dir + "/notes.txt") << "plain text";
    const Outcome refused = Convert(dir + "/notes.txt " + dir + "/notes.vol", dir);
    EXPECT_EQ(refused.status, 1);
    // The viewer's words for the file, naming it.
    EXPECT_EQ(refused.err.rfind("tamlo-convert: ", 0), 0u) << refused.err;
    EXPECT_NE(refused.err.find("(" + dir + "/notes.txt)"), std::string::npos) << refused.err;
    EXPECT_FALSE(std::filesystem::exists(dir + "/notes.vol"));
    EXPECT_EQ(Convert("", dir).status, 2);

    std::ofstream(dir + "/wide.raw") << std::string(48 * 2 * 2, 'x');
    std::ofstream(dir + "/wide.nhdr") << "NRRD0004\ntype: uchar\ndimension: 3\nsizes: 48 2 2\n"
                                         "spacings: 1 1 1e5\nencoding: raw\ndata file: wide.raw\n";
    const Outcome wide = Convert("--cubic " + dir + "/wide.nhdr " + dir + "/wide.vol", dir);
    EXPECT_EQ(wide.status, 0) << wide.err;
    EXPECT_NE(wide.out.find("would make 48 x 200000 x 2 samples"), std::string::npos) << wide.out;
    std::filesystem::remove_all(dir);
}

// A scan whose window is empty says so, and says which way.
TEST(ConvertTest, AnEmptyWindowIsNoted) {
    char pattern[] = "/tmp/tamlo-convert-XXXXXX";
    const std::string dir = ::mkdtemp(pattern);
    scan_test::ScanSpec spec;
    spec.type = scan_test::StoredType::Float32;
    for (const auto& [value, values, why] :
         {std::tuple{std::nan(""), "none finite", "none finite"}, std::tuple{3.0, "3 .. 3", "all equal"}}) {
        ASSERT_EQ(scan_test::WriteScan(dir + "/in.mha", spec, {value}), "");
        const Outcome o = Convert(dir + "/in.mha " + dir + "/out.vol", dir);
        EXPECT_NE(o.out.find(std::string("values:  ") + values + "\nwindow:"), std::string::npos) << o.out;
        EXPECT_NE(
            o.out.find(std::string("note:    the values span no range (") + why + "), so every sample is 0"),
            std::string::npos)
            << o.out;
    }
    std::filesystem::remove_all(dir);
}

// A grid the viewer could never hold is made of coarser cubic voxels, just
// enough to fit; a small one keeps the smallest spacing.
TEST(ConvertTest, TheCubicGridIsCappedByCoarserVoxels) {
    const uint32_t dims[3] = {512, 512, 40};
    const double thin[3] = {0.5, 0.5, 500};
    const IsotropicGrid capped = CappedIsotropicGrid(dims, thin, uint64_t{1} << 30, 65535);
    const long double samples = static_cast<long double>(capped.dims[0]) * capped.dims[1] * capped.dims[2];
    EXPECT_LE(samples, static_cast<long double>(uint64_t{1} << 30));
    EXPECT_GT(samples, 0.9L * (uint64_t{1} << 30)) << "no coarser than needed";
    EXPECT_NEAR(capped.dims[2] * capped.spacing, 40 * 500.0, capped.spacing) << "the same box";
    const double even[3] = {1, 1, 2};
    EXPECT_EQ(CappedIsotropicGrid(dims, even, uint64_t{1} << 30, 65535).spacing, 1.0);
    const uint32_t column[3] = {1, 1, 4};
    const double absurd[3] = {1, 1, 1e30};
    EXPECT_LE(CappedIsotropicGrid(column, absurd, uint64_t{1} << 30, 65535).dims[2], 65535u) << "per axis";
}

// The converter never loses what was there: not the scan it reads (however
// its name is spelt, its data files, or another slice of its series), not a
// pipe, a device or a read-only file named as the output.
TEST(ConvertTest, NeverReplacesItsInputAPipeADeviceOrAReadOnlyFile) {
    char pattern[] = "/tmp/tamlo-convert-XXXXXX";
    const std::string dir = ::mkdtemp(pattern);
    namespace fs = std::filesystem;
    scan_test::ScanSpec spec;
    spec.dims = {4, 4, 2};
    const std::vector<double> values(32, 5.0);
    ASSERT_EQ(scan_test::WriteScan(dir + "/in.nii", spec, values), "");
    fs::create_directories(dir + "/series");
    ASSERT_EQ(scan_test::WriteDicomSeries(dir + "/series", spec, values, {"1", "2"}), "");
    // Detached headers with the data file names their library gives, and a list of slices.
    ASSERT_EQ(scan_test::WriteScan(dir + "/a.nhdr", spec, values), "");
    ASSERT_EQ(scan_test::WriteScan(dir + "/b.mhd", spec, values), "");
    for (const char* name : {"c1.raw", "c2.raw"})
        std::ofstream(dir + "/" + name) << std::string(16, 'x');
    std::ofstream(dir + "/c.mhd") << "NDims = 3\nDimSize = 4 4 2\nElementType = MET_UCHAR\n"
                                     "ElementDataFile = LIST\nc1.raw\nc2.raw\n";
    const auto dataBytes = [&] { return fs::file_size(dir + "/a.raw") + fs::file_size(dir + "/b.raw"); };
    const auto dataBefore = dataBytes();
    const auto input = fs::file_size(dir + "/in.nii"), slice = fs::file_size(dir + "/series/2");
    ASSERT_EQ(::mkfifo((dir + "/pipe").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/null", (dir + "/null").c_str()), 0);
    std::ofstream(dir + "/kept.vol") << "kept";
    ASSERT_EQ(::chmod((dir + "/kept.vol").c_str(), 0444), 0);
    const struct {
        std::string args, says;
    } cases[] = {
        {dir + "/in.nii " + dir + "/in.nii", "it is the input"},
        {"in.nii ./in.nii", "it is the input"},
        {dir + "/series/1 " + dir + "/series/2", "it is a DICOM file of the input's series folder"},
        {"series in.nii", "it is a scan"},
        {"a.nhdr a.raw", "it is a data file the input's header names"},
        {"b.mhd b.raw", "it is a data file the input's header names"},
        {"c.mhd c2.raw", "it is a data file the input's header names"},
        {"in.nii pipe", "pipe: it is not a regular file"},
        {"in.nii null", "null: it is not a regular file"},
        {"in.nii kept.vol", "kept.vol: the file is read-only"},
    };
    const fs::path here = fs::current_path();
    fs::current_path(dir);  // for the names given without their folder
    for (const auto& c : cases) {
        const Outcome o = Convert(c.args, dir);
        EXPECT_EQ(o.status, 1) << c.args;
        EXPECT_NE(o.err.find(c.says), std::string::npos) << c.args << ": " << o.err;
    }
    fs::current_path(here);
    EXPECT_EQ(dataBytes(), dataBefore) << "no data file was replaced";
    EXPECT_EQ(fs::file_size(dir + "/c2.raw"), 16u);
    EXPECT_EQ(fs::file_size(dir + "/in.nii"), input);
    EXPECT_EQ(fs::file_size(dir + "/series/2"), slice);
    EXPECT_TRUE(fs::is_fifo(dir + "/pipe"));
    EXPECT_EQ(fs::file_size(dir + "/kept.vol"), 4u);
    EXPECT_EQ(fs::status(dir + "/kept.vol").permissions(), fs::perms(0444));
    fs::remove_all(dir);
}

}  // namespace

// A scan of several grids (channels, time points) is written one grid at a
// time, chosen by the user; unchosen it is refused, naming the counts.
TEST(ConvertTest, OneChannelAtOneTimePointIsChosen) {
    char pattern[] = "/tmp/tamlo-convert-XXXXXX";
    const std::string dir = ::mkdtemp(pattern);
    scan_test::ScanSpec spec;
    spec.dims = {2, 1, 1};
    spec.components = 2;
    spec.timePoints = 3;
    std::vector<double> values;  // channel 2 falls where channel 1 rises
    for (int t = 0; t < 3; ++t)
        for (int x = 0; x < 2; ++x)
            values.insert(values.end(), {10.0 * t + x, 100.0 - 10 * t - x});
    ASSERT_EQ(scan_test::WriteScan(dir + "/series.mha", spec, values), "");
    const Outcome unchosen = Convert(dir + "/series.mha " + dir + "/out.vol", dir);
    EXPECT_EQ(unchosen.status, 1);
    EXPECT_NE(unchosen.err.find("2 channels (choose one with --channel C) and 3 time points"),
              std::string::npos)
        << unchosen.err;
    EXPECT_FALSE(std::filesystem::exists(dir + "/out.vol"));
    const Outcome past = Convert("--channel 2 --time 3 " + dir + "/series.mha " + dir + "/out.vol", dir);
    EXPECT_NE(past.err.find("--time 3: the scan has 3 time points (0 to 2)"), std::string::npos) << past.err;
    const Outcome chosen =
        Convert("--values full --channel 2 --time 2 " + dir + "/series.mha " + dir + "/out.vol", dir);
    ASSERT_EQ(chosen.status, 0) << chosen.err;
    EXPECT_NE(chosen.out.find("channel: 2 of 2"), std::string::npos) << chosen.out;
    std::ifstream in(dir + "/out.vol", std::ios::binary);
    uint16_t words[5] = {};
    in.read(reinterpret_cast<char*>(words), sizeof(words));
    // Channel 2's window spans all its time points (79 .. 100): at t = 2 its
    // two samples are 80 and 79.
    EXPECT_EQ(words[3], std::lround((80.0 - 79) / 21 * 4095));
    EXPECT_EQ(words[4], 0);
    std::filesystem::remove_all(dir);
}

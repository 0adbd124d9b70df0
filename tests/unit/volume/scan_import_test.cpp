// Scans written by ITK's own writers, read back through the importer: the
// same samples whatever the format, type, file order or stored orientation;
// refusals that name what was found; nothing printed for a good file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>

#include "tests/support/scan_writer.h"
#include "tests/unit/volume/scan_folder_test.h"
#include "volume/scan_import.h"
#include "volume/scan_reader.h"

namespace {

namespace fs = std::filesystem;
using scan_test::ScanSpec;
using scan_test::StoredType;

using ScanImportTest = ScanFolderTest;

// A grid whose value at (x, y, z) is `f`, in grid order.
std::vector<double> Fill(const std::array<uint32_t, 3>& dims, const std::function<double(int, int, int)>& f) {
    std::vector<double> values;
    for (uint32_t z = 0; z < dims[2]; ++z)
        for (uint32_t y = 0; y < dims[1]; ++y)
            for (uint32_t x = 0; x < dims[0]; ++x)
                values.push_back(f(static_cast<int>(x), static_cast<int>(y), static_cast<int>(z)));
    return values;
}

uint16_t At(const ScanVolume& v, uint32_t x, uint32_t y, uint32_t z) {
    return v.samples[(size_t{z} * v.dimY + y) * v.dimX + x];
}

std::vector<uint16_t> Samples(const ScanVolume& v) {
    return std::vector<uint16_t>(v.samples.get(), v.samples.get() + size_t{v.dimX} * v.dimY * v.dimZ);
}

// Grid axes along L, P, S (the identity): the program's x, y, z are the
// grid's x, z, y (left, superior, posterior).
TEST_F(ScanImportTest, EveryFormatAndTypeGivesTheSameSamples) {
    ScanSpec spec;
    spec.dims = {5, 4, 3};
    const auto ramp = [](int x, int y, int z) { return x + 5 * y + 20 * z; };  // 0..59
    struct Stored {
        StoredType type;
        double scale, offset;
        const char* name;
    };
    // Every stored type; the unsigned ones above the signed range.
    const Stored types[] = {
        {StoredType::UInt8, 4, 0, "uint8"},           {StoredType::Int8, 3, -100, "int8"},
        {StoredType::UInt16, 1000, 3000, "uint16"},   {StoredType::Int16, 10, -300, "int16"},
        {StoredType::UInt32, 7e6, 3e9, "uint32"},     {StoredType::Int32, 1e4, -2e5, "int32"},
        {StoredType::UInt64, 1e12, 1.8e19, "uint64"}, {StoredType::Int64, -1e12, 5e15, "int64"},
        {StoredType::Float32, 0.5, -7.25, "float32"}, {StoredType::Float64, 1e-3, 1e6, "float64"}};
    for (const char* extension : {".nii", ".nii.gz", ".nrrd", ".mha", ".mhd"}) {
        for (const Stored& stored : types) {
            SCOPED_TRACE(std::string(extension) + " " + stored.name);
            spec.type = stored.type;
            const std::string path = Path(std::string("ramp-") + stored.name + extension);
            const std::string unwritable =
                scan_test::WriteScan(path, spec, Fill(spec.dims, [&](int x, int y, int z) {
                                         return ramp(x, y, z) * stored.scale + stored.offset;
                                     }));
            if (!unwritable.empty() && std::string(extension).find(".nii") == 0 && stored.scale == 1e12)
                continue;  // NIfTI-1 stores no 64-bit integers
            ASSERT_EQ(unwritable, "");
            ASSERT_TRUE(IsScanFile(path));
            const ScanVolume v = Read(path);
            ASSERT_EQ(v.dimX, 5u);
            ASSERT_EQ(v.dimY, 3u);
            ASSERT_EQ(v.dimZ, 4u);
            EXPECT_EQ(v.sampleType, stored.name);
            EXPECT_DOUBLE_EQ(v.channels[0].minValue,
                             std::min(stored.offset, 59 * stored.scale + stored.offset));
            EXPECT_DOUBLE_EQ(v.channels[0].maxValue,
                             std::max(stored.offset, 59 * stored.scale + stored.offset));
            for (uint32_t z = 0; z < 4; ++z)
                for (uint32_t y = 0; y < 3; ++y)
                    for (uint32_t x = 0; x < 5; ++x) {
                        const int step = stored.scale > 0 ? ramp(int(x), int(z), int(y))
                                                          : 59 - ramp(int(x), int(z), int(y));
                        const double expected = std::floor(step * 4095.0 / 59.0 + 0.5);
                        ASSERT_EQ(At(v, x, y, z), expected) << x << "," << y << "," << z;
                    }
        }
    }
}

// A spacing of zero, a negative or a non-number cannot size the box: the
// voxel is then taken as 1 mm along that axis, never a flat or inverted box.
TEST_F(ScanImportTest, UnusableSpacingsAreOneMillimetre) {
    std::ofstream(Path("odd.raw")) << std::string(4 * 5 * 6, 'x');
    std::ofstream(Path("odd.mhd")) << "NDims = 3\nDimSize = 4 5 6\nElementSpacing = 0 -2 3\n"
                                      "ElementType = MET_UCHAR\nElementDataFile = odd.raw\n";
    const ScanVolume v = Read(Path("odd.mhd"));
    EXPECT_EQ(v.spacingX, 1.0);  // grid x: 0
    EXPECT_EQ(v.spacingY, 3.0);  // grid z turns to y (superior)
    EXPECT_EQ(v.spacingZ, 1.0);  // grid y: -2
}

TEST_F(ScanImportTest, ConstantScanMapsToZero) {
    ScanSpec spec;
    spec.dims = {3, 3, 3};
    ASSERT_EQ(scan_test::WriteScan(Path("flat.nrrd"), spec, std::vector<double>(27, 1234.0)), "");
    const ScanVolume v = Read(Path("flat.nrrd"));
    EXPECT_EQ(Samples(v), std::vector<uint16_t>(27, 0));
    EXPECT_EQ(v.channels[0].minValue, 1234.0);
}

// Spacing comes along with the axes it belongs to; a grid stored along
// other axes (flipped, or sagittal) is turned back to the same samples.
TEST_F(ScanImportTest, SpacingAndStoredOrientation) {
    const std::array<uint32_t, 3> dims = {6, 5, 4};
    const auto value = [](int l, int p, int s) { return 7 * l + 3 * p * p + 50 * s; };
    ScanSpec axial;
    axial.dims = dims;
    axial.spacing = {0.7, 0.7, 2.5};
    ASSERT_EQ(scan_test::WriteScan(Path("axial.nii.gz"), axial, Fill(dims, value)), "");
    const ScanVolume reference = Read(Path("axial.nii.gz"));
    EXPECT_NEAR(reference.spacingX, 0.7, 1e-6);
    EXPECT_NEAR(reference.spacingY, 2.5, 1e-6) << "the slices' spacing goes up, with superior";
    EXPECT_NEAR(reference.spacingZ, 0.7, 1e-6);

    // The same head stored right to left: grid x runs towards the right.
    ScanSpec flipped = axial;
    flipped.directions = {{{-1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    ASSERT_EQ(scan_test::WriteScan(Path("flipped.nrrd"), flipped,
                                   Fill(dims, [&](int x, int p, int s) { return value(5 - x, p, s); })),
              "");
    EXPECT_EQ(Samples(Read(Path("flipped.nrrd"))), Samples(reference));
    // Every axis reversed: each flip is undone, not only the first.
    flipped.directions = {{{-1, 0, 0}, {0, -1, 0}, {0, 0, -1}}};
    ASSERT_EQ(
        scan_test::WriteScan(Path("reversed.nii"), flipped,
                             Fill(dims, [&](int x, int y, int z) { return value(5 - x, 4 - y, 3 - z); })),
        "");
    EXPECT_EQ(Samples(Read(Path("reversed.nii"))), Samples(reference));

    // And stored sagittally: grid x runs posterior, y superior, z left.
    ScanSpec sagittal = axial;
    sagittal.dims = {5, 4, 6};
    sagittal.spacing = {0.7, 2.5, 0.7};
    sagittal.directions = {{{0, 0, 1}, {1, 0, 0}, {0, 1, 0}}};
    ASSERT_EQ(scan_test::WriteScan(Path("sagittal.mha"), sagittal,
                                   Fill(sagittal.dims, [&](int p, int s, int l) { return value(l, p, s); })),
              "");
    const ScanVolume turned = Read(Path("sagittal.mha"));
    EXPECT_EQ(turned.dimX, reference.dimX);
    EXPECT_EQ(turned.dimY, reference.dimY);
    EXPECT_EQ(turned.dimZ, reference.dimZ);
    EXPECT_NEAR(turned.spacingY, 2.5, 1e-6);
    EXPECT_EQ(Samples(turned), Samples(reference));
}

TEST_F(ScanImportTest, DicomSeriesLoadsInPositionOrder) {
    ScanSpec spec;
    spec.dims = {4, 3, 6};
    spec.spacing = {0.5, 0.5, 1.5};
    spec.origin = {-10, 20, -30};
    spec.type = StoredType::Int16;
    const auto value = [](int x, int y, int z) { return -1000 + 100 * z + 10 * y + x; };
    // Names sort in another order than the slices lie.
    const std::vector<std::string> names = {"IM_c", "IM_a", "IM_f", "IM_b", "IM_e", "IM_d"};
    const fs::path series = dir_ / "series";
    fs::create_directories(series);
    ASSERT_EQ(scan_test::WriteDicomSeries(series.string(), spec, Fill(spec.dims, value), names, 1.0, -1024.0),
              "");
    // Another series in the same folder stays out.
    ScanSpec other = spec;
    other.dims = {4, 3, 2};
    ASSERT_EQ(scan_test::WriteDicomSeries(series.string(), other, std::vector<double>(24, 5.0),
                                          {"zz1", "zz2"}, 1.0, 0.0, "1.2.826.0.1.3680043.2.1125.2"),
              "");

    for (const std::string& chosen : {(series / "IM_e").string(), series.string()}) {
        SCOPED_TRACE(chosen);
        ASSERT_TRUE(IsScanFile(chosen));
        const ScanVolume v = Read(chosen);
        ASSERT_EQ(v.dimX, 4u);
        ASSERT_EQ(v.dimY, 6u) << "six slices, standing up";
        ASSERT_EQ(v.dimZ, 3u);
        EXPECT_NEAR(v.spacingY, 1.5, 1e-6);
        EXPECT_NEAR(v.spacingX, 0.5, 1e-6);
        EXPECT_DOUBLE_EQ(v.channels[0].minValue, -1000);
        EXPECT_DOUBLE_EQ(v.channels[0].maxValue, -1000 + 500 + 20 + 3);
        EXPECT_NE(v.format.find("6 files"), std::string::npos) << v.format;
        EXPECT_TRUE(v.isCt) << "Modality CT";
        EXPECT_EQ(v.channels[0].unit, "HU");
        for (uint32_t s = 0; s < 6; ++s)
            EXPECT_EQ(At(v, 1, s, 2), value(1, 2, int(s)) + 1024)
                << "slice " << s << ": HU + 1024, a CT's window";
    }

    // The same values from an MR scanner are no CT: they keep a window of their own.
    const fs::path mr = dir_ / "mr";
    fs::create_directories(mr);
    ASSERT_EQ(scan_test::WriteDicomSeries(mr.string(), spec, Fill(spec.dims, value), names, 1.0, -1024.0,
                                          "1.2.826.0.1.3680043.2.1125.3", "MR"),
              "");
    const ScanVolume v = Read(mr.string());
    EXPECT_FALSE(v.isCt);
    EXPECT_EQ(v.channels[0].unit, "");
    for (uint32_t s = 0; s < 6; ++s) {
        const double expected = std::floor((value(1, 2, int(s)) + 1000) * 4095.0 / 523.0 + 0.5);
        EXPECT_EQ(At(v, 1, s, 2), expected) << "slice " << s;
    }
}

// A folder of many one-slice series around one of several slices: each
// file opens as its own series, the folder as the largest.
TEST_F(ScanImportTest, AFolderOfManySeriesGroupsEachSliceWithItsOwn) {
    const fs::path folder = dir_ / "many";
    fs::create_directories(folder);
    ScanSpec slice;
    slice.dims = {4, 4, 1};
    for (int i = 0; i < 40; ++i)
        ASSERT_EQ(scan_test::WriteDicomSeries(folder.string(), slice, std::vector<double>(16, 10.0 * i),
                                              {"one" + std::to_string(i)}, 1.0, 0.0,
                                              "1.2.826.0.1.3680043.2.1125.5." + std::to_string(i + 1), "MR"),
                  "");
    ScanSpec stack = slice;
    stack.dims = {4, 4, 3};
    ASSERT_EQ(scan_test::WriteDicomSeries(
                  folder.string(), stack, Fill(stack.dims, [](int, int, int z) { return 7 * z; }),
                  {"stack_c", "stack_a", "stack_b"}, 1.0, 0.0, "1.2.826.0.1.3680043.2.1125.6", "MR"),
              "");
    EXPECT_EQ(Read(folder.string()).dimY, 3u) << "the largest series, standing up";
    EXPECT_EQ(Read((folder / "stack_b").string()).dimY, 3u);
    for (int i : {0, 17, 39}) {
        const ScanVolume one = Read((folder / ("one" + std::to_string(i))).string());
        EXPECT_EQ(one.dimX * one.dimY * one.dimZ, 16u) << "slice " << i << " alone";
        EXPECT_EQ(one.channels[0].minValue, 10.0 * i);
    }
}

TEST_F(ScanImportTest, RefusalsNameWhatWasFound) {
    ScanSpec spec;
    spec.dims = {16, 16, 16};
    std::vector<double> noise(16 * 16 * 16);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<double>((i * 7919) % 3001);
    ASSERT_EQ(scan_test::WriteScan(Path("whole.nii.gz"), spec, noise), "");
    {
        std::ifstream in(Path("whole.nii.gz"), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        std::ofstream(Path("cut.nii.gz"), std::ios::binary)
            .write(bytes.data(), static_cast<long>(bytes.size() / 2));
    }
    const std::string cut = Refusal(Path("cut.nii.gz"));
    EXPECT_NE(cut.find("the file ends before its last sample"), std::string::npos) << cut;
    // The same cut in the other families.
    for (const char* name : {"whole.nrrd", "whole.mha"}) {
        ASSERT_EQ(scan_test::WriteScan(Path(name), spec, noise), "");
        fs::resize_file(Path(name), fs::file_size(Path(name)) - 1000);
        EXPECT_NE(Refusal(Path(name)), "") << name;
    }

    std::ofstream(Path("absurd.nhdr")) << "NRRD0004\ntype: short\ndimension: 3\nsizes: 100000 100000 100000\n"
                                          "encoding: raw\nendian: little\ndata file: absurd.raw\n";
    std::ofstream(Path("absurd.raw")) << "ab";
    const std::string absurd = Refusal(Path("absurd.nhdr"));
    EXPECT_NE(absurd.find("too large"), std::string::npos) << absurd;
    EXPECT_NE(absurd.find("100000 x 100000 x 100000"), std::string::npos) << absurd;

    std::ofstream(Path("wide.mha")) << "NDims = 3\nDimSize = 1 1 1\nElementType = MET_UCHAR\n"
                                       "ElementNumberOfChannels = 2000\nElementDataFile = LOCAL\n"
                                    << std::string(2000, 'x');
    const std::string wide = Refusal(Path("wide.mha"));
    EXPECT_NE(wide.find("2000 values per sample"), std::string::npos) << wide;

    std::ofstream(Path("fiveD.nhdr")) << "NRRD0004\ntype: uchar\ndimension: 5\nsizes: 2 2 2 2 2\n"
                                         "encoding: raw\ndata file: fiveD.raw\n";
    std::ofstream(Path("fiveD.raw")) << std::string(32, 'x');
    const std::string fiveD = Refusal(Path("fiveD.nhdr"));
    EXPECT_NE(fiveD.find("5-D image (2 x 2 x 2 x 2 x 2)"), std::string::npos) << fiveD;

    std::ofstream(Path("empty.mha")) << "NDims = 3\nDimSize = 0 4 4\nElementType = MET_UCHAR\n"
                                        "ElementDataFile = LOCAL\n";
    EXPECT_NE(Refusal(Path("empty.mha")).find("no samples (0 x 4 x 4)"), std::string::npos);

    std::ofstream(Path("notes.txt")) << "not a scan at all";
    EXPECT_FALSE(IsScanFile(Path("notes.txt")));
    EXPECT_NE(Refusal(Path("notes.txt")), "");
    EXPECT_FALSE(IsScanFile(Path("missing.nii")));
    TakeScanWarnings();
}

// The DICOM library asserts on a damaged data element and stops its process.
// Recognising and reading run in a child of their own: this process lives on
// and hears of a damaged file.
TEST_F(ScanImportTest, AFileThatStopsItsLibraryStopsOnlyTheReader) {
    std::string bytes(128, '\0');
    bytes += "DICM";
    const unsigned char element[] = {0x02, 0x00, 0x03, 0xe0, 0xff, 0xff, 0xe0, 0x23, 0xff, 0xff, 0xe0, 0x0e};
    bytes.append(reinterpret_cast<const char*>(element), sizeof(element));
    std::ofstream(Path("broken.dcm"), std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));

    EXPECT_FALSE(IsScanFile(Path("broken.dcm")));
    const std::string reason = Refusal(Path("broken.dcm"));
    EXPECT_NE(reason.find("the file is damaged"), std::string::npos) << reason;

    // The reader is whole again for the next file.
    ScanSpec spec;
    spec.dims = {4, 4, 4};
    ASSERT_EQ(scan_test::WriteScan(Path("after.nrrd"), spec, std::vector<double>(64, 3.0)), "");
    EXPECT_EQ(Read(Path("after.nrrd")).dimX, 4u);
    TakeScanWarnings();
}

// The samples cross from the reader's process in pieces of the pipe's size:
// a scan of many pieces (and an odd tail) arrives whole and in order, and
// reading, good or refused, leaves no descriptor open behind it.
TEST_F(ScanImportTest, LargeScansCrossFromTheReaderWholeAndNothingIsLeftOpen) {
    const auto openDescriptors = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator{});
    };
    ScanSpec spec;
    spec.dims = {203, 131, 47};  // 2.5 MB of 12-bit samples, not a whole number of pieces
    const std::vector<double> values =
        Fill(spec.dims, [](int x, int y, int z) { return (x * 7 + y * 131 + z * 3001) % 4096 - 1024; });
    ASSERT_EQ(scan_test::WriteScan(Path("large.nii"), spec, values), "");
    std::ofstream(Path("not-a-scan.nii")) << "nothing here";

    const auto before = openDescriptors();
    ScanVolume here;
    std::string error;
    ASSERT_EQ(ReadScanHere(Path("large.nii"), &here, &error, 0, nullptr, nullptr), ScanOutcome::Read)
        << error;
    const ScanVolume crossed = Read(Path("large.nii"));
    EXPECT_EQ(Samples(crossed), Samples(here));
    Refusal(Path("not-a-scan.nii"));
    EXPECT_EQ(openDescriptors(), before);
    TakeScanWarnings();
    TakeScanWarningsHere();
}

TEST_F(ScanImportTest, HeaderSizesAreCheckedAgainstMemoryBeforeReading) {
    ScanSpec spec;
    spec.dims = {64, 64, 64};
    spec.type = StoredType::Float32;
    ASSERT_EQ(scan_test::WriteScan(Path("float.mha"), spec, std::vector<double>(64 * 64 * 64, 2.0)), "");
    ScanVolume v;
    std::string error;
    // Float samples plus the 16-bit result: 6 bytes each.
    EXPECT_FALSE(ReadScan(Path("float.mha"), &v, &error, 64 * 64 * 64 * 6 - 1));
    EXPECT_NE(error.find("too large"), std::string::npos) << error;
    EXPECT_TRUE(ReadScan(Path("float.mha"), &v, &error, 64 * 64 * 64 * 6)) << error;
    // uint8: the reader makes the 12-bit result in pieces as it crosses, so
    // only this process holds it whole: stored + result, 3 bytes a sample.
    spec.type = StoredType::UInt8;
    ASSERT_EQ(scan_test::WriteScan(Path("bytes.mha"), spec, std::vector<double>(64 * 64 * 64, 2.0)), "");
    EXPECT_FALSE(ReadScan(Path("bytes.mha"), &v, &error, 64 * 64 * 64 * 3 - 1));
    EXPECT_NE(error.find("too large"), std::string::npos) << error;
    EXPECT_TRUE(ReadScan(Path("bytes.mha"), &v, &error, 64 * 64 * 64 * 3)) << error;
    // A series: the whole grid in floats and the 12-bit result, checked
    // from its first slice's header.
    spec.dims = {32, 32, 16};
    fs::create_directory(Path("series"));
    std::vector<std::string> names;
    for (int z = 0; z < 16; ++z)
        names.push_back("s" + std::to_string(z));
    ASSERT_EQ(
        scan_test::WriteDicomSeries(Path("series"), spec, std::vector<double>(32 * 32 * 16, 9.0), names), "");
    EXPECT_FALSE(ReadScan(Path("series"), &v, &error, 32 * 32 * 16 * 6 - 16));
    EXPECT_NE(error.find("too large"), std::string::npos) << error;
    EXPECT_TRUE(ReadScan(Path("series"), &v, &error, 32 * 32 * 16 * 6)) << error;
}

TEST_F(ScanImportTest, GoodFilesPrintNothing) {
    ScanSpec spec;
    spec.dims = {8, 8, 4};
    const std::vector<double> values = Fill(spec.dims, [](int x, int y, int z) { return x * y + z; });
    ASSERT_EQ(scan_test::WriteScan(Path("quiet.nii.gz"), spec, values), "");
    const fs::path series = dir_ / "dicom";
    fs::create_directories(series);
    ASSERT_EQ(scan_test::WriteDicomSeries(series.string(), spec, values, {"1", "2", "3", "4"}), "");
    TakeScanWarnings();
    ::testing::internal::CaptureStderr();
    ::testing::internal::CaptureStdout();
    Read(Path("quiet.nii.gz"));
    Read((series / "3").string());
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

}  // namespace

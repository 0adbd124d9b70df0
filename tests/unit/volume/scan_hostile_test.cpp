// Hostile scans: files made to hang, mislead or overrun the readers. Each is
// refused quickly, with one line that names what is wrong, and the reader's
// wait always ends.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "tests/support/scan_writer.h"
#include "volume/scan_data_files.h"
#include "volume/scan_import.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class ScanHostileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tamlo-hostile-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        SetScanWait(300, nullptr, nullptr);
        TakeScanWarnings();
        fs::remove_all(dir_);
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    // The refusal's reason; the read must end within `seconds`.
    static std::string Refusal(const std::string& path, double seconds = 20) {
        ScanVolume volume;
        std::string error;
        const Clock::time_point start = Clock::now();
        EXPECT_FALSE(ReadScan(path, &volume, &error)) << path << " was read";
        EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), seconds) << path;
        EXPECT_EQ(error.find('\n'), std::string::npos) << "one line: " << error;
        return error;
    }

    fs::path dir_;
};

// Detached headers whose data is a pipe (no writer: a read waits for ever),
// a device (/dev/zero never ends, whatever is skipped), a folder or nothing.
TEST_F(ScanHostileTest, DetachedDataFilesThatNeverEndOrAreMissingAreRefusedBeforeReading) {
    scan_test::ScanSpec spec;
    spec.dims = {4, 4, 4};
    const std::vector<double> values(64, 7.0);
    ASSERT_EQ(::mkfifo(Path("fifo.raw").c_str(), 0600), 0);
    for (const char* name : {"nrrd.nhdr", "meta.mhd", "nifti.hdr"}) {
        ASSERT_EQ(scan_test::WriteScan(Path(name), spec, values), "") << name;
        const std::vector<std::string> data = DetachedDataFiles(Path(name));
        ASSERT_EQ(data.size(), 1u) << name;
        fs::remove(data[0]);
        if (fs::path(name).extension() == ".hdr")
            ASSERT_EQ(::mkfifo(data[0].c_str(), 0600), 0);
        else
            fs::create_symlink(Path("fifo.raw"), data[0]);
        const std::string piped = Refusal(Path(name));
        EXPECT_NE(piped.find("is not a regular file"), std::string::npos) << name << ": " << piped;
        EXPECT_NE(piped.find(data[0]), std::string::npos) << "names the data file: " << piped;
    }
    std::ofstream(Path("zero.nhdr")) << "NRRD0004\ntype: short\ndimension: 3\nsizes: 4 4 4\nencoding: raw\n"
                                        "endian: little\nline skip: 1000000000\ndata file: /dev/zero\n";
    EXPECT_NE(Refusal(Path("zero.nhdr")).find("/dev/zero is not a regular file"), std::string::npos);
    std::ofstream(Path("skip.raw")) << std::string(128, 'x');
    std::ofstream(Path("skip.nhdr")) << "NRRD0004\ntype: uchar\ndimension: 3\nsizes: 4 4 4\nencoding: raw\n"
                                        "line skip: 1000000000\ndata file: skip.raw\n";
    EXPECT_NE(Refusal(Path("skip.nhdr")).find("fewer than the 1000000000 lines the header skips"),
              std::string::npos);
    fs::create_directory(Path("folder.raw"));
    std::ofstream(Path("folder.mhd")) << "NDims = 3\nDimSize = 4 4 4\nElementType = MET_UCHAR\n"
                                         "ElementDataFile = folder.raw\n";
    EXPECT_NE(Refusal(Path("folder.mhd")).find("folder.raw is a folder"), std::string::npos);
    std::ofstream(Path("absent.mhd")) << "NDims = 3\nDimSize = 4 4 4\nElementType = MET_UCHAR\n"
                                         "ElementDataFile = absent.raw\n";
    const std::string absent = Refusal(Path("absent.mhd"));
    EXPECT_NE(absent.find("absent.raw cannot be opened: No such file or directory"), std::string::npos)
        << absent;
}

// A reader that works on and on (a regular file of endless zeros to skip
// lines in) is ended by the time limit, and sooner by the caller's stop.
TEST_F(ScanHostileTest, AReaderThatNeverFinishesIsStopped) {
    { std::ofstream sparse(Path("zeros.raw")); }
    fs::resize_file(Path("zeros.raw"), uintmax_t{64} << 30);  // sparse: no disk used
    std::ofstream(Path("endless.nhdr"))
        << "NRRD0004\ntype: uchar\ndimension: 3\nsizes: 4 4 4\nencoding: raw\n"
           "line skip: 1000000000\ndata file: zeros.raw\n";
    SetScanWait(1, nullptr, nullptr);
    const std::string late = Refusal(Path("endless.nhdr"), 10);
    EXPECT_NE(late.find("no sign of progress for 1 s"), std::string::npos) << late;
    int asked = 0;
    SetScanWait(
        300, [](void* count) { return ++*static_cast<int*>(count) >= 3; }, &asked);
    const std::string stopped = Refusal(Path("endless.nhdr"), 10);
    EXPECT_EQ(stopped, "reading was stopped");
    EXPECT_EQ(asked, 3);
}

std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

void Put(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Damaged or missing samples are an error, never zeros or whatever memory
// held: a compressed stream whose check fails, a length trailer forged onto
// half the data, MetaImage data files missing, short or not compressed.
TEST_F(ScanHostileTest, DamagedOrMissingSamplesAreAnErrorNotGarbage) {
    scan_test::ScanSpec spec;
    spec.dims = {128, 96, 64};  // 1.5 MiB: more than one read of the length check
    std::vector<double> noise(128 * 96 * 64);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<double>((i * 7919) % 3001);
    ASSERT_EQ(scan_test::WriteScan(Path("whole.nii.gz"), spec, noise), "");
    ASSERT_EQ(scan_test::WriteScan(Path("whole.nii"), spec, noise), "");
    const std::string plain = Bytes(Path("whole.nii"));
    Put(Path("cut.nii"), plain.substr(0, plain.size() - 1));
    EXPECT_NE(Refusal(Path("cut.nii")).find("ends before its last sample"), std::string::npos);
    const std::string whole = Bytes(Path("whole.nii.gz"));
    std::string flipped = whole;
    flipped[flipped.size() - 6] ^= 0x01;  // the stream's CRC
    Put(Path("flipped.nii.gz"), flipped);
    const std::string damaged = Refusal(Path("flipped.nii.gz"));
    EXPECT_NE(damaged.find("the compressed data is damaged"), std::string::npos) << damaged;
    Put(Path("forged.nii.gz"), whole.substr(0, whole.size() / 2) + whole.substr(whole.size() - 8));
    EXPECT_NE(Refusal(Path("forged.nii.gz")).find("ends before its last sample"), std::string::npos);

    const std::string head = "NDims = 3\nDimSize = 8 8 4\nElementType = MET_UCHAR\n";
    for (int z = 0; z < 4; ++z)
        Put(Path("s" + std::to_string(z) + ".raw"), std::string(64, static_cast<char>(z)));
    std::ofstream(Path("list.mhd")) << head << "ElementDataFile = LIST 2D\ns0.raw\n";
    EXPECT_NE(Refusal(Path("list.mhd")).find("the header lists 1 data files, its sizes need 4"),
              std::string::npos);
    std::ofstream(Path("pattern.mhd")) << head << "ElementDataFile = s%d.raw 0 3 1 2\n";
    ScanVolume volume;
    std::string error;
    EXPECT_TRUE(ReadScan(Path("pattern.mhd"), &volume, &error)) << "all four slices: " << error;
    Put(Path("all.raw"), std::string(256, 'x'));
    std::ofstream(Path("raw.mhd")) << "CompressedData = True\n" << head << "ElementDataFile = all.raw\n";
    EXPECT_NE(Refusal(Path("raw.mhd")).find("all.raw is not compressed"), std::string::npos);
    Put(Path("short.raw"), std::string(255, 'x'));
    std::ofstream(Path("short.mhd")) << head << "ElementDataFile = short.raw\n";
    EXPECT_NE(Refusal(Path("short.mhd")).find("short.raw ends before its last sample"), std::string::npos);
}

// DICOM lengths are checked against the file before the library believes
// them: one forged to claim 2 GB, or a slice cut in half, is refused at once
// with the slice named, not read for a minute or shown half garbage.
TEST_F(ScanHostileTest, DicomLengthsBeyondTheFileAreRefusedAtOnce) {
    scan_test::ScanSpec spec;
    spec.dims = {32, 32, 16};
    spec.type = scan_test::StoredType::Int16;
    std::vector<std::string> names;
    for (int z = 0; z < 16; ++z)
        names.push_back("slice" + std::to_string(z));
    const std::vector<double> values(32 * 32 * 16, 100.0);
    for (const char* folder : {"forged", "cut"}) {
        fs::create_directory(Path(folder));
        ASSERT_EQ(scan_test::WriteDicomSeries(Path(folder), spec, values, names), "");
    }
    ScanVolume volume;
    std::string error;
    ASSERT_TRUE(ReadScan(Path("forged"), &volume, &error)) << "whole before the forgery: " << error;

    std::string slice = Bytes(Path("forged/slice5"));
    const size_t pixels = slice.rfind(std::string("\xe0\x7f\x10\x00", 4));
    ASSERT_NE(pixels, std::string::npos);
    const size_t length = pixels + (slice.compare(pixels + 4, 2, "OW") == 0 ? 8 : 4);
    slice.replace(length, 4, std::string("\xf0\xff\xff\x7f", 4));
    Put(Path("forged/slice5"), slice);
    const std::string forged = Refusal(Path("forged"), 5);
    EXPECT_NE(forged.find("states 2147483632 bytes"), std::string::npos) << forged;
    EXPECT_NE(forged.find("slice5"), std::string::npos) << "names the slice: " << forged;

    fs::resize_file(Path("cut/slice7"), fs::file_size(Path("cut/slice7")) - 2);  // one sample
    const std::string cut = Refusal(Path("cut/slice2"), 5);
    EXPECT_NE(cut.find("the file is damaged"), std::string::npos) << cut;
    EXPECT_NE(cut.find("slice7"), std::string::npos) << cut;
}

// The NRRD library's reason is its innermost line, after ITK's preamble:
// the message ends in the cause, not in "Error reading x.nhdr:".
TEST_F(ScanHostileTest, NrrdRefusalsGiveTheLibrarysWholeReason) {
    Put(Path("d.raw"), std::string(4096, 'x'));
    const std::string head = "NRRD0004\ntype: uchar\ndimension: 3\n";
    std::ofstream(Path("spacing.nhdr"))
        << head << "sizes: 16 16 16\nspacings: 0 1 1\nencoding: raw\ndata file: d.raw\n";
    std::ofstream(Path("sizes.nhdr")) << head << "sizes: 0 16 16\nencoding: raw\ndata file: d.raw\n";
    Put(Path("cut.raw.gz"),
        std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10) + std::string(40, 'x'));
    std::ofstream(Path("cut.nhdr")) << head << "sizes: 16 16 16\nencoding: gzip\ndata file: cut.raw.gz\n";
    const std::pair<const char*, const char*> cases[] = {{"spacing.nhdr", "axis 0 spacing (0) invalid"},
                                                         {"sizes.nhdr", "axis 0 size is zero"},
                                                         {"cut.nhdr", "Error reading"}};
    std::ofstream(Path("negative.mhd")) << "NDims = 3\nDimSize = -48 4 4\nElementType = MET_UCHAR\n"
                                           "ElementDataFile = d.raw\n";
    EXPECT_NE(Refusal(Path("negative.mhd")).find("a negative size (DimSize -48 4 4)"), std::string::npos);
    for (const auto& [name, cause] : cases) {
        const std::string reason = Refusal(Path(name));
        EXPECT_NE(reason.find(cause), std::string::npos) << name << ": " << reason;
        EXPECT_EQ(reason.find("0x"), std::string::npos) << "no object address: " << reason;
        EXPECT_NE(reason.back(), ':') << "not cut off: " << reason;
    }
}

// A link that leads nowhere or to itself in a series' folder is no slice:
// the series loads whole, from its folder or from one of its files.
TEST_F(ScanHostileTest, ALinkLoopInASeriesFolderIsPassedOver) {
    scan_test::ScanSpec spec;
    spec.dims = {8, 8, 4};
    ASSERT_EQ(scan_test::WriteDicomSeries(dir_.string(), spec, std::vector<double>(256, 50.0),
                                          {"1", "2", "3", "4"}),
              "");
    fs::create_symlink("loop", dir_ / "loop");
    fs::create_symlink("gone", dir_ / "dangling");
    for (const std::string& path : {dir_.string(), Path("2")}) {
        ScanVolume volume;
        std::string error;
        ASSERT_TRUE(ReadScan(path, &volume, &error)) << path << ": " << error;
        EXPECT_EQ(volume.format, "DICOM series (4 files)") << path;
    }
}

// Slices are placed by their positions: a series with a gap or with two
// slices in one place cannot be one evenly spaced grid, and says so.
TEST_F(ScanHostileTest, UnevenOrDoubledSlicePositionsAreRefusedNamingTheSlices) {
    scan_test::ScanSpec spec;
    spec.dims = {8, 8, 3};
    spec.spacing = {1, 1, 2};
    const std::vector<double> values(192, 50.0);
    for (const char* folder : {"gap", "doubled"})
        fs::create_directory(Path(folder));
    ASSERT_EQ(scan_test::WriteDicomSeries(Path("gap"), spec, values, {"a1", "a2", "a3"}), "");
    ASSERT_EQ(scan_test::WriteDicomSeries(Path("doubled"), spec, values, {"a1", "a2", "a3"}), "");
    ASSERT_EQ(scan_test::WriteDicomSeries(Path("doubled"), spec, values, {"b1", "b2", "b3"}), "");
    spec.origin[2] = 6 + 30;  // the next three slices after a 30 mm gap
    ASSERT_EQ(scan_test::WriteDicomSeries(Path("gap"), spec, values, {"b1", "b2", "b3"}), "");
    const std::string gap = Refusal(Path("gap"));
    EXPECT_NE(gap.find("not evenly spaced: 32 mm from"), std::string::npos) << gap;
    EXPECT_NE(gap.find("a3 to"), std::string::npos) << gap;
    const std::string doubled = Refusal(Path("doubled"));
    EXPECT_NE(doubled.find("two slices lie at the same position"), std::string::npos) << doubled;
}

// The same scan as NIfTI-1 (written by ITK) and as NIfTI-2 (its header
// rewritten field by field) reads the same, plain or compressed.
TEST_F(ScanHostileTest, NiftiTwoReadsAsItsNiftiOneTwin) {
    scan_test::ScanSpec spec;
    spec.dims = {6, 5, 4};
    spec.spacing = {0.7, 0.8, 2.5};
    spec.directions = {{{0, 1, 0}, {1, 0, 0}, {0, 0, 1}}};
    std::vector<double> values(120);
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<double>(i * 37 % 101) - 50;
    ASSERT_EQ(scan_test::WriteScan(Path("one.nii"), spec, values), "");
    const std::string one = Bytes(Path("one.nii"));
    std::string two(544, '\0');
    const auto put = [&](size_t at, auto value) { std::memcpy(&two[at], &value, sizeof(value)); };
    const auto get = [&](size_t at, auto type) {
        std::memcpy(&type, &one[at], sizeof(type));
        return type;
    };
    put(0, int32_t{540});
    std::memcpy(&two[4], "n+2\0\r\n\032\n", 8);
    put(12, get(70, int16_t{}));
    put(14, get(72, int16_t{}));
    for (int i = 0; i < 8; ++i) {
        put(16 + 8 * i, int64_t{get(40 + 2 * i, int16_t{})});
        put(104 + 8 * i, double{get(76 + 4 * i, float{})});
    }
    put(168, int64_t{544});
    put(176, double{get(112, float{})});
    put(184, double{get(116, float{})});
    put(344, int32_t{get(252, int16_t{})});
    put(348, int32_t{get(254, int16_t{})});
    for (int i = 0; i < 6; ++i)
        put(352 + 8 * i, double{get(256 + 4 * i, float{})});
    for (int i = 0; i < 12; ++i)
        put(400 + 8 * i, double{get(280 + 4 * i, float{})});
    two += one.substr(static_cast<size_t>(get(108, float{})));
    Put(Path("two.nii"), two);
    std::string quaternion = two;  // the same orientation from the qform alone (its qfac is -1)
    std::memset(&quaternion[348], 0, 4);
    Put(Path("qform.nii"), quaternion);
    gzFile packed = ::gzopen(Path("two.nii.gz").c_str(), "wb");
    ::gzwrite(packed, two.data(), static_cast<unsigned>(two.size()));
    ::gzclose(packed);

    ScanVolume expected, plain, compressed, byQuaternion;
    std::string error;
    ASSERT_TRUE(ReadScan(Path("one.nii"), &expected, &error)) << error;
    ASSERT_TRUE(ReadScan(Path("two.nii"), &plain, &error)) << error;
    ASSERT_TRUE(ReadScan(Path("two.nii.gz"), &compressed, &error)) << error;
    ASSERT_TRUE(ReadScan(Path("qform.nii"), &byQuaternion, &error)) << error;
    for (const ScanVolume* v : {&plain, &compressed, &byQuaternion}) {
        EXPECT_EQ(v->format, "NIfTI-2");
        EXPECT_EQ(std::tie(v->dimX, v->dimY, v->dimZ), std::tie(expected.dimX, expected.dimY, expected.dimZ));
        EXPECT_NEAR(v->spacingX, expected.spacingX, 1e-6);
        EXPECT_NEAR(v->spacingZ, expected.spacingZ, 1e-6);
        EXPECT_TRUE(std::equal(v->samples.get(), v->samples.get() + 120, expected.samples.get()));
    }
    Put(Path("cut.nii"), two.substr(0, two.size() - 10));
    EXPECT_NE(Refusal(Path("cut.nii")).find("ends before its last sample"), std::string::npos);
}

}  // namespace

// What a folder or series lacks is said: an empty folder, a folder of other
// files, a series one of whose slices states another size.
TEST_F(ScanHostileTest, AFolderOrSeriesThatIsNotOneSaysWhatWasLookedFor) {
    fs::create_directory(Path("empty"));
    fs::create_directory(Path("notes"));
    for (int i = 0; i < 50; ++i)
        std::ofstream(Path("notes/n" + std::to_string(i) + ".txt")) << "not a slice " << i;
    EXPECT_NE(Refusal(Path("empty")).find("no DICOM series: it is empty"), std::string::npos);
    EXPECT_NE(Refusal(Path("notes")).find("none of its 50 files is a DICOM image"), std::string::npos);

    scan_test::ScanSpec spec;
    spec.dims = {16, 16, 4};
    fs::create_directory(Path("rows"));
    ASSERT_EQ(scan_test::WriteDicomSeries(Path("rows"), spec, std::vector<double>(1024, 50.0),
                                          {"1", "2", "3", "4"}),
              "");
    std::string slice = Bytes(Path("rows/3"));
    const size_t rows = slice.find(std::string("\x28\x00\x10\x00", 4));
    ASSERT_NE(rows, std::string::npos);
    slice[rows + 8] = 15;  // the value after the tag and its length (explicit or implicit VR alike)
    Put(Path("rows/3"), slice);
    // The folder: the three slices of one size, with a gap where the fourth was.
    const std::string folder = Refusal(Path("rows"));
    EXPECT_NE(folder.find("slices missing?)"), std::string::npos) << folder;
    EXPECT_NE(folder.find("1 slice of the series left out for another size or kind (" + Path("rows/3") +
                          " is 16 x 15)"),
              std::string::npos)
        << folder;
    // The odd slice alone: read, and the rest of its series named.
    ScanVolume alone;
    std::string error;
    ASSERT_TRUE(ReadScan(Path("rows/3"), &alone, &error)) << error;
    EXPECT_NE(alone.notice.find("3 slices of the series left out"), std::string::npos) << alone.notice;
}

// An orientation the NIfTI library's arithmetic cannot take (NaN stops its
// process, squares past the float range never finish) is refused at once.
TEST_F(ScanHostileTest, ANiftiOrientationBeyondArithmeticIsRefused) {
    scan_test::ScanSpec spec;
    spec.dims = {4, 4, 4};
    ASSERT_EQ(scan_test::WriteScan(Path("good.nii"), spec, std::vector<double>(64, 5.0)), "");
    const std::string good = Bytes(Path("good.nii"));
    for (const float bad : {std::nanf(""), 4e27f}) {
        std::string header = good;
        std::memcpy(header.data() + 280, &bad, sizeof(bad));  // srow_x[0], the sform in use
        Put(Path("bad.nii"), header);
        EXPECT_NE(Refusal(Path("bad.nii"), 5).find("orientation holds a number that is not finite"),
                  std::string::npos);
    }
}

// The MetaImage library copies field names and its own text fields into
// buffers of 255 bytes unmeasured: one longer is refused with its reason, not
// read over the library's memory. What fits, and long values of other
// fields, read as before.
TEST_F(ScanHostileTest, MetaImageTextPastTheLibrarysBuffersIsRefused) {
    const std::string head = "ObjectType = Image\nNDims = 3\nDimSize = 2 2 2\nElementType = MET_UCHAR\n";
    const std::string tail = "ElementDataFile = LOCAL\n" + std::string(8, 'x');
    const std::string text(255, 'A');
    for (const auto& [line, said] :
         {std::pair<std::string, std::string>{text + " = 1\n", "a field name in the MetaImage header is 255"},
          {"Comment = " + text + "\n", "the MetaImage header's Comment is 255"},
          {"Name: " + text + " \r\n", "the MetaImage header's Name is 255"},
          {"ObjectSubType\n= " + text + "\n", "the MetaImage header's ObjectSubType is"}}) {
        Put(Path("long.mha"), head + line + tail);
        const std::string refusal = Refusal(Path("long.mha"));
        EXPECT_NE(refusal.find(said), std::string::npos) << refusal;
    }
    // Its samples are no header, however they read as text.
    const std::string samples = std::string(300, 'x') + "\n" + std::string(99, 'y');
    Put(Path("fits.mha"),
        "NDims = 3\nDimSize = 20 20 1\nElementType = MET_UCHAR\nComment = " + text.substr(1) +
            "\nUserNote = " + std::string(400, 'B') + "\nElementDataFile = LOCAL\n" + samples);
    ScanVolume volume;
    std::string error;
    EXPECT_TRUE(ReadScan(Path("fits.mha"), &volume, &error)) << error;
}

// The NRRD library quotes a field it cannot parse in a message formatted on
// its stack; a data file pattern goes to printf. A line that could overrun
// the message, or a pattern with any conversion but one number's, is refused
// before any reader sees it; long comments, key/value pairs and content read.
TEST_F(ScanHostileTest, NrrdLinesAndPatternsThatWouldOverrunTheReadersAreRefused) {
    const std::string head = "NRRD0004\ntype: uint8\ndimension: 3\nsizes: 2 2 2\nencoding: raw\n";
    Put(Path("kinds.nrrd"), head + "kinds: " + std::string(1000, 'A') + "\n\n" + std::string(8, 'x'));
    const std::string kinds = Refusal(Path("kinds.nrrd"));
    EXPECT_NE(kinds.find("line 6 of the NRRD header is 1007 characters long (at most 512"), std::string::npos)
        << kinds;
    const std::string text(2000, 'B');
    Put(Path("fits.nrrd"),
        head + "# " + text + "\nnote:=" + text + "\ncontent: " + text + "\n\n" + std::string(8, 'x'));
    ScanVolume volume;
    std::string error;
    EXPECT_TRUE(ReadScan(Path("fits.nrrd"), &volume, &error)) << error;

    for (int z = 0; z < 2; ++z)
        Put(Path("s" + std::to_string(z) + ".raw"), std::string(4, 'x'));
    Put(Path("pattern.nhdr"), head + "data file: s%s%n.raw 0 1 1\n");
    Put(Path("pattern.mhd"),
        "NDims = 3\nDimSize = 2 2 2\nElementType = MET_UCHAR\nElementDataFile = s%x.raw\n");
    // MetaIO divides by the step, takes any "%" in the value for a pattern
    // and ends its key at a NUL (a fuzzed header stopped the process so).
    const std::string meta = "NDims = 3\nDimSize = 2 2 2\nElementType = MET_UCHAR\n";
    Put(Path("step0.mhd"), meta + "ElementDataFile = s%d.raw 0 1 0\n");
    Put(Path("words.mhd"), meta + "ElementDataFile = s%d.raw one 1 1\n");
    for (const char* name : {"pattern.nhdr", "pattern.mhd", "step0.mhd", "words.mhd"}) {
        const std::string refusal = Refusal(Path(name));
        EXPECT_NE(refusal.find("is not a name with one number in it"), std::string::npos)
            << name << ": " << refusal;
    }
    // It also ends a name at a NUL, and looks for the "=" past the line.
    Put(Path("nul.mhd"), meta + std::string("ElementDataFile\0= = x = LOCAL%xx\n", 33));
    Put(Path("nextline.mhd"), meta + "ElementDataFile\n= s%d.raw 0 1 0\n");
    const std::string nul = Refusal(Path("nul.mhd"));
    EXPECT_TRUE(nul.find("holds a NUL byte (ElementDataFile, not text)") != std::string::npos ||
                nul.find("is not a name with one number in it") != std::string::npos)
        << nul;
    EXPECT_NE(Refusal(Path("nextline.mhd")).find("ElementDataFile has no value on its line"),
              std::string::npos);
    Put(Path("stepped.mhd"), meta + "ElementDataFile = s%d.raw 0 1 1\n");
    EXPECT_TRUE(ReadScan(Path("stepped.mhd"), &volume, &error)) << error;
    Put(Path("numbered.nhdr"), head + "data file: s%01d.raw 0 1 1\n");
    EXPECT_TRUE(ReadScan(Path("numbered.nhdr"), &volume, &error)) << error;
}

// MetaIO reads as many numbers as NDims says, across lines and without end
// for a negative count: a 104-byte header with NDims = -3 held the reader
// until its 300 s limit. Counts that do not fit, and sizes or positions no
// arithmetic survives, are refused at once; a full header reads.
TEST_F(ScanHostileTest, MetaImageCountsThatDoNotFitNDimsAreRefusedAtOnce) {
    const auto with = [](const std::string& fields) {
        return "ObjectType = Image\n" + fields + "ElementType = MET_UCHAR\nElementDataFile = LOCAL\n" +
               std::string(64, 'x');
    };
    const std::pair<std::string, std::string> cases[] = {
        {"NDims = -3\nDimSize = 4 4 4\n", "NDims is -3 (a scan has 1 to 4 dimensions)"},
        {"NDims = 2.5\nDimSize = 4 4 4\n", "NDims is 2.5"},
        {"NDims = 11\nDimSize = 4 4 4\n", "NDims is 11"},
        {"NDims = 3\nDimSize = 4 4\n4\n", "DimSize gives 2 numbers on its line, NDims = 3 needs 3"},
        {"NDims = 3\nDimSize = 4 4 4\nTransformMatrix = 1 0 0 0 1 0 0 0\n",
         "TransformMatrix gives 8 numbers"},
        {"NDims = 3\nDimSize = 4 4 4\nElementSpacing = 1 nan 1\n", "ElementSpacing holds \"nan\""},
        {"NDims = 3\nDimSize = 4 4 4\nOffset = 0 1e300 0\n",
         "Offset holds a number that is not finite, or beyond"},
        {"NDims = 3\nDimSize = 4 4.5 4\n", "DimSize holds 4.5, not a whole number"}};
    for (const auto& [fields, said] : cases) {
        Put(Path("counts.mha"), with(fields));
        const std::string refusal = Refusal(Path("counts.mha"), 5);
        EXPECT_NE(refusal.find(said), std::string::npos) << fields << refusal;
    }
    Put(Path("full.mha"),
        with("NDims = 3\nDimSize = 4 4 4\nOffset = -10 2.5e2 0\nTransformMatrix = 0 1 0 1 0 0 0 0 "
             "1\nCenterOfRotation = 0 0 0\nElementSpacing = 0.5 0.5 2\n"));
    ScanVolume volume;
    std::string error;
    ASSERT_TRUE(ReadScan(Path("full.mha"), &volume, &error)) << error;
    EXPECT_EQ(volume.dimX * volume.dimY * volume.dimZ, 64u);
}

// Compressed MetaImage samples are inflated here: a stream whose size is
// not given reads whole (in either byte order), and one that is cut, flipped,
// not compressed or short of the samples is refused, never shown as garbage.
TEST_F(ScanHostileTest, CompressedMetaImageDataReadsExactlyOrIsRefused) {
    std::string little, big;
    for (int i = 0; i < 16 * 16 * 8; ++i) {
        const auto value = static_cast<uint16_t>((i * 37) % 1000);
        little += {static_cast<char>(value & 0xff), static_cast<char>(value >> 8)};
        big += {static_cast<char>(value >> 8), static_cast<char>(value & 0xff)};
    }
    const auto packed = [](const std::string& raw) {
        std::string out(compressBound(raw.size()), '\0');
        uLongf size = out.size();
        compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
                  raw.size(), 6);
        return out.substr(0, size);
    };
    const auto mha = [&](const std::string& stream, const std::string& extra) {
        return "NDims = 3\nDimSize = 16 16 8\nElementType = MET_SHORT\nCompressedData = True\n" + extra +
               "ElementDataFile = LOCAL\n" + stream;
    };
    const std::string whole = packed(little);
    Put(Path("sized.mha"), mha(whole, "CompressedDataSize = " + std::to_string(whole.size()) + "\n"));
    Put(Path("unsized.mha"), mha(whole, ""));
    Put(Path("msb.mha"), mha(packed(big), "BinaryDataByteOrderMSB = True\n"));
    ScanVolume expected;
    std::string error;
    ASSERT_TRUE(ReadScan(Path("sized.mha"), &expected, &error)) << error;
    EXPECT_EQ(expected.channels[0].minValue, 0);
    EXPECT_EQ(expected.channels[0].maxValue, 999);
    for (const char* name : {"unsized.mha", "msb.mha"}) {
        ScanVolume volume;
        ASSERT_TRUE(ReadScan(Path(name), &volume, &error)) << name << ": " << error;
        EXPECT_TRUE(std::equal(volume.samples.get(), volume.samples.get() + 2048, expected.samples.get()))
            << name;
    }
    std::string flipped = whole;
    flipped[flipped.size() / 2] ^= 0x01;
    const std::pair<std::string, std::string> cases[] = {
        {mha(whole.substr(0, whole.size() / 2), ""), "stops early"},
        {mha(flipped, ""), "compressed data is damaged"},
        {mha(little, ""), "compressed data is damaged"},
        {mha(packed(little.substr(0, little.size() / 2)), ""),
         "holds 2.0 KB of samples, its sizes need 4.0 KB"},
        {mha(packed(little + little), ""), "holds more than the header's sizes need"}};
    for (const auto& [bytes, said] : cases) {
        Put(Path("bad.mha"), bytes);
        const std::string refusal = Refusal(Path("bad.mha"));
        EXPECT_NE(refusal.find(said), std::string::npos) << said << ": " << refusal;
    }
}

// A tiny file must not cost gigabytes: a voxel side that is not finite,
// beyond 1e15 mm or under a millionth of the longest is refused in every
// format (the box it makes cannot be shown, nor resampled), and a compressed
// stream that cannot inflate to the header's sizes is refused before any
// room is taken for them.
TEST_F(ScanHostileTest, SizesTheDataCannotHoldAreRefusedBeforeReading) {
    const std::string samples(64, 'x');
    for (const char* spacing : {"1e-300 1 1", "1 1e-7 1", "1e300 1 1"}) {
        Put(Path("s.mha"), "NDims = 3\nDimSize = 4 4 4\nElementSpacing = " + std::string(spacing) +
                               "\nElementType = MET_UCHAR\nElementDataFile = LOCAL\n" + samples);
        Put(Path("s.nrrd"), "NRRD0004\ntype: uchar\ndimension: 3\nsizes: 4 4 4\nspacings: " +
                                std::string(spacing) + "\nencoding: raw\n\n" + samples);
        for (const char* name : {"s.mha", "s.nrrd"}) {
            const std::string refusal = Refusal(Path(name));
            EXPECT_TRUE(refusal.find("voxel size") != std::string::npos ||
                        refusal.find("beyond 1e15 mm") != std::string::npos)
                << name << " " << spacing << ": " << refusal;
        }
    }
    std::string stream(1 << 20, '\0');
    for (size_t i = 0; i < stream.size(); ++i)
        stream[i] = static_cast<char>((i * 7919) >> 3);
    gzFile packed = ::gzopen(Path("data.raw.gz").c_str(), "wb1");
    ::gzwrite(packed, stream.data(), static_cast<unsigned>(stream.size()));
    ::gzclose(packed);
    Put(Path("big.nhdr"),
        "NRRD0004\ntype: uchar\ndimension: 3\nsizes: 2048 2048 1024\nencoding: gzip\ndata file: "
        "data.raw.gz\n");
    const std::string big = Refusal(Path("big.nhdr"), 5);
    EXPECT_NE(big.find("cannot hold the 4.0 GB of samples its sizes need"), std::string::npos) << big;
}

// The NRRD library wraps an ascii number past its type's range (99999 in a
// short reads as -31073): such a value is refused; the type's ends read.
TEST_F(ScanHostileTest, NrrdTextValuesPastTheirTypeAreRefused) {
    const std::string head = "NRRD0004\ntype: short\ndimension: 3\nsizes: 2 2 1\nencoding: ascii\n\n";
    Put(Path("wraps.nrrd"), head + "1 2\n99999 4\n");
    EXPECT_NE(
        Refusal(Path("wraps.nrrd")).find("holds 99999, beyond the range of its type short (-32768 to 32767)"),
        std::string::npos);
    Put(Path("ends.nrrd"), head + "-32768 0\n0 32767\n");
    ScanVolume volume;
    std::string error;
    ASSERT_TRUE(ReadScan(Path("ends.nrrd"), &volume, &error)) << error;
    EXPECT_EQ(volume.channels[0].minValue, -32768);
    EXPECT_EQ(volume.channels[0].maxValue, 32767);
}

// The reader's work limit follows the file: a header's own bytes, the data
// files it names, a compressed stream as the most it inflates to.
TEST_F(ScanHostileTest, TheBytesAReadMayNeedFollowTheFile) {
    Put(Path("h.mha"), "NDims = 3\nDimSize = 4 4 4\nElementType = MET_UCHAR\nElementDataFile = d.raw\n");
    EXPECT_LT(MostBytesToRead(Path("h.mha")), 200);
    Put(Path("d.raw"), std::string(1 << 20, 'x'));
    EXPECT_GT(MostBytesToRead(Path("h.mha")), 1 << 20);
    EXPECT_LT(MostBytesToRead(Path("h.mha")), 2 << 20);
    Put(Path("c.mha"),
        "NDims = 3\nDimSize = 4 4 4\nElementType = MET_UCHAR\nCompressedData = True\n"
        "ElementDataFile = LOCAL\n" +
            std::string(1000, 'x'));
    EXPECT_GT(MostBytesToRead(Path("c.mha")), 1000 * 1000);
}

// Found by fuzz_scan: values spanning a subnormal width (0 to 2.8e-309) made
// the window's bins infinitely narrow; the scan reads with its whole range.
TEST_F(ScanHostileTest, ValuesOfSubnormalSpanReadWithTheirWholeRange) {
    scan_test::ScanSpec spec;
    spec.dims = {2, 2, 2};
    spec.type = scan_test::StoredType::Float64;
    ASSERT_EQ(scan_test::WriteScan(Path("tiny.nii"), spec, {0, 2.78e-309, 0, 1e-310, 0, 0, 2.78e-309, 0}),
              "");
    ScanVolume volume;
    std::string error;
    ASSERT_TRUE(ReadScan(Path("tiny.nii"), &volume, &error, 0, nullptr, nullptr, {ValueWindow::Automatic}))
        << error;
    EXPECT_EQ(volume.channels[0].windowLow, 0);
    EXPECT_EQ(volume.channels[0].windowHigh, 2.78e-309);
    EXPECT_EQ(*std::max_element(volume.samples.get(), volume.samples.get() + 8), 4095);
}

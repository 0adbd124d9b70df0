// TIFF stacks written by an independent writer (tifffile), by libtiff itself
// and byte by byte, read back through the reading child: every sample at its
// channel, time point and place, the file's spacing, names and colours; each
// damaged or inconsistent file refused quickly, with its reason.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <tuple>

#include "volume/scan_import.h"
#include "volume/volume_read.h"

namespace {

namespace fs = std::filesystem;
// Stored values of 0..4095 become exactly these samples.
const ValueChoice kExact{ValueWindow::Custom, 0, 4095};

class ScanTiffTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tamlo-tiff-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    static bool HaveTifffile() {
        static const bool have = std::system("/usr/bin/python3 -c 'import tifffile, numpy' 2>/dev/null") == 0;
        return have;
    }
    void Python(const std::string& script) const {
        std::ofstream(Path("make.py")) << "import numpy as np, tifffile\n" << script;
        ASSERT_EQ(std::system(("cd '" + dir_.string() + "' && /usr/bin/python3 make.py").c_str()), 0)
            << script;
    }
    static ScanVolume Read(const std::string& path, const ValueChoice& values = kExact) {
        ScanVolume volume;
        std::string error;
        EXPECT_TRUE(ReadScan(path, &volume, &error, 0, nullptr, nullptr, values)) << path << ": " << error;
        return volume;
    }
    static std::string Refusal(const std::string& path, uint64_t budget = 0) {
        ScanVolume volume;
        std::string error;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(ReadScan(path, &volume, &error, budget)) << path << " was read";
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 20)
            << path;
        EXPECT_EQ(error.find('\n'), std::string::npos) << "one line: " << error;
        return error;
    }

    fs::path dir_;
};

// The sample shown for column x, row y of page slice z: pages are seen as on
// a screen, row 0 at the top, so the program's y (up) runs the other way.
uint16_t Shown(const ScanVolume& v, uint32_t c, uint32_t t, uint32_t x, uint32_t y, uint32_t z) {
    return v.Grid(c, t)[(uint64_t{z} * v.dimY + (v.dimY - 1 - y)) * v.dimX + x];
}

// A 4 x 5 x 3 grid of 2 channels at 2 time points whose every sample is
// its place: x + 4 y + 20 z + 60 c + 120 t.
void ExpectEachSampleItsPlace(const ScanVolume& v) {
    for (uint32_t t = 0; t < 2; ++t)
        for (uint32_t c = 0; c < 2; ++c)
            for (uint32_t z = 0; z < 3; ++z)
                for (uint32_t y = 0; y < 5; ++y)
                    for (uint32_t x = 0; x < 4; ++x)
                        ASSERT_EQ(Shown(v, c, t, x, y, z), x + 4 * y + 20 * z + 60 * c + 120 * t)
                            << "c " << c << " t " << t << " at " << x << ", " << y << ", " << z;
}

// A stack written by libtiff: sample s of (x, y) on page p holds value(x, y, p, s).
struct Stack {
    uint32_t width = 5, length = 3, pages = 2, tile = 0;  // tile: the side of square tiles, 0 for strips
    uint16_t bits = 8, format = SAMPLEFORMAT_UINT, samples = 1, planar = PLANARCONFIG_CONTIG;
    uint16_t compression = COMPRESSION_NONE, resolutionUnit = RESUNIT_NONE;
    float resolution[2] = {0, 0};  // pixels per unit along x and y; 0 for none
    std::string description;
};
using Value = std::function<double(uint32_t x, uint32_t y, uint32_t page, uint32_t sample)>;

void Put(char* at, const Stack& s, double v) {
    const auto put = [&](auto typed) {
        std::memcpy(at, &(typed = static_cast<decltype(typed)>(v)), sizeof(typed));
    };
    const int kind = (s.bits == 8 ? 0 : s.bits == 16 ? 1 : 2) + 3 * (s.format == SAMPLEFORMAT_INT);
    s.format == SAMPLEFORMAT_IEEEFP ? put(float{})
    : kind == 0                     ? put(uint8_t{})
    : kind == 1                     ? put(uint16_t{})
    : kind == 2                     ? put(uint32_t{})
    : kind == 3                     ? put(int8_t{})
    : kind == 4                     ? put(int16_t{})
                                    : put(int32_t{});
}

// `vary` may change the stack for one page (another size or type).
void WriteStack(const std::string& path, const Stack& stack, const Value& value,
                const std::function<void(uint32_t, Stack*)>& vary = {}) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr) << path;
    for (uint32_t p = 0; p < stack.pages; ++p) {
        Stack s = stack;
        if (vary)
            vary(p, &s);
        const uint16_t photometric = s.samples == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
        for (const auto& [tag, value] : {std::pair{TIFFTAG_BITSPERSAMPLE, s.bits},
                                         {TIFFTAG_SAMPLEFORMAT, s.format},
                                         {TIFFTAG_SAMPLESPERPIXEL, s.samples},
                                         {TIFFTAG_PLANARCONFIG, s.planar},
                                         {TIFFTAG_COMPRESSION, s.compression},
                                         {TIFFTAG_PHOTOMETRIC, photometric}})
            TIFFSetField(tif, tag, value);
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, s.width), TIFFSetField(tif, TIFFTAG_IMAGELENGTH, s.length);
        if (s.resolution[0] > 0)
            TIFFSetField(tif, TIFFTAG_XRESOLUTION, s.resolution[0]),
                TIFFSetField(tif, TIFFTAG_YRESOLUTION, s.resolution[1]),
                TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, s.resolutionUnit);
        if (p == 0 && !s.description.empty())
            TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, s.description.c_str());
        const uint32_t bw = s.tile ? s.tile : s.width,
                       bh = s.tile ? s.tile : 2;  // a block: a tile or a strip
        s.tile ? (void)(TIFFSetField(tif, TIFFTAG_TILEWIDTH, bw) + TIFFSetField(tif, TIFFTAG_TILELENGTH, bh))
               : (void)TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, bh);
        const bool separate = s.planar == PLANARCONFIG_SEPARATE;
        const uint32_t inBlock = separate ? 1 : s.samples, bytes = s.bits / 8;
        for (uint32_t plane = 0; plane < (separate ? s.samples : 1u); ++plane)
            for (uint32_t y0 = 0; y0 < s.length; y0 += bh)
                for (uint32_t x0 = 0; x0 < s.width; x0 += bw) {
                    const uint32_t rows = s.tile ? bh : std::min(bh, s.length - y0);
                    std::vector<char> block(size_t{bw} * rows * inBlock * bytes, 0);
                    for (uint32_t y = 0; y < rows && y0 + y < s.length; ++y)
                        for (uint32_t x = 0; x < bw && x0 + x < s.width; ++x)
                            for (uint32_t c = 0; c < inBlock; ++c)
                                Put(&block[((y * bw + x) * inBlock + c) * bytes], s,
                                    value(x0 + x, y0 + y, p, plane + c));
                    const auto n = static_cast<tmsize_t>(block.size());
                    ASSERT_EQ(s.tile ? TIFFWriteEncodedTile(tif, TIFFComputeTile(tif, x0, y0, 0, plane),
                                                            block.data(), n)
                                     : TIFFWriteEncodedStrip(tif, TIFFComputeStrip(tif, y0, plane),
                                                             block.data(), n),
                              n);
                }
        ASSERT_TRUE(TIFFWriteDirectory(tif));
    }
    TIFFClose(tif);
}

// A little-endian stack of uint8 pages written byte by byte, each page's
// directory before its samples, so that a file cut short loses samples.
// `next(page, usual)` gives the offset of the directory after `page`.
std::string TinyTiff(uint32_t width, uint32_t length, uint32_t pages,
                     const std::function<uint32_t(uint32_t, uint32_t)>& next = {}, uint32_t dataBytes = 0) {
    dataBytes = dataBytes ? dataBytes : width * length;
    const uint32_t block = 2 + 9 * 12 + 4 + dataBytes;
    std::string out("II*\0\x08\0\0\0", 8);
    const auto word = [&](uint32_t v, int n) {
        out.append(reinterpret_cast<const char*>(&v), static_cast<size_t>(n));
    };
    for (uint32_t p = 0; p < pages; ++p) {
        const uint32_t at = 8 + p * block;
        word(9, 2);
        const uint32_t entries[9][3] = {{256, 4, width}, {257, 4, length}, {258, 3, 8},
                                        {259, 3, 1},     {262, 3, 1},      {273, 4, at + 114},
                                        {277, 3, 1},     {278, 4, length}, {279, 4, dataBytes}};
        for (const auto& e : entries) {
            word(e[0], 2), word(e[1], 2), word(1, 4), word(e[2], 4);
        }
        const uint32_t usual = p + 1 < pages ? at + block : 0;
        word(next ? next(p, usual) : usual, 4);
        out.append(dataBytes, static_cast<char>(p));
    }
    return out;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A hyperstack of 2 time points x 3 slices x 2 channels of 4 x 5, each value
// naming its place, as ImageJ and two OME page orders store it.
TEST_F(ScanTiffTest, HyperstacksPutEverySampleAtItsChannelTimeAndPlaceWithTheFilesSpacing) {
    if (!HaveTifffile())
        GTEST_SKIP() << "/usr/bin/python3 lacks tifffile";
    Python(R"(
v = np.fromfunction(lambda t, z, c, y, x: x + 4*y + 20*z + 60*c + 120*t, (2, 3, 2, 5, 4)).astype('uint16')
red, green = np.zeros((3, 256), 'uint8'), np.zeros((3, 256), 'uint8')
red[0] = green[1] = np.arange(256)
tifffile.imwrite('ij.tif', v, imagej=True, resolution=(4, 2),
                 metadata={'axes': 'TZCYX', 'spacing': 2.5, 'unit': 'um', 'finterval': 0.5, 'LUTs': [red, green]})
ome = {'PhysicalSizeX': 0.25, 'PhysicalSizeY': 0.5, 'PhysicalSizeZ': 2.5, 'TimeIncrement': 3,
       'TimeIncrementUnit': 'ms', 'Channel': {'Name': ['DAPI', 'GFP'], 'Color': [-16776961, 16711935]}}
tifffile.imwrite('tzc.ome.tif', v, ome=True, photometric='minisblack', metadata=dict(ome, axes='TZCYX'))
tifffile.imwrite('ctz.ome.tif', v.transpose(2, 0, 1, 3, 4), ome=True, photometric='minisblack',
                 metadata=dict(ome, axes='CTZYX'))
)");
    for (const char* name : {"ij.tif", "tzc.ome.tif", "ctz.ome.tif"}) {
        SCOPED_TRACE(name);
        const ScanVolume v = Read(Path(name));
        ASSERT_EQ(std::vector<uint32_t>({v.dimX, v.dimY, v.dimZ, v.ChannelCount(), v.timePoints}),
                  std::vector<uint32_t>({4, 5, 3, 2, 2}));
        EXPECT_EQ(std::vector<double>({v.spacingX, v.spacingY, v.spacingZ}),
                  std::vector<double>({2.5e-4, 5e-4, 2.5e-3}));
        const bool imagej = std::string(name) == "ij.tif";
        EXPECT_EQ(v.format, imagej ? "ImageJ TIFF" : "OME-TIFF");
        EXPECT_EQ(std::to_string(v.timeStep) + " " + v.timeUnit, imagej ? "0.500000 s" : "3.000000 ms");
        EXPECT_EQ(v.channels[0].name + "," + v.channels[1].name, imagej ? "," : "DAPI,GFP");
        // ImageJ's display tables; OME's signed RGBA colours.
        EXPECT_EQ(std::vector<int32_t>({v.channels[0].colour, v.channels[1].colour}),
                  std::vector<int32_t>({0xFF0000, 0x00FF00}));
        ExpectEachSampleItsPlace(v);
    }
}

// OME's TiffData place each plane in a page of its own, in any order: pages
// lying as the values do (used where they lie), shuffled around a
// thumbnail (which still counts as a directory), time points swapped in two
// runs, and all in the page order (a TiffData of no attributes). A file
// renamed after it was written still names its old self.
TEST_F(ScanTiffTest, OmeTiffDataPlacesEveryPlaneWhereItSays) {
    if (!HaveTifffile())
        GTEST_SKIP() << "/usr/bin/python3 lacks tifffile";
    Python(R"(
import random
v = np.fromfunction(lambda t, z, c, y, x: x + 4*y + 20*z + 60*c + 120*t, (2, 3, 2, 5, 4)).astype('uint16')
def description(tiffdata):
    return ('<OME xmlns="http://www.openmicroscopy.org/Schemas/OME/2016-06"><Image ID="Image:0"><Pixels ID="Pixels:0" '
           'DimensionOrder="XYCZT" Type="uint16" SizeX="4" SizeY="5" SizeZ="3" SizeC="2" SizeT="2">' + tiffdata +
           '</Pixels></Image></OME>')
def write(name, planes, tiffdata, thumb=None, xml=None):
    xml = xml or description(tiffdata)
    with tifffile.TiffWriter(name) as tif:
        for i, (c, z, t) in enumerate(planes):
            if i == thumb:
                tif.write(np.zeros((2, 2), 'uint16'), subfiletype=1, metadata=None)
            tif.write(v[t, z, c], contiguous=thumb is None, description=xml if i == 0 else None, metadata=None)
one = '<TiffData IFD="{}" FirstC="{}" FirstZ="{}" FirstT="{}">{}</TiffData>'
planes = [(c, z, t) for c in range(2) for t in range(2) for z in range(3)]
write('lying.ome.tif', planes, ''.join(one.format(i, *p, '') for i, p in enumerate(planes)))
shuffled = random.Random(7).sample(planes, len(planes))
uuid = '<UUID FileName="written.ome.tif">urn:uuid:1</UUID>'
write('shuffled.ome.tif', shuffled, ''.join(one.format(i + (i >= 5), *p, uuid) for i, p in enumerate(shuffled)), 5)
xyczt = lambda times: [(c, z, t) for t in times for z in range(3) for c in range(2)]
write('runs.ome.tif', xyczt((1, 0)), '<TiffData IFD="6" PlaneCount="6"/><TiffData FirstT="1" PlaneCount="6"/>')
write('all.ome.tif', xyczt((0, 1)), '<TiffData/>')
# A set of two files, a channel each, every file describing the whole set;
# the second has a thumbnail among its planes.
named = lambda name, c, thumb: ''.join(one.format(i + (i >= thumb), c, z, t, f'<UUID FileName="{name}">urn:uuid:{c}</UUID>')
                                       for i, (z, t) in enumerate((z, t) for t in range(2) for z in range(3)))
set_xml = named('set_c1.ome.tif', 0, 6) + named('set_c2.ome.tif', 1, 3)
for c, thumb in ((0, None), (1, 3)):
    write(f'set_c{c + 1}.ome.tif', [(c, z, t) for t in range(2) for z in range(3)], set_xml, thumb)
# The same set whose files hold planes alone, the description in a companion file.
open('bin.companion.ome', 'w').write(description(set_xml.replace('set_c', 'bin_c')))
for c in range(2):
    write(f'bin_c{c + 1}.ome.tif', [(c, z, t) for t in range(2) for z in range(3)], '', 3 * c or None,
          '<OME><BinaryOnly MetadataFile="bin.companion.ome" UUID="urn:uuid:9"/></OME>')
)");
    for (const char* name : {"lying.ome.tif", "shuffled.ome.tif", "runs.ome.tif", "all.ome.tif",
                             "set_c1.ome.tif", "set_c2.ome.tif", "bin_c1.ome.tif", "bin_c2.ome.tif"}) {
        SCOPED_TRACE(name);
        const ScanVolume v = Read(Path(name));
        ASSERT_EQ(std::vector<uint32_t>({v.dimX, v.dimY, v.dimZ, v.ChannelCount(), v.timePoints}),
                  std::vector<uint32_t>({4, 5, 3, 2, 2}));
        ExpectEachSampleItsPlace(v);
    }
}

// Every sample type, compression and layout of pages gives the same samples;
// RGB pages give a red, a green and a blue channel.
TEST_F(ScanTiffTest, EveryTypeCompressionAndLayoutGivesTheSameSamples) {
    struct Case {
        uint16_t bits, format, compression, samples, planar;
        uint32_t tile;
        const char* type;
    };
    const Case cases[] = {
        {8, SAMPLEFORMAT_INT, COMPRESSION_PACKBITS, 1, PLANARCONFIG_CONTIG, 0, "int8"},
        {32, SAMPLEFORMAT_INT, COMPRESSION_NONE, 1, PLANARCONFIG_SEPARATE, 0, "int32"},
        {16, SAMPLEFORMAT_UINT, COMPRESSION_LZW, 1, PLANARCONFIG_CONTIG, 16, "uint16"},
        {16, SAMPLEFORMAT_INT, COMPRESSION_ADOBE_DEFLATE, 1, PLANARCONFIG_CONTIG, 0, "int16"},
        {32, SAMPLEFORMAT_UINT, COMPRESSION_ADOBE_DEFLATE, 1, PLANARCONFIG_CONTIG, 16, "uint32"},
        {32, SAMPLEFORMAT_IEEEFP, COMPRESSION_LZW, 1, PLANARCONFIG_CONTIG, 0, "float32"},
        {8, SAMPLEFORMAT_UINT, COMPRESSION_LZW, 3, PLANARCONFIG_CONTIG, 0, "uint8"},
        {16, SAMPLEFORMAT_UINT, COMPRESSION_NONE, 3, PLANARCONFIG_SEPARATE, 16, "uint16"},
        {8, SAMPLEFORMAT_UINT, COMPRESSION_PACKBITS, 3, PLANARCONFIG_CONTIG, 16, "uint8"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.type) + " compression " + std::to_string(k.compression) + " tile " +
                     std::to_string(k.tile));
        Stack s;  // partial tiles on both sides
        s.width = 19, s.length = 18, s.pages = 3, s.tile = k.tile, s.bits = k.bits, s.format = k.format;
        s.samples = k.samples, s.planar = k.planar, s.compression = k.compression;
        // Distinct values where the type holds them (8 bits: a pattern no
        // flip or shift keeps); signed and float stores shifted below zero.
        const uint32_t kinds = k.bits == 8 ? 127 : 4096;
        const auto value = [&](uint32_t x, uint32_t y, uint32_t p, uint32_t c) {
            return (x + 19 * y + 400 * p + 1300 * c) % kinds;
        };
        const double shift = k.format == SAMPLEFORMAT_UINT ? 0 : -100;
        WriteStack(Path("s.tif"), s,
                   [&](uint32_t x, uint32_t y, uint32_t p, uint32_t c) { return value(x, y, p, c) + shift; });
        const ScanVolume v = Read(Path("s.tif"), ValueChoice{ValueWindow::Custom, shift, shift + 4095});
        ASSERT_EQ(std::vector<uint32_t>({v.dimX, v.dimY, v.dimZ, v.ChannelCount(), v.timePoints}),
                  std::vector<uint32_t>({19, 18, 3, k.samples, 1}));
        EXPECT_EQ(v.sampleType + " " + v.format, std::string(k.type) + " TIFF");
        const std::vector<int32_t> rgb = {0xFF0000, 0x00FF00, 0x0000FF};
        for (uint32_t c = 0; c < k.samples; ++c)
            EXPECT_EQ(v.channels[c].colour, k.samples == 3 ? rgb[c] : -1) << "channel " << c;
        for (uint32_t c = 0; c < k.samples; ++c)
            for (uint32_t z = 0; z < 3; ++z)
                for (uint32_t y = 0; y < 18; ++y)
                    for (uint32_t x = 0; x < 19; ++x)
                        ASSERT_EQ(Shown(v, c, 0, x, y, z), value(x, y, z, c))
                            << "channel " << c << " at " << x << ", " << y << ", " << z;
    }
}

// Pages that lie in the file one after another as the values array holds
// them are used where they lie; in the other byte order, or each behind its
// directory, they are decoded: the same samples and the same automatic
// window either way, in one strip a page or several.
TEST_F(ScanTiffTest, PagesUsedWhereTheyLieGiveTheSamplesOfDecodedPages) {
    if (!HaveTifffile())
        GTEST_SKIP() << "/usr/bin/python3 lacks tifffile";
    Python(R"(
z, y, x = np.mgrid[0:3, 0:18, 0:19]
for dtype in ['uint8', 'int8', 'uint16', 'int16', 'uint32', 'float32', 'float64']:
    kinds = 127 if dtype.endswith('int8') else 4096
    shift = 0 if dtype.startswith('uint') else -100
    v = ((x + 19 * y + 400 * z) % kinds + shift).astype(dtype)
    for order in '<>':
        for rows in [18, 4]:
            with tifffile.TiffWriter(f'{dtype}{int(order == "<")}{rows}.tif', byteorder=order) as tif:
                for page in v:
                    tif.write(page, contiguous=True, rowsperstrip=rows)
)");
    for (const char* type : {"uint8", "int8", "uint16", "int16", "uint32", "float32", "float64"}) {
        const bool unsignedType = std::string(type).rfind("uint", 0) == 0;
        const double shift = unsignedType ? 0 : -100;
        const uint32_t kinds = std::string(type).find("int8") != std::string::npos ? 127 : 4096;
        const ScanVolume automatic = Read(Path(std::string(type) + "14.tif"), {});
        // libtiff writes each page's directory after its samples.
        const std::string t = type;
        Stack stack;
        stack.width = 19, stack.length = 18, stack.pages = 3;
        stack.bits = static_cast<uint16_t>(t.find('8') != std::string::npos    ? 8
                                           : t.find("16") != std::string::npos ? 16
                                                                               : 32);
        stack.format = t[0] == 'u' ? SAMPLEFORMAT_UINT : t[0] == 'f' ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_INT;
        if (t != "float64")
            WriteStack(Path(t + "-libtiff.tif"), stack, [&](uint32_t x, uint32_t y, uint32_t p, uint32_t) {
                return (x + 19 * y + 400 * p) % kinds + shift;
            });
        for (const char* file : {"118", "14", "018", "04", "-libtiff"}) {
            if (t == "float64" && std::string(file) == "-libtiff")
                continue;
            const std::string name = std::string(type) + file + ".tif";
            SCOPED_TRACE(name);
            const ScanVolume v = Read(Path(name), ValueChoice{ValueWindow::Custom, shift, shift + 4095});
            ASSERT_EQ(std::vector<uint32_t>({v.dimX, v.dimY, v.dimZ}), std::vector<uint32_t>({19, 18, 3}));
            EXPECT_EQ(v.sampleType, type);
            for (uint32_t z = 0; z < 3; ++z)
                for (uint32_t y = 0; y < 18; ++y)
                    for (uint32_t x = 0; x < 19; ++x)
                        ASSERT_EQ(Shown(v, 0, 0, x, y, z), (x + 19 * y + 400 * z) % kinds)
                            << "at " << x << ", " << y << ", " << z;
            const ScanVolume same = Read(Path(name), {});
            EXPECT_EQ(
                std::vector<double>({same.channels[0].windowLow, same.channels[0].windowHigh}),
                std::vector<double>({automatic.channels[0].windowLow, automatic.channels[0].windowHigh}));
            EXPECT_TRUE(std::equal(same.samples.get(), same.samples.get() + same.SampleCount(),
                                   automatic.samples.get()));
        }
    }
}

// Lengths become millimetres in each spelling of their unit; a unit that is
// no length keeps the numbers as given, relative; without a step between
// pages the voxels are as deep as they are wide.
TEST_F(ScanTiffTest, SpacingBecomesMillimetresWhateverTheUnitsSpelling) {
    const std::string imagej = "ImageJ=1.53t\nimages=2\nslices=2\n";
    const std::string ome =
        "<OME><Pixels SizeX='5' SizeY='3' SizeZ='2' SizeC='1' SizeT='1' PhysicalSizeX='2' ";
    const std::tuple<std::string, uint16_t, std::array<double, 3>> cases[] = {
        {imagej + "unit=micron\nspacing=3\n", RESUNIT_NONE, {5e-4, 2.5e-4, 3e-3}},
        {imagej + "unit=\\u00B5m\nspacing=3\n", RESUNIT_NONE, {5e-4, 2.5e-4, 3e-3}},
        {imagej + "unit=nm\nspacing=3\n", RESUNIT_NONE, {5e-7, 2.5e-7, 3e-6}},
        {imagej + "unit=pixel\nspacing=3\n", RESUNIT_NONE, {0.5, 0.25, 3}},
        {imagej, RESUNIT_CENTIMETER, {5, 2.5, 5}},
        {"", RESUNIT_CENTIMETER, {5, 2.5, 5}},
        {"", RESUNIT_INCH, {1, 1, 1}},
        {ome + "PhysicalSizeXUnit='nm' PhysicalSizeY='1' PhysicalSizeYUnit='\xC2\xB5m' PhysicalSizeZ='0.5' "
               "PhysicalSizeZUnit='mm'/></OME>",
         RESUNIT_NONE,
         {2e-6, 1e-3, 0.5}},
        {ome + "PhysicalSizeY='4'/></OME>", RESUNIT_NONE, {2e-3, 4e-3, 2e-3}},
        {ome + "PhysicalSizeY='4' PhysicalSizeYUnit='pixel'/></OME>", RESUNIT_NONE, {2, 4, 2}},
    };
    for (const auto& [description, unit, spacing] : cases) {
        SCOPED_TRACE(description + " unit " + std::to_string(unit));
        Stack s;
        s.description = description, s.resolutionUnit = unit, s.resolution[0] = 2, s.resolution[1] = 4;
        WriteStack(Path("units.tif"), s, [](uint32_t x, uint32_t, uint32_t, uint32_t) { return x; });
        const ScanVolume v = Read(Path("units.tif"));
        for (int i = 0; i < 3; ++i)
            EXPECT_DOUBLE_EQ((std::array{v.spacingX, v.spacingY, v.spacingZ}[i]), spacing[i]) << "axis " << i;
    }
}

// Pages that disagree with the first, or with the description's counts.
TEST_F(ScanTiffTest, InconsistentPagesAndCountsAreRefusedNamingWhatDiffers) {
    const auto zero = [](uint32_t, uint32_t, uint32_t, uint32_t) { return 0.0; };
    const std::pair<std::function<void(uint32_t, Stack*)>, std::string> odd[] = {
        {[](uint32_t p, Stack* s) { s->length = p == 2 ? 2 : 3; }, "page 3 is 5 x 2, the first is 5 x 3"},
        {[](uint32_t p, Stack* s) { s->bits = p == 1 ? 16 : 8; },
         "page 2 holds uint16 samples, the first uint8"},
        {[](uint32_t p, Stack* s) { s->samples = p == 1 ? 3 : 1; },
         "page 2 has 3 samples per pixel, the first 1"},
    };
    Stack s;
    s.pages = 4;
    for (const auto& [vary, reason] : odd) {
        WriteStack(Path("odd.tif"), s, zero, vary);
        EXPECT_EQ(Refusal(Path("odd.tif")), reason);
    }
    const std::string four = "<OME><Pixels SizeX='5' SizeY='3' SizeZ='4' SizeC='1' SizeT='1'>";
    const std::pair<std::string, std::string> descriptions[] = {
        {"ImageJ=1.53t\nimages=4\nchannels=2\nslices=3\n",
         "the ImageJ description gives 2 channels x 3 slices x 1 frame, not the 4 images it names"},
        {"ImageJ=1.53t\nimages=6\nchannels=2\nslices=3\n",
         "the ImageJ description gives 2 channels x 3 slices x 1 frame (6 pages), but the file holds 4"},
        {"ImageJ=1.53t\nchannels=many\n", "the ImageJ description's channels=many is not a count"},
        {"<OME><Image><Pixels SizeX='5' SizeY='3' SizeZ='5' SizeC='1' SizeT='1'/></Image></OME>",
         "the OME description gives 1 channel x 5 slices x 1 time point (5 pages), but the file holds 4"},
        {"<OME><Image><Pixels SizeX='5' SizeY='4' SizeZ='4' SizeC='1' SizeT='1'/></Image></OME>",
         "the OME description gives planes of 5 x 4, the pages are 5 x 3"},
        {"<OME><Pixels DimensionOrder='XYZZT' SizeX='5' SizeY='3' SizeZ='4' SizeC='1' SizeT='1'/></OME>",
         "the OME DimensionOrder \"XYZZT\" is not XY followed by Z, C and T in some order"},
        {four + "<TiffData PlaneCount='3'/><TiffData IFD='3' FirstZ='3'><UUID FileName='../other.ome.tif'/>",
         "the OME description places planes in \"other.ome.tif\", which is not beside it"},
        {four + "<TiffData PlaneCount='2'/><TiffData IFD='1' FirstZ='2' PlaneCount='2'><UUID "
                "FileName='odd.tif'/>",
         "in \"odd.tif\", page 2 has 3 samples per pixel, the first 1"},
        {four + "<TiffData IFD='1' PlaneCount='4'/>",
         "the OME description places channel 1, slice 4, time point 1 in IFD 4, past the file's 4 pages"},
        {four + "<TiffData PlaneCount='2'/><TiffData IFD='3' FirstZ='3'/>",
         "the OME description places no page for channel 1, slice 3, time point 1"},
        {four + "<TiffData PlaneCount='3'/><TiffData IFD='3' FirstZ='2'/>",
         "the OME description places channel 1, slice 3, time point 1 twice"},
        {four + "<TiffData PlaneCount='3'/><TiffData IFD='2' FirstZ='3'/>",
         "the OME description places channel 1, slice 3, time point 1 and channel 1, slice 4, time point 1 "
         "both in IFD 2"},
        {four + "<TiffData FirstZ='4'/>",
         "the OME description places channel 1, slice 5, time point 1, outside its 1 channel x 4 slices x 1 "
         "time point"},
    };
    for (const auto& [description, reason] : descriptions) {
        s.description = description;
        WriteStack(Path("counts.tif"), s, zero);
        EXPECT_EQ(Refusal(Path("counts.tif")), reason);
    }
}

// Damaged files: cut short, a tile that does not decode, a chain of pages
// that loops, pages of no size or of absurd size; and a name that promises
// a TIFF its content does not keep.
TEST_F(ScanTiffTest, DamagedStacksAreRefusedQuicklyWithTheirReason) {
    Stack tiled;
    tiled.width = tiled.length = 32, tiled.tile = 16, tiled.compression = COMPRESSION_ADOBE_DEFLATE;
    WriteStack(Path("tiles.tif"), tiled, [](uint32_t x, uint32_t y, uint32_t, uint32_t) { return x ^ y; });
    std::ifstream in(Path("tiles.tif"), std::ios::binary);
    std::string tiles((std::istreambuf_iterator<char>(in)), {});
    tiles.replace(8, 8, 8, '\xff');  // libtiff writes the first tile's stream from byte 8
    const std::string whole = TinyTiff(8, 8, 3);
    const std::pair<std::string, std::string> damaged[] = {
        {whole.substr(0, whole.size() - 10), "page 3 cannot be read: "},
        {TinyTiff(8, 8, 3, [](uint32_t p, uint32_t usual) { return p == 2 ? 8 : usual; }),
         "the file is damaged after page 3: "},
        {TinyTiff(0, 8, 1), "the TIFF file cannot be opened: "},
        {TinyTiff(1000000, 1000000, 2, {}, 16), "too large: 1000000 x 1000000 x 2 samples of uint8 need "},
        {tiles, "page 1 cannot be read: "},
        {std::string("II*\0 this is no directory", 25), "the TIFF file cannot be opened: "},
    };
    for (const auto& [bytes, reason] : damaged) {
        WriteBytes(Path("damaged.tif"), bytes);
        EXPECT_THAT(Refusal(Path("damaged.tif")), ::testing::StartsWith(reason));
    }
    // A tile far larger than its page must fit the memory as well.
    tiled.width = tiled.length = 2, tiled.tile = 256;
    WriteStack(Path("tile.tif"), tiled, [](uint32_t x, uint32_t, uint32_t, uint32_t) { return x; });
    EXPECT_EQ(Refusal(Path("tile.tif"), 40000),
              "page 1 cannot be read: its tiles of 256 x 256 need 64.0 KB each, 39.0 KB is free");
    WriteBytes(Path("junk.tif"), "hello, world");
    VolumeData volume;
    VolumeProblem problem;
    EXPECT_FALSE(ReadVolume(Path("junk.tif"), {}, &volume, &problem));
    EXPECT_NE(problem.text.find("its name says NIfTI, NRRD, MetaImage, DICOM or TIFF"), std::string::npos)
        << problem.text;
}

// A stack of 100,000 tiny pages is read whole, in seconds.
TEST_F(ScanTiffTest, ManyTinyPagesAreReadQuickly) {
    WriteBytes(Path("many.tif"), TinyTiff(2, 2, 100000));
    const auto start = std::chrono::steady_clock::now();
    const ScanVolume v = Read(Path("many.tif"), {ValueWindow::FullRange});
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 20);
    ASSERT_EQ(v.dimZ, 100000u);
    EXPECT_EQ(v.channels[0].maxValue, 255) << "page p holds p % 256";
    EXPECT_EQ(Shown(v, 0, 0, 1, 1, 99999), 4095 * (99999 % 256) / 255);
}

}  // namespace

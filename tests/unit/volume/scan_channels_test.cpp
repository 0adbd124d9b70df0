// Scans with channels and time points, written by ITK's writers, by hand
// (a NRRD's axis kinds) and by nibabel: each channel at each time point
// lands in its own grid, in the program's orientation, with its own window;
// the time step and unit come from the header.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/support/scan_writer.h"
#include "tests/unit/volume/scan_folder_test.h"
#include "volume/scan_import.h"

namespace {

namespace fs = std::filesystem;
using scan_test::ScanSpec;
using scan_test::StoredType;

using ScanChannelsTest = ScanFolderTest;

// Grid (x, y, z) of a 4 x 3 x 2 scan along L, P, S: the program's x, y, z
// are the grid's x, z, y.
uint16_t At(const ScanVolume& v, uint32_t channel, uint32_t time, uint32_t x, uint32_t gridY,
            uint32_t gridZ) {
    EXPECT_TRUE(v.samples != nullptr);
    return v.Grid(channel, time)[(size_t{gridY} * v.dimY + gridZ) * v.dimX + x];
}

// The stored value of channel c at time t: each channel its own range, so
// that a window shared between channels would show.
double Stored(uint32_t c, uint32_t t, uint32_t x, uint32_t y, uint32_t z) {
    return 1000.0 * c + 100.0 * t + x + 4 * y + 12 * z;
}

TEST_F(ScanChannelsTest, ChannelsAndTimePointsLandInTheirOwnGrids) {
    struct Case {
        const char* name;
        unsigned channels;
        uint32_t timePoints;
    };
    for (const Case& c : {Case{"vector.nrrd", 2, 0}, Case{"rgb.nrrd", 3, 0}, Case{"series.nii.gz", 1, 3},
                          Case{"series.nrrd", 1, 2}, Case{"series.mha", 1, 2}, Case{"both.mha", 2, 2}}) {
        SCOPED_TRACE(c.name);
        ScanSpec spec;
        spec.dims = {4, 3, 2};
        spec.type = c.channels == 3 ? StoredType::UInt8 : StoredType::Int16;
        spec.components = c.channels;
        spec.timePoints = c.timePoints;
        const uint32_t times = std::max<uint32_t>(c.timePoints, 1);
        std::vector<double> values;  // channels interleaved, time last
        for (uint32_t t = 0; t < times; ++t)
            for (uint32_t z = 0; z < 2; ++z)
                for (uint32_t y = 0; y < 3; ++y)
                    for (uint32_t x = 0; x < 4; ++x)
                        for (uint32_t ch = 0; ch < c.channels; ++ch)
                            values.push_back(c.channels == 3 ? 50 * ch + x + 4 * y + 12 * z
                                                             : Stored(ch, t, x, y, z));
        ASSERT_EQ(scan_test::WriteScan(Path(c.name), spec, values), "");
        ValueChoice full;
        full.window = ValueWindow::FullRange;
        ScanVolume volume;
        std::string error;
        ASSERT_TRUE(ReadScan(Path(c.name), &volume, &error, 0, nullptr, nullptr, full)) << error;
        ASSERT_EQ(volume.ChannelCount(), c.channels);
        ASSERT_EQ(volume.timePoints, times);
        ASSERT_EQ(volume.dimX * volume.dimY * volume.dimZ, 24u);
        for (uint32_t ch = 0; ch < c.channels; ++ch) {
            // Each channel spans its own values, over all its time points.
            const VolumeChannel& channel = volume.channels[ch];
            const double low = c.channels == 3 ? 50 * ch : Stored(ch, 0, 0, 0, 0);
            const double high = c.channels == 3 ? 50 * ch + 23 : Stored(ch, times - 1, 3, 2, 1);
            EXPECT_EQ(channel.windowLow, low);
            EXPECT_EQ(channel.windowHigh, high);
            for (uint32_t t = 0; t < times; ++t) {
                // The lowest and highest of each grid at the corners they
                // were stored at.
                const double first = c.channels == 3 ? low : Stored(ch, t, 0, 0, 0);
                const double last = c.channels == 3 ? high : Stored(ch, t, 3, 2, 1);
                EXPECT_EQ(At(volume, ch, t, 0, 0, 0), std::lround((first - low) / (high - low) * 4095));
                EXPECT_EQ(At(volume, ch, t, 3, 2, 1), std::lround((last - low) / (high - low) * 4095));
            }
        }
        if (c.channels == 3) {
            EXPECT_EQ(volume.channels[1].colour, 0x00FF00) << "an RGB image's channels are red, green, blue";
        }
        EXPECT_FALSE(volume.isCt);
    }
    TakeScanWarnings();
}

// A NRRD's channel axis may come first or last, and a time axis says its
// step; nibabel's 4-D and 5-D NIfTI say their time unit.
TEST_F(ScanChannelsTest, AxisKindsAndTimeUnits) {
    {
        // Two channels stored as the slowest axis (a "list" of grids).
        std::ofstream header(Path("list.nhdr"));
        header << "NRRD0004\ntype: uint8\ndimension: 4\nsizes: 2 2 1 2\nkinds: space space space list\n"
                  "encoding: raw\ndata file: list.raw\n";
        const unsigned char raw[] = {1, 2, 3, 4, 200, 201, 202, 203};
        std::ofstream(Path("list.raw"), std::ios::binary).write(reinterpret_cast<const char*>(raw), 8);
    }
    {
        std::ofstream header(Path("time.nhdr"));
        header << "NRRD0004\ntype: uint8\ndimension: 4\nsizes: 2 2 1 3\nkinds: space space space time\n"
                  "spacings: 1 1 1 0.5\nencoding: raw\ndata file: time.raw\n";
        const unsigned char raw[12] = {0, 1, 2, 3, 10, 11, 12, 13, 20, 21, 22, 23};
        std::ofstream(Path("time.raw"), std::ios::binary).write(reinterpret_cast<const char*>(raw), 12);
    }
    ValueChoice full;
    full.window = ValueWindow::FullRange;
    ScanVolume list, time;
    std::string error;
    // A series larger than the memory it may use is refused before it is
    // read, saying how much of it would fit: a point of 4 samples takes 12
    // bytes (each stored byte beside its 12-bit result).
    EXPECT_FALSE(ReadScan(Path("time.nhdr"), &time, &error, 2 * 12 - 1));
    EXPECT_NE(error.find("1 time point fits"), std::string::npos) << error;
    EXPECT_FALSE(ReadScan(Path("time.nhdr"), &time, &error, 3 * 12 - 1));
    EXPECT_NE(error.find("2 time points fit"), std::string::npos) << error;
    ASSERT_TRUE(ReadScan(Path("list.nhdr"), &list, &error, 0, nullptr, nullptr, full)) << error;
    ASSERT_EQ(list.ChannelCount(), 2u);
    EXPECT_EQ(list.timePoints, 1u);
    EXPECT_EQ(list.channels[1].windowLow, 200);
    // A window given for a channel maps it (as a custom window maps one);
    // channels past the list take the window asked for.
    ValueChoice given = full;
    given.channelWindows = {{1.5, 3}};
    ASSERT_TRUE(ReadScan(Path("list.nhdr"), &list, &error, 0, nullptr, nullptr, given)) << error;
    EXPECT_EQ(list.channels[0].window, ValueWindow::Custom);
    EXPECT_EQ(list.channels[1].window, ValueWindow::FullRange);
    EXPECT_EQ(list.channels[1].windowHigh, 203);
    for (uint32_t ch = 0; ch < 2; ++ch) {
        const double low = ch == 0 ? 1.5 : 200, high = ch == 0 ? 3 : 203;
        std::vector<uint16_t> samples(list.Grid(ch, 0), list.Grid(ch, 0) + 4), expected;
        for (int v = 0; v < 4; ++v)
            expected.push_back(static_cast<uint16_t>(std::clamp<long>(
                std::lround(((ch == 0 ? 1 : 200) + v - low) / (high - low) * 4095), 0, 4095)));
        std::sort(samples.begin(), samples.end());
        EXPECT_EQ(samples, expected) << "channel " << ch;
    }
    ASSERT_TRUE(ReadScan(Path("time.nhdr"), &time, &error, 0, nullptr, nullptr, full)) << error;
    EXPECT_EQ(time.ChannelCount(), 1u);
    ASSERT_EQ(time.timePoints, 3u);
    EXPECT_DOUBLE_EQ(time.timeStep, 0.5);
    EXPECT_EQ(time.Grid(0, 2)[0], std::lround(20.0 / 23 * 4095));

    const std::string script =
        "import nibabel, numpy, sys\n"
        "d = sys.argv[1]\n"
        "series = numpy.arange(4*3*2*5, dtype=numpy.int16).reshape((4,3,2,5), order='F')\n"
        "img = nibabel.Nifti1Image(series, numpy.eye(4))\n"
        "img.header.set_xyzt_units('mm', 'msec'); img.header['pixdim'][4] = 40\n"
        "nibabel.save(img, d + '/beat.nii.gz')\n"
        "two = nibabel.Nifti2Image(series, numpy.eye(4)); two.header.set_xyzt_units('mm', 'sec')\n"
        "two.header['pixdim'][4] = 0.5; nibabel.save(two, d + '/beat2.nii')\n"
        "five = numpy.zeros((4,3,2,2,2), dtype=numpy.float32); five[0,0,0,0,0] = -1\n"
        "five[...,1,0] = 3; five[...,0,1] = 5; five[...,1,1] = 7\n"
        "nibabel.save(nibabel.Nifti1Image(five, numpy.eye(4)), d + '/five.nii')\n";
    std::ofstream(Path("make.py")) << script;
    if (std::system(("/usr/bin/python3 " + Path("make.py") + " " + dir_.string() + " 2>/dev/null").c_str()) !=
        0)
        GTEST_SKIP() << "/usr/bin/python3 with nibabel is needed to write the NIfTI series";
    const ScanVolume beat = Read(Path("beat.nii.gz"));
    ASSERT_EQ(beat.timePoints, 5u);
    EXPECT_DOUBLE_EQ(beat.timeStep, 40);
    EXPECT_EQ(beat.timeUnit, "ms");
    // Time slowest in the file: each point's grid follows the last.
    EXPECT_LT(beat.Grid(0, 0)[0], beat.Grid(0, 1)[0]);
    const ScanVolume beat2 = Read(Path("beat2.nii"));
    EXPECT_EQ(beat2.format, "NIfTI-2");
    ASSERT_EQ(beat2.timePoints, 5u);
    EXPECT_EQ(beat2.timeUnit, "s");
    EXPECT_DOUBLE_EQ(beat2.timeStep, 0.5);
    EXPECT_TRUE(std::equal(beat.samples.get(), beat.samples.get() + beat.SampleCount(), beat2.samples.get()));
    const ScanVolume five = Read(Path("five.nii"));
    ASSERT_EQ(five.ChannelCount(), 2u);
    ASSERT_EQ(five.timePoints, 2u);
    EXPECT_EQ(five.channels[0].minValue, -1);
    EXPECT_EQ(five.channels[0].maxValue, 3);
    EXPECT_EQ(five.channels[1].minValue, 5);
    EXPECT_EQ(five.Grid(0, 1)[5], 4095);
    EXPECT_EQ(five.Grid(1, 0)[5], 0);
    EXPECT_EQ(five.Grid(1, 1)[5], 4095);
    TakeScanWarnings();
}

}  // namespace

// A volume read without a device or a dialog: the value a viewer installs,
// or the one message its box would show.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/scan_writer.h"
#include "volume/volume_read.h"

namespace {

class VolumeReadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("tamlo-volume-read-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    void WriteVolumeFile(const std::string& name, const std::vector<uint16_t>& words) const {
        std::ofstream(Path(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(words.data()),
                   static_cast<std::streamsize>(words.size() * 2));
    }

    std::filesystem::path dir_;
};

TEST_F(VolumeReadTest, AVolumeFileIsOneChannelOfItsOwnSamples) {
    WriteVolumeFile("plain.vol", {2, 1, 1, 10, 4095});
    VolumeData volume;
    VolumeProblem problem;
    ASSERT_TRUE(ReadVolume(Path("plain.vol"), {}, &volume, &problem)) << problem.text;
    EXPECT_FALSE(volume.isScan);
    EXPECT_FALSE(volume.patientAxes) << "a volume file's axes are its own";
    EXPECT_EQ(volume.ChannelCount(), 1u);
    EXPECT_EQ(volume.timePoints, 1u);
    EXPECT_EQ(volume.Grid(0, 0)[0], 10);
    EXPECT_EQ(volume.Grid(0, 0)[1], 4095);
    EXPECT_TRUE(volume.notices.empty());

    // Wider than 12 bits: mapped, and the user told so with the range.
    WriteVolumeFile("wide.vol", {2, 1, 1, 0, 8000});
    ASSERT_TRUE(ReadVolume(Path("wide.vol"), {}, &volume, &problem)) << problem.text;
    ASSERT_EQ(volume.notices.size(), 1u);
    EXPECT_EQ(volume.notices[0].caption, "Volume rescaled");
    EXPECT_NE(volume.notices[0].text.find("(values 0 to 8000)"), std::string::npos) << volume.notices[0].text;
    EXPECT_EQ(volume.channels[0].maxValue, 8000);
    EXPECT_EQ(volume.Grid(0, 0)[1], 4095);
}

TEST_F(VolumeReadTest, AFailureIsTheBoxsTextAndLeavesTheValueAsItWas) {
    WriteVolumeFile("plain.vol", {1, 1, 1, 7});
    VolumeData volume;
    VolumeProblem problem;
    ASSERT_TRUE(ReadVolume(Path("plain.vol"), {}, &volume, &problem));
    const struct {
        std::string name, expected;
    } cases[] = {
        {"absent.vol", "Unable to open volume file (" + Path("absent.vol") + "): No such file or directory"},
        {"tiny.vol", "Unable to read volume file (" + Path("tiny.vol") +
                         "): it is not a volume file or is shorter than its 6-byte header"},
        {"broken.nii", "Unable to read scan (" + Path("broken.nii") + "): its name says NIfTI"},
    };
    std::ofstream(Path("tiny.vol")) << "abc";
    std::ofstream(Path("broken.nii")) << std::string(400, 'x');
    for (const auto& c : cases) {
        EXPECT_FALSE(ReadVolume(Path(c.name), {}, &volume, &problem)) << c.name;
        EXPECT_EQ(problem.caption, "error: Volume") << c.name;
        EXPECT_EQ(problem.text.rfind(c.expected, 0), 0u) << c.name << ": " << problem.text;
        EXPECT_FALSE(problem.quiet);
        ASSERT_NE(volume.samples, nullptr) << c.name;
        EXPECT_EQ(volume.Grid(0, 0)[0], 7) << c.name << ": the volume read before is untouched";
    }
}

TEST_F(VolumeReadTest, AScanKeepsItsWindowAndAFlatOneSaysItSpansNoRange) {
    scan_test::ScanSpec spec;
    spec.dims = {4, 3, 2};
    spec.spacing = {0.5, 1, 2};
    std::vector<double> values(24);
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<double>(i) * 10;
    ASSERT_EQ(scan_test::WriteScan(Path("ramp.nrrd"), spec, values), "");
    VolumeData volume;
    VolumeProblem problem;
    ASSERT_TRUE(ReadVolume(Path("ramp.nrrd"), ValueChoice{ValueWindow::FullRange}, &volume, &problem))
        << problem.text;
    EXPECT_TRUE(volume.isScan);
    EXPECT_TRUE(volume.patientAxes);
    EXPECT_EQ(volume.SampleCount(), 24u);
    EXPECT_EQ(volume.channels[0].window, ValueWindow::FullRange);
    EXPECT_EQ(volume.channels[0].windowLow, 0);
    EXPECT_EQ(volume.channels[0].windowHigh, 230);
    EXPECT_TRUE(volume.notices.empty());

    ASSERT_EQ(scan_test::WriteScan(Path("flat.nrrd"), spec, std::vector<double>(24, 5)), "");
    ASSERT_TRUE(ReadVolume(Path("flat.nrrd"), {}, &volume, &problem)) << problem.text;
    ASSERT_EQ(volume.notices.size(), 1u);
    EXPECT_EQ(volume.notices[0].caption, "Volume values");
    EXPECT_NE(volume.notices[0].text.find("span no range"), std::string::npos) << volume.notices[0].text;
}

}  // namespace

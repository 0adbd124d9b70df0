// The value windows: which scans are CT (both sides of the rule), a window a
// few extreme voxels cannot move, extreme and non-finite values through a
// real file, and the --values argument.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <vector>

#include "tests/support/scan_writer.h"
#include "tools/volume/phantom.h"
#include "volume/scan_import.h"
#include "volume/scan_mapping.h"

namespace {

using namespace scan_mapping;
constexpr int kSide = 40;

std::vector<double> Head(phantom::Modality modality, double offset) {
    const std::vector<uint16_t> samples = phantom::MakeHeadScan(kSide, kSide, kSide, modality);
    std::vector<double> values(samples.begin(), samples.end());
    for (double& v : values)
        v += offset;
    return values;
}

bool IsCt(const std::vector<double>& values) {
    return LooksLikeCt(SurveyValues(values.data(), values.size()));
}

TEST(ValueWindows, CtsAreKnownByTheirValuesAndOtherScansAreNot) {
    const std::vector<double> ct = Head(phantom::Modality::Ct, -1024);
    std::vector<double> shortRange = ct, padded = ct, metal = ct;
    for (double& v : shortRange)
        v = std::clamp(v, -1010.0, 1611.0);
    for (size_t i = 0; i < padded.size(); ++i) {
        const double dx = double(i % kSide) - kSide / 2.0, dz = double(i / (kSide * kSide)) - kSide / 2.0;
        if (dx * dx + dz * dz > kSide * kSide / 4.0)
            padded[i] = -3024;
    }
    metal[metal.size() / 2] = metal[metal.size() / 2 + 1] = 8000;
    EXPECT_TRUE(IsCt(ct));
    EXPECT_TRUE(IsCt(shortRange)) << "no air below -1010";
    EXPECT_TRUE(IsCt(padded)) << "field-of-view padding of -3024";
    EXPECT_TRUE(IsCt(metal)) << "a metal bead at 8000";

    EXPECT_FALSE(IsCt(Head(phantom::Modality::MriT1, 0))) << "an MRI, values from 0";
    std::vector<double> probability, difference;
    for (int i = 0; i < kSide * kSide * kSide; ++i) {
        probability.push_back((i % 97) / 96.0);
        difference.push_back(std::round(1500 * std::sin(i * 0.013) * std::sin(i * 0.0071)));
    }
    EXPECT_FALSE(IsCt(probability)) << "a probability map in 0..1";
    EXPECT_FALSE(IsCt(difference)) << "a signed difference image";
    // MRI phase and velocity maps run from -4096: spread evenly over their
    // range, or densest at the minimum and thinning upwards (a tail, not a
    // peak at air).
    std::vector<double> phase, velocity;
    for (int i = 0; i < 8 * 8192; ++i) {
        phase.push_back(i % 8192 - 4096);
        velocity.push_back(-4096 + std::floor(4096 * (1 - std::sqrt((i + 0.5) / (8 * 8192)))));
    }
    EXPECT_FALSE(IsCt(phase)) << "a phase map";
    EXPECT_FALSE(IsCt(velocity)) << "a velocity map";
    std::vector<double> noisyAir = padded;
    for (size_t i = 0; i < noisyAir.size(); ++i)
        if (noisyAir[i] == -1024)
            noisyAir[i] += double(i % 301) - 150;
    EXPECT_TRUE(IsCt(noisyAir)) << "air with noise of 150 HU either way";
    std::vector<double> fractionalCt = ct;
    fractionalCt[7] += 0.5;
    EXPECT_FALSE(IsCt(fractionalCt)) << "Hounsfield units are whole numbers";
}

TEST(ValueWindows, AFewExtremeVoxelsDoNotMoveTheAutomaticWindow) {
    const std::vector<double> mri = Head(phantom::Modality::MriT1, 0);
    const ValueFacts facts = SurveyValues(mri.data(), mri.size());
    double low = 0, high = 0;
    AutomaticWindow(mri.data(), mri.size(), facts, &low, &high);
    EXPECT_EQ(low, facts.min) << "the background is the low end";
    EXPECT_LE(high, facts.max);
    EXPECT_GT(high, facts.min + 0.9 * (facts.max - facts.min)) << "the brightest tissue is inside";

    std::vector<double> extreme = mri;
    extreme[100] = 100 * facts.max;   // a hot voxel
    extreme[200] = -100 * facts.max;  // and a cold one
    double extremeLow = 0, extremeHigh = 0;
    AutomaticWindow(extreme.data(), extreme.size(), SurveyValues(extreme.data(), extreme.size()), &extremeLow,
                    &extremeHigh);
    const double span = high - low;
    EXPECT_NEAR(extremeLow, low, 0.01 * span);
    EXPECT_NEAR(extremeHigh, high, 0.01 * span);

    // Too few values to set a percentile apart: the whole range.
    const double few[] = {3, 7, 5};
    AutomaticWindow(few, 3, SurveyValues(few, 3), &low, &high);
    EXPECT_EQ(low, 3);
    EXPECT_EQ(high, 7);
}

// A voxel at the far end of its type's range leaves the rest the window
// they have without it, one, ten or a hundred of them, either sign.
template <typename T>
void ExpectExtremesLeaveTheWindow(const std::vector<uint16_t>& scan, T extreme) {
    const std::vector<T> clean(scan.begin(), scan.end());
    double low = 0, high = 0;
    AutomaticWindow(clean.data(), clean.size(), SurveyValues(clean.data(), clean.size()), &low, &high);
    for (const T spike : {extreme, static_cast<T>(-extreme)}) {
        for (size_t n : {1, 10, 100}) {
            std::vector<T> values = clean;
            for (size_t i = 0; i < n; ++i)
                values[(i * 7919 + 13) % values.size()] = spike;
            double spikedLow = 0, spikedHigh = 0;
            AutomaticWindow(values.data(), values.size(), SurveyValues(values.data(), values.size()),
                            &spikedLow, &spikedHigh);
            EXPECT_NEAR(spikedLow, low, 0.01 * (high - low)) << n << " at " << double(spike);
            EXPECT_NEAR(spikedHigh, high, 0.01 * (high - low)) << n << " at " << double(spike);
        }
    }
}

TEST(ValueWindows, VoxelsAtTheEndsOfEveryTypeDoNotMoveTheAutomaticWindow) {
    const std::vector<uint16_t> head = phantom::MakeHeadScan(64, 64, 64, phantom::Modality::MriT1);
    ExpectExtremesLeaveTheWindow<float>(head, 1e30f);
    ExpectExtremesLeaveTheWindow<int32_t>(head, std::numeric_limits<int32_t>::max());
    ExpectExtremesLeaveTheWindow<double>(head, 1e300);
    ExpectExtremesLeaveTheWindow<double>(head, std::numeric_limits<double>::max());
    ExpectExtremesLeaveTheWindow<int64_t>(head, std::numeric_limits<int64_t>::max());

    // The ends are the scan's own percentiles, exactly, however wide or narrow the values.
    std::vector<double> ramp;
    for (int i = 0; i < 100000; ++i)
        ramp.push_back(1e-310 * i);
    double low = 0, high = 0;
    AutomaticWindow(ramp.data(), ramp.size(), SurveyValues(ramp.data(), ramp.size()), &low, &high);
    EXPECT_EQ(low, ramp[99]);
    EXPECT_EQ(high, ramp[99900]) << "the 99.9th percentile of the 99,900 values above";
}

// Small integer types are surveyed by counting each value: the same facts
// and the same automatic window as the pass over every value, however
// many threads count.
template <typename T>
void ExpectCountsGiveTheSurvey(const std::vector<T>& values) {
    const ValueFacts survey = SurveyValues(values.data(), values.size());
    for (unsigned parts : {1u, 3u}) {
        SCOPED_TRACE(std::to_string(sizeof(T) * 8) + "-bit, " + std::to_string(parts) + " parts");
        std::vector<uint64_t> counts = CountOrderKeys(values.data(), values.size(), parts);
        const ValueFacts counted = FactsOfKeyCounts<T>(counts);
        EXPECT_EQ(std::vector<double>({counted.min, counted.max}),
                  std::vector<double>({survey.min, survey.max}));
        EXPECT_EQ(std::vector<uint64_t>({counted.finite, counted.atMin, counted.nearAir, counted.aboveAir,
                                         counted.farBelowAir}),
                  std::vector<uint64_t>(
                      {survey.finite, survey.atMin, survey.nearAir, survey.aboveAir, survey.farBelowAir}));
        EXPECT_EQ(counted.anyFinite, survey.anyFinite);
        EXPECT_EQ(LooksLikeCt(counted), LooksLikeCt(survey));
        double low = 0, high = 0, countedLow = 0, countedHigh = 0;
        AutomaticWindow(values.data(), values.size(), survey, &low, &high);
        AutomaticWindow(values.data(), values.size(), counted, &countedLow, &countedHigh, std::move(counts));
        EXPECT_EQ(std::vector<double>({countedLow, countedHigh}), std::vector<double>({low, high}));
    }
}

TEST(ValueWindows, CountedSmallTypesGiveTheFactsAndWindowOfTheSurvey) {
    // A CT with padding far below air (so that the counted far-below
    // excludes its minimum), an MRI, and every 8-bit value with a background.
    const std::vector<double> ct = Head(phantom::Modality::Ct, -1024);
    std::vector<int16_t> ct16(ct.begin(), ct.end());
    for (size_t i = 0; i < ct16.size(); i += 7)
        ct16[i] = -3024;
    ExpectCountsGiveTheSurvey(ct16);
    const std::vector<uint16_t> mri = phantom::MakeHeadScan(kSide, kSide, kSide, phantom::Modality::MriT1);
    ExpectCountsGiveTheSurvey(mri);
    // Enough values for three threads to count a part each.
    std::vector<uint8_t> bytes((3 << 20) + 12345, 0);
    std::vector<int8_t> signedBytes(bytes.size(), -128);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        bytes[i] = static_cast<uint8_t>(i * 7919 % 251);
        signedBytes[i] = static_cast<int8_t>(static_cast<int>(i * 7919 % 256) - 128);
    }
    ExpectCountsGiveTheSurvey(bytes);
    ExpectCountsGiveTheSurvey(signedBytes);
    ExpectCountsGiveTheSurvey(std::vector<uint16_t>(5, 4095));  // constant: an empty window
}

TEST(ValueWindows, ExtremeAndNonFiniteValuesLandAtTheEnds) {
    const auto dir = std::filesystem::temp_directory_path() / ("tamlo-values-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    scan_test::ScanSpec spec;
    spec.dims = {6, 1, 1};
    spec.type = scan_test::StoredType::Float64;
    const double inf = std::numeric_limits<double>::infinity(), big = 1.7e308;
    const std::string path = (dir / "extreme.mha").string();
    ASSERT_EQ(scan_test::WriteScan(path, spec, {-big, 0, big, inf, -inf, std::nan("")}), "");
    ScanVolume v;
    std::string error;
    ASSERT_TRUE(ReadScan(path, &v, &error, 0, nullptr, nullptr, {ValueWindow::FullRange})) << error;
    EXPECT_EQ(v.channels[0].minValue, -big);
    EXPECT_EQ(v.channels[0].maxValue, big) << "the range is the finite values'";
    const std::vector<uint16_t> expected = {0, 2048, 4095, 4095, 0, 0};
    EXPECT_EQ(std::vector<uint16_t>(v.samples.get(), v.samples.get() + 6), expected)
        << "a range wider than the largest double still maps; +inf is the top, -inf and NaN the bottom";

    // The same in every format: the window is the finite values'.
    spec.type = scan_test::StoredType::Float32;
    for (const char* extension : {".mha", ".mhd", ".nrrd", ".nii", ".nii.gz"}) {
        const std::string file = (dir / "infinite").string() + extension;
        ASSERT_EQ(scan_test::WriteScan(file, spec, {1, 2, 3, inf, std::nan(""), -inf}), "");
        ASSERT_TRUE(ReadScan(file, &v, &error)) << error;
        const std::vector<uint16_t> mapped = {0, 2048, 4095, 4095, 0, 0};
        EXPECT_EQ(std::vector<uint16_t>(v.samples.get(), v.samples.get() + 6), mapped) << extension;
        EXPECT_EQ(v.channels[0].maxValue, 3) << extension;
    }

    // A window of subnormal width, as --values 0,1e-310 asks, keeps the order of the values.
    spec.dims = {4, 1, 1};
    spec.type = scan_test::StoredType::Float64;
    const std::string tiny = (dir / "tiny.mha").string();
    ASSERT_EQ(scan_test::WriteScan(tiny, spec, {0, 0x1p-1041, 0x1p-1040, -1}), "");
    ASSERT_TRUE(ReadScan(tiny, &v, &error, 0, nullptr, nullptr, {ValueWindow::Custom, 0, 0x1p-1040}))
        << error;
    EXPECT_EQ(std::vector<uint16_t>(v.samples.get(), v.samples.get() + 4),
              std::vector<uint16_t>({0, 2048, 4095, 0}));
    std::filesystem::remove_all(dir);
}

TEST(ValueWindows, TheValuesArgument) {
    ValueChoice choice;
    ASSERT_TRUE(ParseValueChoice("ct", &choice));
    EXPECT_EQ(choice.window, ValueWindow::Ct);
    ASSERT_TRUE(ParseValueChoice("-100.5,2e3", &choice));
    EXPECT_EQ(choice.window, ValueWindow::Custom);
    EXPECT_EQ(choice.low, -100.5);
    EXPECT_EQ(choice.high, 2000);
    for (const char* bad : {"", "CT", "5,5", "6,5", "nan,5", "1,inf", "1,", "a,b", "1,2,3", "1 ,2x"})
        EXPECT_FALSE(ParseValueChoice(bad, &choice)) << bad;
}

}  // namespace

#include "volume/scan_samples.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <new>
#include <type_traits>

#include "volume/scan_library_output.h"
#include "volume/scan_reader.h"

namespace {

using namespace scan_mapping;

// The one place a stored type becomes a C++ type.
template <typename Visit>
void WithTypedSamples(SampleType type, const void* values, Visit&& visit) {
    switch (type) {
        case SampleType::UInt8:
            return visit(static_cast<const uint8_t*>(values));
        case SampleType::Int8:
            return visit(static_cast<const int8_t*>(values));
        case SampleType::UInt16:
            return visit(static_cast<const uint16_t*>(values));
        case SampleType::Int16:
            return visit(static_cast<const int16_t*>(values));
        case SampleType::UInt32:
            return visit(static_cast<const uint32_t*>(values));
        case SampleType::Int32:
            return visit(static_cast<const int32_t*>(values));
        case SampleType::UInt64:
            return visit(static_cast<const uint64_t*>(values));
        case SampleType::Int64:
            return visit(static_cast<const int64_t*>(values));
        case SampleType::Float32:
            return visit(static_cast<const float*>(values));
        case SampleType::Float64:
            return visit(static_cast<const double*>(values));
    }
}

// The window `choice` asks for over these values.
template <typename T>
void ChooseWindow(const T* values, uint64_t count, const ValueChoice& choice, bool ctByModality,
                  ScanVolume* volume) {
    const ValueFacts facts = SurveyValues(values, count);
    volume->channels[0].minValue = facts.min;
    volume->channels[0].maxValue = facts.max;
    volume->channels[0].anyFinite = facts.anyFinite;
    volume->isCt = ctByModality || LooksLikeCt(facts);
    volume->channels[0].unit = volume->isCt ? "HU" : "";
    ValueWindow window = choice.window;
    if (window == ValueWindow::Default)
        window = volume->isCt ? ValueWindow::Ct : ValueWindow::Automatic;
    volume->channels[0].window = window;
    switch (window) {
        case ValueWindow::Ct:
            volume->channels[0].windowLow = kCtWindowLow;
            volume->channels[0].windowHigh = kCtWindowHigh;
            break;
        case ValueWindow::Custom:
            volume->channels[0].windowLow = choice.low;
            volume->channels[0].windowHigh = choice.high;
            break;
        case ValueWindow::Automatic:
            AutomaticWindow(values, count, facts, &volume->channels[0].windowLow,
                            &volume->channels[0].windowHigh);
            break;
        case ValueWindow::Default:
        case ValueWindow::FullRange:
            volume->channels[0].windowLow = facts.min;
            volume->channels[0].windowHigh = facts.max;
            break;
    }
}

}  // namespace

const char* SampleTypeName(SampleType type) {
    static const char* const kNames[] = {"uint8", "int8",   "uint16", "int16",   "uint32",
                                         "int32", "uint64", "int64",  "float32", "float64"};
    return kNames[static_cast<int>(type)];
}

uint64_t SampleBytes(SampleType type) {
    uint64_t bytes = 0;
    WithTypedSamples(type, nullptr, [&](auto* typed) { bytes = sizeof(*typed); });
    return bytes;
}

std::unique_ptr<char[]> AllocateScanBuffer(uint64_t bytes) {
    char* buffer = new (std::nothrow) char[std::max<uint64_t>(bytes, 1)];
    if (buffer == nullptr)
        throw ScanFailure{"not enough memory to read " + BytesText(bytes)};
    PreferHugePages(buffer, bytes);
    return std::unique_ptr<char[]>(buffer);
}

void CheckVoxelSize(const Grid& grid) {
    const double largest = *std::max_element(grid.spacing.begin(), grid.spacing.end());
    bool usable = std::isfinite(largest) && largest <= kLargestVoxelMillimetres;
    for (double side : grid.spacing)
        usable &= std::isfinite(side) && side >= largest * kSmallestVoxelShare;
    if (usable)
        return;
    char text[96];
    std::snprintf(text, sizeof(text), "%.6g x %.6g x %.6g", grid.spacing[0], grid.spacing[1],
                  grid.spacing[2]);
    throw ScanFailure{"the voxel size " + std::string(text) +
                      " mm cannot be shown (each side finite, at most 1e15 mm, and at least a millionth of "
                      "the longest)"};
}

void FinishScan(SampleType type, std::unique_ptr<char[]> values, const Grid& grid, const ValueChoice& choice,
                bool ctByModality, ScanVolume* volume) {
    CheckVoxelSize(grid);
    const uint64_t count = grid.dims[0] * grid.dims[1] * grid.dims[2];
    const Placement placement = PlaceGrid(grid.directions);
    std::shared_ptr<const char[]> held(std::move(values));
    WithTypedSamples(type, held.get(), [&](auto* typed) {
        ChooseWindow(typed, count, choice, ctByModality, volume);
        using Rows = PlacedRows<std::remove_const_t<std::remove_pointer_t<decltype(typed)>>>;
        auto rows = std::make_shared<const Rows>(typed, grid, placement, volume->channels[0].windowLow,
                                                 volume->channels[0].windowHigh);
        volume->makeRows = [held, rows](uint64_t firstRow, uint64_t endRow, uint16_t* out) {
            rows->Make(firstRow, endRow, out);
        };
    });
    volume->dimX = static_cast<uint32_t>(grid.dims[placement.gridAxis[0]]);
    volume->dimY = static_cast<uint32_t>(grid.dims[placement.gridAxis[1]]);
    volume->dimZ = static_cast<uint32_t>(grid.dims[placement.gridAxis[2]]);
    volume->spacingX = grid.spacing[placement.gridAxis[0]];
    volume->spacingY = grid.spacing[placement.gridAxis[1]];
    volume->spacingZ = grid.spacing[placement.gridAxis[2]];
    volume->sampleType = SampleTypeName(type);
    volume->isScan = true;
    volume->patientAxes = true;
}

void MakeAllSamples(ScanVolume* volume) {
    if (!volume->makeRows)
        return;
    const uint64_t count = volume->SampleCount();
    volume->samples.reset(new uint16_t[count]);
    PreferHugePages(volume->samples.get(), count * sizeof(uint16_t));
    volume->makeRows(0, volume->RowCount(), volume->samples.get());
    volume->makeRows = nullptr;
}

void SamplesToFloat(SampleType type, const void* from, uint64_t count, float* to) {
    WithTypedSamples(type, from, [&](auto* typed) {
        for (uint64_t i = 0; i < count; ++i)
            to[i] = static_cast<float>(typed[i]);
    });
}

void SamplesToScaledDouble(SampleType type, const void* from, uint64_t count, double slope, double intercept,
                           double* to) {
    WithTypedSamples(type, from, [&](auto* typed) {
        for (uint64_t i = 0; i < count; ++i)
            to[i] = static_cast<double>(typed[i]) * slope + intercept;
    });
}

std::string SizeText(const std::vector<uint64_t>& dims) {
    std::string text;
    for (size_t i = 0; i < dims.size(); ++i)
        text += (i ? " x " : "") + std::to_string(dims[i]);
    return text;
}

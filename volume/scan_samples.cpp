#include "volume/scan_samples.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <thread>
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

// The window `choice` asks for over these values, for one channel.
template <typename T>
void ChooseWindow(const T* values, uint64_t count, const ValueChoice& choice, size_t channelIndex,
                  bool mayBeCt, bool ctByModality, ScanVolume* volume, VolumeChannel* channel) {
    std::vector<uint64_t> keyCounts;
    ValueFacts facts;
    if constexpr (kCountedType<T>) {
        keyCounts = CountOrderKeys(values, count, std::thread::hardware_concurrency());
        facts = FactsOfKeyCounts<T>(keyCounts);
    } else {
        facts = SurveyValues(values, count);
    }
    channel->minValue = facts.min;
    channel->maxValue = facts.max;
    channel->anyFinite = facts.anyFinite;
    if (mayBeCt) {
        volume->isCt = ctByModality || LooksLikeCt(facts);
        channel->unit = volume->isCt ? "HU" : "";
    }
    ValueWindow window = choice.window;
    // A window given for this channel (a part keeping the whole's) is a
    // Custom one.
    const bool given = channelIndex < choice.channelWindows.size();
    if (given)
        window = ValueWindow::Custom;
    if (window == ValueWindow::Default)
        window = volume->isCt ? ValueWindow::Ct : ValueWindow::Automatic;
    channel->window = window;
    switch (window) {
        case ValueWindow::Ct:
            channel->windowLow = kCtWindowLow;
            channel->windowHigh = kCtWindowHigh;
            break;
        case ValueWindow::Custom:
            channel->windowLow = given ? choice.channelWindows[channelIndex].first : choice.low;
            channel->windowHigh = given ? choice.channelWindows[channelIndex].second : choice.high;
            break;
        case ValueWindow::Automatic:
            AutomaticWindow(values, count, facts, &channel->windowLow, &channel->windowHigh,
                            std::move(keyCounts));
            break;
        case ValueWindow::Default:
        case ValueWindow::FullRange:
            channel->windowLow = facts.min;
            channel->windowHigh = facts.max;
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

void FinishScan(SampleType type, std::shared_ptr<const char[]> values, const Grid& grid,
                const ValueChoice& choice, bool ctByModality, ScanVolume* volume, uint32_t channels,
                uint32_t timePoints) {
    CheckVoxelSize(grid);
    // The whole's windows come back with a part: an empty one (a constant
    // channel's) maps as it did, but an inverted or unbounded one is no
    // window at all.
    for (size_t c = 0; c < choice.channelWindows.size(); ++c) {
        const auto [low, high] = choice.channelWindows[c];
        if (!std::isfinite(low) || !std::isfinite(high) || low > high) {
            char text[160];
            std::snprintf(text, sizeof(text),
                          "the window %g..%g given for channel %zu is no window (low <= high, both finite)",
                          low, high, c + 1);
            throw ScanFailure{text};
        }
    }
    const uint64_t count = grid.dims[0] * grid.dims[1] * grid.dims[2];
    const Placement placement = PlaceGrid(grid.directions);
    const std::shared_ptr<const char[]> held(std::move(values));
    volume->channels.assign(channels, VolumeChannel{});
    volume->timePoints = timePoints;
    volume->isCt = false;
    WithTypedSamples(type, held.get(), [&](auto* typed) {
        using Rows = PlacedRows<std::remove_const_t<std::remove_pointer_t<decltype(typed)>>>;
        std::vector<std::shared_ptr<const Rows>> channelRows;
        for (uint32_t c = 0; c < channels; ++c) {
            const auto* first = typed + count * timePoints * c;
            VolumeChannel& channel = volume->channels[c];
            ChooseWindow(first, count * timePoints, choice, c, channels == 1, ctByModality, volume, &channel);
            channelRows.push_back(
                std::make_shared<const Rows>(first, grid, placement, channel.windowLow, channel.windowHigh));
        }
        // Row r of the samples is row r % gridRows of the grid r / gridRows,
        // grids ordered time point by time point, channel within it.
        const uint64_t gridRows = grid.dims[placement.gridAxis[1]] * grid.dims[placement.gridAxis[2]];
        volume->makeRows = [held, channelRows = std::move(channelRows), gridRows, count, channels](
                               uint64_t firstRow, uint64_t endRow, uint16_t* out) {
            const uint64_t rowLength = count / gridRows;
            while (firstRow < endRow) {
                const uint64_t gridIndex = firstRow / gridRows;
                const uint64_t time = gridIndex / channels, channel = gridIndex % channels;
                const uint64_t within = firstRow - gridIndex * gridRows;
                const uint64_t end = std::min(endRow - gridIndex * gridRows, gridRows);
                channelRows[channel]->Make(within, end, out, time * count);
                out += (end - within) * rowLength;
                firstRow = gridIndex * gridRows + end;
            }
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

std::unique_ptr<char[]> SeparateChannels(std::unique_ptr<char[]> values, uint64_t valueBytes,
                                         uint64_t gridSamples, uint32_t channels, uint32_t timePoints) {
    if (channels <= 1)
        return values;
    const uint64_t perChannel = gridSamples * timePoints;
    std::unique_ptr<char[]> rest = AllocateScanBuffer(perChannel * (channels - 1) * valueBytes);
    char* in = values.get();
    for (uint32_t c = 1; c < channels; ++c) {
        char* to = rest.get() + (c - 1) * perChannel * valueBytes;
        for (uint64_t i = 0; i < perChannel; ++i)
            std::memcpy(to + i * valueBytes, in + (i * channels + c) * valueBytes, valueBytes);
    }
    // The first channel moves down within its own memory: each value goes
    // to a place at or before where it was.
    for (uint64_t i = 1; i < perChannel; ++i)
        std::memmove(in + i * valueBytes, in + i * channels * valueBytes, valueBytes);
    std::memcpy(in + perChannel * valueBytes, rest.get(), perChannel * (channels - 1) * valueBytes);
    return values;
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

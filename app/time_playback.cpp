#include "app/time_playback.h"

#include <algorithm>
#include <cstdio>

namespace {

double Period(const TimePlayback& playback) {
    return 1.0 / std::clamp(playback.framesPerSecond, kMinFramesPerSecond, kMaxFramesPerSecond);
}

}  // namespace

std::string TimePointText(uint32_t index, uint32_t count, double step, const std::string& unit) {
    std::string text = "t " + std::to_string(uint64_t{index} + 1) + " / " + std::to_string(count);
    if (step > 0) {
        char time[64];
        std::snprintf(time, sizeof(time), ", %.1f", static_cast<double>(index) * step);
        text += time;
        if (!unit.empty())
            text += " " + unit;
    }
    return text;
}

uint32_t SteppedTimePoint(uint32_t current, uint32_t count, int delta, bool loop) {
    if (count <= 1)
        return 0;
    current = std::min(current, count - 1);
    if (delta < 0)
        return current > 0 ? current - 1 : loop ? count - 1 : 0;
    if (delta > 0)
        return current + 1 < count ? current + 1 : loop ? 0 : count - 1;
    return current;
}

uint32_t StartPlaying(TimePlayback* playback, uint32_t current, uint32_t count) {
    playback->playing = count > 1;
    playback->waited = 0;
    if (!playback->loop && count > 0 && current + 1 >= count)
        return 0;
    return current;
}

std::optional<uint32_t> AdvancePlayback(TimePlayback* playback, double seconds, uint32_t current,
                                        uint32_t count) {
    if (!playback->playing || count <= 1)
        return std::nullopt;
    playback->waited += std::max(seconds, 0.0);
    const double period = Period(*playback);
    if (playback->waited < period)
        return std::nullopt;
    // What is over one period is kept, so that the rate holds on average
    // over frames that do not fall on it, but never more than half of one:
    // after a slow frame the next point does not follow at once.
    playback->waited = std::min(playback->waited - period, 0.5 * period);
    if (!playback->loop && current + 1 >= count) {
        playback->playing = false;
        return std::nullopt;
    }
    const uint32_t next = SteppedTimePoint(current, count, 1, playback->loop);
    if (!playback->loop && next + 1 >= count)
        playback->playing = false;  // the last point is shown: the play is over
    return next;
}

double SecondsToNextPoint(const TimePlayback& playback) {
    return std::max(0.0, Period(playback) - playback.waited);
}

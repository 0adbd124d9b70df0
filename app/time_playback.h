// Playing a series of time points, as plain computation: the line that says
// which point is shown, the steps back and forward, and the clock that says
// when the next point is due. The Time window and the frame loop drive it;
// showing a point is the volume's (CVolume::ShowTimePoint).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// "t 12 / 40, 5.5 s": the point (from 1) of `count`, and its time, index x
// step with one decimal and the unit; just "t 12 / 40" when the step is not
// known (0).
std::string TimePointText(uint32_t index, uint32_t count, double step, const std::string& unit);

inline constexpr float kDefaultFramesPerSecond = 10.0f;
inline constexpr float kMinFramesPerSecond = 1.0f, kMaxFramesPerSecond = 60.0f;

struct TimePlayback {
    bool playing = false;
    bool loop = true;
    float framesPerSecond = kDefaultFramesPerSecond;
    double waited = 0;  // seconds since the last point was shown
};

// The point one step from `current` (delta -1 or +1): round the ends with
// loop, else held at them.
uint32_t SteppedTimePoint(uint32_t current, uint32_t count, int delta, bool loop);

// Play pressed at `current`: playing from there, or from the first point
// when a series that does not loop stands at its last. The point to show.
uint32_t StartPlaying(TimePlayback* playback, uint32_t current, uint32_t count);

// `seconds` more have passed: the point to show now if one is due, else
// none. A device slower than the rate shows every point, later, rather than
// skip some. Without loop, playing stops at the last point.
std::optional<uint32_t> AdvancePlayback(TimePlayback* playback, double seconds, uint32_t current,
                                        uint32_t count);

// How long until the next point is due while playing (0: now).
double SecondsToNextPoint(const TimePlayback& playback);

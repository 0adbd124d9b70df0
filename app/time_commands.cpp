// Playing a series of time points in the viewer: the keys, the steps, and
// the clock the frame loop runs, over the plain playback (time_playback.h).
// A point is shown between frames, never while the menu bar's overlay draws.
#include <optional>
#include <string>

#include "app/app_state.h"
#include "app/time_playback.h"
#include "volume/volume.h"

namespace {

TimePlayback Playback;
std::optional<uint32_t> DuePoint;

bool HaveSeries() {
    return Volume.voxels != nullptr && Volume.timePoints > 1;
}

}  // namespace

TimePlayback& TimePlay() {
    return Playback;
}

bool TimePlaying() {
    return Playback.playing && HaveSeries();
}

void StopTimePlay() {
    Playback.playing = false;
    Playback.waited = 0;
    DuePoint.reset();
}

void ShowTime(uint32_t t) {
    if (!HaveSeries() || t >= Volume.timePoints)
        return;
    if (!Volume.ShowTimePoint(t)) {
        StopTimePlay();
        shell::MessageBox(
            MainWindow,
            ("Not enough memory to show time point " + std::to_string(t) + " of '" + Volume.path +
             "'; time point " + std::to_string(Volume.shownTimePoint) + " stays shown.")
                .c_str(),
            "Time", shell::MB_OK);
    }
    RefreshSliceWindow();
}

void ToggleTimePlay() {
    if (!HaveSeries())
        return;
    if (Playback.playing) {
        StopTimePlay();
        return;
    }
    const uint32_t first = StartPlaying(&Playback, Volume.shownTimePoint, Volume.timePoints);
    ShowTime(first);
}

void StepTime(int delta) {
    if (!HaveSeries())
        return;
    // A step by hand is a point of its own: the play stops there.
    StopTimePlay();
    ShowTime(SteppedTimePoint(Volume.shownTimePoint, Volume.timePoints, delta, Playback.loop));
}

bool HandleTimeKey(int key) {
    if (!HaveSeries() || shell::GetKeyState(shell::VK_CONTROL) < 0 || shell::GetKeyState(shell::VK_SHIFT) < 0)
        return false;
    if (key == shell::VK_SPACE)
        ToggleTimePlay();
    else if (key == shell::VK_LEFT || key == shell::VK_OEM_COMMA)
        StepTime(-1);
    else if (key == shell::VK_RIGHT || key == shell::VK_OEM_PERIOD)
        StepTime(1);
    else
        return false;
    return true;
}

bool AdvanceTimeClock(float seconds) {
    if (!TimePlaying())
        return false;
    if (const std::optional<uint32_t> next =
            AdvancePlayback(&Playback, seconds, DuePoint.value_or(Volume.shownTimePoint), Volume.timePoints))
        DuePoint = next;
    return DuePoint.has_value();
}

bool TimePointDue() {
    return DuePoint.has_value() && HaveSeries();
}

void ShowDueTimePoint() {
    if (!DuePoint)
        return;
    const uint32_t t = *DuePoint;
    DuePoint.reset();
    ShowTime(t);
}

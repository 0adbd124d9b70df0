// The performance counter over SDL's, with a stepped clock for tests.
#include "platform/shell/window_internal.h"

namespace shell {

namespace {

struct CounterState {
    int64_t step = 0;  // a test's stepped clock: 0 reads the real one
    int64_t stepped = 0;
};

CounterState& Counter() {
    static CounterState s;
    return s;
}

}  // namespace

bool QueryPerformanceCounter(int64_t* count) {
    if (!count) {
        return false;
    }
    CounterState& s = Counter();
    if (s.step != 0) {
        s.stepped += s.step;
        *count = s.stepped;
        return true;
    }
    *count = static_cast<int64_t>(SDL_GetPerformanceCounter());
    return true;
}

bool QueryPerformanceFrequency(int64_t* frequency) {
    if (!frequency) {
        return false;
    }
    *frequency = static_cast<int64_t>(SDL_GetPerformanceFrequency());
    return true;
}

namespace detail {

// The stepped clock stops; where it had got to is kept, as a test that steps
// again starts it afresh anyway.
void ResetCounter() {
    Counter().step = 0;
}

}  // namespace detail

namespace testing {

void StepCounterOnEachRead(int64_t ticks) {
    Counter().step = ticks;
    Counter().stepped = 0;
}

}  // namespace testing

}  // namespace shell

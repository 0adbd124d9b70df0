// The panel's slide states, shared by the editor and the slide computation.
#pragma once

#include <cstdint>

namespace UI {

// Panel states, tested as single bits.
inline constexpr uint32_t kTabClosed = 1;
inline constexpr uint32_t kTabOpen = 2;
inline constexpr uint32_t kTabOpening = 4;
inline constexpr uint32_t kTabClosing = 8;

}  // namespace UI

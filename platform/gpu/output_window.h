// The seam between a windowed swap chain and the window it presents into.
//
// The shell's window implements this; the GPU layer knows nothing else about
// windows. The window owns its GL 4.5 core context: when the window is
// destroyed the context goes with it, and with the context every GL object
// created in it, so later Release() calls only drop their bookkeeping.
#pragma once

#include <cstdint>

namespace gpu {

class OutputWindow {
  public:
    virtual ~OutputWindow() = default;

    // Makes the window's GL context current on this thread. False once the
    // window (and so its context) is gone.
    virtual bool MakeContextCurrent() = 0;

    // Shows an RGBA8 GL texture (row 0 is the top row) in the window's client
    // area and swaps buffers. Called by Present with the context current.
    virtual void PresentImage(uint32_t glTexture, uint32_t width, uint32_t height) = 0;
};

}  // namespace gpu

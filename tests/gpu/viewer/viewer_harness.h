// Runs the real program (entry function, window procedure, frame loop) in
// this process with no display: SDL's offscreen window, a GL context through
// EGL, message boxes recorded and file dialogs answered from a script. A test
// drives it between frames from the shell's idle hook.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "platform/shell/shell.h"

namespace viewer_test {

using Rgba = std::array<int, 4>;

// The layer time the tests' device is taken to have (render/renderer.h's
// layerSeconds): well within a frame's budget, so every frame is whole. A
// test of a slow device sets a long one; frames do not measure over it.
inline constexpr double kFastLayerSeconds = 0.001;

struct Frame {
    std::vector<uint8_t> rgba;
    uint32_t width = 0, height = 0;
    Rgba At(uint32_t x, uint32_t y) const;
    // Writes a PNG (for people to look at); false if it cannot.
    bool SavePng(const std::string& path) const;
};

class ViewerTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Runs the program. At each idle pass (just before a frame is drawn) the
    // next step runs; when none is left, File > Exit is chosen. Returns the
    // entry function's result.
    int Run(std::vector<std::function<void()>> steps);
    // A step that runs at each idle pass until `done` holds (at most
    // `maxPasses` times, then the test fails).
    std::function<void()> WaitFor(std::function<bool()> done, int maxPasses = 400);

    // Message helpers for steps.
    static void Post(shell::UINT message, shell::WPARAM wParam, shell::LPARAM lParam);
    static void Size(int width, int height);
    static void Command(uint16_t id);
    static void Mouse(shell::UINT message, int x, int y);

    // The last presented image.
    static Frame ReadFrame();

    // The folder with fx.fx, tam_ui.dds and the sample volume; a scratch folder.
    static std::string DataDir();
    std::string ScratchDir();

    std::vector<shell::testing::RecordedMessageBox> boxes_;
    // Given to the entry function as the command line's file, when set.
    std::string startFile_;
    int presentsAtStart_ = 0;
    std::string scratch_;
    bool repeatStep_ = false;
};

// Writes a volume file of the given samples (x fastest).
void WriteVolume(const std::string& path, int dimX, int dimY, int dimZ, const std::vector<uint16_t>& samples);

}  // namespace viewer_test

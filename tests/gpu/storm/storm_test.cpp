// The real window procedure in volume mode fed a long seeded storm of
// messages: presses and releases anywhere (biased to the panel's edges),
// moves, wheel, sizes down to 0 x 0, and every menu command with scripted
// dialog answers that include truncated and hostile files; a frame is drawn
// every kMessagesPerFrame messages. The editor's invariants are checked after
// every message.
//
// TAMLO_STORM_SEED and TAMLO_STORM_MESSAGES override the seed and the count.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <random>
#include <set>

#include "app/app_state.h"
#include "render/renderer.h"
#include "tests/gpu/storm/hostile_files.h"
#include "tests/gpu/viewer/viewer_harness.h"
#include "ui/tab.h"
#include "ui/tab_layout.h"
#include "volume/volume.h"

namespace viewer_test {
namespace {

constexpr int kMessagesPerFrame = 200;

uint64_t EnvOr(const char* name, uint64_t fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::strtoull(v, nullptr, 0) : fallback;
}

class InputStormTest : public ViewerTest {
  protected:
    // A coordinate near something the panel or the window measures against.
    int EdgeX(std::mt19937_64& rng) {
        const int w = ClientArea.width, w2 = w / 2;
        const int edges[] = {0,       1,       5,      6,      7,      9,   10,    11,  12,    89,
                             90,      91,      189,    190,    191,    209, 210,   211, 249,   250,
                             w2 - 21, w2 - 20, w2 - 7, w2 - 6, w2 - 5, w2,  w - 1, w,   w + 1, 65535};
        if (rng() % 3 == 0)
            return static_cast<int>(rng() % static_cast<uint64_t>(w + 40));
        return edges[rng() % std::size(edges)];
    }
    // The row the panel's bands are measured up from: the client's bottom for
    // the closed panel, the open panel's bottom edge (below the client's in a
    // short window) otherwise.
    static int PanelBottom() {
        if (EditorTab.state & UI::kTabClosed)
            return ClientArea.height;
        return ClientArea.height +
               static_cast<int>(UI::kSlideDistance - UI::OpenSlideDistance(ClientArea.heightF));
    }
    int EdgeY(std::mt19937_64& rng) {
        const int h = PanelBottom();
        const int depths[] = {-1,  0,   1,   31,  32,  33,  192, 193, 199, 200, 399, 403, 404, 405,  419,
                              420, 421, 500, 599, 600, 601, 639, 640, 641, 671, 672, 673, h,   h + 1};
        if (rng() % 3 == 0)
            return static_cast<int>(rng() % static_cast<uint64_t>(h + 40));
        return h - depths[rng() % std::size(depths)];
    }

    // Now and then right on (or just beside) a control point, where the
    // graph's drags begin: the editor's own mapping from point to pixel.
    std::pair<int, int> Aim(std::mt19937_64& rng) {
        const UI::CTab& t = EditorTab;
        const uint64_t pick = rng() % 8;
        if (pick == 0) {
            // Anywhere inside the graph, where a press adds a point.
            const int w2 = ClientArea.width / 2;
            return {7 + static_cast<int>(rng() % static_cast<uint64_t>(std::max(1, w2 - 13))),
                    PanelBottom() - 193 - static_cast<int>(rng() % 211)};
        }
        if (pick > 2 || t.pointCount == 0)
            return {EdgeX(rng), EdgeY(rng)};
        const ControlPoint& p = t.points[rng() % t.pointCount];
        const int jitter = static_cast<int>(rng() % 17) - 8;
        const float x = t.graphScaleX * p.position + t.graphOriginX + ClientArea.halfWidth;
        const float y = t.graphScaleY * p.alpha + static_cast<float>(PanelBottom()) + 440.0f - 640.0f;
        const bool finite =
            std::isfinite(x) && std::isfinite(y) && std::fabs(x) < 1e6f && std::fabs(y) < 1e6f;
        if (!finite)
            return {EdgeX(rng), EdgeY(rng)};
        return {static_cast<int>(x) + (rng() % 2 ? jitter : 0),
                static_cast<int>(y) + (rng() % 2 ? 0 : jitter)};
    }

    void CheckInvariants(uint64_t index, shell::UINT message = 0) {
        const UI::CTab& t = EditorTab;
        if (message == shell::WM_LBUTTONDOWN && t.pointCount == lastPointCount_ + 1)
            ++pointsAdded_;
        if (message == shell::WM_RBUTTONDOWN && t.pointCount + 1 == lastPointCount_)
            ++pointsRemoved_;
        lastPointCount_ = t.pointCount;
        statesSeen_ |= t.state;
        dragsSeen_ |= 1u << (t.dragMode & 31);
        mostPoints_ = std::max(mostPoints_, t.pointCount);
        if (t.pointCount < 2 || t.selectedPoint >= t.pointCount ||
            (t.state != UI::kTabClosed && t.state != UI::kTabOpen && t.state != UI::kTabOpening &&
             t.state != UI::kTabClosing) ||
            (t.dragMode == UI::kDragNone && shell::testing::CurrentCursorClip().has_value())) {
            if (++failures_ > 20)
                return;  // the first few tell the story
            ADD_FAILURE() << "after message " << index << ": pointCount " << t.pointCount
                          << ", selectedPoint " << t.selectedPoint << ", state " << t.state << ", dragMode "
                          << t.dragMode << ", cursor clip "
                          << (shell::testing::CurrentCursorClip() ? "set" : "free");
        }
    }

    int failures_ = 0;
    // What the storm reached, so that a storm that never opens the panel or
    // drags a point cannot pass unnoticed.
    uint32_t statesSeen_ = 0, dragsSeen_ = 0, mostPoints_ = 0, lastPointCount_ = 0;
    int pointsAdded_ = 0, pointsRemoved_ = 0;
};

TEST_F(InputStormTest, HundredThousandSeededMessagesKeepTheEditorSound) {
    const uint64_t seed = EnvOr("TAMLO_STORM_SEED", 20261207);
    const uint64_t total = EnvOr("TAMLO_STORM_MESSAGES", 100000);
    std::cout << "storm seed " << seed << ", " << total << " messages, a frame every " << kMessagesPerFrame
              << std::endl;
    RecordProperty("seed", std::to_string(seed));
    RecordProperty("messages", std::to_string(total));

    const storm_test::HostileFiles files = storm_test::WriteHostileFiles(ScratchDir());
    const std::string saveTargets[] = {ScratchDir() + "/saved.tf", ScratchDir() + "/folder.tf",
                                       ScratchDir() + "/no/such/folder/x.tf"};
    std::mt19937_64 rng(seed);
    // The panel's slide runs on the frame clock: a stepped clock (50 ms a
    // pass, a slow device's frame) makes a seed give one outcome, however
    // loaded the machine is.
    int64_t frequency = 0;
    shell::QueryPerformanceFrequency(&frequency);
    shell::testing::StepCounterOnEachRead(frequency / 20);

    // The dialogs answer in the order they are asked; the answers are drawn
    // as the commands are, so the script is known before the program starts.
    struct Message {
        shell::UINT message;
        shell::WPARAM wParam;
        int x, y;  // for mouse and size messages
    };
    std::vector<std::optional<std::string>> answers;
    auto pickDialogAnswer = [&](const std::vector<std::string>& pool, size_t sound) {
        const uint64_t r = rng() % 10;
        if (r == 0)
            answers.push_back(std::nullopt);  // cancel
        else if (r < 5)
            answers.push_back(pool[rng() % sound]);
        else
            answers.push_back(pool[rng() % pool.size()]);
    };
    const uint16_t commands[] = {kCmdFileOpen,
                                 kCmdFileClose,
                                 kCmdSlicesXAxis,
                                 kCmdSlicesYAxis,
                                 kCmdSlicesZAxis,
                                 kCmdSlicesClear,
                                 kCmdSlicesShowBoundaries,
                                 kCmdViewBoundaries,
                                 kCmdTransferOpen,
                                 kCmdTransferSave,
                                 40099};
    const int sizes[][2] = {{0, 0},   {1, 1},     {1, 0},    {0, 1},     {2, 2},
                            {64, 48}, {150, 120}, {96, 700}, {220, 720}, {180, 680}};

    // Messages are generated ahead, with mouse coordinates resolved against the
    // size in force when they are fed (edges move with the window).
    uint64_t fed = 0;
    std::set<std::string> captions;
    size_t boxCount = 0;
    std::vector<std::function<void()>> steps;
    steps.push_back([&] {
        Size(150, 120);
        Command(kCmdFileOpen);  // into volume mode first
    });
    answers.push_back(files.volumes[0]);
    const uint64_t frames = (total + kMessagesPerFrame - 1) / kMessagesPerFrame;
    std::vector<std::vector<Message>> batches(frames);
    for (uint64_t i = 0; i < total; ++i) {
        Message m{};
        const uint64_t kind = rng() % 1000;
        if (kind < 330) {
            m.message = shell::WM_MOUSEMOVE;
        } else if (kind < 520) {
            m.message = rng() % 2 ? shell::WM_LBUTTONDOWN : shell::WM_LBUTTONUP;
        } else if (kind < 700) {
            m.message = rng() % 2 ? shell::WM_RBUTTONDOWN : shell::WM_RBUTTONUP;
        } else if (kind < 780) {
            m.message = shell::WM_MOUSEWHEEL;
            m.wParam = static_cast<shell::WPARAM>(static_cast<uint16_t>(rng() % 2 ? 120 : -120)) << 16;
        } else if (kind < 800) {
            m.message = shell::WM_SIZE;
            const auto& s = sizes[rng() % std::size(sizes)];
            m.x = s[0];
            m.y = s[1];
        } else if (kind < 815) {
            m.message = shell::WM_COMMAND;
            m.wParam = commands[rng() % std::size(commands)];
            if (m.wParam == kCmdFileOpen)
                pickDialogAnswer(files.volumes, files.soundVolumes);
            else if (m.wParam == kCmdTransferOpen)
                pickDialogAnswer(files.transfer, files.soundTransfer);
            else if (m.wParam == kCmdTransferSave)
                answers.push_back(rng() % 4 ? std::optional<std::string>(saveTargets[rng() % 3])
                                            : std::nullopt);
        } else {
            // Presses and releases in quick pairs, as real clicks come.
            m.message = rng() % 2 ? shell::WM_LBUTTONDOWN : shell::WM_RBUTTONDOWN;
            m.x = -1;
        }
        batches[i / kMessagesPerFrame].push_back(m);
    }
    shell::testing::SetFileDialogScript(answers);

    for (uint64_t b = 0; b < frames; ++b) {
        steps.push_back([&, b] {
            std::mt19937_64 coords(seed ^ (b * 0x9E3779B97F4A7C15ull));
            for (const Message& m : batches[b]) {
                shell::LPARAM l = 0;
                if (m.message == shell::WM_SIZE) {
                    l = shell::MAKELPARAM(static_cast<uint16_t>(m.x), static_cast<uint16_t>(m.y));
                } else if (m.message != shell::WM_COMMAND && m.message != shell::WM_MOUSEWHEEL) {
                    const auto [x, y] = Aim(coords);
                    l = shell::MAKELPARAM(static_cast<uint16_t>(x), static_cast<uint16_t>(y));
                }
                WndProc(MainWindow, m.message, m.wParam, l);
                CheckInvariants(fed++, m.message);
                if (m.x == -1) {  // the matching release at the same place
                    WndProc(MainWindow, m.message + 1, m.wParam, l);
                    CheckInvariants(fed);
                }
            }
            for (const auto& box : shell::testing::TakeMessageBoxes()) {
                captions.insert(box.caption);
                ++boxCount;
            }
        });
    }
    // The storm may leave a drag on; a last release lets the editor end it.
    steps.push_back([&] {
        Mouse(shell::WM_LBUTTONUP, 1, 1);
        Mouse(shell::WM_RBUTTONUP, 1, 1);
    });
    steps.push_back([&] { CheckInvariants(fed); });

    const int presentsBefore = gpu::testing::PresentCount();
    EXPECT_EQ(Run(std::move(steps)), 0);
    EXPECT_EQ(fed, total) << "every message reached the window procedure";
    EXPECT_EQ(failures_, 0);
    EXPECT_GE(gpu::testing::PresentCount() - presentsBefore, static_cast<int>(frames / 2))
        << "frames kept coming through the storm";
    std::cout << "panel states seen 0x" << std::hex << statesSeen_ << ", drag modes seen 0x" << dragsSeen_
              << std::dec << ", points added " << pointsAdded_ << ", removed " << pointsRemoved_
              << ", most points " << mostPoints_ << ", message boxes " << boxCount + boxes_.size()
              << std::endl;
    EXPECT_EQ(statesSeen_, 0xFu) << "the panel went through all four states";
    EXPECT_EQ(dragsSeen_, 0x3Fu) << "every drag mode was started";
    EXPECT_GE(pointsAdded_, 3) << "points were added";
    EXPECT_GE(pointsRemoved_, 3) << "points were removed";
    // Every message box is one the program knows how to show.
    for (const auto& box : boxes_)
        captions.insert(box.caption);
    const std::set<std::string> known = {
        "error: Volume", "error: CVolume",         "CVolume::GenerateHistogram",
        "CTab",          "CTab::GenerateTransfer", "error"};
    for (const std::string& c : captions)
        EXPECT_TRUE(known.count(c)) << "unexpected message box caption: " << c;
    EXPECT_TRUE(captions.count("error: Volume")) << "hostile volume files were refused";
    EXPECT_TRUE(captions.count("CTab")) << "hostile .tf files were refused";
}

}  // namespace
}  // namespace viewer_test

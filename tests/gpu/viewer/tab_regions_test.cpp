// The panel's regions at their exact bounds, in the running program: which
// presses the tab takes, where the picker and graph start and stop, and that no
// cursor confinement outlives a drag.
#include <array>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "app/app_state.h"
#include "tests/gpu/viewer/viewer_harness.h"
#include "ui/tab.h"

namespace viewer_test {
namespace {

constexpr int kWidth = 400, kHeight = 700;

class TabRegionsTest : public ViewerTest {
  protected:
    // Runs `check` with a volume loaded and the client at kWidth x kHeight.
    void WithVolume(const std::function<void()>& check) {
        const std::string path = ScratchDir() + "/v.vol";
        WriteVolume(path, 4, 4, 4, std::vector<uint16_t>(64, 1000));
        shell::testing::SetFileDialogScript({path});
        Run({[] {
                 Size(kWidth, kHeight);
                 Command(kCmdFileOpen);
             },
             [&] { check(); }});
        EXPECT_TRUE(boxes_.empty()) << (boxes_.empty() ? "" : boxes_[0].text);
    }
    static void Open() {
        EditorTab.state = UI::kTabOpen;
        EditorTab.slideOffset = 640;
    }
    static bool Left(int x, int d) { return EditorTab.OnLButtonDown(0, x, kHeight - d); }
    static bool Release(int x, int d) { return EditorTab.OnLButtonUp(0, x, kHeight - d); }
    static bool Right(int x, int d) { return EditorTab.OnRButtonDown(0, x, kHeight - d); }
};

// The confinement of each drag, corner by corner, in screen coordinates: the
// picker's field and bar, the first and last points' columns, and an inner
// point's span between its neighbours (8 pixels short of each).
TEST_F(TabRegionsTest, EachDragConfinesTheCursorToItsExactRectangle) {
    WithVolume([] {
        Open();
        const ControlPoint points[3] = {{0, 0, 0, 0, 0}, {0.5f, 1, 1, 1, 0.5f}, {1, 1, 1, 1, 1}};
        EditorTab.ReplacePoints(points, 3);
        const int w2 = kWidth / 2, h = kHeight;
        // A point's pixel, as the graph places it (cut towards zero).
        auto px = [](float position) {
            return static_cast<int>(
                std::trunc(EditorTab.graphScaleX * position + EditorTab.graphOriginX + ClientArea.halfWidth));
        };
        auto py = [](float alpha) {
            return static_cast<int>(
                std::trunc(EditorTab.graphScaleY * alpha + (ClientArea.heightF + 440.0f) - 640.0f));
        };
        auto screen = [](int left, int top, int right, int bottom) {
            shell::POINT a{left, top}, b{right, bottom};
            shell::ClientToScreen(MainWindow, &a);
            shell::ClientToScreen(MainWindow, &b);
            return std::array<int, 4>{a.x, a.y, b.x, b.y};
        };
        const struct {
            int x, y;
            int32_t mode;
            std::array<int, 4> rect;
        } drags[] = {
            {100, h - 500, UI::kDragField, screen(9, h - 600, 189, h - 420)},
            {230, h - 500, UI::kDragLightness, screen(209, h - 600, 249, h - 420)},
            {px(0), py(0), UI::kDragFirstPoint, screen(9, h - 399, 10, h - 199)},
            {px(1), py(1), UI::kDragLastPoint, screen(w2 - 21, h - 399, w2 - 20, h - 199)},
            {px(0.5f), py(0.5f), UI::kDragInnerPoint, screen(px(0) + 8, h - 399, px(1) - 8, h - 199)},
        };
        for (const auto& drag : drags) {
            SCOPED_TRACE("drag mode " + std::to_string(drag.mode));
            EXPECT_TRUE(EditorTab.OnLButtonDown(0, drag.x, drag.y));
            ASSERT_EQ(EditorTab.dragMode, drag.mode);
            const std::optional<shell::RECT> clip = shell::testing::CurrentCursorClip();
            ASSERT_TRUE(clip.has_value());
            EXPECT_EQ((std::array<int, 4>{clip->left, clip->top, clip->right, clip->bottom}), drag.rect);
            EditorTab.OnLButtonUp(0, drag.x, drag.y);
            EXPECT_FALSE(shell::testing::CurrentCursorClip().has_value());
        }
    });
}

TEST_F(TabRegionsTest, TheClosedHandleTakesOnlyItsOwnBand) {
    WithVolume([] {
        EXPECT_FALSE(Left(50, 32)) << "d = 32 is above the handle";
        EXPECT_FALSE(Left(10, 10)) << "x = 10 is the handle's left edge, not on it";
        EXPECT_FALSE(Left(90, 10)) << "x = 90 is its right edge";
        EXPECT_EQ(EditorTab.state, UI::kTabClosed);
        EXPECT_TRUE(Left(50, 31)) << "d = 31 opens";
        EXPECT_EQ(EditorTab.state, UI::kTabOpening);
        EXPECT_FLOAT_EQ(EditorTab.slideTime, 0.0f);
        EXPECT_FALSE(Left(50, 10)) << "a press during the slide is not taken";
        EXPECT_FALSE(Right(50, 10));
    });
}

TEST_F(TabRegionsTest, TheOpenPanelsBandsAndBounds) {
    WithVolume([] {
        Open();
        EXPECT_FALSE(Left(50, 672)) << "above the handle";
        EXPECT_TRUE(Left(50, 639)) << "inside the panel, nothing there";
        EXPECT_EQ(EditorTab.state, UI::kTabOpen);
        EXPECT_EQ(EditorTab.dragMode, UI::kDragNone);

        // Picker rows 421 and 599 are inside, 420 and 600 are not.
        for (int d : {420, 600}) {
            EXPECT_TRUE(Left(100, d));
            EXPECT_EQ(EditorTab.dragMode, UI::kDragNone) << "row d = " << d;
        }
        for (int d : {421, 599}) {
            EXPECT_TRUE(Left(100, d));
            EXPECT_EQ(EditorTab.dragMode, UI::kDragField) << "row d = " << d;
            EXPECT_TRUE(shell::testing::CurrentCursorClip().has_value());
            EXPECT_TRUE(Release(100, d));
            EXPECT_FALSE(shell::testing::CurrentCursorClip().has_value()) << "the release frees the cursor";
        }
        // Columns: 11 and 190 the field, 211 and 249 the bar, 191 to 210 nothing.
        const std::pair<int, int32_t> columns[] = {{11, UI::kDragField},      {190, UI::kDragField},
                                                   {191, UI::kDragNone},      {210, UI::kDragNone},
                                                   {211, UI::kDragLightness}, {249, UI::kDragLightness}};
        for (const auto& [x, mode] : columns) {
            Left(x, 500);
            EXPECT_EQ(EditorTab.dragMode, mode) << "column " << x;
            Release(x, 500);
        }

        // Graph band: d 193 and 403 inside, 192 and 404 not; x 7 and w2 - 7
        // inside, 6 and w2 - 6 not. Inside, an empty spot inserts a point.
        const int w2 = kWidth >> 1;
        const uint32_t before = EditorTab.pointCount;
        for (const auto& [x, d] : {std::pair{100, 192}, {100, 404}, {6, 300}, {w2 - 6, 300}}) {
            EXPECT_TRUE(Left(x, d));
            EXPECT_EQ(EditorTab.pointCount, before) << "outside the graph at " << x << ", " << d;
        }
        EXPECT_TRUE(Left(100, 300));
        EXPECT_EQ(EditorTab.pointCount, before + 1) << "inside the graph an empty spot inserts";

        // The handle band of the open panel closes it.
        EXPECT_FALSE(Left(90, 656)) << "off the handle";
        EXPECT_TRUE(Right(50, 671)) << "d = 671 on the handle closes";
        EXPECT_EQ(EditorTab.state, UI::kTabClosing);
    });
}

TEST_F(TabRegionsTest, PointsAreHitFromSevenPixelsNotEight) {
    WithVolume([] {
        Open();
        // The end point at position 1, alpha 1: client x trunc(hw - 20.5), y height - 400.
        const int px = (kWidth >> 1) - 21;
        const int py = kHeight - 400;
        EXPECT_EQ(EditorTab.HitTestPoint(px + 7, py - 7), 1u);
        EXPECT_EQ(EditorTab.HitTestPoint(px - 7, py + 7), 1u);
        EXPECT_EQ(EditorTab.HitTestPoint(px + 8, py), UI::kNoPoint);
        EXPECT_EQ(EditorTab.HitTestPoint(px, py - 8), UI::kNoPoint);
    });
}

TEST_F(TabRegionsTest, RightClicksDeleteOnlyInnerPoints) {
    WithVolume([] {
        Open();
        Left(100, 300);  // inserts an inner point and selects it
        ASSERT_EQ(EditorTab.pointCount, 3u);
        EXPECT_TRUE(Right((kWidth >> 1) - 21, 400)) << "the last point";
        EXPECT_TRUE(Right(9, 200)) << "the first point";
        EXPECT_EQ(EditorTab.pointCount, 3u) << "end points cannot be deleted";
        EditorTab.selectedPoint = 2;
        EXPECT_TRUE(Right(100, 300));
        EXPECT_EQ(EditorTab.pointCount, 2u);
        EXPECT_LT(EditorTab.selectedPoint, EditorTab.pointCount) << "the selection names a point";
    });
}

TEST_F(TabRegionsTest, FirstPointDragChangesOnlyItsOpacity) {
    WithVolume([] {
        Open();
        EXPECT_TRUE(Left(9, 200));
        EXPECT_EQ(EditorTab.dragMode, UI::kDragFirstPoint);
        EXPECT_TRUE(Release(9, 300));
        EXPECT_FLOAT_EQ(EditorTab.points[0].position, 0.0f);
        EXPECT_NEAR(EditorTab.points[0].alpha, 0.5f, 0.01f);
    });
}

TEST_F(TabRegionsTest, LosingFocusOrClosingTheVolumeEndsADrag) {
    WithVolume([] {
        Open();
        Left(100, 500);
        ASSERT_TRUE(shell::testing::CurrentCursorClip().has_value());
        WndProc(MainWindow, shell::WM_KILLFOCUS, 0, 0);
        EXPECT_FALSE(shell::testing::CurrentCursorClip().has_value()) << "no confinement without the focus";
        EXPECT_EQ(EditorTab.dragMode, UI::kDragNone);

        Left(100, 500);
        ASSERT_TRUE(shell::testing::CurrentCursorClip().has_value());
        WndProc(MainWindow, shell::WM_COMMAND, kCmdFileClose, 0);
        EXPECT_FALSE(shell::testing::CurrentCursorClip().has_value()) << "nor after File > Close";
        EXPECT_EQ(EditorTab.dragMode, UI::kDragNone);
    });
}

// A client area shorter than the open panel and its handle strip: the panel
// rises only until the strip meets the top edge, and every band is hit where
// it is drawn, the same pixels as in a tall window moved up by the shortfall.
TEST_F(TabRegionsTest, InAShortClientTheOpenPanelKeepsItsHandleInsideAndHitsWhereItIsDrawn) {
    const std::string path = ScratchDir() + "/v.vol";
    WriteVolume(path, 4, 4, 4, std::vector<uint16_t>(64, 1000));
    shell::testing::SetFileDialogScript({path});
    constexpr int kShort = 560;
    constexpr int kRise = kShort - 32, kShortfall = 640 - kRise;
    Frame tall, shortFrame;
    Run({[] {
             Size(kWidth, kHeight);
             Command(kCmdFileOpen);
         },
         [] { Open(); }, [] {},
         [&] {
             tall = ReadFrame();
             Size(kWidth, kShort);
         },
         [] {}, [&] { shortFrame = ReadFrame(); },
         [] {
             EXPECT_FLOAT_EQ(EditorTab.slideOffset, static_cast<float>(kRise))
                 << "the open panel followed the resize";
             const int bottom = kShort + kShortfall;  // where the panel's bottom edge now lies
             EXPECT_FALSE(EditorTab.OnRButtonDown(0, 50, 0)) << "row 0 is above the handle band";
             EXPECT_TRUE(EditorTab.OnLButtonDown(0, 100, bottom - 500)) << "the picker's field";
             EXPECT_EQ(EditorTab.dragMode, UI::kDragField);
             const std::optional<shell::RECT> clip = shell::testing::CurrentCursorClip();
             ASSERT_TRUE(clip.has_value());
             shell::POINT topLeft{9, bottom - 600};
             shell::ClientToScreen(MainWindow, &topLeft);
             EXPECT_EQ(clip->top, topLeft.y) << "the confinement moved with the field";
             EXPECT_TRUE(EditorTab.OnLButtonUp(0, 100, bottom - 500));
             const uint32_t before = EditorTab.pointCount;
             EXPECT_TRUE(EditorTab.OnLButtonDown(0, 100, bottom - 300));
             EXPECT_EQ(EditorTab.pointCount, before + 1) << "the graph's middle inserts a point";
             EXPECT_TRUE(EditorTab.OnRButtonDown(0, 50, 16)) << "the handle, inside the client area";
             EXPECT_EQ(EditorTab.state, UI::kTabClosing);
         }});
    EXPECT_TRUE(boxes_.empty()) << (boxes_.empty() ? "" : boxes_[0].text);

    // The panel, from below its strip down to the short window's bottom edge,
    // is drawn as in the tall window, kHeight - 672 rows lower there (a wrong
    // shift differs in a quarter of these pixels). The panel's edges lie on
    // pixel centres, where rounding may move an edge by a row between the two
    // heights, so a pixel may also match its neighbour above or below; and the
    // panel lets a little of the volume show through, whose projection
    // follows the window's shape, so only the columns left of the volume
    // count, each channel within a few levels.
    ASSERT_EQ(shortFrame.height, static_cast<uint32_t>(kShort));
    constexpr int kTallStripTop = kHeight - 672, kColumnsLeftOfVolume = 170, kBelowStrip = 34;
    auto near = [](const Rgba& a, const Rgba& b) {
        for (int c = 0; c < 3; ++c)
            if (std::abs(a[c] - b[c]) > 8)
                return false;
        return true;
    };
    int differing = 0;
    for (int y = kBelowStrip; y < kShort; ++y)
        for (int x = 0; x < kColumnsLeftOfVolume; ++x) {
            const Rgba shown = shortFrame.At(x, y);
            const int tallY = y + kTallStripTop;
            const bool same = near(shown, tall.At(x, tallY)) || near(shown, tall.At(x, tallY - 1)) ||
                              (tallY + 1 < kHeight && near(shown, tall.At(x, tallY + 1)));
            differing += same ? 0 : 1;
        }
    EXPECT_EQ(differing, 0);
    EXPECT_TRUE(near(shortFrame.At(60, 16), tall.At(60, 16 + kTallStripTop)))
        << "the handle is drawn in the short window's top rows";
    EXPECT_FALSE(near(shortFrame.At(60, 16), tall.At(60, 16)));
}

}  // namespace
}  // namespace viewer_test

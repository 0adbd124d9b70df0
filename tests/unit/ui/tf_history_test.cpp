// The transfer function's edit history: undo and redo walk the same steps
// both ways, an edit that changed nothing is no step, a new edit drops what
// could be redone, and the oldest steps go only past the depth.
#include <gtest/gtest.h>

#include "ui/tf_history.h"

namespace {

using UI::PointList;
using UI::TransferHistory;

PointList Ramp(float middleAlpha) {
    return {{0, 0, 0, 0, 0}, {0.5f, 0.5f, 0.5f, 0.5f, middleAlpha}, {1, 1, 1, 1, 1}};
}

bool Same(const PointList& a, const PointList& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].position != b[i].position || a[i].red != b[i].red || a[i].green != b[i].green ||
            a[i].blue != b[i].blue || a[i].alpha != b[i].alpha)
            return false;
    }
    return true;
}

TEST(TransferHistoryTest, UndoAndRedoWalkTheStepsBothWays) {
    TransferHistory history;
    EXPECT_FALSE(history.Undo(Ramp(0.1f))) << "nothing to undo does nothing";
    EXPECT_FALSE(history.Redo(Ramp(0.1f)));
    const PointList two = {{0, 0, 0, 0, 0}, {1, 1, 1, 1, 1}};
    history.Record(two, Ramp(0.1f));         // insert
    history.Record(Ramp(0.1f), Ramp(0.2f));  // move
    history.Record(Ramp(0.2f), Ramp(0.2f));  // a click that changed nothing
    ASSERT_TRUE(history.CanUndo());
    EXPECT_FALSE(history.CanRedo());

    std::optional<PointList> shown = history.Undo(Ramp(0.2f));
    ASSERT_TRUE(shown);
    EXPECT_TRUE(Same(*shown, Ramp(0.1f))) << "the move is undone first, the empty click was no step";
    shown = history.Undo(*shown);
    ASSERT_TRUE(shown);
    EXPECT_TRUE(Same(*shown, two));
    EXPECT_FALSE(history.CanUndo());
    shown = history.Redo(*shown);
    ASSERT_TRUE(shown);
    EXPECT_TRUE(Same(*shown, Ramp(0.1f)));
    shown = history.Redo(*shown);
    ASSERT_TRUE(shown);
    EXPECT_TRUE(Same(*shown, Ramp(0.2f)));
    EXPECT_FALSE(history.CanRedo());

    // Undo once, then a new edit: the undone step cannot come back.
    shown = history.Undo(*shown);
    history.Record(*shown, Ramp(0.7f));
    EXPECT_FALSE(history.CanRedo());
    shown = history.Undo(Ramp(0.7f));
    ASSERT_TRUE(shown);
    EXPECT_TRUE(Same(*shown, Ramp(0.1f)));
}

TEST(TransferHistoryTest, KeepsTheNewestStepsUpToItsDepth) {
    static_assert(TransferHistory::kDepth >= 100, "at least 100 steps can be undone");
    TransferHistory history;
    const int edits = static_cast<int>(TransferHistory::kDepth) + 20;
    auto state = [](int k) { return Ramp(static_cast<float>(k) / 1000.0f); };
    for (int k = 0; k < edits; ++k)
        history.Record(state(k), state(k + 1));
    PointList shown = state(edits);
    int undone = 0;
    while (std::optional<PointList> previous = history.Undo(shown)) {
        shown = *previous;
        ++undone;
    }
    EXPECT_EQ(undone, static_cast<int>(TransferHistory::kDepth));
    EXPECT_TRUE(Same(shown, state(edits - undone))) << "the oldest steps went, the newest stayed in order";
    int redone = 0;
    while (std::optional<PointList> next = history.Redo(shown)) {
        shown = *next;
        ++redone;
    }
    EXPECT_EQ(redone, undone);
    EXPECT_TRUE(Same(shown, state(edits)));
}

}  // namespace

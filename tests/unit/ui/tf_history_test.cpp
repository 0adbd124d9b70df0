// The transfer function's edit history: undo and redo walk the same steps
// both ways, an edit that changed nothing is no step, a new edit drops what
// could be redone, and only steps past the depth are forgotten.
#include <gtest/gtest.h>

#include "ui/tf_history.h"

namespace {

using UI::PointList;
using UI::TransferHistory;

// States told apart by the middle point's opacity.
PointList State(int k) {
    return {{0, 0, 0, 0, 0}, {0.5f, 0.5f, 0.5f, 0.5f, static_cast<float>(k) / 1000.0f}, {1, 1, 1, 1, 1}};
}
int Step(const std::optional<PointList>& points) {
    return points ? static_cast<int>((*points)[1].alpha * 1000.0f + 0.5f) : -1;
}

TEST(TransferHistoryTest, UndoAndRedoWalkTheStepsBothWays) {
    TransferHistory history;
    EXPECT_EQ(Step(history.Undo(State(1))), -1) << "nothing to undo does nothing";
    history.Record(State(1), State(2));
    history.Record(State(2), State(3));
    history.Record(State(3), State(3));  // a click that only selected
    EXPECT_EQ(Step(history.Undo(State(3))), 2) << "the empty click was no step";
    EXPECT_EQ(Step(history.Undo(State(2))), 1);
    EXPECT_FALSE(history.CanUndo());
    EXPECT_EQ(Step(history.Redo(State(1))), 2);
    EXPECT_EQ(Step(history.Redo(State(2))), 3);
    EXPECT_FALSE(history.CanRedo());
    history.Undo(State(3));
    history.Record(State(2), State(7));
    EXPECT_FALSE(history.CanRedo()) << "a new edit drops what was undone";
    EXPECT_EQ(Step(history.Undo(State(7))), 2);
}

TEST(TransferHistoryTest, KeepsTheNewestStepsUpToItsDepth) {
    static_assert(TransferHistory::kDepth >= 100, "at least 100 steps can be undone");
    TransferHistory history;
    const int edits = static_cast<int>(TransferHistory::kDepth) + 20;
    for (int k = 0; k < edits; ++k)
        history.Record(State(k), State(k + 1));
    int shown = edits;
    while (history.CanUndo())
        shown = Step(history.Undo(State(shown)));
    EXPECT_EQ(shown, 20) << "the oldest 20 steps went, the newest stayed in order";
    while (history.CanRedo())
        shown = Step(history.Redo(State(shown)));
    EXPECT_EQ(shown, edits);
}

}  // namespace

// The transfer function's edit history for Edit > Undo and Redo: each step
// keeps the whole list of points from before the edit (a few kilobytes at
// most), so that undoing restores exactly what was shown, whatever the edit
// was (a point added, moved, removed or recoloured, or a file loaded). Plain
// data, no device.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <vector>

#include "ui/transfer_function.h"

namespace UI {

using PointList = std::vector<ControlPoint>;

class TransferHistory {
  public:
    // Steps kept; the oldest goes when a new one would pass it.
    static constexpr size_t kDepth = 256;

    // An edit turned `before` into `after`: one step, and nothing left to
    // redo. An edit that changed nothing (a click that only selected a
    // point) is no step.
    void Record(const PointList& before, const PointList& after);
    bool CanUndo() const { return !undo_.empty(); }
    bool CanRedo() const { return !redo_.empty(); }
    // The points before the last step, given the points shown now (kept for
    // Redo); nullopt with nothing to undo.
    std::optional<PointList> Undo(const PointList& current);
    // The points the last undone step made; nullopt with nothing to redo.
    std::optional<PointList> Redo(const PointList& current);
    void Clear();

  private:
    std::deque<PointList> undo_, redo_;
};

}  // namespace UI

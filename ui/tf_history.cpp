#include "ui/tf_history.h"

#include <cstring>

namespace UI {
namespace {

// Bit for bit: a point moved by less than a float's step is still an edit.
bool SamePoints(const PointList& a, const PointList& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(a[0])) == 0);
}

void PushBounded(std::deque<PointList>& steps, PointList points) {
    steps.push_back(std::move(points));
    if (steps.size() > TransferHistory::kDepth)
        steps.pop_front();
}

}  // namespace

void TransferHistory::Record(const PointList& before, const PointList& after) {
    // Fewer than two points is no function to go back to.
    if (before.size() < 2 || SamePoints(before, after))
        return;
    PushBounded(undo_, before);
    redo_.clear();
}

std::optional<PointList> TransferHistory::Undo(const PointList& current) {
    if (undo_.empty())
        return std::nullopt;
    PointList previous = std::move(undo_.back());
    undo_.pop_back();
    PushBounded(redo_, current);
    return previous;
}

std::optional<PointList> TransferHistory::Redo(const PointList& current) {
    if (redo_.empty())
        return std::nullopt;
    PointList next = std::move(redo_.back());
    redo_.pop_back();
    PushBounded(undo_, current);
    return next;
}

void TransferHistory::Clear() {
    undo_.clear();
    redo_.clear();
}

}  // namespace UI

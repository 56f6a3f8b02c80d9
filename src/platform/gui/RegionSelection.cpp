#include "RegionSelection.h"

#include <algorithm>

namespace platform {

QPoint TRegionSelection::Clamp(QPoint p) const {
    return {std::clamp(p.x(), bounds_.left(), bounds_.right()),
            std::clamp(p.y(), bounds_.top(), bounds_.bottom())};
}

void TRegionSelection::Press(QPoint at) {
    pressedAt_ = Clamp(at);
    dragging_ = true;
    moved_ = false;
}

void TRegionSelection::Move(QPoint at) {
    if (!dragging_) return;
    const QPoint p = Clamp(at);
    // A press that goes nowhere (the first of a double click, say) keeps
    // the rectangle there is.
    if (!moved_ && p == pressedAt_) return;
    if (!moved_) anchor_ = pressedAt_;
    moved_ = started_ = true;
    corner_ = p;
}

void TRegionSelection::Release(QPoint at) {
    Move(at);
    dragging_ = false;
}

void TRegionSelection::Nudge(int dx, int dy) {
    if (started_) corner_ = Clamp(corner_ + QPoint(dx, dy));
}

QRect TRegionSelection::Rect() const {
    if (!HasRect()) return {};
    return QRect(QPoint(std::min(anchor_.x(), corner_.x()), std::min(anchor_.y(), corner_.y())),
                 QPoint(std::max(anchor_.x(), corner_.x()), std::max(anchor_.y(), corner_.y())));
}

} // namespace platform

// The rectangle a user drags over a frozen picture of the screens, in the
// picture's own pixels: no widgets, so every rule can be tried directly.
// One corner stays where the drag began; the other follows the pointer or
// the arrow keys. Both corner pixels belong to the rectangle.
#pragma once

#include <QPoint>
#include <QRect>

namespace platform {

class TRegionSelection {
public:
    // bounds: the whole picture; every point is kept inside it.
    explicit TRegionSelection(QRect bounds) : bounds_(bounds) {}

    void Press(QPoint at);
    void Move(QPoint at);
    void Release(QPoint at);
    // Moves the corner being dragged (the last one moved) by dx, dy pixels.
    void Nudge(int dx, int dy);

    bool Dragging() const { return dragging_; }
    // Whether there is a rectangle: a press that went nowhere makes none, and
    // leaves the one there was.
    bool HasRect() const { return started_ && anchor_ != corner_; }
    QRect Rect() const;
    QPoint Corner() const { return corner_; }

private:
    QPoint Clamp(QPoint p) const;

    QRect bounds_;
    QPoint pressedAt_;
    QPoint anchor_;
    QPoint corner_;
    bool started_ = false; // a drag has moved: there is a rectangle
    bool dragging_ = false;
    bool moved_ = false; // the drag under way has moved
};

} // namespace platform

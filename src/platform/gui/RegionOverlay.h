// The region chooser: the frozen picture of every screen shown undecorated
// over each screen, on which the user drags a rectangle. A crosshair follows
// the pointer, the rectangle shows its size in pixels, and a magnifier near
// the pointer shows the pixels under it. The arrow keys move the dragged
// corner by one pixel; Enter, a double click or (where asked for) releasing
// the drag accepts; Esc cancels.
#pragma once

#include "RegionSelection.h"

#include <QImage>
#include <QObject>
#include <QRegion>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QScreen;

namespace platform {

class TRegionOverlay;

// The overlay's window over one screen.
class TRegionWindow : public QWidget {
public:
    TRegionWindow(TRegionOverlay& overlay, QScreen* screen, QPoint offset);
    // Whether this window stands over that screen at that place in the picture.
    bool Covers(QScreen* screen, QPoint offset) const;
    // The part of the picture this window shows, in its pixels.
    QRect PictureRect() const;
    // Asks for a repaint of what is drawn over the picture, where it was
    // and where it is now.
    void UpdateDecorations();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QPoint PicturePoint(const QPointF& windowPos) const;
    QRectF WindowRect(const QRect& pictureRect) const;
    void PaintMagnifier(QPainter& painter, QPoint at);
    QRect MagnifierBox(QPoint at) const;
    QRect LabelRect(const QRectF& chosen, const QString& text) const;
    QRegion Decorations() const;

    TRegionOverlay& overlay_;
    QPoint offset_; // where this screen's top left is in the picture
    qreal ratio_ = 1;
    QRegion shownDecorations_;
    QScreen* screen_;

    friend class TRegionOverlay;
};

class TRegionOverlay : public QObject {
    Q_OBJECT
public:
    // picture: the screens as one picture; origin: the desktop's device
    // point at the picture's top left.
    TRegionOverlay(QImage picture, QPoint origin);
    ~TRegionOverlay() override;
    TRegionOverlay(const TRegionOverlay&) = delete;
    TRegionOverlay& operator=(const TRegionOverlay&) = delete;

    bool AcceptOnRelease = true;
    // Fired once, after the windows are gone and never from inside an event
    // of theirs: the chosen pixels of the picture, or nothing when cancelled.
    std::function<void(TRegionOverlay* Sender, std::optional<QRect> Chosen)> OnDone;

    // One window on every screen that lies on the picture; the windows of
    // the last showing where the screens are still the same.
    void Show();
    // Ready for another showing, with another picture: the windows and the
    // dimmed picture's memory are kept, so that a 4K screen's worth of fresh
    // memory is not touched again at every capture.
    void Restart(QImage picture, QPoint origin);
    // Lets go of the picture while no showing needs it.
    void ReleasePicture() { picture_ = QImage(); }
    const QImage& Picture() const { return picture_; }
    // The picture darkened, as shown outside the rectangle; made once.
    const QImage& Dimmed();
    const TRegionSelection& Selection() const { return selection_; }
    const std::vector<std::unique_ptr<TRegionWindow>>& Windows() const { return windows_; }
    // Where the pointer is, in the picture; none while it is off the windows.
    std::optional<QPoint> Pointer() const { return pointer_; }

private:
    friend class TRegionWindow;
    void Press(QPoint at);
    void Move(QPoint at);
    void Release(QPoint at);
    void Leave();
    void Key(int key);
    void DoubleClick();
    void Accept();
    void Finish(std::optional<QRect> chosen);
    void FireDone(std::optional<QRect> chosen);
    void Repaint();

    QImage picture_;
    QImage dimmed_;
    bool dimmedValid_ = false;
    QPoint origin_;
    TRegionSelection selection_;
    std::optional<QPoint> pointer_;
    std::vector<std::unique_ptr<TRegionWindow>> windows_;
    bool finished_ = false;
};

// The text beside the rectangle: its size in pixels.
QString RegionSizeText(const QRect& rect);

} // namespace platform

#include "RegionOverlay.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <cmath>

namespace platform {

namespace {

// The magnifier shows Span x Span pixels, each Zoom x Zoom large.
constexpr int Span = 15;
constexpr int Zoom = 8;
constexpr int MagnifierGap = 24;
// What is left of each colour outside the rectangle, in 256ths.
constexpr uint32_t Kept = 145;
const QColor Edge(80, 170, 255);

} // namespace

QString RegionSizeText(const QRect& rect) {
    return QString("%1 \u00d7 %2").arg(rect.width()).arg(rect.height());
}

TRegionWindow::TRegionWindow(TRegionOverlay& overlay, QScreen* screen, QPoint offset)
    : overlay_(overlay), offset_(offset), ratio_(screen->devicePixelRatio()), screen_(screen) {
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setWindowTitle("Brindlewick region");
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setCursor(Qt::CrossCursor);
    setFocusPolicy(Qt::StrongFocus);
    create();
    windowHandle()->setScreen(screen);
    setGeometry(screen->geometry());
}

bool TRegionWindow::Covers(QScreen* screen, QPoint offset) const {
    return screen == screen_ && offset == offset_ && geometry() == screen->geometry() &&
           ratio_ == screen->devicePixelRatio();
}

QRect TRegionWindow::PictureRect() const {
    return QRect(offset_, (QSizeF(size()) * ratio_).toSize());
}

QPoint TRegionWindow::PicturePoint(const QPointF& windowPos) const {
    return offset_ +
           QPoint(int(std::floor(windowPos.x() * ratio_)), int(std::floor(windowPos.y() * ratio_)));
}

QRectF TRegionWindow::WindowRect(const QRect& pictureRect) const {
    return QRectF(QPointF(pictureRect.topLeft() - offset_) / ratio_,
                  QSizeF(pictureRect.size()) / ratio_);
}

void TRegionWindow::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    // Plain copies of the picture, dimmed outside the rectangle: no blending
    // over a whole 4K screen at every move of the pointer.
    const QRect dirty = event->rect();
    auto picturePart = [this](const QRect& r) {
        return QRectF(QPointF(offset_) + QPointF(r.topLeft()) * ratio_, QSizeF(r.size()) * ratio_);
    };
    painter.drawImage(QRectF(dirty), overlay_.Dimmed(), picturePart(dirty));
    const TRegionSelection& selection = overlay_.Selection();
    QRectF chosen;
    if (selection.HasRect()) {
        chosen = WindowRect(selection.Rect());
        const QRect bright = chosen.toAlignedRect() & dirty;
        if (!bright.isEmpty())
            painter.drawImage(QRectF(bright), overlay_.Picture(), picturePart(bright));
    }

    if (selection.HasRect()) {
        painter.setPen(QPen(Edge, 1));
        // Just outside the chosen pixels, so that every one of them shows.
        painter.drawRect(chosen.adjusted(-1, -1, 0, 0));
        const QString text = RegionSizeText(selection.Rect());
        const QRect label = LabelRect(chosen, text);
        painter.fillRect(label, QColor(0, 0, 0, 190));
        painter.setPen(Qt::white);
        painter.drawText(label, Qt::AlignCenter, text);
    }

    const std::optional<QPoint> pointer = overlay_.Pointer();
    if (pointer && PictureRect().contains(*pointer)) {
        const QPointF at = WindowRect(QRect(*pointer, QSize(1, 1))).center();
        painter.setPen(QPen(QColor(255, 255, 255, 150), 1));
        painter.drawLine(QPointF(0, at.y()), QPointF(width(), at.y()));
        painter.drawLine(QPointF(at.x(), 0), QPointF(at.x(), height()));
        PaintMagnifier(painter, *pointer);
    }
}

QRect TRegionWindow::LabelRect(const QRectF& chosen, const QString& text) const {
    const QFontMetrics metrics(font());
    QRect label(0, 0, metrics.horizontalAdvance(text) + 8, metrics.height() + 4);
    label.moveBottomLeft(chosen.topLeft().toPoint() + QPoint(0, -3));
    if (label.top() < 0) label.moveTopLeft(chosen.topLeft().toPoint() + QPoint(3, 3));
    return label;
}

QRect TRegionWindow::MagnifierBox(QPoint at) const {
    const int side = Span * Zoom;
    const QPoint cursor = WindowRect(QRect(at, QSize(1, 1))).topLeft().toPoint();
    // Below and right of the pointer, or on the other side near an edge.
    QRect box(cursor + QPoint(MagnifierGap, MagnifierGap), QSize(side, side));
    if (box.right() >= width()) box.moveRight(cursor.x() - MagnifierGap);
    if (box.bottom() >= height()) box.moveBottom(cursor.y() - MagnifierGap);
    return box;
}

QRegion TRegionWindow::Decorations() const {
    QRegion region;
    const TRegionSelection& selection = overlay_.Selection();
    if (selection.HasRect()) {
        const QRectF chosen = WindowRect(selection.Rect());
        region += chosen.toAlignedRect().adjusted(-2, -2, 2, 2);
        region += LabelRect(chosen, RegionSizeText(selection.Rect()));
    }
    const std::optional<QPoint> pointer = overlay_.Pointer();
    if (pointer && PictureRect().contains(*pointer)) {
        const QPoint at = WindowRect(QRect(*pointer, QSize(1, 1))).center().toPoint();
        region += QRect(0, at.y() - 2, width(), 5);
        region += QRect(at.x() - 2, 0, 5, height());
        region += MagnifierBox(*pointer).adjusted(-2, -2, 2, 2);
    }
    return region;
}

void TRegionWindow::UpdateDecorations() {
    // What was drawn over the picture before and what is drawn now.
    const QRegion now = Decorations();
    update(now | shownDecorations_);
    shownDecorations_ = now;
}

void TRegionWindow::PaintMagnifier(QPainter& painter, QPoint at) {
    const QRect box = MagnifierBox(at);
    painter.fillRect(box, Qt::black);
    const QRect source(at - QPoint(Span / 2, Span / 2), QSize(Span, Span));
    const QRect inside = source & overlay_.Picture().rect();
    if (!inside.isEmpty())
        painter.drawImage(QRect(box.topLeft() + (inside.topLeft() - source.topLeft()) * Zoom,
                                inside.size() * Zoom),
                          overlay_.Picture(), inside);
    painter.setPen(QPen(Edge, 1));
    painter.drawRect(box.adjusted(-1, -1, 0, 0));
    painter.setPen(QPen(Qt::white, 1));
    painter.drawRect(QRect(box.topLeft() + QPoint(Span / 2, Span / 2) * Zoom, QSize(Zoom, Zoom))
                         .adjusted(-1, -1, 0, 0));
}

void TRegionWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) overlay_.Press(PicturePoint(event->position()));
}

void TRegionWindow::mouseMoveEvent(QMouseEvent* event) {
    overlay_.Move(PicturePoint(event->position()));
}

void TRegionWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) overlay_.Release(PicturePoint(event->position()));
}

void TRegionWindow::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) overlay_.DoubleClick();
}

void TRegionWindow::keyPressEvent(QKeyEvent* event) {
    overlay_.Key(event->key());
}

void TRegionWindow::leaveEvent(QEvent*) {
    overlay_.Leave();
}

TRegionOverlay::TRegionOverlay(QImage picture, QPoint origin)
    : picture_(std::move(picture)), origin_(origin), selection_(picture_.rect()) {}

TRegionOverlay::~TRegionOverlay() = default;

void TRegionOverlay::Restart(QImage picture, QPoint origin) {
    picture_ = std::move(picture);
    origin_ = origin;
    selection_ = TRegionSelection(picture_.rect());
    pointer_.reset();
    dimmedValid_ = false;
    finished_ = false;
    for (auto& window : windows_) window->shownDecorations_ = QRegion();
}

const QImage& TRegionOverlay::Dimmed() {
    if (dimmedValid_) return dimmed_;
    dimmedValid_ = true;
    const QImage rgb =
        picture_.format() == QImage::Format_RGB32 || picture_.format() == QImage::Format_ARGB32
            ? picture_
            : picture_.convertToFormat(QImage::Format_RGB32);
    if (dimmed_.size() != rgb.size()) dimmed_ = QImage(rgb.size(), QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y) {
        const QRgb* from = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        QRgb* to = reinterpret_cast<QRgb*>(dimmed_.scanLine(y));
        for (int x = 0; x < rgb.width(); ++x) {
            const uint32_t c = from[x];
            to[x] = 0xFF000000u | (((c & 0xFF00FFu) * Kept >> 8) & 0xFF00FFu) |
                    (((c & 0x00FF00u) * Kept >> 8) & 0x00FF00u);
        }
    }
    return dimmed_;
}

void TRegionOverlay::Show() {
    std::vector<std::pair<QScreen*, QPoint>> wanted;
    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect g = screen->geometry();
        const QPoint device = (QPointF(g.topLeft()) * screen->devicePixelRatio()).toPoint();
        const QRect part(device - origin_,
                         (QSizeF(g.size()) * screen->devicePixelRatio()).toSize());
        if (picture_.rect().intersects(part)) wanted.emplace_back(screen, device - origin_);
    }
    bool same = wanted.size() == windows_.size();
    for (size_t i = 0; same && i < wanted.size(); ++i)
        same = windows_[i]->Covers(wanted[i].first, wanted[i].second);
    if (!same) {
        windows_.clear();
        for (const auto& [screen, offset] : wanted)
            windows_.push_back(std::make_unique<TRegionWindow>(*this, screen, offset));
    }
    for (auto& window : windows_) window->update();
    for (auto& window : windows_) window->showFullScreen();
    if (windows_.empty()) {
        Finish(std::nullopt);
        return;
    }
    // The keys go to the chooser wherever the pointer is.
    TRegionWindow* first = windows_.front().get();
    first->activateWindow();
    first->setFocus();
    QTimer::singleShot(0, first, [first] {
        first->activateWindow();
        first->grabKeyboard();
    });
}

void TRegionOverlay::Repaint() {
    for (auto& window : windows_) window->UpdateDecorations();
}

void TRegionOverlay::Press(QPoint at) {
    if (finished_) return;
    pointer_ = at;
    selection_.Press(at);
    Repaint();
}

void TRegionOverlay::Move(QPoint at) {
    if (finished_) return;
    pointer_ = at;
    selection_.Move(at);
    Repaint();
}

void TRegionOverlay::Release(QPoint at) {
    if (finished_ || !selection_.Dragging()) return;
    pointer_ = at;
    selection_.Release(at);
    if (AcceptOnRelease && selection_.HasRect())
        Accept();
    else
        Repaint();
}

void TRegionOverlay::Leave() {
    // Another of the windows takes the pointer at once, or nothing does.
    if (finished_ || selection_.Dragging()) return;
    pointer_.reset();
    Repaint();
}

void TRegionOverlay::DoubleClick() {
    if (!finished_ && selection_.HasRect()) Accept();
}

void TRegionOverlay::Key(int key) {
    if (finished_) return;
    switch (key) {
    case Qt::Key_Escape:
        Finish(std::nullopt);
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (selection_.HasRect()) Accept();
        return;
    case Qt::Key_Left:
        selection_.Nudge(-1, 0);
        break;
    case Qt::Key_Right:
        selection_.Nudge(1, 0);
        break;
    case Qt::Key_Up:
        selection_.Nudge(0, -1);
        break;
    case Qt::Key_Down:
        selection_.Nudge(0, 1);
        break;
    default:
        return;
    }
    pointer_ = selection_.Corner();
    Repaint();
}

void TRegionOverlay::Accept() {
    Finish(selection_.Rect());
}

void TRegionOverlay::Finish(std::optional<QRect> chosen) {
    finished_ = true;
    for (auto& window : windows_) {
        window->releaseKeyboard();
        window->hide();
    }
    QMetaObject::invokeMethod(
        this, [this, chosen] { FireDone(chosen); }, Qt::QueuedConnection);
}

void TRegionOverlay::FireDone(std::optional<QRect> chosen) {
    if (OnDone) OnDone(this, chosen);
}

} // namespace platform

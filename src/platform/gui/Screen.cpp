#include "Screen.h"

#include <QClipboard>
#include <QCursor>
#include <QGuiApplication>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QScreen>

namespace platform {

bool HasPrimaryScreen() {
    return QGuiApplication::primaryScreen() != nullptr;
}

QSize PrimaryScreenSize() {
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().size() * screen->devicePixelRatio() : QSize();
}

int PrimaryScreenDepth() {
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->depth() : 0;
}

QImage GrabPrimaryScreen() {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return {};
    return screen->grabWindow(0).toImage();
}

namespace {

TScreenShot Shoot(QScreen* screen) {
    const QRect g = screen->geometry();
    const qreal ratio = screen->devicePixelRatio();
    QImage picture = screen->grabWindow(0).toImage();
    // The picture's own size is the truth about the device pixels.
    const QSize size = picture.isNull() ? (QSizeF(g.size()) * ratio).toSize() : picture.size();
    return {QRect((QPointF(g.topLeft()) * ratio).toPoint(), size), std::move(picture)};
}

} // namespace

std::vector<TScreenShot> GrabAllScreens() {
    std::vector<TScreenShot> shots;
    for (QScreen* screen : QGuiApplication::screens()) {
        TScreenShot shot = Shoot(screen);
        if (!shot.Picture.isNull()) shots.push_back(std::move(shot));
    }
    return shots;
}

std::vector<TScreenShot> GrabScreenUnderMouse() {
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return {};
    TScreenShot shot = Shoot(screen);
    if (shot.Picture.isNull()) return {};
    return {std::move(shot)};
}

QImage ComposeScreens(const std::vector<TScreenShot>& shots, QPoint* origin) {
    QRect bounds;
    for (const TScreenShot& s : shots)
        if (!s.Picture.isNull()) bounds |= QRect(s.DeviceRect.topLeft(), s.Picture.size());
    if (origin) *origin = bounds.topLeft();
    if (bounds.isEmpty()) return {};
    // One screen alone is its own picture: no copy of a large grab.
    if (shots.size() == 1) return shots[0].Picture;
    QImage all(bounds.size(), QImage::Format_RGB32);
    all.fill(Qt::black);
    QPainter painter(&all);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    for (const TScreenShot& s : shots)
        if (!s.Picture.isNull())
            painter.drawImage(s.DeviceRect.topLeft() - bounds.topLeft(), s.Picture);
    return all;
}

bool ClipboardHasBitmap() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    return data && data->hasImage();
}

QImage ClipboardBitmap() {
    return ClipboardHasBitmap() ? QGuiApplication::clipboard()->image() : QImage();
}

void SetClipboardBitmap(const QImage& picture) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setImage(picture);
}

void SetClipboardText(const std::string& text) {
    QGuiApplication::clipboard()->setText(QString::fromStdString(text));
}

} // namespace platform

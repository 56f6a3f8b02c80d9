#include "Screen.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
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

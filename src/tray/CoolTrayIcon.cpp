#include "CoolTrayIcon.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

namespace {

// Cuts after MaxTipLength characters, never inside a UTF-8 sequence.
std::string CutTip(const std::string& hint) {
    size_t characters = 0;
    for (size_t i = 0; i < hint.size(); ++i) {
        const bool startsCharacter = (static_cast<unsigned char>(hint[i]) & 0xC0) != 0x80;
        if (startsCharacter && characters++ == TCoolTrayIcon::MaxTipLength)
            return hint.substr(0, i);
    }
    return hint;
}

} // namespace

TCoolTrayIcon::TCoolTrayIcon(QWidget* owner) : FOwner(owner) {
    FTrayWindow =
        platform::createMessageWindow([this](unsigned msg, uintptr_t wParam, intptr_t lParam) {
            return TrayWndProc(msg, wParam, lParam);
        });
    FNotifyData.window = FTrayWindow;
    FNotifyData.id = IconId;
    FNotifyData.flags = platform::NIF_MESSAGE | platform::NIF_ICON | platform::NIF_TIP;
    FNotifyData.callbackMessage = WM_TRAYNOTIFY;
    platform::watchTrayArea(FTrayWindow);

    FClickTimer.setSingleShot(true);
    FClickTimer.setInterval(QApplication::doubleClickInterval());
    connect(&FClickTimer, &QTimer::timeout, this, &TCoolTrayIcon::ClickTimerExpired);

    if (FOwner) FOwner->installEventFilter(this);
    // The owner sets the designed properties right after construction; the
    // icon appears with them, not with the defaults.
    QMetaObject::invokeMethod(this, &TCoolTrayIcon::Loaded, Qt::QueuedConnection);
}

TCoolTrayIcon::~TCoolTrayIcon() {
    if (FOwner) FOwner->removeEventFilter(this);
    platform::deleteTrayIcon(FTrayWindow, IconId);
    platform::unwatchTrayArea(FTrayWindow);
    platform::destroyMessageWindow(FTrayWindow);
}

void TCoolTrayIcon::Loaded() {
    FLoading = false;
    UpdateTrayIcon();
    SetIconVisible(FIconVisible);
}

void TCoolTrayIcon::SetIcon(const QIcon& icon) {
    FIcon = icon;
    UpdateTrayIcon();
}

void TCoolTrayIcon::SetHint(const std::string& hint) {
    FHint = hint;
    UpdateTrayIcon();
}

void TCoolTrayIcon::SetShowHint(bool show) {
    FShowHint = show;
    UpdateTrayIcon();
}

void TCoolTrayIcon::SetIconVisible(bool visible) {
    FIconVisible = visible;
    if (FLoading) return;
    if (visible)
        AddTrayIcon();
    else
        RemoveTrayIcon();
}

void TCoolTrayIcon::SetEnabled(bool enabled) {
    FEnabled = enabled;
    if (enabled) return;
    // A click under way when input stops must not fire later.
    FClickTimer.stop();
    FClickState = ckIdle;
}

void TCoolTrayIcon::RefreshNotifyData() {
    FNotifyData.icon = FIcon;
    FNotifyData.tip = FShowHint ? CutTip(FHint) : std::string();
    FNotifyData.menu = PopupMenu;
}

void TCoolTrayIcon::AddTrayIcon() {
    FIconVisible = true;
    RefreshNotifyData();
    // An icon shown already just takes the new image and tip.
    if (!platform::addTrayIcon(FNotifyData)) platform::modifyTrayIcon(FNotifyData);
}

void TCoolTrayIcon::UpdateTrayIcon() {
    RefreshNotifyData();
    platform::modifyTrayIcon(FNotifyData);
}

void TCoolTrayIcon::RemoveTrayIcon() {
    FIconVisible = false;
    platform::deleteTrayIcon(FTrayWindow, IconId);
}

void TCoolTrayIcon::RestoreMainWindow() {
    if (!FOwner) return;
    FHiddenToTray = false;
    FOwner->setWindowState(FOwner->windowState() & ~Qt::WindowMinimized);
    FOwner->show();
    // A form that was only minimised gets no show event to bring it forward.
    BringOwnerToFront();
}

void TCoolTrayIcon::HideMainWindow() {
    if (!FOwner) return;
    FHiddenToTray = true;
    // Hiding withdraws the window, and with it its taskbar entry.
    FOwner->hide();
}

void TCoolTrayIcon::BringOwnerToFront() {
    // After the show has been processed: the window manager raises and
    // focuses only mapped windows.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!FOwner || !FOwner->isVisible() || FOwner->isMinimized()) return;
            FOwner->raise();
            FOwner->activateWindow();
        },
        Qt::QueuedConnection);
}

bool TCoolTrayIcon::eventFilter(QObject* watched, QEvent* event) {
    if (watched != FOwner) return false;
    switch (event->type()) {
    case QEvent::WindowStateChange:
        if (FOwner->isMinimized() && MinimizeToTray)
            // Not inside the window system's state change.
            QMetaObject::invokeMethod(this, &TCoolTrayIcon::OwnerMinimized, Qt::QueuedConnection);
        break;
    case QEvent::Show:
        // Shown by the program (not given back by the window manager): in front.
        if (!event->spontaneous()) {
            FHiddenToTray = false;
            BringOwnerToFront();
        }
        break;
    default:
        break;
    }
    return false;
}

void TCoolTrayIcon::OwnerMinimized() {
    if (!FOwner || !FOwner->isMinimized() || !MinimizeToTray) return;
    // Without a notification area a hidden window could not be got back:
    // it stays minimised in the taskbar.
    if (!platform::trayAreaAvailable()) return;
    HideMainWindow();
    AddTrayIcon();
}

void TCoolTrayIcon::TrayAreaLost() {
    // The icon that was the only way back is gone with the area.
    if (FHiddenToTray) RestoreMainWindow();
}

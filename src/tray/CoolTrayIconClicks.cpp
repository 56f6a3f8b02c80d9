// What reaches TrayWindow: the icon's callback messages, told apart into
// clicks, double clicks and mouse events, and the notification area coming
// and going.
#include "CoolTrayIcon.h"

#include <QAction>
#include <QCursor>
#include <QGuiApplication>

namespace {

TShiftState CurrentShiftState(unsigned button) {
    const Qt::KeyboardModifiers keys = QGuiApplication::queryKeyboardModifiers();
    TShiftState shift = button;
    if (keys & Qt::ShiftModifier) shift |= ssShift;
    if (keys & Qt::ControlModifier) shift |= ssCtrl;
    if (keys & Qt::AltModifier) shift |= ssAlt;
    return shift;
}

unsigned ShiftOf(TMouseButton button) {
    switch (button) {
    case mbLeft:
        return ssLeft;
    case mbRight:
        return ssRight;
    case mbMiddle:
        return ssMiddle;
    }
    return 0;
}

} // namespace

intptr_t TCoolTrayIcon::TrayWndProc(unsigned msg, uintptr_t wParam, intptr_t lParam) {
    if (msg == WM_TRAYNOTIFY && wParam == IconId) {
        if (FEnabled) IconMessage(unsigned(lParam));
    } else if (msg == platform::trayAreaCreatedMessage()) {
        if (FIconVisible) AddTrayIcon();
    } else if (msg == platform::trayAreaLostMessage()) {
        TrayAreaLost();
    }
    return 0;
}

void TCoolTrayIcon::IconMessage(unsigned mouseMessage) {
    switch (mouseMessage) {
    case platform::WM_LBUTTONDOWN:
        ClickButtonDown();
        FireMouseDown(mbLeft);
        if (LeftPopup) ShowPopupMenu();
        break;
    case platform::WM_LBUTTONUP:
        ClickButtonUp();
        FireMouseUp(mbLeft);
        break;
    case platform::WM_LBUTTONDBLCLK:
        ClickDoubleClicked();
        if (PopupMenu && !LeftPopup && PopupMenu->defaultAction())
            PopupMenu->defaultAction()->trigger();
        break;
    case platform::WM_RBUTTONDOWN:
        FireMouseDown(mbRight);
        ShowPopupMenu();
        break;
    case platform::WM_RBUTTONUP:
        FireMouseUp(mbRight);
        break;
    case platform::WM_MBUTTONDOWN:
        FireMouseDown(mbMiddle);
        break;
    case platform::WM_MBUTTONUP:
        FireMouseUp(mbMiddle);
        break;
    case platform::WM_MOUSEMOVE:
        FireMouseMove();
        break;
    default:
        break;
    }
}

// The four click events below are the only places FClickState changes
// (besides disabling). Each moves the state before firing, so a handler
// that pumps messages sees the click finished.

void TCoolTrayIcon::ClickButtonDown() {
    // The toolkit reports the second press of a double click as a click of
    // its own before the double click; restarting keeps it from counting.
    FClickState = ckHeld;
    FClickTimer.start();
}

void TCoolTrayIcon::ClickButtonUp() {
    switch (FClickState) {
    case ckHeld:
        FClickState = ckPending;
        break;
    case ckHeldLong:
        FClickState = ckIdle;
        FireClick();
        break;
    default:
        break; // the release that ends a double click
    }
}

void TCoolTrayIcon::ClickDoubleClicked() {
    // Only while the timer runs is there a click to swallow; a late double
    // click must not swallow the next single one.
    FClickState = FClickTimer.isActive() ? ckDoubleClicked : ckIdle;
    FireDblClick();
}

void TCoolTrayIcon::ClickTimerExpired() {
    switch (FClickState) {
    case ckHeld:
        FClickState = ckHeldLong;
        break;
    case ckPending:
        FClickState = ckIdle;
        FireClick();
        break;
    case ckDoubleClicked:
        FClickState = ckIdle;
        break;
    default:
        break;
    }
}

void TCoolTrayIcon::ShowPopupMenu() {
    if (!PopupMenu) return;
    // Not waiting for a choice: the chosen entry runs from the menu like any
    // click, not nested inside this message. The menu grabs the pointer, so
    // a click anywhere else closes it.
    PopupMenu->popup(QCursor::pos());
}

void TCoolTrayIcon::FireClick() {
    if (OnClick) OnClick(this);
}

void TCoolTrayIcon::FireDblClick() {
    if (OnDblClick) OnDblClick(this);
}

void TCoolTrayIcon::FireMouseDown(TMouseButton button) {
    if (!OnMouseDown) return;
    const QPoint at = QCursor::pos();
    OnMouseDown(this, button, CurrentShiftState(ShiftOf(button)), at.x(), at.y());
}

void TCoolTrayIcon::FireMouseUp(TMouseButton button) {
    if (!OnMouseUp) return;
    const QPoint at = QCursor::pos();
    OnMouseUp(this, button, CurrentShiftState(ShiftOf(button)), at.x(), at.y());
}

void TCoolTrayIcon::FireMouseMove() {
    if (!OnMouseMove) return;
    const QPoint at = QCursor::pos();
    OnMouseMove(this, CurrentShiftState(0), at.x(), at.y());
}

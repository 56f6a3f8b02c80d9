// The notification area: one icon per (window, id) with an image and a tip,
// whose mouse input reaches the window as posted callback messages. Built on
// QSystemTrayIcon, which docks the icon in whatever tray host is running and
// docks it again when the host restarts. Without a notification area every
// call still succeeds and nothing shows.
#pragma once

#include "Messages.h"

#include <QIcon>
#include <QMenu>
#include <QPointer>

#include <string>

namespace platform {

// The mouse messages a callback message carries in lParam. The toolkit
// reports whole clicks, so each arrives as a pair: a click as button-down
// then button-up, a double click as double-click then button-up, the context
// click as right down/up, the middle click as middle down/up. Where the icons
// are StatusNotifierItems (a D-Bus tray: KDE, GNOME's AppIndicator
// extension, swaybar), the host's one activation arrives as a double click.
constexpr unsigned WM_MOUSEMOVE = 0x0200;
constexpr unsigned WM_LBUTTONDOWN = 0x0201;
constexpr unsigned WM_LBUTTONUP = 0x0202;
constexpr unsigned WM_LBUTTONDBLCLK = 0x0203;
constexpr unsigned WM_RBUTTONDOWN = 0x0204;
constexpr unsigned WM_RBUTTONUP = 0x0205;
constexpr unsigned WM_MBUTTONDOWN = 0x0207;
constexpr unsigned WM_MBUTTONUP = 0x0208;

// Which fields of TrayIconData an add or a modify applies.
constexpr unsigned NIF_MESSAGE = 1;
constexpr unsigned NIF_ICON = 2;
constexpr unsigned NIF_TIP = 4;

struct TrayIconData {
    WindowId window = 0; // receives the callback messages
    unsigned id = 0;     // tells the icons of one window apart
    unsigned flags = 0;
    unsigned callbackMessage = 0; // wParam = id, lParam = the mouse message
    QIcon icon;
    std::string tip; // UTF-8; empty shows no tooltip
    // Handed to a StatusNotifierItem host, which shows it itself on a right
    // click; an X11 tray leaves menus to the callback's receiver.
    QPointer<QMenu> menu;
};

// Whether a notification area runs on the display now.
bool trayAreaAvailable();

// False when (window, id) already has an icon; that icon is left as it is.
bool addTrayIcon(const TrayIconData& data);
// False when (window, id) has no icon.
bool modifyTrayIcon(const TrayIconData& data);
bool deleteTrayIcon(WindowId window, unsigned id);
bool hasTrayIcon(WindowId window, unsigned id);

// Posted (wParam 0, lParam 0) to every watching window each time a
// notification area appears, and trayAreaLostMessage() each time it goes.
unsigned trayAreaCreatedMessage();
unsigned trayAreaLostMessage();
void watchTrayArea(WindowId window);
void unwatchTrayArea(WindowId window);

} // namespace platform

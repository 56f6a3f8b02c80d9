#include "TrayArea.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QSystemTrayIcon>
#include <QTimer>

#include <algorithm>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace platform {
namespace {

// In the range of registered message numbers, away from every component's
// own messages.
constexpr unsigned TrayAreaCreated = 0xC0F0;
constexpr unsigned TrayAreaLost = 0xC0F1;
// The toolkit does not say when a tray host comes or goes, so watchers poll.
constexpr int WatchIntervalMs = 500;

// Whether the icons are StatusNotifierItems (the D-Bus tray of KDE, GNOME's
// AppIndicator extension, swaybar, waybar...) rather than windows docked in
// an X11 tray. The toolkit decides that once, at its first icon, by whether a
// host is registered then; so does this.
bool StatusNotifierTray() {
    static const bool statusNotifier = [] {
        const QString platform = QGuiApplication::platformName();
        if (platform != "xcb" && !platform.startsWith("wayland")) return false;
        QDBusMessage get = QDBusMessage::createMethodCall("org.kde.StatusNotifierWatcher",
                                                          "/StatusNotifierWatcher",
                                                          "org.freedesktop.DBus.Properties", "Get");
        get << QString("org.kde.StatusNotifierWatcher")
            << QString("IsStatusNotifierHostRegistered");
        const QDBusMessage reply = QDBusConnection::sessionBus().call(get, QDBus::Block, 2000);
        return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
               reply.arguments()[0].value<QDBusVariant>().variant().toBool();
    }();
    return statusNotifier;
}

// One icon. The toolkit shows nothing (and warns) for an icon without an
// image, so the QSystemTrayIcon is shown only once it has one.
class TrayIconEntry {
public:
    explicit TrayIconEntry(const TrayIconData& data) : statusNotifier_(StatusNotifierTray()) {
        data_.window = data.window;
        data_.id = data.id;
        QObject::connect(&icon_, &QSystemTrayIcon::activated, &icon_,
                         [this](QSystemTrayIcon::ActivationReason reason) { Activated(reason); });
        Apply(data);
    }

    void Apply(const TrayIconData& data) {
        if (data.flags & NIF_MESSAGE) data_.callbackMessage = data.callbackMessage;
        if (data.flags & NIF_ICON) {
            data_.icon = data.icon;
            icon_.setIcon(data.icon);
        }
        if (data.flags & NIF_TIP) {
            data_.tip = data.tip;
            icon_.setToolTip(QString::fromStdString(data.tip));
        }
        if (statusNotifier_ && icon_.contextMenu() != data.menu) icon_.setContextMenu(data.menu);
        data_.flags |= data.flags;
        icon_.setVisible(!data_.icon.isNull());
    }

private:
    void Activated(QSystemTrayIcon::ActivationReason reason) {
        switch (reason) {
        case QSystemTrayIcon::Trigger:
            // A host of that kind sends one activation where an X11 tray
            // reports a click and then a double click: the activation is
            // what the user does to bring the window back.
            if (statusNotifier_)
                Post(WM_LBUTTONDBLCLK, WM_LBUTTONUP);
            else
                Post(WM_LBUTTONDOWN, WM_LBUTTONUP);
            break;
        case QSystemTrayIcon::DoubleClick:
            Post(WM_LBUTTONDBLCLK, WM_LBUTTONUP);
            break;
        case QSystemTrayIcon::Context:
            Post(WM_RBUTTONDOWN, WM_RBUTTONUP);
            break;
        case QSystemTrayIcon::MiddleClick:
            Post(WM_MBUTTONDOWN, WM_MBUTTONUP);
            break;
        case QSystemTrayIcon::Unknown:
            break;
        }
    }

    void Post(unsigned first, unsigned second) {
        if (!(data_.flags & NIF_MESSAGE)) return;
        postMessage(data_.window, data_.callbackMessage, data_.id, intptr_t(first));
        postMessage(data_.window, data_.callbackMessage, data_.id, intptr_t(second));
    }

    const bool statusNotifier_;
    TrayIconData data_;
    QSystemTrayIcon icon_;
};

using IconKey = std::pair<WindowId, unsigned>;

std::map<IconKey, std::unique_ptr<TrayIconEntry>>& Icons() {
    static std::map<IconKey, std::unique_ptr<TrayIconEntry>> icons;
    return icons;
}

// Tells the watching windows when a notification area comes or goes.
struct TrayAreaWatch {
    std::vector<WindowId> windows;
    std::unique_ptr<QTimer> timer; // runs while anyone watches
    bool available = false;

    void Poll() {
        const bool now = trayAreaAvailable();
        if (now == available) return;
        available = now;
        for (WindowId w : windows) postMessage(w, now ? TrayAreaCreated : TrayAreaLost, 0, 0);
    }
};

TrayAreaWatch& Watch() {
    static TrayAreaWatch watch;
    return watch;
}

} // namespace

bool trayAreaAvailable() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

bool addTrayIcon(const TrayIconData& data) {
    auto& icons = Icons();
    const IconKey key{data.window, data.id};
    if (icons.count(key)) return false;
    icons[key] = std::make_unique<TrayIconEntry>(data);
    return true;
}

bool modifyTrayIcon(const TrayIconData& data) {
    auto it = Icons().find({data.window, data.id});
    if (it == Icons().end()) return false;
    it->second->Apply(data);
    return true;
}

bool deleteTrayIcon(WindowId window, unsigned id) {
    return Icons().erase({window, id}) > 0;
}

bool hasTrayIcon(WindowId window, unsigned id) {
    return Icons().count({window, id}) > 0;
}

unsigned trayAreaCreatedMessage() {
    return TrayAreaCreated;
}

unsigned trayAreaLostMessage() {
    return TrayAreaLost;
}

void watchTrayArea(WindowId window) {
    TrayAreaWatch& watch = Watch();
    if (std::find(watch.windows.begin(), watch.windows.end(), window) != watch.windows.end())
        return;
    watch.windows.push_back(window);
    if (!watch.timer) {
        watch.available = trayAreaAvailable();
        watch.timer = std::make_unique<QTimer>();
        QObject::connect(watch.timer.get(), &QTimer::timeout, [] { Watch().Poll(); });
        watch.timer->start(WatchIntervalMs);
    }
}

void unwatchTrayArea(WindowId window) {
    TrayAreaWatch& watch = Watch();
    std::erase(watch.windows, window);
    if (watch.windows.empty()) watch.timer.reset();
}

} // namespace platform

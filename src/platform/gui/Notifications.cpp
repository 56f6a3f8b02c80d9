#include "Notifications.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QMap>
#include <QObject>
#include <QUrl>

namespace platform {

namespace {

const char* const Service = "org.freedesktop.Notifications";
const char* const Path = "/org/freedesktop/Notifications";
const char* const Interface = "org.freedesktop.Notifications";
const char* const OpenAction = "default";
// A service that takes longer than this to take a notification is as good as none.
constexpr int CallTimeoutMs = 3000;

class DBusNotifier : public QObject, public Notifier {
    Q_OBJECT
public:
    explicit DBusNotifier(const QDBusConnection& bus) : bus_(bus) {
        bus_.connect(Service, Path, Interface, "ActionInvoked", this,
                     SLOT(ActionInvoked(uint, QString)));
        bus_.connect(Service, Path, Interface, "NotificationClosed", this,
                     SLOT(Closed(uint, uint)));
    }

    bool Notify(const std::string& summary, const std::string& body,
                const std::string& link) override {
        if (!bus_.isConnected()) return false;
        QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, "Notify");
        QStringList actions;
        if (!link.empty()) actions << OpenAction << "Open";
        call << QCoreApplication::applicationName() << uint(0) << QString("brindlewick")
             << QString::fromStdString(summary) << QString::fromStdString(body) << actions
             << QVariantMap() << int(-1);
        const QDBusMessage reply = bus_.call(call, QDBus::Block, CallTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
        if (!link.empty()) links_[reply.arguments()[0].toUInt()] = QString::fromStdString(link);
        return true;
    }

private Q_SLOTS:
    void ActionInvoked(uint id, const QString& action) {
        const auto it = links_.find(id);
        if (it == links_.end() || action != OpenAction) return;
        QDesktopServices::openUrl(QUrl(*it));
    }
    void Closed(uint id, uint) { links_.remove(id); }

private:
    QDBusConnection bus_;
    QMap<uint, QString> links_;
};

std::unique_ptr<Notifier>& Installed() {
    static std::unique_ptr<Notifier> installed;
    return installed;
}

} // namespace

Notifier& notifier() {
    std::unique_ptr<Notifier>& n = Installed();
    if (!n) {
        n = std::make_unique<DBusNotifier>(QDBusConnection::sessionBus());
        // Its bus connection must not outlive the application.
        qAddPostRoutine([] { Installed().reset(); });
    }
    return *n;
}

void installNotifier(std::unique_ptr<Notifier> replacement) {
    Installed() = std::move(replacement);
}

std::unique_ptr<Notifier> createBusNotifier(const std::string& busAddress) {
    const QString address = QString::fromStdString(busAddress);
    return std::make_unique<DBusNotifier>(
        QDBusConnection::connectToBus(address, "brwk-notifications " + address));
}

} // namespace platform

#include "Notifications.moc"

// One screenshot asked of the desktop's screenshot portal
// (org.freedesktop.portal.Screenshot over D-Bus), which is how a Wayland
// client gets a picture of the screen. The answer comes as the Response
// signal of a Request object; everything is asynchronous on the event loop,
// and the wait ends by itself after TimeoutMs.
#pragma once

#include "CaptureOutcome.h"

#include <QDBusConnection>
#include <QObject>
#include <QTimer>
#include <QVariantMap>

#include <functional>
#include <memory>

class QDBusPendingCallWatcher;

namespace platform {

class PortalScreenshot : public QObject {
    Q_OBJECT
public:
    explicit PortalScreenshot(const QDBusConnection& bus);
    ~PortalScreenshot() override;
    PortalScreenshot(const PortalScreenshot&) = delete;
    PortalScreenshot& operator=(const PortalScreenshot&) = delete;

    int TimeoutMs = 60000;
    // Lets the desktop's own picker choose what is captured (a region, a
    // window), rather than the whole screen.
    bool Interactive = false;
    // Fired once per Ask, never from inside Ask.
    std::function<void(PortalScreenshot* Sender, const CaptureOutcome& Outcome)> OnAnswered;

    void Ask();

private Q_SLOTS:
    void Response(uint code, const QVariantMap& results);

private:
    void CallFinished();
    void TimedOut();
    bool Listen(const QString& path);
    void StopListening();
    // Ends the request with its outcome, after the current event.
    void Finish(CaptureOutcome outcome);
    void FireAnswered(const CaptureOutcome& outcome);

    QDBusConnection bus_;
    QString requestPath_; // the Request whose Response is awaited; empty when none
    std::unique_ptr<QDBusPendingCallWatcher> call_;
    QTimer timer_;
    bool asking_ = false;
};

// The object path of the Request that the portal makes for a caller with the
// unique bus name sender and the given handle token.
QString PortalRequestPath(const QString& sender, const QString& token);
// Whether a picture file the portal handed over lies in a directory that was
// made for it (a fresh directory in the temporary or runtime directory),
// rather than in a folder of the user's, such as their pictures folder.
bool PortalMadeDirectoryFor(const QString& file);

} // namespace platform

#include "PortalScreenshot.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QUrl>

#include <unistd.h>

namespace platform {

const char* const NoPortalText = "Screen capture on Wayland needs the desktop portal "
                                 "(xdg-desktop-portal and a backend for your desktop).";
const char* const PortalFailedText =
    "The screen could not be captured: the desktop portal could not take the screenshot.";
const char* const PortalTimeoutText =
    "The screen could not be captured: the desktop portal did not answer in time.";
const char* const PortalRefusedText =
    "The screen could not be captured: the desktop portal refused the request.";
const char* const PortalPictureText =
    "The screen could not be captured: the picture from the desktop portal cannot be read.";

namespace {

const char* const PortalService = "org.freedesktop.portal.Desktop";
const char* const PortalPath = "/org/freedesktop/portal/desktop";
const char* const ScreenshotInterface = "org.freedesktop.portal.Screenshot";
const char* const RequestInterface = "org.freedesktop.portal.Request";

// Tokens need only be unique among this connection's open requests.
QString NextToken() {
    static unsigned counter = 0;
    return QString("brindlewick%1_%2").arg(::getpid()).arg(++counter);
}

// Errors that mean no portal (or none with a screenshot backend) is there.
bool MeansNoPortal(QDBusError::ErrorType type) {
    switch (type) {
    case QDBusError::ServiceUnknown:
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownMethod:
    case QDBusError::UnknownObject:
    case QDBusError::Disconnected:
        return true;
    default:
        return false;
    }
}

std::string Describe(const QDBusError& error) {
    return (error.name() + ": " + error.message()).toStdString();
}

} // namespace

QString PortalRequestPath(const QString& sender, const QString& token) {
    QString name = sender;
    if (name.startsWith(':')) name.remove(0, 1);
    name.replace('.', '_');
    return QString("%1/request/%2/%3").arg(PortalPath, name, token);
}

bool PortalMadeDirectoryFor(const QString& file) {
    const QFileInfo info(file);
    const QFileInfo dir(info.absolutePath());
    if (!dir.isDir() || dir.isSymLink() || dir.ownerId() != ::getuid()) return false;
    // A directory of its own directly inside one of these; never the shared
    // directory itself, nor what a document portal mounts below the runtime
    // directory (its files are the user's own files).
    const QString parent = QFileInfo(dir.absolutePath()).canonicalFilePath();
    QStringList roots{QFileInfo(QDir::tempPath()).canonicalFilePath()};
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty()) roots << QFileInfo(runtime).canonicalFilePath();
    return !parent.isEmpty() && roots.contains(parent) && dir.fileName() != "doc";
}

PortalScreenshot::PortalScreenshot(const QDBusConnection& bus) : bus_(bus) {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &PortalScreenshot::TimedOut);
}

PortalScreenshot::~PortalScreenshot() {
    StopListening();
}

void PortalScreenshot::Ask() {
    if (asking_) return;
    asking_ = true;
    if (!bus_.isConnected()) {
        Finish(CaptureOutcome::Failed(NoPortalText, Describe(bus_.lastError())));
        return;
    }
    // Listening before asking: the answer may come before the call returns.
    const QString token = NextToken();
    Listen(PortalRequestPath(bus_.baseService(), token));
    QDBusMessage call = QDBusMessage::createMethodCall(PortalService, PortalPath,
                                                       ScreenshotInterface, "Screenshot");
    // Not interactive for the whole screen: where the desktop wants the
    // user's say, its own dialog appears anyway, and the user's answer decides.
    const QVariantMap options{{"handle_token", token}, {"interactive", Interactive}};
    call << QString() << options;
    call_ = std::make_unique<QDBusPendingCallWatcher>(bus_.asyncCall(call, -1));
    connect(call_.get(), &QDBusPendingCallWatcher::finished, this, &PortalScreenshot::CallFinished);
    timer_.start(TimeoutMs);
}

bool PortalScreenshot::Listen(const QString& path) {
    StopListening();
    requestPath_ = path;
    return bus_.connect(PortalService, path, RequestInterface, "Response", this,
                        SLOT(Response(uint, QVariantMap)));
}

void PortalScreenshot::StopListening() {
    if (requestPath_.isEmpty()) return;
    bus_.disconnect(PortalService, requestPath_, RequestInterface, "Response", this,
                    SLOT(Response(uint, QVariantMap)));
    requestPath_.clear();
}

void PortalScreenshot::CallFinished() {
    if (!asking_ || !call_) return;
    QDBusPendingReply<QDBusObjectPath> reply = *call_;
    call_.release()->deleteLater();
    if (reply.isError()) {
        const QDBusError error = reply.error();
        Finish(CaptureOutcome::Failed(
            MeansNoPortal(error.type()) ? NoPortalText : PortalRefusedText, Describe(error)));
        return;
    }
    // Portals older than the predictable request paths name another one.
    const QString path = reply.value().path();
    if (path != requestPath_) Listen(path);
}

void PortalScreenshot::Response(uint code, const QVariantMap& results) {
    if (!asking_) return;
    StopListening();
    switch (code) {
    case 0:
        break;
    case 1:
        Finish(CaptureOutcome::Cancelled());
        return;
    default:
        Finish(CaptureOutcome::Failed(
            PortalFailedText,
            QString("%1 answered %2 (the screenshot failed). Check that a portal backend for "
                    "this desktop is installed and running.")
                .arg(ScreenshotInterface)
                .arg(code)
                .toStdString()));
        return;
    }
    const QString uri = results.value("uri").toString();
    const QUrl url(uri);
    if (!url.isLocalFile()) {
        Finish(CaptureOutcome::Failed(PortalPictureText, "The portal named no local file: \"" +
                                                             uri.toStdString() + "\""));
        return;
    }
    const QString file = url.toLocalFile();
    QImageReader reader(file);
    QImage picture = reader.read();
    if (picture.isNull()) {
        Finish(CaptureOutcome::Failed(PortalPictureText,
                                      (file + ": " + reader.errorString()).toStdString()));
        return;
    }
    // The user may keep what the portal saved in their own folders; a copy
    // in a directory made for this answer would only pile up.
    if (PortalMadeDirectoryFor(file)) {
        QFile::remove(file);
        QDir().rmdir(QFileInfo(file).absolutePath()); // only when nothing else is in it
    }
    Finish(CaptureOutcome::Captured(std::move(picture)));
}

void PortalScreenshot::TimedOut() {
    if (!asking_) return;
    // The portal may still show its dialog: closing the request takes it away.
    if (!requestPath_.isEmpty())
        bus_.asyncCall(
            QDBusMessage::createMethodCall(PortalService, requestPath_, RequestInterface, "Close"));
    Finish(CaptureOutcome::Failed(
        PortalTimeoutText,
        QString("No answer to %1 within %2 seconds.")
            .arg(requestPath_.isEmpty() ? QString(ScreenshotInterface) : requestPath_)
            .arg(TimeoutMs / 1000.0)
            .toStdString()));
}

void PortalScreenshot::Finish(CaptureOutcome outcome) {
    asking_ = false;
    timer_.stop();
    StopListening();
    call_.reset();
    // Never from inside Ask, and never while QtDBus is delivering: the
    // handler may delete this object.
    QMetaObject::invokeMethod(
        this, [this, outcome = std::move(outcome)] { FireAnswered(outcome); },
        Qt::QueuedConnection);
}

void PortalScreenshot::FireAnswered(const CaptureOutcome& outcome) {
    if (OnAnswered) OnAnswered(this, outcome);
}

} // namespace platform

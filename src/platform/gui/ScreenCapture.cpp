#include "ScreenCapture.h"

#include "PortalScreenshot.h"
#include "RegionOverlay.h"
#include "Screen.h"

#include <QDBusConnection>
#include <QGuiApplication>

namespace platform {

const char* const NoScreenText = "The screen could not be captured: no screen is connected.";
const char* const NoPictureText =
    "The screen could not be captured: the display gave no picture of it.";

bool OnWayland() {
    return QGuiApplication::platformName().startsWith("wayland");
}

bool AllBlack(const QImage& picture) {
    const QImage rgb =
        picture.format() == QImage::Format_RGB32 || picture.format() == QImage::Format_ARGB32
            ? picture
            : picture.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x)
            if (row[x] & 0xFFFFFF) return false;
    }
    return true;
}

ScreenCapture::ScreenCapture() {
    delay_.setSingleShot(true);
    connect(&delay_, &QTimer::timeout, this, &ScreenCapture::DelayOver);
}

ScreenCapture::~ScreenCapture() = default;

void ScreenCapture::SetState(TState state) {
    state_ = state;
}

bool ScreenCapture::Start() {
    return Start(DelayMs);
}

bool ScreenCapture::Start(int delayMs) {
    if (state_ != csIdle) return false;
    SetState(csWaiting);
    delay_.start(delayMs);
    return true;
}

void ScreenCapture::DelayOver() {
    if (state_ != csWaiting) return;
    if (Way == cwPortal || OnWayland()) {
        AskPortal();
        return;
    }
    if (!HasPrimaryScreen()) {
        Done(CaptureOutcome::Failed(NoScreenText));
        return;
    }
    QPoint origin;
    QImage shot = Area == caPrimaryScreen      ? GrabPrimaryScreen()
                  : Area == caScreenUnderMouse ? ComposeScreens(GrabScreenUnderMouse())
                                               : ComposeScreens(GrabAllScreens(), &origin);
    const bool empty = shot.isNull() || AllBlack(shot);
    if (empty && qEnvironmentVariable("XDG_SESSION_TYPE") == "wayland") {
        AskPortal();
        return;
    }
    if (shot.isNull())
        Done(CaptureOutcome::Failed(
            NoPictureText, "QScreen::grabWindow returned no picture on the \"" +
                               QGuiApplication::platformName().toStdString() + "\" platform."));
    else if (Area == caRegion)
        ChooseRegion(std::move(shot), origin);
    else
        Done(CaptureOutcome::Captured(std::move(shot)));
}

void ScreenCapture::ChooseRegion(QImage picture, QPoint origin) {
    SetState(csChoosing);
    // The chooser stays for the next capture, with its memory.
    if (overlay_)
        overlay_->Restart(std::move(picture), origin);
    else
        overlay_ = std::make_unique<TRegionOverlay>(std::move(picture), origin);
    overlay_->AcceptOnRelease = AcceptOnRelease;
    overlay_->OnDone = [this](TRegionOverlay* overlay, std::optional<QRect> chosen) {
        const CaptureOutcome outcome =
            chosen ? CaptureOutcome::Captured(overlay->Picture().copy(*chosen))
                   : CaptureOutcome::Cancelled();
        overlay->ReleasePicture();
        Done(outcome);
    };
    overlay_->Show();
    if (state_ == csChoosing && OnRegionShown) OnRegionShown(this);
}

void ScreenCapture::AskPortal() {
    SetState(csPortal);
    QDBusConnection bus = PortalBusAddress.isEmpty()
                              ? QDBusConnection::sessionBus()
                              : QDBusConnection::connectToBus(
                                    PortalBusAddress, "brindlewick-portal-" + PortalBusAddress);
    portal_ = std::make_unique<PortalScreenshot>(bus);
    portal_->TimeoutMs = PortalTimeoutMs;
    portal_->Interactive = Area == caRegion;
    portal_->OnAnswered = [this](PortalScreenshot*, const CaptureOutcome& outcome) {
        // Released after this event: it is the sender.
        portal_.release()->deleteLater();
        Done(outcome);
    };
    portal_->Ask();
}

void ScreenCapture::Done(const CaptureOutcome& outcome) {
    SetState(csIdle);
    FireCaptured(outcome);
}

void ScreenCapture::FireCaptured(const CaptureOutcome& outcome) {
    if (OnCaptured) OnCaptured(this, outcome);
}

} // namespace platform

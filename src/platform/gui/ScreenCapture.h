// A picture of the screen, taken asynchronously: the one capture call of the
// program. It waits DelayMs first (for windows just hidden to go), then
// grabs the screens from an X11 display, or asks the desktop's screenshot
// portal on Wayland, where a client cannot read the screen itself. An X11
// client under XWayland whose grab comes back empty or black asks the portal
// too. For a region, the X11 grab of every screen is shown frozen for the
// user to choose from; the portal lets the desktop's own picker choose.
#pragma once

#include "CaptureOutcome.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

namespace platform {

class PortalScreenshot;
class TRegionOverlay;

class ScreenCapture : public QObject {
    Q_OBJECT
public:
    ScreenCapture();
    ~ScreenCapture() override;
    ScreenCapture(const ScreenCapture&) = delete;
    ScreenCapture& operator=(const ScreenCapture&) = delete;

    // How the picture is got: chosen by the platform as above, or always
    // through the portal (for a desktop whose grab gives wrong pictures).
    enum TWay { cwChoose, cwPortal };
    TWay Way = cwChoose;
    // What is captured: one screen, every screen as one picture (as the
    // desktop places them, black where no screen is), or a region of them
    // that the user chooses.
    enum TArea { caPrimaryScreen, caScreenUnderMouse, caAllScreens, caRegion };
    TArea Area = caPrimaryScreen;
    // For a region: releasing the drag accepts it (else Enter or a double click).
    bool AcceptOnRelease = true;
    int DelayMs = 1000;
    // How long the portal may take, including any dialog it shows the user.
    int PortalTimeoutMs = 60000;
    // The D-Bus address the portal is asked on; empty for the session bus.
    QString PortalBusAddress;
    // Fired when the region chooser is on the screens.
    std::function<void(ScreenCapture* Sender)> OnRegionShown;
    // Fired once per started capture, never from inside Start.
    std::function<void(ScreenCapture* Sender, const CaptureOutcome& Outcome)> OnCaptured;

    // False (and nothing happens) while a capture is under way. The wait
    // before the picture is DelayMs unless given.
    bool Start();
    bool Start(int delayMs);
    bool Busy() const { return state_ != csIdle; }
    // The region chooser while it is shown; null otherwise.
    TRegionOverlay* Overlay() const { return state_ == csChoosing ? overlay_.get() : nullptr; }

private:
    enum TState { csIdle, csWaiting, csPortal, csChoosing };
    void SetState(TState state);
    void DelayOver();
    void AskPortal();
    QImage Grab() const;
    void ChooseRegion(QImage picture, QPoint origin);
    void Done(const CaptureOutcome& outcome);
    void FireCaptured(const CaptureOutcome& outcome);

    TState state_ = csIdle;
    QTimer delay_;
    std::unique_ptr<PortalScreenshot> portal_;
    std::unique_ptr<TRegionOverlay> overlay_;
};

// Whether the program runs as a native Wayland client.
bool OnWayland();
// Whether every pixel of the picture is black (what XWayland grabs give).
bool AllBlack(const QImage& picture);

} // namespace platform

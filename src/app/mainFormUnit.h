// The main window: a narrow column of eight buttons that drives the capture
// workflow, the busy flag, and the capture sources behind the buttons.
#pragma once

#include <QPointer>
#include <QWidget>

#include <memory>
#include <string>

class QFrame;
class QAction;
class QLabel;
class QMenu;
class QPushButton;
class TCoolTrayIcon;
class TPublisher;
struct TPublishResult;
class TCustomFtpCli;
class TFtpClient;
class THistoryWindow;
namespace platform {
class ScreenCapture;
struct CaptureOutcome;
} // namespace platform

extern const char* const VersionText;

class TfrmMain : public QWidget {
    Q_OBJECT
public:
    TfrmMain();
    ~TfrmMain() override;

    // Enables the buttons from the working capture file and isBusy.
    void UpdateButtons();
    // Shows the window, from the tray or the minimised state too, and puts
    // it in front of the others: what another start of the program asks for.
    void BringToFront();
    // Hides the window and starts a capture of the primary screen; when it
    // is over the window comes back and the picture replaces the working
    // capture file. The buttons stay disabled meanwhile.
    void CaptureScreen();
    // "Capture region": as CaptureScreen, but the user chooses a rectangle
    // of the frozen screens (on Wayland, the desktop's picker does).
    void CaptureRegion();
    // A capture asked for from outside the window (the command line of
    // another start, the tray): what "Capture screen" (or "Capture region")
    // does, and nothing while a save or publish keeps the button disabled.
    void RequestCapture();
    void RequestCaptureRegion();
    // What follows a capture where the settings ask for it: a publish under
    // a generated name with no box unless something fails, or a save.
    void PublishAtOnce();
    void SaveAtOnce();
    // The publishing methods, after the export of the file name: the
    // publisher of the method, its progress and its result in the boxes.
    // run shows the progress and the result (PublishWithDialogs, PublishQuietly).
    using TPublishRun = TPublishResult (*)(TPublisher&, const std::string&);
    void PublishFtp(const std::string& name, TPublishRun run = nullptr);
    void PublishHttp(const std::string& name, TPublishRun run = nullptr);
    // "Publish" for the capture in the BMP file source: the name prompt, the
    // export, then the configured publishing method.
    void PublishCapture(const std::string& source);

    bool isBusy = false;
    // How long an HTTP publish may go without any progress before it gives up.
    unsigned httpIdleTimeoutMs = 15000;
    // How long the server's answer may take once it has the whole upload.
    unsigned httpAnswerDeadlineMs = 60000;

    QFrame* Bevel1;
    QFrame* Bevel2;
    QFrame* Bevel3;
    QPushButton* btnConfig;
    QPushButton* btnCaptureScreen;
    QPushButton* btnCaptureRegion;
    QPushButton* btnTakeFromClip;
    QPushButton* btnCrop;
    QPushButton* btnSaveLocal;
    QPushButton* btnPublish;
    QPushButton* btnCopyToClip;
    QPushButton* btnAbout;
    QLabel* lblVer;
    std::unique_ptr<TCoolTrayIcon> CoolTrayIcon1;
    // Takes the screen's picture for "Capture screen".
    std::unique_ptr<platform::ScreenCapture> Capture1;
    // Used only by publishing over FTP; reconfigured at every publish.
    std::unique_ptr<TFtpClient> FtpClient1;

    // The tray icon's menu: the window's commands within reach while the
    // window is hidden. Each entry is enabled as its button is.
    std::unique_ptr<QMenu> PopupMenu1;
    QAction* CaptureScreen1 = nullptr;
    QAction* CaptureRegion1 = nullptr;
    QAction* TakeFromClip1 = nullptr;
    QAction* Publish1 = nullptr;
    QAction* Configure1 = nullptr;
    QAction* History1 = nullptr;
    QAction* Show1 = nullptr;
    QAction* Quit1 = nullptr;

    void FormCreate();
    void FormDestroy();
    void FormShow();
    void FormActivate();
    void btnConfigClick();
    void btnCaptureScreenClick();
    void btnCaptureRegionClick();
    void btnTakeFromClipClick();
    void btnCropClick();
    void btnSaveLocalClick();
    void btnPublishClick();
    void btnCopyToClipClick();
    void btnAboutClick();
    // "History...": the History window, made at its first opening; from the
    // tray menu and the window's own context menu (the column of buttons
    // has no room for one more).
    void History1Click();
    std::unique_ptr<THistoryWindow> HistoryWindow1;
    void CoolTrayIcon1DblClick(TCoolTrayIcon* Sender);
    void Capture1Captured(platform::ScreenCapture* Sender, const platform::CaptureOutcome& Outcome);
    void Show1Click();
    void Quit1Click();
    // The FTP client's usage errors.
    void ftpError(TCustomFtpCli* Sender, std::string& Msg);

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void CreateTrayMenu();
    void RunIfEnabled(QPushButton* button, void (TfrmMain::*handler)());
    void UpdateTrayMenu();
    void StartCapture(bool region);
    bool StoreCapture(const platform::CaptureOutcome& outcome);
    void FollowCapture();

    bool shownBefore_ = false;
    // Whether the window was on the screen when the running capture began.
    bool shownAtCapture_ = true;
    QPointer<QWidget> focusBeforeCapture_;
};

// Holds isBusy for the length of a save or publish, whatever way it ends.
class TBusyScope {
public:
    explicit TBusyScope(TfrmMain& form);
    ~TBusyScope();
    TBusyScope(const TBusyScope&) = delete;
    TBusyScope& operator=(const TBusyScope&) = delete;

private:
    TfrmMain& form_;
};

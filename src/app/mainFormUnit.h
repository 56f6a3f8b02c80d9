// The main window: a narrow column of eight buttons that drives the capture
// workflow, the busy flag, and the capture sources behind the buttons.
#pragma once

#include <QWidget>

#include <memory>
#include <string>

class QFrame;
class QLabel;
class QPushButton;
class TCoolTrayIcon;
class TCustomFtpCli;
class TFtpClient;
class TPublishSession;

extern const char* const VersionText;

class TfrmMain : public QWidget {
    Q_OBJECT
public:
    TfrmMain();
    ~TfrmMain() override;

    // Enables the buttons from the working capture file and isBusy.
    void UpdateButtons();
    // Replaces the working capture file by a picture of the primary screen.
    void CaptureScreen();
    // The publishing methods, after the export of the file name.
    void PublishFtp(const std::string& name);
    void PublishHttp(const std::string& name);
    // Shows the public URL of a publish for copying, and puts it on the
    // clipboard first where the settings ask for that.
    void ShowPublishedUrl(const std::string& url);

    bool isBusy = false;
    // How long an HTTP publish may go without any progress before it gives up.
    unsigned httpIdleTimeoutMs = 15000;

    QFrame* Bevel1;
    QFrame* Bevel2;
    QFrame* Bevel3;
    QPushButton* btnConfig;
    QPushButton* btnCaptureScreen;
    QPushButton* btnTakeFromClip;
    QPushButton* btnCrop;
    QPushButton* btnSaveLocal;
    QPushButton* btnPublish;
    QPushButton* btnCopyToClip;
    QPushButton* btnAbout;
    QLabel* lblVer;
    std::unique_ptr<TCoolTrayIcon> CoolTrayIcon1;
    // Used only by publishing over FTP; reconfigured at every publish.
    std::unique_ptr<TFtpClient> FtpClient1;
    // The FTP publish under way, whose failure boxes the client's usage
    // errors join; null otherwise.
    TPublishSession* publishing = nullptr;

    void FormCreate();
    void FormDestroy();
    void FormShow();
    void FormActivate();
    void btnConfigClick();
    void btnCaptureScreenClick();
    void btnTakeFromClipClick();
    void btnCropClick();
    void btnSaveLocalClick();
    void btnPublishClick();
    void btnCopyToClipClick();
    void btnAboutClick();
    void CoolTrayIcon1DblClick(TCoolTrayIcon* Sender);
    // The FTP client's usage errors.
    void ftpError(TCustomFtpCli* Sender, std::string& Msg);

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    static std::unique_ptr<TFtpClient> CreateFtpClient();
    bool shownBefore_ = false;
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

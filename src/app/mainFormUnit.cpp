#include "mainFormUnit.h"

#include "BrindlewickIcon.h"
#include "CaptureImage.h"
#include "CoolTrayIcon.h"
#include "Dialogs.h"
#include "ErrorReport.h"
#include "FastDIB.h"
#include "FtpPublisher.h"
#include "FtpSteps.h"
#include "HistoryWindow.h"
#include "HttpPublisher.h"
#include "JpegExport.h"
#include "Notifications.h"
#include "PublishDialogs.h"
#include "Screen.h"
#include "ScreenCapture.h"
#include "WorkingFiles.h"
#include "configFormUnit.h"
#include "configUnit.h"
#include "modifyCaptureUnit.h"

#include <QAction>
#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QUrl>

#include <stdexcept>

const char* const VersionText = "1.0.0.6.beta";

namespace {

const std::string AboutText = std::string("Brindlewick\n") + VersionText +
                              "\n"
                              "\n"
                              "Puts a picture of your screen on the web.\n"
                              "Made by the Brindlewick developers.\n"
                              "\n"
                              "https://brindlewick.example.org/";

void Message(const std::string& text) {
    platform::dialogs().MessageBox(text);
}

// The layout is in pixels; where the desktop's font is wider than the one it
// was made for, the buttons share a smaller font instead of cutting captions.
void FitCaptions(std::initializer_list<QPushButton*> buttons) {
    QFont f = buttons.begin()[0]->font();
    auto fits = [&] {
        for (QPushButton* b : buttons) {
            const int margins =
                2 * b->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, b) + 4;
            if (QFontMetrics(f).horizontalAdvance(b->text()) + margins > b->width()) return false;
        }
        return true;
    };
    while (f.pixelSize() > 8 && !fits()) f.setPixelSize(f.pixelSize() - 1);
    for (QPushButton* b : buttons) b->setFont(f);
}

} // namespace

TfrmMain::TfrmMain() {
    setWindowTitle("Brindlewick!");
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(159, 394);
    // The layout is in pixels and made for a font 11 pixels high.
    QFont f = font();
    f.setPixelSize(11);
    setFont(f);

    auto bevel = [this](int x, int y, int w, int h) {
        auto* b = new QFrame(this);
        b->setFrameStyle(QFrame::Box | QFrame::Sunken);
        b->setGeometry(x, y, w, h);
        return b;
    };
    auto button = [this](const char* caption, int x, int y, int w, int h,
                         void (TfrmMain::*handler)()) {
        auto* b = new QPushButton(caption, this);
        b->setGeometry(x, y, w, h);
        connect(b, &QPushButton::clicked, this,
                [this, handler] { platform::Guarded([&] { (this->*handler)(); }); });
        return b;
    };
    Bevel3 = bevel(0, 8, 153, 49);
    btnConfig = button("Configure", 8, 16, 137, 33, &TfrmMain::btnConfigClick);
    // "Capture region" sits under "Capture screen"; everything below it is
    // one button lower than the designed column.
    constexpr int below = 40;
    Bevel1 = bevel(0, 64, 153, 89 + below);
    btnCaptureScreen = button("Capture screen", 8, 72, 137, 33, &TfrmMain::btnCaptureScreenClick);
    btnCaptureRegion = button("Capture region", 8, 112, 137, 33, &TfrmMain::btnCaptureRegionClick);
    btnTakeFromClip = button("Take image from clipboard", 8, 112 + below, 137, 33,
                             &TfrmMain::btnTakeFromClipClick);
    Bevel2 = bevel(0, 160 + below, 153, 169);
    btnCrop = button("Crop && adjust", 8, 168 + below, 137, 33, &TfrmMain::btnCropClick);
    btnSaveLocal =
        button("Save on this computer", 8, 208 + below, 137, 33, &TfrmMain::btnSaveLocalClick);
    btnPublish = button("Publish", 8, 248 + below, 137, 33, &TfrmMain::btnPublishClick);
    btnCopyToClip =
        button("Copy to clipboard", 8, 288 + below, 137, 33, &TfrmMain::btnCopyToClipClick);
    lblVer = new QLabel("lblVer", this);
    lblVer->setGeometry(8, 336 + below, 26, 13);
    btnAbout = button("About", 96, 336 + below, 57, 17, &TfrmMain::btnAboutClick);

    FitCaptions({btnConfig, btnCaptureScreen, btnCaptureRegion, btnTakeFromClip, btnCrop,
                 btnSaveLocal, btnPublish, btnCopyToClip, btnAbout});

    // The designed order, then the new button: keyboard users keep their way.
    QWidget* order[] = {btnCaptureScreen, btnCrop,       btnSaveLocal, btnPublish,      btnConfig,
                        btnTakeFromClip,  btnCopyToClip, btnAbout,     btnCaptureRegion};
    for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
    btnCaptureScreen->setFocus();
    FtpClient1 = CreatePublishFtpClient();
    FtpClient1->OnError = [this](TCustomFtpCli* sender, std::string& msg) {
        ftpError(sender, msg);
    };
    Capture1 = std::make_unique<platform::ScreenCapture>();
    Capture1->OnCaptured = [this](platform::ScreenCapture* sender,
                                  const platform::CaptureOutcome& outcome) {
        Capture1Captured(sender, outcome);
    };

    CoolTrayIcon1 = std::make_unique<TCoolTrayIcon>(this);
    CoolTrayIcon1->CycleInterval = 0;
    CoolTrayIcon1->SetIcon(BrindlewickIcon());
    CoolTrayIcon1->IconIndex = 0;
    CoolTrayIcon1->MinimizeToTray = true;
    CoolTrayIcon1->OnDblClick = [this](TCoolTrayIcon* sender) { CoolTrayIcon1DblClick(sender); };
    CreateTrayMenu();
    // Right-click anywhere off the buttons, or Ctrl+H.
    auto* history = new QAction("History...", this);
    history->setShortcut(QKeySequence("Ctrl+H"));
    connect(history, &QAction::triggered, this,
            [this] { platform::Guarded([this] { History1Click(); }); });
    addAction(history);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    FormCreate();
}

TfrmMain::~TfrmMain() {
    HistoryWindow1.reset();
    FormDestroy();
}

void TfrmMain::FormCreate() {
    DeleteWorkingFile();
}

void TfrmMain::FormDestroy() {
    DeleteWorkingFile();
}

void TfrmMain::showEvent(QShowEvent* event) {
    if (!shownBefore_) {
        shownBefore_ = true;
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect area = screen->geometry();
            move(area.center() - QPoint(width() / 2, height() / 2));
        }
    }
    QWidget::showEvent(event);
    FormShow();
}

void TfrmMain::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
}

void TfrmMain::FormShow() {
    lblVer->setText(VersionText);
    lblVer->adjustSize();
    CoolTrayIcon1->SetHint(std::string("Brindlewick ") + VersionText);
}

void TfrmMain::FormActivate() {
    UpdateButtons();
}

void TfrmMain::UpdateButtons() {
    btnConfig->setEnabled(true);
    btnTakeFromClip->setEnabled(true);
    btnCaptureScreen->setEnabled(true);
    btnCaptureRegion->setEnabled(true);
    for (QPushButton* b : {btnCrop, btnSaveLocal, btnPublish, btnCopyToClip})
        b->setEnabled(WorkingFileExists());
    if (isBusy || Capture1->Busy())
        for (QPushButton* b : {btnCrop, btnSaveLocal, btnPublish, btnCaptureScreen,
                               btnCaptureRegion, btnConfig, btnCopyToClip, btnTakeFromClip})
            b->setEnabled(false);
    UpdateTrayMenu();
}

void TfrmMain::BringToFront() {
    if (!isVisible() || isMinimized()) {
        CoolTrayIcon1->RestoreMainWindow();
        return; // it raises and activates the window once it is mapped again
    }
    raise();
    activateWindow();
}

void TfrmMain::btnConfigClick() {
    if (frmConfig) frmConfig->exec();
    UpdateButtons();
}

void TfrmMain::btnCaptureScreenClick() {
    CaptureScreen();
}

void TfrmMain::CaptureScreen() {
    StartCapture(false);
}

void TfrmMain::btnCaptureRegionClick() {
    CaptureRegion();
}

void TfrmMain::CaptureRegion() {
    StartCapture(true);
}

void TfrmMain::StartCapture(bool region) {
    using platform::ScreenCapture;
    if (Capture1->Busy()) return;
    LoadSettings();
    const ScreenCapture::TArea screens[] = {ScreenCapture::caPrimaryScreen,
                                            ScreenCapture::caScreenUnderMouse,
                                            ScreenCapture::caAllScreens};
    Capture1->Area = region ? ScreenCapture::caRegion : screens[Settings.captureScreens];
    Capture1->AcceptOnRelease = Settings.regionOnRelease;
    shownAtCapture_ = isVisible() && !isMinimized();
    // With the window already off the screen a region is chosen at once:
    // the key of a shortcut should bring the chooser up without a wait.
    if (!Capture1->Start(region && !shownAtCapture_ ? 0 : Capture1->DelayMs)) return;
    // Disabling the buttons takes the keyboard focus off them.
    focusBeforeCapture_ = focusWidget();
    UpdateButtons();
    // Off the screen before the picture is taken: the capture waits a
    // moment for that.
    hide();
}

void TfrmMain::Capture1Captured(platform::ScreenCapture*, const platform::CaptureOutcome& outcome) {
    bool stored = false;
    platform::Guarded([&] { stored = StoreCapture(outcome); });
    // Only the designed way shows the window after every capture; the
    // others bring it back where it was on the screen before.
    if (Settings.afterCapture == settings::AfterShowWindow || shownAtCapture_) show();
    UpdateButtons();
    if (focusBeforeCapture_ && focusBeforeCapture_->isEnabled()) focusBeforeCapture_->setFocus();
    if (stored) FollowCapture();
}

void TfrmMain::FollowCapture() {
    switch (Settings.afterCapture) {
    case settings::AfterOpenEditor:
        RunIfEnabled(btnCrop, &TfrmMain::btnCropClick);
        return;
    case settings::AfterPublish:
        RunIfEnabled(btnPublish, &TfrmMain::PublishAtOnce);
        return;
    case settings::AfterSave:
        RunIfEnabled(btnSaveLocal, &TfrmMain::SaveAtOnce);
        return;
    default:
        return;
    }
}

bool TfrmMain::StoreCapture(const platform::CaptureOutcome& outcome) {
    // Whatever does not give a picture leaves the previous capture as it was.
    switch (outcome.Result) {
    case platform::crCaptured: {
        TFastDIB bitmap;
        if (!bitmap.AssignImage(outcome.Picture, CaptureDepth(platform::PrimaryScreenDepth()))) {
            platform::dialogs().MessageBoxWithDetails(
                "The screen could not be captured: there is not enough memory for its picture.",
                QString("%1 x %2 pixels")
                    .arg(outcome.Picture.width())
                    .arg(outcome.Picture.height())
                    .toStdString());
            return false;
        }
        WriteWorkingFile(bitmap);
        return true;
    }
    case platform::crCancelled:
        return false;
    case platform::crFailed:
        platform::dialogs().MessageBoxWithDetails(outcome.Message, outcome.Details);
        return false;
    }
    return false;
}

void TfrmMain::btnTakeFromClipClick() {
    if (platform::ClipboardHasBitmap()) {
        const QImage picture = platform::ClipboardBitmap();
        TFastDIB bitmap;
        if (!bitmap.AssignImage(picture, ClipboardDepth(picture)))
            throw std::runtime_error("The picture on the clipboard cannot be read.");
        WriteWorkingFile(bitmap);
    } else {
        Message("Clipboard doesn't containt bitmap-data!");
    }
    UpdateButtons();
}

void TfrmMain::btnCropClick() {
    if (frmModifyCapture) {
        frmModifyCapture->CaptureFile = WorkingFilePath();
        frmModifyCapture->exec();
    }
    UpdateButtons();
}

TBusyScope::TBusyScope(TfrmMain& form) : form_(form) {
    form_.isBusy = true;
    form_.UpdateButtons();
}

TBusyScope::~TBusyScope() {
    form_.isBusy = false;
    form_.UpdateButtons();
}

void TfrmMain::btnSaveLocalClick() {
    TBusyScope busy(*this);
    LoadSettings();
    const std::string name = GenerateFileName() + ".jpg";
    const std::string path = ExportFilePath(name);
    ConvertBmpToJpeg(WorkingFilePath(), path);
    platform::dialogs().InputBox("Local save", "Filename", path);
}

void TfrmMain::btnPublishClick() {
    PublishCapture(WorkingFilePath());
}

void TfrmMain::PublishCapture(const std::string& source) {
    const std::optional<std::string> name = ExportForPublish(source);
    if (name && Settings.transferType == settings::TransferFtp)
        PublishFtp(*name);
    else if (name)
        PublishHttp(*name);
    if (name && HistoryWindow1 && HistoryWindow1->isVisible()) HistoryWindow1->Reload();
    UpdateButtons();
}

void TfrmMain::PublishAtOnce() {
    const std::string name = ExportUnderGeneratedName(WorkingFilePath());
    if (Settings.transferType == settings::TransferFtp)
        PublishFtp(name, PublishQuietly);
    else
        PublishHttp(name, PublishQuietly);
    if (HistoryWindow1 && HistoryWindow1->isVisible()) HistoryWindow1->Reload();
    UpdateButtons();
}

void TfrmMain::SaveAtOnce() {
    TBusyScope busy(*this);
    LoadSettings();
    const std::string path = ExportFilePath(GenerateFileName() + ".jpg");
    ConvertBmpToJpeg(WorkingFilePath(), path);
    const std::string url =
        QUrl::fromLocalFile(QString::fromStdString(path)).toString().toStdString();
    if (!platform::notifier().Notify("Saved: " + path, "", url))
        platform::dialogs().InputBox("Local save", "Filename", path);
}

void TfrmMain::PublishFtp(const std::string& name, TPublishRun run) {
    TBusyScope busy(*this);
    TFtpPublisher publisher(Settings, FtpClient1.get());
    (run ? run : PublishWithDialogs)(publisher, name);
    // The publish took the client's handlers for its own.
    FtpClient1->OnError = [this](TCustomFtpCli* sender, std::string& msg) {
        ftpError(sender, msg);
    };
}

void TfrmMain::PublishHttp(const std::string& name, TPublishRun run) {
    TBusyScope busy(*this);
    THttpPublisher publisher(Settings);
    publisher.IdleTimeoutMs = httpIdleTimeoutMs;
    (run ? run : PublishWithDialogs)(publisher, name);
}

void TfrmMain::ftpError(TCustomFtpCli*, std::string& Msg) {
    Message(FtpErrorText(Msg));
}

void TfrmMain::btnCopyToClipClick() {
    TFastDIB bitmap;
    if (!bitmap.LoadBitmapFile(WorkingFilePath()))
        throw std::runtime_error("Cannot open file \"" + WorkingFilePath() + "\". " +
                                 bitmap.LoadError);
    platform::SetClipboardBitmap(bitmap.ToImage());
    UpdateButtons();
}

void TfrmMain::btnAboutClick() {
    Message(AboutText);
}

void TfrmMain::History1Click() {
    if (!HistoryWindow1) HistoryWindow1 = std::make_unique<THistoryWindow>();
    HistoryWindow1->show();
    HistoryWindow1->raise();
    HistoryWindow1->activateWindow();
}

void TfrmMain::CoolTrayIcon1DblClick(TCoolTrayIcon*) {
    CoolTrayIcon1->RestoreMainWindow();
}

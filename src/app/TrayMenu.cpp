// The tray icon's menu of the main window. Its entries run the handlers of
// the window's buttons, so they do exactly what the buttons do, and they
// follow the buttons' enabled states.
#include "CoolTrayIcon.h"
#include "ErrorReport.h"
#include "mainFormUnit.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QPushButton>

void TfrmMain::CreateTrayMenu() {
    // No parent: the window holds it, and Qt must not delete it a second time.
    PopupMenu1 = std::make_unique<QMenu>();
    PopupMenu1->setObjectName("PopupMenu1");
    auto entry = [this](const char* caption, QPushButton* button, void (TfrmMain::*handler)()) {
        QAction* a = PopupMenu1->addAction(caption);
        connect(a, &QAction::triggered, this, [=, this] { RunIfEnabled(button, handler); });
        return a;
    };
    CaptureScreen1 = entry("Capture screen", btnCaptureScreen, &TfrmMain::btnCaptureScreenClick);
    CaptureRegion1 = entry("Capture region", btnCaptureRegion, &TfrmMain::btnCaptureRegionClick);
    TakeFromClip1 =
        entry("Take image from clipboard", btnTakeFromClip, &TfrmMain::btnTakeFromClipClick);
    Publish1 = entry("Publish", btnPublish, &TfrmMain::btnPublishClick);
    Configure1 = entry("Configure", btnConfig, &TfrmMain::btnConfigClick);
    History1 = PopupMenu1->addAction("History...");
    connect(History1, &QAction::triggered, this,
            [this] { platform::Guarded([this] { History1Click(); }); });
    PopupMenu1->addSeparator();
    Show1 = PopupMenu1->addAction("Show");
    connect(Show1, &QAction::triggered, this,
            [this] { platform::Guarded([this] { Show1Click(); }); });
    Quit1 = PopupMenu1->addAction("Quit");
    connect(Quit1, &QAction::triggered, this,
            [this] { platform::Guarded([this] { Quit1Click(); }); });
    // The capture file may have come or gone since the buttons were last set.
    connect(PopupMenu1.get(), &QMenu::aboutToShow, this, [this] { UpdateButtons(); });
    CoolTrayIcon1->PopupMenu = PopupMenu1.get();
    UpdateTrayMenu();
}

void TfrmMain::RunIfEnabled(QPushButton* button, void (TfrmMain::*handler)()) {
    // The menu may have been open while a save or publish began.
    if (button->isEnabled()) platform::Guarded([this, handler] { (this->*handler)(); });
}

void TfrmMain::RequestCapture() {
    RunIfEnabled(btnCaptureScreen, &TfrmMain::btnCaptureScreenClick);
}

void TfrmMain::RequestCaptureRegion() {
    RunIfEnabled(btnCaptureRegion, &TfrmMain::btnCaptureRegionClick);
}

void TfrmMain::UpdateTrayMenu() {
    if (!PopupMenu1) return;
    CaptureScreen1->setEnabled(btnCaptureScreen->isEnabled());
    CaptureRegion1->setEnabled(btnCaptureRegion->isEnabled());
    TakeFromClip1->setEnabled(btnTakeFromClip->isEnabled());
    Publish1->setEnabled(btnPublish->isEnabled());
    Configure1->setEnabled(btnConfig->isEnabled());
    // Quitting would cut off a save or publish under way.
    Quit1->setEnabled(!isBusy);
}

void TfrmMain::Show1Click() {
    CoolTrayIcon1->RestoreMainWindow();
}

void TfrmMain::Quit1Click() {
    close();
    // Closing a window hidden to the tray is not the last window closing.
    QCoreApplication::quit();
}

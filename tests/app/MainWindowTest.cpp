#include "CoolTrayIcon.h"
#include "FastDIB.h"
#include "HistoryWindow.h"
#include "MainWindowFixture.h"
#include "ScriptedDialogs.h"
#include "TempDirScope.h"
#include "WorkingFiles.h"
#include "mainFormUnit.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTest>

#include <unistd.h>

namespace {

struct MainWindowTest : testing::Test {
    TempDirScope tmp;
    ScriptedDialogsScope dialogs;
};

} // namespace

TEST_F(MainWindowTest, LayoutCaptionsAndTabOrder) {
    TfrmMain w;
    EXPECT_EQ(w.windowTitle(), "Brindlewick!");
    // The designed column with "Capture region" under "Capture screen".
    EXPECT_EQ(w.size(), QSize(159, 394));
    EXPECT_EQ(w.minimumSize(), w.maximumSize()) << "not resizable";
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(w.windowFlags() & Qt::WindowMinimizeButtonHint);

    struct Expected {
        QPushButton* button;
        const char* caption;
        QRect geometry;
    };
    const Expected buttons[] = {
        {w.btnConfig, "Configure", {8, 16, 137, 33}},
        {w.btnCaptureScreen, "Capture screen", {8, 72, 137, 33}},
        {w.btnCaptureRegion, "Capture region", {8, 112, 137, 33}},
        {w.btnTakeFromClip, "Take image from clipboard", {8, 152, 137, 33}},
        {w.btnCrop, "Crop && adjust", {8, 208, 137, 33}},
        {w.btnSaveLocal, "Save on this computer", {8, 248, 137, 33}},
        {w.btnPublish, "Publish", {8, 288, 137, 33}},
        {w.btnCopyToClip, "Copy to clipboard", {8, 328, 137, 33}},
        {w.btnAbout, "About", {96, 376, 57, 17}},
    };
    for (const Expected& e : buttons) {
        EXPECT_EQ(e.button->text().toStdString(), e.caption);
        EXPECT_EQ(e.button->geometry(), e.geometry) << e.caption;
        // The whole caption fits inside the button.
        EXPECT_LT(e.button->fontMetrics().horizontalAdvance(e.button->text().replace("&&", "&")),
                  e.geometry.width() - 8)
            << e.caption;
    }
    EXPECT_EQ(w.Bevel3->geometry(), QRect(0, 8, 153, 49));
    EXPECT_EQ(w.Bevel1->geometry(), QRect(0, 64, 153, 129));
    EXPECT_EQ(w.Bevel2->geometry(), QRect(0, 200, 153, 169));

    QWidget* order[] = {w.btnCaptureScreen, w.btnCrop,   w.btnSaveLocal,
                        w.btnPublish,       w.btnConfig, w.btnTakeFromClip,
                        w.btnCopyToClip,    w.btnAbout,  w.btnCaptureRegion};
    auto nextTabStop = [](QWidget* from) {
        QWidget* next = from->nextInFocusChain();
        while (next != from && !(next->focusPolicy() & Qt::TabFocus))
            next = next->nextInFocusChain();
        return next;
    };
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        EXPECT_EQ(nextTabStop(order[i]), order[i + 1]) << i;
}

TEST_F(MainWindowTest, VersionLabelIsSetWhenShown) {
    TfrmMain w;
    EXPECT_EQ(w.lblVer->text(), "lblVer");
    w.show();
    EXPECT_EQ(w.lblVer->text(), "1.0.0.6.beta");
    w.lblVer->setText("changed");
    w.hide();
    w.show();
    EXPECT_EQ(w.lblVer->text(), "1.0.0.6.beta");
}

TEST_F(MainWindowTest, StaleCaptureIsDeletedAtStartAndAtEnd) {
    WriteCapture(WorkingFilePath());
    {
        TfrmMain w;
        EXPECT_FALSE(WorkingFileExists());
        w.UpdateButtons();
        EXPECT_EQ(Buttons(w), ExpectedButtons(true, false));
        WriteCapture(WorkingFilePath());
    }
    EXPECT_FALSE(WorkingFileExists());
}

TEST_F(MainWindowTest, ButtonStatesFollowTheCaptureAndTheBusyFlag) {
    TfrmMain w;
    w.UpdateButtons();
    EXPECT_EQ(Buttons(w), ExpectedButtons(true, false));
    WriteCapture(WorkingFilePath());
    w.UpdateButtons();
    EXPECT_EQ(Buttons(w), ExpectedButtons(true, true));
    w.isBusy = true;
    w.UpdateButtons();
    EXPECT_EQ(Buttons(w), ExpectedButtons(false, false));
    DeleteWorkingFile();
    w.UpdateButtons();
    EXPECT_EQ(Buttons(w), ExpectedButtons(false, false));
    w.isBusy = false;
    w.UpdateButtons();
    EXPECT_EQ(Buttons(w), ExpectedButtons(true, false));
}

TEST_F(MainWindowTest, ActivationReevaluatesTheButtons) {
    TfrmMain w;
    w.show();
    w.UpdateButtons();
    WriteCapture(WorkingFilePath());
    EXPECT_FALSE(w.btnCrop->isEnabled());
    QApplication::setActiveWindow(&w);
    QEvent activation(QEvent::ActivationChange);
    QApplication::sendEvent(&w, &activation);
    EXPECT_TRUE(w.btnCrop->isEnabled());
}

TEST_F(MainWindowTest, AboutShowsNameVersionAndCredits) {
    TfrmMain w;
    QTest::mouseClick(w.btnAbout, Qt::LeftButton);
    ASSERT_EQ(dialogs->Messages().size(), 1u);
    const std::string text = dialogs->Messages()[0];
    EXPECT_EQ(text.rfind("Brindlewick\n1.0.0.6.beta\n\n", 0), 0u) << text;
    EXPECT_GT(text.size(), std::string("Brindlewick\n1.0.0.6.beta\n\n").size() + 10);
    EXPECT_EQ(dialogs->shown[0].caption, "tests_app")
        << "the title comes from the program file's name";
}

TEST_F(MainWindowTest, ClipboardWithoutPictureKeepsTheCapture) {
    TfrmMain w;
    WriteCapture(WorkingFilePath());
    const std::vector<uint8_t> before = ReadFileBytes(WorkingFilePath());
    QApplication::clipboard()->setText("just text");
    QTest::mouseClick(w.btnTakeFromClip, Qt::LeftButton);
    EXPECT_EQ(dialogs->Messages(),
              std::vector<std::string>{"Clipboard doesn't containt bitmap-data!"});
    EXPECT_EQ(ReadFileBytes(WorkingFilePath()), before);
    EXPECT_TRUE(w.btnPublish->isEnabled());
}

TEST_F(MainWindowTest, CopyToClipboardAndBackKeepsThePixels) {
    TfrmMain w;
    WriteCapture(WorkingFilePath(), 5, 3);
    QTest::mouseClick(w.btnCopyToClip, Qt::LeftButton);
    const QImage offered = QApplication::clipboard()->image();
    ASSERT_EQ(offered.size(), QSize(5, 3));
    EXPECT_EQ(offered.pixel(0, 0) & 0xFFFFFF, 0xFF0000u) << "upright";
    EXPECT_EQ(offered.pixel(4, 2) & 0xFFFFFF, 0x0000FFu);

    TFastDIB original;
    ASSERT_TRUE(original.LoadBitmapFile(WorkingFilePath()));
    DeleteWorkingFile();
    QTest::mouseClick(w.btnTakeFromClip, Qt::LeftButton);
    EXPECT_TRUE(dialogs->Messages().empty());
    TFastDIB back;
    ASSERT_TRUE(back.LoadBitmapFile(WorkingFilePath()));
    ASSERT_EQ(back.Width(), 5);
    ASSERT_EQ(back.RowCount, 3);
    EXPECT_GT(back.Height(), 0) << "stored bottom-up";
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(back.GetColor(back.RowOf(y), x), original.GetColor(original.RowOf(y), x))
                << x << "," << y;
    EXPECT_TRUE(w.btnCrop->isEnabled());
}

TEST_F(MainWindowTest, ClipboardPictureKeepsItsDepth) {
    TfrmMain w;
    QImage paletted(3, 2, QImage::Format_Indexed8);
    paletted.setColorTable({qRgb(10, 20, 30), qRgb(200, 100, 50)});
    paletted.fill(0);
    paletted.setPixel(2, 1, 1);
    QApplication::clipboard()->setImage(paletted);
    QTest::mouseClick(w.btnTakeFromClip, Qt::LeftButton);
    TFastDIB back;
    ASSERT_TRUE(back.LoadBitmapFile(WorkingFilePath()));
    EXPECT_EQ(back.BitCount(), QApplication::clipboard()->image().depth() == 8 ? 8 : 32);
    EXPECT_EQ(back.GetColor(back.RowOf(1), 2), 0xC86432u);
    EXPECT_EQ(back.GetColor(back.RowOf(0), 0), 0x0A141Eu);
}

TEST_F(MainWindowTest, UnreadableCaptureIsReportedAndTheProgramGoesOn) {
    TfrmMain w;
    WriteFileBytes(WorkingFilePath(), {'n', 'o', 't', ' ', 'a', ' ', 'b', 'm', 'p'});
    QApplication::clipboard()->setText("before");
    QTest::mouseClick(w.btnCopyToClip, Qt::LeftButton);
    ASSERT_EQ(dialogs->Messages().size(), 1u);
    EXPECT_NE(dialogs->Messages()[0].find(WorkingFilePath()), std::string::npos)
        << dialogs->Messages()[0];
    EXPECT_EQ(QApplication::clipboard()->text(), "before") << "the clipboard is left as it was";
    QTest::mouseClick(w.btnAbout, Qt::LeftButton);
    EXPECT_EQ(dialogs->Messages().size(), 2u);
}

TEST_F(MainWindowTest, UnusableTemporaryDirectoryLeavesNoCapture) {
    TfrmMain w;
    // A file where the working directory belongs.
    ::rmdir(tmp.Path().c_str());
    WriteFileBytes(tmp.Base() + "Brindlewick", {'x'});
    QApplication::clipboard()->setImage(QImage(4, 4, QImage::Format_RGB32));
    QTest::mouseClick(w.btnTakeFromClip, Qt::LeftButton);
    ASSERT_EQ(dialogs->Messages().size(), 1u);
    EXPECT_NE(dialogs->Messages()[0].find(tmp.Base() + "Brindlewick"), std::string::npos)
        << dialogs->Messages()[0];
    EXPECT_FALSE(WorkingFileExists());
}

TEST_F(MainWindowTest, TrayMenuEntriesAreEnabledAsTheirButtons) {
    TfrmMain w;
    QStringList entries;
    for (QAction* a : w.PopupMenu1->actions())
        if (!a->isSeparator()) entries << a->text();
    EXPECT_EQ(entries, (QStringList{"Capture screen", "Capture region", "Take image from clipboard",
                                    "Publish", "Configure", "History...", "Show", "Quit"}));
    EXPECT_EQ(w.CoolTrayIcon1->PopupMenu, w.PopupMenu1.get());

    const std::pair<QAction*, QPushButton*> follows[] = {{w.CaptureScreen1, w.btnCaptureScreen},
                                                         {w.CaptureRegion1, w.btnCaptureRegion},
                                                         {w.TakeFromClip1, w.btnTakeFromClip},
                                                         {w.Publish1, w.btnPublish},
                                                         {w.Configure1, w.btnConfig}};
    struct State {
        bool captured, busy;
    };
    for (State s : {State{false, false}, State{true, false}, State{true, true}, State{false, true},
                    State{false, false}}) {
        if (s.captured)
            WriteCapture(WorkingFilePath());
        else
            DeleteWorkingFile();
        w.isBusy = s.busy;
        w.UpdateButtons();
        for (auto [entry, button] : follows)
            EXPECT_EQ(entry->isEnabled(), button->isEnabled())
                << entry->text().toStdString() << " captured " << s.captured << " busy " << s.busy;
        EXPECT_EQ(w.Publish1->isEnabled(), s.captured && !s.busy);
        EXPECT_EQ(w.Quit1->isEnabled(), !s.busy) << "no quitting in the middle of a publish";
        EXPECT_TRUE(w.Show1->isEnabled());
    }
    w.History1->trigger();
    ASSERT_TRUE(w.HistoryWindow1);
    EXPECT_TRUE(w.HistoryWindow1->isVisible());
}

TEST_F(MainWindowTest, TrayMenuEntriesDoWhatTheButtonsDo) {
    TfrmMain w;
    QApplication::clipboard()->setText("just text");
    w.TakeFromClip1->trigger();
    EXPECT_EQ(dialogs->Messages(),
              std::vector<std::string>{"Clipboard doesn't containt bitmap-data!"});
    QApplication::clipboard()->setImage(QImage(4, 3, QImage::Format_RGB32));
    w.TakeFromClip1->trigger();
    EXPECT_TRUE(WorkingFileExists());
    EXPECT_TRUE(w.Publish1->isEnabled()) << "the buttons and entries were brought up to date";

    // Publish asks for the name as the button does; cancelled, it stops there.
    w.Publish1->trigger();
    ASSERT_EQ(dialogs->shown.size(), 2u);
    EXPECT_EQ(dialogs->shown[1].kind, "query");
    EXPECT_EQ(dialogs->shown[1].caption, "Preparing for publishing");

    // While busy an entry does nothing.
    w.isBusy = true;
    w.UpdateButtons();
    DeleteWorkingFile();
    w.TakeFromClip1->trigger();
    EXPECT_FALSE(WorkingFileExists());
    w.show();
    w.Quit1->trigger();
    EXPECT_TRUE(w.isVisible());
    w.isBusy = false;
    w.UpdateButtons();

    w.hide();
    w.Show1->trigger();
    EXPECT_TRUE(w.isVisible());
    w.Quit1->trigger();
    EXPECT_FALSE(w.isVisible());
}

#include "ConfigDirScope.h"
#include "FtpCli.h"
#include "MainWindowFixture.h"
#include "ScriptedDialogs.h"
#include "ScriptedTcpServer.h"
#include "TempDirScope.h"
#include "WorkingFiles.h"
#include "configFormUnit.h"
#include "configUnit.h"
#include "mainFormUnit.h"
#include "modifyCaptureUnit.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <regex>

namespace {

// Red left half, blue right half.
void WriteHalves(const std::string& path) {
    WriteCapture(path, 6, 4, [](int x, int) { return x < 3 ? 0xFF0000u : 0x0000FFu; });
}

struct SaveAndPublishTest : testing::Test {
    TempDirScope tmp;
    ConfigDirScope config;
    ScriptedDialogsScope dialogs;
    TfrmMain w;

    void SetUp() override {
        WriteHalves(WorkingFilePath());
        w.UpdateButtons();
    }
    ButtonStates Buttons() const { return ::Buttons(w); }
};

const ButtonStates AllEnabled = ExpectedButtons(true, true);
const ButtonStates BusyState = ExpectedButtons(false, false);

} // namespace

TEST_F(SaveAndPublishTest, LocalSaveShowsThePathOfANewJpegEachTime) {
    ButtonStates whileShown;
    dialogs->whileOpen = [&](const ScriptedDialogs::Shown&) { whileShown = Buttons(); };
    QTest::mouseClick(w.btnSaveLocal, Qt::LeftButton);
    QTest::mouseClick(w.btnSaveLocal, Qt::LeftButton);
    ASSERT_EQ(dialogs->shown.size(), 2u);
    std::vector<std::string> paths;
    for (const auto& s : dialogs->shown) {
        EXPECT_EQ(s.kind, "inputbox");
        EXPECT_EQ(s.caption, "Local save");
        EXPECT_EQ(s.prompt, "Filename");
        EXPECT_TRUE(std::regex_match(s.text, std::regex(tmp.Path() + R"(screencap\d{12}\d+\.jpg)")))
            << s.text;
        paths.push_back(s.text);
        const QImage jpeg(QString::fromStdString(s.text), "JPEG");
        EXPECT_EQ(jpeg.size(), QSize(6, 4));
    }
    EXPECT_NE(paths[0], paths[1]);
    EXPECT_EQ(whileShown, BusyState) << "busy while the path is shown";
    EXPECT_FALSE(w.isBusy);
    EXPECT_EQ(Buttons(), AllEnabled);
}

TEST_F(SaveAndPublishTest, FailedLocalSaveIsReportedAndClearsTheBusyFlag) {
    WriteFileBytes(WorkingFilePath(), {'B', 'M', 0, 0});
    QTest::mouseClick(w.btnSaveLocal, Qt::LeftButton);
    ASSERT_EQ(dialogs->Messages().size(), 1u) << "the general error handler shows the error";
    EXPECT_FALSE(w.isBusy);
    EXPECT_EQ(Buttons(), AllEnabled);
}

TEST_F(SaveAndPublishTest, CancelledPublishPromptExportsNothing) {
    dialogs->queryAnswers.push_back(std::nullopt);
    QTest::mouseClick(w.btnPublish, Qt::LeftButton);
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].caption, "Preparing for publishing");
    EXPECT_EQ(dialogs->shown[0].prompt, "Enter filename to be published");
    EXPECT_TRUE(std::regex_match(dialogs->shown[0].text, std::regex(R"(screencap\d{12}\d+\.jpg)")));
    const QStringList files =
        QDir(QString::fromStdString(tmp.Path())).entryList({"*.jpg"}, QDir::Files);
    EXPECT_TRUE(files.isEmpty());
    EXPECT_EQ(Buttons(), AllEnabled);
}

TEST_F(SaveAndPublishTest, PublishExportsUnderTheConfirmedName) {
    // An FTP publish to a port where nothing listens; the export is looked
    // at while the failure is shown, before the flow removes it.
    LoadSettings();
    Settings.transferType = settings::TransferFtp;
    Settings.hostName = "127.0.0.1";
    Settings.port = std::to_string(UnusedLoopbackPort());
    SaveSettings();
    QImage jpeg;
    dialogs->whileOpen = [&](const ScriptedDialogs::Shown& s) {
        if (s.kind == "message" && jpeg.isNull())
            jpeg = QImage(QString::fromStdString(tmp.File("my picture.png")), "JPEG");
    };
    dialogs->queryAnswers.push_back("my picture.png");
    QTest::mouseClick(w.btnPublish, Qt::LeftButton);
    EXPECT_EQ(jpeg.size(), QSize(6, 4)) << "a JPEG whatever the extension";
    EXPECT_FALSE(w.isBusy);
}

// Only About is enabled while a publish waits on the server and while its
// boxes are shown; the buttons come back afterwards.
TEST_F(SaveAndPublishTest, PublishKeepsTheButtonsDisabledUntilItsBoxesClose) {
    ScriptedTcpServer silent({ScriptedTcpServer::Stall()});
    LoadSettings();
    Settings.transferType = settings::TransferFtp;
    Settings.hostName = "127.0.0.1";
    Settings.port = silent.PortText();
    SaveSettings();
    w.FtpClient1->SetTimeoutMs(300);
    std::vector<ButtonStates> seen;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (w.isBusy) seen.push_back(Buttons());
    });
    watcher.start(1);
    dialogs->whileOpen = [&](const ScriptedDialogs::Shown& s) {
        if (s.kind == "message") seen.push_back(Buttons());
    };
    dialogs->queryAnswers.push_back("stalled.jpg");
    QTest::mouseClick(w.btnPublish, Qt::LeftButton);
    silent.Release();
    EXPECT_EQ(dialogs->Messages().size(), 2u) << "the failed connect and the general failure";
    ASSERT_GT(seen.size(), 2u) << "the wait ran the event loop while busy";
    for (const ButtonStates& b : seen) EXPECT_EQ(b, BusyState);
    EXPECT_FALSE(w.isBusy);
    EXPECT_EQ(Buttons(), AllEnabled);
}

TEST_F(SaveAndPublishTest, PublishNameCannotLeaveTheTemporaryDirectory) {
    dialogs->queryAnswers.push_back("../escaped.jpg");
    QTest::mouseClick(w.btnPublish, Qt::LeftButton);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(tmp.Path() + "../escaped.jpg")));
    ASSERT_EQ(dialogs->Messages().size(), 1u);
    EXPECT_FALSE(w.isBusy);
    EXPECT_EQ(Buttons(), AllEnabled);
}

TEST_F(SaveAndPublishTest, ConfigureAndCropOpenTheirWindowsAndReevaluateTheButtons) {
    TfrmConfig configWindow;
    TfrmModifyCapture editor;
    frmConfig = &configWindow;
    frmModifyCapture = &editor;
    bool configShown = false, editorShown = false;
    std::string editedFile;

    QTimer::singleShot(0, [&] {
        configShown = configWindow.isVisible();
        DeleteWorkingFile(); // something else changed the state meanwhile
        configWindow.reject();
    });
    QTest::mouseClick(w.btnConfig, Qt::LeftButton);
    EXPECT_TRUE(configShown);
    EXPECT_FALSE(w.btnPublish->isEnabled()) << "buttons re-evaluated after the dialog";

    WriteHalves(WorkingFilePath());
    QTimer::singleShot(0, [&] {
        editorShown = editor.isVisible();
        editedFile = editor.CaptureFile;
        editor.reject();
    });
    w.btnCrop->setEnabled(true);
    QTest::mouseClick(w.btnCrop, Qt::LeftButton);
    EXPECT_TRUE(editorShown);
    EXPECT_EQ(editedFile, WorkingFilePath());
    frmConfig = nullptr;
    frmModifyCapture = nullptr;
}

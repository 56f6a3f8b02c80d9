#include "BmpBuilder.h"
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
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <regex>

namespace {

void WriteCapture(const std::string& path) {
    BmpBuilder b;
    b.width = 6;
    b.height = 4;
    b.bits = 24;
    b.pixels = PackPixels(6, 4, 24, true, [](int x, int) { return x < 3 ? 0xFF0000 : 0x0000FF; });
    b.WriteTo(path);
}

struct SaveAndPublishTest : testing::Test {
    TempDirScope tmp;
    QTemporaryDir config;
    ScriptedDialogsScope dialogs;
    TfrmMain w;

    void SetUp() override {
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        WriteCapture(WorkingFilePath());
        w.UpdateButtons();
    }
    void TearDown() override { qunsetenv("XDG_CONFIG_HOME"); }

    std::vector<bool> Buttons() {
        return {w.btnConfig->isEnabled(),       w.btnCaptureScreen->isEnabled(),
                w.btnTakeFromClip->isEnabled(), w.btnCrop->isEnabled(),
                w.btnSaveLocal->isEnabled(),    w.btnPublish->isEnabled(),
                w.btnCopyToClip->isEnabled(),   w.btnAbout->isEnabled()};
    }
};

const std::vector<bool> AllEnabled(8, true);
const std::vector<bool> BusyState = {false, false, false, false, false, false, false, true};

} // namespace

TEST_F(SaveAndPublishTest, LocalSaveShowsThePathOfANewJpegEachTime) {
    std::vector<bool> whileShown;
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
    Settings.transferType = 1;
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

    WriteCapture(WorkingFilePath());
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

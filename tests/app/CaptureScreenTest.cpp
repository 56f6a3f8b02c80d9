// "Capture screen" and "Capture region" where the screen cannot be grabbed,
// on Wayland or under XWayland: through a scripted screenshot portal on a
// private bus. For a region the desktop's own picker chooses.
#include "CaptureOutcome.h"
#include "FakePortal.h"
#include "FastDIB.h"
#include "FileContents.h"
#include "MainWindowFixture.h"
#include "PortalScreenshot.h"
#include "ScreenCapture.h"
#include "ScriptedDialogs.h"
#include "TempDirScope.h"
#include "WorkingFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Case {
    const char* name;
    const char* portal; // the fake portal's mode; "" for none on the bus
    bool captured;
    const char* message; // nullptr: no message
    const char* detail;  // part of the message's details
    bool region = false; // "Capture region": the portal is asked to be interactive
};

class CaptureScreenTest : public testing::TestWithParam<Case> {
protected:
    TempDirScope tmp;
    ScriptedDialogsScope dialogs;
    // Where the portal writes its picture: a directory made for the answer.
    QTemporaryDir answerDir{QDir::tempPath() + "/portal-answer-XXXXXX"};
};

const Case Cases[] = {
    {"Picture", "png", true, nullptr, nullptr},
    {"Cancelled", "cancel", false, nullptr, nullptr},
    {"PortalFailed", "fail", false, platform::PortalFailedText, "answered 2"},
    {"NoAnswer", "never", false, platform::PortalTimeoutText, "/request/"},
    {"CallRefused", "error", false, platform::PortalRefusedText,
     "org.freedesktop.portal.Error.NotAllowed: Screenshot is not allowed"},
    {"NoPortal", "", false, platform::NoPortalText, "org.freedesktop.DBus.Error.ServiceUnknown"},
    {"RegionPicture", "png", true, nullptr, nullptr, true},
    {"RegionCancelled", "cancel", false, nullptr, nullptr, true},
};

} // namespace

TEST_P(CaptureScreenTest, OutcomeReachesTheCaptureTheMessageAndTheButtons) {
    const Case& c = GetParam();
    FakePortal portal(c.portal, answerDir.path());
    ASSERT_TRUE(portal.Ok()) << portal.Error();

    TfrmMain w;
    w.Capture1->Way = platform::ScreenCapture::cwPortal;
    w.Capture1->DelayMs = 0;
    w.Capture1->PortalTimeoutMs = 500;
    w.Capture1->PortalBusAddress = portal.Address();
    w.show();
    WriteCapture(WorkingFilePath());
    const std::vector<uint8_t> previous = ReadFileBytes(WorkingFilePath());

    QPushButton* button = c.region ? w.btnCaptureRegion : w.btnCaptureScreen;
    button->click();
    EXPECT_FALSE(w.isVisible()) << "not in the picture";
    EXPECT_EQ(Buttons(w), ExpectedButtons(false, false));
    button->click(); // disabled: no second capture
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.isVisible(); }, 5000));
    EXPECT_EQ(Buttons(w), ExpectedButtons(true, true));

    if (c.captured) {
        TFastDIB capture;
        ASSERT_TRUE(capture.LoadBitmapFile(WorkingFilePath()));
        ASSERT_EQ(capture.Width(), 3);
        ASSERT_EQ(capture.RowCount, 2);
        EXPECT_EQ(capture.BitCount(), 32) << "the depth of a grab of the screen";
        const uint32_t top[] = {0xFF0000, 0xFFFFFF, 0x00FF00};
        for (int x = 0; x < 3; ++x) {
            EXPECT_EQ(capture.GetColor(capture.RowOf(0), x), top[x]) << x;
            EXPECT_EQ(capture.GetColor(capture.RowOf(1), x), 0x0000FFu) << x;
        }
        EXPECT_FALSE(QFile::exists(answerDir.filePath("Screenshot.png")))
            << "the answer's own copy is not left behind";
    } else {
        EXPECT_EQ(ReadFileBytes(WorkingFilePath()), previous) << "the previous capture stays";
    }

    if (c.message) {
        ASSERT_EQ(dialogs->shown.size(), 1u);
        EXPECT_EQ(dialogs->shown[0].text, c.message);
        EXPECT_NE(dialogs->shown[0].details.find(c.detail), std::string::npos)
            << dialogs->shown[0].details;
    } else {
        EXPECT_TRUE(dialogs->shown.empty()) << dialogs->shown[0].text;
    }

    if (*c.portal) {
        const QStringList calls = portal.Calls();
        ASSERT_FALSE(calls.isEmpty());
        EXPECT_TRUE(
            calls[0].contains(c.region ? "\"interactive\": true" : "\"interactive\": false"))
            << calls[0].toStdString();
        if (std::string(c.portal) == "never") {
            EXPECT_TRUE(QTest::qWaitFor([&] { return portal.Calls().size() == 2; }, 2000))
                << "the request is closed when the wait ends";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Outcomes, CaptureScreenTest, testing::ValuesIn(Cases),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST(PortalAnswerFile, OnlyADirectoryMadeForTheAnswerIsCleanedUp) {
    QTemporaryDir made(QDir::tempPath() + "/xdp-XXXXXX");
    EXPECT_TRUE(platform::PortalMadeDirectoryFor(made.filePath("shot.png")));
    EXPECT_FALSE(platform::PortalMadeDirectoryFor(QDir::tempPath() + "/out.png"))
        << "the shared temporary directory itself";
    QTemporaryDir home;
    QDir(home.path()).mkpath("Pictures");
    EXPECT_FALSE(platform::PortalMadeDirectoryFor(home.filePath("Pictures/Screenshot.png")));
}

// The command line on a real desktop: --capture, as a key binding runs it,
// with and without a copy running.
#include "FastDIB.h"
#include "FileContents.h"
#include "ProgramUnderTest.h"
#include "XSession.h"

#include <gtest/gtest.h>

#include <QFile>

namespace {

class CommandLineE2E : public testing::Test {
protected:
    XSession x{800, 600, 24};
    ProgramUnderTest program{x};

    void SetUp() override { ASSERT_TRUE(x.Ok()) << x.Error(); }

    // A capture of the whole screen is written and the main window is back.
    bool ScreenCaptured() {
        return WaitUntil(
            [&] {
                TFastDIB capture;
                return capture.LoadBitmapFile(program.WorkingFile()) && capture.Width() == 800 &&
                       capture.Height() == 600 && x.WindowMapped(program.MainWindow());
            },
            20000);
    }
};

} // namespace

TEST_F(CommandLineE2E, CaptureWithNoCopyRunningStartsOneThatCaptures) {
    ASSERT_TRUE(program.Start({"--capture"}));
    EXPECT_TRUE(ScreenCaptured());
}

TEST_F(CommandLineE2E, CaptureWithACopyRunningCapturesThereAndEnds) {
    ASSERT_TRUE(program.Start());
    ASSERT_FALSE(QFile::exists(QString::fromStdString(program.WorkingFile())));
    EXPECT_EQ(program.RunAnotherCopy({"--capture"}), 0);
    EXPECT_TRUE(ScreenCaptured());
    EXPECT_EQ(program.Process()->state(), QProcess::Running);
    const auto mains = x.Run("xdotool", {"search", "--onlyvisible", "--name", "^Brindlewick!$"})
                           .trimmed()
                           .split('\n');
    EXPECT_EQ(mains.size(), 1) << "no second main window";
}

// The command line on a real desktop: --capture, as a key binding runs it.
#include "FastDIB.h"
#include "FileContents.h"
#include "ProgramUnderTest.h"
#include "XSession.h"

#include <gtest/gtest.h>

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

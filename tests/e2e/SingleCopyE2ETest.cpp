// One copy of the program per user: a second start hands over to the running
// copy, which comes to the front, and ends without touching its files.
#include "ProgramUnderTest.h"
#include "XSession.h"

#include <gtest/gtest.h>

#include <QFile>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

std::vector<char> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class SingleCopyE2E : public testing::Test {
protected:
    XSession x{1024, 768, 24};
    ProgramUnderTest program{x};
    QProcess* trayer = nullptr;

    void SetUp() override {
        ASSERT_TRUE(x.Ok()) << x.Error();
        trayer = x.StartTrayer();
        ASSERT_TRUE(trayer) << "trayer did not come up";
    }

    // The main window is mapped, active and above the other window.
    bool InFront(unsigned long other) const {
        const unsigned long window = program.MainWindow();
        const std::vector<unsigned long> stack = x.StackingOrder();
        const auto mainAt = std::find(stack.begin(), stack.end(), window);
        const auto otherAt = std::find(stack.begin(), stack.end(), other);
        return x.WindowMapped(window) && x.ActiveWindow() == window && mainAt != stack.end() &&
               otherAt != stack.end() && mainAt > otherAt;
    }
    // Another program's window over the place of the main window, active.
    unsigned long Cover() {
        x.Start("xmessage",
                {"-geometry", "500x500+0+0", "-title", "Other window", "Another program"});
        const unsigned long other = x.WaitForWindow("^Other window$");
        if (other) {
            x.Run("xdotool", {"windowactivate", "--sync", QString::number(other)});
            WaitUntil([&] { return x.ActiveWindow() == other; }, 5000);
        }
        return other;
    }
};

} // namespace

TEST_F(SingleCopyE2E, ASecondStartBringsTheFirstCopyForwardAndKeepsItsCapture) {
    ASSERT_TRUE(program.Start());
    const unsigned long window = program.MainWindow();
    program.Press("Capture screen");
    ASSERT_TRUE(WaitUntil(
        [&] { return !FileBytes(program.WorkingFile()).empty() && x.WindowMapped(window); },
        20000));
    const std::vector<char> capture = FileBytes(program.WorkingFile());

    const unsigned long other = Cover();
    ASSERT_NE(other, 0u);
    ASSERT_EQ(x.ActiveWindow(), other);
    EXPECT_EQ(program.RunAnotherCopy(), 0);
    EXPECT_TRUE(WaitUntil([&] { return InFront(other); }, 10000));
    EXPECT_EQ(FileBytes(program.WorkingFile()), capture);

    // Hidden in the tray.
    x.Run("xdotool", {"windowminimize", QString::number(window)});
    ASSERT_TRUE(WaitUntil([&] { return !x.WindowMapped(window); }, 10000));
    x.Run("xdotool", {"windowactivate", "--sync", QString::number(other)});
    EXPECT_EQ(program.RunAnotherCopy(), 0);
    EXPECT_TRUE(WaitUntil([&] { return InFront(other); }, 10000));
    EXPECT_EQ(FileBytes(program.WorkingFile()), capture);

    EXPECT_EQ(program.Process()->state(), QProcess::Running);
    const auto mains = x.Run("xdotool", {"search", "--onlyvisible", "--name", "^Brindlewick!$"})
                           .trimmed()
                           .split('\n');
    EXPECT_EQ(mains.size(), 1) << "no second main window";
}

TEST_F(SingleCopyE2E, ACopyThatWasKilledLeavesNothingThatBlocksTheNextStart) {
    ASSERT_TRUE(program.Start());
    const unsigned long first = program.MainWindow();
    ::kill(pid_t(program.Process()->processId()), SIGKILL);
    ASSERT_TRUE(program.Process()->waitForFinished(10000));
    ASSERT_TRUE(WaitUntil([&] { return !x.WindowMapped(first); }, 10000));
    EXPECT_TRUE(QFile::exists(QString::fromStdString(program.TempDir() + "brindlewick.lock")));

    ASSERT_TRUE(program.Start()) << "the next start shows its window";
    // And it is the one a later start hands over to.
    const unsigned long other = Cover();
    ASSERT_NE(other, 0u);
    EXPECT_EQ(program.RunAnotherCopy(), 0);
    EXPECT_TRUE(WaitUntil([&] { return InFront(other); }, 10000));
}

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

    // The main window is mapped, active and above every other window.
    bool InFront() const {
        const unsigned long window = program.MainWindow();
        const std::vector<unsigned long> stack = x.StackingOrder();
        return x.WindowMapped(window) && x.ActiveWindow() == window && !stack.empty() &&
               stack.back() == window;
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

    // Covered by another program's window.
    QProcess* other = x.Start("xmessage", {"-geometry", "400x400+0+0", "-title", "Other window",
                                           "Another program"});
    const unsigned long otherWindow = x.WaitForWindow("^Other window$");
    ASSERT_NE(otherWindow, 0u);
    x.Run("xdotool", {"windowactivate", "--sync", QString::number(otherWindow)});
    ASSERT_TRUE(WaitUntil([&] { return x.ActiveWindow() == otherWindow; }, 5000));

    EXPECT_EQ(program.RunAnotherCopy(), 0);
    EXPECT_TRUE(WaitUntil([&] { return InFront(); }, 10000));
    EXPECT_EQ(FileBytes(program.WorkingFile()), capture);

    // Hidden in the tray.
    x.Run("xdotool", {"windowminimize", QString::number(window)});
    ASSERT_TRUE(WaitUntil([&] { return !x.WindowMapped(window); }, 10000));
    EXPECT_EQ(program.RunAnotherCopy(), 0);
    EXPECT_TRUE(WaitUntil([&] { return InFront(); }, 10000));
    EXPECT_EQ(FileBytes(program.WorkingFile()), capture);

    EXPECT_EQ(program.Process()->state(), QProcess::Running);
    const auto mains = x.Run("xdotool", {"search", "--onlyvisible", "--name", "^Brindlewick!$"})
                           .trimmed()
                           .split('\n');
    EXPECT_EQ(mains.size(), 1) << "no second main window";
    x.Stop(other);
}

TEST_F(SingleCopyE2E, ACopyThatWasKilledLeavesNothingThatBlocksTheNextStart) {
    ASSERT_TRUE(program.Start());
    const unsigned long first = program.MainWindow();
    ::kill(pid_t(program.Process()->processId()), SIGKILL);
    ASSERT_TRUE(program.Process()->waitForFinished(10000));
    ASSERT_TRUE(WaitUntil([&] { return !x.WindowMapped(first); }, 10000));
    EXPECT_TRUE(QFile::exists(QString::fromStdString(program.TempDir() + "brindlewick.lock")));

    ASSERT_TRUE(program.Start()) << "the next start shows its window";
    EXPECT_NE(program.MainWindow(), first);
    // And it is the one a later start hands over to.
    EXPECT_EQ(program.RunAnotherCopy(), 0);
    EXPECT_TRUE(WaitUntil([&] { return InFront(); }, 10000));
}

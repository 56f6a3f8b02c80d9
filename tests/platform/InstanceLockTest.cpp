// One holder of the instance lock per directory; the others hand over to it,
// and a holder that died, however, blocks nobody.
#include "InstanceLock.h"
#include "FileModes.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <future>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using platform::TInstanceLock;

namespace {

// Runs the event loop until cond holds or about 5 s pass.
template <class Cond> bool PumpUntil(Cond cond) {
    for (int i = 0; i < 500 && !cond(); ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    return cond();
}

// A hand-over from another thread, as another copy would make it, while this
// thread runs the holder's event loop.
bool HandOverAnswered(const TInstanceLock& asker, const int& shown, int expectedShown) {
    auto answered = std::async(std::launch::async, [&] { return asker.HandOver(5000); });
    PumpUntil([&] { return shown == expectedShown; });
    return answered.get();
}

struct InstanceLock : testing::Test {
    QTemporaryDir scratch;
    std::string Dir() const { return scratch.path().toStdString() + "/"; }
};

} // namespace

TEST_F(InstanceLock, OneHolderPerDirectoryTheOthersHandOverToIt) {
    TInstanceLock first(Dir()), second(Dir());
    ASSERT_TRUE(first.Acquire());
    int shown = 0;
    first.OnShowRequested = [&](TInstanceLock* sender) {
        EXPECT_EQ(sender, &first);
        ++shown;
    };
    EXPECT_FALSE(second.Acquire());
    EXPECT_FALSE(second.Held());
    EXPECT_TRUE(HandOverAnswered(second, shown, 1));
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(HandOverAnswered(second, shown, 2)) << "every start is handed over";
    EXPECT_EQ(ModeOf(Dir() + "brindlewick.lock"), 0600u);

    QTemporaryDir otherUser;
    TInstanceLock elsewhere(otherUser.path().toStdString() + "/");
    EXPECT_TRUE(elsewhere.Acquire()) << "another working directory is another copy's";
}

TEST_F(InstanceLock, AHolderThatEndedOrDiedBlocksNobody) {
    {
        TInstanceLock ended(Dir());
        ASSERT_TRUE(ended.Acquire());
    }
    // One that was killed while it held the lock and listened: its files stay.
    // The child makes only system calls: everything else is ready before the fork.
    const std::string lockPath = Dir() + "brindlewick.lock";
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", (Dir() + "brindlewick.sock").c_str());
    const pid_t child = ::fork();
    if (child == 0) {
        const int fd = ::open(lockPath.c_str(), O_RDWR);
        const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (fd < 0 || ::flock(fd, LOCK_EX) != 0 ||
            ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(s, 1) != 0)
            ::_exit(1);
        ::raise(SIGKILL);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child could not take the lock";

    TInstanceLock nobody(Dir());
    EXPECT_FALSE(nobody.HandOver(300)) << "nobody answers for a dead copy";
    TInstanceLock next(Dir()), later(Dir());
    ASSERT_TRUE(next.Acquire());
    int shown = 0;
    next.OnShowRequested = [&](TInstanceLock*) { ++shown; };
    EXPECT_FALSE(later.Acquire());
    EXPECT_TRUE(HandOverAnswered(later, shown, 1));
}

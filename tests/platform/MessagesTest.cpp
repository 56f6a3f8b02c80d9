#include "Messages.h"
#include "System.h"

#include <gtest/gtest.h>

#include <QTimer>

#include <chrono>
#include <ctime>
#include <thread>
#include <vector>

using namespace platform;

namespace {

struct Received {
    WindowId window;
    unsigned msg;
    uintptr_t wParam;
    intptr_t lParam;
};

// A window that records what reaches it.
struct Recorder {
    std::vector<Received>* log;
    WindowId id = 0;
    explicit Recorder(std::vector<Received>& l) : log(&l) {
        id = createMessageWindow([this](unsigned m, uintptr_t w, intptr_t l) {
            log->push_back({id, m, w, l});
            return intptr_t(0);
        });
    }
    ~Recorder() { destroyMessageWindow(id); }
};

double CpuSeconds() {
    return double(std::clock()) / CLOCKS_PER_SEC;
}

} // namespace

TEST(MessagePump, DeliversInPostingOrderAcrossWindows) {
    std::vector<Received> log;
    Recorder a(log), b(log);
    EXPECT_TRUE(postMessage(a.id, WM_USER + 1, 1, -1));
    EXPECT_TRUE(postMessage(b.id, WM_USER + 2, 2, -2));
    EXPECT_TRUE(postMessage(a.id, WM_USER + 3, 3, -3));
    EXPECT_TRUE(log.empty()) << "posting must not deliver";
    pumpMessages();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].window, a.id);
    EXPECT_EQ(log[0].msg, WM_USER + 1);
    EXPECT_EQ(log[1].window, b.id);
    EXPECT_EQ(log[1].wParam, 2u);
    EXPECT_EQ(log[2].lParam, -3);
}

TEST(MessagePump, OrderedWithOtherQtEvents) {
    std::vector<Received> log;
    Recorder a(log);
    std::vector<int> order;
    postMessage(a.id, WM_USER, 0, 0);
    QTimer::singleShot(0, [&] { order.push_back(int(log.size())); });
    postMessage(a.id, WM_USER, 0, 0);
    // Messages posted before the timer event are handled before it.
    for (int i = 0; i < 10 && order.empty(); ++i) waitForMessages(50);
    ASSERT_EQ(order.size(), 1u);
    EXPECT_GE(order[0], 1);
    EXPECT_EQ(log.size(), 2u);
}

TEST(MessagePump, DestroyedWindowNeverSeesQueuedMessages) {
    std::vector<Received> log;
    WindowId gone;
    {
        Recorder r(log);
        gone = r.id;
        postMessage(r.id, WM_USER, 7, 7);
    }
    EXPECT_FALSE(isMessageWindow(gone));
    EXPECT_FALSE(postMessage(gone, WM_USER, 8, 8));
    pumpMessages();
    EXPECT_TRUE(log.empty());

    // A new window gets a new id, so the old queue cannot reach it.
    Recorder fresh(log);
    EXPECT_NE(fresh.id, gone);
}

TEST(MessagePump, ProcedureMayDestroyItsOwnWindow) {
    int calls = 0;
    WindowId id = 0;
    id = createMessageWindow([&](unsigned, uintptr_t, intptr_t) {
        ++calls;
        destroyMessageWindow(id);
        return intptr_t(0);
    });
    postMessage(id, WM_USER, 0, 0);
    postMessage(id, WM_USER, 0, 0);
    pumpMessages();
    EXPECT_EQ(calls, 1);
}

TEST(MessagePump, SendMessageCallsAtOnceAndReturnsTheResult) {
    WindowId id = createMessageWindow(
        [](unsigned m, uintptr_t w, intptr_t l) { return intptr_t(m) + intptr_t(w) + l; });
    EXPECT_EQ(sendMessage(id, 100, 20, 3), 123);
    destroyMessageWindow(id);
    EXPECT_EQ(sendMessage(id, 100, 20, 3), 0);
}

TEST(WaitForMessages, ReturnsOnTheFirstEventFromAnotherThread) {
    std::vector<Received> log;
    Recorder r(log);
    std::thread poster([&] {
        SleepMs(50);
        postMessage(r.id, WM_USER + 9, 0, 0);
    });
    const auto start = std::chrono::steady_clock::now();
    while (log.empty() && std::chrono::steady_clock::now() - start < std::chrono::seconds(20))
        waitForMessages(10000);
    const auto waited = std::chrono::steady_clock::now() - start;
    poster.join();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].msg, WM_USER + 9);
    // Far below the 10 s limit: the message itself ended the wait.
    EXPECT_LT(waited, std::chrono::seconds(5));
}

TEST(WaitForMessages, IdleWaitDoesNotSpin) {
    pumpMessages();
    const double cpuBefore = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(400))
        waitForMessages(100);
    const double cpu = CpuSeconds() - cpuBefore;
    // A busy loop would burn the whole 0.4 s.
    EXPECT_LT(cpu, 0.1);
}

TEST(WaitForMessages, ReturnsWhenTheTimeIsUp) {
    pumpMessages();
    const auto start = std::chrono::steady_clock::now();
    waitForMessages(30);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(25));
}

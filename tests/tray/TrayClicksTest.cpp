// Clicks and double clicks told apart from the callback messages that reach
// TrayWindow, posted as the notification area posts them, and the pop-up
// menu they bring.
#include "CoolTrayIcon.h"
#include "Messages.h"
#include "TrayArea.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>

#include <algorithm>
#include <memory>
#include <vector>

using namespace platform;

namespace {

class TrayClicks : public testing::Test {
protected:
    void SetUp() override {
        savedInterval_ = QApplication::doubleClickInterval();
        // Long enough that pumping a few posted messages never outlasts it.
        QApplication::setDoubleClickInterval(300);
        tray_ = std::make_unique<TCoolTrayIcon>(nullptr);
        tray_->OnClick = [this](TCoolTrayIcon* sender) {
            EXPECT_EQ(sender, tray_.get());
            ++clicks;
        };
        tray_->OnDblClick = [this](TCoolTrayIcon*) { ++doubleClicks; };
        tray_->OnMouseDown = [this](TCoolTrayIcon*, TMouseButton b, TShiftState shift, int, int) {
            downs.push_back(b);
            shifts.push_back(shift);
        };
        tray_->OnMouseUp = [this](TCoolTrayIcon*, TMouseButton b, TShiftState, int, int) {
            ups.push_back(b);
        };
    }
    void TearDown() override {
        tray_.reset();
        QApplication::setDoubleClickInterval(savedInterval_);
    }

    void Post(const std::vector<unsigned>& mouseMessages, unsigned id = TCoolTrayIcon::IconId) {
        for (unsigned m : mouseMessages)
            ASSERT_TRUE(postMessage(tray_->TrayWindow(), TCoolTrayIcon::WM_TRAYNOTIFY, id, m));
        pumpMessages();
    }
    // Lets the double-click time run out; fails the test on a watchdog.
    void WaitUntilState(TClickState state) {
        for (int i = 0; i < 200 && tray_->ClickState() != state; ++i) waitForMessages(20);
        ASSERT_EQ(tray_->ClickState(), state);
    }
    void PassTheDoubleClickTime() {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 2 * QApplication::doubleClickInterval()) waitForMessages(20);
    }
    void WaitForClicks(int count) {
        for (int i = 0; i < 200 && clicks < count; ++i) waitForMessages(20);
    }

    std::unique_ptr<TCoolTrayIcon> tray_;
    int clicks = 0;
    int doubleClicks = 0;
    std::vector<TMouseButton> downs, ups;
    std::vector<TShiftState> shifts;

private:
    int savedInterval_ = 400;
};

} // namespace

TEST_F(TrayClicks, DoubleClickFiresTheDoubleClickOnceAndNoClick) {
    // As this toolkit reports it: a click, then the double click.
    Post({WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP});
    EXPECT_EQ(doubleClicks, 1);
    WaitUntilState(ckIdle);
    pumpMessages();
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(doubleClicks, 1);
}

TEST_F(TrayClicks, DoubleClickWithTwoPressesBeforeItFiresNoClick) {
    // Toolkits that report the second press as a press of its own too.
    Post({WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK,
          WM_LBUTTONUP});
    WaitUntilState(ckIdle);
    pumpMessages();
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(doubleClicks, 1);
}

TEST_F(TrayClicks, SingleClickFiresOnceTheDoubleClickTimeHasPassed) {
    Post({WM_LBUTTONDOWN, WM_LBUTTONUP});
    EXPECT_EQ(clicks, 0) << "a double click may still follow";
    EXPECT_EQ(tray_->ClickState(), ckPending);
    WaitForClicks(1);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(tray_->ClickState(), ckIdle);
    // And only once.
    Post({});
    waitForMessages(50);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(doubleClicks, 0);

    // The next click is a click of its own.
    Post({WM_LBUTTONDOWN, WM_LBUTTONUP});
    WaitForClicks(2);
    EXPECT_EQ(clicks, 2);
}

TEST_F(TrayClicks, ButtonHeldLongerFiresTheClickAtRelease) {
    Post({WM_LBUTTONDOWN});
    WaitUntilState(ckHeldLong);
    pumpMessages();
    EXPECT_EQ(clicks, 0) << "still held";
    Post({WM_LBUTTONUP});
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(tray_->ClickState(), ckIdle);
}

TEST_F(TrayClicks, LateDoubleClickDoesNotSwallowTheNextClick) {
    Post({WM_LBUTTONDOWN, WM_LBUTTONUP});
    WaitForClicks(1);
    ASSERT_EQ(clicks, 1);
    // A double click reported after the time ran out.
    Post({WM_LBUTTONDBLCLK, WM_LBUTTONUP});
    EXPECT_EQ(doubleClicks, 1);
    Post({WM_LBUTTONDOWN, WM_LBUTTONUP});
    WaitForClicks(2);
    EXPECT_EQ(clicks, 2);
}

TEST_F(TrayClicks, MouseMessagesReachTheMouseEventsWithTheirButton) {
    Post(
        {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_RBUTTONDOWN, WM_RBUTTONUP, WM_MBUTTONDOWN, WM_MBUTTONUP});
    EXPECT_EQ(downs, (std::vector<TMouseButton>{mbLeft, mbRight, mbMiddle}));
    EXPECT_EQ(ups, (std::vector<TMouseButton>{mbLeft, mbRight, mbMiddle}));
    ASSERT_EQ(shifts.size(), 3u);
    EXPECT_TRUE(shifts[0] & ssLeft);
    EXPECT_TRUE(shifts[1] & ssRight);
    EXPECT_TRUE(shifts[2] & ssMiddle);
    // Right and middle clicks are no left clicks.
    WaitUntilState(ckIdle);
    pumpMessages();
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(doubleClicks, 0);
}

TEST_F(TrayClicks, MessagesOfAnotherIconAreIgnored) {
    Post({WM_LBUTTONDBLCLK, WM_LBUTTONDOWN}, TCoolTrayIcon::IconId + 1);
    EXPECT_EQ(doubleClicks, 0);
    EXPECT_TRUE(downs.empty());
}

TEST_F(TrayClicks, DisabledIgnoresEverything) {
    tray_->SetEnabled(false);
    Post({WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP, WM_RBUTTONDOWN,
          WM_RBUTTONUP, WM_LBUTTONDOWN});
    EXPECT_EQ(tray_->ClickState(), ckIdle);
    PassTheDoubleClickTime();
    Post({WM_LBUTTONUP});
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(doubleClicks, 0);
    EXPECT_TRUE(downs.empty());
    EXPECT_TRUE(ups.empty());

    // Enabled again, the icon answers again.
    tray_->SetEnabled(true);
    Post({WM_LBUTTONDBLCLK, WM_LBUTTONUP});
    EXPECT_EQ(doubleClicks, 1);
}

TEST_F(TrayClicks, DisablingCancelsAClickUnderWay) {
    Post({WM_LBUTTONDOWN, WM_LBUTTONUP});
    tray_->SetEnabled(false);
    PassTheDoubleClickTime();
    EXPECT_EQ(clicks, 0);
}

TEST_F(TrayClicks, PopupMenuComesWithTheRightButtonOrTheLeftWithLeftPopup) {
    QMenu menu;
    menu.addAction("Entry");
    tray_->PopupMenu = &menu;
    struct Step {
        bool leftPopup, enabled;
        std::vector<unsigned> messages;
        bool shown;
    };
    const Step steps[] = {
        {false, true, {WM_LBUTTONDOWN, WM_LBUTTONUP}, false},
        {false, true, {WM_MBUTTONDOWN, WM_MBUTTONUP}, false},
        {false, true, {WM_RBUTTONDOWN, WM_RBUTTONUP}, true},
        {true, true, {WM_LBUTTONDOWN, WM_LBUTTONUP}, true},
        {false, false, {WM_RBUTTONDOWN, WM_RBUTTONUP}, false},
    };
    for (const Step& s : steps) {
        tray_->LeftPopup = s.leftPopup;
        tray_->SetEnabled(s.enabled);
        Post(s.messages);
        EXPECT_EQ(menu.isVisible(), s.shown) << "step " << (&s - steps);
        menu.hide();
    }
    // The mouse events still come with the menu.
    EXPECT_EQ(std::count(downs.begin(), downs.end(), mbRight), 1);
}

TEST_F(TrayClicks, DoubleClickTriggersTheMenusDefaultAction) {
    QMenu menu;
    QAction* other = menu.addAction("Other");
    QAction* show = menu.addAction("Show");
    int shows = 0, others = 0;
    QObject::connect(show, &QAction::triggered, [&] { ++shows; });
    QObject::connect(other, &QAction::triggered, [&] { ++others; });
    tray_->PopupMenu = &menu;
    Post({WM_LBUTTONDBLCLK, WM_LBUTTONUP});
    EXPECT_EQ(shows + others, 0) << "no default action, nothing triggered";
    menu.setDefaultAction(show);
    Post({WM_LBUTTONDBLCLK, WM_LBUTTONUP});
    EXPECT_EQ(shows, 1);
    tray_->LeftPopup = true;
    Post({WM_LBUTTONDBLCLK, WM_LBUTTONUP});
    EXPECT_EQ(shows, 1) << "with LeftPopup the left button is the menu's";
    EXPECT_EQ(others, 0);
    EXPECT_EQ(doubleClicks, 3);
}

TEST_F(TrayClicks, MenuGoneBeforeTheIconIsNoFault) {
    auto menu = std::make_unique<QMenu>();
    menu->setDefaultAction(menu->addAction("Show"));
    tray_->PopupMenu = menu.get();
    menu.reset();
    Post({WM_RBUTTONDOWN, WM_RBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP});
    EXPECT_EQ(doubleClicks, 1);
    EXPECT_EQ(tray_->PopupMenu, nullptr);
}

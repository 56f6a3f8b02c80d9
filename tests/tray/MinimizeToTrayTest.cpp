// The owner form's side: hiding to the icon, coming back from it, and what
// happens on a desktop without a notification area (the offscreen one).
#include "CoolTrayIcon.h"
#include "Messages.h"
#include "TrayArea.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>

#include <memory>

using namespace platform;

namespace {

class MinimizeToTray : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(trayAreaAvailable()) << "these cases need a desktop without one";
        form->resize(159, 394);
        tray->MinimizeToTray = true;
        form->show();
        pumpMessages();
    }

    std::unique_ptr<QWidget> form = std::make_unique<QWidget>();
    std::unique_ptr<TCoolTrayIcon> tray = std::make_unique<TCoolTrayIcon>(form.get());
};

} // namespace

TEST_F(MinimizeToTray, WithoutNotificationAreaTheFormMinimisesNormally) {
    form->showMinimized();
    pumpMessages();
    EXPECT_TRUE(form->isVisible()) << "a hidden form could not be got back";
    EXPECT_TRUE(form->isMinimized());
    EXPECT_FALSE(tray->HiddenToTray());
}

TEST_F(MinimizeToTray, RestoreBringsAHiddenMinimisedFormBackNormalAndInFront) {
    QWidget other;
    other.show();
    other.activateWindow();
    pumpMessages();

    tray->HideMainWindow();
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(tray->HiddenToTray());
    form->setWindowState(Qt::WindowMinimized);

    tray->RestoreMainWindow();
    pumpMessages();
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->isMinimized());
    EXPECT_FALSE(tray->HiddenToTray());
    EXPECT_EQ(QApplication::activeWindow(), form.get());
}

TEST_F(MinimizeToTray, ShownAgainByTheProgramItComesToTheFront) {
    QWidget other;
    form->hide();
    other.show();
    other.activateWindow();
    pumpMessages();
    ASSERT_EQ(QApplication::activeWindow(), &other);

    form->show();
    pumpMessages();
    EXPECT_EQ(QApplication::activeWindow(), form.get());
}

TEST_F(MinimizeToTray, LosingTheNotificationAreaGivesBackAFormHiddenToIt) {
    tray->HideMainWindow();
    postMessage(tray->TrayWindow(), trayAreaLostMessage(), 0, 0);
    pumpMessages();
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->isMinimized());

    // A form the program hid itself stays hidden.
    form->hide();
    postMessage(tray->TrayWindow(), trayAreaLostMessage(), 0, 0);
    pumpMessages();
    EXPECT_FALSE(form->isVisible());
}

TEST_F(MinimizeToTray, FormGoneBeforeTheComponentIsNoFault) {
    form.reset();
    tray->RestoreMainWindow();
    tray->HideMainWindow();
    postMessage(tray->TrayWindow(), trayAreaLostMessage(), 0, 0);
    pumpMessages();
    tray.reset();
    SUCCEED();
}

// What the component hands the notification area, and when the icon is
// there, seen without any tray host.
#include "BrindlewickIcon.h"
#include "CoolTrayIcon.h"
#include "Messages.h"
#include "TrayArea.h"

#include <gtest/gtest.h>

#include <string>

using namespace platform;

namespace {

// The icon appears once the owner's designed properties are in.
void Load() {
    pumpMessages();
}

bool IconShown(const TCoolTrayIcon& tray) {
    return hasTrayIcon(tray.TrayWindow(), TCoolTrayIcon::IconId);
}

} // namespace

TEST(NotifyData, AddressesTheTrayWindowWithTheCallbackMessage) {
    TCoolTrayIcon tray(nullptr);
    const TrayIconData& data = tray.NotifyData();
    EXPECT_EQ(data.window, tray.TrayWindow());
    EXPECT_TRUE(isMessageWindow(tray.TrayWindow()));
    EXPECT_EQ(data.id, 1u);
    EXPECT_EQ(data.flags, 7u) << "message, icon and tip";
    EXPECT_EQ(data.callbackMessage, 0x800u);

    tray.SetIcon(BrindlewickIcon());
    EXPECT_EQ(tray.NotifyData().icon.cacheKey(), tray.Icon().cacheKey());
}

TEST(NotifyData, TipIsTheHintCutTo127Characters) {
    TCoolTrayIcon tray(nullptr);
    tray.SetHint("Brindlewick 1.0.0.6.beta");
    EXPECT_EQ(tray.NotifyData().tip, "Brindlewick 1.0.0.6.beta");

    const std::string exact(127, 'x');
    tray.SetHint(exact);
    EXPECT_EQ(tray.NotifyData().tip, exact);
    tray.SetHint(exact + "yz");
    EXPECT_EQ(tray.NotifyData().tip, exact);
    EXPECT_EQ(tray.Hint(), exact + "yz") << "the hint itself stays whole";

    // Characters, not bytes: a two-byte character is kept or dropped whole.
    std::string accented;
    for (int i = 0; i < 130; ++i) accented += "\xC3\xA9";
    tray.SetHint(accented);
    EXPECT_EQ(tray.NotifyData().tip, accented.substr(0, 2 * 127));
}

TEST(NotifyData, NoTipWithoutHintOrWithShowHintClear) {
    TCoolTrayIcon tray(nullptr);
    EXPECT_TRUE(tray.ShowHint());
    EXPECT_EQ(tray.NotifyData().tip, "");
    tray.SetHint("Brindlewick 1.0.0.6.beta");
    tray.SetShowHint(false);
    EXPECT_EQ(tray.NotifyData().tip, "");
    tray.SetShowHint(true);
    EXPECT_EQ(tray.NotifyData().tip, "Brindlewick 1.0.0.6.beta");
    tray.SetHint("");
    EXPECT_EQ(tray.NotifyData().tip, "");
}

TEST(TrayIconLife, DefaultsOfANewIcon) {
    TCoolTrayIcon tray(nullptr);
    EXPECT_TRUE(tray.IconVisible());
    EXPECT_TRUE(tray.Enabled());
    EXPECT_TRUE(tray.ShowHint());
    EXPECT_FALSE(tray.MinimizeToTray);
    EXPECT_FALSE(tray.StartMinimized);
    EXPECT_EQ(tray.IconIndex, 0);
    EXPECT_EQ(tray.CycleInterval, 0);
    EXPECT_TRUE(tray.Icon().isNull());
    EXPECT_EQ(tray.Hint(), "");
}

TEST(TrayIconLife, AppearsWhenLoadedAndGoesWithTheComponent) {
    WindowId window = 0;
    {
        TCoolTrayIcon tray(nullptr);
        window = tray.TrayWindow();
        tray.SetIcon(BrindlewickIcon());
        EXPECT_FALSE(IconShown(tray)) << "not before the designed properties are in";
        Load();
        EXPECT_TRUE(IconShown(tray));
    }
    EXPECT_FALSE(hasTrayIcon(window, TCoolTrayIcon::IconId));
    EXPECT_FALSE(isMessageWindow(window));
}

TEST(TrayIconLife, IconVisibleAddsAndRemoves) {
    TCoolTrayIcon tray(nullptr);
    tray.SetIconVisible(false); // as designed, before loading
    Load();
    EXPECT_FALSE(IconShown(tray));

    tray.SetIconVisible(true);
    EXPECT_TRUE(IconShown(tray));
    tray.RemoveTrayIcon();
    EXPECT_FALSE(tray.IconVisible());
    EXPECT_FALSE(IconShown(tray));
    tray.AddTrayIcon();
    EXPECT_TRUE(tray.IconVisible());
    EXPECT_TRUE(IconShown(tray));
    // Adding again keeps the one icon.
    tray.AddTrayIcon();
    EXPECT_TRUE(IconShown(tray));
    tray.SetIconVisible(false);
    EXPECT_FALSE(IconShown(tray));
}

TEST(TrayIconLife, NewNotificationAreaBringsTheIconBackOnlyWhileIconVisible) {
    TCoolTrayIcon tray(nullptr);
    tray.SetIcon(BrindlewickIcon());
    tray.SetHint("Brindlewick 1.0.0.6.beta");
    Load();
    ASSERT_TRUE(IconShown(tray));

    // The old host took the icon with it.
    deleteTrayIcon(tray.TrayWindow(), TCoolTrayIcon::IconId);
    postMessage(tray.TrayWindow(), trayAreaCreatedMessage(), 0, 0);
    pumpMessages();
    EXPECT_TRUE(IconShown(tray));

    tray.SetIconVisible(false);
    postMessage(tray.TrayWindow(), trayAreaCreatedMessage(), 0, 0);
    pumpMessages();
    EXPECT_FALSE(IconShown(tray));
}

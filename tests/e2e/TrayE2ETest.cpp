// The program in the notification area of a real desktop: trayer as the
// tray host, openbox minimising, xdotool as the user's mouse.
#include "BrindlewickIcon.h"
#include "PrivateBus.h"
#include "ProgramUnderTest.h"
#include "XSession.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QRegularExpression>

#include <algorithm>
#include <fstream>

namespace {

const char* const TrayHint = "Brindlewick 1.0.0.6.beta";

bool Contains(const std::vector<unsigned long>& ids, unsigned long id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// Where the docked icon is: the program's window inside trayer's panel.
QRect DockedIcon(const XSession& x) {
    for (const XSession::WindowInfo& panel : x.Descendants())
        if (panel.name == "panel" && panel.wmClass == "trayer")
            for (const XSession::WindowInfo& w : x.Descendants(panel.id))
                if (w.wmClass == "Brindlewick" && x.WindowMapped(w.id)) return w.rect;
    return {};
}

QRect WaitForDockedIcon(const XSession& x) {
    QRect icon;
    WaitUntil([&] { return (icon = DockedIcon(x)).isValid(); }, 15000);
    return icon;
}

bool Near(QRgb a, QRgb b) {
    return std::abs(qRed(a) - qRed(b)) <= 2 && std::abs(qGreen(a) - qGreen(b)) <= 2 &&
           std::abs(qBlue(a) - qBlue(b)) <= 2;
}

// Whether the icon's opaque pixels show somewhere inside area of the screen.
bool ShowsIcon(const QImage& screen, const QRect& area) {
    const QImage icon = BrindlewickIconImage();
    for (int dy = 0; dy + icon.height() <= area.height(); ++dy)
        for (int dx = 0; dx + icon.width() <= area.width(); ++dx) {
            bool all = true;
            for (int y = 0; all && y < icon.height(); ++y)
                for (int x = 0; all && x < icon.width(); ++x)
                    if (qAlpha(icon.pixel(x, y)) == 255)
                        all = Near(screen.pixel(area.left() + dx + x, area.top() + dy + y),
                                   icon.pixel(x, y));
            if (all) return true;
        }
    return false;
}

// The horizontal extent of dark (text) pixels in a rectangle of an image.
int InkWidth(const QImage& image, const QRect& r) {
    int left = r.right() + 1, right = r.left() - 1;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (QColor(image.pixel(x, y)).lightness() < 100) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    return right >= left ? right - left + 1 : 0;
}

// A pop-up menu of the program mapped now; 0 when none. Menus are the
// program's override-redirect windows straight on the root, apart from
// tooltips; the icon sits in trayer and the main window in its frame.
unsigned long PopupMenu(const XSession& x) {
    const QString top = QString::fromLatin1(x.Run("xwininfo", {"-root", "-children"}));
    static const QRegularExpression line(R"(^\s+(0x[0-9a-f]+) .*\("[^"]*" "Brindlewick"\))",
                                         QRegularExpression::MultilineOption);
    for (const QRegularExpressionMatch& m : line.globalMatch(top)) {
        const QString id = QString::number(m.captured(1).toULong(nullptr, 16));
        const QByteArray info = x.Run("xwininfo", {"-all", "-id", id});
        if (info.contains("Map State: IsViewable") &&
            info.contains("Override Redirect State: yes") &&
            !x.Run("xprop", {"-id", id, "_NET_WM_WINDOW_TYPE"}).contains("TOOLTIP"))
            return id.toULong();
    }
    return 0;
}

void SaveForTheRecord(const QImage& shot, const char* name) {
    shot.save(QDir::temp().filePath(name));
}

std::map<std::string, bool> Expected(bool captured) {
    std::map<std::string, bool> states;
    for (const auto& [name, rect] : ProgramUnderTest::Buttons()) states[name] = true;
    for (const char* b :
         {"Crop && adjust", "Save on this computer", "Publish", "Copy to clipboard"})
        states[b] = captured;
    return states;
}

class TrayE2E : public testing::Test {
protected:
    XSession x{1024, 768, 24};
    QProcess* trayer = nullptr;
    ProgramUnderTest program{x};

    void SetUp() override {
        ASSERT_TRUE(x.Ok()) << x.Error();
        trayer = x.StartTrayer();
        ASSERT_TRUE(trayer) << "trayer did not start";
    }

    void MinimiseToTray() {
        x.Run("xdotool", {"windowminimize", QString::number(program.MainWindow())});
        ASSERT_TRUE(WaitUntil(
            [&] {
                return !x.WindowMapped(program.MainWindow()) &&
                       !Contains(x.ClientList(), program.MainWindow());
            },
            10000))
            << "the window and its taskbar entry should go";
    }
};

} // namespace

TEST_F(TrayE2E, IconIsDockedWithTheHintAsItsTooltip) {
    ASSERT_TRUE(program.Start());
    const QRect icon = WaitForDockedIcon(x);
    ASSERT_TRUE(icon.isValid()) << "no icon in trayer's panel";
    const QImage screen = x.Screenshot();
    EXPECT_TRUE(ShowsIcon(screen, icon));

    x.MouseMove(icon.center().x(), icon.center().y());
    unsigned long tip = 0;
    ASSERT_TRUE(WaitUntil([&] { return (tip = x.MappedTooltip()) != 0; }, 10000))
        << "hovering shows no tooltip";
    const QImage shot = x.Screenshot();
    SaveForTheRecord(shot, "brwk-tray-tooltip.png");
    QRect tipRect;
    for (const XSession::WindowInfo& w : x.Descendants())
        if (w.id == tip) tipRect = w.rect;
    ASSERT_TRUE(tipRect.isValid());
    EXPECT_LT(std::abs(tipRect.center().y() - icon.center().y()), 60) << "next to the icon";
    // The text is the hint's length: much wider than a short word, narrower
    // than twice the hint.
    QFont font;
    font.setPointSize(9);
    const int hintWidth = QFontMetrics(font).horizontalAdvance(TrayHint);
    const int ink = InkWidth(shot, tipRect.adjusted(1, 1, -1, -1));
    EXPECT_GT(ink, hintWidth * 2 / 3);
    EXPECT_LT(ink, hintWidth * 3 / 2);
}

TEST_F(TrayE2E, MinimisingLeavesOnlyTheIconAndADoubleClickBringsTheWindowBack) {
    ASSERT_TRUE(program.Start());
    const unsigned long window = program.MainWindow();
    program.Press("Capture screen");
    ASSERT_TRUE(WaitUntil(
        [&] {
            return QFile::exists(QString::fromStdString(program.WorkingFile())) &&
                   x.WindowMapped(window);
        },
        20000));
    ASSERT_TRUE(WaitUntil([&] { return program.ButtonStates() == Expected(true); }, 5000));
    const QRect label = QRect(8, 376, 80, 13);
    const QImage before = x.Screenshot(window).copy(label);

    MinimiseToTray();
    const QRect icon = DockedIcon(x);
    ASSERT_TRUE(icon.isValid()) << "the icon stays";

    // Another window comes over the place of the main window meanwhile.
    QProcess* other = x.Start(
        "xmessage", {"-geometry", "400x300+300+150", "-title", "Other window", "Another program"});
    const unsigned long otherWindow = x.WaitForWindow("^Other window$");
    EXPECT_NE(otherWindow, 0u);

    // As a person does: onto the icon, and the tip shows it is under the pointer.
    // A tip that missed the first arrival comes with the next one.
    EXPECT_TRUE(WaitUntil(
        [&] {
            x.MouseMove(icon.center().x() - 1, icon.center().y());
            x.MouseMove(icon.center().x(), icon.center().y());
            return WaitUntil([&] { return x.MappedTooltip() != 0; }, 2500);
        },
        10000));
    x.DoubleClickAt(icon.center().x(), icon.center().y());
    ASSERT_TRUE(WaitUntil([&] { return x.WindowMapped(window); }, 10000))
        << "a double click on the icon should restore the window";
    EXPECT_TRUE(WaitUntil([&] { return x.ActiveWindow() == window; }, 5000));
    EXPECT_TRUE(Contains(x.ClientList(), window)) << "back in the taskbar";
    const std::vector<unsigned long> stack = x.StackingOrder();
    const auto mainAt = std::find(stack.begin(), stack.end(), window);
    const auto otherAt = std::find(stack.begin(), stack.end(), otherWindow);
    ASSERT_TRUE(mainAt != stack.end() && otherAt != stack.end());
    EXPECT_GT(mainAt, otherAt) << "in front of the other window";
    EXPECT_TRUE(DockedIcon(x).isValid()) << "the icon stays";

    const QImage shot = x.Screenshot();
    SaveForTheRecord(shot, "brwk-tray-restored.png");
    const QImage after = x.Screenshot(window);
    EXPECT_EQ(after.copy(label), before) << "lblVer reads as before";
    QFont font = QFont();
    font.setPixelSize(11);
    const int versionWidth = QFontMetrics(font).horizontalAdvance("1.0.0.6.beta");
    const int placeholderWidth = QFontMetrics(font).horizontalAdvance("lblVer");
    const int ink = InkWidth(after, label);
    EXPECT_LT(std::abs(ink - versionWidth), std::abs(ink - placeholderWidth))
        << "lblVer shows the version, " << ink << " pixels of text";
    EXPECT_EQ(program.ButtonStates(), Expected(true));
    x.Stop(other);
}

TEST_F(TrayE2E, RightClickMenuShowsCapturesAndQuits) {
    // Another program's window takes the focus when the main window goes;
    // otherwise the background would, and cover the panel as a full-screen
    // window does.
    QProcess* other = x.Start(
        "xmessage", {"-geometry", "300x100+100+550", "-title", "Other window", "Another program"});
    ASSERT_NE(x.WaitForWindow("^Other window$"), 0u);
    ASSERT_TRUE(program.Start());
    const unsigned long window = program.MainWindow();
    ASSERT_TRUE(WaitForDockedIcon(x).isValid());
    // Opens the menu on the icon and picks an entry by keyboard, as the
    // entries' heights belong to the style.
    auto choose = [&](const QStringList& keys) {
        SCOPED_TRACE(keys.join(' ').toStdString());
        const QRect icon = DockedIcon(x);
        ASSERT_TRUE(icon.isValid());
        // On a busy machine a click right after minimising can go unseen;
        // a person would click again.
        unsigned long menu = 0;
        ASSERT_TRUE(WaitUntil(
            [&] {
                x.Run("xdotool", {"mousemove", QString::number(icon.center().x()),
                                  QString::number(icon.center().y()), "click", "3"});
                return WaitUntil([&] { return (menu = PopupMenu(x)) != 0; }, 4000);
            },
            15000))
            << "no menu on a right click";
        SaveForTheRecord(x.Screenshot(), "brwk-tray-menu.png");
        x.Run("xdotool", QStringList{"key"} + keys);
        EXPECT_TRUE(WaitUntil([&] { return !x.WindowMapped(menu); }, 5000));
    };

    MinimiseToTray();
    choose({"Up", "Up", "Return"}); // Show, above Quit
    ASSERT_TRUE(WaitUntil([&] { return x.WindowMapped(window); }, 10000)) << "Show";
    EXPECT_TRUE(Contains(x.ClientList(), window));

    MinimiseToTray();
    choose({"Down", "Return"}); // Capture screen
    EXPECT_TRUE(WaitUntil(
        [&] {
            return QFile::exists(QString::fromStdString(program.WorkingFile())) &&
                   x.WindowMapped(window);
        },
        20000))
        << "Capture screen captures and shows the window, as the button does";
    EXPECT_TRUE(WaitUntil([&] { return program.ButtonStates() == Expected(true); }, 5000));

    choose({"Up", "Return"}); // Quit
    EXPECT_EQ(program.WaitForExit(), 0);
    EXPECT_TRUE(WaitUntil([&] { return !DockedIcon(x).isValid(); }, 5000));
    x.Stop(other);
}

TEST_F(TrayE2E, RestartedTrayHostGetsTheIconBack) {
    ASSERT_TRUE(program.Start());
    ASSERT_TRUE(WaitForDockedIcon(x).isValid());
    x.Stop(trayer);
    ASSERT_TRUE(WaitUntil([&] { return !x.TrayAreaRunning(); }, 10000));
    trayer = x.StartTrayer();
    ASSERT_TRUE(trayer);
    const QRect icon = WaitForDockedIcon(x);
    ASSERT_TRUE(icon.isValid()) << "no icon in the new panel";
    EXPECT_TRUE(WaitUntil([&] { return ShowsIcon(x.Screenshot(), icon); }, 5000));
}

TEST_F(TrayE2E, TrayHostGoneWhileHiddenGivesTheWindowBack) {
    ASSERT_TRUE(program.Start());
    ASSERT_TRUE(WaitForDockedIcon(x).isValid());
    MinimiseToTray();
    x.Stop(trayer);
    EXPECT_TRUE(WaitUntil([&] { return x.WindowMapped(program.MainWindow()); }, 10000))
        << "the icon was the only way back";
    EXPECT_TRUE(Contains(x.ClientList(), program.MainWindow()));
}

TEST(TrayE2ENoArea, WithoutNotificationAreaTheWindowMinimisesNormally) {
    XSession x(1024, 768, 24);
    ASSERT_TRUE(x.Ok()) << x.Error();
    ProgramUnderTest program(x);
    ASSERT_TRUE(program.Start());
    const unsigned long window = program.MainWindow();
    x.Run("xdotool", {"windowminimize", QString::number(window)});
    ASSERT_TRUE(WaitUntil([&] { return !x.WindowMapped(window); }, 10000));
    // Give the program the time it would take to hide to a tray.
    QThread::msleep(1000);
    EXPECT_TRUE(Contains(x.ClientList(), window)) << "still in the taskbar";
    EXPECT_TRUE(x.Run("xprop", {"-id", QString::number(window), "WM_STATE"}).contains("Iconic"));

    x.Run("xdotool", {"windowactivate", QString::number(window)});
    EXPECT_TRUE(WaitUntil([&] { return x.WindowMapped(window); }, 10000));
    EXPECT_TRUE(WaitUntil([&] { return program.ButtonStates() == Expected(false); }, 5000));
}

TEST_F(TrayE2E, WithAStatusNotifierHostOneActivationBringsTheWindowBack) {
    // The kind of tray KDE Plasma has, on X11 too: the icon becomes a
    // StatusNotifierItem, and a click on it is one activation.
    PrivateBus bus;
    ASSERT_TRUE(bus.Ok()) << bus.Error();
    QProcess* watcher = bus.StartScript("sni_watcher.py");
    ASSERT_TRUE(watcher) << bus.Error();
    program.SetEnvironment("DBUS_SESSION_BUS_ADDRESS", bus.Address());
    ASSERT_TRUE(program.Start());
    QStringList registered;
    ASSERT_TRUE(WaitUntil(
        [&] {
            registered << PrivateBus::Lines(watcher);
            return !registered.isEmpty();
        },
        10000));
    EXPECT_TRUE(registered[0].startsWith("registered ")) << registered[0].toStdString();

    MinimiseToTray();
    // What the host sends when the icon is clicked.
    QProcess host;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", bus.Address());
    host.setProcessEnvironment(env);
    host.start("/usr/bin/python3", {BRWK_TEST_SUPPORT_DIR "/tray_item.py", "activate"});
    ASSERT_TRUE(host.waitForFinished(10000));
    ASSERT_EQ(host.exitCode(), 0) << host.readAllStandardError().toStdString();
    ASSERT_TRUE(WaitUntil([&] { return x.WindowMapped(program.MainWindow()); }, 10000))
        << "one activation should restore the window";
    EXPECT_TRUE(Contains(x.ClientList(), program.MainWindow())) << "back in the taskbar";
}

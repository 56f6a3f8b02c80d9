// The real program natively on a headless Wayland desktop (sway, its bar as
// the tray host, the screenshot portal), as a user there would use it:
// --capture, the clipboard both ways, the tray item and its menu.
#include "FastDIB.h"
#include "WaylandSession.h"
#include "XSession.h" // WaitUntil

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>

namespace {

// Asymmetric, with detail everywhere, so shifts, flips and anything drawn
// over it show.
QImage Pattern(int width, int height) {
    QImage img(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            img.setPixel(x, y,
                         qRgb(x * 255 / width, y * 255 / height, (x / 16 + y / 16) % 2 ? 200 : 40));
    return img;
}

// Pixels of a capture that differ from the picture within rect.
int Differing(const TFastDIB& capture, const QImage& picture, const QRect& rect) {
    int differing = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (capture.GetColor(capture.RowOf(y), x) != (picture.pixel(x, y) & 0xFFFFFF))
                ++differing;
    return differing;
}

class WaylandE2E : public testing::Test {
protected:
    WaylandSession wl;
    QString cache, config, program;

    void SetUp() override {
        ASSERT_TRUE(wl.Ok()) << wl.Error();
        cache = wl.UserDir("cache");
        config = wl.UserDir("config");
        // Where the session's user can run it.
        program = wl.UserDir("bin") + "/Brindlewick";
        ASSERT_TRUE(QFile::copy(BRWK_PROGRAM, program));
        QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther |
                                           QFile::ExeOther);
    }

    QProcessEnvironment Environment() const {
        QProcessEnvironment env;
        env.insert("XDG_CACHE_HOME", cache);
        env.insert("XDG_CONFIG_HOME", config);
        return env;
    }
    std::string WorkingFile() const {
        return (cache + "/Brindlewick/brindlewick_temp.bmp").toStdString();
    }
    // Starts the program and waits until its main window has the focus.
    bool Start(const QStringList& args = {}) {
        wl.Start(program, args, Environment());
        return WaitUntil([&] { return wl.FindWindow("Brindlewick!").value("focused").toBool(); },
                         15000);
    }
    bool Captured(TFastDIB& capture) {
        return WaitUntil(
            [&] {
                return capture.LoadBitmapFile(WorkingFile()) &&
                       wl.FindWindow("Brindlewick!").value("visible").toBool();
            },
            20000);
    }
    int Other(const QStringList& args) {
        int code = -1;
        wl.Run(program, args, &code, Environment());
        return code;
    }
    QString Tray(const QStringList& args, int* code = nullptr) {
        return QString::fromUtf8(
            wl.Run("/usr/bin/python3", QStringList{wl.Script("tray_item.py")} + args, code));
    }
};

} // namespace

TEST_F(WaylandE2E, CaptureGivesThePortalsPictureWithoutTheWindow) {
    const QImage background = Pattern(WaylandSession::Width, WaylandSession::Height);
    ASSERT_TRUE(wl.SetBackground(background));
    const QImage before = wl.PortalScreenshot();
    ASSERT_EQ(before.size(), background.size());

    // As a key binding runs it, with no copy running yet.
    ASSERT_TRUE(Start({"--capture"}));
    TFastDIB capture;
    ASSERT_TRUE(Captured(capture));
    ASSERT_EQ(capture.Width(), WaylandSession::Width);
    ASSERT_EQ(capture.RowCount, WaylandSession::Height);
    EXPECT_EQ(capture.BitCount(), 32);
    // The bar below the desktop has gained the program's icon since.
    const QRect desktop = wl.DesktopArea();
    ASSERT_GT(desktop.height(), WaylandSession::Height * 9 / 10) << "the desktop above the bar";
    EXPECT_EQ(Differing(capture, before, desktop), 0);

    // A second --capture is handed to the running copy, which captures again.
    std::remove(WorkingFile().c_str());
    EXPECT_EQ(Other({"--capture"}), 0);
    TFastDIB again;
    ASSERT_TRUE(Captured(again));
    EXPECT_EQ(Differing(again, before, desktop), 0);

    // "Crop && adjust" (after "Capture screen" in the keys' order) opens the
    // editor on a capture as big as the screen: it must fit the desktop,
    // which no window position decides here.
    wl.Run("wtype", {"-k", "Shift_L", "-s", "1000", "-k", "Tab", "-k", "space"});
    const QJsonObject editor = wl.WaitForWindow("Modify capture");
    ASSERT_FALSE(editor.isEmpty());
    QRect shown;
    ASSERT_TRUE(WaitUntil(
        [&] {
            const QJsonObject r = wl.FindWindow("Modify capture")["rect"].toObject();
            shown = QRect(r["x"].toInt(), r["y"].toInt(), r["width"].toInt(), r["height"].toInt());
            return shown.width() > 0;
        },
        5000));
    EXPECT_TRUE(desktop.contains(shown))
        << shown.x() << "," << shown.y() << " " << shown.width() << "x" << shown.height();
    EXPECT_GT(shown.width(), desktop.width() / 2);
}

TEST_F(WaylandE2E, ClipboardBothWaysKeepsThePixels) {
    const QImage picture = Pattern(40, 30);
    QByteArray png;
    QBuffer buffer(&png);
    picture.save(&buffer, "PNG");
    int code = -1;
    wl.Run("wl-copy", {"--type", "image/png"}, &code, {}, png);
    ASSERT_EQ(code, 0);

    // The keyboard is what reaches the window here: the focus starts on
    // "Capture screen", and the disabled buttons are passed over. A new
    // virtual keyboard's first key only wakes the window, and a slow start
    // (a sanitizer build) needs a moment after it before keys count.
    ASSERT_TRUE(Start());
    // "Take image from clipboard".
    wl.Run("wtype", {"-k", "Shift_L", "-s", "1000", "-k", "Tab", "-k", "Tab", "-k", "space"});
    TFastDIB taken;
    ASSERT_TRUE(WaitUntil([&] { return taken.LoadBitmapFile(WorkingFile()); }, 10000));
    ASSERT_EQ(taken.Width(), 40);
    ASSERT_EQ(taken.RowCount, 30);
    EXPECT_EQ(Differing(taken, picture, picture.rect()), 0);

    // What is pasted next can only come from the program.
    wl.Run("wl-copy", {"--clear"});
    wl.Run("wtype",
           {"-k", "Shift_L", "-s", "1000", "-k", "Tab", "-k", "space"}); // Copy to clipboard
    QImage pasted;
    ASSERT_TRUE(WaitUntil(
        [&] {
            pasted = QImage::fromData(wl.Run("wl-paste", {"--type", "image/png"}), "PNG");
            return pasted.size() == picture.size() && pasted.pixel(0, 0) == picture.pixel(0, 0);
        },
        10000));
    int differing = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if ((pasted.pixel(x, y) & 0xFFFFFF) != (picture.pixel(x, y) & 0xFFFFFF)) ++differing;
    EXPECT_EQ(differing, 0);
}

TEST_F(WaylandE2E, TrayItemRegistersWithTheBarAndItsMenuWorks) {
    ASSERT_TRUE(Start());
    ASSERT_TRUE(
        WaitUntil([&] { return Tray({"registered"}).contains("/StatusNotifierItem"); }, 10000))
        << "registered with the bar's watcher";

    int code = -1;
    Tray({"menu", "Capture screen"}, &code);
    ASSERT_EQ(code, 0);
    TFastDIB capture;
    ASSERT_TRUE(Captured(capture));
    EXPECT_EQ(capture.Width(), WaylandSession::Width);
}

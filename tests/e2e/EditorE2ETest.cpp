#include "CaptureEditor.h"
#include "FastDIB.h"
#include "ProgramUnderTest.h"
#include "XSession.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QMargins>
#include <QRegularExpression>

#include <algorithm>

namespace {

// Where a window's client area is on the screen.
QRect ClientOnScreen(const XSession& x, unsigned long window) {
    const QString out = QString::fromLatin1(x.Run("xwininfo", {"-id", QString::number(window)}));
    auto value = [&](const char* key) {
        return QRegularExpression(QString(key) + R"(:\s+(-?\d+))").match(out).captured(1).toInt();
    };
    return {value("Absolute upper-left X"), value("Absolute upper-left Y"), value("Width"),
            value("Height")};
}

// The space the window manager's frame takes around a window.
QMargins FrameExtents(const XSession& x, unsigned long window) {
    const QString out =
        QString::fromLatin1(x.Run("xprop", {"-id", QString::number(window), "_NET_FRAME_EXTENTS"}));
    const QStringList n = out.section('=', 1).split(',', Qt::SkipEmptyParts);
    if (n.size() != 4) return {};
    return {n[0].trimmed().toInt(), n[2].trimmed().toInt(), n[1].trimmed().toInt(),
            n[3].trimmed().toInt()};
}

// The editor on a full-screen capture of a 1024 x 768 desktop, and the capture
// as it was before the editor touched it.
class EditorE2E : public testing::Test {
protected:
    XSession x{1024, 768, 24};
    ProgramUnderTest program{x};
    unsigned long editor = 0;
    QRect client; // the editor's client area on the screen
    int viewWidth = 0, viewHeight = 0;
    TFastDIB before;

    void OpenEditorOnAScreenCapture() {
        ASSERT_TRUE(x.Ok()) << x.Error();
        ASSERT_TRUE(program.Start());
        program.Press("Capture screen");
        ASSERT_TRUE(WaitUntil(
            [&] {
                return QFile::exists(QString::fromStdString(program.WorkingFile())) &&
                       x.WindowMapped(program.MainWindow());
            },
            20000));
        ASSERT_TRUE(WaitUntil([&] { return program.LooksEnabled("Crop && adjust"); }, 5000));
        ASSERT_TRUE(before.LoadBitmapFile(program.WorkingFile()));
        ASSERT_EQ(before.Width(), 1024);

        program.Press("Crop && adjust");
        editor = x.WaitForWindow("^Modify capture$");
        ASSERT_NE(editor, 0u);
        // On a 1024 x 768 screen the designed window would be 1094 x 838; it
        // comes onto the screen, frame and all, and stays there.
        QRect frame, last;
        const bool onScreen = WaitUntil(
            [&] {
                last = frame;
                client = ClientOnScreen(x, editor);
                frame = client.marginsAdded(FrameExtents(x, editor));
                return QRect(0, 0, 1024, 768).contains(frame) && frame == last;
            },
            10000);
        ASSERT_TRUE(onScreen) << "frame " << frame.x() << "," << frame.y() << " " << frame.width()
                              << "x" << frame.height();
        // Let the view be painted before anyone looks or drags.
        ASSERT_TRUE(WaitUntil([&] { return !x.Screenshot(editor).isNull(); }, 10000));
        viewWidth = client.width() - 5;
        viewHeight = client.height() - 65;
    }
    // Where a window point of the editor lands in the picture.
    double PictureX(int windowX) const { return windowX * 1024.0 / viewWidth; }
    double PictureY(int canvasY) const { return canvasY * 768.0 / viewHeight; }

    void Drag(QPoint from, QPoint to) {
        const QString id = QString::number(editor);
        const QPoint mid = (from + to) / 2;
        x.Run("xdotool", {"mousemove", "--window", id, QString::number(from.x()),
                          QString::number(from.y()), "mousedown", "1"});
        x.Run("xdotool",
              {"mousemove", "--window", id, QString::number(mid.x()), QString::number(mid.y())});
        x.Run("xdotool", {"mousemove", "--window", id, QString::number(to.x()),
                          QString::number(to.y()), "mouseup", "1"});
    }
    // Close, then Yes to the save question.
    void CloseAndSave() {
        x.Click(editor, 15, 10);
        const unsigned long confirm = x.WaitForWindow("^Confirm$");
        ASSERT_NE(confirm, 0u);
        x.Key(confirm, "Return");
        ASSERT_TRUE(WaitUntil([&] { return !x.WindowMapped(editor); }, 10000));
    }
};

} // namespace

// The window for a full-screen capture keeps the picture's proportions, and
// the corner of the picture is within reach of the mouse.
TEST_F(EditorE2E, FullScreenCaptureFitsAndItsCornerCanBeCropped) {
    ASSERT_NO_FATAL_FAILURE(OpenEditorOnAScreenCapture());
    EXPECT_NEAR(double(viewWidth) / viewHeight, 1024.0 / 768.0, 0.01) << "proportions kept";
    const QImage shot = x.Screenshot();
    shot.save(QDir::temp().filePath("brwk-editor-fullscreen.png"));

    // From the middle of the view to just past its lower-right corner, above
    // the status bar.
    Drag({client.width() / 2, client.height() / 2}, {client.width() - 3, client.height() - 21});
    CloseAndSave();
    TFastDIB after;
    ASSERT_TRUE(after.LoadBitmapFile(program.WorkingFile()));
    ASSERT_GT(after.Width(), 300);
    ASSERT_GT(after.RowCount, 200);
    ASSERT_LT(after.Width(), 1024);
    ASSERT_LT(after.RowCount, 768);
    // The crop is the lower-right block of the capture, to its last pixel.
    const int left = 1024 - after.Width(), top = 768 - after.RowCount;
    int differing = 0;
    for (int y = 0; y < after.RowCount; y += 3)
        for (int c = 0; c < after.Width(); c += 3)
            if (after.GetColor(after.RowOf(y), c) !=
                before.GetColor(before.RowOf(top + y), left + c))
                ++differing;
    EXPECT_EQ(differing, 0);
    EXPECT_EQ(after.GetColor(after.RowOf(after.RowCount - 1), after.Width() - 1),
              before.GetColor(before.RowOf(767), 1023));
    EXPECT_NEAR(left, PictureX(client.width() / 2), 4);
}

// A capture taken, a region dragged and filled in the editor, closed with
// Yes: the working capture file holds the whole screen with that region black.
TEST_F(EditorE2E, DragFillAndSaveBlackensTheDraggedRegion) {
    ASSERT_NO_FATAL_FAILURE(OpenEditorOnAScreenCapture());
    Drag({200, 150}, {400, 300});

    // Modify > Fill area with black, by keyboard once the menu is open.
    const QImage beforeFill = x.Screenshot(editor);
    x.Click(editor, 75, 10); // Modify
    x.Run("xdotool", {"key", "Down", "Down", "Down", "Down", "Return"});
    ASSERT_TRUE(WaitUntil([&] { return x.Screenshot(editor) != beforeFill; }, 5000));
    CloseAndSave();

    TFastDIB after;
    ASSERT_TRUE(after.LoadBitmapFile(program.WorkingFile()));
    ASSERT_EQ(after.Width(), 1024);
    ASSERT_EQ(after.RowCount, 768);
    // The black pixels form one rectangle where the drag went in the
    // picture, everything else is as it was.
    QRect black;
    int changedOutside = 0;
    for (int y = 0; y < 768; ++y)
        for (int c = 0; c < 1024; ++c)
            if (after.GetColor(after.RowOf(y), c) == 0 && before.GetColor(before.RowOf(y), c) != 0)
                black |= QRect(c, y, 1, 1);
    ASSERT_FALSE(black.isEmpty());
    for (int y = 0; y < 768; y += 2)
        for (int c = 0; c < 1024; c += 2)
            if (!black.contains(c, y) &&
                after.GetColor(after.RowOf(y), c) != before.GetColor(before.RowOf(y), c))
                ++changedOutside;
    EXPECT_EQ(changedOutside, 0);
    EXPECT_NEAR(black.left(), PictureX(200), 4) << black.left();
    EXPECT_NEAR(black.right(), PictureX(400), 4) << black.right();
    // The menu bar sits above the view: the drag's y is a little lower in it.
    EXPECT_NEAR(black.top(), PictureY(150 - 20), 30) << black.top();
    EXPECT_NEAR(black.bottom(), PictureY(300 - 20), 30) << black.bottom();
    EXPECT_NEAR(double(black.height()) / black.width(), 150.0 / 200.0, 0.05)
        << "the same scale both ways";
    for (int y = black.top() + 2; y < black.bottom() - 2; y += 5)
        for (int c = black.left() + 2; c < black.right() - 2; c += 5)
            EXPECT_EQ(after.GetColor(after.RowOf(y), c), 0u) << c << "," << y;
    EXPECT_TRUE(WaitUntil([&] { return program.LooksEnabled("Publish"); }, 5000));
}

// A capture marked up with an arrow, a box, two numbered steps and a line of
// text, the text undone, and kept: the working capture (what is published)
// is exactly the picture the editor showed, scaled as the editor scales it.
TEST_F(EditorE2E, AMarkedUpCaptureIsKeptAsTheEditorShowedIt) {
    ASSERT_NO_FATAL_FAILURE(OpenEditorOnAScreenCapture());
    x.Key(editor, "a");
    Drag({100, 300}, {300, 200});
    x.Key(editor, "r");
    Drag({350, 150}, {550, 300});
    x.Key(editor, "n");
    x.Click(editor, 600, 200);
    x.Click(editor, 650, 260);
    x.Key(editor, "t");
    x.Click(editor, 150, 420);
    x.Run("xdotool", {"type", "Note"});
    x.Key(editor, "Return");
    x.Key(editor, "ctrl+z");
    // Unchanged for half a second: the program has handled every key (two
    // equal grabs 50 ms apart came before the undo under the sanitizer).
    QImage shown;
    int same = 0;
    ASSERT_TRUE(WaitUntil(
        [&] {
            const QImage now = x.Screenshot(editor);
            same = !now.isNull() && now == shown ? same + 1 : 0;
            shown = now;
            return same >= 10;
        },
        15000));
    shown.save(QDir::temp().filePath("brwk-editor-marked-up.png"));
    CloseAndSave();

    TFastDIB after;
    ASSERT_TRUE(after.LoadBitmapFile(program.WorkingFile()));
    ASSERT_EQ(after.Width(), 1024);
    ASSERT_EQ(after.RowCount, 768);
    auto changedIn = [&](QRect windowArea) {
        int changed = 0;
        for (int wy = windowArea.top(); wy <= windowArea.bottom(); ++wy)
            for (int wx = windowArea.left(); wx <= windowArea.right(); ++wx) {
                const int px = int(PictureX(wx)), py = int(PictureY(wy - 20));
                changed +=
                    after.GetColor(after.RowOf(py), px) != before.GetColor(before.RowOf(py), px);
            }
        return changed;
    };
    EXPECT_GT(changedIn({100, 200, 200, 100}), 50) << "the arrow";
    EXPECT_GT(changedIn({340, 140, 220, 170}), 50) << "the box";
    EXPECT_GT(changedIn({585, 185, 80, 90}), 50) << "the steps";
    EXPECT_EQ(changedIn({150, 420, 60, 30}), 0) << "the text was undone";

    // The view is the kept picture scaled to the window's view, below the menu.
    const capture::TExtent view = capture::FitProportionally(
        {1024, 768}, capture::ViewSizeFor({client.width(), client.height()}));
    TFastDIB scaled;
    ASSERT_TRUE(capture::AllocateLike(scaled, after, view.width, view.height));
    after.ScaleInto(scaled);
    int best = view.width * view.height;
    for (int menu = 0; menu < 50; ++menu) {
        int differing = 0;
        for (int y = 0; y < view.height && menu + y < shown.height(); ++y)
            for (int c = 0; c < view.width; ++c)
                differing +=
                    (shown.pixel(c, menu + y) & 0xFFFFFF) != scaled.GetColor(scaled.RowOf(y), c);
        best = std::min(best, differing);
    }
    EXPECT_EQ(best, 0);
}

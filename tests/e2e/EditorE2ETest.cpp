#include "FastDIB.h"
#include "ProgramUnderTest.h"
#include "XSession.h"

#include <gtest/gtest.h>

#include <QFile>

// A capture taken, a region dragged and filled in the editor, closed with
// Yes: the working capture file holds the whole screen with that region black.
TEST(EditorE2E, DragFillAndSaveBlackensTheDraggedRegion) {
    XSession x(1024, 768, 24);
    ASSERT_TRUE(x.Ok()) << x.Error();
    ProgramUnderTest program(x);
    ASSERT_TRUE(program.Start());
    program.Press("Capture screen");
    ASSERT_TRUE(WaitUntil(
        [&] {
            return QFile::exists(QString::fromStdString(program.WorkingFile())) &&
                   x.WindowMapped(program.MainWindow());
        },
        20000));
    ASSERT_TRUE(WaitUntil([&] { return program.LooksEnabled("Crop && adjust"); }, 5000));

    program.Press("Crop && adjust");
    const unsigned long editor = x.WaitForWindow("^Modify capture$");
    ASSERT_NE(editor, 0u);
    const QRect frame = x.WindowGeometry(editor);
    EXPECT_EQ(frame.size(), QSize(1024 + 70, 768 + 70));
    // Let the view be painted before dragging over it.
    ASSERT_TRUE(WaitUntil([&] { return !x.Screenshot(editor).isNull(); }, 5000));
    const QString id = QString::number(editor);
    x.Run("xdotool", {"mousemove", "--window", id, "200", "150", "mousedown", "1"});
    x.Run("xdotool", {"mousemove", "--window", id, "300", "220"});
    x.Run("xdotool", {"mousemove", "--window", id, "400", "300", "mouseup", "1"});

    // Modify > Fill area with black, by keyboard once the menu is open.
    const QImage beforeFill = x.Screenshot(editor);
    x.Click(editor, 75, 10); // Modify
    x.Run("xdotool", {"key", "Down", "Down", "Down", "Down", "Return"});
    ASSERT_TRUE(WaitUntil([&] { return x.Screenshot(editor) != beforeFill; }, 5000));

    x.Click(editor, 15, 10); // Close
    const unsigned long confirm = x.WaitForWindow("^Confirm$");
    ASSERT_NE(confirm, 0u);
    TFastDIB before;
    ASSERT_TRUE(before.LoadBitmapFile(program.WorkingFile()));
    x.Key(confirm, "Return"); // Yes
    ASSERT_TRUE(WaitUntil([&] { return !x.WindowMapped(editor); }, 10000));

    TFastDIB after;
    ASSERT_TRUE(after.LoadBitmapFile(program.WorkingFile()));
    ASSERT_EQ(after.Width(), 1024);
    ASSERT_EQ(after.RowCount, 768);
    // The black pixels form one rectangle near the dragged one (the view
    // scales the picture slightly into the window), everything else is as
    // it was.
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
    EXPECT_NEAR(black.left(), 200, 20) << black.left();
    EXPECT_NEAR(black.right(), 400, 30) << black.right();
    EXPECT_NEAR(black.top(), 150 - 20, 30) << black.top() << " (the menu bar sits above the view)";
    EXPECT_NEAR(black.bottom(), 300 - 20, 40) << black.bottom();
    for (int y = black.top() + 2; y < black.bottom() - 2; y += 5)
        for (int c = black.left() + 2; c < black.right() - 2; c += 5)
            EXPECT_EQ(after.GetColor(after.RowOf(y), c), 0u) << c << "," << y;
    EXPECT_TRUE(WaitUntil([&] { return program.LooksEnabled("Publish"); }, 5000));
}

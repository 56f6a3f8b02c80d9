// The editor window driven like a user: mouse on the client area, menu items,
// closing with and without saving, against real BMP files.
#include "CaptureTestUtil.h"
#include "ScriptedDialogs.h"
#include "modifyCaptureUnit.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>

using namespace capture;
using namespace capturetest;
using dibtest::PixelAt;

namespace {

const std::string SaveQuestion = "Do you want to save changes?";
const std::string CropRefused =
    "You cannot crop image if you have resized image. Close window and try again.";
const std::string UnsupportedDepth = "Not supported display color-amount. Change display settings!";
const Layout True24{"True24", 24, false};

class ModifyCaptureTest : public ::testing::Test {
protected:
    ScriptedDialogsScope dialogs;
    dibtest::ScratchDir dir;
    std::string file = dir.File("brindlewick_temp.bmp");
    TfrmModifyCapture form;

    void Open(const BmpBuilder& picture) {
        picture.WriteTo(file);
        form.CaptureFile = file;
        form.show();
        QCoreApplication::processEvents();
    }
    // Window point of a picture point, through the window's own mapping.
    QPoint At(int px, int py) {
        auto [x, y] = MouseFor(form.Editor(), px, py);
        return {x, y};
    }
    void Drag(int x0, int y0, int x1, int y1) {
        QWidget* c = form.Canvas();
        QTest::mouseMove(c, At(x0, y0));
        QTest::mousePress(c, Qt::LeftButton, {}, At(x0, y0));
        QTest::mouseMove(c, At((x0 + x1) / 2, (y0 + y1) / 2));
        QTest::mouseMove(c, At(x1, y1));
        QTest::mouseRelease(c, Qt::LeftButton, {}, At(x1, y1));
    }
    int Confirmations() {
        int n = 0;
        for (const auto& s : dialogs->shown)
            if (s.kind == "confirm") {
                EXPECT_EQ(s.caption, "Confirm");
                EXPECT_EQ(s.text, SaveQuestion);
                ++n;
            }
        return n;
    }
    int MessagesOf(const std::string& text) {
        auto m = dialogs->Messages();
        return int(std::count(m.begin(), m.end(), text));
    }
};

} // namespace

TEST_F(ModifyCaptureTest, WindowIsLaidOutAsDesigned) {
    EXPECT_EQ(form.windowTitle(), "Modify capture");
    EXPECT_EQ(form.Close1->text(), "Close");
    EXPECT_EQ(form.Modify1->title(), "Modify");
    QStringList items;
    for (QAction* a : form.Modify1->actions()) items << a->text();
    EXPECT_EQ(items, (QStringList{"Resize by 75%", "Resize by 50%", "Resize by 25%",
                                  "Fill area with black"}));
    QStringList bar;
    for (QAction* a : form.MainMenu1->actions()) bar << a->text();
    EXPECT_EQ(bar, (QStringList{"Close", "Modify", "Draw"}));
    EXPECT_EQ(form.StatusBar1->height(), 19);
    EXPECT_TRUE(form.StatusBar1->currentMessage().isEmpty());
    EXPECT_TRUE(form.Canvas()->hasMouseTracking());
    EXPECT_EQ(form.size(), QSize(783, 540));
}

TEST_F(ModifyCaptureTest, A640x480CaptureSizesWindowViewAndMapping) {
    Open(Picture(True24, 640, 480));
    EXPECT_EQ(form.size(), QSize(710, 550));
    EXPECT_EQ(form.Editor().ViewSize(), (TExtent{705, 485}));
    EXPECT_EQ(form.Editor().View().Width(), 705);
    EXPECT_EQ(form.Editor().View().RowCount, 485);
    // The view fits in the client area below the menu.
    EXPECT_GE(form.Canvas()->height(), 485);
    QTest::mousePress(form.Canvas(), Qt::LeftButton, {}, QPoint(352, 242));
    EXPECT_EQ(form.Editor().SelStart, (TSelPoint{320, 240}));
    EXPECT_TRUE(form.Editor().Selecting);
}

TEST_F(ModifyCaptureTest, PictureBiggerThanTheScreenFitsWithItsProportions) {
    const QRect area = form.screen()->availableGeometry();
    const int w = area.width() + 200, h = area.height() + 100;
    Open(Picture(True24, w, h));
    EXPECT_TRUE(area.contains(form.frameGeometry())) << "the window stays on the screen";
    EXPECT_TRUE(form.Editor().KeepProportions());
    const TExtent view = form.Editor().ViewSize();
    const TExtent room = ViewSizeFor({form.width(), form.height()});
    EXPECT_LE(room.width - view.width + room.height - view.height, 1) << "the window hugs the view";
    EXPECT_NEAR(double(view.width) / view.height, double(w) / h, 0.01);
    EXPECT_EQ(form.Editor().View().Width(), view.width);

    // A drag from the middle to the view's lower-right corner (and a little
    // past it, as a hand does) crops the picture's lower-right part.
    auto original = Loaded(file);
    QWidget* c = form.Canvas();
    QTest::mousePress(c, Qt::LeftButton, {}, QPoint(view.width / 2, view.height / 2));
    QTest::mouseMove(c, QPoint(view.width + 3, view.height + 3));
    QTest::mouseRelease(c, Qt::LeftButton, {}, QPoint(view.width + 3, view.height + 3));
    EXPECT_EQ(form.Editor().SelEnd, (TSelPoint{w, h}));
    dialogs->confirmAnswers = {true};
    form.close();
    auto saved = Loaded(file);
    const TSelPoint from = form.Editor().SelStart;
    ASSERT_EQ(saved->Width(), w - from.x);
    ASSERT_EQ(saved->RowCount, h - from.y);
    EXPECT_EQ(Block(*saved, 0, 0, saved->Width(), saved->RowCount),
              Block(*original, from.x, from.y, saved->Width(), saved->RowCount));
}

// After a shrink the window is the designed one again (picture + margin),
// and the picture in it keeps its proportions, whether it was too big for
// the screen before or not.
TEST_F(ModifyCaptureTest, AShrunkPictureGetsTheDesignedWindowAndKeepsItsShape) {
    const QRect area = form.screen()->availableGeometry();
    for (TExtent size : {TExtent{2 * area.width() - 200, 2 * area.height() - 200}, {300, 200}}) {
        Open(Picture(True24, size.width, size.height));
        form.Resizeby501->trigger();
        const TExtent picture = form.Editor().PictureSize();
        EXPECT_EQ(form.size(), QSize(picture.width + 70, picture.height + 70));
        EXPECT_TRUE(area.contains(form.frameGeometry()));
        const TExtent view = form.Editor().ViewSize();
        EXPECT_EQ(view, FitProportionally(picture, ViewSizeFor({form.width(), form.height()})));
        // A 150 x 100 picture is shown 158 x 105, not 215 x 105.
        EXPECT_NEAR(double(view.width) / view.height, double(picture.width) / picture.height, 0.01)
            << view.width << " x " << view.height;
        EXPECT_EQ(form.Editor().View().Width(), view.width);
        form.close();
    }
}

TEST_F(ModifyCaptureTest, SelectionEndFollowsTheMouseBeforeAnyPress) {
    Open(Picture(True24, 640, 480));
    QTest::mouseMove(form.Canvas(), QPoint(352, 242));
    EXPECT_EQ(form.Editor().SelEnd, (TSelPoint{320, 240}));
    EXPECT_FALSE(form.Editor().Selecting);
}

TEST_F(ModifyCaptureTest, ThePictureAndTheRedFrameArePainted) {
    BmpBuilder b = Picture(True24, 80, 60);
    b.pixels =
        PackPixels(80, 60, 24, true, [](int x, int) { return x < 40 ? 0x2060A0 : 0xE0E0E0; });
    Open(b);
    QImage shot = form.Canvas()->grab().toImage();
    EXPECT_EQ(shot.pixel(5, 5) & 0xFFFFFF, 0x2060A0u);
    EXPECT_EQ(shot.pixel(140, 60) & 0xFFFFFF, 0xE0E0E0u);

    QTest::mousePress(form.Canvas(), Qt::LeftButton, {}, QPoint(20, 10));
    QTest::mouseMove(form.Canvas(), QPoint(120, 50));
    shot = form.Canvas()->grab().toImage();
    int red = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            if ((shot.pixel(x, y) & 0xFFFFFF) == 0xFF0000) ++red;
    EXPECT_GT(red, 200);
    EXPECT_EQ(shot.pixel(70, 30) & 0xFFFFFF, 0x2060A0u) << "the frame is hollow";
}

TEST_F(ModifyCaptureTest, DragAndYesReplacesTheFileByTheRectangle) {
    Open(Picture(True24, 120, 90));
    auto original = Loaded(file);
    Drag(20, 10, 70, 60);
    dialogs->confirmAnswers = {true};
    EXPECT_TRUE(form.close());
    EXPECT_EQ(Confirmations(), 1);
    EXPECT_FALSE(form.isVisible());
    auto saved = Loaded(file);
    ASSERT_EQ(saved->Width(), 50);
    ASSERT_EQ(saved->RowCount, 50);
    EXPECT_EQ(Block(*saved, 0, 0, 50, 50), Block(*original, 20, 10, 50, 50));
}

TEST_F(ModifyCaptureTest, OppositeDragGivesTheSameFile) {
    Open(Picture(True24, 120, 90));
    Drag(70, 60, 20, 10);
    dialogs->confirmAnswers = {true};
    form.close();
    auto saved = Loaded(file);
    EXPECT_EQ(saved->Width(), 50);
    EXPECT_EQ(saved->RowCount, 50);
    auto fresh = std::filesystem::path(dir.File("other.bmp"));
    Picture(True24, 120, 90).WriteTo(fresh);
    auto original = Loaded(fresh);
    EXPECT_EQ(Block(*saved, 0, 0, 50, 50), Block(*original, 20, 10, 50, 50));
}

TEST_F(ModifyCaptureTest, AnsweringNoKeepsTheFile) {
    Open(Picture(True24, 120, 90));
    const auto before = ReadFileBytes(file);
    Drag(20, 10, 70, 60);
    dialogs->confirmAnswers = {false};
    form.close();
    EXPECT_EQ(Confirmations(), 1);
    EXPECT_EQ(ReadFileBytes(file), before);
    EXPECT_FALSE(form.isVisible());
}

TEST_F(ModifyCaptureTest, ClosingWithoutChangesAsksNothing) {
    Open(Picture(True24, 60, 40));
    const auto before = ReadFileBytes(file);
    QTest::mouseMove(form.Canvas(), QPoint(30, 30));
    form.Close1->trigger();
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(dialogs->shown.empty());
    EXPECT_EQ(ReadFileBytes(file), before);
}

TEST_F(ModifyCaptureTest, AClickIsNoChangeAndAsksNothing) {
    Open(Picture(True24, 60, 40));
    const auto before = ReadFileBytes(file);
    QTest::mouseClick(form.Canvas(), Qt::LeftButton, {}, QPoint(30, 20));
    form.close();
    EXPECT_EQ(Confirmations(), 0);
    EXPECT_EQ(ReadFileBytes(file), before);
}

TEST_F(ModifyCaptureTest, NextShowingStartsWithAllFlagsClear) {
    Open(Picture(True24, 60, 40));
    Drag(5, 5, 30, 30);
    form.Resizeby501Click();
    dialogs->confirmAnswers = {false};
    form.close();
    form.show();
    QCoreApplication::processEvents();
    const TCaptureEditor& e = form.Editor();
    EXPECT_FALSE(e.Selecting || e.SelectionDone || e.Resized || e.Filled);
    EXPECT_EQ(e.PictureSize(), (TExtent{60, 40})) << "the unsaved shrink is gone";
    form.close();
    EXPECT_EQ(Confirmations(), 1);
}

TEST_F(ModifyCaptureTest, FillWithoutFinishedSelectionDoesNothing) {
    Open(Picture(True24, 60, 40));
    const auto before = dibtest::MemoryBytes(form.Editor().Image());
    form.FillBlack->trigger();
    QTest::mousePress(form.Canvas(), Qt::LeftButton, {}, At(5, 5));
    QTest::mouseMove(form.Canvas(), At(30, 30));
    form.FillBlack->trigger();
    EXPECT_EQ(dibtest::MemoryBytes(form.Editor().Image()), before);
    EXPECT_FALSE(form.Editor().Filled);
}

TEST_F(ModifyCaptureTest, FillThenNewSelectionSavesTheWholeFilledPicture) {
    Open(Picture(True24, 60, 40));
    Drag(10, 10, 30, 30);
    form.FillBlack->trigger();
    EXPECT_FALSE(form.Editor().Selecting);
    Drag(0, 0, 8, 8);
    dialogs->confirmAnswers = {true};
    form.close();
    auto saved = Loaded(file);
    ASSERT_EQ(saved->Width(), 60);
    ASSERT_EQ(saved->RowCount, 40);
    EXPECT_EQ(PixelAt(*saved, 20, 20), 0u);
    EXPECT_EQ(PixelAt(*saved, 9, 9), 0u);
    EXPECT_NE(PixelAt(*saved, 40, 35), 0u);
}

TEST_F(ModifyCaptureTest, ShrinkResizesTheWindowAndRefusesCropping) {
    Open(Picture(True24, 101, 75));
    form.Resizeby501->trigger();
    EXPECT_EQ(form.Editor().PictureSize(), (TExtent{50, 38}));
    EXPECT_EQ(form.size(), QSize(120, 108));

    // The first move says cropping is refused, later hovering stays quiet,
    // and trying to start a crop is refused again.
    QTest::mouseMove(form.Canvas(), QPoint(10, 10));
    EXPECT_EQ(MessagesOf(CropRefused), 1);
    QTest::mouseMove(form.Canvas(), QPoint(20, 15));
    QTest::mouseMove(form.Canvas(), QPoint(25, 18));
    EXPECT_EQ(MessagesOf(CropRefused), 1);
    QTest::mousePress(form.Canvas(), Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseMove(form.Canvas(), QPoint(30, 20));
    QTest::mouseRelease(form.Canvas(), Qt::LeftButton, {}, QPoint(30, 20));
    EXPECT_EQ(MessagesOf(CropRefused), 2);
    EXPECT_FALSE(form.Editor().Selecting);

    dialogs->confirmAnswers = {true};
    form.close();
    auto saved = Loaded(file);
    EXPECT_EQ(saved->Width(), 50);
    EXPECT_EQ(saved->RowCount, 38);
}

TEST_F(ModifyCaptureTest, AllThreeShrinkItemsScaleThePicture) {
    Open(Picture(True24, 400, 200));
    form.Resizeby751->trigger();
    EXPECT_EQ(form.Editor().PictureSize(), (TExtent{300, 150}));
    form.Resizeby251->trigger();
    EXPECT_EQ(form.Editor().PictureSize(), (TExtent{75, 38})); // 37.5 -> 38
    EXPECT_EQ(form.size(), QSize(145, 108));
}

TEST_F(ModifyCaptureTest, FailedSaveIsReportedAndKeepsTheWindowOpen) {
    std::filesystem::create_directory(dir.File("gone"));
    file = dir.File("gone/brindlewick_temp.bmp");
    Open(Picture(True24, 60, 40));
    Drag(5, 5, 30, 30);
    std::filesystem::remove_all(dir.File("gone"));

    dialogs->confirmAnswers = {true};
    EXPECT_FALSE(form.close());
    EXPECT_TRUE(form.isVisible());
    ASSERT_EQ(dialogs->Messages().size(), 1u);
    EXPECT_NE(dialogs->Messages()[0].find("could not be saved"), std::string::npos);

    dialogs->confirmAnswers = {false};
    EXPECT_TRUE(form.close());
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(ModifyCaptureTest, EscapeClosesThroughTheSaveQuestion) {
    Open(Picture(True24, 60, 40));
    Drag(5, 5, 30, 30);
    dialogs->confirmAnswers = {true};
    QTest::keyClick(&form, Qt::Key_Escape);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(Confirmations(), 1);
    EXPECT_EQ(Loaded(file)->Width(), 25);
}

TEST_F(ModifyCaptureTest, ExecReturnsWhenTheWindowCloses) {
    Picture(True24, 60, 40).WriteTo(file);
    form.CaptureFile = file;
    QTimer::singleShot(0, &form, [&] {
        EXPECT_TRUE(form.isModal());
        EXPECT_EQ(form.size(), QSize(130, 110));
        form.Close1->trigger();
    });
    form.exec();
    EXPECT_FALSE(form.isVisible());
}

TEST_F(ModifyCaptureTest, UnsupportedDepthIsToldOncePerShowing) {
    Open(Picture({"Paletted4", 4, false}, 20, 10));
    form.resize(300, 200);
    form.Canvas()->repaint();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(MessagesOf(UnsupportedDepth), 1);
    form.close();
    form.show();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(MessagesOf(UnsupportedDepth), 2);
}

TEST_F(ModifyCaptureTest, ABrokenCaptureFileIsToldWithTheReason) {
    BmpBuilder broken = Picture(True24, 4, 4);
    broken.planes = 0;
    Open(broken);
    QCoreApplication::processEvents();
    EXPECT_EQ(MessagesOf("The picture in " + file +
                         " cannot be read. It has 0 colour planes instead of 1."),
              1);
    EXPECT_FALSE(form.Editor().HasPicture());
    form.close();
    EXPECT_EQ(Confirmations(), 0);
}

TEST_F(ModifyCaptureTest, TinyWindowShowsNothingAndKeepsWorking) {
    Open(Picture(True24, 60, 40));
    form.resize(40, 50);
    form.Canvas()->repaint();
    QTest::mouseMove(form.Canvas(), QPoint(3, 3));
    EXPECT_TRUE(form.Editor().View().Empty());
    form.resize(200, 200);
    EXPECT_EQ(form.Editor().View().Width(), 195);
}

TEST_F(ModifyCaptureTest, PalettedCaptureKeepsItsColoursThroughCropAndSave) {
    Open(Picture(Layouts()[0], 64, 48));
    auto original = Loaded(file);
    Drag(8, 6, 40, 30);
    dialogs->confirmAnswers = {true};
    form.close();
    auto saved = Loaded(file);
    ASSERT_EQ(saved->BitCount(), 8);
    ASSERT_EQ(saved->Width(), 32);
    EXPECT_EQ(Block(*saved, 0, 0, 32, 24), Block(*original, 8, 6, 32, 24));
}

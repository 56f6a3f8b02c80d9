// Choosing a region of the screens: the rectangle's rules, the screens put
// together into one picture, and the chooser's windows on two screens side
// by side (the offscreen platform with two_screens.json: 200x100 at 0,0 and
// 160x120 at 200,20, so that a strip above the right one is no screen).
#include "RegionOverlay.h"
#include "RegionSelection.h"
#include "Screen.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include <optional>

using platform::TRegionOverlay;
using platform::TRegionSelection;

namespace {

struct Drag {
    const char* name;
    QPoint from, to;
    QRect expected; // null: no rectangle
};

const Drag Drags[] = {
    {"DownRight", {10, 20}, {13, 24}, QRect(10, 20, 4, 5)},
    {"UpLeft", {13, 24}, {10, 20}, QRect(10, 20, 4, 5)},
    {"OneRow", {5, 7}, {9, 7}, QRect(5, 7, 5, 1)},
    {"ClickOnly", {5, 7}, {5, 7}, QRect()},
    {"BeyondTheEdges", {90, 40}, {500, -30}, QRect(QPoint(90, 0), QPoint(99, 40))},
};

// Each pixel's colour tells where it is.
QImage Numbered(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) image.setPixel(x, y, qRgb(x, y, 77));
    return image;
}

} // namespace

class RegionDrag : public testing::TestWithParam<Drag> {};

TEST_P(RegionDrag, GivesTheRectangleBetweenBothCornerPixels) {
    const Drag& d = GetParam();
    TRegionSelection s(QRect(0, 0, 100, 50));
    s.Press(d.from);
    s.Move((d.from + d.to) / 2);
    s.Release(d.to);
    EXPECT_FALSE(s.Dragging());
    EXPECT_EQ(s.HasRect(), !d.expected.isNull());
    EXPECT_EQ(s.Rect(), d.expected);
}

INSTANTIATE_TEST_SUITE_P(Drags, RegionDrag, testing::ValuesIn(Drags),
                         [](const testing::TestParamInfo<Drag>& i) { return i.param.name; });

TEST(RegionSelection, ArrowKeysMoveTheDraggedCornerOnlyAndStayInside) {
    TRegionSelection s(QRect(0, 0, 100, 50));
    s.Nudge(1, 1);
    EXPECT_FALSE(s.HasRect()) << "nothing to move before a press";
    s.Press({10, 10});
    s.Move({20, 30});
    s.Nudge(1, 0);
    s.Nudge(0, -1);
    EXPECT_EQ(s.Rect(), QRect(QPoint(10, 10), QPoint(21, 29)));
    s.Release({21, 29});
    for (int i = 0; i < 200; ++i) s.Nudge(1, 1);
    EXPECT_EQ(s.Rect(), QRect(QPoint(10, 10), QPoint(99, 49)));
}

TEST(ComposeScreens, PlacesEachScreenAsTheDesktopDoesWithGapsBlack) {
    QImage left(4, 2, QImage::Format_RGB32), right(3, 3, QImage::Format_RGB32);
    left.fill(Qt::red);
    right.fill(Qt::green);
    // The right screen lower, the left one to the left of the origin.
    QPoint origin;
    const QImage all =
        platform::ComposeScreens({{QRect(-4, 0, 4, 2), left}, {QRect(0, 1, 3, 3), right}}, &origin);
    EXPECT_EQ(origin, QPoint(-4, 0));
    ASSERT_EQ(all.size(), QSize(7, 4));
    EXPECT_EQ(all.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(all.pixel(3, 1), qRgb(255, 0, 0));
    EXPECT_EQ(all.pixel(4, 0), qRgb(0, 0, 0)) << "above the right screen";
    EXPECT_EQ(all.pixel(0, 2), qRgb(0, 0, 0)) << "below the left screen";
    EXPECT_EQ(all.pixel(4, 1), qRgb(0, 255, 0));
    EXPECT_EQ(all.pixel(6, 3), qRgb(0, 255, 0));
    EXPECT_TRUE(platform::ComposeScreens({}).isNull());
}

class RegionOverlayTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(QGuiApplication::screens().size(), 2) << "two_screens.json is not in use";
    }
    // The overlay over the desktop's bounding rectangle, 360x140.
    void Show(bool acceptOnRelease = true) {
        overlay = std::make_unique<TRegionOverlay>(Numbered(360, 140), QPoint(0, 0));
        overlay->AcceptOnRelease = acceptOnRelease;
        overlay->OnDone = [this](TRegionOverlay*, std::optional<QRect> c) {
            done = true;
            chosen = c;
        };
        overlay->Show();
        ASSERT_EQ(overlay->Windows().size(), 2u);
    }
    QWidget* Window(int i) { return overlay->Windows()[size_t(i)].get(); }
    bool Done() {
        return QTest::qWaitFor([this] { return done; }, 2000);
    }

    std::unique_ptr<TRegionOverlay> overlay;
    bool done = false;
    std::optional<QRect> chosen;
};

TEST_F(RegionOverlayTest, CoversEveryScreenWithItsPartOfThePicture) {
    Show();
    for (int i = 0; i < 2; ++i) {
        const auto& w = overlay->Windows()[size_t(i)];
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(w->geometry(), QGuiApplication::screens()[i]->geometry());
        EXPECT_EQ(w->PictureRect(), QGuiApplication::screens()[i]->geometry());
        EXPECT_TRUE(w->windowFlags() & Qt::FramelessWindowHint);
        EXPECT_TRUE(w->windowFlags() & Qt::WindowStaysOnTopHint);
    }
    // What the right screen's window shows at its own (5, 5) is the
    // picture's (205, 25), dimmed outside any rectangle.
    const QImage shown = Window(1)->grab().toImage();
    const QRgb at = shown.pixel(5, 5);
    EXPECT_LT(qAbs(qRed(at) * 255 / 145 - 205), 4) << qRed(at);
    EXPECT_LT(qAbs(qGreen(at) * 255 / 145 - 25), 4) << qGreen(at);
}

// The pointer stays with the window it was pressed in while the button is
// down, whichever screen it crosses to.
TEST_F(RegionOverlayTest, ADragAcrossTheScreenBorderGivesThosePixels) {
    Show();
    QTest::mousePress(Window(0), Qt::LeftButton, {}, QPoint(150, 30));
    QTest::mouseMove(Window(0), QPoint(230, 60));
    EXPECT_EQ(overlay->Selection().Rect(), QRect(QPoint(150, 30), QPoint(230, 60)));
    QTest::mouseRelease(Window(0), Qt::LeftButton, {}, QPoint(240, 70));
    ASSERT_TRUE(Done());
    ASSERT_TRUE(chosen);
    EXPECT_EQ(*chosen, QRect(QPoint(150, 30), QPoint(240, 70)));
    EXPECT_FALSE(Window(0)->isVisible());
    EXPECT_FALSE(Window(1)->isVisible());
    const QImage part = overlay->Picture().copy(*chosen);
    EXPECT_EQ(part.pixel(0, 0), qRgb(150, 30, 77));
    EXPECT_EQ(part.pixel(part.width() - 1, part.height() - 1), qRgb(240, 70, 77));
}

TEST_F(RegionOverlayTest, WithoutReleaseAcceptingEnterTakesTheNudgedRectangle) {
    Show(false);
    QTest::mousePress(Window(1), Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseMove(Window(1), QPoint(20, 15));
    QTest::mouseRelease(Window(1), Qt::LeftButton, {}, QPoint(20, 15));
    QTest::qWait(50);
    EXPECT_FALSE(done) << "the release alone does not accept";
    QTest::keyClick(Window(1), Qt::Key_Right);
    QTest::keyClick(Window(1), Qt::Key_Down);
    QTest::keyClick(Window(1), Qt::Key_Down);
    QTest::keyClick(Window(1), Qt::Key_Return);
    ASSERT_TRUE(Done());
    ASSERT_TRUE(chosen);
    EXPECT_EQ(*chosen, QRect(QPoint(210, 30), QPoint(221, 37)));
}

TEST_F(RegionOverlayTest, EscapeCancelsAndADoubleClickAccepts) {
    Show(false);
    QTest::mousePress(Window(0), Qt::LeftButton, {}, QPoint(1, 1));
    QTest::mouseMove(Window(0), QPoint(5, 5));
    QTest::keyClick(Window(0), Qt::Key_Escape);
    ASSERT_TRUE(Done());
    EXPECT_FALSE(chosen);

    done = false;
    Show(false);
    QTest::mousePress(Window(0), Qt::LeftButton, {}, QPoint(1, 1));
    QTest::mouseRelease(Window(0), Qt::LeftButton, {}, QPoint(3, 4));
    QTest::mouseDClick(Window(0), Qt::LeftButton, {}, QPoint(3, 4));
    ASSERT_TRUE(Done());
    ASSERT_TRUE(chosen);
    EXPECT_EQ(*chosen, QRect(QPoint(1, 1), QPoint(3, 4)));
}

TEST(RegionSizeText, IsWidthByHeightInPixels) {
    EXPECT_EQ(platform::RegionSizeText(QRect(0, 0, 640, 1)), QString("640 \u00d7 1"));
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" BRWK_SCREENS_CONFIG);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}

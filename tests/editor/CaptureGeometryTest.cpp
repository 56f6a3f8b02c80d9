// The editor's arithmetic: rounding, window and view sizes, mouse mapping and
// selection ordering.
#include "CaptureGeometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace capture;

TEST(CaptureGeometry, RoundsHalvesToEven) {
    EXPECT_EQ(RoundHalfEven(0.5), 0);
    EXPECT_EQ(RoundHalfEven(1.5), 2);
    EXPECT_EQ(RoundHalfEven(2.5), 2);
    EXPECT_EQ(RoundHalfEven(319.5), 320);
    EXPECT_EQ(RoundHalfEven(-0.5), 0);
    EXPECT_EQ(RoundHalfEven(-1.5), -2);
    EXPECT_EQ(RoundHalfEven(-2.6), -3);
    EXPECT_EQ(RoundHalfEven(2.4999), 2);
    EXPECT_EQ(RoundHalfEven(2.5001), 3);
}

TEST(CaptureGeometry, RoundingSaturatesInsteadOfOverflowing) {
    EXPECT_EQ(RoundHalfEven(1e20), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(RoundHalfEven(-1e20), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(RoundHalfEven(std::nan("")), 0);
}

TEST(CaptureGeometry, WindowAndViewOfA640x480Capture) {
    TExtent window = WindowSizeFor({640, 480});
    EXPECT_EQ(window, (TExtent{710, 550}));
    TExtent view = ViewSizeFor(window);
    EXPECT_EQ(view, (TExtent{705, 485}));
    EXPECT_EQ(MapToPicture(352, 242, view, {640, 480}), (TSelPoint{320, 240}));
    EXPECT_EQ(MapToPicture(0, 0, view, {640, 480}), (TSelPoint{0, 0}));
    EXPECT_EQ(MapToPicture(705, 485, view, {640, 480}), (TSelPoint{640, 480}));
}

TEST(CaptureGeometry, MappingFollowsAShrunkView) {
    // A view half the picture's size doubles every window coordinate.
    EXPECT_EQ(MapToPicture(10, 7, {50, 40}, {100, 80}), (TSelPoint{20, 14}));
    // Points outside the window map outside the picture; clipping is later.
    EXPECT_EQ(MapToPicture(-5, 60, {50, 40}, {100, 80}), (TSelPoint{-10, 120}));
}

TEST(CaptureGeometry, MappingWithoutViewOrPictureGivesOrigin) {
    EXPECT_EQ(MapToPicture(100, 100, {0, 10}, {640, 480}), (TSelPoint{0, 0}));
    EXPECT_EQ(MapToPicture(100, 100, {10, -3}, {640, 480}), (TSelPoint{0, 0}));
    EXPECT_EQ(MapToPicture(100, 100, {705, 485}, {0, 0}), (TSelPoint{0, 0}));
}

TEST(CaptureGeometry, TinyWindowsHaveNoView) {
    EXPECT_TRUE(ViewSizeFor({5, 100}).Empty());
    EXPECT_TRUE(ViewSizeFor({100, 65}).Empty());
    EXPECT_FALSE(ViewSizeFor({6, 66}).Empty());
}

TEST(CaptureGeometry, ShrunkSizesRoundHalfToEven) {
    EXPECT_EQ(ScaledSize({101, 75}, 0.5), (TExtent{50, 38}));
    EXPECT_EQ(WindowSizeFor(ScaledSize({101, 75}, 0.5)), (TExtent{120, 108}));
    EXPECT_EQ(ScaledSize({103, 1}, 0.5).width, 52);
    EXPECT_EQ(ScaledSize({640, 480}, 0.75), (TExtent{480, 360}));
    EXPECT_EQ(ScaledSize({640, 480}, 0.25), (TExtent{160, 120}));
    EXPECT_EQ(ScaledSize({3840, 2160}, 0.75), (TExtent{2880, 1620}));
    EXPECT_TRUE(ScaledSize({1, 1}, 0.25).Empty());
}

TEST(CaptureGeometry, DragsInEveryDirectionGiveTheSameRectangle) {
    const TExtent picture{100, 80};
    const TSelRect expected{10, 20, 60, 70};
    EXPECT_EQ(OrderedSelection({10, 20}, {60, 70}, picture), expected); // to lower right
    EXPECT_EQ(OrderedSelection({60, 70}, {10, 20}, picture), expected); // to upper left
    EXPECT_EQ(OrderedSelection({10, 70}, {60, 20}, picture), expected); // to upper right
    EXPECT_EQ(OrderedSelection({60, 20}, {10, 70}, picture), expected); // to lower left
    EXPECT_EQ(expected.Width(), 50);
    EXPECT_EQ(expected.Height(), 50);
}

TEST(CaptureGeometry, SelectionsAreClippedToThePicture) {
    const TExtent picture{100, 80};
    EXPECT_EQ(OrderedSelection({-30, -5}, {40, 500}, picture), (TSelRect{0, 0, 40, 80}));
    EXPECT_EQ(OrderedSelection({150, 10}, {90, 20}, picture), (TSelRect{90, 10, 100, 20}));
    // Wholly outside, a click, or a line: nothing to crop.
    EXPECT_TRUE(OrderedSelection({120, 10}, {150, 20}, picture).Empty());
    EXPECT_TRUE(OrderedSelection({30, 30}, {30, 30}, picture).Empty());
    EXPECT_TRUE(OrderedSelection({30, 10}, {30, 60}, picture).Empty());
}

TEST(CaptureGeometry, WindowFitsTheScreenAndKeepsTheProportionsWhenLimited) {
    struct Case {
        TExtent picture, area;
        TWindowFit fit;
    };
    const Case cases[] = {
        // Room for picture + 70: the design's window and stretched view.
        {{640, 480}, {800, 600}, {{710, 550}, false}},
        {{730, 530}, {800, 600}, {{800, 600}, false}},
        {{640, 480}, {}, {{710, 550}, false}}, // no screen known
        // Full-screen captures: the window hugs a view of the picture's shape.
        {{1920, 1080}, {1920, 1050}, {{1756, 1050}, true}},
        {{3840, 2160}, {1920, 1080}, {{1809, 1080}, true}},
        {{1024, 768}, {1024, 768}, {{942, 768}, true}},
        {{731, 530}, {800, 600}, {{743, 600}, true}},
        // Tall and wide pictures are limited by their long side.
        {{500, 3000}, {1024, 768}, {{122, 768}, true}},
        {{3000, 100}, {1024, 768}, {{1024, 99}, true}},
    };
    for (const Case& c : cases) {
        const TWindowFit fit = FitWindow(c.picture, c.area);
        EXPECT_EQ(fit, c.fit) << c.picture.width << "x" << c.picture.height << " on "
                              << c.area.width << "x" << c.area.height << ": " << fit.window.width
                              << "x" << fit.window.height;
        if (!fit.keepProportions) continue;
        EXPECT_LE(fit.window.width, c.area.width);
        EXPECT_LE(fit.window.height, c.area.height);
        // The view of that window keeps the shape and fills it but for a
        // rounding, and its far corner is the picture's, so a drag there
        // reaches the edge.
        const TExtent view = FitProportionally(c.picture, ViewSizeFor(fit.window));
        EXPECT_LE(ViewSizeFor(fit.window).width - view.width, 1);
        EXPECT_LE(ViewSizeFor(fit.window).height - view.height, 1);
        EXPECT_NEAR(double(view.width) / view.height, double(c.picture.width) / c.picture.height,
                    double(c.picture.width) / c.picture.height / std::min(view.width, view.height));
        EXPECT_EQ(MapToPicture(view.width, view.height, view, c.picture),
                  (TSelPoint{c.picture.width, c.picture.height}));
    }
}

TEST(CaptureGeometry, ProportionalFitOfNothingIsEmpty) {
    EXPECT_TRUE(FitProportionally({0, 10}, {100, 100}).Empty());
    EXPECT_TRUE(FitProportionally({10, 10}, {-4, 100}).Empty());
    // A window too small for any view still stays on the screen.
    EXPECT_EQ(FitWindow({1920, 1080}, {4, 60}), (TWindowFit{{4, 60}, true}));
    // A sliver of a picture keeps at least one pixel.
    EXPECT_EQ(FitProportionally({10000, 1}, {100, 100}), (TExtent{100, 1}));
}

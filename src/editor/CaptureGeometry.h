// The arithmetic of the capture editor: how window points map to picture
// pixels, how big the window and its view are for a picture, the sizes of a
// shrunk picture, and how a dragged selection becomes a rectangle.
#pragma once

#include <cstdint>

namespace capture {

struct TSelPoint {
    int32_t x = 0;
    int32_t y = 0;
    bool operator==(const TSelPoint&) const = default;
};

struct TExtent {
    int32_t width = 0;
    int32_t height = 0;
    bool operator==(const TExtent&) const = default;
    bool Empty() const { return width <= 0 || height <= 0; }
};

// Picture pixels [left, right) x [top, bottom), top-down.
struct TSelRect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    bool operator==(const TSelRect&) const = default;
    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    bool Empty() const { return right <= left || bottom <= top; }
};

// Nearest integer, halves to the even one; out-of-range values saturate.
int32_t RoundHalfEven(double value);

// The window is the picture plus a margin for the menu, status bar and frame.
constexpr int32_t WindowMarginX = 70;
constexpr int32_t WindowMarginY = 70;
// The view covers the window less its frame and the menu and status bar.
constexpr int32_t ViewInsetX = 5;
constexpr int32_t ViewInsetY = 65;

TExtent WindowSizeFor(TExtent picture);
// May be empty for a window made very small.
TExtent ViewSizeFor(TExtent window);

// The largest extent of the picture's proportions inside room; empty when
// either is. Anchored where the view starts, so the mapping above holds.
TExtent FitProportionally(TExtent picture, TExtent room);

// How the editor window is sized for a picture when a window may take at
// most `area` (an empty area: no limit known).
struct TWindowFit {
    TExtent window;
    // The view keeps the picture's proportions instead of filling the window.
    bool keepProportions = false;
    bool operator==(const TWindowFit&) const = default;
};
// Picture + margin, as designed, when that fits the area. A bigger picture
// would push the window's far edges off the screen, out of the mouse's reach,
// so the window is limited to the area and hugs a view of the picture's
// proportions.
TWindowFit FitWindow(TExtent picture, TExtent area);
// The picture after shrinking by factor, each side rounded half to even.
TExtent ScaledSize(TExtent picture, double factor);

// A window point in picture pixels, by the ratio of the view to the picture.
// Without a view or a picture every point maps to (0, 0).
TSelPoint MapToPicture(int32_t mouseX, int32_t mouseY, TExtent view, TExtent picture);

// The rectangle between two corners dragged in any direction, clipped to the
// picture; empty for a click or a drag that lies outside.
TSelRect OrderedSelection(TSelPoint a, TSelPoint b, TExtent picture);

} // namespace capture

#include "CaptureGeometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace capture {

int32_t RoundHalfEven(double value) {
    if (std::isnan(value)) return 0;
    constexpr double lo = std::numeric_limits<int32_t>::min();
    constexpr double hi = std::numeric_limits<int32_t>::max();
    // Worked out by hand so the result never depends on the FPU rounding mode.
    double r = std::floor(value);
    double diff = value - r;
    if (diff > 0.5 || (diff == 0.5 && std::fmod(r, 2.0) != 0.0)) r += 1.0;
    return int32_t(std::clamp(r, lo, hi));
}

TExtent WindowSizeFor(TExtent picture) {
    return {picture.width + WindowMarginX, picture.height + WindowMarginY};
}

TExtent ViewSizeFor(TExtent window) {
    return {window.width - ViewInsetX, window.height - ViewInsetY};
}

TExtent FitProportionally(TExtent picture, TExtent room) {
    if (picture.Empty() || room.Empty()) return {};
    // Whichever side is tighter takes the room's full length; the other is
    // rounded from it. 64 bits: a 4K picture times a 4K room exceeds 32.
    const int64_t pw = picture.width, ph = picture.height;
    if (int64_t(room.width) * ph <= int64_t(room.height) * pw)
        return {room.width, std::max(1, RoundHalfEven(double(ph) * room.width / double(pw)))};
    return {std::max(1, RoundHalfEven(double(pw) * room.height / double(ph))), room.height};
}

TWindowFit FitWindow(TExtent picture, TExtent area) {
    const TExtent designed = WindowSizeFor(picture);
    if (area.Empty() || (designed.width <= area.width && designed.height <= area.height))
        return {designed, false};
    const TExtent view = FitProportionally(picture, ViewSizeFor(area));
    if (view.Empty()) return {area, true};
    return {{view.width + ViewInsetX, view.height + ViewInsetY}, true};
}

TExtent ScaledSize(TExtent picture, double factor) {
    return {RoundHalfEven(picture.width * factor), RoundHalfEven(picture.height * factor)};
}

TSelPoint MapToPicture(int32_t mouseX, int32_t mouseY, TExtent view, TExtent picture) {
    if (view.Empty() || picture.Empty()) return {};
    double ratioX = double(view.width) / double(picture.width);
    double ratioY = double(view.height) / double(picture.height);
    return {RoundHalfEven(mouseX / ratioX), RoundHalfEven(mouseY / ratioY)};
}

TSelRect OrderedSelection(TSelPoint a, TSelPoint b, TExtent picture) {
    auto clampX = [&](int32_t v) { return std::clamp(v, 0, std::max(picture.width, 0)); };
    auto clampY = [&](int32_t v) { return std::clamp(v, 0, std::max(picture.height, 0)); };
    return {clampX(std::min(a.x, b.x)), clampY(std::min(a.y, b.y)), clampX(std::max(a.x, b.x)),
            clampY(std::max(a.y, b.y))};
}

} // namespace capture

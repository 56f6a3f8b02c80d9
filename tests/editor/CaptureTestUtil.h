// Test pictures for the capture editor: small asymmetric BMP files in every
// layout the editor handles, and ways to look at what it wrote.
#pragma once

#include "BmpBuilder.h"
#include "CaptureEditor.h"
#include "FastDIBTestUtil.h"

#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace capturetest {

struct Layout {
    const char* name;
    int bits;
    bool fields565; // 16 bits stored as 5-6-5 bit fields
};

inline void PrintTo(const Layout& l, std::ostream* os) {
    *os << l.name;
}

inline const std::vector<Layout>& Layouts() {
    static const std::vector<Layout> all = {
        {"Paletted8", 8, false}, {"Rgb555", 16, false}, {"Fields565", 16, true},
        {"True24", 24, false},   {"True32", 32, false},
    };
    return all;
}

// Four colours laid out so that flips, mirrors and swapped channels show.
inline const std::vector<uint32_t>& Colors4() {
    static const std::vector<uint32_t> c = {0x2040F8, 0xF84020, 0x40F820, 0xC0C0C0};
    return c;
}
inline int IndexAt(int x, int y) {
    return (x / 3 + 2 * (y / 2)) % 4;
}

inline uint32_t Encode(const Layout& l, uint32_t color) {
    uint32_t r = color >> 16 & 0xFF, g = color >> 8 & 0xFF, b = color & 0xFF;
    if (l.bits == 16 && l.fields565) return (r >> 3) << 11 | (g >> 2) << 5 | b >> 3;
    if (l.bits == 16) return (r >> 3) << 10 | (g >> 3) << 5 | b >> 3;
    return color;
}

// A width x height picture of Colors4 by IndexAt; palette entries beyond the
// four used are given colours of their own so a wrong index shows.
inline BmpBuilder Picture(const Layout& l, int width, int height, bool bottomUp = true) {
    BmpBuilder b;
    b.width = width;
    b.height = bottomUp ? height : -height;
    b.bits = uint16_t(l.bits);
    if (l.bits <= 8) {
        b.palette.assign(size_t(1) << l.bits, 0);
        for (size_t i = 0; i < b.palette.size(); ++i)
            b.palette[i] = i < 4 ? Colors4()[i] : uint32_t(0x010203 * i);
    }
    if (l.fields565) {
        b.compression = bmp::BI_BITFIELDS;
        b.masks = std::vector<uint32_t>{0xF800, 0x07E0, 0x001F};
    }
    b.pixels = PackPixels(width, height, l.bits, bottomUp, [&](int x, int y) {
        int i = IndexAt(x, y);
        return l.bits <= 8 ? uint32_t(i) : Encode(l, Colors4()[size_t(i)]);
    });
    return b;
}

inline std::unique_ptr<TFastDIB> Loaded(const std::string& path) {
    auto dib = std::make_unique<TFastDIB>();
    dib->LoadBitmapFile(path);
    return dib;
}

// Colours of the w x h block at (left, top) of a picture, top line first.
inline std::vector<uint32_t> Block(const TFastDIB& dib, int left, int top, int w, int h) {
    std::vector<uint32_t> out;
    for (int y = top; y < top + h; ++y)
        for (int x = left; x < left + w; ++x) out.push_back(dibtest::PixelAt(dib, x, y));
    return out;
}

// A window point that the editor maps to the picture point (px, py).
inline std::pair<int, int> MouseFor(const capture::TCaptureEditor& e, int px, int py) {
    auto find = [](int target, auto mapped) {
        for (int m = -400; m < 8000; ++m)
            if (mapped(m) == target) return m;
        return -1000;
    };
    int mx = find(px, [&](int m) { return e.Map(m, 0).x; });
    int my = find(py, [&](int m) { return e.Map(0, m).y; });
    return {mx, my};
}

} // namespace capturetest

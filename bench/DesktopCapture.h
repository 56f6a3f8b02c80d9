// A 4K screen capture that looks like a desktop: flat panels, soft gradients
// and rows of small dense marks standing in for text, so the encoder sees
// both smooth and busy blocks.
#pragma once

#include "FastDIB.h"

#include <cstdint>
#include <string>
#include <vector>

namespace desktop {

constexpr int W = 3840, H = 2160;

inline uint32_t Pixel(int x, int y) {
    if (y < 40) return 0x2B2B30;
    const bool window = x > 300 && x < 3400 && y > 200 && y < 1900;
    if (!window) return uint32_t(0x30 + y / 30) << 16 | uint32_t(0x50 + x / 40) << 8 | 0x90;
    const bool textLine = (y - 220) % 28 < 14 && x > 340 && x < 3300;
    if (textLine && ((x * 7 + y * 3) % 11 < 4 || (x / 9 + y) % 5 == 0)) return 0x202020;
    return 0xF4F4F2;
}

// The picture as RGB rows, top row first.
inline const std::vector<uint8_t>& Rgb() {
    static std::vector<uint8_t> rgb = [] {
        std::vector<uint8_t> v(size_t(W) * H * 3);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const uint32_t c = Pixel(x, y);
                uint8_t* p = &v[(size_t(y) * W + x) * 3];
                p[0] = uint8_t(c >> 16), p[1] = uint8_t(c >> 8), p[2] = uint8_t(c);
            }
        return v;
    }();
    return rgb;
}

// Writes the picture as a 32-bit BMP file, as a screen capture is stored.
inline bool WriteCapture(const std::string& path) {
    TFastDIB dib;
    dib.Allocate(W, H, 32);
    const auto& rgb = Rgb();
    for (int y = 0; y < H; ++y) {
        uint8_t* row = dib.RowTable[size_t(dib.RowOf(y))];
        for (int x = 0; x < W; ++x) {
            const uint8_t* p = &rgb[(size_t(y) * W + x) * 3];
            row[4 * x] = p[2], row[4 * x + 1] = p[1], row[4 * x + 2] = p[0], row[4 * x + 3] = 0;
        }
    }
    return dib.SaveBitmapFile(path);
}

} // namespace desktop

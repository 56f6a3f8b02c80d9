#include "RgbRows.h"

#include <cstring>

namespace {

std::array<uint8_t, 3> Rgb(uint32_t color) {
    return {uint8_t(color >> 16), uint8_t(color >> 8), uint8_t(color)};
}

uint32_t Load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
void Store32(uint8_t* p, uint32_t v) {
    std::memcpy(p, &v, 4);
}

// A little-endian B, G, R, X word as a word whose low three bytes are R, G, B.
uint32_t BgrxToRgb(uint32_t v) {
    return __builtin_bswap32(v) >> 8;
}

// Four 32-bit pixels become three words of RGB bytes: the loop that carries
// a 4K export, kept free of byte-wise stores.
void BgrxLine(const uint8_t* p, uint8_t* rgb, int width) {
    int x = 0;
    for (; x + 4 <= width; x += 4, p += 16, rgb += 12) {
        const uint32_t a = BgrxToRgb(Load32(p)), b = BgrxToRgb(Load32(p + 4));
        const uint32_t c = BgrxToRgb(Load32(p + 8)), d = BgrxToRgb(Load32(p + 12));
        Store32(rgb, a | b << 24);
        Store32(rgb + 4, b >> 8 | c << 16);
        Store32(rgb + 8, c >> 16 | d << 8);
    }
    for (; x < width; ++x, p += 4, rgb += 3) {
        rgb[0] = p[2];
        rgb[1] = p[1];
        rgb[2] = p[0];
    }
}

} // namespace

TRgbRows::TRgbRows(const TFastDIB& dib) : Dib(dib) {
    switch (dib.BitCount()) {
    case 32:
        if (dib.IsBgrx()) Kind = Layout::Bgrx;
        break;
    case 24:
        Kind = Layout::Bgr;
        break;
    case 16: {
        // Every 16-bit value decoded once through the buffer's own rules, by
        // decoding it from a one-pixel buffer of the same layout.
        TFastDIB probe;
        if (!probe.AllocateEx(nullptr, 1, 1, 16, dib.RedBits, dib.GreenBits, dib.BlueBits)) break;
        Words.resize(65536);
        for (uint32_t v = 0; v < 65536; ++v) {
            probe.RowTable[0][0] = uint8_t(v);
            probe.RowTable[0][1] = uint8_t(v >> 8);
            Words[v] = Rgb(probe.GetColor(0, 0));
        }
        Kind = Layout::Word16;
        break;
    }
    case 1:
    case 4:
    case 8:
        for (int i = 0; i < 256; ++i) {
            const TRGBQuad& e = dib.ColorTable[i];
            Palette[size_t(i)] = {e.rgbRed, e.rgbGreen, e.rgbBlue};
        }
        Kind = Layout::Indexed;
        break;
    default:
        break;
    }
}

TRgbRows::Native TRgbRows::NativeLayout() const {
    if (Kind == Layout::Bgrx) return Native::Bgrx;
    if (Kind == Layout::Bgr) return Native::Bgr;
    return Native::None;
}

void TRgbRows::Line(int y, uint8_t* rgb) const noexcept {
    const int row = Dib.RowOf(y);
    const int width = Dib.Width();
    const uint8_t* p = Dib.RowTable[size_t(row)];
    switch (Kind) {
    case Layout::Bgrx:
        BgrxLine(p, rgb, width);
        break;
    case Layout::Bgr:
        for (int x = 0; x < width; ++x, p += 3, rgb += 3) {
            rgb[0] = p[2];
            rgb[1] = p[1];
            rgb[2] = p[0];
        }
        break;
    case Layout::Word16:
        for (int x = 0; x < width; ++x, p += 2, rgb += 3) {
            const auto& c = Words[size_t(p[0] | p[1] << 8)];
            rgb[0] = c[0];
            rgb[1] = c[1];
            rgb[2] = c[2];
        }
        break;
    case Layout::Indexed:
        for (int x = 0; x < width; ++x, rgb += 3) {
            const auto& c = Palette[Dib.GetIndex(row, x)];
            rgb[0] = c[0];
            rgb[1] = c[1];
            rgb[2] = c[2];
        }
        break;
    case Layout::Other:
        for (int x = 0; x < width; ++x, rgb += 3) {
            const auto c = Rgb(Dib.GetColor(row, x));
            rgb[0] = c[0];
            rgb[1] = c[1];
            rgb[2] = c[2];
        }
        break;
    }
}

#include "RgbRows.h"

namespace {

std::array<uint8_t, 3> Rgb(uint32_t color) {
    return {uint8_t(color >> 16), uint8_t(color >> 8), uint8_t(color)};
}

} // namespace

TRgbRows::TRgbRows(const TFastDIB& dib) : Dib(dib) {
    switch (dib.BitCount()) {
    case 32:
        if (dib.Compression() == bmp::BI_RGB ||
            (dib.Mask(0) == 0xFF0000 && dib.Mask(1) == 0xFF00 && dib.Mask(2) == 0xFF))
            Kind = Layout::Bgrx;
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

void TRgbRows::Line(int y, uint8_t* rgb) const noexcept {
    const int row = Dib.RowOf(y);
    const int width = Dib.Width();
    const uint8_t* p = Dib.RowTable[size_t(row)];
    switch (Kind) {
    case Layout::Bgrx:
        for (int x = 0; x < width; ++x, p += 4, rgb += 3) {
            rgb[0] = p[2];
            rgb[1] = p[1];
            rgb[2] = p[0];
        }
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

// Reading and writing single pixels and spans in every layout.
#include "FastDIB.h"
#include "FastDIBBits.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

using namespace bmp;
using namespace fastdib;

uint8_t TFastDIB::ExpandChannel(uint32_t v, int width) {
    switch (width) {
    case 1:
        return v ? 255 : 0;
    case 2:
        return uint8_t(v << 6 | v << 4 | v << 2 | v);
    case 3:
        return uint8_t(v << 5 | v << 2 | v >> 1);
    case 4:
        return uint8_t(v << 4 | v);
    case 5:
        return uint8_t(v << 3 | v >> 2);
    case 6:
        return uint8_t(v << 2 | v >> 4);
    case 7:
        return uint8_t(v << 1 | v >> 6);
    default:
        return uint8_t(v);
    }
}

uint8_t TFastDIB::GetIndex(int row, int column) const {
    if (row < 0 || row >= RowCount || column < 0 || column >= Width()) return 0;
    const uint8_t* p = RowTable[size_t(row)];
    switch (BitCount()) {
    case 1:
        return (p[column >> 3] >> (7 - (column & 7))) & 1;
    case 4:
        return column & 1 ? p[column >> 1] & 15 : p[column >> 1] >> 4;
    case 8:
        return p[column];
    default:
        return 0;
    }
}

void TFastDIB::PutIndex(int row, int column, uint8_t index) {
    if (row < 0 || row >= RowCount || column < 0 || column >= Width()) return;
    uint8_t* p = RowTable[size_t(row)];
    switch (BitCount()) {
    case 1: {
        uint8_t bit = uint8_t(0x80 >> (column & 7));
        p[column >> 3] = uint8_t(index & 1 ? p[column >> 3] | bit : p[column >> 3] & ~bit);
        break;
    }
    case 4: {
        uint8_t& b = p[column >> 1];
        b = column & 1 ? uint8_t((b & 0xF0) | (index & 15))
                       : uint8_t((b & 0x0F) | (index & 15) << 4);
        break;
    }
    case 8:
        p[column] = index;
        break;
    default:
        break;
    }
}

uint8_t TFastDIB::NearestIndex(uint32_t color) const {
    int bits = std::min(BitCount(), 8);
    int entries = 1 << bits;
    int b = color & 0xFF, g = color >> 8 & 0xFF, r = color >> 16 & 0xFF;
    int best = 765;
    uint8_t index = 0;
    for (int i = 0; i < entries; ++i) {
        const TRGBQuad& e = ColorTable[i];
        int d = std::abs(e.rgbBlue - b) + std::abs(e.rgbGreen - g) + std::abs(e.rgbRed - r);
        if (d < best) {
            best = d;
            index = uint8_t(i);
        }
    }
    return index;
}

uint32_t TFastDIB::GetColor(int row, int column) const {
    if (row < 0 || row >= RowCount || column < 0 || column >= Width()) return 0;
    const uint8_t* p = RowTable[size_t(row)];
    uint32_t pixel;
    switch (BitCount()) {
    case 1:
    case 4:
    case 8: {
        const TRGBQuad& e = ColorTable[GetIndex(row, column)];
        return uint32_t(e.rgbRed) << 16 | uint32_t(e.rgbGreen) << 8 | e.rgbBlue;
    }
    case 24:
        p += column * 3;
        return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    case 32:
        p += column * 4;
        if (Compression() == BI_RGB) return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
        pixel = ReadU32(p);
        break;
    case 16:
        pixel = ReadU16(p + column * 2);
        break;
    default:
        return 0;
    }
    uint32_t blue = ExpandChannel(pixel & Mask(2), BlueBits);
    uint32_t green = ExpandChannel(Shr(pixel & Mask(1), GreenUp), GreenBits);
    uint32_t red = ExpandChannel(Shr(pixel & Mask(0), RedUp), RedBits);
    return red << 16 | green << 8 | blue;
}

uint32_t TFastDIB::EncodePixel(uint32_t color) const {
    uint32_t b = color & 0xFF, g = color >> 8 & 0xFF, r = color >> 16 & 0xFF;
    switch (BitCount()) {
    case 16:
    case 32:
        if (BitCount() == 32 && Compression() == BI_RGB) return color & 0xFFFFFF;
        return Shl(r >> RedDown, RedUp) | Shl(g >> GreenDown, GreenUp) | (b >> BlueDown);
    case 24:
        return color & 0xFFFFFF;
    default:
        return NearestIndex(color);
    }
}

void TFastDIB::PutColor(int row, int column, uint32_t color) {
    if (row < 0 || row >= RowCount || column < 0 || column >= Width()) return;
    FillSpan(row, column, column + 1, EncodePixel(color));
}

// Writes an encoded pixel value over columns [x0, x1) of one row.
void TFastDIB::FillSpan(int row, int x0, int x1, uint32_t value) {
    uint8_t* p = RowTable[size_t(row)];
    switch (BitCount()) {
    case 8:
        std::memset(p + x0, int(value), size_t(x1 - x0));
        break;
    case 16:
        for (int x = x0; x < x1; ++x) {
            p[2 * x] = uint8_t(value);
            p[2 * x + 1] = uint8_t(value >> 8);
        }
        break;
    case 24:
        for (int x = x0; x < x1; ++x) {
            p[3 * x] = uint8_t(value);
            p[3 * x + 1] = uint8_t(value >> 8);
            p[3 * x + 2] = uint8_t(value >> 16);
        }
        break;
    case 32:
        if (Compression() == BI_RGB) {
            // The fourth byte of a plain 32-bit pixel is left as it was.
            for (int x = x0; x < x1; ++x) {
                p[4 * x] = uint8_t(value);
                p[4 * x + 1] = uint8_t(value >> 8);
                p[4 * x + 2] = uint8_t(value >> 16);
            }
        } else {
            for (int x = x0; x < x1; ++x) std::memcpy(p + 4 * x, &value, 4);
        }
        break;
    case 1:
    case 4:
        for (int x = x0; x < x1; ++x) PutIndex(row, x, uint8_t(value));
        break;
    default:
        break;
    }
}

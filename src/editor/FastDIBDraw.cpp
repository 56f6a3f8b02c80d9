// Drawing: block copies, pens and brushes, rectangles.
#include "FastDIB.h"
#include "FastDIBBits.h"

#include <algorithm>
#include <cstring>

using namespace bmp;
using namespace fastdib;

void TFastDIB::CopyBlock(const TFastDIB& source, int dx, int dy, int w, int h, int sx, int sy) {
    if (Empty() || source.Empty()) return;
    // Clip in top-down picture coordinates; rows are mapped to memory per
    // buffer, so buffers of different row direction copy without flipping.
    int64_t DX = dx, DY = dy, W = w, H = h, SX = sx, SY = sy;
    if (DX < 0) {
        SX -= DX;
        W += DX;
        DX = 0;
    }
    if (DY < 0) {
        SY -= DY;
        H += DY;
        DY = 0;
    }
    if (SX < 0) {
        DX -= SX;
        W += SX;
        SX = 0;
    }
    if (SY < 0) {
        DY -= SY;
        H += SY;
        SY = 0;
    }
    if (SX >= source.Width() || SY >= source.RowCount || DX >= Width() || DY >= RowCount) return;
    W = std::min({W, int64_t(source.Width()) - SX, int64_t(Width()) - DX});
    H = std::min({H, int64_t(source.RowCount) - SY, int64_t(RowCount) - DY});
    if (W <= 0 || H <= 0) return;

    int bits = BitCount();
    if (bits == source.BitCount() && bits >= 8) {
        int bytes = bits / 8;
        for (int64_t i = 0; i < H; ++i) {
            const uint8_t* from = source.RowTable[size_t(source.RowOf(int(SY + i)))] + SX * bytes;
            uint8_t* to = RowTable[size_t(RowOf(int(DY + i)))] + DX * bytes;
            std::memmove(to, from, size_t(W * bytes));
        }
        return;
    }
    for (int64_t i = 0; i < H; ++i) {
        int srow = source.RowOf(int(SY + i)), drow = RowOf(int(DY + i));
        for (int64_t j = 0; j < W; ++j)
            PutColor(drow, int(DX + j), source.GetColor(srow, int(SX + j)));
    }
}

void TFastDIB::SelectPen(int style, int width, uint32_t colorRef) {
    Pen = TPen{style, width, colorRef};
}

void TFastDIB::SelectBrush(int style, int hatch, uint32_t colorRef) {
    Brush = TBrush{style, hatch, colorRef};
}

void TFastDIB::SetBackColor(uint32_t colorRef) {
    BackColor = colorRef;
}

namespace {
bool HatchBit(int hatch, int x, int y) {
    x &= 7;
    y &= 7;
    switch (hatch) {
    case HS_HORIZONTAL:
        return y == 4;
    case HS_VERTICAL:
        return x == 4;
    case HS_FDIAGONAL:
        return x == y;
    case HS_BDIAGONAL:
        return x + y == 7;
    case HS_CROSS:
        return x == 4 || y == 4;
    case HS_DIAGCROSS:
        return x == y || x + y == 7;
    default:
        return false;
    }
}
} // namespace

// Fills [x0, x1) x [y0, y1), top-down, clipped to the picture.
void TFastDIB::FillArea(int x0, int y0, int x1, int y1, uint32_t value) {
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, Width());
    y1 = std::min(y1, RowCount);
    for (int y = y0; y < y1 && x0 < x1; ++y) FillSpan(RowOf(y), x0, x1, value);
}

void TFastDIB::FillBrushSpan(int row, int y, int x0, int x1) {
    uint32_t fore = EncodePixel(ColorRefToPixel(Brush.Color));
    if (Brush.Style != BS_HATCHED) {
        FillSpan(row, x0, x1, fore);
        return;
    }
    uint32_t back = EncodePixel(ColorRefToPixel(BackColor));
    for (int x = x0; x < x1; ++x)
        FillSpan(row, x, x + 1, HatchBit(Brush.Hatch, x, y) ? fore : back);
}

void TFastDIB::DrawRectangle(int left, int top, int right, int bottom) {
    if (Empty()) return;
    // Beyond this distance every coordinate draws the same (nothing); the
    // bound keeps the edge arithmetic below from overflowing.
    constexpr int Far = 1 << 24;
    left = std::clamp(left, -Far, Far);
    top = std::clamp(top, -Far, Far);
    right = std::clamp(right, -Far, Far);
    bottom = std::clamp(bottom, -Far, Far);
    if (left > right) std::swap(left, right);
    if (top > bottom) std::swap(top, bottom);
    if (right - left < 1 || bottom - top < 1) return;
    bool pen = Pen.Style != PS_NULL;

    if (Brush.Style != BS_NULL) {
        // Without an outline the filled area loses its right column and bottom row.
        int x1 = std::min(pen ? right : right - 1, Width());
        int y1 = std::min(pen ? bottom : bottom - 1, RowCount);
        int x0 = std::max(left, 0), y0 = std::max(top, 0);
        for (int y = y0; y < y1 && x0 < x1; ++y) FillBrushSpan(RowOf(y), y, x0, x1);
    }
    if (!pen) return;

    // The outline runs through the first and last covered pixel of each side;
    // a wide pen is centred on it, an inside-frame pen stays within.
    int w = std::clamp(Pen.Width, 1, Far);
    int ox0, oy0, ox1, oy1; // outer bounds, inclusive
    if (Pen.Style == PS_INSIDEFRAME) {
        ox0 = left;
        oy0 = top;
        ox1 = right - 1;
        oy1 = bottom - 1;
    } else {
        ox0 = left - w / 2;
        oy0 = top - w / 2;
        ox1 = right - 1 - w / 2 + w - 1;
        oy1 = bottom - 1 - w / 2 + w - 1;
    }
    uint32_t value = EncodePixel(ColorRefToPixel(Pen.Color));
    FillArea(ox0, oy0, ox1 + 1, std::min(oy0 + w, oy1 + 1), value);             // top
    FillArea(ox0, std::max(oy1 - w + 1, oy0), ox1 + 1, oy1 + 1, value);         // bottom
    FillArea(ox0, oy0 + w, std::min(ox0 + w, ox1 + 1), oy1 - w + 1, value);     // left
    FillArea(std::max(ox1 - w + 1, ox0), oy0 + w, ox1 + 1, oy1 - w + 1, value); // right
}

// TFastDIB's storage: allocation, geometry and the bitfield masks.
#include "FastDIB.h"
#include "FastDIBBits.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

using namespace bmp;
using namespace fastdib;

void TFastDIB::FreeDeleter::operator()(uint8_t* p) const {
    std::free(p);
}

namespace {

uint8_t MaskSpan(uint32_t mask) {
    if (mask == 0) return 0;
    int low = __builtin_ctz(mask);
    int high = 31 - __builtin_clz(mask);
    return uint8_t(high - low + 1);
}

} // namespace

TFastDIB::TFastDIB() {
    Header.bmiHeader.biSize = 40;
    Header.bmiHeader.biPlanes = 1;
    ColorTable = Header.bmiColors;
}

TFastDIB::~TFastDIB() {
    Release();
}

void TFastDIB::ResetGeometry() {
    auto& h = Header.bmiHeader;
    h.biWidth = 0;
    h.biHeight = 0;
    h.biSizeImage = 0;
    Stride = RowCount = RowPadding = 0;
    RowTable.clear();
    PixelData = nullptr;
}

void TFastDIB::Release() {
    OwnedPixels.reset();
    Pen = TPen{};
    BackColor = 0xFFFFFF;
    Brush = TBrush{};
    ResetGeometry();
}

bool TFastDIB::Allocate(int32_t width, int32_t height, int bits) {
    return AllocateEx(nullptr, width, height, bits, 0, 0, 0);
}

bool TFastDIB::AllocateEx(void* external, int32_t width, int32_t height, int bits, uint8_t red,
                          uint8_t green, uint8_t blue) {
    auto& h = Header.bmiHeader;
    bool fields = red || green || blue;
    if (!fields) {
        if (bits == 16) red = green = blue = 5;
        if (bits == 32) red = green = blue = 8;
    }
    bool validBits = bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
    int64_t rows = height < 0 ? -int64_t(height) : int64_t(height);
    bool validFields = (bits != 16 && bits != 32) || red + green + blue <= bits;
    if (!validBits || !validFields || width <= 0 || width > MaxDimension || rows == 0 ||
        rows > MaxDimension) {
        Release();
        return false;
    }

    if (!external && OwnsPixels() && width == h.biWidth && height == h.biHeight &&
        bits == h.biBitCount && red == RedBits && green == GreenBits && blue == BlueBits)
        return true;

    int64_t stride;
    int64_t used;
    if (bits == 1 || bits == 4) {
        int64_t p = (int64_t(width) * bits + 7) & ~int64_t(7);
        stride = ((p + 31) & ~int64_t(31)) / 8;
        used = p / 8;
    } else if (bits == 32) {
        stride = 4 * int64_t(width);
        used = stride;
    } else {
        stride = ((int64_t(width) * bits + 31) & ~int64_t(31)) / 8;
        used = int64_t(width) * (bits / 8);
    }
    uint64_t imageBytes = uint64_t(stride) * uint64_t(rows);
    if (imageBytes > MaxImageBytes) {
        Release();
        return false;
    }

    h.biWidth = width;
    h.biHeight = height;
    h.biBitCount = uint16_t(bits);
    h.biCompression = fields ? BI_BITFIELDS : BI_RGB;
    h.biSizeImage = uint32_t(imageBytes);
    h.biClrUsed = 0;
    h.biClrImportant = 0;
    h.biXPelsPerMeter = h.biYPelsPerMeter = 0;
    RowCount = int32_t(rows);
    Stride = int32_t(stride);
    RowPadding = int32_t(stride - used);
    RedBits = red;
    GreenBits = green;
    BlueBits = blue;
    GreenUp = blue;
    RedUp = uint8_t(blue + green);
    BlueDown = uint8_t(blue >= 8 ? 0 : 8 - blue);
    GreenDown = uint8_t(green >= 8 ? 0 : 8 - green);
    RedDown = uint8_t(red >= 8 ? 0 : 8 - red);
    if (bits == 16 || bits == 32) {
        uint32_t blueMask = LowBits(blue);
        uint32_t greenMask = LowBits(blue + green) & ~blueMask;
        uint32_t redMask = LowBits(blue + green + red) & ~(blueMask | greenMask);
        std::memcpy(&ColorTable[0], &redMask, 4);
        std::memcpy(&ColorTable[1], &greenMask, 4);
        std::memcpy(&ColorTable[2], &blueMask, 4);
    }

    if (external) {
        OwnedPixels.reset();
        PixelData = static_cast<uint8_t*>(external);
    } else {
        // A new geometry starts black, like a fresh bitmap. calloc leaves big
        // blocks untouched until they are written.
        Pen = TPen{};
        Brush = TBrush{};
        BackColor = 0xFFFFFF;
        OwnedPixels.reset();
        OwnedPixels.reset(static_cast<uint8_t*>(std::calloc(std::max<size_t>(imageBytes, 1), 1)));
        if (!OwnedPixels) {
            ResetGeometry();
            return false;
        }
        PixelData = OwnedPixels.get();
    }
    RowTable.resize(size_t(RowCount));
    for (int32_t i = 0; i < RowCount; ++i) RowTable[size_t(i)] = PixelData + int64_t(i) * Stride;
    return true;
}

bool TFastDIB::AllocateFromHeader(const TBitmapInfo256& header, void* external) {
    const auto& h = header.bmiHeader;
    int bits = h.biBitCount;
    uint8_t red = 0, green = 0, blue = 0;
    uint32_t compression = h.biCompression;
    if (compression == BI_RLE8 || compression == BI_RLE4) {
        bool anyMask = ReadU32(&header.bmiColors[0].rgbBlue) ||
                       ReadU32(&header.bmiColors[1].rgbBlue) ||
                       ReadU32(&header.bmiColors[2].rgbBlue);
        compression = anyMask ? BI_BITFIELDS : BI_RGB;
    }
    if ((bits == 16 || bits == 32) && compression == BI_BITFIELDS) {
        red = MaskSpan(ReadU32(&header.bmiColors[0].rgbBlue));
        green = MaskSpan(ReadU32(&header.bmiColors[1].rgbBlue));
        blue = MaskSpan(ReadU32(&header.bmiColors[2].rgbBlue));
    }
    if (bits <= 8) std::memcpy(ColorTable, header.bmiColors, sizeof(header.bmiColors));
    return AllocateEx(external, h.biWidth, h.biHeight, bits, red, green, blue);
}

uint32_t TFastDIB::Mask(int i) const {
    return ReadU32(&ColorTable[i].rgbBlue);
}

bool TFastDIB::IsBgrx() const {
    return BitCount() == 32 && (Compression() == BI_RGB ||
                                (Mask(0) == 0xFF0000 && Mask(1) == 0xFF00 && Mask(2) == 0xFF));
}

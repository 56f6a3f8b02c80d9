// TFastDIB: an in-memory device-independent bitmap with the BMP file layout.
//
// Pixels live in one block of memory addressed row by row through RowTable.
// Rows are in file order: a positive Height is bottom-up (row 0 is the bottom
// scan line), a negative one top-down. Pixel colours passed to GetColor and
// PutColor are 0x00RRGGBB (blue in the low byte); pens and brushes take a
// COLORREF (0x00BBGGRR, red in the low byte) like the drawing API they mirror.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <QImage>

class QPainter;

#pragma pack(push, 1)
struct TBitmapFileHeader {
    uint16_t bfType;
    uint32_t bfSize;
    uint16_t bfReserved1;
    uint16_t bfReserved2;
    uint32_t bfOffBits;
};

struct TBitmapInfoHeader {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};

struct TRGBQuad {
    uint8_t rgbBlue;
    uint8_t rgbGreen;
    uint8_t rgbRed;
    uint8_t rgbReserved;
};

struct TBitmapInfo256 {
    TBitmapInfoHeader bmiHeader;
    TRGBQuad bmiColors[256];
};
#pragma pack(pop)

static_assert(sizeof(TBitmapFileHeader) == 14);
static_assert(sizeof(TBitmapInfoHeader) == 40);
static_assert(sizeof(TBitmapInfo256) == 1064);

namespace bmp {
constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_RLE8 = 1;
constexpr uint32_t BI_RLE4 = 2;
constexpr uint32_t BI_BITFIELDS = 3;

constexpr int PS_SOLID = 0;
constexpr int PS_NULL = 5;
constexpr int PS_INSIDEFRAME = 6;

constexpr int BS_SOLID = 0;
constexpr int BS_NULL = 1;
constexpr int BS_HOLLOW = BS_NULL;
constexpr int BS_HATCHED = 2;

constexpr int HS_HORIZONTAL = 0;
constexpr int HS_VERTICAL = 1;
constexpr int HS_FDIAGONAL = 2;
constexpr int HS_BDIAGONAL = 3;
constexpr int HS_CROSS = 4;
constexpr int HS_DIAGCROSS = 5;

// Limits on what a buffer may hold; a file asking for more loads as empty.
constexpr int32_t MaxDimension = 32767;
constexpr uint64_t MaxImageBytes = 512ull << 20;

constexpr uint32_t RGB(uint8_t r, uint8_t g, uint8_t b) {
    return uint32_t(r) | uint32_t(g) << 8 | uint32_t(b) << 16;
}
} // namespace bmp

class TFastDIB {
public:
    struct TPen {
        int Style = bmp::PS_SOLID;
        int Width = 1;
        uint32_t Color = 0; // COLORREF
    };
    struct TBrush {
        int Style = bmp::BS_SOLID;
        int Hatch = 0;
        uint32_t Color = 0xFFFFFF; // COLORREF
    };

    TFastDIB();
    ~TFastDIB();
    TFastDIB(const TFastDIB&) = delete;
    TFastDIB& operator=(const TFastDIB&) = delete;

    void Release();
    // Returns false (and leaves the buffer empty) for a geometry it cannot hold.
    bool Allocate(int32_t width, int32_t height, int bits);
    bool AllocateEx(void* external, int32_t width, int32_t height, int bits, uint8_t red,
                    uint8_t green, uint8_t blue);
    bool AllocateFromHeader(const TBitmapInfo256& header, void* external = nullptr);

    // Replaces the buffer by the picture in a BMP file (info headers of 12,
    // 40, 52, 56, 108 and 124 bytes). A file that cannot be read, or whose
    // header, offsets, sizes or pixel data do not hold together, leaves the
    // buffer empty and LoadError saying why.
    bool LoadBitmapFile(const std::string& path);
    bool LoadBitmapMemory(const uint8_t* data, size_t size);
    // As LoadBitmapMemory, but uncompressed pixels are read where they lie in
    // data, which must then stay unchanged and outlive the buffer's use of it
    // (until Release or the next load). For reading only.
    bool ViewBitmapMemory(const uint8_t* data, size_t size);
    // Why the last load failed, as a sentence; empty after a successful one.
    std::string LoadError;
    // Writes the buffer as a BMP file. The file is replaced only once the whole
    // picture has been written, so a failed save leaves any old file intact.
    bool SaveBitmapFile(const std::string& path) const;
    std::vector<uint8_t> SaveBitmapMemory() const;
    // Expands BI_RLE8 / BI_RLE4 data into the rows, starting at row 0. Runs
    // are cut at the row's edge; returns why the data is broken (it ends
    // early or moves outside the picture), or "" when it is whole.
    std::string ExpandRle(const uint8_t* data, size_t size, bool fourBits);

    void CopyBlock(const TFastDIB& source, int dx, int dy, int w, int h, int sx, int sy);

    void SelectPen(int style, int width, uint32_t colorRef);
    void SelectBrush(int style, int hatch, uint32_t colorRef);
    void SetBackColor(uint32_t colorRef);
    void DrawRectangle(int left, int top, int right, int bottom);

    void ScaleInto(TFastDIB& dest) const;
    // Whether ScaleInto may use the processor's vector kernels (same results;
    // cleared by tests to check the portable kernel).
    static inline bool WideKernels = true;
    void PaintTo(QPainter& painter, int x, int y) const;

    uint32_t GetColor(int row, int column) const;
    void PutColor(int row, int column, uint32_t color);
    uint8_t GetIndex(int row, int column) const;
    void PutIndex(int row, int column, uint8_t index);
    uint8_t NearestIndex(uint32_t color) const;
    static uint8_t ExpandChannel(uint32_t value, int width);

    // The picture as a QImage sharing this buffer's pixels where Qt has a
    // matching format (converted once otherwise), rows in memory order.
    QImage MemoryImage() const;
    // The picture upright, as an image of its own.
    QImage ToImage() const;
    // Replaces the buffer by a bottom-up BI_RGB picture of the image at the
    // given depth: 32, 24, 16 (5-5-5), or 8 and 1 with the image's colours.
    // False (and an empty buffer) when the image is null or too big.
    bool AssignImage(const QImage& image, int bits);

    int32_t Width() const { return Header.bmiHeader.biWidth; }
    int32_t Height() const { return Header.bmiHeader.biHeight; }
    int BitCount() const { return Header.bmiHeader.biBitCount; }
    uint32_t Compression() const { return Header.bmiHeader.biCompression; }
    bool Empty() const { return RowCount == 0; }
    // Row index in memory of the picture line y counted from the top.
    int RowOf(int y) const { return Height() > 0 ? RowCount - 1 - y : y; }
    uint32_t Mask(int i) const;
    // Whether the pixels are the buffer's own block rather than external memory.
    bool OwnsPixels() const { return OwnedPixels != nullptr; }
    // Whether each pixel is four bytes blue, green, red and an unused byte.
    bool IsBgrx() const;

    int32_t Stride = 0;
    int32_t RowCount = 0;
    int32_t RowPadding = 0;
    uint8_t* PixelData = nullptr;
    TRGBQuad* ColorTable = nullptr;
    TBitmapInfo256 Header{};
    uint8_t BlueBits = 0, GreenBits = 0, RedBits = 0;
    uint8_t BlueDown = 0, GreenDown = 0, RedDown = 0;
    uint8_t GreenUp = 0, RedUp = 0;
    std::vector<uint8_t*> RowTable;
    TPen Pen;
    TBrush Brush;
    uint32_t BackColor = 0xFFFFFF;

private:
    struct FreeDeleter {
        void operator()(uint8_t* p) const;
    };
    std::unique_ptr<uint8_t, FreeDeleter> OwnedPixels;

    void ResetGeometry();
    std::vector<uint8_t> FileHeaderBytes() const;
    uint32_t EncodePixel(uint32_t color) const;
    void FillSpan(int row, int x0, int x1, uint32_t color);
    void FillBrushSpan(int row, int y, int x0, int x1);
    void FillArea(int x0, int y0, int x1, int y1, uint32_t color);
};

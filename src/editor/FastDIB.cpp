#include "FastDIB.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <fcntl.h>
#include <unistd.h>

#include <QPainter>

using namespace bmp;

void TFastDIB::FreeDeleter::operator()(uint8_t* p) const {
    std::free(p);
}

namespace {

uint16_t ReadU16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
uint32_t ReadU32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Shifts by 32 or more give 0 instead of undefined behaviour.
uint32_t Shl(uint32_t v, unsigned n) {
    return n >= 32 ? 0 : v << n;
}
uint32_t Shr(uint32_t v, unsigned n) {
    return n >= 32 ? 0 : v >> n;
}
uint32_t LowBits(unsigned n) {
    return n >= 32 ? 0xFFFFFFFFu : (1u << n) - 1;
}

uint8_t MaskSpan(uint32_t mask) {
    if (mask == 0) return 0;
    int low = __builtin_ctz(mask);
    int high = 31 - __builtin_clz(mask);
    return uint8_t(high - low + 1);
}

uint32_t ColorRefToPixel(uint32_t ref) {
    return (ref & 0xFF) << 16 | (ref & 0xFF00) | (ref >> 16 & 0xFF);
}

// Where LoadBitmap reads its bytes from: a file or a block of memory.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Reads up to n bytes at offset; returns how many arrived.
    virtual size_t Read(uint64_t offset, void* dest, size_t n) = 0;
};

class MemorySource : public ByteSource {
public:
    MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint64_t Size() const override { return size_; }
    size_t Read(uint64_t offset, void* dest, size_t n) override {
        if (offset >= size_) return 0;
        n = std::min<uint64_t>(n, size_ - offset);
        std::memcpy(dest, data_ + offset, n);
        return n;
    }

private:
    const uint8_t* data_;
    size_t size_;
};

class FileSource : public ByteSource {
public:
    explicit FileSource(const std::string& path) : f_(std::fopen(path.c_str(), "rb")) {
        if (f_ && std::fseek(f_, 0, SEEK_END) == 0) {
            long end = std::ftell(f_);
            if (end > 0) size_ = uint64_t(end);
        }
    }
    ~FileSource() override {
        if (f_) std::fclose(f_);
    }
    bool IsOpen() const { return f_ != nullptr; }
    uint64_t Size() const override { return size_; }
    size_t Read(uint64_t offset, void* dest, size_t n) override {
        if (!f_ || offset >= size_ || std::fseek(f_, long(offset), SEEK_SET) != 0) return 0;
        return std::fread(dest, 1, n, f_);
    }

private:
    std::FILE* f_;
    uint64_t size_ = 0;
};

bool LoadInto(TFastDIB& dib, ByteSource& src);

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
    OwnedSize = 0;
    OwnsPixels = false;
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

    if (!external && OwnsPixels && PixelData && width == h.biWidth && height == h.biHeight &&
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
        OwnedSize = 0;
        OwnsPixels = false;
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
            OwnedSize = 0;
            OwnsPixels = false;
            ResetGeometry();
            return false;
        }
        OwnedSize = imageBytes;
        OwnsPixels = true;
        PixelData = OwnedPixels.get();
    }
    RowTable.resize(size_t(RowCount));
    for (int32_t i = 0; i < RowCount; ++i) RowTable[size_t(i)] = PixelData + int64_t(i) * Stride;
    return true;
}

bool TFastDIB::AllocateFromHeader(const TBitmapInfo256& header) {
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
    return AllocateEx(nullptr, h.biWidth, h.biHeight, bits, red, green, blue);
}

uint32_t TFastDIB::Mask(int i) const {
    return ReadU32(&ColorTable[i].rgbBlue);
}

bool TFastDIB::LoadBitmapFile(const std::string& path) {
    FileSource src(path);
    if (!src.IsOpen()) {
        Release();
        return false;
    }
    return LoadInto(*this, src);
}

bool TFastDIB::LoadBitmapMemory(const uint8_t* data, size_t size) {
    MemorySource src(data, size);
    return LoadInto(*this, src);
}

namespace {

constexpr size_t HeaderBytes = 1078; // file header, info header, 256 colour entries

bool LoadInto(TFastDIB& dib, ByteSource& src) {
    uint64_t size = src.Size();
    uint8_t raw[HeaderBytes] = {};
    size_t got = src.Read(0, raw, size_t(std::min<uint64_t>(size, HeaderBytes)));
    if (got < 26 || raw[0] != 'B' || raw[1] != 'M') {
        dib.Release();
        return false;
    }
    uint32_t infoSize = ReadU32(raw + 14);
    uint32_t dataOffset = ReadU32(raw + 10);
    TBitmapInfo256 header{};
    size_t colorBytes = 0;
    if (infoSize == 40 && got >= 54) {
        std::memcpy(&header.bmiHeader, raw + 14, 40);
        auto& h = header.bmiHeader;
        // Colour entries lie between the info header and the pixel data; only
        // those the file declares count, so stray indices come out black.
        size_t entries = 0;
        if (h.biBitCount <= 8) {
            entries = h.biClrUsed ? std::min<uint32_t>(h.biClrUsed, 256) : 1u << h.biBitCount;
        } else if (h.biCompression == BI_BITFIELDS) {
            entries = 3;
        }
        colorBytes = std::min<size_t>(entries * 4, got - 54);
        if (dataOffset >= 54) colorBytes = std::min<size_t>(colorBytes, dataOffset - 54);
        std::memcpy(header.bmiColors, raw + 54, colorBytes);
        h.biClrUsed = h.biClrImportant = 0;
    } else if (infoSize == 12) {
        auto& h = header.bmiHeader;
        h.biSize = 40;
        h.biWidth = ReadU16(raw + 18);
        h.biHeight = ReadU16(raw + 20);
        h.biPlanes = 1;
        h.biBitCount = ReadU16(raw + 24);
        h.biCompression = BI_RGB;
        if (h.biBitCount <= 8) {
            size_t entries = size_t(1) << h.biBitCount;
            for (size_t i = 0; i < entries && 26 + i * 3 + 3 <= got; ++i) {
                if (dataOffset >= 26 && 26 + i * 3 + 3 > dataOffset) break;
                header.bmiColors[i].rgbBlue = raw[26 + i * 3];
                header.bmiColors[i].rgbGreen = raw[27 + i * 3];
                header.bmiColors[i].rgbRed = raw[28 + i * 3];
            }
        }
    } else {
        dib.Release();
        return false;
    }

    const auto& h = header.bmiHeader;
    uint32_t compression = h.biCompression;
    int bits = h.biBitCount;
    bool matches = (compression == BI_RGB) ||
                   (compression == BI_BITFIELDS && (bits == 16 || bits == 32)) ||
                   (compression == BI_RLE8 && bits == 8) || (compression == BI_RLE4 && bits == 4);
    const uint8_t* before = dib.PixelData;
    if (!matches || !dib.AllocateFromHeader(header)) {
        dib.Release();
        return false;
    }
    // A buffer kept for the same geometry still holds the previous picture;
    // a new one is already black.
    bool reused = before && before == dib.PixelData;
    uint32_t imageBytes = dib.Header.bmiHeader.biSizeImage;

    if (compression == BI_RLE8 || compression == BI_RLE4) {
        if (reused) std::memset(dib.PixelData, 0, imageBytes);
        uint64_t total = std::min<uint64_t>(ReadU32(raw + 2), size);
        if (total <= dataOffset) return true;
        std::vector<uint8_t> packed(size_t(total - dataOffset));
        packed.resize(src.Read(dataOffset, packed.data(), packed.size()));
        dib.ExpandRle(packed.data(), packed.size(), compression == BI_RLE4);
        return true;
    }
    size_t want = dataOffset < size ? size_t(std::min<uint64_t>(size - dataOffset, imageBytes)) : 0;
    size_t read = want ? src.Read(dataOffset, dib.PixelData, want) : 0;
    if (reused) std::memset(dib.PixelData + read, 0, imageBytes - read);
    return true;
}

} // namespace

void TFastDIB::ExpandRle(const uint8_t* data, size_t size, bool fourBits) {
    if (Empty() || BitCount() != (fourBits ? 4 : 8)) return;
    const int32_t width = Width();
    int32_t row = 0;
    int64_t col = 0;
    size_t pos = 0;
    auto put = [&](uint8_t index) {
        if (col < width) PutIndex(row, int(col), index);
        ++col;
    };
    while (row < RowCount && pos + 1 < size) {
        uint8_t count = data[pos];
        uint8_t value = data[pos + 1];
        pos += 2;
        if (count > 0) {
            for (int k = 0; k < count && col < width; ++k)
                put(fourBits ? uint8_t(k % 2 == 0 ? value >> 4 : value & 15) : value);
            continue;
        }
        switch (value) {
        case 0: // end of row
            ++row;
            col = 0;
            break;
        case 1: // end of picture
            return;
        case 2: // delta: skip columns and rows
            if (pos + 1 >= size) return;
            col += data[pos];
            row += data[pos + 1];
            pos += 2;
            break;
        default: { // absolute run of `value` pixels, padded to a word
            size_t bytes = fourBits ? (size_t(value) + 1) / 2 : value;
            for (int k = 0; k < value; ++k) {
                size_t at = pos + (fourBits ? size_t(k) / 2 : size_t(k));
                if (at >= size) return;
                put(fourBits ? uint8_t(k % 2 == 0 ? data[at] >> 4 : data[at] & 15) : data[at]);
            }
            pos += bytes + (bytes & 1);
            break;
        }
        }
    }
}

std::vector<uint8_t> TFastDIB::FileHeaderBytes() const {
    const auto& h = Header.bmiHeader;
    uint32_t tableBytes = 0;
    if (h.biClrUsed)
        tableBytes = 4 * std::min<uint32_t>(h.biClrUsed, 256);
    else if (h.biCompression == BI_BITFIELDS)
        tableBytes = 12;
    else if (h.biBitCount <= 8)
        tableBytes = 4u << h.biBitCount;
    uint32_t offset = 54 + tableBytes;
    TBitmapFileHeader fh{0x4D42, offset + h.biSizeImage, 0, 0, offset};
    std::vector<uint8_t> out(offset);
    std::memcpy(out.data(), &fh, 14);
    std::memcpy(out.data() + 14, &h, 40);
    std::memcpy(out.data() + 54, ColorTable, tableBytes);
    return out;
}

std::vector<uint8_t> TFastDIB::SaveBitmapMemory() const {
    if (Empty()) return {};
    std::vector<uint8_t> out = FileHeaderBytes();
    out.insert(out.end(), PixelData, PixelData + Header.bmiHeader.biSizeImage);
    return out;
}

namespace {
bool WriteAll(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        ssize_t done = ::write(fd, p, n);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        p += done;
        n -= size_t(done);
    }
    return true;
}
} // namespace

bool TFastDIB::SaveBitmapFile(const std::string& path) const {
    if (Empty()) return false;
    std::string temp = path + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    std::vector<uint8_t> head = FileHeaderBytes();
    bool ok = WriteAll(fd, head.data(), head.size()) &&
              WriteAll(fd, PixelData, Header.bmiHeader.biSizeImage);
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

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

namespace {

// Horizontal sampling positions, the same for every row.
struct ColumnStep {
    uint32_t offset; // byte offset of the left sample
    uint32_t next;   // byte offset of the right sample (the same pixel when there is none)
    uint32_t fx;     // 16-bit fraction
};

struct ScaleJob {
    const TFastDIB* src;
    TFastDIB* dst;
    std::vector<ColumnStep> cols;
    uint32_t yStep;
};

inline uint32_t Blend(uint32_t a0, uint32_t a1, uint32_t b0, uint32_t b1, uint32_t wA0,
                      uint32_t wA1, uint32_t wB0, uint32_t wB1) {
    return (a0 * wA0 + a1 * wA1 + b0 * wB0 + b1 * wB1) >> 16;
}

// Scales destination rows [row0, row1) of 8-, 24- or 32-bit pictures; Channels
// bytes of each Bytes-wide pixel are interpolated.
template <int Bytes, int Channels> void ScaleBytes(const ScaleJob& job, int row0, int row1) {
    const TFastDIB& S = *job.src;
    TFastDIB& D = *job.dst;
    const int last = S.RowCount - 1;
    for (int r = row0; r < row1; ++r) {
        uint32_t y = uint32_t(r) * job.yStep;
        int iy = int(y >> 16);
        const uint8_t* A = S.RowTable[size_t(iy)];
        const uint8_t* B = iy < last ? S.RowTable[size_t(iy) + 1] : A;
        uint32_t fy = y & 0xFFFF;
        uint32_t wA = 65536 - fy, wB = fy + 1;
        uint8_t* out = D.RowTable[size_t(r)];
        for (const ColumnStep& c : job.cols) {
            uint32_t wA1 = (wA * c.fx) >> 16, wA0 = wA - wA1;
            uint32_t wB1 = (wB * c.fx) >> 16, wB0 = wB - wB1;
            const uint8_t *a = A + c.offset, *an = A + c.next;
            const uint8_t *b = B + c.offset, *bn = B + c.next;
            for (int k = 0; k < Channels; ++k)
                out[k] = uint8_t(Blend(a[k], an[k], b[k], bn[k], wA0, wA1, wB0, wB1));
            out += Bytes;
        }
    }
}

#if defined(__x86_64__)
inline uint32_t Load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// The bytes of two pixels, one per 32-bit lane.
__attribute__((target("avx2"))) inline __m256i Widen(uint32_t lo, uint32_t hi) {
    return _mm256_cvtepu8_epi32(_mm_set_epi64x(0, int64_t(uint64_t(hi) << 32 | lo)));
}
__attribute__((target("avx2"))) inline __m256i Weights(uint32_t lo, uint32_t hi) {
    return _mm256_set_m128i(_mm_set1_epi32(int(hi)), _mm_set1_epi32(int(lo)));
}

// Two destination pixels per step: the four samples of both are widened to
// 32-bit lanes and weighted in one multiply each. The sums stay below 2^25,
// so the lanes give exactly the scalar results.
template <int Bytes>
__attribute__((target("avx2"))) void ScaleBytesAvx2(const ScaleJob& job, int row0, int row1) {
    const TFastDIB& S = *job.src;
    TFastDIB& D = *job.dst;
    const int last = S.RowCount - 1;
    const size_t count = job.cols.size();
    // 24-bit samples are read four bytes at a time; the last bytes of a row
    // may lack the spare byte, so those columns take the scalar path.
    size_t wide = count;
    if (Bytes == 3)
        while (wide > 0 && job.cols[wide - 1].next + 4 > uint32_t(S.Stride)) --wide;
    wide &= ~size_t(1);
    for (int r = row0; r < row1; ++r) {
        uint32_t y = uint32_t(r) * job.yStep;
        int iy = int(y >> 16);
        const uint8_t* A = S.RowTable[size_t(iy)];
        const uint8_t* B = iy < last ? S.RowTable[size_t(iy) + 1] : A;
        uint32_t fy = y & 0xFFFF;
        uint32_t wA = 65536 - fy, wB = fy + 1;
        uint8_t* out = D.RowTable[size_t(r)];
        size_t j = 0;
        for (; j < wide; j += 2, out += 2 * Bytes) {
            const ColumnStep& c0 = job.cols[j];
            const ColumnStep& c1 = job.cols[j + 1];
            uint32_t wA1a = (wA * c0.fx) >> 16, wA1b = (wA * c1.fx) >> 16;
            uint32_t wB1a = (wB * c0.fx) >> 16, wB1b = (wB * c1.fx) >> 16;
            __m256i sum = _mm256_mullo_epi32(Widen(Load32(A + c0.offset), Load32(A + c1.offset)),
                                             Weights(wA - wA1a, wA - wA1b));
            sum = _mm256_add_epi32(
                sum, _mm256_mullo_epi32(Widen(Load32(A + c0.next), Load32(A + c1.next)),
                                        Weights(wA1a, wA1b)));
            sum = _mm256_add_epi32(
                sum, _mm256_mullo_epi32(Widen(Load32(B + c0.offset), Load32(B + c1.offset)),
                                        Weights(wB - wB1a, wB - wB1b)));
            sum = _mm256_add_epi32(
                sum, _mm256_mullo_epi32(Widen(Load32(B + c0.next), Load32(B + c1.next)),
                                        Weights(wB1a, wB1b)));
            sum = _mm256_srli_epi32(sum, 16);
            __m256i packed = _mm256_packus_epi16(_mm256_packus_epi32(sum, sum), sum);
            uint32_t p0 = uint32_t(_mm_cvtsi128_si32(_mm256_castsi256_si128(packed)));
            uint32_t p1 = uint32_t(_mm_cvtsi128_si32(_mm256_extracti128_si256(packed, 1)));
            if (Bytes == 4) {
                // The fourth byte of a 32-bit pixel is not a channel and stays as it was.
                p0 = (p0 & 0xFFFFFF) | (Load32(out) & 0xFF000000);
                p1 = (p1 & 0xFFFFFF) | (Load32(out + 4) & 0xFF000000);
                std::memcpy(out, &p0, 4);
                std::memcpy(out + 4, &p1, 4);
            } else {
                std::memcpy(out, &p0, 3);
                std::memcpy(out + 3, &p1, 3);
            }
        }
        for (; j < count; ++j, out += Bytes) {
            const ColumnStep& c = job.cols[j];
            uint32_t wA1 = (wA * c.fx) >> 16, wA0 = wA - wA1;
            uint32_t wB1 = (wB * c.fx) >> 16, wB0 = wB - wB1;
            const uint8_t *a = A + c.offset, *an = A + c.next;
            const uint8_t *b = B + c.offset, *bn = B + c.next;
            for (int k = 0; k < 3; ++k)
                out[k] = uint8_t(Blend(a[k], an[k], b[k], bn[k], wA0, wA1, wB0, wB1));
        }
    }
}

bool HasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}
#endif

// 24- and 32-bit rows, by the widest kernel this processor runs.
template <int Bytes> void ScaleTrueColor(const ScaleJob& job, int row0, int row1) {
#if defined(__x86_64__)
    if (TFastDIB::WideKernels && HasAvx2()) {
        ScaleBytesAvx2<Bytes>(job, row0, row1);
        return;
    }
#endif
    ScaleBytes<Bytes, 3>(job, row0, row1);
}

struct Tables16 {
    std::vector<uint8_t> blue, green, red; // 65,536 entries each
    uint16_t packBlue[256], packGreen[256], packRed[256];
};

void Scale16(const ScaleJob& job, const Tables16& t, int row0, int row1) {
    const TFastDIB& S = *job.src;
    TFastDIB& D = *job.dst;
    const int last = S.RowCount - 1;
    for (int r = row0; r < row1; ++r) {
        uint32_t y = uint32_t(r) * job.yStep;
        int iy = int(y >> 16);
        const uint8_t* A = S.RowTable[size_t(iy)];
        const uint8_t* B = iy < last ? S.RowTable[size_t(iy) + 1] : A;
        uint32_t fy = y & 0xFFFF;
        uint32_t wA = 65536 - fy, wB = fy + 1;
        uint8_t* out = D.RowTable[size_t(r)];
        for (const ColumnStep& c : job.cols) {
            uint32_t wA1 = (wA * c.fx) >> 16, wA0 = wA - wA1;
            uint32_t wB1 = (wB * c.fx) >> 16, wB0 = wB - wB1;
            uint16_t a = ReadU16(A + c.offset), an = ReadU16(A + c.next);
            uint16_t b = ReadU16(B + c.offset), bn = ReadU16(B + c.next);
            uint32_t blue = Blend(t.blue[a], t.blue[an], t.blue[b], t.blue[bn], wA0, wA1, wB0, wB1);
            uint32_t green =
                Blend(t.green[a], t.green[an], t.green[b], t.green[bn], wA0, wA1, wB0, wB1);
            uint32_t red = Blend(t.red[a], t.red[an], t.red[b], t.red[bn], wA0, wA1, wB0, wB1);
            uint16_t v = uint16_t(t.packBlue[blue] | t.packGreen[green] | t.packRed[red]);
            out[0] = uint8_t(v);
            out[1] = uint8_t(v >> 8);
            out += 2;
        }
    }
}

// Runs fn over the destination rows, split in two halves on two threads when
// the picture is big enough to pay for the thread. Rows are independent, so
// the result is the same either way.
template <class Fn> void ForRows(int rows, int width, Fn fn) {
    if (int64_t(rows) * width < 200000 || rows < 2) {
        fn(0, rows);
        return;
    }
    int half = rows / 2;
    std::thread other([&] { fn(half, rows); });
    fn(0, half);
    other.join();
}

} // namespace

void TFastDIB::ScaleInto(TFastDIB& dest) const {
    int bits = dest.BitCount();
    if (Empty() || dest.Empty() || bits != BitCount()) return;
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return;
    int bytes = bits / 8;

    ScaleJob job{this, &dest, {}, 0};
    uint32_t xStep = uint32_t(int32_t(int64_t(Width() - 1) * 65536 / dest.Width()));
    job.yStep = uint32_t(int32_t(int64_t(RowCount - 1) * 65536 / dest.RowCount));
    job.cols.resize(size_t(dest.Width()));
    uint32_t x = 0;
    for (ColumnStep& c : job.cols) {
        uint32_t ix = x >> 16;
        c.offset = ix * uint32_t(bytes);
        // The right neighbour only exists for sources wider than one pixel;
        // elsewhere its weight is 0.
        c.next = (ix + 1 < uint32_t(Width()) ? ix + 1 : ix) * uint32_t(bytes);
        c.fx = x & 0xFFFF;
        x += xStep;
    }

    switch (bits) {
    case 8:
        ForRows(dest.RowCount, dest.Width(), [&](int a, int b) { ScaleBytes<1, 1>(job, a, b); });
        break;
    case 24:
        ForRows(dest.RowCount, dest.Width(), [&](int a, int b) { ScaleTrueColor<3>(job, a, b); });
        break;
    case 32:
        ForRows(dest.RowCount, dest.Width(), [&](int a, int b) { ScaleTrueColor<4>(job, a, b); });
        break;
    case 16: {
        Tables16 t;
        t.blue.resize(65536);
        t.green.resize(65536);
        t.red.resize(65536);
        for (uint32_t p = 0; p < 65536; ++p) {
            t.blue[p] = uint8_t(p << BlueDown);
            t.green[p] = uint8_t(Shl(Shr(p, GreenUp), GreenDown));
            t.red[p] = uint8_t(Shl(Shr(p, RedUp), RedDown));
        }
        for (uint32_t v = 0; v < 256; ++v) {
            t.packBlue[v] = uint16_t(v >> dest.BlueDown);
            t.packGreen[v] = uint16_t(Shl(v >> dest.GreenDown, dest.GreenUp));
            t.packRed[v] = uint16_t(Shl(v >> dest.RedDown, dest.RedUp));
        }
        ForRows(dest.RowCount, dest.Width(), [&](int a, int b) { Scale16(job, t, a, b); });
        break;
    }
    }
}

QImage TFastDIB::MemoryImage() const {
    if (Empty()) return {};
    const int w = Width(), h = RowCount;
    auto view = [&](QImage::Format f) { return QImage(PixelData, w, h, Stride, f); };
    switch (BitCount()) {
    case 32:
        if (Compression() == BI_RGB ||
            (Mask(0) == 0xFF0000 && Mask(1) == 0xFF00 && Mask(2) == 0xFF))
            return view(QImage::Format_RGB32);
        break;
    case 24:
        return view(QImage::Format_BGR888);
    case 16:
        if (BlueBits == 5 && GreenBits == 5 && RedBits == 5) return view(QImage::Format_RGB555);
        if (BlueBits == 5 && GreenBits == 6 && RedBits == 5) return view(QImage::Format_RGB16);
        break;
    case 8:
    case 1: {
        QImage img = view(BitCount() == 8 ? QImage::Format_Indexed8 : QImage::Format_Mono);
        QList<QRgb> colors(1 << BitCount());
        for (int i = 0; i < colors.size(); ++i)
            colors[i] = qRgb(ColorTable[i].rgbRed, ColorTable[i].rgbGreen, ColorTable[i].rgbBlue);
        img.setColorTable(colors);
        return img;
    }
    default:
        break;
    }
    // Layouts Qt has no format for are converted once.
    QImage img(w, h, QImage::Format_RGB32);
    for (int r = 0; r < h; ++r) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(r));
        for (int c = 0; c < w; ++c) line[c] = 0xFF000000u | GetColor(r, c);
    }
    return img;
}

void TFastDIB::PaintTo(QPainter& painter, int x, int y) const {
    QImage img = MemoryImage();
    if (img.isNull()) return;
    if (Height() < 0) {
        painter.drawImage(x, y, img);
        return;
    }
    // Bottom-up rows are drawn through a vertical flip instead of a copy.
    painter.save();
    painter.translate(x, y + RowCount);
    painter.scale(1, -1);
    painter.drawImage(0, 0, img);
    painter.restore();
}

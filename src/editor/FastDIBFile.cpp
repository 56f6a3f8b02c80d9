// Reading and writing the BMP file layout, RLE-compressed data included.
#include "FastDIB.h"
#include "FastDIBBits.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

using namespace bmp;
using namespace fastdib;

namespace {

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

// File header, the largest info header (V5) and 256 colour entries.
constexpr size_t HeaderBytes = 14 + 124 + 1024;

std::string Num(uint64_t n) {
    return std::to_string(n);
}

// Masks of the layout the buffer keeps: blue lowest, green, then red, each
// contiguous and next to the one below it.
bool MasksFitTheLayout(uint32_t red, uint32_t green, uint32_t blue, int bits) {
    auto span = [](uint32_t m) { return m ? 32 - __builtin_clz(m) - __builtin_ctz(m) : 0; };
    const unsigned b = unsigned(span(blue)), g = unsigned(span(green)), r = unsigned(span(red));
    if (b + g + r > unsigned(bits)) return false;
    return blue == LowBits(b) && green == (LowBits(b + g) & ~LowBits(b)) &&
           red == (LowBits(b + g + r) & ~LowBits(b + g));
}

// Reads the file into the buffer; returns why it cannot, or "" when it did.
// Everything the header claims is checked against the file before the
// pixels are allocated, so a broken file is refused rather than shown as
// garbage or black. With view (the source's bytes, kept by the caller), an
// uncompressed picture with all its rows present is used where it lies.
std::string LoadInto(TFastDIB& dib, ByteSource& src, const uint8_t* view = nullptr) {
    const uint64_t size = src.Size();
    uint8_t raw[HeaderBytes] = {};
    const size_t got = src.Read(0, raw, size_t(std::min<uint64_t>(size, HeaderBytes)));
    if (got < 2 || raw[0] != 'B' || raw[1] != 'M') return "It is not a BMP file.";
    if (got < 26) return "The file ends inside its header.";
    const uint32_t fileSize = ReadU32(raw + 2);
    const uint32_t dataOffset = ReadU32(raw + 10);
    const uint32_t infoSize = ReadU32(raw + 14);
    // 40: the classic header; 52 and 56 add the masks; 108 and 124 (V4, V5)
    // add colour space data, which is not needed for the pixels.
    const bool core = infoSize == 12;
    if (!core && infoSize != 40 && infoSize != 52 && infoSize != 56 && infoSize != 108 &&
        infoSize != 124)
        return "Its header of " + Num(infoSize) + " bytes is of a kind that is not supported.";
    if (got < 14 + infoSize) return "The file ends inside its header.";
    if (fileSize > size)
        return "The file is shorter than its header says: " + Num(size) + " bytes instead of " +
               Num(fileSize) + ".";

    TBitmapInfo256 header{};
    auto& h = header.bmiHeader;
    const uint16_t planes = core ? ReadU16(raw + 22) : ReadU16(raw + 26);
    const uint8_t* table = raw + 14 + infoSize;
    size_t tableEnd = 14 + infoSize;
    if (core) {
        h.biWidth = ReadU16(raw + 18);
        h.biHeight = ReadU16(raw + 20);
        h.biBitCount = ReadU16(raw + 24);
        h.biCompression = BI_RGB;
    } else {
        std::memcpy(&h, raw + 14, 40);
    }
    h.biSize = 40;
    h.biPlanes = 1;
    const int bits = h.biBitCount;
    const uint32_t compression = h.biCompression;
    if (planes != 1) return "It has " + Num(planes) + " colour planes instead of 1.";
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return "It has " + Num(uint64_t(bits)) + " bits per pixel, which is not supported.";
    const bool matches =
        compression == BI_RGB || (compression == BI_BITFIELDS && (bits == 16 || bits == 32)) ||
        (compression == BI_RLE8 && bits == 8) || (compression == BI_RLE4 && bits == 4);
    if (!matches)
        return "Its compression (type " + Num(compression) + ") is not supported with " +
               Num(uint64_t(bits)) + " bits per pixel.";
    const int64_t rows = h.biHeight < 0 ? -int64_t(h.biHeight) : int64_t(h.biHeight);
    if (h.biWidth <= 0 || rows == 0)
        return "Its size of " + std::to_string(h.biWidth) + " x " + std::to_string(h.biHeight) +
               " pixels is not a picture.";
    if (h.biWidth > MaxDimension || rows > MaxDimension)
        return "At " + std::to_string(h.biWidth) + " x " + Num(uint64_t(rows)) +
               " pixels it is larger than the " + Num(MaxDimension) + " pixels a side allowed.";
    const uint64_t stride = (uint64_t(h.biWidth) * uint64_t(bits) + 31) / 32 * 4;
    const uint64_t imageBytes = stride * uint64_t(rows);
    if (imageBytes > MaxImageBytes)
        return "Its " + Num(imageBytes >> 20) + " MB of pixels are more than the " +
               Num(MaxImageBytes >> 20) + " MB allowed.";

    size_t colorBytes = 0;
    if (core) {
        if (bits <= 8) {
            const size_t entries = size_t(1) << bits;
            for (size_t i = 0; i < entries && tableEnd + 3 <= got; ++i) {
                if (dataOffset >= 26 && tableEnd + 3 > dataOffset) break;
                header.bmiColors[i] = {table[i * 3], table[i * 3 + 1], table[i * 3 + 2], 0};
                tableEnd += 3;
            }
        }
    } else {
        // Bit-field masks follow the classic header and lie inside the
        // longer ones, at the same place in the file.
        if (compression == BI_BITFIELDS) {
            if (got < 66) return "The file ends inside its bit-field masks.";
            std::memcpy(header.bmiColors, raw + 54, 12);
            if (infoSize == 40) tableEnd = 66;
            const uint32_t red = ReadU32(raw + 54), green = ReadU32(raw + 58),
                           blue = ReadU32(raw + 62);
            // All three 0: the default layout, as for BI_RGB.
            if ((red | green | blue) != 0 && !MasksFitTheLayout(red, green, blue, bits))
                return "Its bit-field masks are not supported.";
        }
        // Only the colour entries the file declares count, so stray indices
        // come out black.
        if (bits <= 8) {
            const size_t entries = h.biClrUsed ? std::min<uint32_t>(h.biClrUsed, 256) : 1u << bits;
            colorBytes = std::min<size_t>(entries * 4, got - tableEnd);
            if (dataOffset >= tableEnd)
                colorBytes = std::min<size_t>(colorBytes, dataOffset - tableEnd);
            std::memcpy(header.bmiColors, table, colorBytes);
            tableEnd += colorBytes;
        }
        h.biClrUsed = h.biClrImportant = 0;
    }

    if (dataOffset < 14 + infoSize)
        return "Its pixel data would start at byte " + Num(dataOffset) + ", inside its header.";
    if (dataOffset >= size)
        return "Its pixel data would start at byte " + Num(dataOffset) +
               ", beyond the end of the file (" + Num(size) + " bytes).";
    const bool rle = compression == BI_RLE8 || compression == BI_RLE4;
    // The last row may come without its padding.
    const uint64_t needed = imageBytes - stride + (uint64_t(h.biWidth) * uint64_t(bits) + 7) / 8;
    if (!rle && size - dataOffset < needed)
        return "Its pixels are cut short: " + Num(size - dataOffset) + " bytes of " + Num(needed) +
               ".";
    if (h.biSizeImage > size - dataOffset)
        return "Its header gives " + Num(h.biSizeImage) + " bytes of pixels, but the file has " +
               Num(size - dataOffset) + ".";

    if (view && !rle && size - dataOffset >= imageBytes) {
        if (!dib.AllocateFromHeader(header, const_cast<uint8_t*>(view + dataOffset)))
            return "There is not enough memory for it.";
        return {};
    }
    const uint8_t* before = dib.PixelData;
    if (!dib.AllocateFromHeader(header)) return "There is not enough memory for it.";
    // A buffer kept for the same geometry still holds the previous picture;
    // a new one is black already and is best left untouched.
    const bool reused = before && before == dib.PixelData;
    if (rle) {
        if (reused) std::memset(dib.PixelData, 0, imageBytes);
        // Data runs to the declared file size, where one is given.
        const uint64_t total = fileSize > dataOffset ? fileSize : size;
        std::vector<uint8_t> packed(size_t(total - dataOffset));
        packed.resize(src.Read(dataOffset, packed.data(), packed.size()));
        std::string why = dib.ExpandRle(packed.data(), packed.size(), compression == BI_RLE4);
        return why.empty() ? why : "Its compressed pixels are broken: " + why + ".";
    }
    const size_t want = size_t(std::min<uint64_t>(size - dataOffset, imageBytes));
    if (src.Read(dataOffset, dib.PixelData, want) != want) return "The file cannot be read.";
    std::memset(dib.PixelData + want, 0, imageBytes - want);
    return {};
}

// Sets the buffer from the outcome of a load: empty, with the reason, when it failed.
bool Finish(TFastDIB& dib, std::string why) {
    if (!why.empty()) dib.Release();
    dib.LoadError = std::move(why);
    return dib.LoadError.empty();
}

} // namespace

bool TFastDIB::LoadBitmapFile(const std::string& path) {
    FileSource src(path);
    if (!src.IsOpen())
        return Finish(*this, std::string("It cannot be opened: ") + std::strerror(errno) + ".");
    return Finish(*this, LoadInto(*this, src));
}

bool TFastDIB::LoadBitmapMemory(const uint8_t* data, size_t size) {
    MemorySource src(data, size);
    return Finish(*this, LoadInto(*this, src));
}

bool TFastDIB::ViewBitmapMemory(const uint8_t* data, size_t size) {
    MemorySource src(data, size);
    return Finish(*this, LoadInto(*this, src, data));
}

std::string TFastDIB::ExpandRle(const uint8_t* data, size_t size, bool fourBits) {
    if (Empty() || BitCount() != (fourBits ? 4 : 8)) return "they do not fit the picture";
    const int32_t width = Width();
    int32_t row = 0;
    int64_t col = 0;
    size_t pos = 0;
    // Runs longer than the row are cut at its edge.
    auto put = [&](uint8_t index) {
        if (col < width) PutIndex(row, int(col++), index);
    };
    while (row < RowCount) {
        if (pos + 1 >= size) return "they end before the picture does";
        const uint8_t count = data[pos];
        const uint8_t value = data[pos + 1];
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
            return {};
        case 2: // delta: skip columns and rows
            if (pos + 1 >= size) return "they end inside a move";
            col += data[pos];
            row += data[pos + 1];
            pos += 2;
            if (col > width || row > RowCount) return "a move leads outside the picture";
            break;
        default: { // absolute run of `value` pixels, padded to a word
            const size_t bytes = fourBits ? (size_t(value) + 1) / 2 : value;
            if (pos + bytes > size) return "they end inside a run of pixels";
            for (int k = 0; k < value; ++k) {
                const size_t at = pos + (fourBits ? size_t(k) / 2 : size_t(k));
                put(fourBits ? uint8_t(k % 2 == 0 ? data[at] >> 4 : data[at] & 15) : data[at]);
            }
            pos += bytes + (bytes & 1);
            break;
        }
        }
    }
    return {};
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

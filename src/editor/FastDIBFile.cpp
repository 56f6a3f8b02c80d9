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

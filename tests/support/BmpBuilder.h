// Builds BMP files byte by byte, valid or deliberately broken, for tests and
// fuzz seeds.
#pragma once

#include "FileContents.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct BmpBuilder {
    uint32_t infoSize = 40; // 12 (OS/2 core header), 40, or longer (zero-filled past 40)
    int32_t width = 1;
    int32_t height = 1;
    uint16_t bits = 24;
    uint16_t planes = 1;
    uint32_t compression = 0;
    uint32_t clrUsed = 0;
    std::vector<uint32_t> palette; // 0x00RRGGBB per entry
    // red, green, blue: after a 40-byte header, inside a longer one
    std::optional<std::vector<uint32_t>> masks;
    std::vector<uint8_t> pixels;        // exactly as stored in the file
    std::optional<uint32_t> dataOffset; // default: right after header and tables
    std::optional<uint32_t> fileSize;   // default: the real size
    std::optional<uint32_t> sizeImage;  // default: the size of pixels

    std::vector<uint8_t> Build() const;
    void WriteTo(const std::string& path) const;
};

// Row stride in bytes of an uncompressed BMP row.
inline size_t BmpStride(int width, int bits) {
    return size_t((width * bits + 31) / 32 * 4);
}

// Packs a picture into uncompressed BMP rows, padding included. value(x, y)
// gives the stored value of the pixel at column x, line y counted from the
// top: a palette index for 1, 4 and 8 bits, the word for 16 and 32 bits and
// 0x00RRGGBB for 24 bits. bottomUp stores the last line first, as a file with
// a positive height does.
template <class Fn>
std::vector<uint8_t> PackPixels(int width, int rows, int bits, bool bottomUp, Fn value) {
    const size_t stride = BmpStride(width, bits);
    std::vector<uint8_t> out(stride * size_t(rows), 0);
    for (int y = 0; y < rows; ++y) {
        uint8_t* p = out.data() + stride * size_t(bottomUp ? rows - 1 - y : y);
        for (int x = 0; x < width; ++x) {
            const uint32_t v = uint32_t(value(x, y));
            switch (bits) {
            case 1:
                p[x / 8] = uint8_t(p[x / 8] | (v & 1) << (7 - x % 8));
                break;
            case 4:
                p[x / 2] = uint8_t(p[x / 2] | (v & 15) << (x % 2 ? 0 : 4));
                break;
            case 8:
                p[x] = uint8_t(v);
                break;
            default:
                for (int k = 0; k < bits / 8; ++k) p[x * (bits / 8) + k] = uint8_t(v >> (8 * k));
                break;
            }
        }
    }
    return out;
}

// Little-endian access to the bytes of a file image.
uint16_t GetLe16(const std::vector<uint8_t>& bytes, size_t offset);
uint32_t GetLe32(const std::vector<uint8_t>& bytes, size_t offset);
void SetLe32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value);

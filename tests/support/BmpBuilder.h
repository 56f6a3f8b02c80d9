// Builds BMP files byte by byte, valid or deliberately broken, for tests and
// fuzz seeds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct BmpBuilder {
    uint32_t infoSize = 40; // 40 or 12 (OS/2 core header)
    int32_t width = 1;
    int32_t height = 1;
    uint16_t bits = 24;
    uint32_t compression = 0;
    uint32_t clrUsed = 0;
    std::vector<uint32_t> palette;          // 0x00RRGGBB per entry
    std::optional<std::vector<uint32_t>> masks; // red, green, blue (written after the header)
    std::vector<uint8_t> pixels;            // exactly as stored in the file
    std::optional<uint32_t> dataOffset;     // default: right after header and tables
    std::optional<uint32_t> fileSize;       // default: the real size

    std::vector<uint8_t> Build() const;
    void WriteTo(const std::string& path) const;
};

// Row stride in bytes of an uncompressed BMP row.
inline size_t BmpStride(int width, int bits) { return size_t((width * bits + 31) / 32 * 4); }

std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

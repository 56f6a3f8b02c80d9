#include "BmpBuilder.h"

namespace {
void Put16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
    Put16(v, x & 0xFFFF);
    Put16(v, x >> 16);
}
} // namespace

std::vector<uint8_t> BmpBuilder::Build() const {
    std::vector<uint8_t> info;
    if (infoSize == 12) {
        Put32(info, 12);
        Put16(info, uint32_t(width));
        Put16(info, uint32_t(height));
        Put16(info, planes);
        Put16(info, bits);
        for (uint32_t c : palette) {
            info.push_back(uint8_t(c));
            info.push_back(uint8_t(c >> 8));
            info.push_back(uint8_t(c >> 16));
        }
    } else {
        Put32(info, infoSize);
        Put32(info, uint32_t(width));
        Put32(info, uint32_t(height));
        Put16(info, planes);
        Put16(info, bits);
        Put32(info, compression);
        Put32(info, sizeImage.value_or(uint32_t(pixels.size())));
        Put32(info, 0);
        Put32(info, 0);
        Put32(info, clrUsed);
        Put32(info, 0);
        if (masks && infoSize > 40)
            for (uint32_t m : *masks) Put32(info, m);
        while (info.size() < infoSize) info.push_back(0);
        if (masks && infoSize == 40)
            for (uint32_t m : *masks) Put32(info, m);
        for (uint32_t c : palette) Put32(info, c);
    }
    uint32_t offset = dataOffset.value_or(uint32_t(14 + info.size()));
    uint32_t total = fileSize.value_or(uint32_t(14 + info.size() + pixels.size()));
    std::vector<uint8_t> out{'B', 'M'};
    Put32(out, total);
    Put32(out, 0);
    Put32(out, offset);
    out.insert(out.end(), info.begin(), info.end());
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

void BmpBuilder::WriteTo(const std::string& path) const {
    WriteFileBytes(path, Build());
}

uint16_t GetLe16(const std::vector<uint8_t>& bytes, size_t offset) {
    return uint16_t(bytes.at(offset) | bytes.at(offset + 1) << 8);
}

uint32_t GetLe32(const std::vector<uint8_t>& bytes, size_t offset) {
    return uint32_t(GetLe16(bytes, offset)) | uint32_t(GetLe16(bytes, offset + 2)) << 16;
}

void SetLe32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    for (int k = 0; k < 4; ++k) bytes.at(offset + size_t(k)) = uint8_t(value >> (8 * k));
}

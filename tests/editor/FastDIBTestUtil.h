// Helpers shared by the TFastDIB tests.
#pragma once

#include "FastDIB.h"

#include <cstdint>
#include <string>
#include <vector>

#include <QTemporaryDir>

namespace dibtest {

constexpr uint32_t Red = 0xFF0000;
constexpr uint32_t Green = 0x00FF00;
constexpr uint32_t Blue = 0x0000FF;
constexpr uint32_t White = 0xFFFFFF;
constexpr uint32_t Black = 0x000000;

// Colour of the pixel at column x, line y counted from the top of the picture.
inline uint32_t PixelAt(const TFastDIB& dib, int x, int y) { return dib.GetColor(dib.RowOf(y), x); }
inline void SetPixel(TFastDIB& dib, int x, int y, uint32_t color) {
    dib.PutColor(dib.RowOf(y), x, color);
}

// All pixel memory of a buffer, padding included, row 0 first.
inline std::vector<uint8_t> MemoryBytes(const TFastDIB& dib) {
    return {dib.PixelData, dib.PixelData + dib.Header.bmiHeader.biSizeImage};
}

// The picture as colours, top line first.
inline std::vector<uint32_t> Colors(const TFastDIB& dib) {
    std::vector<uint32_t> out;
    for (int y = 0; y < dib.RowCount; ++y)
        for (int x = 0; x < dib.Width(); ++x) out.push_back(PixelAt(dib, x, y));
    return out;
}

inline void SetPalette(TFastDIB& dib, const std::vector<uint32_t>& colors) {
    for (size_t i = 0; i < colors.size(); ++i) {
        dib.ColorTable[i].rgbBlue = uint8_t(colors[i]);
        dib.ColorTable[i].rgbGreen = uint8_t(colors[i] >> 8);
        dib.ColorTable[i].rgbRed = uint8_t(colors[i] >> 16);
        dib.ColorTable[i].rgbReserved = 0;
    }
}

// A scratch directory removed at the end of the test.
class ScratchDir {
public:
    bool Valid() const { return dir_.isValid(); }
    std::string File(const std::string& name) const {
        return dir_.filePath(QString::fromStdString(name)).toStdString();
    }
    std::string Path() const { return dir_.path().toStdString(); }

private:
    QTemporaryDir dir_;
};

} // namespace dibtest

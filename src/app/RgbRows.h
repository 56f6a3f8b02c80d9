// Reads the lines of a TFastDIB as 24-bit RGB (red first), one line at a
// time into the caller's memory, for every layout the buffer can hold.
#pragma once

#include "FastDIB.h"

#include <array>
#include <cstdint>
#include <vector>

class TRgbRows {
public:
    explicit TRgbRows(const TFastDIB& dib);
    // Line y counted from the top, Width() * 3 bytes.
    void Line(int y, uint8_t* rgb) const noexcept;
    int Width() const { return Dib.Width(); }
    int Lines() const { return Dib.RowCount; }
    // Lines a reader can take where they lie, in the buffer's own memory:
    // B, G, R bytes, with an unused fourth byte per pixel for BGRX.
    enum class Native { None, Bgr, Bgrx };
    Native NativeLayout() const;
    const uint8_t* NativeLine(int y) const noexcept { return Dib.RowTable[size_t(Dib.RowOf(y))]; }

private:
    enum class Layout { Bgrx, Bgr, Indexed, Word16, Other };

    const TFastDIB& Dib;
    Layout Kind = Layout::Other;
    std::array<std::array<uint8_t, 3>, 256> Palette{};
    std::vector<std::array<uint8_t, 3>> Words; // 16-bit pixel value -> RGB
};

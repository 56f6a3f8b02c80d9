// Loads arbitrary bytes as a BMP file and works on whatever comes out.
#include <cstddef>
#include <cstdint>

#include "FastDIB.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TFastDIB dib;
    if (!dib.LoadBitmapMemory(data, size) || dib.Empty()) return 0;
    // Huge pictures are accepted but only sampled, to keep each run short.
    bool small = int64_t(dib.Width()) * dib.RowCount <= (1 << 20);
    volatile uint32_t sink = 0;
    for (int i = 0; i < 16; ++i) sink = sink + dib.GetColor(i * 7 % dib.RowCount, i * 13 % dib.Width());

    TFastDIB view;
    if (view.Allocate(7, dib.Height() < 0 ? -5 : 5, dib.BitCount())) dib.ScaleInto(view);
    dib.SelectPen(bmp::PS_SOLID, 2, 0);
    dib.SelectBrush(bmp::BS_SOLID, 0, 0);
    dib.DrawRectangle(-3, 2, 9, -4);

    TFastDIB copy;
    if (copy.Allocate(9, 9, 24)) copy.CopyBlock(dib, -1, 0, 20, 20, 1, -2);
    if (small) {
        std::vector<uint8_t> saved = dib.SaveBitmapMemory();
        TFastDIB again;
        again.LoadBitmapMemory(saved.data(), saved.size());
        if (again.Width() != dib.Width() || again.RowCount != dib.RowCount) __builtin_trap();
    }
    return 0;
}

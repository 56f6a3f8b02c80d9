#include "EditHistory.h"

#include <algorithm>
#include <cstring>

namespace capture {

TPixelPatch::TPixelPatch(const TFastDIB& picture, TSelRect area) {
    const int bits = picture.BitCount();
    area.left = std::clamp(area.left, 0, picture.Width());
    area.right = std::clamp(area.right, area.left, picture.Width());
    area.top = std::clamp(area.top, 0, picture.RowCount);
    area.bottom = std::clamp(area.bottom, area.top, picture.RowCount);
    Top = area.top;
    Rows = area.Height();
    ByteStart = size_t(area.left) * size_t(bits) / 8;
    ByteCount = (size_t(area.right) * size_t(bits) + 7) / 8 - ByteStart;
    if (area.Width() <= 0) Rows = 0;
    Data.resize(size_t(Rows) * ByteCount);
    for (int i = 0; i < Rows; ++i)
        std::memcpy(Data.data() + size_t(i) * ByteCount,
                    picture.RowTable[size_t(picture.RowOf(Top + i))] + ByteStart, ByteCount);
}

void TPixelPatch::SwapWith(TFastDIB& picture) {
    for (int i = 0; i < Rows; ++i)
        std::swap_ranges(Data.data() + size_t(i) * ByteCount,
                         Data.data() + size_t(i + 1) * ByteCount,
                         picture.RowTable[size_t(picture.RowOf(Top + i))] + ByteStart);
}

void TEditHistory::Record(TEditStep step) {
    Steps.resize(Steps.size() - Undone);
    Undone = 0;
    Steps.push_back(std::move(step));
}

TEditStep* TEditHistory::TakeUndo() {
    if (!CanUndo()) return nullptr;
    ++Undone;
    return &Steps[Steps.size() - Undone];
}

TEditStep* TEditHistory::TakeRedo() {
    if (!CanRedo()) return nullptr;
    --Undone;
    return &Steps[Steps.size() - Undone - 1];
}

void TEditHistory::Clear() {
    Steps.clear();
    Undone = 0;
}

} // namespace capture

// Conversions between the raster buffer and QImage, for the screen grab and
// the clipboard.
#include "FastDIB.h"

#include <cstring>

QImage TFastDIB::ToImage() const {
    QImage view = MemoryImage();
    if (view.isNull()) return {};
    // mirrored() and copy() both detach from the buffer's memory.
    return Height() > 0 ? view.mirrored(false, true) : view.copy();
}

namespace {

QImage::Format FormatFor(int bits) {
    switch (bits) {
    case 32:
        return QImage::Format_RGB32;
    case 24:
        return QImage::Format_BGR888;
    case 16:
        return QImage::Format_RGB555;
    case 8:
        return QImage::Format_Indexed8;
    case 1:
        return QImage::Format_Mono;
    default:
        return QImage::Format_Invalid;
    }
}

} // namespace

bool TFastDIB::AssignImage(const QImage& image, int bits) {
    const QImage::Format format = FormatFor(bits);
    if (image.isNull() || format == QImage::Format_Invalid ||
        !Allocate(image.width(), image.height(), bits)) {
        Release();
        return false;
    }
    QImage source = image.format() == format ? image : image.convertToFormat(format);
    if (bits <= 8) {
        const QList<QRgb> colors = source.colorTable();
        for (int i = 0; i < (1 << bits); ++i) {
            QRgb c = i < colors.size() ? colors[i] : 0;
            ColorTable[i] = {uint8_t(qBlue(c)), uint8_t(qGreen(c)), uint8_t(qRed(c)), 0};
        }
    }
    const size_t rowBytes = size_t(Stride - RowPadding);
    for (int y = 0; y < RowCount; ++y) {
        uint8_t* row = RowTable[size_t(RowOf(y))];
        std::memcpy(row, source.constScanLine(y), rowBytes);
        std::memset(row + rowBytes, 0, size_t(RowPadding));
        // The fourth byte of a BI_RGB pixel is reserved and stored as 0.
        if (bits == 32)
            for (int x = 0; x < Width(); ++x) row[4 * x + 3] = 0;
    }
    return true;
}

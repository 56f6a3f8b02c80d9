// Conversions between the raster buffer and QImage, for the screen grab, the
// clipboard and painting on a window.
#include "FastDIB.h"

#include <cstring>

#include <QPainter>

using namespace bmp;

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

QImage TFastDIB::MemoryImage() const {
    if (Empty()) return {};
    const int w = Width(), h = RowCount;
    auto view = [&](QImage::Format f) { return QImage(PixelData, w, h, Stride, f); };
    switch (BitCount()) {
    case 32:
        if (IsBgrx()) return view(QImage::Format_RGB32);
        break;
    case 24:
        return view(QImage::Format_BGR888);
    case 16:
        if (BlueBits == 5 && GreenBits == 5 && RedBits == 5) return view(QImage::Format_RGB555);
        if (BlueBits == 5 && GreenBits == 6 && RedBits == 5) return view(QImage::Format_RGB16);
        break;
    case 8:
    case 1: {
        QImage img = view(BitCount() == 8 ? QImage::Format_Indexed8 : QImage::Format_Mono);
        QList<QRgb> colors(1 << BitCount());
        for (int i = 0; i < colors.size(); ++i)
            colors[i] = qRgb(ColorTable[i].rgbRed, ColorTable[i].rgbGreen, ColorTable[i].rgbBlue);
        img.setColorTable(colors);
        return img;
    }
    default:
        break;
    }
    // Layouts Qt has no format for are converted once.
    QImage img(w, h, QImage::Format_RGB32);
    for (int r = 0; r < h; ++r) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(r));
        for (int c = 0; c < w; ++c) line[c] = 0xFF000000u | GetColor(r, c);
    }
    return img;
}

void TFastDIB::PaintTo(QPainter& painter, int x, int y) const {
    QImage img = MemoryImage();
    if (img.isNull()) return;
    if (Height() < 0) {
        painter.drawImage(x, y, img);
        return;
    }
    // Bottom-up rows are drawn through a vertical flip instead of a copy.
    painter.save();
    painter.translate(x, y + RowCount);
    painter.scale(1, -1);
    painter.drawImage(0, 0, img);
    painter.restore();
}

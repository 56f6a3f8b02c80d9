#include "Annotation.h"

#include "FastDIB.h"

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QLineF>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace capture {

namespace {

QFont TextFont(int pixelSize) {
    QFont font;
    font.setPixelSize(std::max(1, pixelSize));
    font.setBold(true);
    return font;
}

QFont StepFont(int diameter) {
    return TextFont(std::max(1, diameter * 3 / 5));
}

// The arrow's head: its tip is the end point, its base lies back along the shaft.
struct TArrowHead {
    QPolygonF triangle;
    QPointF base;
};

TArrowHead ArrowHead(const TAnnotation& a) {
    const QPointF from = a.points.front(), to = a.points.back();
    QLineF shaft(from, to);
    const double length = std::min(shaft.length(), 3.0 * a.width + 10);
    const double half = 1.5 * a.width + 5;
    const QPointF unit = shaft.length() > 0 ? (to - from) / shaft.length() : QPointF(1, 0);
    const QPointF normal(-unit.y(), unit.x());
    const QPointF base = to - unit * length;
    return {QPolygonF({to, base + normal * half, base - normal * half}), base};
}

QRectF BoxOf(const TAnnotation& a) {
    return QRectF(QPointF(a.points.front()), QPointF(a.points.back())).normalized();
}

QRect TextRect(const TAnnotation& a) {
    const QFontMetrics metrics(TextFont(a.size));
    const QPoint at = a.points.front();
    QRect ink = metrics.boundingRect(a.text).translated(at.x(), at.y() + metrics.ascent());
    return ink.united(QRect(at, QSize(metrics.horizontalAdvance(a.text), metrics.height())));
}

QRectF StepCircle(const TAnnotation& a) {
    const double r = a.size / 2.0;
    return {QPointF(a.points.front()) - QPointF(r, r), QSizeF(a.size, a.size)};
}

// The geometry whose stroke is drawn, for the stroked kinds.
QPainterPath StrokePath(const TAnnotation& a) {
    QPainterPath path;
    if (a.points.empty()) return path;
    switch (a.kind) {
    case TShapeKind::skRectangle:
        path.addRect(BoxOf(a));
        break;
    case TShapeKind::skEllipse:
        path.addEllipse(BoxOf(a));
        break;
    default:
        path.moveTo(a.points.front());
        for (const QPoint& p : a.points) path.lineTo(p);
        break;
    }
    return path;
}

QPen StrokePen(QColor color, int width, Qt::PenCapStyle cap) {
    return QPen(color, std::max(1, width), Qt::SolidLine, cap, Qt::RoundJoin);
}

} // namespace

QPoint Constrained(TShapeKind kind, QPoint from, QPoint to) {
    const QPoint d = to - from;
    if (kind == TShapeKind::skRectangle || kind == TShapeKind::skEllipse) {
        const int side = std::max(std::abs(d.x()), std::abs(d.y()));
        return from + QPoint(d.x() < 0 ? -side : side, d.y() < 0 ? -side : side);
    }
    if (d.isNull()) return to;
    // The nearest of the eight directions, keeping the drag's length along it.
    const double step = std::numbers::pi / 4;
    const double angle = std::round(std::atan2(d.y(), d.x()) / step) * step;
    const double ux = std::cos(angle), uy = std::sin(angle);
    const double along = d.x() * ux + d.y() * uy;
    return from + QPoint(int(std::lround(along * ux)), int(std::lround(along * uy)));
}

QRgb HighlighterTint(QRgb color) {
    auto light = [](int c) { return 255 - (255 - c) / 2; };
    return qRgb(light(qRed(color)), light(qGreen(color)), light(qBlue(color)));
}

void PaintAnnotation(QPainter& painter, const TAnnotation& a) {
    if (a.points.empty()) return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    const QColor color = QColor::fromRgb(a.color);
    switch (a.kind) {
    case TShapeKind::skArrow: {
        const TArrowHead head = ArrowHead(a);
        painter.setPen(StrokePen(color, a.width, Qt::FlatCap));
        painter.drawLine(QPointF(a.points.front()), head.base);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawPolygon(head.triangle);
        break;
    }
    case TShapeKind::skRectangle:
    case TShapeKind::skEllipse:
    case TShapeKind::skLine:
    case TShapeKind::skPen:
        painter.setPen(StrokePen(color, a.width, Qt::RoundCap));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(StrokePath(a));
        break;
    case TShapeKind::skHighlighter:
        // One path, so crossings of the stroke are not darkened twice.
        painter.setCompositionMode(QPainter::CompositionMode_Multiply);
        painter.setPen(StrokePen(QColor::fromRgb(HighlighterTint(a.color)), a.width, Qt::FlatCap));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(StrokePath(a));
        break;
    case TShapeKind::skText: {
        if (a.text.isEmpty()) break;
        const QFont font = TextFont(a.size);
        painter.setFont(font);
        painter.setPen(color);
        const QPoint at = a.points.front();
        painter.drawText(QPointF(at.x(), at.y() + QFontMetrics(font).ascent()), a.text);
        break;
    }
    case TShapeKind::skStep: {
        const QRectF circle = StepCircle(a);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(circle);
        // The number in white, or black where the marker is light.
        const bool light = qGray(a.color) > 160;
        painter.setPen(light ? Qt::black : Qt::white);
        painter.setFont(StepFont(a.size));
        painter.drawText(circle, Qt::AlignCenter, QString::number(a.number));
        break;
    }
    }
    painter.restore();
}

QRect AnnotationBounds(const TAnnotation& a) {
    if (a.points.empty()) return {};
    const int pad = 2;
    switch (a.kind) {
    case TShapeKind::skText:
        return a.text.isEmpty() ? QRect() : TextRect(a).adjusted(-pad, -pad, pad, pad);
    case TShapeKind::skStep:
        return StepCircle(a).toAlignedRect().adjusted(-pad, -pad, pad, pad);
    case TShapeKind::skArrow: {
        const QRectF head = ArrowHead(a).triangle.boundingRect();
        const int w = a.width / 2 + pad;
        return QRectF(QPointF(a.points.front()), QPointF(a.points.back()))
            .normalized()
            .toAlignedRect()
            .adjusted(-w, -w, w, w)
            .united(head.toAlignedRect().adjusted(-pad, -pad, pad, pad));
    }
    default: {
        // A round cap or join reaches half the width beyond the path.
        const int w = a.width / 2 + pad;
        return StrokePath(a).boundingRect().toAlignedRect().adjusted(-w, -w, w, w);
    }
    }
}

bool HitsAnnotation(const TAnnotation& a, QPoint at, int slack) {
    if (a.points.empty()) return false;
    if (a.kind == TShapeKind::skText || a.kind == TShapeKind::skStep)
        return AnnotationBounds(a).adjusted(-slack, -slack, slack, slack).contains(at);
    if (a.kind == TShapeKind::skArrow && ArrowHead(a).triangle.containsPoint(at, Qt::OddEvenFill))
        return true;
    QPainterPathStroker stroker;
    stroker.setWidth(a.width + 2 * slack);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    return stroker.createStroke(StrokePath(a)).contains(QPointF(at));
}

QLine TextCaret(const TAnnotation& a) {
    const QFontMetrics metrics(TextFont(a.size));
    const QPoint at = a.points.empty() ? QPoint() : a.points.front();
    const int x = at.x() + metrics.horizontalAdvance(a.text) + 1;
    return {QPoint(x, at.y()), QPoint(x, at.y() + metrics.height() - 1)};
}

TAnnotation Moved(const TAnnotation& a, QPoint by) {
    TAnnotation moved = a;
    for (QPoint& p : moved.points) p += by;
    return moved;
}

namespace {

// A painter on img whose coordinates are picture pixels from origin, for
// rows in memory order (bottom-up when bottomUp).
void PaintAll(QImage& img, bool bottomUp, QPoint origin, const std::vector<TAnnotation>& objects) {
    QPainter painter(&img);
    if (bottomUp) {
        painter.translate(0, img.height());
        painter.scale(1, -1);
    }
    painter.translate(-origin);
    for (const TAnnotation& a : objects) PaintAnnotation(painter, a);
}

bool Paintable(const QImage& img, const TFastDIB& picture) {
    return !img.isNull() && img.constBits() == picture.PixelData &&
           img.format() != QImage::Format_Indexed8 && img.format() != QImage::Format_Mono;
}

} // namespace

void FlattenInto(TFastDIB& picture, const std::vector<TAnnotation>& objects, QPoint origin) {
    if (picture.Empty() || objects.empty()) return;
    QRect touched;
    for (const TAnnotation& a : objects) touched |= AnnotationBounds(a);
    touched = touched.translated(-origin) & QRect(0, 0, picture.Width(), picture.RowCount);
    if (touched.isEmpty()) return;
    const bool bottomUp = picture.Height() > 0;

    QImage shared = picture.MemoryImage();
    if (Paintable(shared, picture)) {
        PaintAll(shared, bottomUp, origin, objects);
        // QPainter sets the fourth byte; in a BI_RGB pixel it is reserved and kept 0.
        if (picture.BitCount() == 32)
            for (int y = touched.top(); y <= touched.bottom(); ++y) {
                uint8_t* row = picture.RowTable[size_t(picture.RowOf(y))];
                for (int x = touched.left(); x <= touched.right(); ++x) row[4 * x + 3] = 0;
            }
        return;
    }
    // Only the touched part is painted in true colour, in the picture's row
    // order, and only pixels whose colour changed are written back, so the
    // rest keeps its exact palette index or bit pattern.
    const int w = touched.width(), h = touched.height();
    QImage region(w, h, QImage::Format_RGB32);
    auto lineOf = [&](int y) { return bottomUp ? h - 1 - (y - touched.top()) : y - touched.top(); };
    for (int y = touched.top(); y <= touched.bottom(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(region.scanLine(lineOf(y)));
        const int row = picture.RowOf(y);
        for (int x = 0; x < w; ++x)
            line[x] = 0xFF000000u | picture.GetColor(row, touched.left() + x);
    }
    const QImage before = region.copy();
    PaintAll(region, bottomUp, origin + touched.topLeft(), objects);
    for (int y = touched.top(); y <= touched.bottom(); ++y) {
        const auto* now = reinterpret_cast<const QRgb*>(region.constScanLine(lineOf(y)));
        const auto* was = reinterpret_cast<const QRgb*>(before.constScanLine(lineOf(y)));
        const int row = picture.RowOf(y);
        for (int x = 0; x < w; ++x)
            if (now[x] != was[x]) picture.PutColor(row, touched.left() + x, now[x] & 0xFFFFFF);
    }
}

} // namespace capture

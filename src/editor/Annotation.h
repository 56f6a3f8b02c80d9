// Objects drawn over a capture (arrows, boxes, text, numbered steps...) and
// the one painter that renders them, for the editor's view and for burning
// them into the picture alike. Coordinates are picture pixels, top-down.
#pragma once

#include <QColor>
#include <QLine>
#include <QPoint>
#include <QRect>
#include <QString>

#include <vector>

class QPainter;
class TFastDIB;

namespace capture {

enum class TShapeKind {
    skArrow,
    skRectangle,
    skEllipse,
    skLine,
    skPen,
    skHighlighter,
    skText,
    skStep,
};

struct TAnnotation {
    TShapeKind kind = TShapeKind::skLine;
    // Two-point shapes: start and end. Pen and highlighter: the whole path.
    // Text: the top-left corner. Step: the centre.
    std::vector<QPoint> points;
    QRgb color = qRgb(255, 0, 0);
    // Line width; for a highlighter the width of its stroke.
    int width = 2;
    // Text: the font's pixel size. Step: the circle's diameter.
    int size = 0;
    QString text;
    int number = 0; // steps only
    bool operator==(const TAnnotation&) const = default;
};

// The end point of a drag from `from` to `to` with Shift held: lines keep to
// 45° steps, boxes and ellipses become square / round.
QPoint Constrained(TShapeKind kind, QPoint from, QPoint to);

// How a highlighter of this colour tints what is under it: a light shade of
// the colour, multiplied with the picture so dark text stays dark.
QRgb HighlighterTint(QRgb color);

// Paints one object; the painter's transform maps picture pixels to its device.
void PaintAnnotation(QPainter& painter, const TAnnotation& object);
// The pixels an object can touch (antialiasing included); empty for an
// object that draws nothing, such as a text without characters.
QRect AnnotationBounds(const TAnnotation& object);
// Whether a press at `at` picks the object: on its stroke, within `slack`
// pixels, or anywhere on a text or step marker.
bool HitsAnnotation(const TAnnotation& object, QPoint at, int slack);
// Where the caret of a text object being typed stands: after its last character.
QLine TextCaret(const TAnnotation& text);
TAnnotation Moved(const TAnnotation& object, QPoint by);

// Burns the objects into the picture, placed as if the picture's top-left
// pixel were `origin` (a crop's corner). Any depth: pictures QPainter cannot
// draw on directly are painted in true colour and written back pixel by pixel.
void FlattenInto(TFastDIB& picture, const std::vector<TAnnotation>& objects,
                 QPoint origin = {0, 0});

} // namespace capture

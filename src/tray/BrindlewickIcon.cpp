#include "BrindlewickIcon.h"

#include <QPixmap>

namespace {

// Sixteen colours at most, as the icon was designed.
const char* const IconXpm[] = {
    "16 16 7 1",        ". c None",         "k c #101820",      "l c #4C8EDC",
    "b c #1E50A8",      "y c #FFC81E",      "g c #8C8C96",      "d c #50505A",
    "................", ".kkkkkkkkkkkkkk.", ".klllllyylllllk.", ".kllllyyyyllllk.",
    ".kbbbyyyyyybbbk.", ".kbbyyyyyyyybbk.", ".kbbbbbyybbbbbk.", ".kbbbbbyybbbbbk.",
    ".kbbbbbyybbbbbk.", ".kbbbbbyybbbbbk.", ".kbbbbbbbbbbbbk.", ".kkkkkkkkkkkkkk.",
    "......gggg......", "......gggg......", "....dddddddd....", "................",
};

} // namespace

QImage BrindlewickIconImage() {
    return QImage(IconXpm).convertToFormat(QImage::Format_ARGB32);
}

QIcon BrindlewickIcon() {
    return QIcon(QPixmap::fromImage(BrindlewickIconImage()));
}

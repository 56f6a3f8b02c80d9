// The program's 16 x 16 icon: a screen with an upward arrow, a picture of the
// screen going onto the web. Window icon and notification-area icon.
#pragma once

#include <QIcon>
#include <QImage>

QImage BrindlewickIconImage();
QIcon BrindlewickIcon();

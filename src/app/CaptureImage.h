// How captured pictures become working capture files.
#pragma once

#include <QImage>

class TFastDIB;

// Bits per pixel of a capture from a screen of the given depth: what a
// bitmap compatible with that screen holds.
int CaptureDepth(int screenDepth);
// Bits per pixel that keep a clipboard picture's own depth.
int ClipboardDepth(const QImage& picture);
// Writes the working capture file; raises an error when it cannot be
// written, leaving no partial file.
void WriteWorkingFile(const TFastDIB& bitmap);

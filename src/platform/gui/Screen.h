// The primary screen and the clipboard's bitmap. Pictures cross this
// boundary as QImages in the screen's or the clipboard's own format; turning
// them into BMP layouts is the raster buffer's job.
#pragma once

#include <QImage>

#include <string>

namespace platform {

bool HasPrimaryScreen();
// Pixel size and colour depth (bits per pixel) of the primary screen.
QSize PrimaryScreenSize();
int PrimaryScreenDepth();
// The whole primary screen as it is shown now; a null image on failure.
QImage GrabPrimaryScreen();

bool ClipboardHasBitmap();
// A null image when the clipboard holds no picture.
QImage ClipboardBitmap();
// Empties the clipboard and offers the picture on it.
void SetClipboardBitmap(const QImage& picture);
// Offers text on the clipboard. Qt hands it to a running clipboard manager
// when the program ends, so it outlives the program there.
void SetClipboardText(const std::string& text);

} // namespace platform

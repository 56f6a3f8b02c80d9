// The screens and the clipboard's bitmap. Pictures cross this
// boundary as QImages in the screen's or the clipboard's own format; turning
// them into BMP layouts is the raster buffer's job.
#pragma once

#include <QImage>

#include <string>
#include <vector>

namespace platform {

bool HasPrimaryScreen();
// Pixel size and colour depth (bits per pixel) of the primary screen.
QSize PrimaryScreenSize();
int PrimaryScreenDepth();
// The whole primary screen as it is shown now; a null image on failure.
QImage GrabPrimaryScreen();

// One screen's picture and where the desktop places it, in device pixels.
struct TScreenShot {
    QRect DeviceRect;
    QImage Picture;
};
// Every screen of the desktop, or only the one under the mouse pointer (the
// primary one when the pointer is on none). A screen that gives no picture
// is left out.
std::vector<TScreenShot> GrabAllScreens();
std::vector<TScreenShot> GrabScreenUnderMouse();
// The shots in one picture as the desktop places them, its top left corner
// at the top left of the bounding rectangle (*origin gets that point);
// what no screen covers is black. A null image when no shot has a picture.
QImage ComposeScreens(const std::vector<TScreenShot>& shots, QPoint* origin = nullptr);

bool ClipboardHasBitmap();
// A null image when the clipboard holds no picture.
QImage ClipboardBitmap();
// Empties the clipboard and offers the picture on it.
void SetClipboardBitmap(const QImage& picture);
// Offers text on the clipboard. Qt hands it to a running clipboard manager
// when the program ends, so it outlives the program there.
void SetClipboardText(const std::string& text);

} // namespace platform

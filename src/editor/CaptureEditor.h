// The capture editor's picture, its selection and the changes made to it,
// apart from any window: the window feeds it mouse positions in its own
// coordinates and paints the view it builds.
#pragma once

#include "CaptureGeometry.h"
#include "FastDIB.h"

#include <memory>
#include <string>

namespace capture {

enum class TViewResult {
    vrShown,            // the view holds the picture scaled to the window
    vrNoPicture,        // nothing loaded
    vrNoRoom,           // the window is too small for any view
    vrUnsupportedDepth, // a depth the view cannot show (1 and 4 bits)
};

enum class TSaveResult { srNothing, srSaved, srFailed };

class TCaptureEditor {
public:
    TCaptureEditor();

    // Replaces the picture by the BMP file at path (none for an empty or
    // unreadable path) and starts with no selection and no changes. False
    // when a file was named and could not be read; LoadError says why.
    bool Load(const std::string& path);
    const std::string& LoadError() const { return ImageBuffer->LoadError; }
    bool HasPicture() const { return !ImageBuffer->Empty(); }
    TExtent PictureSize() const;

    // Brings the view up to date for a window of the given outer size; cheap
    // when neither the window nor what is shown has changed.
    TViewResult BuildView(TExtent window);
    TExtent ViewSize() const { return ViewExtent; }
    // Whether the view keeps the picture's proportions rather than filling
    // the window (the picture is too big for a window on the screen).
    bool KeepProportions() const { return FKeepProportions; }
    void SetKeepProportions(bool keep);

    TSelPoint Map(int32_t mouseX, int32_t mouseY) const;

    // Starts a selection; false (nothing started) once the picture has been
    // shrunk, because cropping is then refused.
    bool MouseDown(int32_t mouseX, int32_t mouseY);
    void MouseMove(int32_t mouseX, int32_t mouseY);
    void MouseUp(int32_t mouseX, int32_t mouseY);

    // Shrinks the whole picture; false when there is none or it would vanish.
    bool ResizeImage(double factor);
    // Blacks out the finished selection; false when there is none.
    bool FillBlack();

    // Whether closing would save anything: a non-empty crop, a shrink or a fill.
    bool HasChanges() const;
    // Writes the picture (after a shrink or fill) or the selection (a crop
    // alone) to path, replacing the file only once it is complete.
    TSaveResult Save(const std::string& path) const;
    void ClearChanges();

    // The selection as it would be cropped or filled.
    TSelRect Selection() const { return OrderedSelection(SelStart, SelEnd, PictureSize()); }

    const TFastDIB& Image() const { return *ImageBuffer; }
    const TFastDIB& View() const { return ViewBuffer; }

    TSelPoint SelStart, SelEnd;
    bool Selecting = false;     // the frame is drawn
    bool SelectionDone = false; // the mouse came up; SelEnd stays put
    bool Resized = false;
    bool Filled = false;

private:
    std::unique_ptr<TFastDIB> ImageBuffer;
    TFastDIB ViewBuffer;
    // The picture with the frame drawn on it, kept between redraws so that
    // dragging over a big capture does not allocate on every move.
    TFastDIB OverlayCopy;
    TExtent ViewExtent;
    TExtent BuiltFor;
    TViewResult LastView = TViewResult::vrNoPicture;
    bool ViewDirty = true;
    bool FKeepProportions = false;
};

// Allocates dest at width x height in the picture's depth, row direction,
// colour table and channel layout, so raw pixels copied over keep their colours.
bool AllocateLike(TFastDIB& dest, const TFastDIB& picture, int32_t width, int32_t height);
// Converts a paletted picture (1, 4 or 8 bits) into a 32-bit one of the same
// size and row direction.
void ExpandToTrueColor(const TFastDIB& picture, TFastDIB& dest);

} // namespace capture

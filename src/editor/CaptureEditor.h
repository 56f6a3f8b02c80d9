// The capture editor's picture, its selection and the changes made to it,
// apart from any window: the window feeds it mouse positions in its own
// coordinates and paints the view it builds.
#pragma once

#include "Annotation.h"
#include "CaptureGeometry.h"
#include "EditHistory.h"
#include "FastDIB.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace capture {

enum class TViewResult {
    vrShown,            // the view holds the picture scaled to the window
    vrNoPicture,        // nothing loaded
    vrNoRoom,           // the window is too small for any view
    vrUnsupportedDepth, // a depth the view cannot show (1 and 4 bits)
};

enum class TSaveResult { srNothing, srSaved, srFailed };

// What a press on the picture does: the designed crop selection (which also
// picks and moves drawn objects), or drawing one kind of object.
enum class TTool {
    tkSelect,
    tkArrow,
    tkRectangle,
    tkEllipse,
    tkLine,
    tkPen,
    tkHighlighter,
    tkText,
    tkStep,
};

// What the mouse and keyboard are doing to drawn objects.
enum class TDrawState {
    dsIdle,
    dsDrawing, // a new object follows the mouse
    dsMoving,  // the picked object follows the mouse
    dsTyping,  // a new text object takes the keys
};

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

    // With the select tool: picks the object under the mouse to move it, or
    // starts a selection; false (nothing started) when that selection is
    // refused because the picture has been shrunk. With a drawing tool:
    // starts a new object. Shift keeps lines to 45° and boxes square.
    bool MouseDown(int32_t mouseX, int32_t mouseY);
    void MouseMove(int32_t mouseX, int32_t mouseY, bool shift = false);
    void MouseUp(int32_t mouseX, int32_t mouseY, bool shift = false);

    TTool Tool() const { return FTool; }
    // Finishes any text being typed first.
    void SetTool(TTool tool);
    // Style of new objects; widths and sizes are in window pixels, so an
    // object looks the same however much the view shrinks the picture.
    QRgb Color = qRgb(255, 0, 0);
    int LineWidth = 4;
    int TextSize = 24;

    TDrawState DrawState() const { return FDrawState; }
    // Keys for the text being typed; false when no text is being typed.
    bool TypeText(const QString& text);
    bool TypeBackspace();
    // Keeps the typed text as an object (an empty one is dropped).
    bool FinishText();
    bool CancelText();

    const std::vector<TAnnotation>& Objects() const { return FObjects; }
    std::optional<size_t> SelectedObject() const { return Selected; }
    // The object being drawn or typed, not yet one of Objects.
    const std::optional<TAnnotation>& LiveObject() const { return Live; }
    bool DeleteSelected();

    // Every change since the picture was loaded can be undone and redone:
    // objects, selections, black-outs and shrinks.
    bool Undo();
    bool Redo();
    bool CanUndo() const { return History.CanUndo(); }
    bool CanRedo() const { return History.CanRedo(); }

    // Shrinks the whole picture; false when there is none or it would vanish.
    bool ResizeImage(double factor);
    // Blacks out the finished selection; false when there is none.
    bool FillBlack();

    // Whether closing would save anything: a non-empty crop, a shrink, a fill
    // or a drawn object.
    bool HasChanges() const;
    // Writes the picture (after a shrink or fill) or the selection (a crop
    // alone) with the drawn objects burnt in to path, replacing the file
    // only once it is complete.
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
    TSelState State() const;
    void SetState(const TSelState& state);
    TSelRect CropOf(const TSelState& state) const;
    void SetDrawState(TDrawState state);
    // The picture or the objects changed: the view's drawn picture is stale.
    void ObjectsChanged();
    // Picture pixels per window pixel.
    double ViewScale() const;
    int Scaled(int windowPixels) const;
    std::optional<size_t> ObjectAt(QPoint at) const;
    int NextStepNumber() const;
    void AddObject(const TAnnotation& object);
    // Moves the editor to one side of a step: the earlier one for undo.
    void ApplyStep(TEditStep& step, bool undo);
    // Draws what exists only on screen: the object being drawn, the text
    // caret and the frame round the picked object.
    void DrawLiveParts(TFastDIB& overlay) const;

    std::unique_ptr<TFastDIB> ImageBuffer;
    TFastDIB ViewBuffer;
    // The picture with the frame drawn on it, kept between redraws so that
    // dragging over a big capture does not allocate on every move.
    TFastDIB OverlayCopy;
    // The picture (in true colour when paletted) with the objects that stay
    // put drawn on it, rebuilt only when they change.
    TFastDIB Composite;
    bool CompositeDirty = true;
    TExtent ViewExtent;
    TExtent BuiltFor;
    TViewResult LastView = TViewResult::vrNoPicture;
    bool ViewDirty = true;
    bool FKeepProportions = false;

    TTool FTool = TTool::tkSelect;
    TDrawState FDrawState = TDrawState::dsIdle;
    std::vector<TAnnotation> FObjects;
    std::optional<TAnnotation> Live;
    std::optional<size_t> Selected;
    // Where a move started, and the object as it was then.
    QPoint MoveFrom;
    TAnnotation MoveStart;
    // The selection and flags when the mouse went down for a selection.
    TSelState PressState;
    TEditHistory History;
};

// Allocates dest at width x height in the picture's depth, row direction,
// colour table and channel layout, so raw pixels copied over keep their colours.
bool AllocateLike(TFastDIB& dest, const TFastDIB& picture, int32_t width, int32_t height);
// Converts a paletted picture (1, 4 or 8 bits) into a 32-bit one of the same
// size and row direction.
void ExpandToTrueColor(const TFastDIB& picture, TFastDIB& dest);

} // namespace capture

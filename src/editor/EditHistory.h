// What the capture editor keeps to undo and redo its edits: each step holds
// only what it changed (the selection and flags, one object, the pixels under
// a black-out, the picture before a shrink), swapped in and out.
#pragma once

#include "Annotation.h"
#include "CaptureGeometry.h"
#include "FastDIB.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace capture {

// The editor's selection and change flags.
struct TSelState {
    TSelPoint SelStart, SelEnd;
    bool Selecting = false;
    bool SelectionDone = false;
    bool Resized = false;
    bool Filled = false;
    bool operator==(const TSelState&) const = default;
};

// The raw bytes of a band of picture rows, exact for every depth.
class TPixelPatch {
public:
    // Remembers the rows [top, bottom) and columns [left, right) of picture.
    TPixelPatch(const TFastDIB& picture, TSelRect area);
    // Exchanges the remembered bytes with the picture's: applied twice, the
    // picture is as before.
    void SwapWith(TFastDIB& picture);
    size_t Bytes() const { return Data.size(); }

private:
    int32_t Top = 0, Rows = 0;
    size_t ByteStart = 0, ByteCount = 0;
    std::vector<uint8_t> Data;
};

struct TEditStep {
    TSelState Before, After;
    // One object added (no ObjectBefore), deleted (no ObjectAfter) or changed.
    size_t ObjectIndex = 0;
    std::optional<TAnnotation> ObjectBefore, ObjectAfter;
    // The pixels of the other side of the step.
    std::optional<TPixelPatch> Pixels;
    // A shrink: the picture and objects of the other side of the step.
    std::unique_ptr<TFastDIB> OtherPicture;
    std::optional<std::vector<TAnnotation>> OtherObjects;
};

class TEditHistory {
public:
    void Record(TEditStep step);
    // The step to undo / redo, moved to the other list; null when there is none.
    TEditStep* TakeUndo();
    TEditStep* TakeRedo();
    bool CanUndo() const { return Undone < Steps.size(); }
    bool CanRedo() const { return Undone > 0; }
    void Clear();
    size_t Count() const { return Steps.size(); }

private:
    std::vector<TEditStep> Steps;
    size_t Undone = 0; // steps at the end of Steps that have been undone
};

} // namespace capture

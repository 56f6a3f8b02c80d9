#include "CaptureEditor.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace capture {

namespace {

constexpr uint32_t FrameRed = bmp::RGB(255, 0, 0);
constexpr uint32_t Black = bmp::RGB(0, 0, 0);
constexpr int FramePenWidth = 2;
constexpr uint32_t PickedFrame = bmp::RGB(0, 120, 215);
// How near (in window pixels) a press must come to an object's stroke to pick it.
constexpr int PickSlack = 4;

// Sizes in window pixels that follow the chosen line width.
int StepDiameter(int lineWidth) {
    return 2 * lineWidth + 22;
}
int HighlighterWidth(int lineWidth) {
    return 3 * lineWidth + 10;
}

bool Paletted(const TFastDIB& dib) {
    return dib.BitCount() <= 8;
}

int32_t SameDirection(const TFastDIB& picture, int32_t rows) {
    return picture.Height() < 0 ? -rows : rows;
}

// Writes a true-colour picture into a paletted one of the same size, each
// pixel taking its nearest palette entry.
void ReduceToPalette(const TFastDIB& trueColor, TFastDIB& dest) {
    std::unordered_map<uint32_t, uint8_t> nearest;
    for (int row = 0; row < dest.RowCount; ++row) {
        for (int x = 0; x < dest.Width(); ++x) {
            uint32_t color = trueColor.GetColor(row, x);
            auto [it, added] = nearest.try_emplace(color, 0);
            if (added) it->second = dest.NearestIndex(color);
            dest.PutIndex(row, x, it->second);
        }
    }
}

} // namespace

bool AllocateLike(TFastDIB& dest, const TFastDIB& picture, int32_t width, int32_t height) {
    std::memcpy(dest.ColorTable, picture.ColorTable, sizeof(picture.Header.bmiColors));
    int32_t rows = SameDirection(picture, height);
    if (picture.Compression() == bmp::BI_BITFIELDS)
        return dest.AllocateEx(nullptr, width, rows, picture.BitCount(), picture.RedBits,
                               picture.GreenBits, picture.BlueBits);
    return dest.Allocate(width, rows, picture.BitCount());
}

void ExpandToTrueColor(const TFastDIB& picture, TFastDIB& dest) {
    if (!Paletted(picture) || !dest.Allocate(picture.Width(), picture.Height(), 32)) return;
    uint32_t colors[256];
    for (int i = 0; i < 256; ++i) {
        const TRGBQuad& e = picture.ColorTable[i];
        colors[i] = uint32_t(e.rgbRed) << 16 | uint32_t(e.rgbGreen) << 8 | e.rgbBlue;
    }
    const bool bytes = picture.BitCount() == 8;
    for (int row = 0; row < picture.RowCount; ++row) {
        const uint8_t* from = picture.RowTable[size_t(row)];
        uint8_t* to = dest.RowTable[size_t(row)];
        for (int x = 0; x < picture.Width(); ++x) {
            uint32_t color = colors[bytes ? from[x] : picture.GetIndex(row, x)];
            std::memcpy(to + 4 * x, &color, 4);
        }
    }
}

TCaptureEditor::TCaptureEditor() : ImageBuffer(std::make_unique<TFastDIB>()) {}

bool TCaptureEditor::Load(const std::string& path) {
    bool loaded = true;
    if (path.empty()) {
        ImageBuffer->Release();
        ImageBuffer->LoadError.clear();
    } else {
        loaded = ImageBuffer->LoadBitmapFile(path);
    }
    Selecting = SelectionDone = false;
    ClearChanges();
    ViewDirty = true;
    return loaded;
}

TExtent TCaptureEditor::PictureSize() const {
    return {ImageBuffer->Width(), ImageBuffer->RowCount};
}

TViewResult TCaptureEditor::BuildView(TExtent window) {
    if (!ViewDirty && window == BuiltFor) return LastView;
    BuiltFor = window;
    ViewDirty = false;
    ViewExtent = !HasPicture()      ? TExtent{}
                 : FKeepProportions ? FitProportionally(PictureSize(), ViewSizeFor(window))
                                    : ViewSizeFor(window);
    const TFastDIB& picture = *ImageBuffer;
    const int bits = picture.BitCount();
    if (!HasPicture() || ViewExtent.Empty()) {
        ViewBuffer.Release();
        return LastView = HasPicture() ? TViewResult::vrNoRoom : TViewResult::vrNoPicture;
    }
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32) {
        ViewBuffer.Release();
        return LastView = TViewResult::vrUnsupportedDepth;
    }

    // A palette index cannot be blended as a number, so paletted pictures are
    // scaled in true colour; the frame then also stays pure red. The objects
    // are drawn in picture pixels by the painter that later burns them in, so
    // the view shows what will be saved; those that stay put are kept drawn
    // between redraws, so a drag costs the same however many there are.
    const TFastDIB* source = &picture;
    if (Paletted(picture) || !FObjects.empty()) {
        if (CompositeDirty) {
            if (Paletted(picture)) {
                ExpandToTrueColor(picture, Composite);
            } else {
                AllocateLike(Composite, picture, picture.Width(), picture.RowCount);
                Composite.CopyBlock(picture, 0, 0, picture.Width(), picture.RowCount, 0, 0);
            }
            std::vector<TAnnotation> still = FObjects;
            if (FDrawState == TDrawState::dsMoving)
                still.erase(still.begin() + std::ptrdiff_t(*Selected));
            FlattenInto(Composite, still);
            CompositeDirty = false;
        }
        source = &Composite;
    }
    if (Selecting || Live || Selected) {
        AllocateLike(OverlayCopy, *source, source->Width(), source->RowCount);
        OverlayCopy.CopyBlock(*source, 0, 0, source->Width(), source->RowCount, 0, 0);
        source = &OverlayCopy;
        DrawLiveParts(OverlayCopy);
    }
    if (Selecting) {
        OverlayCopy.SelectPen(bmp::PS_SOLID, FramePenWidth, FrameRed);
        OverlayCopy.SelectBrush(bmp::BS_NULL, 0, 0);
        OverlayCopy.SetBackColor(0);
        OverlayCopy.DrawRectangle(SelStart.x, SelStart.y, SelEnd.x, SelEnd.y);
    }

    bool allocated =
        Paletted(picture)
            ? ViewBuffer.Allocate(ViewExtent.width, SameDirection(picture, ViewExtent.height), 32)
            : AllocateLike(ViewBuffer, picture, ViewExtent.width, ViewExtent.height);
    if (!allocated) return LastView = TViewResult::vrNoRoom;
    source->ScaleInto(ViewBuffer);
    return LastView = TViewResult::vrShown;
}

void TCaptureEditor::SetKeepProportions(bool keep) {
    if (keep == FKeepProportions) return;
    FKeepProportions = keep;
    ViewDirty = true;
}

TSelPoint TCaptureEditor::Map(int32_t mouseX, int32_t mouseY) const {
    return MapToPicture(mouseX, mouseY, ViewExtent, PictureSize());
}

TSelState TCaptureEditor::State() const {
    return {SelStart, SelEnd, Selecting, SelectionDone, Resized, Filled};
}

void TCaptureEditor::SetState(const TSelState& state) {
    SelStart = state.SelStart;
    SelEnd = state.SelEnd;
    Selecting = state.Selecting;
    SelectionDone = state.SelectionDone;
    Resized = state.Resized;
    Filled = state.Filled;
    ViewDirty = true;
}

TSelRect TCaptureEditor::CropOf(const TSelState& state) const {
    if (!state.SelectionDone) return {};
    TSelRect r = OrderedSelection(state.SelStart, state.SelEnd, PictureSize());
    return r.Empty() ? TSelRect{} : r;
}

void TCaptureEditor::SetDrawState(TDrawState state) {
    FDrawState = state;
    ViewDirty = true;
}

void TCaptureEditor::ObjectsChanged() {
    CompositeDirty = ViewDirty = true;
}

double TCaptureEditor::ViewScale() const {
    if (ViewExtent.Empty() || !HasPicture()) return 1.0;
    return double(PictureSize().width) / ViewExtent.width;
}

int TCaptureEditor::Scaled(int windowPixels) const {
    return std::max(1, RoundHalfEven(windowPixels * ViewScale()));
}

std::optional<size_t> TCaptureEditor::ObjectAt(QPoint at) const {
    // The topmost object, the one drawn last, wins.
    for (size_t i = FObjects.size(); i-- > 0;)
        if (HitsAnnotation(FObjects[i], at, Scaled(PickSlack))) return i;
    return std::nullopt;
}

int TCaptureEditor::NextStepNumber() const {
    int last = 0;
    for (const TAnnotation& a : FObjects)
        if (a.kind == TShapeKind::skStep) last = std::max(last, a.number);
    return last + 1;
}

void TCaptureEditor::AddObject(const TAnnotation& object) {
    TEditStep step;
    step.Before = step.After = State();
    step.ObjectIndex = FObjects.size();
    step.ObjectAfter = object;
    FObjects.push_back(object);
    History.Record(std::move(step));
    ObjectsChanged();
}

void TCaptureEditor::SetTool(TTool tool) {
    FinishText();
    if (FDrawState != TDrawState::dsIdle) return; // not in the middle of a drag
    FTool = tool;
    if (Selected) {
        Selected.reset();
        ViewDirty = true;
    }
}

bool TCaptureEditor::MouseDown(int32_t mouseX, int32_t mouseY) {
    FinishText();
    const TSelPoint p = Map(mouseX, mouseY);
    const QPoint at(p.x, p.y);
    Selected.reset();
    ViewDirty = true;
    TAnnotation object;
    object.color = Color;
    object.width = Scaled(LineWidth);
    switch (FTool) {
    case TTool::tkSelect:
        if ((Selected = ObjectAt(at))) {
            MoveFrom = at;
            MoveStart = FObjects[*Selected];
            SetDrawState(TDrawState::dsMoving);
            ObjectsChanged();
            return true;
        }
        if (Resized) return false;
        PressState = State();
        Selecting = true;
        SelectionDone = false;
        SelStart = p;
        SelEnd = SelStart;
        return true;
    case TTool::tkText:
        object.kind = TShapeKind::skText;
        object.points = {at};
        object.size = Scaled(TextSize);
        Live = object;
        SetDrawState(TDrawState::dsTyping);
        return true;
    case TTool::tkStep:
        object.kind = TShapeKind::skStep;
        object.points = {at};
        object.size = Scaled(StepDiameter(LineWidth));
        object.number = NextStepNumber();
        AddObject(object);
        return true;
    case TTool::tkPen:
    case TTool::tkHighlighter:
        object.kind = FTool == TTool::tkPen ? TShapeKind::skPen : TShapeKind::skHighlighter;
        if (FTool == TTool::tkHighlighter) object.width = Scaled(HighlighterWidth(LineWidth));
        object.points = {at};
        break;
    case TTool::tkArrow:
    case TTool::tkRectangle:
    case TTool::tkEllipse:
    case TTool::tkLine: {
        const TShapeKind kinds[] = {TShapeKind::skArrow, TShapeKind::skRectangle,
                                    TShapeKind::skEllipse, TShapeKind::skLine};
        object.kind = kinds[int(FTool) - int(TTool::tkArrow)];
        object.points = {at, at};
        break;
    }
    }
    Live = object;
    SetDrawState(TDrawState::dsDrawing);
    return true;
}

void TCaptureEditor::MouseMove(int32_t mouseX, int32_t mouseY, bool shift) {
    const TSelPoint p = Map(mouseX, mouseY);
    const QPoint at(p.x, p.y);
    switch (FDrawState) {
    case TDrawState::dsMoving: {
        TAnnotation moved = Moved(MoveStart, at - MoveFrom);
        if (moved == FObjects[*Selected]) return;
        FObjects[*Selected] = std::move(moved);
        ViewDirty = true;
        return;
    }
    case TDrawState::dsDrawing: {
        std::vector<QPoint>& points = Live->points;
        const QPoint from = points.front();
        if (Live->kind == TShapeKind::skPen || Live->kind == TShapeKind::skHighlighter) {
            // With Shift a stroke is one straight line from where it started.
            if (shift)
                points = {from, Constrained(TShapeKind::skLine, from, at)};
            else if (points.back() != at)
                points.push_back(at);
        } else {
            points.back() = shift ? Constrained(Live->kind, from, at) : at;
        }
        ViewDirty = true;
        return;
    }
    case TDrawState::dsTyping:
        return;
    case TDrawState::dsIdle:
        break;
    }
    if (Resized || SelectionDone) return;
    if (p == SelEnd) return;
    SelEnd = p;
    // Before the first press SelEnd follows the mouse but nothing is drawn.
    if (Selecting) ViewDirty = true;
}

void TCaptureEditor::MouseUp(int32_t mouseX, int32_t mouseY, bool shift) {
    switch (FDrawState) {
    case TDrawState::dsMoving: {
        MouseMove(mouseX, mouseY, shift);
        SetDrawState(TDrawState::dsIdle);
        ObjectsChanged();
        if (FObjects[*Selected] == MoveStart) return;
        TEditStep step;
        step.Before = step.After = State();
        step.ObjectIndex = *Selected;
        step.ObjectBefore = MoveStart;
        step.ObjectAfter = FObjects[*Selected];
        History.Record(std::move(step));
        return;
    }
    case TDrawState::dsDrawing: {
        MouseMove(mouseX, mouseY, shift);
        TAnnotation object = std::move(*Live);
        Live.reset();
        SetDrawState(TDrawState::dsIdle);
        // A click draws no line, box or arrow; a click with the pen is a dot.
        const bool twoPoint =
            object.kind != TShapeKind::skPen && object.kind != TShapeKind::skHighlighter;
        if (twoPoint && object.points.front() == object.points.back()) return;
        AddObject(object);
        return;
    }
    case TDrawState::dsTyping:
        return;
    case TDrawState::dsIdle:
        break;
    }
    // A release whose press went elsewhere starts nothing: it would otherwise
    // arm an invisible crop from a stale corner.
    if (FTool != TTool::tkSelect || !Selecting || SelectionDone) return;
    MouseMove(mouseX, mouseY);
    SelectionDone = true;
    TSelRect r = Selection();
    SelStart = {r.left, r.top};
    SelEnd = {r.right, r.bottom};
    ViewDirty = true;
    if (CropOf(PressState) == CropOf(State())) return;
    TEditStep step;
    step.Before = PressState;
    step.After = State();
    History.Record(std::move(step));
}

bool TCaptureEditor::TypeText(const QString& text) {
    if (FDrawState != TDrawState::dsTyping) return false;
    Live->text += text;
    ViewDirty = true;
    return true;
}

bool TCaptureEditor::TypeBackspace() {
    if (FDrawState != TDrawState::dsTyping) return false;
    QString& text = Live->text;
    // A character outside the basic plane is two code units.
    const qsizetype n = text.size() >= 2 && text.back().isLowSurrogate() ? 2 : 1;
    text.chop(n);
    ViewDirty = true;
    return true;
}

bool TCaptureEditor::FinishText() {
    if (FDrawState != TDrawState::dsTyping) return false;
    TAnnotation object = std::move(*Live);
    Live.reset();
    SetDrawState(TDrawState::dsIdle);
    if (!object.text.isEmpty()) AddObject(object);
    return true;
}

bool TCaptureEditor::CancelText() {
    if (FDrawState != TDrawState::dsTyping) return false;
    Live.reset();
    SetDrawState(TDrawState::dsIdle);
    return true;
}

bool TCaptureEditor::DeleteSelected() {
    if (!Selected || FDrawState != TDrawState::dsIdle) return false;
    TEditStep step;
    step.Before = step.After = State();
    step.ObjectIndex = *Selected;
    step.ObjectBefore = FObjects[*Selected];
    FObjects.erase(FObjects.begin() + std::ptrdiff_t(*Selected));
    Selected.reset();
    History.Record(std::move(step));
    ObjectsChanged();
    return true;
}

bool TCaptureEditor::Undo() {
    // Undo first drops the text being typed; a drag in progress goes on.
    if (CancelText()) return true;
    if (FDrawState != TDrawState::dsIdle) return false;
    TEditStep* step = History.TakeUndo();
    if (!step) return false;
    ApplyStep(*step, true);
    return true;
}

bool TCaptureEditor::Redo() {
    if (FDrawState != TDrawState::dsIdle) return false;
    TEditStep* step = History.TakeRedo();
    if (!step) return false;
    ApplyStep(*step, false);
    return true;
}

void TCaptureEditor::ApplyStep(TEditStep& step, bool undo) {
    const std::optional<TAnnotation>& from = undo ? step.ObjectAfter : step.ObjectBefore;
    const std::optional<TAnnotation>& to = undo ? step.ObjectBefore : step.ObjectAfter;
    const auto at = FObjects.begin() + std::ptrdiff_t(step.ObjectIndex);
    if (from && to)
        *at = *to;
    else if (to)
        FObjects.insert(at, *to);
    else if (from)
        FObjects.erase(at);
    if (step.Pixels) step.Pixels->SwapWith(*ImageBuffer);
    if (step.OtherPicture) std::swap(ImageBuffer, step.OtherPicture);
    if (step.OtherObjects) std::swap(FObjects, *step.OtherObjects);
    SetState(undo ? step.Before : step.After);
    Selected.reset();
    ObjectsChanged();
}

void TCaptureEditor::DrawLiveParts(TFastDIB& overlay) const {
    std::vector<TAnnotation> parts;
    if (FDrawState == TDrawState::dsMoving) parts.push_back(FObjects[*Selected]);
    if (Live) parts.push_back(*Live);
    if (FDrawState == TDrawState::dsTyping) {
        const QLine caret = TextCaret(*Live);
        TAnnotation line;
        line.kind = TShapeKind::skLine;
        line.color = Live->color;
        line.width = std::max(1, Live->size / 12);
        line.points = {caret.p1(), caret.p2()};
        parts.push_back(line);
    }
    FlattenInto(overlay, parts);
    if (Selected) {
        const QRect r = AnnotationBounds(FObjects[*Selected]);
        overlay.SelectPen(bmp::PS_SOLID, Scaled(1), PickedFrame);
        overlay.SelectBrush(bmp::BS_NULL, 0, 0);
        overlay.DrawRectangle(r.left(), r.top(), r.right() + 1, r.bottom() + 1);
    }
}

bool TCaptureEditor::ResizeImage(double factor) {
    if (!HasPicture() || FDrawState != TDrawState::dsIdle) return false;
    const TFastDIB& picture = *ImageBuffer;
    TExtent size = ScaledSize(PictureSize(), factor);
    if (size.Empty()) return false;
    auto next = std::make_unique<TFastDIB>();
    if (!AllocateLike(*next, picture, size.width, size.height)) return false;
    // Drawn objects are burnt in first and shrink with the picture; the
    // picture and objects as they were stay for undo.
    if (Paletted(picture)) {
        // Blend real colours, then take the nearest entry of the picture's own palette.
        TFastDIB wide, scaled;
        ExpandToTrueColor(picture, wide);
        FlattenInto(wide, FObjects);
        if (!scaled.Allocate(size.width, SameDirection(picture, size.height), 32)) return false;
        wide.ScaleInto(scaled);
        ReduceToPalette(scaled, *next);
    } else if (!FObjects.empty()) {
        TFastDIB burnt;
        if (!AllocateLike(burnt, picture, picture.Width(), picture.RowCount)) return false;
        burnt.CopyBlock(picture, 0, 0, picture.Width(), picture.RowCount, 0, 0);
        FlattenInto(burnt, FObjects);
        burnt.ScaleInto(*next);
    } else {
        picture.ScaleInto(*next);
    }
    TEditStep step;
    step.Before = State();
    step.OtherPicture = std::move(ImageBuffer);
    step.OtherObjects = std::move(FObjects);
    FObjects.clear();
    Selected.reset();
    ImageBuffer = std::move(next);
    Selecting = SelectionDone = false;
    Resized = true;
    ObjectsChanged();
    step.After = State();
    History.Record(std::move(step));
    return true;
}

bool TCaptureEditor::FillBlack() {
    if (!Selecting || !SelectionDone) return false;
    TSelRect r = Selection();
    TEditStep step;
    step.Before = State();
    if (!r.Empty()) {
        // The 2-pixel outline reaches one pixel beyond the rectangle.
        step.Pixels.emplace(*ImageBuffer,
                            TSelRect{r.left - 1, r.top - 1, r.right + 1, r.bottom + 1});
        ImageBuffer->SelectPen(bmp::PS_SOLID, FramePenWidth, Black);
        ImageBuffer->SelectBrush(bmp::BS_SOLID, 0, Black);
        ImageBuffer->SetBackColor(Black);
        ImageBuffer->DrawRectangle(r.left, r.top, r.right, r.bottom);
        Filled = true;
    }
    Selecting = SelectionDone = false;
    ObjectsChanged();
    step.After = State();
    if (step.Pixels) History.Record(std::move(step));
    return true;
}

bool TCaptureEditor::HasChanges() const {
    if (!HasPicture()) return false;
    return Resized || Filled || !FObjects.empty() || (SelectionDone && !Selection().Empty());
}

TSaveResult TCaptureEditor::Save(const std::string& path) const {
    if (!HasChanges()) return TSaveResult::srNothing;
    const TFastDIB& picture = *ImageBuffer;
    auto saved = [&](const TFastDIB& dib) {
        return dib.SaveBitmapFile(path) ? TSaveResult::srSaved : TSaveResult::srFailed;
    };
    // After a shrink or fill the whole picture is kept; a pending selection is
    // not applied.
    const TSelRect crop = Resized || Filled ? TSelRect{} : CropOf(State());
    if (crop.Empty() && FObjects.empty()) return saved(picture);
    const TSelRect r = crop.Empty() ? TSelRect{0, 0, picture.Width(), picture.RowCount} : crop;
    TFastDIB out;
    if (!AllocateLike(out, picture, r.Width(), r.Height())) return TSaveResult::srFailed;
    out.CopyBlock(picture, 0, 0, r.Width(), r.Height(), r.left, r.top);
    FlattenInto(out, FObjects, {r.left, r.top});
    return saved(out);
}

void TCaptureEditor::ClearChanges() {
    if (Selecting || !FObjects.empty() || Live || Selected) ViewDirty = true;
    Selecting = SelectionDone = Resized = Filled = false;
    FObjects.clear();
    Live.reset();
    Selected.reset();
    FDrawState = TDrawState::dsIdle;
    History.Clear();
    CompositeDirty = true;
}

} // namespace capture

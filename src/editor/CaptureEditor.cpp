#include "CaptureEditor.h"

#include <cstring>
#include <unordered_map>

namespace capture {

namespace {

constexpr uint32_t FrameRed = bmp::RGB(255, 0, 0);
constexpr uint32_t Black = bmp::RGB(0, 0, 0);
constexpr int FramePenWidth = 2;

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
    // scaled in true colour; the frame then also stays pure red.
    const TFastDIB* source = &picture;
    if (Paletted(picture)) {
        ExpandToTrueColor(picture, OverlayCopy);
        source = &OverlayCopy;
    } else if (Selecting) {
        AllocateLike(OverlayCopy, picture, picture.Width(), picture.RowCount);
        OverlayCopy.CopyBlock(picture, 0, 0, picture.Width(), picture.RowCount, 0, 0);
        source = &OverlayCopy;
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

bool TCaptureEditor::MouseDown(int32_t mouseX, int32_t mouseY) {
    if (Resized) return false;
    Selecting = true;
    SelectionDone = false;
    SelStart = Map(mouseX, mouseY);
    SelEnd = SelStart;
    ViewDirty = true;
    return true;
}

void TCaptureEditor::MouseMove(int32_t mouseX, int32_t mouseY) {
    if (Resized || SelectionDone) return;
    TSelPoint at = Map(mouseX, mouseY);
    if (at == SelEnd) return;
    SelEnd = at;
    // Before the first press SelEnd follows the mouse but nothing is drawn.
    if (Selecting) ViewDirty = true;
}

void TCaptureEditor::MouseUp(int32_t mouseX, int32_t mouseY) {
    // A release whose press went elsewhere starts nothing: it would otherwise
    // arm an invisible crop from a stale corner.
    if (!Selecting || SelectionDone) return;
    MouseMove(mouseX, mouseY);
    SelectionDone = true;
    TSelRect r = Selection();
    SelStart = {r.left, r.top};
    SelEnd = {r.right, r.bottom};
    ViewDirty = true;
}

bool TCaptureEditor::ResizeImage(double factor) {
    if (!HasPicture()) return false;
    const TFastDIB& picture = *ImageBuffer;
    TExtent size = ScaledSize(PictureSize(), factor);
    if (size.Empty()) return false;
    auto next = std::make_unique<TFastDIB>();
    if (!AllocateLike(*next, picture, size.width, size.height)) return false;
    if (Paletted(picture)) {
        // Blend real colours, then take the nearest entry of the picture's own palette.
        TFastDIB wide, scaled;
        ExpandToTrueColor(picture, wide);
        if (!scaled.Allocate(size.width, SameDirection(picture, size.height), 32)) return false;
        wide.ScaleInto(scaled);
        ReduceToPalette(scaled, *next);
    } else {
        picture.ScaleInto(*next);
    }
    ImageBuffer = std::move(next);
    Selecting = SelectionDone = false;
    Resized = true;
    ViewDirty = true;
    return true;
}

bool TCaptureEditor::FillBlack() {
    if (!Selecting || !SelectionDone) return false;
    TSelRect r = Selection();
    if (!r.Empty()) {
        ImageBuffer->SelectPen(bmp::PS_SOLID, FramePenWidth, Black);
        ImageBuffer->SelectBrush(bmp::BS_SOLID, 0, Black);
        ImageBuffer->SetBackColor(Black);
        ImageBuffer->DrawRectangle(r.left, r.top, r.right, r.bottom);
        Filled = true;
    }
    Selecting = SelectionDone = false;
    ViewDirty = true;
    return true;
}

bool TCaptureEditor::HasChanges() const {
    if (!HasPicture()) return false;
    return Resized || Filled || (SelectionDone && !Selection().Empty());
}

TSaveResult TCaptureEditor::Save(const std::string& path) const {
    if (!HasChanges()) return TSaveResult::srNothing;
    const TFastDIB& picture = *ImageBuffer;
    // After a shrink or fill the whole picture is kept; a pending selection is
    // not applied.
    if (Resized || Filled)
        return picture.SaveBitmapFile(path) ? TSaveResult::srSaved : TSaveResult::srFailed;
    TSelRect r = Selection();
    TFastDIB crop;
    if (!AllocateLike(crop, picture, r.Width(), r.Height())) return TSaveResult::srFailed;
    crop.CopyBlock(picture, 0, 0, r.Width(), r.Height(), r.left, r.top);
    return crop.SaveBitmapFile(path) ? TSaveResult::srSaved : TSaveResult::srFailed;
}

void TCaptureEditor::ClearChanges() {
    if (Selecting) ViewDirty = true;
    Selecting = SelectionDone = Resized = Filled = false;
}

} // namespace capture

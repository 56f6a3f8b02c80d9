// The editor's picture work on real BMP files: crop, fill, shrink, the view
// and its frame, for every layout a capture can have.
#include "CaptureTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace capture;
using namespace capturetest;
using dibtest::PixelAt;
using dibtest::ScratchDir;

namespace {

constexpr uint32_t PureRed = 0xFF0000;
constexpr uint32_t Black = 0x000000;

class CaptureEditorTest : public ::testing::Test {
protected:
    ScratchDir dir;
    std::string file = dir.File("capture.bmp");
    TCaptureEditor editor;

    // Loads a picture and builds the view the window would show for it.
    void Open(const BmpBuilder& picture) {
        picture.WriteTo(file);
        editor.Load(file);
        ASSERT_TRUE(editor.HasPicture());
        ASSERT_EQ(editor.BuildView(WindowSizeFor(editor.PictureSize())), TViewResult::vrShown);
    }
    void Press(int px, int py) {
        auto [x, y] = MouseFor(editor, px, py);
        editor.MouseDown(x, y);
    }
    void MoveTo(int px, int py) {
        auto [x, y] = MouseFor(editor, px, py);
        editor.MouseMove(x, y);
    }
    void Release(int px, int py) {
        auto [x, y] = MouseFor(editor, px, py);
        editor.MouseUp(x, y);
    }
    void Drag(int x0, int y0, int x1, int y1) {
        Press(x0, y0);
        MoveTo((x0 + x1) / 2, (y0 + y1) / 2);
        MoveTo(x1, y1);
        Release(x1, y1);
    }
};

const Layout True24{"True24", 24, false};

} // namespace

TEST_F(CaptureEditorTest, DragToLowerRightSavesExactlyThatRectangle) {
    Open(Picture(True24, 64, 48));
    auto original = Loaded(file);
    Drag(10, 5, 30, 20);
    EXPECT_EQ(editor.SelStart, (TSelPoint{10, 5}));
    EXPECT_EQ(editor.SelEnd, (TSelPoint{30, 20}));
    ASSERT_TRUE(editor.HasChanges());
    ASSERT_EQ(editor.Save(file), TSaveResult::srSaved);

    auto saved = Loaded(file);
    ASSERT_EQ(saved->Width(), 20);
    ASSERT_EQ(saved->RowCount, 15);
    EXPECT_EQ(saved->BitCount(), 24);
    EXPECT_EQ(Block(*saved, 0, 0, 20, 15), Block(*original, 10, 5, 20, 15));
}

TEST_F(CaptureEditorTest, EveryDragDirectionCropsTheSameRectangle) {
    Open(Picture(True24, 64, 48));
    Drag(10, 5, 30, 20);
    ASSERT_EQ(editor.Save(dir.File("reference.bmp")), TSaveResult::srSaved);
    const auto reference = ReadFileBytes(dir.File("reference.bmp"));

    const int drags[][4] = {{30, 20, 10, 5}, {10, 20, 30, 5}, {30, 5, 10, 20}};
    for (const auto& d : drags) {
        editor.Load(file);
        editor.BuildView(WindowSizeFor(editor.PictureSize()));
        Drag(d[0], d[1], d[2], d[3]);
        EXPECT_EQ(editor.Selection(), (TSelRect{10, 5, 30, 20}));
        ASSERT_EQ(editor.Save(dir.File("other.bmp")), TSaveResult::srSaved);
        EXPECT_EQ(ReadFileBytes(dir.File("other.bmp")), reference)
            << "drag from " << d[0] << "," << d[1];
    }
}

TEST_F(CaptureEditorTest, DegenerateSelectionsNeverTouchTheFile) {
    Open(Picture(True24, 40, 30));
    const auto before = ReadFileBytes(file);

    Drag(12, 12, 12, 12); // a plain click
    EXPECT_FALSE(editor.HasChanges());
    EXPECT_EQ(editor.Save(file), TSaveResult::srNothing);

    Drag(12, 3, 12, 25); // a vertical line
    EXPECT_FALSE(editor.HasChanges());

    // A release without a press in the window arms nothing.
    editor.Load(file);
    editor.BuildView(WindowSizeFor(editor.PictureSize()));
    MoveTo(20, 20);
    Release(25, 25);
    EXPECT_FALSE(editor.SelectionDone);
    EXPECT_FALSE(editor.HasChanges());
    EXPECT_EQ(ReadFileBytes(file), before);
}

TEST_F(CaptureEditorTest, DragsPastTheEdgeAreClipped) {
    Open(Picture(True24, 40, 30));
    auto original = Loaded(file);
    editor.MouseDown(-50, -50);
    editor.MouseMove(2000, 2000);
    editor.MouseUp(2000, 2000);
    EXPECT_EQ(editor.Selection(), (TSelRect{0, 0, 40, 30}));
    ASSERT_EQ(editor.Save(file), TSaveResult::srSaved);
    auto saved = Loaded(file);
    EXPECT_EQ(dibtest::Colors(*saved), dibtest::Colors(*original));
}

TEST_F(CaptureEditorTest, FillNeedsAFinishedSelection) {
    Open(Picture(True24, 40, 30));
    const auto before = dibtest::MemoryBytes(editor.Image());
    EXPECT_FALSE(editor.FillBlack()); // idle
    Press(5, 5);
    MoveTo(20, 20);
    EXPECT_FALSE(editor.FillBlack()); // still dragging
    EXPECT_EQ(dibtest::MemoryBytes(editor.Image()), before);
    EXPECT_FALSE(editor.Filled);
}

TEST_F(CaptureEditorTest, FillBlacksOutTheRectangleAndItsBorderBand) {
    Open(Picture(True24, 40, 30));
    auto original = Loaded(file);
    Drag(10, 8, 20, 16);
    ASSERT_TRUE(editor.FillBlack());
    EXPECT_TRUE(editor.Filled);
    EXPECT_FALSE(editor.Selecting);
    EXPECT_FALSE(editor.SelectionDone);
    EXPECT_FALSE(editor.FillBlack()) << "a second fill needs a new selection";

    const TFastDIB& img = editor.Image();
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 40; ++x) {
            // The 2-pixel pen is centred on the outline: one pixel outside on
            // the left and top, the rectangle's own last column and row inside.
            bool inside = x >= 9 && x < 20 && y >= 7 && y < 16;
            EXPECT_EQ(PixelAt(img, x, y), inside ? Black : PixelAt(*original, x, y))
                << x << "," << y;
        }
    }
}

TEST_F(CaptureEditorTest, AfterAFillANewSelectionIsNotApplied) {
    Open(Picture(True24, 40, 30));
    Drag(10, 8, 20, 16);
    editor.FillBlack();
    Drag(0, 0, 5, 5);
    ASSERT_EQ(editor.Save(file), TSaveResult::srSaved);
    auto saved = Loaded(file);
    ASSERT_EQ(saved->Width(), 40);
    ASSERT_EQ(saved->RowCount, 30);
    EXPECT_EQ(PixelAt(*saved, 15, 12), Black);
}

TEST_F(CaptureEditorTest, ShrinkRoundsHalfToEvenAndRefusesLaterCrops) {
    Open(Picture(True24, 101, 75));
    ASSERT_TRUE(editor.ResizeImage(0.5));
    EXPECT_EQ(editor.PictureSize(), (TExtent{50, 38}));
    EXPECT_TRUE(editor.Resized);
    EXPECT_FALSE(editor.MouseDown(10, 10));
    EXPECT_FALSE(editor.Selecting);

    // Each step shrinks the already shrunk picture.
    ASSERT_TRUE(editor.ResizeImage(0.75));
    EXPECT_EQ(editor.PictureSize(), (TExtent{38, 28})); // 37.5 -> 38, 28.5 -> 28
    ASSERT_EQ(editor.Save(file), TSaveResult::srSaved);
    auto saved = Loaded(file);
    EXPECT_EQ(saved->Width(), 38);
    EXPECT_EQ(saved->RowCount, 28);
}

TEST_F(CaptureEditorTest, ShrinkThatWouldLeaveNothingIsRefused) {
    Open(Picture(True24, 3, 2));
    EXPECT_FALSE(editor.ResizeImage(0.25));
    EXPECT_EQ(editor.PictureSize(), (TExtent{3, 2}));
    EXPECT_FALSE(editor.HasChanges());
}

TEST_F(CaptureEditorTest, FrameIsRedInTheViewButNeverInThePicture) {
    BmpBuilder grey = Picture(True24, 64, 48);
    grey.pixels = PackPixels(64, 48, 24, true, [](int, int) { return 0x808080; });
    Open(grey);
    auto countRed = [&] {
        const auto colors = dibtest::Colors(editor.View());
        return std::count(colors.begin(), colors.end(), PureRed);
    };
    const auto picture = dibtest::MemoryBytes(editor.Image());
    MoveTo(30, 30);
    editor.BuildView(WindowSizeFor(editor.PictureSize()));
    EXPECT_EQ(countRed(), 0) << "no frame before the first press";

    Press(10, 10);
    MoveTo(40, 30);
    editor.BuildView(WindowSizeFor(editor.PictureSize()));
    EXPECT_GT(countRed(), 100);
    EXPECT_EQ(dibtest::MemoryBytes(editor.Image()), picture);

    Release(40, 30);
    editor.FillBlack();
    editor.BuildView(WindowSizeFor(editor.PictureSize()));
    EXPECT_EQ(countRed(), 0) << "the frame goes with the fill";
}

TEST_F(CaptureEditorTest, KeptBuffersGiveTheSameViewAsFreshOnes) {
    Open(Picture(True24, 64, 48));
    const TExtent window = WindowSizeFor(editor.PictureSize());
    Press(10, 10);
    for (int x : {50, 20, 60, 33}) {
        MoveTo(x, 40);
        editor.BuildView(window);
    }
    TCaptureEditor fresh;
    fresh.Load(file);
    fresh.BuildView(window);
    auto [x0, y0] = MouseFor(fresh, 10, 10);
    auto [x1, y1] = MouseFor(fresh, 33, 40);
    fresh.MouseDown(x0, y0);
    fresh.MouseMove(x1, y1);
    fresh.BuildView(window);
    EXPECT_EQ(dibtest::MemoryBytes(editor.View()), dibtest::MemoryBytes(fresh.View()));
}

TEST_F(CaptureEditorTest, WindowTooSmallForAViewShowsNothing) {
    Open(Picture(True24, 40, 30));
    EXPECT_EQ(editor.BuildView({4, 200}), TViewResult::vrNoRoom);
    EXPECT_TRUE(editor.View().Empty());
    EXPECT_EQ(editor.Map(300, 300), (TSelPoint{0, 0}));
    EXPECT_EQ(editor.BuildView({100, 100}), TViewResult::vrShown);
    EXPECT_EQ(editor.View().Width(), 95);
    EXPECT_EQ(editor.View().RowCount, 35);
}

TEST_F(CaptureEditorTest, MissingFileLoadsNothingAndSavesNothing) {
    editor.Load(dir.File("absent.bmp"));
    EXPECT_FALSE(editor.HasPicture());
    EXPECT_EQ(editor.BuildView({200, 200}), TViewResult::vrNoPicture);
    editor.MouseDown(1, 1);
    editor.MouseUp(50, 50);
    EXPECT_FALSE(editor.ResizeImage(0.5));
    EXPECT_FALSE(editor.HasChanges());
    EXPECT_EQ(editor.Save(dir.File("absent.bmp")), TSaveResult::srNothing);
}

TEST_F(CaptureEditorTest, FourBitPicturesAreNotShownButStillCropped) {
    Layout four{"Paletted4", 4, false};
    Picture(four, 20, 10).WriteTo(file);
    auto original = Loaded(file);
    editor.Load(file);
    EXPECT_EQ(editor.BuildView(WindowSizeFor(editor.PictureSize())),
              TViewResult::vrUnsupportedDepth);
    Drag(2, 1, 12, 9);
    ASSERT_EQ(editor.Save(file), TSaveResult::srSaved);
    auto saved = Loaded(file);
    EXPECT_EQ(saved->BitCount(), 4);
    EXPECT_EQ(Block(*saved, 0, 0, 10, 8), Block(*original, 2, 1, 10, 8));
}

// Every layout a capture may have keeps its colours through view, crop,
// fill and shrink.
class CaptureLayoutTest : public CaptureEditorTest, public ::testing::WithParamInterface<Layout> {};

TEST_P(CaptureLayoutTest, CropKeepsDepthLayoutAndColours) {
    Open(Picture(GetParam(), 30, 20));
    auto original = Loaded(file);
    Drag(4, 3, 22, 17);
    ASSERT_EQ(editor.Save(file), TSaveResult::srSaved);
    auto saved = Loaded(file);
    ASSERT_EQ(saved->Width(), 18);
    ASSERT_EQ(saved->RowCount, 14);
    EXPECT_EQ(saved->BitCount(), GetParam().bits);
    EXPECT_EQ(saved->Compression(), original->Compression());
    EXPECT_EQ(Block(*saved, 0, 0, 18, 14), Block(*original, 4, 3, 18, 14));
    if (GetParam().fields565) {
        const auto bytes = ReadFileBytes(file);
        EXPECT_EQ(GetLe32(bytes, 54), 0xF800u);
        EXPECT_EQ(GetLe32(bytes, 58), 0x07E0u);
        EXPECT_EQ(GetLe32(bytes, 62), 0x001Fu);
    }
}

namespace {
// Stripes of red and blue, three columns each, so that columns fall at many
// fractions between them; a paletted picture keeps green between their
// indices, where blending the indices as numbers would land.
BmpBuilder RedBesideBlue(const Layout& l) {
    BmpBuilder b = Picture(l, 40, 12);
    const uint32_t left = 0xF80000, right = 0x0000F8;
    if (l.bits <= 8) {
        b.palette[0] = left;
        b.palette[1] = 0x00F800;
        b.palette[2] = right;
    }
    b.pixels = PackPixels(40, 12, l.bits, true, [&](int x, int) {
        bool red = x / 3 % 2 == 0;
        if (l.bits <= 8) return red ? 0u : 2u;
        return Encode(l, red ? left : right);
    });
    return b;
}

void ExpectNoGreen(const TFastDIB& dib) {
    for (uint32_t c : dibtest::Colors(dib))
        ASSERT_LT(c >> 8 & 0xFF, 0x10u) << std::hex << "stray green in " << c;
}
} // namespace

TEST_P(CaptureLayoutTest, ViewShowsOnlyThePicturesColours) {
    Open(RedBesideBlue(GetParam()));
    const TFastDIB& view = editor.View();
    EXPECT_EQ(PixelAt(view, 0, 0) & 0xF8F8F8, 0xF80000u);
    EXPECT_EQ(PixelAt(view, 9, 0) & 0xF8F8F8, 0x0000F8u);
    ExpectNoGreen(view);
}

TEST_P(CaptureLayoutTest, ShrinkBlendsColoursNotPaletteIndices) {
    Open(RedBesideBlue(GetParam()));
    for (double factor : {0.75, 0.5}) {
        ASSERT_TRUE(editor.ResizeImage(factor));
        EXPECT_EQ(editor.Image().BitCount(), GetParam().bits);
        EXPECT_EQ(PixelAt(editor.Image(), 0, 0) & 0xF8F8F8, 0xF80000u);
        ExpectNoGreen(editor.Image());
    }
}

TEST_P(CaptureLayoutTest, FillAndShrinkKeepDepthAndColours) {
    Open(Picture(GetParam(), 40, 24));
    auto original = Loaded(file);
    Drag(4, 4, 12, 12);
    ASSERT_TRUE(editor.FillBlack());
    ASSERT_TRUE(editor.ResizeImage(0.5));
    ASSERT_EQ(editor.Save(file), TSaveResult::srSaved);
    auto saved = Loaded(file);
    ASSERT_EQ(saved->Width(), 20);
    ASSERT_EQ(saved->RowCount, 12);
    EXPECT_EQ(saved->BitCount(), GetParam().bits);
    // Black, or the palette's nearest to it.
    EXPECT_EQ(PixelAt(*saved, 4, 4) & 0xF0F0F0, 0u);
    // Far from the fill every shrunk pixel is one of the picture's colours.
    std::vector<uint32_t> known;
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 40; ++x) known.push_back(PixelAt(*original, x, y));
    for (int y = 0; y < 12; ++y)
        for (int x = 10; x < 20; ++x) {
            uint32_t c = PixelAt(*saved, x, y);
            bool near = std::any_of(known.begin(), known.end(), [&](uint32_t k) {
                auto d = [&](int s) { return std::abs(int(c >> s & 0xFF) - int(k >> s & 0xFF)); };
                return d(0) + d(8) + d(16) < 0x120;
            });
            EXPECT_TRUE(near) << std::hex << c << " at " << std::dec << x << "," << y;
        }
}

INSTANTIATE_TEST_SUITE_P(Layouts, CaptureLayoutTest, ::testing::ValuesIn(Layouts()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CaptureEditorTest, TopDownPicturesKeepTheirRowOrder) {
    Open(Picture(True24, 30, 20, /*bottomUp=*/false));
    auto original = Loaded(file);
    Drag(3, 2, 13, 12);
    ASSERT_EQ(editor.Save(file), TSaveResult::srSaved);
    auto saved = Loaded(file);
    EXPECT_LT(saved->Height(), 0);
    EXPECT_EQ(Block(*saved, 0, 0, 10, 10), Block(*original, 3, 2, 10, 10));
}

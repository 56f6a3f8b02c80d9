// Block copies, rectangles and painting of TFastDIB.
#include "FastDIBTestUtil.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

using namespace bmp;
using namespace dibtest;

namespace {

// A picture written as one string per line, top line first, one letter per
// pixel; a legend gives the colour of each letter.
using Picture = std::vector<std::string>;
using Legend = std::vector<std::pair<char, uint32_t>>;

constexpr uint32_t Yellow = 0xFFFF00;
constexpr uint32_t Cyan = 0x00FFFF;
constexpr uint32_t Magenta = 0xFF00FF;

const Legend Basic = {{'.', Black}, {'R', Red},    {'G', Green}, {'B', Blue},
                      {'W', White}, {'Y', Yellow}, {'C', Cyan},  {'M', Magenta}};

// The buffer as letters; a colour missing from the legend shows as '?'.
Picture Render(const TFastDIB& dib, const Legend& legend) {
    const std::vector<uint32_t> colors = Colors(dib);
    Picture out(size_t(dib.RowCount), std::string(size_t(dib.Width()), '?'));
    for (size_t i = 0; i < colors.size(); ++i) {
        for (const auto& [letter, color] : legend) {
            if (color == colors[i]) {
                out[i / size_t(dib.Width())][i % size_t(dib.Width())] = letter;
                break;
            }
        }
    }
    return out;
}

void Draw(TFastDIB& dib, const Picture& picture, const Legend& legend) {
    for (size_t y = 0; y < picture.size(); ++y) {
        for (size_t x = 0; x < picture[y].size(); ++x) {
            for (const auto& [letter, color] : legend)
                if (letter == picture[y][x]) SetPixel(dib, int(x), int(y), color);
        }
    }
}

// A picture of one letter everywhere.
Picture Plain(int w, int h, char letter) {
    return Picture(size_t(h), std::string(size_t(w), letter));
}

// Every colour of Basic at the front of the colour table, black first.
void SetBasicPalette(TFastDIB& dib) {
    std::vector<uint32_t> colors;
    for (const auto& entry : Basic) colors.push_back(entry.second);
    SetPalette(dib, colors);
}

// ---------------------------------------------------------------------------
// CopyBlock

// Source of the copies below: no two lines or columns alike, so a flip or a
// shift shows.
const Picture Source = {
    "RGBW",
    "YCMR",
    "BWGY",
};

struct CopyPair {
    const char* name;
    int destBits, destDirection; // direction: 1 bottom-up, -1 top-down
    int srcBits, srcDirection;
};

std::string CopyPairName(const testing::TestParamInfo<CopyPair>& info) {
    return info.param.name;
}

class CopyBlockExamples : public testing::TestWithParam<CopyPair> {
protected:
    void SetUp() override {
        const CopyPair& p = GetParam();
        ASSERT_TRUE(src.Allocate(4, 3 * p.srcDirection, p.srcBits));
        ASSERT_TRUE(dest.Allocate(5, 4 * p.destDirection, p.destBits));
        if (p.srcBits <= 8) SetBasicPalette(src);
        if (p.destBits <= 8) SetBasicPalette(dest);
        Draw(src, Source, Basic);
        ASSERT_EQ(Render(src, Basic), Source);
        ASSERT_EQ(Render(dest, Basic), Plain(5, 4, '.'));
    }
    TFastDIB src, dest;
};

TEST_P(CopyBlockExamples, CopiesTheBlockAtItsPlace) {
    dest.CopyBlock(src, 2, 1, 2, 2, 1, 0);
    EXPECT_EQ(Render(dest, Basic), (Picture{
                                       ".....",
                                       "..GB.",
                                       "..CM.",
                                       ".....",
                                   }));
    EXPECT_EQ(Render(src, Basic), Source);
}

TEST_P(CopyBlockExamples, WholePictureStaysUpright) {
    dest.CopyBlock(src, 0, 0, 4, 3, 0, 0);
    EXPECT_EQ(Render(dest, Basic), (Picture{
                                       "RGBW.",
                                       "YCMR.",
                                       "BWGY.",
                                       ".....",
                                   }));
    // The lower two lines of the source to the bottom of the destination.
    dest.CopyBlock(src, 1, 2, 4, 2, 0, 1);
    EXPECT_EQ(Render(dest, Basic), (Picture{
                                       "RGBW.",
                                       "YCMR.",
                                       "BYCMR",
                                       ".BWGY",
                                   }));
}

struct ClipCase {
    int dx, dy, w, h, sx, sy;
    Picture expected;
};

TEST_P(CopyBlockExamples, ClipsAtEveryEdge) {
    const std::vector<ClipCase> cases = {
        // The destination starts left of the picture.
        {-1, 1, 3, 2, 0, 0, {".....", "GB...", "CM...", "....."}},
        // ... above it.
        {1, -2, 2, 3, 2, 0, {".GY..", ".....", ".....", "....."}},
        // The source starts left of its picture.
        {0, 0, 3, 1, -2, 1, {"..Y..", ".....", ".....", "....."}},
        // ... above it.
        {3, 0, 1, 3, 1, -1, {".....", "...G.", "...C.", "....."}},
        // Too wide and high for the destination.
        {3, 2, 4, 3, 0, 0, {".....", ".....", "...RG", "...YC"}},
        // Too wide and high for the source.
        {0, 0, 9, 9, 2, 1, {"MR...", "GY...", ".....", "....."}},
        // Off every edge at once.
        {-1, -1, 10, 10, -1, -1, {"RGBW.", "YCMR.", "BWGY.", "....."}},
        {-2, -1, 10, 10, 0, 0, {"MR...", "GY...", ".....", "....."}},
        {0, 0, 10, 10, -3, -2, {".....", ".....", "...RG", "...YC"}},
    };
    for (const ClipCase& c : cases) {
        TFastDIB fresh;
        ASSERT_TRUE(fresh.Allocate(dest.Width(), dest.Height(), dest.BitCount()));
        if (fresh.BitCount() <= 8) SetBasicPalette(fresh);
        fresh.CopyBlock(src, c.dx, c.dy, c.w, c.h, c.sx, c.sy);
        EXPECT_EQ(Render(fresh, Basic), c.expected)
            << "dx " << c.dx << " dy " << c.dy << " w " << c.w << " h " << c.h << " sx " << c.sx
            << " sy " << c.sy;
    }
}

TEST_P(CopyBlockExamples, NothingHappensOutsideEitherPicture) {
    Draw(dest, {"WWWWW", "WWWWW", "WWWWW", "WWWWW"}, Basic);
    const std::vector<uint8_t> before = MemoryBytes(dest);
    struct Args {
        int dx, dy, w, h, sx, sy;
    };
    for (Args a : {Args{5, 0, 4, 3, 0, 0}, Args{0, 4, 4, 3, 0, 0}, Args{-4, 0, 4, 3, 0, 0},
                   Args{0, -3, 4, 3, 0, 0}, Args{0, 0, 4, 3, 4, 0}, Args{0, 0, 4, 3, 0, 3},
                   Args{0, 0, 4, 3, -4, 0}, Args{0, 0, 4, 3, 0, -3}, Args{0, 0, 0, 3, 0, 0},
                   Args{0, 0, 4, 0, 0, 0}, Args{0, 0, -2, 3, 0, 0}, Args{0, 0, 4, -1, 0, 0},
                   Args{INT_MAX, 0, 1, 1, 0, 0}, Args{0, INT_MAX, 1, 1, 0, 0},
                   Args{INT_MIN, INT_MIN, INT_MAX, INT_MAX, 0, 0},
                   Args{0, 0, INT_MAX, INT_MAX, INT_MIN, INT_MIN},
                   Args{-1, -1, INT_MAX, INT_MAX, INT_MIN, INT_MIN},
                   Args{INT_MIN, 0, INT_MIN, 1, INT_MAX, 0}}) {
        dest.CopyBlock(src, a.dx, a.dy, a.w, a.h, a.sx, a.sy);
        EXPECT_EQ(MemoryBytes(dest), before) << "dx " << a.dx << " dy " << a.dy << " w " << a.w
                                             << " h " << a.h << " sx " << a.sx << " sy " << a.sy;
    }
    // A block as big as an int can say is cut to the pictures.
    dest.CopyBlock(src, 0, 0, INT_MAX, INT_MAX, 0, 0);
    EXPECT_EQ(Render(dest, Basic), (Picture{"RGBWW", "YCMRW", "BWGYW", "WWWWW"}));
}

TEST_P(CopyBlockExamples, EmptyBuffersAreLeftAlone) {
    const std::vector<uint8_t> before = MemoryBytes(dest);
    TFastDIB empty;
    dest.CopyBlock(empty, 0, 0, 4, 3, 0, 0);
    EXPECT_EQ(MemoryBytes(dest), before);
    empty.CopyBlock(src, 0, 0, 4, 3, 0, 0);
    EXPECT_TRUE(empty.Empty());
    EXPECT_EQ(Render(src, Basic), Source);
}

INSTANTIATE_TEST_SUITE_P(Buffers, CopyBlockExamples,
                         testing::Values(CopyPair{"Bits24BottomUp", 24, 1, 24, 1},
                                         CopyPair{"Bits24TopDown", 24, -1, 24, -1},
                                         CopyPair{"Bits24TopDownFromBottomUp", 24, -1, 24, 1},
                                         CopyPair{"Bits24BottomUpFromTopDown", 24, 1, 24, -1},
                                         CopyPair{"Bits32FromBits24", 32, 1, 24, -1},
                                         CopyPair{"Bits24FromBits32", 24, -1, 32, 1},
                                         CopyPair{"Bits16FromBits16", 16, 1, 16, -1},
                                         CopyPair{"Bits8FromBits8", 8, -1, 8, 1},
                                         CopyPair{"Bits8FromBits24", 8, 1, 24, -1},
                                         CopyPair{"Bits4FromBits4", 4, 1, 4, -1},
                                         CopyPair{"Bits32FromBits4", 32, -1, 4, 1}),
                         CopyPairName);

// Colours unique to each pixel of the source and of the destination.
uint32_t SourceColor(int x, int y) {
    return uint32_t(0x10 * (x + 1)) << 16 | uint32_t(0x10 * (y + 1)) << 8 | 0x77;
}
uint32_t DestColor(int x, int y) {
    return 0x800000 | uint32_t(x) << 8 | uint32_t(y);
}

class CopyBlockClipping : public testing::TestWithParam<CopyPair> {};

// Every destination pixel inside the block whose source pixel exists takes
// that pixel; every other one keeps its colour.
TEST_P(CopyBlockClipping, CopiesExactlyTheOverlap) {
    const CopyPair& p = GetParam();
    constexpr int SW = 5, SH = 4, DW = 6, DH = 3;
    TFastDIB src, dest;
    ASSERT_TRUE(src.Allocate(SW, SH * p.srcDirection, p.srcBits));
    ASSERT_TRUE(dest.Allocate(DW, DH * p.destDirection, p.destBits));
    for (int y = 0; y < SH; ++y)
        for (int x = 0; x < SW; ++x) SetPixel(src, x, y, SourceColor(x, y));
    for (int y = 0; y < DH; ++y)
        for (int x = 0; x < DW; ++x) SetPixel(dest, x, y, DestColor(x, y));
    const std::vector<uint8_t> sourceBytes = MemoryBytes(src);
    const std::vector<uint8_t> destBytes = MemoryBytes(dest);

    // Copies one block into the original destination; false on the first
    // pixel that comes out wrong.
    auto copyAndCheck = [&](int dx, int dy, int w, int h, int sx, int sy) {
        std::memcpy(dest.PixelData, destBytes.data(), destBytes.size());
        dest.CopyBlock(src, dx, dy, w, h, sx, sy);
        for (int y = 0; y < DH; ++y) {
            for (int x = 0; x < DW; ++x) {
                const int fx = x - dx + sx, fy = y - dy + sy;
                const bool inBlock = x >= dx && x < dx + w && y >= dy && y < dy + h;
                const bool inSource = fx >= 0 && fx < SW && fy >= 0 && fy < SH;
                const uint32_t want = inBlock && inSource ? SourceColor(fx, fy) : DestColor(x, y);
                if (PixelAt(dest, x, y) == want) continue;
                ADD_FAILURE() << "dx " << dx << " dy " << dy << " w " << w << " h " << h << " sx "
                              << sx << " sy " << sy << ": pixel (" << x << ", " << y << ") is "
                              << std::hex << PixelAt(dest, x, y) << ", expected " << want;
                return false;
            }
        }
        return true;
    };
    int failures = 0;
    for (int dx : {-6, -5, -2, -1, 0, 1, 3, 5, 6})
        for (int dy : {-4, -3, -1, 0, 1, 2, 3})
            for (int sx : {-6, -5, -2, -1, 0, 1, 3, 4, 5})
                for (int sy : {-5, -4, -1, 0, 1, 2, 3, 4})
                    for (int w : {0, 1, 3, 5, 8})
                        for (int h : {0, 1, 2, 4})
                            if (!copyAndCheck(dx, dy, w, h, sx, sy) && ++failures >= 10) return;
    EXPECT_EQ(MemoryBytes(src), sourceBytes);
}

INSTANTIATE_TEST_SUITE_P(Buffers, CopyBlockClipping,
                         testing::Values(CopyPair{"Bits24BottomUp", 24, 1, 24, 1},
                                         CopyPair{"Bits24TopDown", 24, -1, 24, -1},
                                         CopyPair{"Bits24TopDownFromBottomUp", 24, -1, 24, 1},
                                         CopyPair{"Bits24BottomUpFromTopDown", 24, 1, 24, -1},
                                         CopyPair{"Bits32FromBits24", 32, 1, 24, -1},
                                         CopyPair{"Bits24FromBits32", 24, -1, 32, 1}),
                         CopyPairName);

TEST(CopyBlockDepths, ColoursAreConvertedBetweenDepths) {
    const std::vector<uint32_t> colors = {0x123456, 0xFEDCBA, Black};
    TFastDIB src;
    ASSERT_TRUE(src.Allocate(3, 1, 24));
    for (int x = 0; x < 3; ++x) SetPixel(src, x, 0, colors[size_t(x)]);

    struct Target {
        const char* name;
        int bits;
        uint8_t red, green, blue;
        std::vector<uint32_t> palette;
        std::vector<uint32_t> expected;
    };
    const std::vector<Target> targets = {
        {"32 bits", 32, 0, 0, 0, {}, colors},
        {"32-bit fields", 32, 8, 8, 8, {}, colors},
        // Each channel keeps its top five bits, expanded again on reading.
        {"16 bits 5-5-5", 16, 0, 0, 0, {}, {0x103152, 0xFFDEBD, Black}},
        {"16 bits 5-6-5", 16, 5, 6, 5, {}, {0x103452, 0xFFDFBD, Black}},
        // The nearest colour of the table.
        {"8 bits", 8, 0, 0, 0, {White, 0x103050, 0xF0E0C0, Black}, {0x103050, 0xF0E0C0, Black}},
        {"4 bits", 4, 0, 0, 0, {0xF0E0C0, Black, 0x103050}, {0x103050, 0xF0E0C0, Black}},
        {"1 bit", 1, 0, 0, 0, {Black, White}, {Black, White, Black}},
    };
    for (const Target& t : targets) {
        TFastDIB dest;
        ASSERT_TRUE(dest.AllocateEx(nullptr, 3, -1, t.bits, t.red, t.green, t.blue)) << t.name;
        SetPalette(dest, t.palette);
        dest.CopyBlock(src, 0, 0, 3, 1, 0, 0);
        EXPECT_EQ(Colors(dest), t.expected) << t.name;

        // And back to 24 bits.
        TFastDIB back;
        ASSERT_TRUE(back.Allocate(3, 1, 24));
        back.CopyBlock(dest, 0, 0, 3, 1, 0, 0);
        EXPECT_EQ(Colors(back), t.expected) << t.name;
    }
}

TEST(CopyBlockDepths, SubBytePixelsCopyAtAnyColumn) {
    const Legend legend = {{'.', Black}, {'#', White}};
    const Picture source = {
        "#.##...#.#",
        "..#.##.#..",
    };
    for (int bits : {1, 4}) {
        TFastDIB src, dest;
        ASSERT_TRUE(src.Allocate(10, 2, bits));
        ASSERT_TRUE(dest.Allocate(12, -2, bits));
        SetPalette(src, {Black, White});
        SetPalette(dest, {Black, White});
        Draw(src, source, legend);
        ASSERT_EQ(Render(src, legend), source);
        Draw(dest, Plain(12, 2, '#'), legend);

        dest.CopyBlock(src, 3, 0, 7, 2, 1, 0);
        EXPECT_EQ(Render(dest, legend), (Picture{
                                            "###.##...###",
                                            "###.#.##.###",
                                        }))
            << bits << " bits";
        dest.CopyBlock(src, 0, 1, 3, 1, 7, 0);
        EXPECT_EQ(Render(dest, legend), (Picture{
                                            "###.##...###",
                                            "#.#.#.##.###",
                                        }))
            << bits << " bits";
    }
}

// ---------------------------------------------------------------------------
// DrawRectangle

// The letters of the rectangle pictures: '#' pen, 'o' brush, 'r' the
// background colour behind a hatch, '.' and 'g' untouched ground.
constexpr uint32_t PenRef = bmp::RGB(0xFF, 0xFF, 0x00);   // yellow
constexpr uint32_t BrushRef = bmp::RGB(0x00, 0x00, 0xFF); // blue
constexpr uint32_t BackRef = bmp::RGB(0xFF, 0x00, 0x00);  // red

struct RectDepth {
    const char* name;
    int bits;
    int direction;
    uint8_t red, green, blue;  // channel widths, all 0 for the defaults
    uint32_t pen, brush, back; // how the three colours come out
};

// For the paletted buffers: the nearest entries to the pen, brush and
// background colours differ from them a little.
const std::vector<uint32_t> RectPalette = {Black, Green, 0xF0F010, 0x1010F0, 0xF01010, White};

struct Shape {
    const char* name;
    struct {
        int style, width;
    } pen;
    struct {
        int style, hatch = 0;
    } brush;
    struct {
        int left, top, right, bottom;
    } box; // as passed to DrawRectangle
    char ground = '.';
    Picture expected;
};

// clang-format off
const std::vector<Shape> Shapes = {
    {.name = "solid brush, 1-pixel pen",
     .pen = {PS_SOLID, 1}, .brush = {BS_SOLID}, .box = {1, 1, 6, 5},
     .expected = {
         "........",
         ".#####..",
         ".#ooo#..",
         ".#ooo#..",
         ".#####..",
         "........",
     }},
    {.name = "corners right-bottom first",
     .pen = {PS_SOLID, 1}, .brush = {BS_SOLID}, .box = {6, 5, 1, 1},
     .expected = {
         "........",
         ".#####..",
         ".#ooo#..",
         ".#ooo#..",
         ".#####..",
         "........",
     }},
    {.name = "corners left-bottom first",
     .pen = {PS_SOLID, 1}, .brush = {BS_SOLID}, .box = {1, 5, 6, 1},
     .expected = {
         "........",
         ".#####..",
         ".#ooo#..",
         ".#ooo#..",
         ".#####..",
         "........",
     }},
    {.name = "corners right-top first",
     .pen = {PS_SOLID, 1}, .brush = {BS_SOLID}, .box = {6, 1, 1, 5},
     .expected = {
         "........",
         ".#####..",
         ".#ooo#..",
         ".#ooo#..",
         ".#####..",
         "........",
     }},
    {.name = "pen width 0 draws one pixel",
     .pen = {PS_SOLID, 0}, .brush = {BS_SOLID}, .box = {1, 1, 6, 5},
     .expected = {
         "........",
         ".#####..",
         ".#ooo#..",
         ".#ooo#..",
         ".#####..",
         "........",
     }},
    {.name = "no width",
     .pen = {PS_SOLID, 1}, .brush = {BS_SOLID}, .box = {3, 1, 3, 5}, .ground = 'g',
     .expected = Plain(8, 6, 'g')},
    {.name = "no height",
     .pen = {PS_SOLID, 1}, .brush = {BS_SOLID}, .box = {1, 4, 6, 4}, .ground = 'g',
     .expected = Plain(8, 6, 'g')},
    {.name = "no width, wide pen",
     .pen = {PS_SOLID, 3}, .brush = {BS_SOLID}, .box = {3, 1, 3, 5}, .ground = 'g',
     .expected = Plain(8, 6, 'g')},
    {.name = "single pixel",
     .pen = {PS_SOLID, 1}, .brush = {BS_SOLID}, .box = {2, 2, 3, 3},
     .expected = {
         "........",
         "........",
         "..#.....",
         "........",
         "........",
         "........",
     }},
    {.name = "single line",
     .pen = {PS_SOLID, 1}, .brush = {BS_SOLID}, .box = {1, 2, 7, 3},
     .expected = {
         "........",
         "........",
         ".######.",
         "........",
         "........",
         "........",
     }},
    {.name = "hollow brush",
     .pen = {PS_SOLID, 1}, .brush = {BS_NULL}, .box = {1, 1, 6, 5}, .ground = 'g',
     .expected = {
         "gggggggg",
         "g#####gg",
         "g#ggg#gg",
         "g#ggg#gg",
         "g#####gg",
         "gggggggg",
     }},
    {.name = "null pen fills one less",
     .pen = {PS_NULL, 1}, .brush = {BS_SOLID}, .box = {1, 1, 6, 5},
     .expected = {
         "........",
         ".oooo...",
         ".oooo...",
         ".oooo...",
         "........",
         "........",
     }},
    {.name = "null pen, one pixel wide",
     .pen = {PS_NULL, 1}, .brush = {BS_SOLID}, .box = {2, 1, 3, 5}, .ground = 'g',
     .expected = Plain(8, 6, 'g')},
    {.name = "null pen and hollow brush",
     .pen = {PS_NULL, 1}, .brush = {BS_NULL}, .box = {1, 1, 6, 5}, .ground = 'g',
     .expected = Plain(8, 6, 'g')},
    // A 2-pixel band reaches one pixel out at the left and top, one pixel in
    // at the right and bottom.
    {.name = "2-pixel pen",
     .pen = {PS_SOLID, 2}, .brush = {BS_SOLID}, .box = {1, 1, 7, 5},
     .expected = {
         "#######.",
         "#######.",
         "##ooo##.",
         "#######.",
         "#######.",
         "........",
     }},
    {.name = "3-pixel pen",
     .pen = {PS_SOLID, 3}, .brush = {BS_SOLID}, .box = {2, 2, 8, 7},
     .expected = {
         "..........",
         ".########.",
         ".########.",
         ".########.",
         ".###oo###.",
         ".########.",
         ".########.",
         ".########.",
         "..........",
     }},
    {.name = "inside frame",
     .pen = {PS_INSIDEFRAME, 2}, .brush = {BS_SOLID}, .box = {1, 1, 7, 6},
     .expected = {
         "........",
         ".######.",
         ".######.",
         ".##oo##.",
         ".######.",
         ".######.",
         "........",
     }},
    {.name = "clipped at the top left",
     .pen = {PS_SOLID, 1}, .brush = {BS_SOLID}, .box = {-2, -3, 4, 3},
     .expected = {
         "ooo#....",
         "ooo#....",
         "####....",
         "........",
         "........",
         "........",
     }},
    {.name = "clipped at the bottom right",
     .pen = {PS_SOLID, 1}, .brush = {BS_SOLID}, .box = {5, 4, 12, 10},
     .expected = {
         "........",
         "........",
         "........",
         "........",
         ".....###",
         ".....#oo",
     }},
    {.name = "outline just outside",
     .pen = {PS_SOLID, 1}, .brush = {BS_SOLID}, .box = {-1, -1, 9, 7},
     .expected = Plain(8, 6, 'o')},
    {.name = "far beyond every edge",
     .pen = {PS_SOLID, 1}, .brush = {BS_SOLID}, .box = {-1000000, -1000000, 1000000, 1000000},
     .expected = Plain(8, 6, 'o')},
    {.name = "wide pen on the picture edge",
     .pen = {PS_SOLID, 2}, .brush = {BS_SOLID}, .box = {0, 0, 8, 6},
     .expected = {
         "########",
         "#ooooo##",
         "#ooooo##",
         "#ooooo##",
         "########",
         "########",
     }},
    {.name = "wide pen reaching in from outside",
     .pen = {PS_SOLID, 2}, .brush = {BS_SOLID}, .box = {8, 6, 12, 10},
     .expected = {
         "........",
         "........",
         "........",
         "........",
         "........",
         ".......#",
     }},
    {.name = "right of the picture",
     .pen = {PS_SOLID, 1}, .brush = {BS_SOLID}, .box = {8, 0, 12, 6}, .ground = 'g',
     .expected = Plain(8, 6, 'g')},
    {.name = "below the picture",
     .pen = {PS_SOLID, 1}, .brush = {BS_SOLID}, .box = {0, 6, 8, 9}, .ground = 'g',
     .expected = Plain(8, 6, 'g')},
    {.name = "above and left of the picture",
     .pen = {PS_SOLID, 1}, .brush = {BS_SOLID}, .box = {-5, -5, 0, 0}, .ground = 'g',
     .expected = Plain(8, 6, 'g')},
    {.name = "wide pen above and left",
     .pen = {PS_SOLID, 2}, .brush = {BS_SOLID}, .box = {-5, -5, 0, 0}, .ground = 'g',
     .expected = Plain(8, 6, 'g')},
    // Hatches repeat every 8 pixels from the picture's top left corner.
    {.name = "horizontal hatch",
     .pen = {PS_NULL, 1}, .brush = {BS_HATCHED, HS_HORIZONTAL}, .box = {0, 0, 15, 7},
     .expected = {
         "rrrrrrrrrrrrrr",
         "rrrrrrrrrrrrrr",
         "rrrrrrrrrrrrrr",
         "rrrrrrrrrrrrrr",
         "oooooooooooooo",
         "rrrrrrrrrrrrrr",
     }},
    {.name = "vertical hatch",
     .pen = {PS_NULL, 1}, .brush = {BS_HATCHED, HS_VERTICAL}, .box = {0, 0, 15, 7},
     .expected = {
         "rrrrorrrrrrror",
         "rrrrorrrrrrror",
         "rrrrorrrrrrror",
         "rrrrorrrrrrror",
         "rrrrorrrrrrror",
         "rrrrorrrrrrror",
     }},
    {.name = "forward diagonal hatch",
     .pen = {PS_NULL, 1}, .brush = {BS_HATCHED, HS_FDIAGONAL}, .box = {0, 0, 15, 7},
     .expected = {
         "orrrrrrrorrrrr",
         "rorrrrrrrorrrr",
         "rrorrrrrrrorrr",
         "rrrorrrrrrrorr",
         "rrrrorrrrrrror",
         "rrrrrorrrrrrro",
     }},
    {.name = "backward diagonal hatch",
     .pen = {PS_NULL, 1}, .brush = {BS_HATCHED, HS_BDIAGONAL}, .box = {0, 0, 15, 7},
     .expected = {
         "rrrrrrrorrrrrr",
         "rrrrrrorrrrrrr",
         "rrrrrorrrrrrro",
         "rrrrorrrrrrror",
         "rrrorrrrrrrorr",
         "rrorrrrrrrorrr",
     }},
    {.name = "cross hatch",
     .pen = {PS_NULL, 1}, .brush = {BS_HATCHED, HS_CROSS}, .box = {0, 0, 15, 7},
     .expected = {
         "rrrrorrrrrrror",
         "rrrrorrrrrrror",
         "rrrrorrrrrrror",
         "rrrrorrrrrrror",
         "oooooooooooooo",
         "rrrrorrrrrrror",
     }},
    {.name = "diagonal cross hatch",
     .pen = {PS_NULL, 1}, .brush = {BS_HATCHED, HS_DIAGCROSS}, .box = {0, 0, 15, 7},
     .expected = {
         "orrrrrroorrrrr",
         "rorrrrorrorrrr",
         "rrorrorrrrorro",
         "rrroorrrrrroor",
         "rrroorrrrrroor",
         "rrorrorrrrorro",
     }},
    {.name = "hatch keeps to the picture grid",
     .pen = {PS_NULL, 1}, .brush = {BS_HATCHED, HS_CROSS}, .box = {3, 1, 10, 6},
     .expected = {
         "..............",
         "...rorrrr.....",
         "...rorrrr.....",
         "...rorrrr.....",
         "...oooooo.....",
         "..............",
     }},
    {.name = "hatch with an outline",
     .pen = {PS_SOLID, 1}, .brush = {BS_HATCHED, HS_DIAGCROSS}, .box = {1, 0, 13, 6},
     .expected = {
         ".############.",
         ".#rrrrorrorr#.",
         ".#orrorrrror#.",
         ".#roorrrrrro#.",
         ".#roorrrrrro#.",
         ".############.",
     }},
};
// clang-format on

class DrawRectangleShapes : public testing::TestWithParam<RectDepth> {
protected:
    // A buffer of this depth as big as the picture, filled with `ground`.
    void Make(TFastDIB& dib, const Picture& like, char ground) {
        const RectDepth& d = GetParam();
        const int w = int(like[0].size()), h = int(like.size());
        ASSERT_TRUE(dib.AllocateEx(nullptr, w, h * d.direction, d.bits, d.red, d.green, d.blue));
        if (d.bits <= 8) SetPalette(dib, RectPalette);
        Draw(dib, Plain(w, h, ground), legend);
        ASSERT_EQ(Render(dib, legend), Plain(w, h, ground));
    }
    void SetUp() override {
        const RectDepth& d = GetParam();
        legend = {{'.', Black}, {'g', Green}, {'#', d.pen}, {'o', d.brush}, {'r', d.back}};
    }
    Legend legend;
};

TEST_P(DrawRectangleShapes, ExactPixels) {
    for (const Shape& s : Shapes) {
        SCOPED_TRACE(s.name);
        TFastDIB dib;
        Make(dib, s.expected, s.ground);
        dib.SelectPen(s.pen.style, s.pen.width, PenRef);
        dib.SelectBrush(s.brush.style, s.brush.hatch, BrushRef);
        dib.SetBackColor(BackRef);
        dib.DrawRectangle(s.box.left, s.box.top, s.box.right, s.box.bottom);
        EXPECT_EQ(Render(dib, legend), s.expected);
    }
}

TEST_P(DrawRectangleShapes, NewGeometryBringsBackTheDefaultPenAndBrush) {
    TFastDIB dib;
    Make(dib, Plain(8, 6, '.'), 'g');
    dib.SelectPen(PS_SOLID, 2, PenRef);
    dib.SelectBrush(BS_SOLID, 0, BrushRef);
    // The same geometry keeps what was selected ...
    Make(dib, Plain(8, 6, '.'), 'g');
    dib.DrawRectangle(1, 1, 6, 5);
    EXPECT_EQ(Render(dib, legend), (Picture{
                                       "######gg",
                                       "######gg",
                                       "##oo##gg",
                                       "######gg",
                                       "######gg",
                                       "gggggggg",
                                   }));
    // ... another one starts over with a 1-pixel black pen and a white brush.
    Make(dib, Plain(8, 5, '.'), 'g');
    legend.push_back({'W', White});
    dib.DrawRectangle(1, 1, 6, 5);
    EXPECT_EQ(Render(dib, legend), (Picture{
                                       "gggggggg",
                                       "g.....gg",
                                       "g.WWW.gg",
                                       "g.WWW.gg",
                                       "g.....gg",
                                   }));
}

INSTANTIATE_TEST_SUITE_P(
    Depths, DrawRectangleShapes,
    testing::Values(RectDepth{"Bits24BottomUp", 24, 1, 0, 0, 0, Yellow, Blue, Red},
                    RectDepth{"Bits24TopDown", 24, -1, 0, 0, 0, Yellow, Blue, Red},
                    RectDepth{"Bits32BottomUp", 32, 1, 0, 0, 0, Yellow, Blue, Red},
                    RectDepth{"Bits32TopDown", 32, -1, 0, 0, 0, Yellow, Blue, Red},
                    RectDepth{"Bits32Fields", 32, 1, 8, 8, 8, Yellow, Blue, Red},
                    RectDepth{"Bits16x555", 16, 1, 0, 0, 0, Yellow, Blue, Red},
                    RectDepth{"Bits16x565TopDown", 16, -1, 5, 6, 5, Yellow, Blue, Red},
                    RectDepth{"Bits8BottomUp", 8, 1, 0, 0, 0, 0xF0F010, 0x1010F0, 0xF01010},
                    RectDepth{"Bits8TopDown", 8, -1, 0, 0, 0, 0xF0F010, 0x1010F0, 0xF01010},
                    RectDepth{"Bits4", 4, 1, 0, 0, 0, 0xF0F010, 0x1010F0, 0xF01010}),
    [](const testing::TestParamInfo<RectDepth>& info) { return std::string(info.param.name); });

TEST(DrawRectangle, EmptyBufferIsLeftAlone) {
    TFastDIB dib;
    dib.SelectPen(PS_SOLID, 3, PenRef);
    dib.SelectBrush(BS_HATCHED, HS_CROSS, BrushRef);
    dib.DrawRectangle(-5, -5, 20, 20);
    EXPECT_TRUE(dib.Empty());
}

TEST(DrawRectangle, CornersAtTheEndsOfTheIntegerRange) {
    TFastDIB dib;
    ASSERT_TRUE(dib.Allocate(6, 4, 24));
    dib.SelectPen(PS_SOLID, 1, bmp::RGB(255, 0, 0));
    dib.SelectBrush(BS_SOLID, 0, bmp::RGB(0, 0, 255));
    dib.DrawRectangle(INT_MIN, 1, INT_MAX, 3);
    EXPECT_EQ(Render(dib, Basic), (Picture{"......", "RRRRRR", "RRRRRR", "......"}));
    dib.SelectPen(PS_SOLID, INT_MAX, bmp::RGB(255, 0, 0));
    dib.DrawRectangle(INT_MAX, INT_MAX, INT_MIN, INT_MIN);
    EXPECT_EQ(Render(dib, Basic), Plain(6, 4, 'B'));
}

TEST(DrawRectangle, NewGeometryBringsBackTheWhiteBackground) {
    TFastDIB dib;
    ASSERT_TRUE(dib.Allocate(4, 1, 24));
    dib.SetBackColor(bmp::RGB(255, 0, 0));
    ASSERT_TRUE(dib.Allocate(4, 2, 24));
    dib.SelectPen(PS_NULL, 1, 0);
    dib.SelectBrush(BS_HATCHED, HS_VERTICAL, bmp::RGB(0, 0, 255));
    dib.DrawRectangle(0, 0, 5, 3);
    for (uint32_t c : Colors(dib)) EXPECT_TRUE(c == Blue || c == White) << std::hex << c;
}

// ---------------------------------------------------------------------------
// PaintTo and MemoryImage

struct PaintFormat {
    const char* name;
    int bits;
    int direction;
    uint8_t red, green, blue;
    bool shared; // MemoryImage looks at the buffer's own memory
};

constexpr int PaintW = 5, PaintH = 4;

uint32_t PatternColor(int i) {
    return uint32_t(0x10 + 9 * i) << 16 | uint32_t(0xF0 - 7 * i) << 8 | uint32_t(0x30 + 5 * i);
}

// A picture with no two pixels alike where the depth allows, and an
// asymmetric two-colour one at one bit.
void FillPattern(TFastDIB& dib) {
    const bool marked[PaintH][PaintW] = {
        {1, 1, 0, 0, 0},
        {1, 0, 0, 0, 1},
        {0, 0, 0, 0, 0},
        {0, 0, 1, 0, 0},
    };
    if (dib.BitCount() <= 8) {
        const int entries = std::min(1 << dib.BitCount(), PaintW * PaintH);
        std::vector<uint32_t> palette;
        for (int i = 0; i < entries; ++i) palette.push_back(PatternColor(i));
        SetPalette(dib, palette);
    }
    for (int y = 0; y < PaintH; ++y) {
        for (int x = 0; x < PaintW; ++x) {
            const int i = y * PaintW + x;
            const int row = dib.RowOf(y);
            if (dib.BitCount() == 1)
                dib.PutIndex(row, x, marked[y][x]);
            else if (dib.BitCount() <= 8)
                dib.PutIndex(row, x, uint8_t(i % (1 << dib.BitCount())));
            else
                dib.PutColor(row, x, PatternColor(i));
            // Whatever lies in the unused byte of a plain 32-bit pixel.
            if (dib.BitCount() == 32 && dib.Compression() == BI_RGB)
                dib.RowTable[size_t(row)][4 * x + 3] = uint8_t(0x5A + i);
        }
    }
}

// The picture turned upside down.
std::vector<uint32_t> Flipped(const TFastDIB& dib) {
    std::vector<uint32_t> out;
    for (int y = dib.RowCount - 1; y >= 0; --y)
        for (int x = 0; x < dib.Width(); ++x) out.push_back(PixelAt(dib, x, y));
    return out;
}

class Painting : public testing::TestWithParam<PaintFormat> {
protected:
    void SetUp() override {
        const PaintFormat& f = GetParam();
        ASSERT_TRUE(
            dib.AllocateEx(nullptr, PaintW, PaintH * f.direction, f.bits, f.red, f.green, f.blue));
        FillPattern(dib);
        ASSERT_NE(Colors(dib), Flipped(dib)) << "the picture must show a flip";
    }
    TFastDIB dib;
};

constexpr QRgb Canvas = 0xFF5AA53C;

TEST_P(Painting, PaintToDrawsTheUprightPictureAtTheOffset) {
    for (auto [ox, oy] : {std::pair{4, 3}, {0, 0}, {-2, -1}, {9, 7}}) {
        QImage canvas(12, 9, QImage::Format_RGB32);
        canvas.fill(Canvas);
        {
            QPainter painter(&canvas);
            dib.PaintTo(painter, ox, oy);
        }
        int failures = 0;
        for (int y = 0; y < canvas.height() && failures < 5; ++y) {
            for (int x = 0; x < canvas.width() && failures < 5; ++x) {
                const int px = x - ox, py = y - oy;
                const bool inside = px >= 0 && px < PaintW && py >= 0 && py < PaintH;
                const QRgb want = inside ? 0xFF000000u | PixelAt(dib, px, py) : Canvas;
                if (canvas.pixel(x, y) == want) continue;
                ++failures;
                ADD_FAILURE() << "offset (" << ox << ", " << oy << "): canvas (" << x << ", " << y
                              << ") is " << std::hex << canvas.pixel(x, y) << ", expected " << want;
            }
        }
    }
}

TEST_P(Painting, PaintToFollowsThePainterAndRestoresIt) {
    QImage canvas(12, 9, QImage::Format_RGB32);
    canvas.fill(Canvas);
    QPainter painter(&canvas);
    painter.translate(1, 2);
    const QTransform before = painter.transform();
    dib.PaintTo(painter, 3, 1);
    EXPECT_EQ(painter.transform(), before);
    painter.fillRect(0, 0, 1, 1, QColor(Qt::white));
    painter.end();
    for (int y = 0; y < PaintH; ++y)
        for (int x = 0; x < PaintW; ++x)
            EXPECT_EQ(canvas.pixel(4 + x, 3 + y), 0xFF000000u | PixelAt(dib, x, y))
                << x << ", " << y;
    EXPECT_EQ(canvas.pixel(1, 2), 0xFFFFFFFFu);
    EXPECT_EQ(canvas.pixel(3, 3), Canvas);
    EXPECT_EQ(canvas.pixel(9, 3), Canvas);
    EXPECT_EQ(canvas.pixel(4, 2), Canvas);
    EXPECT_EQ(canvas.pixel(4, 7), Canvas);
}

TEST_P(Painting, MemoryImageHoldsTheRowsInMemoryOrder) {
    const QImage img = dib.MemoryImage();
    ASSERT_FALSE(img.isNull());
    ASSERT_EQ(img.width(), PaintW);
    ASSERT_EQ(img.height(), PaintH);
    for (int r = 0; r < PaintH; ++r)
        for (int c = 0; c < PaintW; ++c)
            EXPECT_EQ(img.pixel(c, r), 0xFF000000u | dib.GetColor(r, c))
                << "row " << r << " column " << c;
    if (GetParam().shared) {
        EXPECT_EQ(img.constBits(), dib.PixelData);
        EXPECT_EQ(img.bytesPerLine(), dib.Stride);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, Painting,
    testing::Values(PaintFormat{"Bits24BottomUp", 24, 1, 0, 0, 0, true},
                    PaintFormat{"Bits24TopDown", 24, -1, 0, 0, 0, true},
                    PaintFormat{"Bits32BottomUp", 32, 1, 0, 0, 0, true},
                    PaintFormat{"Bits32TopDown", 32, -1, 0, 0, 0, true},
                    PaintFormat{"Bits32Fields888", 32, 1, 8, 8, 8, true},
                    PaintFormat{"Bits32Fields101010", 32, 1, 10, 10, 10, false},
                    PaintFormat{"Bits16x555BottomUp", 16, 1, 0, 0, 0, true},
                    PaintFormat{"Bits16x555TopDown", 16, -1, 0, 0, 0, true},
                    PaintFormat{"Bits16x565BottomUp", 16, 1, 5, 6, 5, true},
                    PaintFormat{"Bits16x565TopDown", 16, -1, 5, 6, 5, true},
                    PaintFormat{"Bits8BottomUp", 8, 1, 0, 0, 0, true},
                    PaintFormat{"Bits8TopDown", 8, -1, 0, 0, 0, true},
                    PaintFormat{"Bits4BottomUp", 4, 1, 0, 0, 0, false},
                    PaintFormat{"Bits1BottomUp", 1, 1, 0, 0, 0, true},
                    PaintFormat{"Bits1TopDown", 1, -1, 0, 0, 0, true}),
    [](const testing::TestParamInfo<PaintFormat>& info) { return std::string(info.param.name); });

TEST(PaintTo, EmptyBufferPaintsNothing) {
    TFastDIB dib;
    EXPECT_TRUE(dib.MemoryImage().isNull());
    QImage canvas(4, 4, QImage::Format_RGB32);
    canvas.fill(Canvas);
    const QImage before = canvas.copy();
    {
        QPainter painter(&canvas);
        dib.PaintTo(painter, 0, 0);
    }
    EXPECT_EQ(canvas, before);
}

} // namespace

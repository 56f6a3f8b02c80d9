// Allocation geometry and the single-pixel routines of TFastDIB.
#include "FastDIBTestUtil.h"

#include <gtest/gtest.h>

#include <climits>

using namespace dibtest;

namespace {

struct Geometry {
    int width;
    int bits;
    int stride;
    int padding;
};

class AllocateGeometry : public testing::TestWithParam<Geometry> {};

TEST_P(AllocateGeometry, StrideAndPaddingFollowTheRowRule) {
    const Geometry g = GetParam();
    TFastDIB dib;
    ASSERT_TRUE(dib.Allocate(g.width, 3, g.bits));
    EXPECT_EQ(dib.Stride, g.stride);
    EXPECT_EQ(dib.RowPadding, g.padding);
    EXPECT_EQ(dib.RowCount, 3);
    EXPECT_EQ(dib.Header.bmiHeader.biSizeImage, uint32_t(3 * g.stride));
    EXPECT_EQ(dib.Stride % 4, 0);
}

INSTANTIATE_TEST_SUITE_P(
    PerDepth, AllocateGeometry,
    testing::Values(Geometry{1, 1, 4, 3}, Geometry{8, 1, 4, 3}, Geometry{32, 1, 4, 0},
                    Geometry{33, 1, 8, 3}, Geometry{1, 4, 4, 3}, Geometry{3, 4, 4, 2},
                    Geometry{8, 4, 4, 0}, Geometry{9, 4, 8, 3}, Geometry{1, 8, 4, 3},
                    Geometry{4, 8, 4, 0}, Geometry{5, 8, 8, 3}, Geometry{1, 16, 4, 2},
                    Geometry{2, 16, 4, 0}, Geometry{3, 16, 8, 2}, Geometry{1, 24, 4, 1},
                    Geometry{3, 24, 12, 3}, Geometry{4, 24, 12, 0}, Geometry{5, 24, 16, 1},
                    Geometry{3, 32, 12, 0}, Geometry{7, 32, 28, 0}),
    [](const testing::TestParamInfo<Geometry>& info) {
        return "w" + std::to_string(info.param.width) + "_b" + std::to_string(info.param.bits);
    });

TEST(Allocate, HeaderDescribesTheBuffer) {
    TFastDIB dib;
    EXPECT_TRUE(dib.Empty());
    EXPECT_EQ(dib.Header.bmiHeader.biSize, 40u);
    EXPECT_EQ(dib.Header.bmiHeader.biPlanes, 1);

    ASSERT_TRUE(dib.Allocate(6, -5, 24));
    EXPECT_FALSE(dib.Empty());
    EXPECT_EQ(dib.Width(), 6);
    EXPECT_EQ(dib.Height(), -5);
    EXPECT_EQ(dib.RowCount, 5);
    EXPECT_EQ(dib.BitCount(), 24);
    EXPECT_EQ(dib.Compression(), bmp::BI_RGB);
    EXPECT_EQ(dib.Header.bmiHeader.biSizeImage, uint32_t(5 * 20));
    EXPECT_EQ(dib.Header.bmiHeader.biClrUsed, 0u);
    EXPECT_EQ(dib.Header.bmiHeader.biSize, 40u);
    EXPECT_EQ(dib.Header.bmiHeader.biPlanes, 1);
}

TEST(Allocate, RowIndexAddressesMemoryRows) {
    TFastDIB dib;
    ASSERT_TRUE(dib.Allocate(3, 4, 24));
    dib.PutColor(2, 1, 0x112233);
    const uint8_t* p = dib.PixelData + 2 * dib.Stride + 3;
    EXPECT_EQ(p[0], 0x33);
    EXPECT_EQ(p[1], 0x22);
    EXPECT_EQ(p[2], 0x11);
    // A positive height is bottom-up: the top line is the last memory row.
    EXPECT_EQ(dib.RowOf(0), 3);
    EXPECT_EQ(dib.RowOf(3), 0);
    ASSERT_TRUE(dib.Allocate(3, -4, 24));
    EXPECT_EQ(dib.RowOf(0), 0);
    EXPECT_EQ(dib.RowOf(3), 3);
}

TEST(Allocate, SameGeometryKeepsPixelsOtherGeometryIsBlack) {
    TFastDIB dib;
    ASSERT_TRUE(dib.Allocate(5, 4, 24));
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 5; ++c) dib.PutColor(r, c, 0x102030 + uint32_t(r * 5 + c));
    const std::vector<uint8_t> before = MemoryBytes(dib);

    ASSERT_TRUE(dib.Allocate(5, 4, 24));
    EXPECT_EQ(MemoryBytes(dib), before);

    struct Other {
        int w, h, bits;
    };
    for (Other o : {Other{5, -4, 24}, Other{4, 4, 24}, Other{5, 3, 24}, Other{5, 4, 32}}) {
        ASSERT_TRUE(dib.Allocate(5, 4, 24));
        dib.PutColor(1, 1, White);
        ASSERT_TRUE(dib.Allocate(o.w, o.h, o.bits));
        const std::vector<uint8_t> bytes = MemoryBytes(dib);
        EXPECT_EQ(bytes, std::vector<uint8_t>(bytes.size(), 0))
            << o.w << "x" << o.h << " " << o.bits << " bits";
    }
}

TEST(Allocate, ChannelWidthsAreGeometryToo) {
    TFastDIB dib;
    ASSERT_TRUE(dib.Allocate(2, 2, 16));
    dib.PutColor(0, 0, White);
    ASSERT_TRUE(dib.AllocateEx(nullptr, 2, 2, 16, 5, 6, 5));
    EXPECT_EQ(dib.GetColor(0, 0), Black);
    dib.PutColor(0, 0, White);
    ASSERT_TRUE(dib.AllocateEx(nullptr, 2, 2, 16, 5, 6, 5));
    EXPECT_EQ(dib.GetColor(0, 0), White);
}

TEST(Allocate, MasksForSixteenAndThirtyTwoBits) {
    TFastDIB dib;
    ASSERT_TRUE(dib.Allocate(2, 2, 16));
    EXPECT_EQ(dib.Compression(), bmp::BI_RGB);
    EXPECT_EQ(dib.Mask(0), 0x7C00u);
    EXPECT_EQ(dib.Mask(1), 0x03E0u);
    EXPECT_EQ(dib.Mask(2), 0x001Fu);
    EXPECT_EQ(dib.RedBits, 5);
    EXPECT_EQ(dib.GreenBits, 5);
    EXPECT_EQ(dib.BlueBits, 5);

    ASSERT_TRUE(dib.AllocateEx(nullptr, 2, 2, 16, 5, 6, 5));
    EXPECT_EQ(dib.Compression(), bmp::BI_BITFIELDS);
    EXPECT_EQ(dib.Mask(0), 0xF800u);
    EXPECT_EQ(dib.Mask(1), 0x07E0u);
    EXPECT_EQ(dib.Mask(2), 0x001Fu);
    EXPECT_EQ(dib.GreenUp, 5);
    EXPECT_EQ(dib.RedUp, 11);
    EXPECT_EQ(dib.GreenDown, 2);
    EXPECT_EQ(dib.RedDown, 3);

    ASSERT_TRUE(dib.Allocate(2, 2, 32));
    EXPECT_EQ(dib.Compression(), bmp::BI_RGB);
    EXPECT_EQ(dib.Mask(0), 0xFF0000u);
    EXPECT_EQ(dib.Mask(1), 0x00FF00u);
    EXPECT_EQ(dib.Mask(2), 0x0000FFu);
    EXPECT_EQ(dib.RedDown, 0);

    ASSERT_TRUE(dib.AllocateEx(nullptr, 2, 2, 32, 10, 10, 10));
    EXPECT_EQ(dib.Compression(), bmp::BI_BITFIELDS);
    EXPECT_EQ(dib.Mask(0), 0x3FF00000u);
    EXPECT_EQ(dib.Mask(1), 0x000FFC00u);
    EXPECT_EQ(dib.Mask(2), 0x000003FFu);
}

TEST(Allocate, BgrxOnlyForEightBitChannelsInFourBytes) {
    struct Case {
        int bits;
        uint8_t red, green, blue;
        bool bgrx;
    };
    for (Case c : {Case{32, 0, 0, 0, true}, Case{32, 8, 8, 8, true}, Case{32, 10, 10, 10, false},
                   Case{32, 8, 8, 7, false}, Case{24, 0, 0, 0, false}, Case{16, 0, 0, 0, false}}) {
        TFastDIB dib;
        ASSERT_TRUE(dib.AllocateEx(nullptr, 2, 2, c.bits, c.red, c.green, c.blue));
        EXPECT_EQ(dib.IsBgrx(), c.bgrx)
            << c.bits << " bits " << int(c.red) << "-" << int(c.green) << "-" << int(c.blue);
    }
}

TEST(Allocate, OwnsOnlyItsOwnBlock) {
    TFastDIB dib;
    EXPECT_FALSE(dib.OwnsPixels());
    ASSERT_TRUE(dib.Allocate(2, 2, 24));
    EXPECT_TRUE(dib.OwnsPixels());
    uint8_t outside[16] = {};
    ASSERT_TRUE(dib.AllocateEx(outside, 2, 2, 24, 0, 0, 0));
    EXPECT_FALSE(dib.OwnsPixels());
    EXPECT_EQ(dib.PixelData, outside);
    // Back to its own block: a fresh one, not the caller's memory again.
    ASSERT_TRUE(dib.Allocate(2, 2, 24));
    EXPECT_TRUE(dib.OwnsPixels());
    EXPECT_NE(dib.PixelData, outside);
    EXPECT_FALSE(dib.Allocate(0, 2, 24));
    EXPECT_FALSE(dib.OwnsPixels());
}

TEST(Allocate, PaletteIsNotTouched) {
    TFastDIB dib;
    ASSERT_TRUE(dib.Allocate(4, 4, 8));
    SetPalette(dib, {Red, Green, Blue});
    ASSERT_TRUE(dib.Allocate(7, 2, 8));
    EXPECT_EQ(dib.GetColor(0, 0), Red);
    dib.PutIndex(0, 1, 2);
    EXPECT_EQ(dib.GetColor(0, 1), Blue);
}

TEST(Allocate, UnusableGeometryLeavesTheBufferEmpty) {
    struct Bad {
        int w, h, bits;
    };
    for (Bad b :
         {Bad{0, 4, 24}, Bad{-3, 4, 24}, Bad{4, 0, 24}, Bad{4, 4, 0}, Bad{4, 4, 2}, Bad{4, 4, 12},
          Bad{4, 4, 64}, Bad{32768, 1, 8}, Bad{1, 32768, 8}, Bad{1, -32768, 8}, Bad{INT_MAX, 1, 32},
          Bad{1, INT_MIN, 8}, Bad{INT_MIN, 1, 8}, Bad{16384, 8193, 32}, Bad{32767, 32767, 32}}) {
        TFastDIB dib;
        ASSERT_TRUE(dib.Allocate(3, 3, 24));
        EXPECT_FALSE(dib.Allocate(b.w, b.h, b.bits)) << b.w << "x" << b.h << " " << b.bits;
        EXPECT_TRUE(dib.Empty());
        EXPECT_EQ(dib.RowCount, 0);
        EXPECT_EQ(dib.Width(), 0);
        // An empty buffer takes pixel calls without touching memory.
        dib.PutColor(0, 0, White);
        EXPECT_EQ(dib.GetColor(0, 0), Black);
    }
    TFastDIB dib;
    EXPECT_FALSE(dib.AllocateEx(nullptr, 2, 2, 16, 6, 6, 5)); // 17 bits do not fit in a word
    EXPECT_TRUE(dib.Empty());
}

TEST(Allocate, LargestPictureIsAccepted) {
    TFastDIB dib;
    // 16384 x 8192 x 4 bytes is exactly the limit.
    ASSERT_TRUE(dib.Allocate(16384, 8192, 32));
    EXPECT_EQ(dib.Header.bmiHeader.biSizeImage, 512u << 20);
    dib.PutColor(8191, 16383, White);
    EXPECT_EQ(dib.GetColor(8191, 16383), White);
    ASSERT_TRUE(dib.Allocate(32767, 1, 32));
    EXPECT_EQ(dib.Stride, 4 * 32767);
}

TEST(PixelAccess, TwentyFourBitsStoresBlueGreenRed) {
    TFastDIB dib;
    ASSERT_TRUE(dib.Allocate(2, 1, 24));
    dib.PutColor(0, 1, 0x123456);
    EXPECT_EQ(dib.PixelData[3], 0x56);
    EXPECT_EQ(dib.PixelData[4], 0x34);
    EXPECT_EQ(dib.PixelData[5], 0x12);
    EXPECT_EQ(dib.GetColor(0, 1), 0x123456u);
    EXPECT_EQ(dib.GetColor(0, 0), 0u);
}

TEST(PixelAccess, ThirtyTwoBitsLeavesTheFourthByte) {
    TFastDIB dib;
    ASSERT_TRUE(dib.Allocate(2, 1, 32));
    dib.PixelData[7] = 0xA5;
    dib.PutColor(0, 1, 0xFF123456);
    EXPECT_EQ(dib.PixelData[4], 0x56);
    EXPECT_EQ(dib.PixelData[5], 0x34);
    EXPECT_EQ(dib.PixelData[6], 0x12);
    EXPECT_EQ(dib.PixelData[7], 0xA5);
    EXPECT_EQ(dib.GetColor(0, 1), 0x123456u);

    // A bit-field buffer writes the whole word.
    TFastDIB fields;
    ASSERT_TRUE(fields.AllocateEx(nullptr, 2, 1, 32, 8, 8, 8));
    EXPECT_EQ(fields.Compression(), bmp::BI_BITFIELDS);
    fields.PixelData[7] = 0xA5;
    fields.PutColor(0, 1, 0x123456);
    EXPECT_EQ(fields.PixelData[7], 0x00);
    EXPECT_EQ(fields.GetColor(0, 1), 0x123456u);
}

TEST(PixelAccess, SixteenBitsQuantisesAndExpands) {
    TFastDIB dib;
    ASSERT_TRUE(dib.Allocate(1, 1, 16));
    dib.PutColor(0, 0, 0x123456);
    // red 0x12 >> 3 = 2, green 0x34 >> 3 = 6, blue 0x56 >> 3 = 10
    EXPECT_EQ(dib.PixelData[0] | dib.PixelData[1] << 8, 2 << 10 | 6 << 5 | 10);
    EXPECT_EQ(dib.GetColor(0, 0), 0x103152u);
    dib.PutColor(0, 0, White);
    EXPECT_EQ(dib.PixelData[0] | dib.PixelData[1] << 8, 0x7FFF);
    EXPECT_EQ(dib.GetColor(0, 0), White);

    ASSERT_TRUE(dib.AllocateEx(nullptr, 1, 1, 16, 5, 6, 5));
    dib.PutColor(0, 0, 0x123456);
    // red 2, green 0x34 >> 2 = 13 (expands to 13 << 2 | 13 >> 4 = 0x34), blue 10
    EXPECT_EQ(dib.PixelData[0] | dib.PixelData[1] << 8, 2 << 11 | 13 << 5 | 10);
    EXPECT_EQ(dib.GetColor(0, 0), 0x103452u);
    dib.PutColor(0, 0, White);
    EXPECT_EQ(dib.PixelData[0] | dib.PixelData[1] << 8, 0xFFFF);
}

TEST(PixelAccess, IndexBitOrder) {
    TFastDIB one;
    ASSERT_TRUE(one.Allocate(12, 1, 1));
    one.PutIndex(0, 0, 1);
    one.PutIndex(0, 9, 1);
    EXPECT_EQ(one.PixelData[0], 0x80);
    EXPECT_EQ(one.PixelData[1], 0x40);
    EXPECT_EQ(one.GetIndex(0, 9), 1);
    EXPECT_EQ(one.GetIndex(0, 8), 0);
    one.PutIndex(0, 0, 0);
    EXPECT_EQ(one.PixelData[0], 0x00);

    TFastDIB four;
    ASSERT_TRUE(four.Allocate(3, 1, 4));
    four.PutIndex(0, 0, 0xA);
    four.PutIndex(0, 1, 0x5);
    four.PutIndex(0, 2, 0xC);
    EXPECT_EQ(four.PixelData[0], 0xA5);
    EXPECT_EQ(four.PixelData[1], 0xC0);
    EXPECT_EQ(four.GetIndex(0, 0), 0xA);
    EXPECT_EQ(four.GetIndex(0, 1), 0x5);
    four.PutIndex(0, 0, 0x3);
    EXPECT_EQ(four.PixelData[0], 0x35);

    TFastDIB eight;
    ASSERT_TRUE(eight.Allocate(3, 2, 8));
    eight.PutIndex(1, 2, 200);
    EXPECT_EQ(eight.PixelData[eight.Stride + 2], 200);
    EXPECT_EQ(eight.GetIndex(1, 2), 200);
}

TEST(PixelAccess, PalettedColoursGoThroughTheColourTable) {
    TFastDIB dib;
    ASSERT_TRUE(dib.Allocate(4, 1, 4));
    SetPalette(dib, {Black, 0x800000, 0x008000, 0x808000, 0x000080});
    dib.PutColor(0, 2, 0x7A0505); // nearest is 0x800000
    EXPECT_EQ(dib.GetIndex(0, 2), 1);
    EXPECT_EQ(dib.GetColor(0, 2), 0x800000u);
    dib.PutIndex(0, 3, 4);
    EXPECT_EQ(dib.GetColor(0, 3), 0x000080u);
}

TEST(PixelAccess, OutOfRangeIsIgnored) {
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        TFastDIB dib;
        ASSERT_TRUE(dib.Allocate(3, 2, bits));
        SetPalette(dib, {Black, White});
        const std::vector<uint8_t> before = MemoryBytes(dib);
        for (auto [r, c] : {std::pair{-1, 0}, {2, 0}, {0, -1}, {0, 3}, {INT_MIN, INT_MAX}}) {
            dib.PutColor(r, c, White);
            dib.PutIndex(r, c, 1);
            EXPECT_EQ(dib.GetColor(r, c), 0u) << bits;
            EXPECT_EQ(dib.GetIndex(r, c), 0) << bits;
        }
        EXPECT_EQ(MemoryBytes(dib), before) << bits;
    }
}

TEST(NearestIndex, LowestIndexWinsTies) {
    TFastDIB dib;
    ASSERT_TRUE(dib.Allocate(1, 1, 8));
    SetPalette(dib, {White, 0x0A0000, 0x000A00, 0x050500, 0x123456, 0x050500});
    EXPECT_EQ(dib.NearestIndex(0x050500), 3); // exact at 3 and 5
    EXPECT_EQ(dib.NearestIndex(0x050000), 1); // 5 from entry 1 and from entry 3
    EXPECT_EQ(dib.NearestIndex(0x000500), 2); // 5 from 2, 5 from 3: 2 is lower
    EXPECT_EQ(dib.NearestIndex(0x123457), 4);
    EXPECT_EQ(dib.NearestIndex(0xFFFFFE), 0);
}

TEST(NearestIndex, ZeroWhenNothingIsCloserThanTheMaximum) {
    TFastDIB dib;
    ASSERT_TRUE(dib.Allocate(1, 1, 4));
    SetPalette(dib, std::vector<uint32_t>(16, Black));
    EXPECT_EQ(dib.NearestIndex(White), 0); // every entry is 765 away
    dib.ColorTable[15].rgbRed = 1;
    EXPECT_EQ(dib.NearestIndex(White), 15); // 764
}

TEST(NearestIndex, OnlyTheBufferDepthsEntriesCount) {
    TFastDIB dib;
    ASSERT_TRUE(dib.Allocate(1, 1, 1));
    SetPalette(dib, {Black, 0x808080, White});
    EXPECT_EQ(dib.NearestIndex(White), 1);
    ASSERT_TRUE(dib.Allocate(1, 1, 4));
    SetPalette(dib, {Black, 0x808080});
    for (int i = 2; i < 256; ++i) dib.ColorTable[i] = {0x40, 0x40, 0x40, 0};
    dib.ColorTable[16] = {0xFF, 0xFF, 0xFF, 0};
    EXPECT_EQ(dib.NearestIndex(White), 1);
    EXPECT_EQ(dib.NearestIndex(0x404040), 2);
    ASSERT_TRUE(dib.Allocate(1, 1, 8));
    EXPECT_EQ(dib.NearestIndex(White), 16);
}

// Repeats the bits of a width-bit value to fill eight bits.
uint8_t Replicate(uint32_t v, int width) {
    uint32_t out = 0;
    for (int filled = 0; filled < 8; filled += width) out = out << width | v;
    int total = (8 + width - 1) / width * width;
    return uint8_t(out >> (total - 8));
}

TEST(ExpandChannel, ReplicatesTheFieldBits) {
    for (int width = 1; width <= 8; ++width) {
        for (uint32_t v = 0; v < (1u << width); ++v)
            EXPECT_EQ(TFastDIB::ExpandChannel(v, width), Replicate(v, width))
                << "width " << width << " value " << v;
        EXPECT_EQ(TFastDIB::ExpandChannel((1u << width) - 1, width), 255) << width;
        EXPECT_EQ(TFastDIB::ExpandChannel(0, width), 0) << width;
    }
}

TEST(ExpandChannel, KnownValues) {
    EXPECT_EQ(TFastDIB::ExpandChannel(1, 1), 255);
    EXPECT_EQ(TFastDIB::ExpandChannel(2, 2), 0xAA);
    EXPECT_EQ(TFastDIB::ExpandChannel(1, 2), 0x55);
    EXPECT_EQ(TFastDIB::ExpandChannel(4, 3), 0x92);
    EXPECT_EQ(TFastDIB::ExpandChannel(8, 4), 0x88);
    EXPECT_EQ(TFastDIB::ExpandChannel(16, 5), 0x84);
    EXPECT_EQ(TFastDIB::ExpandChannel(10, 5), 0x52);
    EXPECT_EQ(TFastDIB::ExpandChannel(32, 6), 0x82);
    EXPECT_EQ(TFastDIB::ExpandChannel(64, 7), 0x81);
    EXPECT_EQ(TFastDIB::ExpandChannel(200, 8), 200);
}

} // namespace

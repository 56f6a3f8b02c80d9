// Bilinear scaling with TFastDIB::ScaleInto.
#include "FastDIBTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace dibtest;

namespace {

struct Channels {
    int red = 8, green = 8, blue = 8;
};

// Builds a buffer of the given depth; 16-bit buffers with a layout other than
// 5-5-5 are bit-field buffers.
void Make(TFastDIB& dib, int w, int h, int bits, Channels c = {}) {
    bool fields = bits == 16 && !(c.red == 5 && c.green == 5 && c.blue == 5);
    if (bits == 16 && c.red == 8) c = {5, 5, 5};
    bool ok = fields ? dib.AllocateEx(nullptr, w, h, bits, uint8_t(c.red), uint8_t(c.green),
                                      uint8_t(c.blue))
                     : dib.Allocate(w, h, bits);
    ASSERT_TRUE(ok);
}

// One row of 24-bit pixels, one colour per column.
void FillRow(TFastDIB& dib, int row, const std::vector<uint32_t>& colors) {
    for (size_t c = 0; c < colors.size(); ++c) dib.PutColor(row, int(c), colors[c]);
}

std::vector<uint32_t> RowColors(const TFastDIB& dib, int row) {
    std::vector<uint32_t> out;
    for (int c = 0; c < dib.Width(); ++c) out.push_back(dib.GetColor(row, c));
    return out;
}

uint32_t Gray(uint32_t v) {
    return v << 16 | v << 8 | v;
}

TEST(ScaleFigures, LastSourceColumnIsNeverSampled) {
    TFastDIB src, two, three;
    Make(src, 4, 1, 24);
    FillRow(src, 0, {Gray(0), Gray(100), Gray(200), Gray(255)});
    Make(two, 2, 1, 24);
    Make(three, 3, 1, 24);
    src.ScaleInto(two);
    src.ScaleInto(three);
    EXPECT_EQ(RowColors(two, 0), (std::vector<uint32_t>{Gray(0), Gray(150)}));
    EXPECT_EQ(RowColors(three, 0), (std::vector<uint32_t>{Gray(0), Gray(100), Gray(200)}));
}

TEST(ScaleFigures, ChannelsAreInterpolatedSeparately) {
    auto rgb = [](uint32_t r, uint32_t g, uint32_t b) { return r << 16 | g << 8 | b; };
    TFastDIB src, two, three;
    Make(src, 4, 1, 24);
    FillRow(src, 0, {rgb(255, 10, 0), rgb(155, 20, 100), rgb(55, 30, 200), rgb(0, 40, 255)});
    Make(two, 2, 1, 24);
    Make(three, 3, 1, 24);
    src.ScaleInto(two);
    src.ScaleInto(three);
    EXPECT_EQ(RowColors(two, 0), (std::vector<uint32_t>{rgb(255, 10, 0), rgb(105, 25, 150)}));
    EXPECT_EQ(RowColors(three, 0),
              (std::vector<uint32_t>{rgb(255, 10, 0), rgb(155, 20, 100), rgb(55, 30, 200)}));
}

TEST(ScaleFigures, ResultsAreTruncated) {
    TFastDIB src, dst;
    Make(src, 2, 1, 24);
    FillRow(src, 0, {Gray(10), Gray(20)});
    Make(dst, 4, 1, 24);
    src.ScaleInto(dst);
    EXPECT_EQ(RowColors(dst, 0), (std::vector<uint32_t>{Gray(10), Gray(12), Gray(15), Gray(17)}));
}

TEST(ScaleFigures, OneRowSourceFillsEveryRow) {
    for (int height : {3, -3}) {
        TFastDIB src, dst;
        Make(src, 4, height > 0 ? 1 : -1, 24);
        FillRow(src, 0, {Gray(0), Gray(100), Gray(200), Gray(255)});
        Make(dst, 3, height, 24);
        src.ScaleInto(dst);
        for (int r = 0; r < 3; ++r)
            EXPECT_EQ(RowColors(dst, r), (std::vector<uint32_t>{Gray(0), Gray(100), Gray(200)}))
                << "row " << r;
    }
}

TEST(ScaleFigures, OneColumnSourceFillsEveryColumn) {
    // One-pixel-wide rows: the right neighbour of a pixel lies outside the
    // row (and, on the last row, outside the buffer); it must not be read.
    for (int bits : {8, 16, 24, 32}) {
        TFastDIB src, dst;
        Make(src, 1, 3, bits);
        const uint32_t values[3] = {0x000000, 0x5A5A5A, 0xB4B4B4};
        for (int r = 0; r < 3; ++r) {
            if (bits == 8)
                src.PutIndex(r, 0, uint8_t(values[r]));
            else
                src.PutColor(r, 0, values[r]);
        }
        Make(dst, 5, 2, bits);
        src.ScaleInto(dst);
        // yStep is one source row: destination row 1 takes source row 1.
        for (int r = 0; r < 2; ++r)
            for (int c = 0; c < 5; ++c) {
                if (bits == 8)
                    EXPECT_EQ(dst.GetIndex(r, c), uint8_t(values[r])) << r << "," << c;
                else
                    EXPECT_EQ(dst.GetColor(r, c), src.GetColor(r, 0))
                        << bits << " bits " << r << "," << c;
            }
    }
}

TEST(ScaleFigures, SinglePixelDestinationTakesTheFirstPixel) {
    TFastDIB src, dst;
    Make(src, 3, 3, 24);
    for (int r = 0; r < 3; ++r) FillRow(src, r, {Gray(40 + r), Gray(90), Gray(140)});
    Make(dst, 1, 1, 24);
    src.ScaleInto(dst);
    EXPECT_EQ(dst.GetColor(0, 0), Gray(40));
}

TEST(ScaleFigures, RowsBlendVertically) {
    TFastDIB src, dst;
    Make(src, 1, 2, 24);
    src.PutColor(0, 0, Gray(0));
    src.PutColor(1, 0, Gray(200));
    Make(dst, 1, 4, 24);
    src.ScaleInto(dst);
    // yStep = 16384; row weights 65536 - fy and fy + 1.
    EXPECT_EQ(dst.GetColor(0, 0), Gray(0));
    EXPECT_EQ(dst.GetColor(1, 0), Gray((200 * 16385) >> 16));
    EXPECT_EQ(dst.GetColor(2, 0), Gray((200 * 32769) >> 16));
    EXPECT_EQ(dst.GetColor(3, 0), Gray((200 * 49153) >> 16));
    EXPECT_EQ(dst.GetColor(3, 0), Gray(150));
}

TEST(ScaleDepths, EightBitsInterpolatesIndicesAndKeepsTheDestinationPalette) {
    TFastDIB src, dst;
    Make(src, 4, 1, 8);
    const uint8_t idx[4] = {0, 100, 200, 255};
    for (int c = 0; c < 4; ++c) src.PutIndex(0, c, idx[c]);
    SetPalette(src, {Red, Green, Blue});
    Make(dst, 2, 1, 8);
    SetPalette(dst, {White, Black});
    src.ScaleInto(dst);
    EXPECT_EQ(dst.GetIndex(0, 0), 0);
    EXPECT_EQ(dst.GetIndex(0, 1), 150);
    EXPECT_EQ(dst.GetColor(0, 0), White);
    EXPECT_EQ(dst.GetColor(0, 1), Black);
    EXPECT_EQ(dst.ColorTable[1].rgbRed, 0);
    EXPECT_EQ(dst.ColorTable[2].rgbBlue, 0);
}

uint16_t Word(const TFastDIB& dib, int row, int col) {
    const uint8_t* p = dib.PixelData + row * dib.Stride + 2 * col;
    return uint16_t(p[0] | p[1] << 8);
}

TEST(ScaleDepths, SixteenBitsWorksOnFieldsMovedToTheTopOfAByte) {
    // 5-5-5 source, 5-6-5 destination: a 5-bit field of 31 becomes the byte
    // 248 (low bits zero), so in six bits it is 62, not 63.
    TFastDIB src, dst;
    Make(src, 2, 1, 16);
    src.PixelData[0] = 0x00; // red 31, green 0, blue 0
    src.PixelData[1] = 0x7C;
    src.PixelData[2] = 0xFF; // red 31, green 31, blue 31
    src.PixelData[3] = 0x7F;
    Make(dst, 4, 1, 16, {5, 6, 5});
    src.ScaleInto(dst);
    auto pack565 = [](int r, int g, int b) { return uint16_t(r << 11 | g << 5 | b); };
    // 248 scaled by fx = 0, 1/4, 1/2, 3/4: 0, 62, 124, 186.
    EXPECT_EQ(Word(dst, 0, 0), pack565(31, 0, 0));
    EXPECT_EQ(Word(dst, 0, 1), pack565(31, 62 >> 2, 62 >> 3));
    EXPECT_EQ(Word(dst, 0, 2), pack565(31, 124 >> 2, 124 >> 3));
    EXPECT_EQ(Word(dst, 0, 3), pack565(31, 186 >> 2, 186 >> 3));
    EXPECT_EQ(186 >> 2, 46);

    // Straight through, without interpolation.
    TFastDIB one;
    Make(one, 1, 1, 16, {5, 6, 5});
    src.ScaleInto(one);
    EXPECT_EQ(Word(one, 0, 0), pack565(31, 0, 0));
    src.PixelData[0] = 0xFF; // red, green and blue 31
    src.PixelData[1] = 0x7F;
    src.ScaleInto(one);
    EXPECT_EQ(Word(one, 0, 0), pack565(31, 62, 31));
}

TEST(ScaleDepths, SixtyFiveToFiveFiveFive) {
    TFastDIB src, dst;
    Make(src, 1, 1, 16, {5, 6, 5});
    src.PixelData[0] = 0xFF; // all ones
    src.PixelData[1] = 0xFF;
    Make(dst, 2, 2, 16);
    src.ScaleInto(dst);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 2; ++c) EXPECT_EQ(Word(dst, r, c), 0x7FFF);
}

TEST(ScaleDepths, ThirtyTwoBitsLeavesTheFourthByte) {
    TFastDIB src, dst;
    Make(src, 4, 1, 32);
    FillRow(src, 0, {Gray(0), Gray(100), Gray(200), Gray(255)});
    for (int c = 0; c < 4; ++c) src.PixelData[4 * c + 3] = 0xEE;
    Make(dst, 3, 1, 32);
    for (int c = 0; c < 3; ++c) dst.PixelData[4 * c + 3] = uint8_t(0x10 + c);
    src.ScaleInto(dst);
    EXPECT_EQ(RowColors(dst, 0), (std::vector<uint32_t>{Gray(0), Gray(100), Gray(200)}));
    for (int c = 0; c < 3; ++c) EXPECT_EQ(dst.PixelData[4 * c + 3], 0x10 + c);
}

TEST(ScaleDepths, DifferentOrUnsupportedDepthsChangeNothing) {
    struct Pair {
        int from, to;
    };
    for (Pair p : {Pair{32, 24}, Pair{24, 32}, Pair{8, 16}, Pair{1, 1}, Pair{4, 4}}) {
        TFastDIB src, dst;
        Make(src, 3, 2, p.from);
        std::fill(src.PixelData, src.PixelData + src.Header.bmiHeader.biSizeImage, 0xFF);
        Make(dst, 5, 3, p.to);
        std::fill(dst.PixelData, dst.PixelData + dst.Header.bmiHeader.biSizeImage, 0x3C);
        const std::vector<uint8_t> before = MemoryBytes(dst);
        src.ScaleInto(dst);
        EXPECT_EQ(MemoryBytes(dst), before) << p.from << " -> " << p.to;
    }
    TFastDIB empty, dst;
    Make(dst, 2, 2, 24);
    empty.ScaleInto(dst);
    EXPECT_EQ(MemoryBytes(dst), std::vector<uint8_t>(16, 0));
    dst.ScaleInto(empty);
    EXPECT_TRUE(empty.Empty());
}

// The scaling arithmetic written out directly: 16.16 positions stepped per
// pixel and row, weights 65536 - f and f + 1, four-sample blend, truncation.
std::vector<uint8_t> ReferenceScale(const TFastDIB& S, const TFastDIB& D, Channels sl,
                                    Channels dl) {
    const int bits = S.BitCount();
    const int bytes = bits / 8;
    std::vector<uint8_t> out = MemoryBytes(D);
    auto channel = [&](const uint8_t* row, int x, int k) -> uint32_t {
        if (bits != 16) return row[x * bytes + k];
        uint32_t w = uint32_t(row[2 * x] | row[2 * x + 1] << 8);
        int width = k == 0 ? sl.blue : k == 1 ? sl.green : sl.red;
        int shift = k == 0 ? 0 : k == 1 ? sl.blue : sl.blue + sl.green;
        return ((w >> shift) & ((1u << width) - 1)) << (8 - width) & 0xFF;
    };
    const int32_t xStep = int32_t((S.Width() - 1) * 65536) / D.Width();
    const int32_t yStep = int32_t((S.RowCount - 1) * 65536) / D.RowCount;
    int32_t y = 0;
    for (int r = 0; r < D.RowCount; ++r, y += yStep) {
        const int iy = y >> 16;
        const uint8_t* A = S.PixelData + size_t(iy) * size_t(S.Stride);
        const uint8_t* B = iy < S.RowCount - 1 ? A + S.Stride : A;
        const uint32_t fy = uint32_t(y) & 0xFFFF;
        const uint32_t wA = 65536 - fy, wB = fy + 1;
        uint8_t* o = out.data() + size_t(r) * size_t(D.Stride);
        int32_t x = 0;
        for (int c = 0; c < D.Width(); ++c, x += xStep) {
            const int ix = x >> 16;
            const int ixn = std::min(ix + 1, S.Width() - 1); // weight 0 when clamped
            const uint32_t fx = uint32_t(x) & 0xFFFF;
            const uint32_t wA1 = (wA * fx) >> 16, wA0 = wA - wA1;
            const uint32_t wB1 = (wB * fx) >> 16, wB0 = wB - wB1;
            uint32_t v[3];
            const int n = bits == 8 ? 1 : 3;
            for (int k = 0; k < n; ++k)
                v[k] = (channel(A, ix, k) * wA0 + channel(A, ixn, k) * wA1 +
                        channel(B, ix, k) * wB0 + channel(B, ixn, k) * wB1) >>
                       16;
            if (bits == 16) {
                uint32_t word = v[0] >> (8 - dl.blue) | (v[1] >> (8 - dl.green)) << dl.blue |
                                (v[2] >> (8 - dl.red)) << (dl.blue + dl.green);
                o[2 * c] = uint8_t(word);
                o[2 * c + 1] = uint8_t(word >> 8);
            } else {
                for (int k = 0; k < n; ++k) o[c * bytes + k] = uint8_t(v[k]);
            }
        }
    }
    return out;
}

struct ScaleCase {
    const char* name;
    int bits;
    Channels from, to;
    int sw, sh, dw, dh;
};

class ScaleAgainstReference : public testing::TestWithParam<ScaleCase> {};

TEST_P(ScaleAgainstReference, BitExact) {
    const ScaleCase sc = GetParam();
    TFastDIB src, dst;
    Make(src, sc.sw, sc.sh, sc.bits, sc.from);
    Make(dst, sc.dw, sc.dh, sc.bits, sc.to);
    std::mt19937 rng(uint32_t(sc.bits * 1000 + sc.dw));
    for (int r = 0; r < src.RowCount; ++r) {
        uint8_t* p = src.PixelData + size_t(r) * size_t(src.Stride);
        // Smooth gradients with noise, so neighbours differ by small and large steps.
        for (int i = 0; i < src.Stride - src.RowPadding; ++i)
            p[i] = uint8_t(rng() % 4 == 0 ? rng() : uint32_t(i + 3 * r));
    }
    // Byte 3 of 32-bit pixels and the row padding keep what they held.
    std::fill(dst.PixelData, dst.PixelData + dst.Header.bmiHeader.biSizeImage, 0x5A);
    Channels from = sc.bits == 16 ? sc.from : Channels{};
    Channels to = sc.bits == 16 ? sc.to : Channels{};
    const std::vector<uint8_t> expected = ReferenceScale(src, dst, from, to);
    const std::vector<uint8_t> untouched = MemoryBytes(dst);
    // Both the vector kernels (where the processor has them) and the portable one.
    for (bool wide : {true, false}) {
        TFastDIB::WideKernels = wide;
        std::copy(untouched.begin(), untouched.end(), dst.PixelData);
        src.ScaleInto(dst);
        TFastDIB::WideKernels = true;
        const std::vector<uint8_t> actual = MemoryBytes(dst);
        ASSERT_EQ(actual.size(), expected.size());
        size_t mismatches = 0;
        for (size_t i = 0; i < actual.size() && mismatches < 10; ++i)
            if (actual[i] != expected[i]) {
                ++mismatches;
                ADD_FAILURE() << (wide ? "wide" : "portable") << " kernel, byte " << i << " (row "
                              << i / size_t(dst.Stride) << "): got " << int(actual[i])
                              << ", expected " << int(expected[i]);
            }
        EXPECT_EQ(mismatches, 0u);
    }
}

// 517 x 411 = 212,487 destination pixels: large enough to be split over
// two threads. 123 x 77 stays on one.
INSTANTIATE_TEST_SUITE_P(
    RandomPictures, ScaleAgainstReference,
    testing::Values(ScaleCase{"Up8", 8, {}, {}, 300, 200, 517, 411},
                    ScaleCase{"Down8", 8, {}, {}, 300, 200, 123, 77},
                    ScaleCase{"Up16_555", 16, {5, 5, 5}, {5, 5, 5}, 300, 200, 517, 411},
                    ScaleCase{"Up16_565", 16, {5, 6, 5}, {5, 6, 5}, 300, 200, 517, 411},
                    ScaleCase{"Down16_555_to_565", 16, {5, 5, 5}, {5, 6, 5}, 300, 200, 123, 77},
                    ScaleCase{"Down16_565_to_555", 16, {5, 6, 5}, {5, 5, 5}, 300, 200, 123, 77},
                    ScaleCase{"Up24", 24, {}, {}, 300, 200, 517, 411},
                    ScaleCase{"Down24", 24, {}, {}, 300, 200, 123, 77},
                    ScaleCase{"TopDown24", 24, {}, {}, 300, -200, 517, -411},
                    ScaleCase{"Up32", 32, {}, {}, 300, 200, 517, 411},
                    ScaleCase{"Down32", 32, {}, {}, 300, 200, 123, 77},
                    ScaleCase{"Stretch32", 32, {}, {}, 300, 200, 901, 3}),
    [](const testing::TestParamInfo<ScaleCase>& info) { return std::string(info.param.name); });

} // namespace

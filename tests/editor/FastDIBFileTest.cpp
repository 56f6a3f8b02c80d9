// Reading and writing BMP files with TFastDIB.
#include "BmpBuilder.h"
#include "FastDIBTestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace dibtest;

namespace {

constexpr int PicW = 5;
constexpr int PicH = 3;

// A small asymmetric picture: two marked pixels on a plain ground, so that a
// flipped, mirrored or channel-swapped load shows up.
bool Marked(int x, int y) {
    return (x == 0 && y == 0) || (x == 3 && y == 1);
}

std::vector<uint32_t> ExpectedColors(uint32_t mark, uint32_t ground) {
    std::vector<uint32_t> out;
    for (int y = 0; y < PicH; ++y)
        for (int x = 0; x < PicW; ++x) out.push_back(Marked(x, y) ? mark : ground);
    return out;
}

struct Format {
    const char* name;
    int bits;
    uint32_t compression;
    uint32_t mark, ground; // stored values of the two kinds of pixel
    std::vector<uint32_t> palette;
    std::vector<uint32_t> masks; // red, green, blue; empty for none
};

std::vector<uint32_t> Palette16() {
    std::vector<uint32_t> p(16);
    for (uint32_t i = 0; i < 16; ++i) p[i] = i * 0x101010;
    p[5] = Red;
    p[10] = Blue;
    return p;
}

std::vector<uint32_t> Palette256() {
    std::vector<uint32_t> p(256);
    for (uint32_t i = 0; i < 256; ++i) p[i] = i * 0x010101;
    p[200] = Red;
    p[17] = Blue;
    return p;
}

std::vector<Format> Formats() {
    using namespace bmp;
    return {
        {"Bits1", 1, BI_RGB, 1, 0, {Blue, Red}, {}},
        {"Bits4", 4, BI_RGB, 5, 10, Palette16(), {}},
        {"Bits8", 8, BI_RGB, 200, 17, Palette256(), {}},
        {"Bits16", 16, BI_RGB, 0x7C00, 0x001F, {}, {}},
        {"Bits16Fields565", 16, BI_BITFIELDS, 0xF800, 0x001F, {}, {0xF800, 0x07E0, 0x001F}},
        {"Bits16Fields555", 16, BI_BITFIELDS, 0x7C00, 0x001F, {}, {0x7C00, 0x03E0, 0x001F}},
        {"Bits24", 24, BI_RGB, Red, Blue, {}, {}},
        {"Bits32", 32, BI_RGB, Red, Blue, {}, {}},
        {"Bits32Fields", 32, BI_BITFIELDS, Red, Blue, {}, {0xFF0000, 0x00FF00, 0x0000FF}},
    };
}

BmpBuilder PictureFile(const Format& f, bool bottomUp) {
    BmpBuilder b;
    b.width = PicW;
    b.height = bottomUp ? PicH : -PicH;
    b.bits = uint16_t(f.bits);
    b.compression = f.compression;
    b.palette = f.palette;
    if (!f.masks.empty()) b.masks = f.masks;
    b.pixels = PackPixels(PicW, PicH, f.bits, bottomUp,
                          [&](int x, int y) { return Marked(x, y) ? f.mark : f.ground; });
    return b;
}

struct RoundTrip {
    Format format;
    bool bottomUp;
};

class FileRoundTrip : public testing::TestWithParam<RoundTrip> {};

TEST_P(FileRoundTrip, LoadsRightSideUpAndSavesTheSameBytes) {
    const auto& [format, bottomUp] = GetParam();
    ScratchDir dir;
    ASSERT_TRUE(dir.Valid());
    const std::vector<uint8_t> file = PictureFile(format, bottomUp).Build();
    WriteFileBytes(dir.File("in.bmp"), file);

    TFastDIB dib;
    ASSERT_TRUE(dib.LoadBitmapFile(dir.File("in.bmp")));
    EXPECT_EQ(dib.Width(), PicW);
    EXPECT_EQ(dib.Height(), bottomUp ? PicH : -PicH);
    EXPECT_EQ(dib.BitCount(), format.bits);
    EXPECT_EQ(dib.Compression(), format.compression);
    EXPECT_EQ(Colors(dib), ExpectedColors(Red, Blue));

    ASSERT_TRUE(dib.SaveBitmapFile(dir.File("out.bmp")));
    const std::vector<uint8_t> saved = ReadFileBytes(dir.File("out.bmp"));
    // The input is laid out the way the buffer writes files.
    EXPECT_EQ(saved, file);

    const uint32_t table = format.compression == bmp::BI_BITFIELDS ? 12
                           : format.bits <= 8                      ? 4u << format.bits
                                                                   : 0;
    const uint32_t stride = uint32_t(BmpStride(PicW, format.bits));
    ASSERT_EQ(saved.size(), 54 + table + stride * PicH);
    EXPECT_EQ(saved[0], 'B');
    EXPECT_EQ(saved[1], 'M');
    EXPECT_EQ(GetLe32(saved, 2), saved.size());
    EXPECT_EQ(GetLe32(saved, 6), 0u);
    EXPECT_EQ(GetLe32(saved, 10), 54 + table);
    EXPECT_EQ(GetLe32(saved, 14), 40u);
    EXPECT_EQ(GetLe32(saved, 34), stride * PicH);

    TFastDIB again;
    ASSERT_TRUE(again.LoadBitmapFile(dir.File("out.bmp")));
    EXPECT_EQ(Colors(again), ExpectedColors(Red, Blue));
}

std::vector<RoundTrip> RoundTrips() {
    std::vector<RoundTrip> out;
    for (const Format& f : Formats()) {
        out.push_back({f, true});
        out.push_back({f, false});
    }
    return out;
}

INSTANTIATE_TEST_SUITE_P(PerFormat, FileRoundTrip, testing::ValuesIn(RoundTrips()),
                         [](const testing::TestParamInfo<RoundTrip>& info) {
                             return std::string(info.param.format.name) +
                                    (info.param.bottomUp ? "BottomUp" : "TopDown");
                         });

TEST(BitFields, FiveSixFiveKeepsItsLayout) {
    ScratchDir dir;
    BmpBuilder b = PictureFile(Formats()[4], true);
    b.width = 3;
    b.height = 2;
    b.pixels = PackPixels(3, 2, 16, true, [](int x, int y) {
        return x == 1 && y == 0 ? 0x07E0u : 0x0000u; // one green pixel, top middle
    });
    b.WriteTo(dir.File("565.bmp"));
    TFastDIB dib;
    ASSERT_TRUE(dib.LoadBitmapFile(dir.File("565.bmp")));
    EXPECT_EQ(dib.Compression(), bmp::BI_BITFIELDS);
    EXPECT_EQ(dib.RedBits, 5);
    EXPECT_EQ(dib.GreenBits, 6);
    EXPECT_EQ(dib.BlueBits, 5);
    EXPECT_EQ(PixelAt(dib, 1, 0), Green);
    EXPECT_EQ(PixelAt(dib, 1, 1), Black);
    dib.PutColor(0, 0, 0x000400); // green 1 in six bits
    EXPECT_EQ(dib.PixelData[0] | dib.PixelData[1] << 8, 1 << 5);

    ASSERT_TRUE(dib.SaveBitmapFile(dir.File("out.bmp")));
    const std::vector<uint8_t> saved = ReadFileBytes(dir.File("out.bmp"));
    ASSERT_EQ(saved.size(), 66u + 8 * 2);
    EXPECT_EQ(GetLe32(saved, 10), 66u);
    EXPECT_EQ(GetLe32(saved, 30), bmp::BI_BITFIELDS);
    EXPECT_EQ(GetLe32(saved, 54), 0xF800u);
    EXPECT_EQ(GetLe32(saved, 58), 0x07E0u);
    EXPECT_EQ(GetLe32(saved, 62), 0x001Fu);
}

TEST(BitFields, ThirtyTwoBitMasksOfOtherWidths) {
    // 10-10-10 in a 32-bit word: fields wider than a byte keep their low eight bits.
    BmpBuilder b;
    b.width = 2;
    b.bits = 32;
    b.compression = bmp::BI_BITFIELDS;
    b.masks = std::vector<uint32_t>{0x3FF00000, 0x000FFC00, 0x000003FF};
    b.pixels = PackPixels(2, 1, 32, true, [](int x, int) { return x ? 0x0FF00000u : 0x000000AAu; });
    const std::vector<uint8_t> file = b.Build();
    TFastDIB dib;
    ASSERT_TRUE(dib.LoadBitmapMemory(file.data(), file.size()));
    EXPECT_EQ(dib.RedBits, 10);
    EXPECT_EQ(dib.GreenBits, 10);
    EXPECT_EQ(dib.BlueBits, 10);
    EXPECT_EQ(dib.GetColor(0, 0), 0x0000AAu);
    EXPECT_EQ(dib.GetColor(0, 1), 0xFF0000u);
    EXPECT_EQ(dib.SaveBitmapMemory(), file);
}

TEST(SaveLayout, TwentyFourBitsThreeWideHasTwelveByteRows) {
    for (int rows : {1, 2, 7}) {
        ScratchDir dir;
        TFastDIB dib;
        ASSERT_TRUE(dib.Allocate(3, rows, 24));
        EXPECT_EQ(dib.Stride, 12);
        EXPECT_EQ(dib.RowPadding, 3);
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < 3; ++c) dib.PutColor(r, c, 0x010203u * uint32_t(r * 3 + c + 1));
        ASSERT_TRUE(dib.SaveBitmapFile(dir.File("a.bmp")));
        const std::vector<uint8_t> saved = ReadFileBytes(dir.File("a.bmp"));
        ASSERT_EQ(saved.size(), size_t(54 + 12 * rows));
        EXPECT_EQ(GetLe32(saved, 2), uint32_t(54 + 12 * rows));
        EXPECT_EQ(GetLe32(saved, 10), 54u);
        EXPECT_EQ(GetLe32(saved, 18), 3u);
        EXPECT_EQ(GetLe32(saved, 22), uint32_t(rows));
        EXPECT_EQ(GetLe16(saved, 26), 1);
        EXPECT_EQ(GetLe16(saved, 28), 24);
        EXPECT_EQ(GetLe32(saved, 30), bmp::BI_RGB);
        EXPECT_EQ(GetLe32(saved, 34), uint32_t(12 * rows));
        EXPECT_EQ(GetLe32(saved, 46), 0u);
        // Memory row 0 first, padding included.
        for (int r = 0; r < rows; ++r) {
            const size_t at = 54 + size_t(12 * r);
            EXPECT_EQ(saved[at], uint8_t(3 * (r * 3 + 1))) << r;
            EXPECT_EQ(saved[at + 2], uint8_t(r * 3 + 1)) << r;
            EXPECT_EQ(saved[at + 9], 0) << r;
            EXPECT_EQ(saved[at + 11], 0) << r;
        }
    }
}

TEST(SaveLayout, PalettedBufferWritesTheFullTable) {
    TFastDIB dib;
    ASSERT_TRUE(dib.Allocate(4, -2, 4));
    SetPalette(dib, {Black, Red, Green, Blue});
    dib.PutIndex(1, 3, 3);
    const std::vector<uint8_t> saved = dib.SaveBitmapMemory();
    ASSERT_EQ(saved.size(), 54u + 64 + 8);
    EXPECT_EQ(GetLe32(saved, 10), 54u + 64);
    EXPECT_EQ(int32_t(GetLe32(saved, 22)), -2);
    EXPECT_EQ(GetLe32(saved, 54 + 4), 0x00FF0000u); // entry 1: blue, green, red, 0
    EXPECT_EQ(GetLe32(saved, 54 + 12), 0x000000FFu);
    EXPECT_EQ(saved[54 + 64 + 4 + 1], 0x03);
}

TEST(SaveLayout, FewerDeclaredColoursAreSavedAsAFullTable) {
    BmpBuilder b;
    b.width = 4;
    b.bits = 8;
    b.clrUsed = 2;
    b.palette = {Red, Blue};
    b.pixels = {0, 1, 1, 0};
    const std::vector<uint8_t> file = b.Build();
    TFastDIB dib;
    ASSERT_TRUE(dib.LoadBitmapMemory(file.data(), file.size()));
    EXPECT_EQ(Colors(dib), (std::vector<uint32_t>{Red, Blue, Blue, Red}));
    const std::vector<uint8_t> saved = dib.SaveBitmapMemory();
    ASSERT_EQ(saved.size(), 54u + 1024 + 4);
    EXPECT_EQ(GetLe32(saved, 46), 0u); // biClrUsed
    EXPECT_EQ(GetLe32(saved, 54), Red);
    EXPECT_EQ(GetLe32(saved, 58), Blue);
    EXPECT_EQ(GetLe32(saved, 62), 0u);
}

TEST(Os2Header, PalettedFilesUseThreeByteEntries) {
    for (int bits : {1, 4, 8}) {
        const Format f = Formats()[bits == 1 ? 0 : bits == 4 ? 1 : 2];
        BmpBuilder b = PictureFile(f, true);
        b.infoSize = 12;
        b.palette.resize(size_t(1) << bits);
        const std::vector<uint8_t> file = b.Build();
        ASSERT_EQ(file.size(), 26 + 3 * b.palette.size() + b.pixels.size());
        ScratchDir dir;
        WriteFileBytes(dir.File("os2.bmp"), file);
        TFastDIB dib;
        ASSERT_TRUE(dib.LoadBitmapFile(dir.File("os2.bmp"))) << bits;
        EXPECT_EQ(dib.Width(), PicW);
        EXPECT_EQ(dib.Height(), PicH);
        EXPECT_EQ(dib.BitCount(), bits);
        EXPECT_EQ(Colors(dib), ExpectedColors(Red, Blue)) << bits;

        // Saved with a 40-byte header and four-byte entries.
        ASSERT_TRUE(dib.SaveBitmapFile(dir.File("out.bmp")));
        BmpBuilder modern = PictureFile(f, true);
        modern.palette.resize(size_t(1) << bits);
        EXPECT_EQ(ReadFileBytes(dir.File("out.bmp")), modern.Build()) << bits;
    }
}

TEST(Os2Header, TrueColourAndSixteenBitDimensions) {
    BmpBuilder b;
    b.infoSize = 12;
    b.width = 300; // needs both bytes of the 16-bit field
    b.height = 2;
    b.bits = 24;
    b.pixels = PackPixels(300, 2, 24, true, [](int x, int y) {
        return x == 299 && y == 0 ? Green : x == 0 && y == 1 ? Red : Black;
    });
    const std::vector<uint8_t> file = b.Build();
    TFastDIB dib;
    ASSERT_TRUE(dib.LoadBitmapMemory(file.data(), file.size()));
    EXPECT_EQ(dib.Width(), 300);
    EXPECT_EQ(dib.Height(), 2);
    EXPECT_EQ(PixelAt(dib, 299, 0), Green);
    EXPECT_EQ(PixelAt(dib, 0, 1), Red);
    EXPECT_EQ(PixelAt(dib, 0, 0), Black);
}

// Files as ImageMagick writes them: V4 and V5 headers (colour space data
// after the classic fields, masks inside the header), read pixel-exact.
TEST(LongHeaders, ImageMagickFilesReadPixelExact) {
    const char* const convert = "/usr/bin/convert"; // the real one, from the imagemagick package
    if (!std::filesystem::exists(convert)) GTEST_SKIP() << "imagemagick is not installed";
    ScratchDir dir;
    // Red at (0, 0) and (3, 1), green at (4, 2), blue elsewhere.
    const std::string picture = "-size 5x3 xc:blue -fill red -draw 'point 0,0' "
                                "-draw 'point 3,1' -fill lime -draw 'point 4,2'";
    struct Case {
        const char* name;
        const char* options;
        uint32_t infoSize;
        int bits;
        uint32_t compression;
    };
    const Case cases[] = {
        {"v5-24.bmp", "-type TrueColor", 124, 24, bmp::BI_RGB},
        {"v5-32.bmp", "-alpha set -type TrueColorAlpha", 124, 32, bmp::BI_BITFIELDS},
        {"v5-4.bmp", "-type Palette", 124, 4, bmp::BI_RGB},
        {"v5-rle8.bmp", "-type Palette -compress RLE", 124, 8, bmp::BI_RLE8},
    };
    for (const Case& c : cases) {
        const std::string file = dir.File(c.name);
        const std::string command =
            std::string(convert) + " " + picture + " " + c.options + " '" + file + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        const std::vector<uint8_t> bytes = ReadFileBytes(file);
        ASSERT_EQ(GetLe32(bytes, 14), c.infoSize) << c.name;
        ASSERT_EQ(GetLe16(bytes, 28), c.bits) << c.name;
        ASSERT_EQ(GetLe32(bytes, 30), c.compression) << c.name;
        TFastDIB dib;
        ASSERT_TRUE(dib.LoadBitmapFile(file)) << c.name << ": " << dib.LoadError;
        std::vector<uint32_t> expected(15, Blue);
        expected[0] = expected[8] = Red;
        expected[14] = Green;
        EXPECT_EQ(Colors(dib), expected) << c.name;
    }
    // A two-colour picture comes as 1 bit with a V4 header.
    const std::string mono = dir.File("v4-1.bmp");
    ASSERT_EQ(std::system((std::string(convert) +
                           " -size 5x3 xc:white -fill black -draw "
                           "'point 0,0' -type bilevel '" +
                           mono + "'")
                              .c_str()),
              0);
    ASSERT_EQ(GetLe32(ReadFileBytes(mono), 14), 108u);
    TFastDIB dib;
    ASSERT_TRUE(dib.LoadBitmapFile(mono)) << dib.LoadError;
    std::vector<uint32_t> expected(15, White);
    expected[0] = Black;
    EXPECT_EQ(Colors(dib), expected);

    // 5-6-5 masks inside a V5 header.
    BmpBuilder b = PictureFile(Formats()[4], true);
    b.infoSize = 124;
    const std::vector<uint8_t> v5 = b.Build();
    ASSERT_TRUE(dib.LoadBitmapMemory(v5.data(), v5.size())) << dib.LoadError;
    EXPECT_EQ(dib.GreenBits, 6);
    EXPECT_EQ(Colors(dib), ExpectedColors(Red, Blue));
}

TEST(Load, MissingFileEmptiesTheBuffer) {
    ScratchDir dir;
    TFastDIB dib;
    ASSERT_TRUE(dib.Allocate(4, 4, 24));
    EXPECT_FALSE(dib.LoadBitmapFile(dir.File("missing.bmp")));
    EXPECT_TRUE(dib.Empty());
    EXPECT_EQ(dib.RowCount, 0);
    EXPECT_NE(dib.LoadError.find("No such file"), std::string::npos) << dib.LoadError;
    EXPECT_FALSE(dib.LoadBitmapFile(dir.Path())); // a directory
    EXPECT_TRUE(dib.Empty());
}

TEST(Save, ReplacesAnExistingFile) {
    ScratchDir dir;
    const std::string path = dir.File("pic.bmp");
    WriteFileBytes(path, std::vector<uint8_t>(5000, 0xAB));
    TFastDIB dib;
    ASSERT_TRUE(dib.Allocate(2, 2, 32));
    dib.PutColor(0, 0, Red);
    ASSERT_TRUE(dib.SaveBitmapFile(path));
    EXPECT_EQ(ReadFileBytes(path), dib.SaveBitmapMemory());
    EXPECT_EQ(ReadFileBytes(path).size(), 54u + 16);
    // Nothing but the picture is left in the directory.
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.Path()))
        ++entries;
    EXPECT_EQ(entries, 1u);
}

TEST(Save, FailureLeavesTheOldFile) {
    ScratchDir dir;
    const std::string path = dir.File("pic.bmp");
    const std::vector<uint8_t> old(100, 0x11);
    WriteFileBytes(path, old);

    TFastDIB empty;
    EXPECT_FALSE(empty.SaveBitmapFile(path));
    EXPECT_EQ(ReadFileBytes(path), old);

    TFastDIB dib;
    ASSERT_TRUE(dib.Allocate(2, 2, 24));
    EXPECT_FALSE(dib.SaveBitmapFile(dir.File("no/such/dir/pic.bmp")));
    EXPECT_FALSE(dib.SaveBitmapFile(path + "/pic.bmp")); // below a plain file
    EXPECT_EQ(ReadFileBytes(path), old);

    // A directory in the way: the picture cannot take its name.
    std::filesystem::create_directory(dir.File("taken"));
    EXPECT_FALSE(dib.SaveBitmapFile(dir.File("taken")));
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("taken")));
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.Path()))
        ++entries;
    EXPECT_EQ(entries, 2u); // pic.bmp and taken, no leftovers
}

// Run-length encoded files.

BmpBuilder RleFile(int bits, int width, int height, std::vector<uint8_t> data) {
    BmpBuilder b;
    b.width = width;
    b.height = height;
    b.bits = uint16_t(bits);
    b.compression = bits == 8 ? bmp::BI_RLE8 : bmp::BI_RLE4;
    b.palette.resize(size_t(1) << bits);
    for (size_t i = 0; i < b.palette.size(); ++i) b.palette[i] = uint32_t(i) * 0x010203u;
    b.pixels = std::move(data);
    return b;
}

std::vector<std::vector<int>> MemoryRows(const TFastDIB& dib) {
    std::vector<std::vector<int>> rows;
    for (int r = 0; r < dib.RowCount; ++r) {
        rows.emplace_back();
        for (int c = 0; c < dib.Width(); ++c) rows.back().push_back(dib.GetIndex(r, c));
    }
    return rows;
}

const std::vector<uint8_t> Rle8Stream = {
    0x03, 0x05, 0x00, 0x03, 0x01, 0x02, 0x03, 0x00, 0x00, 0x00, // run, odd absolute run, end of row
    0x00, 0x02, 0x02, 0x00, 0x02, 0x07, 0x00, 0x02, 0x01, 0x01, // delta right, run, delta down
    0x0A, 0x04, 0x00, 0x00,                                     // run cut at the edge
    0x02, 0x01, 0x00, 0x06, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, // absolute run cut at the edge
    0x03, 0x09, 0x00, 0x00,                                     // nothing left of this run
    0x01, 0x08, 0x00, 0x01, 0x05, 0x09,                         // end of picture, then ignored
};

const std::vector<std::vector<int>> Rle8Rows = {
    {5, 5, 5, 1, 2, 3},     {0, 0, 7, 7, 0, 0}, {0, 0, 0, 0, 0, 4},
    {1, 1, 11, 12, 13, 14}, {8, 0, 0, 0, 0, 0},
};

TEST(Rle, EightBitRunsEscapesAndCuts) {
    ScratchDir dir;
    RleFile(8, 6, 5, Rle8Stream).WriteTo(dir.File("rle8.bmp"));
    TFastDIB dib;
    ASSERT_TRUE(dib.LoadBitmapFile(dir.File("rle8.bmp")));
    EXPECT_EQ(dib.BitCount(), 8);
    EXPECT_EQ(dib.Compression(), bmp::BI_RGB);
    EXPECT_EQ(MemoryRows(dib), Rle8Rows);
    // Bottom-up: memory row 0 is the bottom line.
    EXPECT_EQ(PixelAt(dib, 0, 4), 5u * 0x010203u);
    EXPECT_EQ(PixelAt(dib, 0, 0), 8u * 0x010203u);

    // Saved uncompressed.
    ASSERT_TRUE(dib.SaveBitmapFile(dir.File("out.bmp")));
    TFastDIB again;
    ASSERT_TRUE(again.LoadBitmapFile(dir.File("out.bmp")));
    EXPECT_EQ(again.Compression(), bmp::BI_RGB);
    EXPECT_EQ(MemoryRows(again), Rle8Rows);
}

TEST(Rle, TopDownFillsFromTheTopLine) {
    const std::vector<uint8_t> file = RleFile(8, 6, -5, Rle8Stream).Build();
    TFastDIB dib;
    ASSERT_TRUE(dib.LoadBitmapMemory(file.data(), file.size()));
    EXPECT_EQ(MemoryRows(dib), Rle8Rows);
    EXPECT_EQ(PixelAt(dib, 0, 0), 5u * 0x010203u);
}

TEST(Rle, FourBitNibblesAlternate) {
    const std::vector<uint8_t> data = {
        0x04, 0xAB, 0x00, 0x03, 0xCD, 0xE0, 0x00, 0x00,             // run, absolute run
        0x03, 0x12, 0x00, 0x05, 0x34, 0x56, 0x70, 0x00, 0x00, 0x00, // absolute 5, padded
        0x00, 0x02, 0x01, 0x00, 0x09, 0xF0, 0x00, 0x01,             // delta, run cut at the edge
    };
    const std::vector<uint8_t> file = RleFile(4, 7, 3, data).Build();
    TFastDIB dib;
    ASSERT_TRUE(dib.LoadBitmapMemory(file.data(), file.size()));
    EXPECT_EQ(dib.BitCount(), 4);
    EXPECT_EQ(MemoryRows(dib), (std::vector<std::vector<int>>{
                                   {0xA, 0xB, 0xA, 0xB, 0xC, 0xD, 0xE},
                                   {1, 2, 1, 3, 4, 5, 6},
                                   {0, 0xF, 0, 0xF, 0, 0xF, 0},
                               }));
    EXPECT_EQ(dib.GetColor(0, 0), 0xAu * 0x010203u);
}

TEST(Rle, ReusedBufferStartsBlack) {
    TFastDIB dib;
    const std::vector<uint8_t> first = RleFile(8, 6, 5, Rle8Stream).Build();
    ASSERT_TRUE(dib.LoadBitmapMemory(first.data(), first.size()));
    const std::vector<uint8_t> second = RleFile(8, 6, 5, {0x01, 0x03, 0x00, 0x01}).Build();
    ASSERT_TRUE(dib.LoadBitmapMemory(second.data(), second.size()));
    std::vector<std::vector<int>> expected(5, std::vector<int>(6, 0));
    expected[0][0] = 3;
    EXPECT_EQ(MemoryRows(dib), expected);
}

} // namespace

// Hand-made broken BMP files: each loads into an empty buffer or a partly
// filled picture, never reads or writes outside the buffer (the sanitizer
// build checks that) and never allocates more than the limits allow.
#include "BmpBuilder.h"
#include "FastDIBTestUtil.h"

#include <gtest/gtest.h>

using namespace dibtest;

namespace {

BmpBuilder Small24() {
    BmpBuilder b;
    b.width = 3;
    b.height = 2;
    b.bits = 24;
    b.pixels = PackPixels(3, 2, 24, true, [](int, int) { return White; });
    return b;
}

bool Load(TFastDIB& dib, const std::vector<uint8_t>& file) {
    return dib.LoadBitmapMemory(file.data(), file.size());
}

BmpBuilder Rle8(std::vector<uint8_t> data) {
    BmpBuilder b;
    b.width = 3;
    b.height = -2;
    b.bits = 8;
    b.compression = 1;
    b.palette = {Black, Red, Blue};
    b.pixels = std::move(data);
    return b;
}

template <class Fn> std::vector<uint8_t> Changed(BmpBuilder b, Fn change) {
    change(b);
    return b.Build();
}

} // namespace

// Each broken file is refused with a reason that names what is wrong, and
// the buffer it was loaded into is left empty: no garbage, no black picture.
TEST(MalformedFile, EachIsRefusedWithItsReason) {
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
        const char* reason; // a part of the reason given
    };
    std::vector<uint8_t> notBmp = Small24().Build();
    notBmp[0] = 'X';
    std::vector<uint8_t> cutHeader = Small24().Build();
    cutHeader.resize(20);
    const std::vector<Case> cases = {
        {"no BM signature", notBmp, "not a BMP file"},
        {"cut inside the info header", cutHeader, "ends inside its header"},
        {"an unknown header size", Changed(Small24(), [](auto& b) { b.infoSize = 64; }),
         "header of 64 bytes"},
        {"a bit count of 7", Changed(Small24(), [](auto& b) { b.bits = 7; }), "7 bits per pixel"},
        {"0 planes", Changed(Small24(), [](auto& b) { b.planes = 0; }), "0 colour planes"},
        {"RLE8 with 24 bits", Changed(Small24(), [](auto& b) { b.compression = 1; }),
         "compression (type 1)"},
        {"an unknown compression", Changed(Small24(), [](auto& b) { b.compression = 9; }),
         "compression (type 9)"},
        {"a width of 0", Changed(Small24(), [](auto& b) { b.width = 0; }), "not a picture"},
        {"a negative width", Changed(Small24(), [](auto& b) { b.width = -5; }), "not a picture"},
        {"the most negative height",
         Changed(Small24(), [](auto& b) { b.height = int32_t(0x80000000u); }), "larger than"},
        {"dimensions beyond any memory",
         Changed(Small24(),
                 [](auto& b) {
                     b.width = 0x7FFFFFFF;
                     b.height = 0x7FFFFFFF;
                 }),
         "larger than"},
        {"over the memory limit",
         Changed(Small24(),
                 [](auto& b) {
                     b.width = 30000;
                     b.height = -30000;
                 }),
         "MB allowed"},
        {"huge dimensions in a tiny file", Changed(Small24(), [](auto& b) { b.width = 20000; }),
         "cut short"},
        {"pixel offset past the end", Changed(Small24(), [](auto& b) { b.dataOffset = 1u << 30; }),
         "beyond the end of the file"},
        {"pixel offset 0x7FFFFFFF", Changed(Small24(), [](auto& b) { b.dataOffset = 0x7FFFFFFF; }),
         "beyond the end"},
        {"pixel offset inside the header", Changed(Small24(), [](auto& b) { b.dataOffset = 30; }),
         "inside its header"},
        {"truncated pixels", // the last row lacks more than its padding
         Changed(Small24(), [](auto& b) { b.pixels.resize(16); }), "cut short"},
        {"a file cut short", Changed(Small24(), [](auto& b) { b.fileSize = 78 + 1; }),
         "shorter than its header says: 78 bytes instead of 79"},
        {"a file size field of 0xffffffff",
         Changed(Small24(), [](auto& b) { b.fileSize = 0xFFFFFFFF; }), "shorter than its header"},
        {"an image size field of 0xffffffff",
         Changed(Small24(), [](auto& b) { b.sizeImage = 0xFFFFFFFF; }), "bytes of pixels"},
        {"masks of 0xffffffff",
         Changed(Small24(),
                 [](auto& b) {
                     b.bits = 32;
                     b.compression = 3;
                     b.masks = std::vector<uint32_t>{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
                     b.pixels.assign(24, 0);
                 }),
         "bit-field masks"},
        {"masks in another order",
         Changed(Small24(),
                 [](auto& b) {
                     b.bits = 16;
                     b.compression = 3;
                     b.masks = std::vector<uint32_t>{0x001F, 0x07E0, 0xF800};
                     b.pixels.assign(16, 0);
                 }),
         "bit-field masks"},
        {"RLE delta below the picture", Rle8({0, 2, 0, 5, 0, 1}).Build(), "outside the picture"},
        {"RLE delta past the row", Rle8({0, 2, 9, 0, 0, 1}).Build(), "outside the picture"},
        {"RLE data ending before the picture", Rle8({3, 1, 0, 0}).Build(),
         "end before the picture"},
        {"RLE absolute run longer than the data", Rle8({0, 3, 1, 2}).Build(), "inside a run"},
        {"RLE data cut by the declared file size",
         Changed(Rle8({3, 1, 0, 0, 3, 2, 0, 1}),
                 [](auto& b) { b.fileSize = uint32_t(14 + 40 + 12 + 4); }),
         "end before the picture"},
    };
    for (const Case& c : cases) {
        TFastDIB dib;
        ASSERT_TRUE(dib.Allocate(3, 2, 24));
        EXPECT_FALSE(Load(dib, c.file)) << c.what;
        EXPECT_TRUE(dib.Empty()) << c.what;
        EXPECT_NE(dib.LoadError.find(c.reason), std::string::npos)
            << c.what << ": " << dib.LoadError;
    }
    TFastDIB dib;
    EXPECT_FALSE(dib.LoadBitmapMemory(nullptr, 0));
    EXPECT_FALSE(dib.LoadError.empty());
}

// What stays readable: the last row without its padding, colour counts
// beyond the table, zero masks, runs cut at the edge of the row.
TEST(MalformedFile, TolerableFlawsStillLoad) {
    {
        BmpBuilder b = Small24();
        b.pixels.resize(21);
        TFastDIB dib;
        ASSERT_TRUE(Load(dib, b.Build())) << dib.LoadError;
        EXPECT_EQ(Colors(dib), std::vector<uint32_t>(6, White));
        EXPECT_TRUE(dib.LoadError.empty());
    }
    {
        BmpBuilder b;
        b.width = 2;
        b.height = 1;
        b.bits = 8;
        b.clrUsed = 100000; // more entries than any 8-bit table holds
        b.palette = {Red, Green};
        b.pixels = {1, 0, 0, 0};
        TFastDIB dib;
        ASSERT_TRUE(Load(dib, b.Build()));
        // The entries the file has are used; pixel bytes are not taken for colours.
        EXPECT_EQ(PixelAt(dib, 0, 0), Green);
        EXPECT_EQ(PixelAt(dib, 1, 0), Red);
    }
    {
        BmpBuilder b;
        b.width = 2;
        b.height = 1;
        b.bits = 16;
        b.compression = 3;
        b.masks = std::vector<uint32_t>{0, 0, 0};
        b.pixels = {0xFF, 0xFF, 0x34, 0x12};
        TFastDIB dib;
        ASSERT_TRUE(Load(dib, b.Build()));
        EXPECT_EQ(dib.RedBits, 5) << "zero masks fall back to 5-5-5";
        EXPECT_EQ(dib.GreenBits, 5);
        EXPECT_EQ(PixelAt(dib, 0, 0), White) << "the top bit is not a channel";
        EXPECT_EQ(PixelAt(dib, 1, 0), 0x218CA5u);
    }
    {
        // A run of 200 in a row of 3, an absolute run of 5 in the next.
        TFastDIB dib;
        ASSERT_TRUE(Load(dib, Rle8({200, 1, 0, 0, 0, 5, 2, 2, 2, 1, 1, 0, 0, 1}).Build()))
            << dib.LoadError;
        EXPECT_EQ(Colors(dib), (std::vector<uint32_t>{Red, Red, Red, Blue, Blue, Blue}));
    }
}

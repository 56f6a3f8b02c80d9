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

} // namespace

TEST(MalformedHeader, RefusedHeadersLeaveTheBufferEmpty) {
    struct Case {
        const char* what;
        BmpBuilder file;
    };
    std::vector<Case> cases;
    {
        BmpBuilder b = Small24();
        b.infoSize = 64;
        cases.push_back({"an info header size other than 40 or 12", b});
    }
    {
        BmpBuilder b = Small24();
        b.bits = 7;
        cases.push_back({"a bit count of 7", b});
    }
    {
        BmpBuilder b = Small24();
        b.compression = 1; // RLE8 with 24 bits
        cases.push_back({"a compression that does not fit the bit count", b});
    }
    {
        BmpBuilder b = Small24();
        b.compression = 9;
        cases.push_back({"an unknown compression", b});
    }
    {
        BmpBuilder b = Small24();
        b.width = 0;
        cases.push_back({"a width of 0", b});
    }
    {
        BmpBuilder b = Small24();
        b.width = -5;
        cases.push_back({"a negative width", b});
    }
    {
        BmpBuilder b = Small24();
        b.width = 0x7FFFFFFF;
        b.height = 0x7FFFFFFF;
        cases.push_back({"a stride times rows beyond any memory", b});
    }
    {
        BmpBuilder b = Small24();
        b.width = 30000;
        b.height = -30000; // 30000 x 30000 x 3 bytes: over the size limit
        cases.push_back({"a picture over the memory limit", b});
    }
    {
        BmpBuilder b = Small24();
        b.height = int32_t(0x80000000u);
        cases.push_back({"the most negative height", b});
    }
    for (const Case& c : cases) {
        TFastDIB dib;
        ASSERT_TRUE(dib.Allocate(2, 2, 24));
        EXPECT_FALSE(Load(dib, c.file.Build())) << c.what;
        EXPECT_TRUE(dib.Empty()) << c.what;
    }

    TFastDIB dib;
    std::vector<uint8_t> notBmp = Small24().Build();
    notBmp[0] = 'X';
    EXPECT_FALSE(Load(dib, notBmp)) << "no BM signature";
    std::vector<uint8_t> cut = Small24().Build();
    cut.resize(20);
    EXPECT_FALSE(Load(dib, cut)) << "cut inside the info header";
    EXPECT_FALSE(dib.LoadBitmapMemory(nullptr, 0));
}

TEST(MalformedHeader, OffsetsAndCountsOutsideTheFileGiveABlackPicture) {
    {
        BmpBuilder b = Small24();
        b.dataOffset = 1u << 30;
        TFastDIB dib;
        ASSERT_TRUE(Load(dib, b.Build())) << "pixel data offset past the end";
        EXPECT_EQ(Colors(dib), std::vector<uint32_t>(6, Black));
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
        BmpBuilder b = Small24();
        b.fileSize = 1u << 31; // a declared size far beyond the real one
        TFastDIB dib;
        ASSERT_TRUE(Load(dib, b.Build()));
        EXPECT_EQ(Colors(dib), std::vector<uint32_t>(6, White));
    }
}

TEST(MalformedHeader, ZeroMasksFallBackToFiveFiveFive) {
    BmpBuilder b;
    b.width = 2;
    b.height = 1;
    b.bits = 16;
    b.compression = 3;
    b.masks = std::vector<uint32_t>{0, 0, 0};
    b.pixels = {0xFF, 0xFF, 0x34, 0x12};
    TFastDIB dib;
    ASSERT_TRUE(Load(dib, b.Build()));
    EXPECT_EQ(dib.RedBits, 5);
    EXPECT_EQ(dib.GreenBits, 5);
    EXPECT_EQ(PixelAt(dib, 0, 0), White) << "the top bit is not a channel";
    EXPECT_EQ(PixelAt(dib, 1, 0), 0x218CA5u);
}

TEST(MalformedRle, RunsPastTheRowOrThePictureStopAtItsEdge) {
    BmpBuilder b;
    b.width = 3;
    b.height = -2;
    b.bits = 8;
    b.compression = 1;
    b.palette = {Black, Red, Blue};
    b.pixels = {
        200, 1,           // a run of 200 red pixels in a row of 3
        0,   2, 250, 250, // a delta far past the picture
        5,   2,           // after the picture: nothing is written
        0,   3, 9,   2,   // an absolute run longer than the data
    };
    TFastDIB dib;
    ASSERT_TRUE(Load(dib, b.Build()));
    EXPECT_EQ(Colors(dib), (std::vector<uint32_t>{Red, Red, Red, Black, Black, Black}));

    BmpBuilder four = b;
    four.bits = 4;
    four.compression = 2;
    // 255 pixels in a row of 3, then an absolute run of 250 with one byte of data.
    four.pixels = {255, 0x12, 0, 0, 0, 250, 0x22};
    TFastDIB nibbles;
    ASSERT_TRUE(Load(nibbles, four.Build()));
    EXPECT_EQ(Colors(nibbles), (std::vector<uint32_t>{Red, Blue, Red, Blue, Blue, Black}));
}

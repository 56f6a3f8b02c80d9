// JPEG export: every BMP layout the raster buffer reads comes out as a
// baseline quality-90 JPEG of the same size and colours; failures raise.
#include "JpegExport.h"
#include "BmpBuilder.h"
#include "FastDIB.h"
#include "FileModes.h"
#include "JpegEncoder.h"
#include "TempDirScope.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace {

struct Decoded {
    int width = 0, height = 0, components = 0;
    bool progressive = true;
    int lumaDc = 0, chromaDc = 0; // first entries of the quantisation tables
    std::vector<uint8_t> rgb;
    uint32_t At(int x, int y) const {
        const uint8_t* p = &rgb[(size_t(y) * size_t(width) + size_t(x)) * 3];
        return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    }
};

struct DecodeError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void DecodeFailed(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<DecodeError*>(cinfo->err)->jump, 1);
}

// Decodes with libjpeg; false for anything that is not a whole JPEG.
bool Decode(const std::vector<uint8_t>& file, Decoded& out) {
    static jpeg_decompress_struct info;
    static DecodeError err;
    info.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = DecodeFailed;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, file.data(), (unsigned long)file.size());
    jpeg_read_header(&info, TRUE);
    out.progressive = info.progressive_mode;
    out.components = info.num_components;
    out.lumaDc = info.quant_tbl_ptrs[0] ? info.quant_tbl_ptrs[0]->quantval[0] : -1;
    out.chromaDc = info.quant_tbl_ptrs[1] ? info.quant_tbl_ptrs[1]->quantval[0] : -1;
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    out.width = int(info.output_width);
    out.height = int(info.output_height);
    out.rgb.assign(size_t(out.width) * size_t(out.height) * 3, 0);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = &out.rgb[size_t(info.output_scanline) * size_t(out.width) * 3];
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

int Distance(uint32_t a, uint32_t b) {
    int d = 0;
    for (int shift : {0, 8, 16})
        d = std::max(d, std::abs(int(a >> shift & 255) - int(b >> shift & 255)));
    return d;
}

constexpr int Size = 32; // four 16 x 16 blocks, one per chroma block of the encoder

// Which quadrant a pixel is in: 0 top left, 1 top right, 2 bottom left, 3 bottom right.
int Quadrant(int x, int y) {
    return (y >= Size / 2) * 2 + (x >= Size / 2);
}

struct Layout {
    const char* name;
    BmpBuilder bmp;
    // The colour each quadrant must come out as.
    std::array<uint32_t, 4> expected;
};

BmpBuilder Picture(uint16_t bits, bool bottomUp, std::function<uint32_t(int q)> value) {
    BmpBuilder b;
    b.width = Size;
    b.height = bottomUp ? Size : -Size;
    b.bits = bits;
    b.pixels =
        PackPixels(Size, Size, bits, bottomUp, [&](int x, int y) { return value(Quadrant(x, y)); });
    return b;
}

// RLE rows: two runs of 16 pixels per line, then end of line; end of picture.
BmpBuilder Rle(bool fourBits, const std::array<uint8_t, 4>& index) {
    BmpBuilder b;
    b.width = b.height = Size;
    b.bits = fourBits ? 4 : 8;
    b.compression = fourBits ? bmp::BI_RLE4 : bmp::BI_RLE8;
    for (int row = 0; row < Size; ++row) { // stored bottom line first
        const int top = row < Size / 2 ? 2 : 0;
        for (int half = 0; half < 2; ++half) {
            const uint8_t i = index[size_t(top + half)];
            b.pixels.push_back(16);
            b.pixels.push_back(fourBits ? uint8_t(i << 4 | i) : i);
        }
        b.pixels.insert(b.pixels.end(), {0, 0});
    }
    b.pixels.insert(b.pixels.end(), {0, 1});
    return b;
}

constexpr uint32_t Red = 0xE01010, Green = 0x20C040, Blue = 0x1830D0, Pale = 0xF0E8C8;
const std::vector<uint32_t> Palette16 = {0x000000, Red,      Green,    Blue,     Pale,     0x808080,
                                         0x404040, 0xC0C0C0, 0x800000, 0x008000, 0x000080, 0x808000,
                                         0x800080, 0x008080, 0xFFFF00, 0xFFFFFF};

uint32_t To555(uint32_t c) {
    return (c >> 19 & 31) << 10 | (c >> 11 & 31) << 5 | (c >> 3 & 31);
}
uint32_t To565(uint32_t c) {
    return (c >> 19 & 31) << 11 | (c >> 10 & 63) << 5 | (c >> 3 & 31);
}
// What a colour stored with 5- or 6-bit channels reads back as.
uint32_t E5(uint32_t v) {
    return (v << 3 | v >> 2) & 255;
}
uint32_t Round555(uint32_t c) {
    return E5(c >> 19 & 31) << 16 | E5(c >> 11 & 31) << 8 | E5(c >> 3 & 31);
}
uint32_t Round565(uint32_t c) {
    return E5(c >> 19 & 31) << 16 | ((c >> 10 & 63) << 2 | (c >> 10 & 63) >> 4) << 8 |
           E5(c >> 3 & 31);
}

std::array<uint32_t, 4> Each(std::array<uint32_t, 4> colors, uint32_t (*f)(uint32_t)) {
    for (auto& c : colors) c = f(c);
    return colors;
}

std::vector<Layout> Layouts() {
    const std::array<uint32_t, 4> four = {Red, Green, Blue, Pale};
    std::vector<Layout> all;
    {
        BmpBuilder b = Picture(1, true, [](int q) { return q == 0 ? 1u : 0u; });
        b.palette = {0x102030, Pale};
        all.push_back({"1-bit palette", b, {Pale, 0x102030, 0x102030, 0x102030}});
    }
    {
        BmpBuilder b = Picture(4, true, [](int q) { return uint32_t(q + 1); });
        b.palette = Palette16;
        all.push_back({"4-bit palette", b, four});
    }
    {
        BmpBuilder b = Picture(8, false, [](int q) { return uint32_t(200 + q); });
        b.palette.assign(256, 0);
        for (int q = 0; q < 4; ++q) b.palette[size_t(200 + q)] = four[size_t(q)];
        all.push_back({"8-bit palette, top-down", b, four});
    }
    {
        BmpBuilder b = Rle(false, {7, 8, 9, 10});
        b.palette.assign(256, 0);
        for (int q = 0; q < 4; ++q) b.palette[size_t(7 + q)] = four[size_t(q)];
        all.push_back({"8-bit RLE", b, four});
    }
    {
        BmpBuilder b = Rle(true, {1, 2, 3, 4});
        b.palette = Palette16;
        all.push_back({"4-bit RLE", b, four});
    }
    {
        BmpBuilder b = Picture(16, true, [&](int q) { return To555(four[size_t(q)]); });
        all.push_back({"16-bit 5-5-5", b, Each(four, Round555)});
    }
    {
        BmpBuilder b = Picture(16, false, [&](int q) { return To565(four[size_t(q)]); });
        b.compression = bmp::BI_BITFIELDS;
        b.masks = std::vector<uint32_t>{0xF800, 0x07E0, 0x001F};
        all.push_back({"16-bit 5-6-5 bit fields, top-down", b, Each(four, Round565)});
    }
    all.push_back({"24-bit", Picture(24, true, [&](int q) { return four[size_t(q)]; }), four});
    all.push_back(
        {"24-bit top-down", Picture(24, false, [&](int q) { return four[size_t(q)]; }), four});
    all.push_back(
        {"32-bit", Picture(32, true, [&](int q) { return four[size_t(q)] | 0xAB000000u; }), four});
    {
        BmpBuilder b = Picture(32, true, [&](int q) { return four[size_t(q)]; });
        b.compression = bmp::BI_BITFIELDS;
        b.masks = std::vector<uint32_t>{0xFF0000, 0xFF00, 0xFF};
        all.push_back({"32-bit 8-8-8 bit fields", b, four});
    }
    {
        BmpBuilder b = Picture(32, true, [&](int q) { return To565(four[size_t(q)]); });
        b.compression = bmp::BI_BITFIELDS;
        b.masks = std::vector<uint32_t>{0xF800, 0x07E0, 0x001F};
        all.push_back({"32-bit 5-6-5 bit fields", b, Each(four, Round565)});
    }
    {
        BmpBuilder b = Picture(8, true, [](int q) { return uint32_t(q); });
        b.infoSize = 12;
        b.palette = {Red, Green, Blue, Pale};
        b.palette.resize(256, 0);
        all.push_back({"OS/2 8-bit", b, four});
    }
    return all;
}

class JpegExport : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Scratch.isValid()); }
    std::string Path(const std::string& name) const {
        return (Scratch.path() + "/").toStdString() + name;
    }
    QStringList Files() const { return QDir(Scratch.path()).entryList(QDir::Files | QDir::Hidden); }
    QTemporaryDir Scratch;
};

TEST_F(JpegExport, EveryLayoutComesOutBaselineQuality90WithItsColours) {
    for (const Layout& layout : Layouts()) {
        SCOPED_TRACE(layout.name);
        layout.bmp.WriteTo(Path("in.bmp"));
        ASSERT_TRUE(ConvertBmpToJpeg(Path("in.bmp"), Path("out.jpg")));
        Decoded jpeg;
        ASSERT_TRUE(Decode(ReadFileBytes(Path("out.jpg")), jpeg));
        EXPECT_FALSE(jpeg.progressive);
        EXPECT_EQ(jpeg.components, 3);
        // Quality 90 scales the standard tables to a fifth: 16 -> 3, 17 -> 3.
        EXPECT_EQ(jpeg.lumaDc, 3);
        EXPECT_EQ(jpeg.chromaDc, 3);
        ASSERT_EQ(jpeg.width, Size);
        ASSERT_EQ(jpeg.height, Size);
        TFastDIB source;
        ASSERT_TRUE(source.LoadBitmapFile(Path("in.bmp")));
        int worst = 0;
        for (int y = 0; y < Size; ++y)
            for (int x = 0; x < Size; ++x) {
                // Away from the edges between the blocks, where the codec blurs.
                if (x % 16 < 2 || x % 16 > 13 || y % 16 < 2 || y % 16 > 13) continue;
                const uint32_t want = layout.expected[size_t(Quadrant(x, y))];
                ASSERT_EQ(source.GetColor(source.RowOf(y), x), want) << x << "," << y;
                worst = std::max(worst, Distance(jpeg.At(x, y), want));
            }
        EXPECT_LE(worst, 8);
    }
}

TEST_F(JpegExport, SizesThatAreNoMultipleOfTheBlocksKeepTheirSizeAndEdges) {
    for (uint16_t bits : {24, 32})
        for (auto [w, h] :
             {std::pair{1, 1}, std::pair{33, 17}, std::pair{7, 300}, std::pair{70, 9}}) {
            SCOPED_TRACE(std::to_string(bits) + " bits " + std::to_string(w) + "x" +
                         std::to_string(h));
            BmpBuilder b;
            b.width = w;
            b.height = h;
            b.bits = bits;
            // The last column differs from the rest, so a lost or shifted tail shows.
            b.pixels =
                PackPixels(w, h, bits, true, [w](int x, int) { return x == w - 1 ? 0u : Pale; });
            b.WriteTo(Path("odd.bmp"));
            ConvertBmpToJpeg(Path("odd.bmp"), Path("odd.jpg"));
            Decoded jpeg;
            ASSERT_TRUE(Decode(ReadFileBytes(Path("odd.jpg")), jpeg));
            EXPECT_EQ(jpeg.width, w);
            EXPECT_EQ(jpeg.height, h);
            // Dark against light is a brightness edge, which the codec keeps sharp.
            EXPECT_LE(Distance(jpeg.At(w - 1, h / 2), 0), 40);
            if (w > 8) {
                EXPECT_LE(Distance(jpeg.At(w / 2, h / 2), Pale), 8);
            }
        }
}

// What the codec makes of the picture's colours handed over as RGB lines.
std::vector<uint8_t> EncodedAsRgb(const std::string& bmpPath) {
    TFastDIB dib;
    if (!dib.LoadBitmapFile(bmpPath)) return {};
    auto line = [](const void* context, int y, uint8_t* rgb) noexcept {
        const auto& d = *static_cast<const TFastDIB*>(context);
        for (int x = 0; x < d.Width(); ++x, rgb += 3) {
            const uint32_t c = d.GetColor(d.RowOf(y), x);
            rgb[0] = uint8_t(c >> 16);
            rgb[1] = uint8_t(c >> 8);
            rgb[2] = uint8_t(c);
        }
    };
    TJpegEncoder encoder;
    const auto bytes = encoder.Encode(dib.Width(), dib.RowCount, line, &dib);
    return {bytes.begin(), bytes.end()};
}

TEST_F(JpegExport, EveryLayoutGivesTheCodecsBytesForItsColours) {
    // Some layouts are read by the codec where they lie, the rest converted:
    // either way the file holds exactly the bytes of the colours as RGB.
    std::vector<Layout> all = Layouts();
    uint32_t seed = 1;
    auto noise = [&seed](int, int) { return seed = seed * 1103515245u + 12345u; };
    for (uint16_t bits : {24, 32})
        for (bool bottomUp : {true, false}) {
            BmpBuilder b;
            b.width = 301; // SIMD lanes and blocks both end part-way
            b.height = bottomUp ? 77 : -77;
            b.bits = bits;
            b.pixels = PackPixels(301, 77, bits, bottomUp, noise);
            all.push_back({"noise", b, {}});
        }
    for (const Layout& layout : all) {
        SCOPED_TRACE(layout.name + std::string(" ") + std::to_string(layout.bmp.bits));
        layout.bmp.WriteTo(Path("in.bmp"));
        ASSERT_TRUE(ConvertBmpToJpeg(Path("in.bmp"), Path("out.jpg")));
        const std::vector<uint8_t> want = EncodedAsRgb(Path("in.bmp"));
        ASSERT_FALSE(want.empty());
        EXPECT_TRUE(ReadFileBytes(Path("out.jpg")) == want);
    }
}

TEST_F(JpegExport, AnExportReplacesTheFileWhole) {
    Picture(24, true, [](int) { return Red; }).WriteTo(Path("a.bmp"));
    Picture(24, true, [](int) { return Blue; }).WriteTo(Path("b.bmp"));
    ConvertBmpToJpeg(Path("a.bmp"), Path("out.jpg"));
    ConvertBmpToJpeg(Path("b.bmp"), Path("out.jpg"));
    Decoded jpeg;
    ASSERT_TRUE(Decode(ReadFileBytes(Path("out.jpg")), jpeg));
    EXPECT_LE(Distance(jpeg.At(5, 5), Blue), 8);
    EXPECT_EQ(Files(), (QStringList{"a.bmp", "b.bmp", "out.jpg"}));
}

TEST_F(JpegExport, FailuresRaiseAndLeaveTheDestinationAsItWas) {
    WriteFileBytes(Path("old.jpg"), {1, 2, 3});
    WriteFileBytes(Path("junk.bmp"), {'B', 'M', 0, 0});
    BmpBuilder zero;
    zero.width = 0;
    zero.WriteTo(Path("zero.bmp"));
    for (const char* source : {"missing.bmp", "junk.bmp", "zero.bmp"}) {
        EXPECT_THROW(ConvertBmpToJpeg(Path(source), Path("old.jpg")), EExportError) << source;
        EXPECT_EQ(ReadFileBytes(Path("old.jpg")), (std::vector<uint8_t>{1, 2, 3})) << source;
    }
    Picture(24, true, [](int) { return Red; }).WriteTo(Path("good.bmp"));
    EXPECT_THROW(ConvertBmpToJpeg(Path("good.bmp"), Path("no/such/dir.jpg")), EExportError);
    // The temporary directory itself, which an empty published name gives.
    EXPECT_THROW(ConvertBmpToJpeg(Path("good.bmp"), Path("")), EExportError);
    EXPECT_EQ(Files(), (QStringList{"good.bmp", "junk.bmp", "old.jpg", "zero.bmp"}));
}

TEST(JpegEncoder, CodecErrorsRaiseAndTheEncoderStaysUsable) {
    TJpegEncoder encoder;
    auto nothing = [](const void*, int, uint8_t*) noexcept {};
    // Wider than JPEG allows: libjpeg's own error, reported instead of exit().
    try {
        encoder.Encode(
            70000, 1,
            +[](const void*, int, uint8_t* rgb) noexcept { std::fill(rgb, rgb + 70000 * 3, 128); },
            nullptr);
        ADD_FAILURE() << "nothing raised";
    } catch (const EJpegError& e) {
        EXPECT_NE(std::string(e.what()).find("65500"), std::string::npos) << e.what();
    }
    EXPECT_THROW(encoder.Encode(0, 10, nothing, nullptr), EJpegError);
    auto bytes = encoder.Encode(
        16, 16, +[](const void*, int, uint8_t* rgb) noexcept { std::fill(rgb, rgb + 16 * 3, 200); },
        nullptr);
    Decoded jpeg;
    ASSERT_TRUE(Decode({bytes.begin(), bytes.end()}, jpeg));
    EXPECT_EQ(jpeg.width, 16);
    EXPECT_LE(Distance(jpeg.At(3, 3), 0xC8C8C8), 2);
}

TEST_F(JpegExport, TheLongPathOfAnExistingFileIsItself) {
    WriteFileBytes(Path("shot.jpg"), {0});
    WriteFileBytes(Path("a*b"), {0});
    WriteFileBytes(Path("a?b"), {0});
    EXPECT_EQ(ExpandLongPath(Path("shot.jpg")), Path("shot.jpg"));
    EXPECT_EQ(ExpandLongPath(Path("missing.jpg")), "");
    EXPECT_EQ(ExpandLongPath(Path("a*b")), "");
    EXPECT_EQ(ExpandLongPath(Path("a?b")), "");
    EXPECT_EQ(ExpandLongPath(Scratch.path().toStdString() + "//shot.jpg"), "");
    EXPECT_EQ(ExpandLongPath(Scratch.path().toStdString()), "") << "a directory is no file";
}

TEST_F(JpegExport, ExportedNamesStayInTheTemporaryDirectory) {
    TempDirScope tmp;
    EXPECT_EQ(ExportFilePath("screencap1.jpg"), tmp.File("screencap1.jpg"));
    EXPECT_EQ(ExportFilePath(" odd name.png "), tmp.File(" odd name.png "));
    for (const std::string& bad :
         {std::string(""), std::string("."), std::string(".."), std::string("../up.jpg"),
          std::string("sub/x.jpg"), std::string("/etc/x.jpg"), std::string("a\0b", 3)})
        EXPECT_THROW(ExportFilePath(bad), EExportError) << bad;
}

// Someone who could plant a link under the next name must not get the
// picture written through it over the file it points to.
TEST_F(JpegExport, ALinkAtTheDestinationIsReplacedNotFollowed) {
    Picture(24, true, [](int) { return Red; }).WriteTo(Path("in.bmp"));
    WriteFileBytes(Path("victim.txt"), {'m', 'i', 'n', 'e'});
    for (const char* target : {"victim.txt", "missing.txt"}) {
        SCOPED_TRACE(target);
        QFile::remove(QString::fromStdString(Path("out.jpg")));
        ASSERT_TRUE(QFile::link(QString::fromStdString(Path(target)),
                                QString::fromStdString(Path("out.jpg"))));
        ConvertBmpToJpeg(Path("in.bmp"), Path("out.jpg"));
        EXPECT_FALSE(IsLink(Path("out.jpg")));
        Decoded jpeg;
        EXPECT_TRUE(Decode(ReadFileBytes(Path("out.jpg")), jpeg));
    }
    EXPECT_EQ(ReadFileBytes(Path("victim.txt")), (std::vector<uint8_t>{'m', 'i', 'n', 'e'}));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(Path("missing.txt"))));
}

TEST_F(JpegExport, ExportedPicturesAreReadableByTheirOwnerOnly) {
    UmaskScope usual(022);
    Picture(24, true, [](int) { return Red; }).WriteTo(Path("in.bmp"));
    ConvertBmpToJpeg(Path("in.bmp"), Path("new.jpg"));
    EXPECT_EQ(ModeOf(Path("new.jpg")), 0600u);
    // Replacing a file that others could read does not keep their access.
    WriteFileBytes(Path("old.jpg"), {1});
    ::chmod(Path("old.jpg").c_str(), 0644);
    ConvertBmpToJpeg(Path("in.bmp"), Path("old.jpg"));
    EXPECT_EQ(ModeOf(Path("old.jpg")), 0600u);
}

} // namespace

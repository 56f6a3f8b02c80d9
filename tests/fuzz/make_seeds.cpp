// make_seeds TARGET DIR: writes small valid inputs for a fuzz target.
#include <cstdio>
#include <string>
#include <vector>

#include "BmpBuilder.h"

namespace {

std::vector<uint8_t> Rows(int width, int height, int bits) {
    std::vector<uint8_t> p(BmpStride(width, bits) * size_t(height));
    for (size_t i = 0; i < p.size(); ++i) p[i] = uint8_t(i * 37 + 11);
    return p;
}

void BmpSeeds(const std::string& dir) {
    int n = 0;
    auto put = [&](const BmpBuilder& b) {
        b.WriteTo(dir + "/seed" + std::to_string(n++) + ".bmp");
    };
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        for (int height : {3, -3}) {
            BmpBuilder b;
            b.width = 5;
            b.height = height;
            b.bits = uint16_t(bits);
            if (bits <= 8)
                for (int i = 0; i < (1 << bits); ++i) b.palette.push_back(uint32_t(i * 0x010305));
            b.pixels = Rows(5, 3, bits);
            put(b);
        }
    }
    BmpBuilder f565;
    f565.width = 4;
    f565.height = 2;
    f565.bits = 16;
    f565.compression = 3;
    f565.masks = std::vector<uint32_t>{0xF800, 0x07E0, 0x001F};
    f565.pixels = Rows(4, 2, 16);
    put(f565);
    BmpBuilder f32 = f565;
    f32.bits = 32;
    f32.masks = std::vector<uint32_t>{0xFF0000, 0xFF00, 0xFF};
    f32.pixels = Rows(4, 2, 32);
    put(f32);
    BmpBuilder rle8;
    rle8.width = 6;
    rle8.height = 4;
    rle8.bits = 8;
    rle8.compression = 1;
    for (int i = 0; i < 256; ++i) rle8.palette.push_back(uint32_t(i * 0x010101));
    rle8.pixels = {3, 7, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 1, 1, 2, 9, 0, 0, 6, 200, 0, 1};
    put(rle8);
    BmpBuilder rle4 = rle8;
    rle4.bits = 4;
    rle4.compression = 2;
    rle4.palette.resize(16);
    rle4.pixels = {5, 0x12, 0, 0, 0, 3, 0x45, 0x60, 0, 2, 1, 1, 2, 0xAB, 0, 1};
    put(rle4);
    BmpBuilder os2;
    os2.infoSize = 12;
    os2.width = 3;
    os2.height = 2;
    os2.bits = 8;
    for (int i = 0; i < 256; ++i) os2.palette.push_back(uint32_t(255 - i) << 8);
    os2.pixels = Rows(3, 2, 8);
    put(os2);
    // The longer headers image editors write: V4 with a palette, V5 with masks.
    BmpBuilder v4;
    v4.infoSize = 108;
    v4.width = 5;
    v4.height = 3;
    v4.bits = 4;
    for (int i = 0; i < 16; ++i) v4.palette.push_back(uint32_t(i * 0x111111));
    v4.pixels = Rows(5, 3, 4);
    put(v4);
    BmpBuilder v5 = f32;
    v5.infoSize = 124;
    put(v5);
    BmpBuilder v5rle = rle8;
    v5rle.infoSize = 124;
    put(v5rle);
}

void WriteSeeds(const std::string& dir, const std::vector<std::string>& replies) {
    int n = 0;
    for (const std::string& r : replies)
        if (FILE* f = std::fopen((dir + "/seed" + std::to_string(n++)).c_str(), "wb")) {
            std::fwrite(r.data(), 1, r.size(), f);
            std::fclose(f);
        }
}

// Replies of upload scripts: the first byte picks the piece sizes.
void ReplySeeds(const std::string& dir) {
    WriteSeeds(dir, {
                        "\x03HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n##TRANSFER_OK##\r\n",
                        "\x07HTTP/1.0 404 Not Found\n\n<html>Not Found</html>",
                        "\x01a<br>b\n\rc\rd\r\n\r\n\n\r",
                    });
}

// FTP control replies: the first byte picks the piece sizes and the line-end rule.
void FtpReplySeeds(const std::string& dir) {
    WriteSeeds(dir, {
                        "\x05"
                        "220-Welcome\r\n220 Ready\r\n331 Password\r\n230 In\r\n",
                        "\x20"
                        "227 Entering Passive Mode (127,0,0,1,184,97).\r\n",
                        "\x11"
                        "257 \"/a\"\"b\" created\n213 1234\n",
                        "\x02"
                        "\r\nText\r\n550-x\n550 y\r\n227 (300,1,2,3,4,5)\r\n",
                    });
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_seeds TARGET DIR\n");
        return 2;
    }
    std::string target = argv[1], dir = argv[2];
    if (target == "fuzz_bmp") BmpSeeds(dir);
    if (target == "fuzz_dataqueue") ReplySeeds(dir);
    if (target == "fuzz_ftpreply") FtpReplySeeds(dir);
    return 0;
}

// Opens the capture editor on a BMP file with the real dialogs, for looking at
// the window on a real display: editor_preview FILE [WIDTH HEIGHT]. A missing
// file is first filled with a striped test picture of the given size.
#include "BmpBuilder.h"
#include "modifyCaptureUnit.h"

#include <QApplication>

#include <cstdio>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [WIDTH HEIGHT]\n", argv[0]);
        return 2;
    }
    const std::string file = argv[1];
    if (!std::filesystem::exists(file)) {
        BmpBuilder b;
        b.width = argc > 3 ? std::stoi(argv[2]) : 640;
        b.height = argc > 3 ? std::stoi(argv[3]) : 480;
        b.bits = 24;
        b.pixels = PackPixels(b.width, b.height, 24, true, [&](int x, int y) {
            uint32_t band = uint32_t(x * 4 / b.width);
            const uint32_t colors[] = {0x3060C0, 0x40A040, 0xE0C020, 0xF0F0F0};
            return (y / 40) % 2 ? colors[band] : colors[3 - band];
        });
        b.WriteTo(file);
    }
    TfrmModifyCapture form;
    form.CaptureFile = file;
    form.exec();
    return 0;
}

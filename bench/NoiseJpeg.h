// A JPEG of random noise (the worst case for the codec and the wire),
// padded with zero bytes to `size` when it comes out smaller.
#pragma once

#include "JpegEncoder.h"

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

inline std::string NoiseJpeg(int width, int height, size_t size) {
    std::vector<uint8_t> rgb(size_t(width) * height * 3);
    std::mt19937 random(5);
    for (auto& b : rgb) b = uint8_t(random());
    struct Rows {
        const std::vector<uint8_t>* pixels;
        int width;
    } rows{&rgb, width};
    TJpegEncoder encoder;
    auto row = [](const void* context, int y, uint8_t* out) noexcept {
        const auto* r = static_cast<const Rows*>(context);
        const size_t stride = size_t(r->width) * 3;
        std::copy_n(r->pixels->data() + size_t(y) * stride, stride, out);
    };
    const auto bytes = encoder.Encode(width, height, row, &rows);
    std::string jpeg(bytes.begin(), bytes.end());
    if (jpeg.size() < size) jpeg.resize(size, '\0');
    return jpeg;
}

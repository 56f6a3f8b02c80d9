// Test pictures for the upload benchmarks: a JPEG of random pixels, padded
// with zeros to an exact size (the servers store bytes, not pictures).
#pragma once

#include "JpegEncoder.h"

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

inline std::string NoiseJpeg(int width, int height, size_t bytes) {
    struct Picture {
        int width;
        std::vector<uint8_t> rgb;
    } picture{width, std::vector<uint8_t>(size_t(width) * height * 3)};
    std::mt19937 random(5);
    for (auto& b : picture.rgb) b = uint8_t(random());
    TJpegEncoder encoder;
    auto row = [](const void* context, int y, uint8_t* out) noexcept {
        const auto* p = static_cast<const Picture*>(context);
        const size_t stride = size_t(p->width) * 3;
        std::copy_n(p->rgb.data() + size_t(y) * stride, stride, out);
    };
    const auto encoded = encoder.Encode(width, height, row, &picture);
    std::string jpeg(encoded.begin(), encoded.end());
    if (jpeg.size() < bytes) jpeg.resize(bytes, '\0');
    return jpeg;
}

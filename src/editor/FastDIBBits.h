// Bit and byte helpers shared by the raster buffer's source files.
#pragma once

#include <cstdint>

namespace fastdib {

inline uint16_t ReadU16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
inline uint32_t ReadU32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Shifts by 32 or more give 0 instead of undefined behaviour.
inline uint32_t Shl(uint32_t v, unsigned n) {
    return n >= 32 ? 0 : v << n;
}
inline uint32_t Shr(uint32_t v, unsigned n) {
    return n >= 32 ? 0 : v >> n;
}
inline uint32_t LowBits(unsigned n) {
    return n >= 32 ? 0xFFFFFFFFu : (1u << n) - 1;
}

inline uint32_t ColorRefToPixel(uint32_t ref) {
    return (ref & 0xFF) << 16 | (ref & 0xFF00) | (ref >> 16 & 0xFF);
}

} // namespace fastdib

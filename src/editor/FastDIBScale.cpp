// Bilinear scaling into another buffer of the same depth, with vector
// kernels where the processor has them and two threads for big pictures.
#include "FastDIB.h"
#include "FastDIBBits.h"

#include <cstring>
#include <thread>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

using namespace bmp;
using namespace fastdib;

namespace {

// Horizontal sampling positions, the same for every row.
struct ColumnStep {
    uint32_t offset; // byte offset of the left sample
    uint32_t next;   // byte offset of the right sample (the same pixel when there is none)
    uint32_t fx;     // 16-bit fraction
};

struct ScaleJob {
    const TFastDIB* src;
    TFastDIB* dst;
    std::vector<ColumnStep> cols;
    uint32_t yStep;
};

// The two source rows a destination row samples, with their weights.
struct SourceRows {
    const uint8_t* A; // upper row
    const uint8_t* B; // lower row; the upper one again at the bottom edge
    uint32_t wA, wB;
};

SourceRows RowsFor(const ScaleJob& job, int r) {
    const TFastDIB& S = *job.src;
    const uint32_t y = uint32_t(r) * job.yStep;
    const size_t iy = y >> 16;
    const uint8_t* A = S.RowTable[iy];
    const uint8_t* B = int(iy) < S.RowCount - 1 ? S.RowTable[iy + 1] : A;
    const uint32_t fy = y & 0xFFFF;
    return {A, B, 65536 - fy, fy + 1};
}

// The weights of a destination pixel's four samples: left and right in the
// upper row, left and right in the lower row. They sum to 65,537 at most.
struct SampleWeights {
    uint32_t a0, a1, b0, b1;
};

inline SampleWeights WeightsFor(const SourceRows& rows, const ColumnStep& c) {
    const uint32_t a1 = (rows.wA * c.fx) >> 16, b1 = (rows.wB * c.fx) >> 16;
    return {rows.wA - a1, a1, rows.wB - b1, b1};
}

inline uint32_t Blend(uint32_t a0, uint32_t a1, uint32_t b0, uint32_t b1, const SampleWeights& w) {
    return (a0 * w.a0 + a1 * w.a1 + b0 * w.b0 + b1 * w.b1) >> 16;
}

// Interpolates the first Channels bytes of one destination pixel.
template <int Channels>
inline void BlendPixel(const SourceRows& rows, const ColumnStep& c, uint8_t* out) {
    const SampleWeights w = WeightsFor(rows, c);
    const uint8_t *a = rows.A + c.offset, *an = rows.A + c.next;
    const uint8_t *b = rows.B + c.offset, *bn = rows.B + c.next;
    for (int k = 0; k < Channels; ++k) out[k] = uint8_t(Blend(a[k], an[k], b[k], bn[k], w));
}

// Scales destination rows [row0, row1) of 8-, 24- or 32-bit pictures; Channels
// bytes of each Bytes-wide pixel are interpolated.
template <int Bytes, int Channels> void ScaleBytes(const ScaleJob& job, int row0, int row1) {
    for (int r = row0; r < row1; ++r) {
        const SourceRows rows = RowsFor(job, r);
        uint8_t* out = job.dst->RowTable[size_t(r)];
        for (const ColumnStep& c : job.cols) {
            BlendPixel<Channels>(rows, c, out);
            out += Bytes;
        }
    }
}

#if defined(__x86_64__)
inline uint32_t Load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// The bytes of two pixels, one per 32-bit lane.
__attribute__((target("avx2"))) inline __m256i Widen(uint32_t lo, uint32_t hi) {
    return _mm256_cvtepu8_epi32(_mm_set_epi64x(0, int64_t(uint64_t(hi) << 32 | lo)));
}
__attribute__((target("avx2"))) inline __m256i Weights(uint32_t lo, uint32_t hi) {
    return _mm256_set_m128i(_mm_set1_epi32(int(hi)), _mm_set1_epi32(int(lo)));
}

// Two destination pixels per step: the four samples of both are widened to
// 32-bit lanes and weighted in one multiply each. The sums stay below 2^25,
// so the lanes give exactly the scalar results.
template <int Bytes>
__attribute__((target("avx2"))) void ScaleBytesAvx2(const ScaleJob& job, int row0, int row1) {
    const TFastDIB& S = *job.src;
    const size_t count = job.cols.size();
    // 24-bit samples are read four bytes at a time; the last bytes of a row
    // may lack the spare byte, so those columns take the scalar path.
    size_t wide = count;
    if (Bytes == 3)
        while (wide > 0 && job.cols[wide - 1].next + 4 > uint32_t(S.Stride)) --wide;
    wide &= ~size_t(1);
    for (int r = row0; r < row1; ++r) {
        const SourceRows rows = RowsFor(job, r);
        const uint8_t *A = rows.A, *B = rows.B;
        uint8_t* out = job.dst->RowTable[size_t(r)];
        size_t j = 0;
        for (; j < wide; j += 2, out += 2 * Bytes) {
            const ColumnStep& c0 = job.cols[j];
            const ColumnStep& c1 = job.cols[j + 1];
            const SampleWeights w0 = WeightsFor(rows, c0), w1 = WeightsFor(rows, c1);
            __m256i sum = _mm256_mullo_epi32(Widen(Load32(A + c0.offset), Load32(A + c1.offset)),
                                             Weights(w0.a0, w1.a0));
            sum = _mm256_add_epi32(
                sum, _mm256_mullo_epi32(Widen(Load32(A + c0.next), Load32(A + c1.next)),
                                        Weights(w0.a1, w1.a1)));
            sum = _mm256_add_epi32(
                sum, _mm256_mullo_epi32(Widen(Load32(B + c0.offset), Load32(B + c1.offset)),
                                        Weights(w0.b0, w1.b0)));
            sum = _mm256_add_epi32(
                sum, _mm256_mullo_epi32(Widen(Load32(B + c0.next), Load32(B + c1.next)),
                                        Weights(w0.b1, w1.b1)));
            sum = _mm256_srli_epi32(sum, 16);
            __m256i packed = _mm256_packus_epi16(_mm256_packus_epi32(sum, sum), sum);
            uint32_t p0 = uint32_t(_mm_cvtsi128_si32(_mm256_castsi256_si128(packed)));
            uint32_t p1 = uint32_t(_mm_cvtsi128_si32(_mm256_extracti128_si256(packed, 1)));
            if (Bytes == 4) {
                // The fourth byte of a 32-bit pixel is not a channel and stays as it was.
                p0 = (p0 & 0xFFFFFF) | (Load32(out) & 0xFF000000);
                p1 = (p1 & 0xFFFFFF) | (Load32(out + 4) & 0xFF000000);
                std::memcpy(out, &p0, 4);
                std::memcpy(out + 4, &p1, 4);
            } else {
                std::memcpy(out, &p0, 3);
                std::memcpy(out + 3, &p1, 3);
            }
        }
        for (; j < count; ++j, out += Bytes) BlendPixel<3>(rows, job.cols[j], out);
    }
}

bool HasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}
#endif

// 24- and 32-bit rows, by the widest kernel this processor runs.
template <int Bytes> void ScaleTrueColor(const ScaleJob& job, int row0, int row1) {
#if defined(__x86_64__)
    if (TFastDIB::WideKernels && HasAvx2()) {
        ScaleBytesAvx2<Bytes>(job, row0, row1);
        return;
    }
#endif
    ScaleBytes<Bytes, 3>(job, row0, row1);
}

struct Tables16 {
    std::vector<uint8_t> blue, green, red; // 65,536 entries each
    uint16_t packBlue[256], packGreen[256], packRed[256];
};

void Scale16(const ScaleJob& job, const Tables16& t, int row0, int row1) {
    for (int r = row0; r < row1; ++r) {
        const SourceRows rows = RowsFor(job, r);
        uint8_t* out = job.dst->RowTable[size_t(r)];
        for (const ColumnStep& c : job.cols) {
            const SampleWeights w = WeightsFor(rows, c);
            uint16_t a = ReadU16(rows.A + c.offset), an = ReadU16(rows.A + c.next);
            uint16_t b = ReadU16(rows.B + c.offset), bn = ReadU16(rows.B + c.next);
            uint32_t blue = Blend(t.blue[a], t.blue[an], t.blue[b], t.blue[bn], w);
            uint32_t green = Blend(t.green[a], t.green[an], t.green[b], t.green[bn], w);
            uint32_t red = Blend(t.red[a], t.red[an], t.red[b], t.red[bn], w);
            uint16_t v = uint16_t(t.packBlue[blue] | t.packGreen[green] | t.packRed[red]);
            out[0] = uint8_t(v);
            out[1] = uint8_t(v >> 8);
            out += 2;
        }
    }
}

// Runs fn over the destination rows, split in two halves on two threads when
// the picture is big enough to pay for the thread. Rows are independent, so
// the result is the same either way.
template <class Fn> void ForRows(int rows, int width, Fn fn) {
    if (int64_t(rows) * width < 200000 || rows < 2) {
        fn(0, rows);
        return;
    }
    int half = rows / 2;
    std::thread other([&] { fn(half, rows); });
    fn(0, half);
    other.join();
}

} // namespace

void TFastDIB::ScaleInto(TFastDIB& dest) const {
    int bits = dest.BitCount();
    if (Empty() || dest.Empty() || bits != BitCount()) return;
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return;
    int bytes = bits / 8;

    ScaleJob job{this, &dest, {}, 0};
    uint32_t xStep = uint32_t(int32_t(int64_t(Width() - 1) * 65536 / dest.Width()));
    job.yStep = uint32_t(int32_t(int64_t(RowCount - 1) * 65536 / dest.RowCount));
    job.cols.resize(size_t(dest.Width()));
    uint32_t x = 0;
    for (ColumnStep& c : job.cols) {
        uint32_t ix = x >> 16;
        c.offset = ix * uint32_t(bytes);
        // The right neighbour only exists for sources wider than one pixel;
        // elsewhere its weight is 0.
        c.next = (ix + 1 < uint32_t(Width()) ? ix + 1 : ix) * uint32_t(bytes);
        c.fx = x & 0xFFFF;
        x += xStep;
    }

    switch (bits) {
    case 8:
        ForRows(dest.RowCount, dest.Width(), [&](int a, int b) { ScaleBytes<1, 1>(job, a, b); });
        break;
    case 24:
        ForRows(dest.RowCount, dest.Width(), [&](int a, int b) { ScaleTrueColor<3>(job, a, b); });
        break;
    case 32:
        ForRows(dest.RowCount, dest.Width(), [&](int a, int b) { ScaleTrueColor<4>(job, a, b); });
        break;
    case 16: {
        Tables16 t;
        t.blue.resize(65536);
        t.green.resize(65536);
        t.red.resize(65536);
        for (uint32_t p = 0; p < 65536; ++p) {
            t.blue[p] = uint8_t(p << BlueDown);
            t.green[p] = uint8_t(Shl(Shr(p, GreenUp), GreenDown));
            t.red[p] = uint8_t(Shl(Shr(p, RedUp), RedDown));
        }
        for (uint32_t v = 0; v < 256; ++v) {
            t.packBlue[v] = uint16_t(v >> dest.BlueDown);
            t.packGreen[v] = uint16_t(Shl(v >> dest.GreenDown, dest.GreenUp));
            t.packRed[v] = uint16_t(Shl(v >> dest.RedDown, dest.RedUp));
        }
        ForRows(dest.RowCount, dest.Width(), [&](int a, int b) { Scale16(job, t, a, b); });
        break;
    }
    }
}

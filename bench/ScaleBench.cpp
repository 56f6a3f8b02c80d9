// Shrinking a 4K screen capture into the editor's view: our ScaleInto against
// Qt's smooth QImage scaling of the same picture, and against a plain copy of
// the picture's bytes as the floor of what any pass over it costs.
#include "FastDIB.h"

#include "RatioReporter.h"

#include <benchmark/benchmark.h>

#include <QImage>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int SrcW = 3840, SrcH = 2160, DstW = 1900, DstH = 1040;

// A picture with detail in every channel, so no path can shortcut flat areas.
void FillPicture(TFastDIB& dib) {
    for (int r = 0; r < dib.RowCount; ++r) {
        uint8_t* p = dib.RowTable[size_t(r)];
        for (int c = 0; c < dib.Width(); ++c) {
            p[4 * c] = uint8_t(c * 7 + r);
            p[4 * c + 1] = uint8_t(c ^ r);
            p[4 * c + 2] = uint8_t(r * 3 - c);
            p[4 * c + 3] = 0;
        }
    }
}

TFastDIB& Source(int bits) {
    static std::map<int, TFastDIB> pictures;
    TFastDIB& dib = pictures[bits];
    if (dib.Empty()) {
        TFastDIB full;
        full.Allocate(SrcW, SrcH, 32);
        FillPicture(full);
        dib.Allocate(SrcW, SrcH, bits);
        dib.CopyBlock(full, 0, 0, SrcW, SrcH, 0, 0);
    }
    return dib;
}

void BM_ScaleInto(benchmark::State& state) {
    const int bits = int(state.range(0));
    TFastDIB& src = Source(bits);
    TFastDIB dest;
    dest.Allocate(DstW, DstH, bits);
    for (auto _ : state) {
        src.ScaleInto(dest);
        benchmark::DoNotOptimize(dest.PixelData);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ScaleInto)->Arg(32)->Arg(24)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_QtSmoothScale(benchmark::State& state) {
    const QImage src = Source(32).MemoryImage();
    for (auto _ : state) {
        QImage out = src.scaled(DstW, DstH, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        benchmark::DoNotOptimize(out.constBits());
    }
}
BENCHMARK(BM_QtSmoothScale)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CopyPictureBytes(benchmark::State& state) {
    const TFastDIB& src = Source(32);
    std::vector<uint8_t> dest(src.Header.bmiHeader.biSizeImage, 1);
    for (auto _ : state) {
        std::memcpy(dest.data(), src.PixelData, dest.size());
        benchmark::DoNotOptimize(dest.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_CopyPictureBytes)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto& t = reporter.Times;
    auto ratio = [&](const char* ours, const char* theirs) {
        auto a = t.find(ours), b = t.find(theirs);
        if (a == t.end() || b == t.end() || b->second <= 0) return;
        std::printf("%-28s / %-22s = %.2f\n", ours, theirs, a->second / b->second);
    };
    std::printf("\nRatios (lower is faster):\n");
    for (const char* ours :
         {"BM_ScaleInto/32/real_time", "BM_ScaleInto/24/real_time", "BM_ScaleInto/16/real_time"}) {
        ratio(ours, "BM_QtSmoothScale/real_time");
        ratio(ours, "BM_CopyPictureBytes/real_time");
    }
    benchmark::Shutdown();
    return 0;
}

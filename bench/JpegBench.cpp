// Exporting a 4K screen capture as JPEG: ConvertBmpToJpeg from the BMP file
// against cjpeg (libjpeg-turbo's own tool) on the same file, whole process,
// and against the codec alone encoding the picture already in memory as RGB,
// the floor of what any export costs.
#include "DesktopCapture.h"
#include "JpegEncoder.h"
#include "JpegExport.h"

#include "RatioReporter.h"
#include "RunTool.h"
#include "ThreadCpu.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

using desktop::H;
using desktop::Rgb;
using desktop::W;

std::string Dir() {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/";
}
const std::string Bmp = Dir() + "brwk_bench_capture.bmp";

void WriteCapture() {
    if (!desktop::WriteCapture(Bmp)) std::fprintf(stderr, "cannot write %s\n", Bmp.c_str());
}

void BM_ConvertBmpToJpeg(benchmark::State& state) {
    const std::string out = Dir() + "brwk_bench_ours.jpg";
    for (auto _ : state) ConvertBmpToJpeg(Bmp, out);
}
BENCHMARK(BM_ConvertBmpToJpeg)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

void BM_Cjpeg(benchmark::State& state) {
    const std::string out = Dir() + "brwk_bench_cjpeg.jpg";
    std::vector<std::string> args = {"cjpeg", "-quality", "90", "-baseline", "-outfile", out, Bmp};
    ToolCpu cpu(state);
    for (auto _ : state) {
        if (!RunTool(args)) {
            state.SkipWithError("cjpeg failed (package libjpeg-turbo-progs)");
            return;
        }
    }
}
BENCHMARK(BM_Cjpeg)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CodecAlone(benchmark::State& state) {
    const auto& rgb = Rgb();
    TJpegEncoder encoder;
    auto line = [](const void* context, int y, uint8_t* out) noexcept {
        const auto* all = static_cast<const std::vector<uint8_t>*>(context);
        std::copy_n(all->data() + size_t(y) * W * 3, size_t(W) * 3, out);
    };
    for (auto _ : state) benchmark::DoNotOptimize(encoder.Encode(W, H, line, &rgb).size());
}
BENCHMARK(BM_CodecAlone)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

// The same picture held as a capture holds it, four bytes a pixel (B, G, R,
// unused), its rows read where they lie: the floor for the capture's layout.
void BM_CodecAloneBgrx(benchmark::State& state) {
    const auto& rgb = Rgb();
    std::vector<uint8_t> bgrx(size_t(W) * H * 4);
    for (size_t i = 0, n = size_t(W) * H; i < n; ++i) {
        bgrx[4 * i] = rgb[3 * i + 2];
        bgrx[4 * i + 1] = rgb[3 * i + 1];
        bgrx[4 * i + 2] = rgb[3 * i];
    }
    TJpegEncoder encoder;
    auto row = [](const void* context, int y) noexcept {
        return static_cast<const std::vector<uint8_t>*>(context)->data() + size_t(y) * W * 4;
    };
    for (auto _ : state)
        benchmark::DoNotOptimize(
            encoder.Encode(W, H, TJpegEncoder::Pixels::Bgrx, row, &bgrx).size());
}
BENCHMARK(BM_CodecAloneBgrx)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    WriteCapture();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto& t = reporter.Times;
    auto ratio = [&](const char* ours, const char* theirs) {
        auto a = t.find(ours), b = t.find(theirs);
        if (a == t.end() || b == t.end() || b->second <= 0) return;
        std::printf("%-32s / %-26s = %.2f\n", ours, theirs, a->second / b->second);
    };
    std::printf("\nRatios (lower is faster):\n");
    ratio("BM_ConvertBmpToJpeg/min_time:2.000/real_time", "BM_Cjpeg/real_time");
    ratio("BM_ConvertBmpToJpeg/min_time:2.000/real_time", "BM_CodecAlone/min_time:2.000/real_time");
    ratio("BM_ConvertBmpToJpeg/min_time:2.000/real_time",
          "BM_CodecAloneBgrx/min_time:2.000/real_time");
    std::remove(Bmp.c_str());
    benchmark::Shutdown();
    return 0;
}

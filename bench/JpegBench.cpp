// Exporting a 4K screen capture as JPEG: ConvertBmpToJpeg from the BMP file
// against cjpeg (libjpeg-turbo's own tool) on the same file, whole process,
// and against the codec alone encoding the picture already in memory as RGB,
// the floor of what any export costs.
#include "FastDIB.h"
#include "JpegEncoder.h"
#include "JpegExport.h"

#include "RatioReporter.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

constexpr int W = 3840, H = 2160;

std::string Dir() {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/";
}
const std::string Bmp = Dir() + "brwk_bench_capture.bmp";

// Desktop-like: flat panels, soft gradients and rows of small dense marks
// standing in for text, so the encoder sees both smooth and busy blocks.
uint32_t Pixel(int x, int y) {
    if (y < 40) return 0x2B2B30;
    const bool window = x > 300 && x < 3400 && y > 200 && y < 1900;
    if (!window) return uint32_t(0x30 + y / 30) << 16 | uint32_t(0x50 + x / 40) << 8 | 0x90;
    const bool textLine = (y - 220) % 28 < 14 && x > 340 && x < 3300;
    if (textLine && ((x * 7 + y * 3) % 11 < 4 || (x / 9 + y) % 5 == 0)) return 0x202020;
    return 0xF4F4F2;
}

const std::vector<uint8_t>& Rgb() {
    static std::vector<uint8_t> rgb = [] {
        std::vector<uint8_t> v(size_t(W) * H * 3);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const uint32_t c = Pixel(x, y);
                uint8_t* p = &v[(size_t(y) * W + x) * 3];
                p[0] = uint8_t(c >> 16), p[1] = uint8_t(c >> 8), p[2] = uint8_t(c);
            }
        return v;
    }();
    return rgb;
}

void WriteCapture() {
    TFastDIB dib;
    dib.Allocate(W, H, 32);
    const auto& rgb = Rgb();
    for (int y = 0; y < H; ++y) {
        uint8_t* row = dib.RowTable[size_t(dib.RowOf(y))];
        for (int x = 0; x < W; ++x) {
            const uint8_t* p = &rgb[(size_t(y) * W + x) * 3];
            row[4 * x] = p[2], row[4 * x + 1] = p[1], row[4 * x + 2] = p[0], row[4 * x + 3] = 0;
        }
    }
    if (!dib.SaveBitmapFile(Bmp)) std::fprintf(stderr, "cannot write %s\n", Bmp.c_str());
}

void BM_ConvertBmpToJpeg(benchmark::State& state) {
    const std::string out = Dir() + "brwk_bench_ours.jpg";
    for (auto _ : state) ConvertBmpToJpeg(Bmp, out);
}
BENCHMARK(BM_ConvertBmpToJpeg)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Cjpeg(benchmark::State& state) {
    const std::string out = Dir() + "brwk_bench_cjpeg.jpg";
    std::vector<std::string> args = {"cjpeg", "-quality", "90", "-baseline", "-outfile", out, Bmp};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto _ : state) {
        pid_t pid;
        int status = 0;
        if (posix_spawnp(&pid, "cjpeg", nullptr, nullptr, argv.data(), environ) != 0 ||
            waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
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
BENCHMARK(BM_CodecAlone)->Unit(benchmark::kMillisecond)->UseRealTime();

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
    ratio("BM_ConvertBmpToJpeg/real_time", "BM_Cjpeg/real_time");
    ratio("BM_ConvertBmpToJpeg/real_time", "BM_CodecAlone/real_time");
    std::remove(Bmp.c_str());
    benchmark::Shutdown();
    return 0;
}

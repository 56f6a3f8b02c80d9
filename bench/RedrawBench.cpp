// One editor redraw while dragging a selection over a 4K capture: view
// rebuild (frame drawn on the overlay, bilinear scaling) and painting it,
// against Qt's smooth scaling of the same picture to the view size alone.
#include "CaptureEditor.h"
#include "FastDIB.h"

#include "RatioReporter.h"

#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <cstdio>
#include <map>
#include <string>

namespace {

constexpr int PicW = 3840, PicH = 2160;
constexpr capture::TExtent Window{1920, 1080};

const std::string& CaptureFile() {
    static QTemporaryDir dir;
    static const std::string path = dir.filePath("capture.bmp").toStdString();
    static bool written = [] {
        TFastDIB dib;
        dib.Allocate(PicW, PicH, 32);
        for (int r = 0; r < dib.RowCount; ++r) {
            uint8_t* p = dib.RowTable[size_t(r)];
            for (int c = 0; c < PicW; ++c) {
                p[4 * c] = uint8_t(c * 7 + r);
                p[4 * c + 1] = uint8_t(c ^ r);
                p[4 * c + 2] = uint8_t(r * 3 - c);
            }
        }
        return dib.SaveBitmapFile(path);
    }();
    (void)written;
    return path;
}

void BM_EditorRedraw(benchmark::State& state) {
    capture::TCaptureEditor editor;
    editor.Load(CaptureFile());
    editor.BuildView(Window);
    QImage screen(Window.width, Window.height, QImage::Format_RGB32);
    editor.MouseDown(100, 100);
    int step = 0;
    for (auto _ : state) {
        // Every move changes the frame, so every redraw rebuilds the view.
        editor.MouseMove(600 + step % 400, 400 + step % 300);
        ++step;
        editor.BuildView(Window);
        QPainter painter(&screen);
        editor.View().PaintTo(painter, 0, 0);
    }
}
BENCHMARK(BM_EditorRedraw)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_QtSmoothScaleToView(benchmark::State& state) {
    TFastDIB picture;
    picture.LoadBitmapFile(CaptureFile());
    const QImage source = picture.MemoryImage();
    capture::TCaptureEditor editor;
    editor.Load(CaptureFile());
    editor.BuildView(Window);
    const capture::TExtent view = editor.ViewSize();
    for (auto _ : state) {
        QImage out =
            source.scaled(view.width, view.height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        benchmark::DoNotOptimize(out.constBits());
    }
}
BENCHMARK(BM_QtSmoothScaleToView)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto a = reporter.Times.find("BM_EditorRedraw/real_time");
    auto b = reporter.Times.find("BM_QtSmoothScaleToView/real_time");
    if (a != reporter.Times.end() && b != reporter.Times.end() && b->second > 0)
        std::printf("\nRatio (lower is faster): redraw / Qt smooth scaling = %.2f\n",
                    a->second / b->second);
    benchmark::Shutdown();
    return 0;
}

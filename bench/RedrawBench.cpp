// One editor redraw while dragging a selection over a 4K capture: view
// rebuild (frame drawn on the overlay, bilinear scaling) and painting it,
// against Qt's smooth scaling of the same picture to the view size alone;
// the same with 100 drawn objects on the picture and while drawing one more;
// and burning 100 objects into a 4K picture, as closing with Yes does.
#include "CaptureEditor.h"
#include "FastDIB.h"

#include "RatioReporter.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>
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

// Moves the mouse of a drag begun on the editor and redraws at every step.
void RedrawWhileDragging(benchmark::State& state, capture::TCaptureEditor& editor) {
    QImage screen(Window.width, Window.height, QImage::Format_RGB32);
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

void BM_EditorRedraw(benchmark::State& state) {
    capture::TCaptureEditor editor;
    editor.Load(CaptureFile());
    editor.BuildView(Window);
    editor.MouseDown(100, 100);
    RedrawWhileDragging(state, editor);
}
BENCHMARK(BM_EditorRedraw)->Unit(benchmark::kMillisecond)->UseRealTime();

// A hundred objects of every kind spread over the picture.
std::vector<capture::TAnnotation> HundredObjects() {
    using capture::TShapeKind;
    std::vector<capture::TAnnotation> out;
    for (int i = 0; i < 100; ++i) {
        capture::TAnnotation a;
        a.kind = TShapeKind(i % 8);
        const QPoint at(100 + (i % 10) * 360, 100 + (i / 10) * 200);
        a.points = {at, at + QPoint(300, 150)};
        if (a.kind == TShapeKind::skPen || a.kind == TShapeKind::skHighlighter)
            for (int k = 1; k <= 30; ++k) a.points.push_back(at + QPoint(10 * k, (k * k) % 150));
        if (a.kind == TShapeKind::skText || a.kind == TShapeKind::skStep) a.points.resize(1);
        a.width = a.kind == TShapeKind::skHighlighter ? 30 : 8;
        a.size = a.kind == TShapeKind::skText ? 48 : 60;
        a.text = QString::fromUtf8("Click here: Grüße %1").arg(i);
        a.number = i + 1;
        out.push_back(a);
    }
    return out;
}

// Puts the objects on the editor by drawing them as steps: one click each.
void DrawSteps(capture::TCaptureEditor& editor, int count) {
    editor.SetTool(capture::TTool::tkStep);
    for (int i = 0; i < count; ++i) {
        editor.MouseDown(50 + (i % 10) * 180, 50 + (i / 10) * 100);
        editor.MouseUp(50 + (i % 10) * 180, 50 + (i / 10) * 100);
    }
    editor.SetTool(capture::TTool::tkText);
    for (int i = 0; i < count; ++i) {
        editor.MouseDown(90 + (i % 10) * 180, 70 + (i / 10) * 100);
        editor.TypeText(QString("note %1").arg(i));
        editor.FinishText();
    }
}

// Redraws while the mouse drags from (x, y) with the tool, beside 200 drawn objects.
void DragBeside200Objects(benchmark::State& state, capture::TTool tool, int x, int y) {
    capture::TCaptureEditor editor;
    editor.Load(CaptureFile());
    editor.BuildView(Window);
    DrawSteps(editor, 100);
    editor.SetTool(tool);
    editor.MouseDown(x, y);
    editor.BuildView(Window); // the objects drawn once, before the drag
    RedrawWhileDragging(state, editor);
}

void BM_EditorRedrawWith200Objects(benchmark::State& state) {
    DragBeside200Objects(state, capture::TTool::tkSelect, 5, 1000);
}
BENCHMARK(BM_EditorRedrawWith200Objects)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_EditorDrawingAnArrowBeside200Objects(benchmark::State& state) {
    DragBeside200Objects(state, capture::TTool::tkArrow, 100, 100);
}
BENCHMARK(BM_EditorDrawingAnArrowBeside200Objects)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Flatten100ObjectsInto4K(benchmark::State& state) {
    TFastDIB picture;
    picture.LoadBitmapFile(CaptureFile());
    const std::vector<capture::TAnnotation> objects = HundredObjects();
    for (auto _ : state) capture::FlattenInto(picture, objects);
}
BENCHMARK(BM_Flatten100ObjectsInto4K)->Unit(benchmark::kMillisecond)->UseRealTime();

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
    // Text needs the font machinery of a GUI application, not a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto a = reporter.Times.find("BM_EditorRedraw/real_time");
    auto b = reporter.Times.find("BM_QtSmoothScaleToView/real_time");
    if (a != reporter.Times.end() && b != reporter.Times.end() && b->second > 0)
        std::printf("\nRatio (lower is faster): redraw / Qt smooth scaling = %.2f\n",
                    a->second / b->second);
    for (const char* name : {"BM_EditorRedrawWith200Objects/real_time",
                             "BM_EditorDrawingAnArrowBeside200Objects/real_time"}) {
        auto c = reporter.Times.find(name);
        if (c != reporter.Times.end() && b != reporter.Times.end() && b->second > 0)
            std::printf("Ratio (lower is faster): %s / Qt smooth scaling = %.2f\n", name,
                        c->second / b->second);
    }
    benchmark::Shutdown();
    return 0;
}

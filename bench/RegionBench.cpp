// The one gesture on a 4K X desktop (Xvfb 3840x2160 with the test sessions'
// detailed background): from the key to the region chooser on the
// screen (the running copy's "Capture region" with its window in the tray:
// every screen grabbed, the frozen picture painted), against the X server's
// own grab by `import -window root`; and from the accepted rectangle
// (1920x1080) to its URL on the clipboard (the working capture written,
// the JPEG exported, published over FTP to local pyftpdlib, the URL on the
// clipboard, the notification), against `curl -T` of the same JPEG.
#include "CaptureOutcome.h"
#include "DesktopCapture.h"
#include "FtpPeers.h"
#include "Notifications.h"
#include "RatioReporter.h"
#include "RegionOverlay.h"
#include "RunTool.h"
#include "Screen.h"
#include "ScreenCapture.h"
#include "ScriptedDialogs.h"
#include "WorkingFiles.h"
#include "XSession.h"
#include "configUnit.h"
#include "mainFormUnit.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QEventLoop>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QWindow>

#include <cstdio>
#include <memory>

namespace {

struct QuietNotifier : platform::Notifier {
    int shown = 0;
    bool Notify(const std::string&, const std::string&, const std::string&) override {
        ++shown;
        return true;
    }
};

struct Setup {
    QTemporaryDir tmp, config;
    std::unique_ptr<XSession> x;
    std::unique_ptr<PyFtpdServer> server;
    std::unique_ptr<TfrmMain> window;
    QImage region;
    std::string jpeg; // the last JPEG we published, for curl
} setup;

void WaitFor(const std::function<bool()>& done) {
    while (!done()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

void BM_KeyToRegionChooser(benchmark::State& state) {
    platform::ScreenCapture capture;
    capture.Area = platform::ScreenCapture::caRegion;
    bool over = false;
    capture.OnCaptured = [&](platform::ScreenCapture*, const platform::CaptureOutcome&) {
        over = true;
    };
    for (auto _ : state) {
        over = false;
        capture.Start(0);
        WaitFor([&] { return capture.Overlay() != nullptr; });
        QWidget* w = capture.Overlay()->Windows().front().get();
        WaitFor([&] { return w->windowHandle() && w->windowHandle()->isExposed(); });
        // Painted and on the server.
        w->repaint();
        QCoreApplication::processEvents();
        state.PauseTiming();
        QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(w, &esc);
        WaitFor([&] { return over; });
        state.ResumeTiming();
    }
}
BENCHMARK(BM_KeyToRegionChooser)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

// Of which the grab of every screen.
void BM_GrabAllScreens(benchmark::State& state) {
    for (auto _ : state)
        if (platform::ComposeScreens(platform::GrabAllScreens()).isNull())
            return state.SkipWithError("no picture");
}
BENCHMARK(BM_GrabAllScreens)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

void BM_ImportRoot(benchmark::State& state) {
    for (auto _ : state)
        if (!RunTool({"import", "-display", setup.x->Display().toStdString(), "-window", "root",
                      "rgb:/dev/null"}))
            return state.SkipWithError("import failed (package imagemagick)");
}
BENCHMARK(BM_ImportRoot)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

void BM_RegionToUrlOnClipboard(benchmark::State& state) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    for (auto _ : state) {
        clipboard->setText("none");
        setup.window->Capture1Captured(setup.window->Capture1.get(),
                                       platform::CaptureOutcome::Captured(setup.region));
        if (!clipboard->text().startsWith("http://"))
            return state.SkipWithError("the publish did not succeed");
    }
    // The JPEG of the last publish, as the server stored it, for curl.
    const QDir stored(QString::fromStdString(setup.server->Root() + "/captures"));
    const QStringList files = stored.entryList({"screencap*.jpg"}, QDir::Files, QDir::Time);
    if (!files.isEmpty()) setup.jpeg = stored.filePath(files[0]).toStdString();
}
BENCHMARK(BM_RegionToUrlOnClipboard)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

void BM_CurlUpload(benchmark::State& state) {
    if (setup.jpeg.empty()) return state.SkipWithError("no JPEG was published");
    for (auto _ : state)
        if (!RunTool({"curl", "-s", "-S", "--ftp-create-dirs", "-T", setup.jpeg,
                      setup.server->Url() + "captures/curl.jpg"}))
            return state.SkipWithError("curl failed");
}
BENCHMARK(BM_CurlUpload)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

bool Prepare() {
    qputenv("XDG_CACHE_HOME", setup.tmp.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", setup.config.path().toLocal8Bit());
    setup.server = std::make_unique<PyFtpdServer>();
    if (!setup.server->Running()) {
        std::fprintf(stderr, "pyftpdlib: %s\n", setup.server->Error().c_str());
        return false;
    }
    platform::installDialogs(std::make_unique<ScriptedDialogs>());
    platform::installNotifier(std::make_unique<QuietNotifier>());
    LoadSettings();
    Settings.transferType = settings::TransferFtp;
    Settings.hostName = setup.server->Host();
    Settings.port = std::to_string(setup.server->Port());
    Settings.userName = setup.server->User();
    Settings.password = setup.server->Password();
    Settings.destDirectory = "captures";
    Settings.hostPrefix = "http://127.0.0.1/captures/";
    Settings.afterCapture = settings::AfterPublish;
    SaveSettings();
    setup.window = std::make_unique<TfrmMain>();
    // The middle quarter of the desktop picture.
    setup.region = QImage(1920, 1080, QImage::Format_RGB32);
    for (int y = 0; y < 1080; ++y)
        for (int x = 0; x < 1920; ++x)
            setup.region.setPixel(x, y, 0xFF000000 | desktop::Pixel(960 + x, 540 + y));
    return true;
}

} // namespace

int main(int argc, char** argv) {
    setup.x = std::make_unique<XSession>(desktop::W, desktop::H, 24);
    if (!setup.x->Ok()) {
        std::fprintf(stderr, "%s\n", setup.x->Error().c_str());
        return 1;
    }
    qputenv("DISPLAY", setup.x->Display().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (!Prepare()) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double chooser = reporter.TimeOf("BM_KeyToRegionChooser");
    std::printf("\nKey to region chooser on 4K: %.1f ms (goal: under 150 ms)\n", chooser);
    const double import = reporter.TimeOf("BM_ImportRoot");
    const double ours = reporter.TimeOf("BM_RegionToUrlOnClipboard");
    const double curl = reporter.TimeOf("BM_CurlUpload");
    std::printf("\nRatios (lower is faster):\n");
    if (import > 0)
        std::printf("%-36s / %-26s = %.2f\n", "key to region chooser", "import -window root (grab)",
                    chooser / import);
    if (curl > 0)
        std::printf("%-36s / %-26s = %.2f\n", "rectangle to URL on the clipboard",
                    "curl -T of the same JPEG", ours / curl);
    setup.window.reset();
    platform::installNotifier(nullptr);
    platform::installDialogs(nullptr);
    setup.server.reset();
    benchmark::Shutdown();
    return 0;
}

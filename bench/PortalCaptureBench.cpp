// Capturing the screen on Wayland through the desktop's screenshot portal,
// against `grim` alone (what the portal's wlroots backend itself runs) on
// the same headless sway session, and the time from "Capture screen" to the
// working capture file on Wayland and on X11 (Xvfb).
//
// Run as root: it starts the sessions (WaylandSession makes its own user)
// and runs itself inside each of them.
#include "CaptureOutcome.h"
#include "PortalScreenshot.h"
#include "RatioReporter.h"
#include "RunTool.h"
#include "ScreenCapture.h"
#include "ScriptedDialogs.h"
#include "WaylandSession.h"
#include "WorkingFiles.h"
#include "XSession.h"
#include "mainFormUnit.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDBusConnection>
#include <QEventLoop>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

void BM_PortalScreenshot(benchmark::State& state) {
    for (auto _ : state) {
        platform::PortalScreenshot portal(QDBusConnection::sessionBus());
        QEventLoop loop;
        platform::CaptureOutcome answer;
        portal.OnAnswered = [&](platform::PortalScreenshot*, const platform::CaptureOutcome& o) {
            answer = o;
            loop.quit();
        };
        portal.Ask();
        loop.exec();
        if (answer.Result != platform::crCaptured) {
            state.SkipWithError((answer.Message + " " + answer.Details).c_str());
            return;
        }
        benchmark::DoNotOptimize(answer.Picture.constBits());
    }
}

void BM_Grim(benchmark::State& state) {
    const std::string file = QDir::temp().filePath("brwk-bench-grim.png").toStdString();
    for (auto _ : state)
        if (!RunTool({"grim", file})) {
            state.SkipWithError("grim failed");
            return;
        }
    std::remove(file.c_str());
}

// From the press of "Capture screen" until the working file is written and
// the window is back, without the designed one-second wait before the picture.
void BM_CaptureScreenToWorkingFile(benchmark::State& state) {
    ScriptedDialogsScope dialogs;
    TfrmMain window;
    window.show();
    window.Capture1->DelayMs = 0;
    auto shown = window.Capture1->OnCaptured;
    QEventLoop loop;
    window.Capture1->OnCaptured = [&](platform::ScreenCapture* sender,
                                      const platform::CaptureOutcome& outcome) {
        shown(sender, outcome);
        loop.quit();
    };
    for (auto _ : state) {
        DeleteWorkingFile();
        window.btnCaptureScreen->click();
        loop.exec();
        if (!WorkingFileExists()) {
            state.SkipWithError(dialogs->shown.empty() ? "no capture"
                                                       : dialogs->shown[0].text.c_str());
            return;
        }
    }
}

int RunInside(int argc, char** argv, bool wayland) {
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (wayland) {
        benchmark::RegisterBenchmark("BM_PortalScreenshot", BM_PortalScreenshot)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(20)
            ->UseRealTime();
        benchmark::RegisterBenchmark("BM_Grim", BM_Grim)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(20)
            ->UseRealTime();
    }
    benchmark::RegisterBenchmark(wayland ? "BM_CaptureScreenToWorkingFile/wayland"
                                         : "BM_CaptureScreenToWorkingFile/x11",
                                 BM_CaptureScreenToWorkingFile)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(10)
        ->UseRealTime();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    if (wayland && reporter.TimeOf("BM_Grim") > 0)
        std::printf("\nRatio, portal screenshot (ours) / grim alone (lower is faster): %.2f\n",
                    reporter.TimeOf("BM_PortalScreenshot") / reporter.TimeOf("BM_Grim"));
    std::printf("(\"Capture screen\" waits one second more before the picture, by design.)\n");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (!std::strcmp(argv[i], "--inside-wayland") || !std::strcmp(argv[i], "--inside-x11")) {
            const bool wayland = !std::strcmp(argv[i], "--inside-wayland");
            for (int j = i; j + 1 < argc; ++j) argv[j] = argv[j + 1];
            --argc;
            return RunInside(argc, argv, wayland);
        }
    QCoreApplication app(argc, argv);
    QStringList passOn;
    for (int i = 1; i < argc; ++i) passOn << argv[i];

    std::printf("== Wayland (headless sway, the portal's wlr backend)\n");
    std::fflush(stdout);
    {
        WaylandSession wl;
        if (!wl.Ok()) {
            std::fprintf(stderr, "no Wayland session: %s\n", wl.Error().c_str());
            return 1;
        }
        // Where the session's user can run it.
        const QString self = wl.UserDir("bin") + "/bench_portal_capture";
        QFile::copy(QCoreApplication::applicationFilePath(), self);
        QFile::setPermissions(self, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther |
                                        QFile::ExeOther);
        QProcessEnvironment env;
        env.insert("XDG_CACHE_HOME", wl.UserDir("cache"));
        env.insert("XDG_CONFIG_HOME", wl.UserDir("config"));
        int code = -1;
        const QByteArray out =
            wl.Run(self, QStringList{"--inside-wayland"} + passOn, &code, env, {}, 300000);
        std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
        if (code != 0) return 1;
    }

    std::printf("\n== X11 (Xvfb 1280x720x24, openbox)\n");
    std::fflush(stdout);
    XSession x(1280, 720, 24);
    if (!x.Ok()) {
        std::fprintf(stderr, "no X session: %s\n", x.Error().c_str());
        return 1;
    }
    QTemporaryDir cache, config;
    QProcess inside;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", x.Display());
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.remove("WAYLAND_DISPLAY");
    env.insert("XDG_CACHE_HOME", cache.path());
    env.insert("XDG_CONFIG_HOME", config.path());
    inside.setProcessEnvironment(env);
    inside.setProcessChannelMode(QProcess::ForwardedChannels);
    inside.start(QCoreApplication::applicationFilePath(), QStringList{"--inside-x11"} + passOn);
    inside.waitForFinished(300000);
    return inside.exitCode();
}

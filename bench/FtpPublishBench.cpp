// Publishing a 4K screen capture over FTP to local pyftpdlib: the main
// window's whole "Publish" (JPEG export of the working capture, then login,
// MKD, CWD, TYPE I, PASV, STOR and QUIT) against what a user would do by
// hand, `cjpeg` of the same capture then `curl -T` of its JPEG into the same
// directory of the same server.
#include "DesktopCapture.h"
#include "FtpPeers.h"
#include "RatioReporter.h"
#include "RunTool.h"
#include "ScriptedDialogs.h"
#include "ThreadCpu.h"
#include "WorkingFiles.h"
#include "configUnit.h"
#include "mainFormUnit.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

namespace {

struct Setup {
    QTemporaryDir tmp, config;
    std::unique_ptr<PyFtpdServer> server;
    std::unique_ptr<TfrmMain> window;
    ScriptedDialogs* dialogs = nullptr;
} setup;

bool Prepare() {
    qputenv("TMPDIR", setup.tmp.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", setup.config.path().toLocal8Bit());
    if (!PyFtpdServer::Available()) {
        std::fprintf(stderr, "python3-pyftpdlib is not installed\n");
        return false;
    }
    setup.server = std::make_unique<PyFtpdServer>();
    if (!setup.server->Running()) {
        std::fprintf(stderr, "pyftpdlib: %s\n", setup.server->Error().c_str());
        return false;
    }
    auto dialogs = std::make_unique<ScriptedDialogs>();
    setup.dialogs = dialogs.get();
    platform::installDialogs(std::move(dialogs));
    setup.window = std::make_unique<TfrmMain>();
    if (!desktop::WriteCapture(WorkingFilePath())) return false;

    LoadSettings();
    Settings.transferType = settings::TransferFtp;
    Settings.hostName = setup.server->Host();
    Settings.port = std::to_string(setup.server->Port());
    Settings.userName = setup.server->User();
    Settings.password = setup.server->Password();
    Settings.destDirectory = "captures";
    Settings.passive = true;
    Settings.hostPrefix = "http://127.0.0.1/captures/";
    SaveSettings();
    return true;
}

void BM_OurPublish(benchmark::State& state) {
    ScriptedDialogs& d = *setup.dialogs;
    for (auto _ : state) {
        d.shown.clear();
        d.queryAnswers.push_back("ours.jpg");
        setup.window->btnPublishClick();
        if (d.shown.size() != 2 || d.shown[1].kind != "inputbox")
            return state.SkipWithError("the publish did not succeed");
    }
}
BENCHMARK(BM_OurPublish)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

void BM_CjpegCurl(benchmark::State& state) {
    const std::string jpeg = setup.tmp.path().toStdString() + "/curl.jpg";
    ToolCpu cpu(state);
    for (auto _ : state) {
        if (!RunTool({"cjpeg", "-quality", "90", "-baseline", "-outfile", jpeg, WorkingFilePath()}))
            return state.SkipWithError("cjpeg failed (package libjpeg-turbo-progs)");
        if (!RunTool({"curl", "-s", "-S", "--ftp-create-dirs", "-T", jpeg,
                      setup.server->Url() + "captures/curl.jpg"}))
            return state.SkipWithError("curl failed");
    }
}
BENCHMARK(BM_CjpegCurl)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (!Prepare()) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto& t = reporter.Times;
    auto a = t.find("BM_OurPublish/min_time:3.000/real_time");
    auto b = t.find("BM_CjpegCurl/min_time:3.000/real_time");
    std::printf("\nRatios (lower is faster):\n");
    if (a != t.end() && b != t.end() && b->second > 0)
        std::printf("%-24s / %-20s = %.2f (aim: at most 1.2)\n", "publish over FTP",
                    "cjpeg + curl -T", a->second / b->second);
    setup.window.reset();
    platform::installDialogs(nullptr);
    setup.server.reset();
    benchmark::Shutdown();
    return 0;
}

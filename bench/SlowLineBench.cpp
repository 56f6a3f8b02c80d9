// Uploading 3 MB by FTP over a line that takes 1 MB/s (a token bucket on a
// veth pair into a network namespace, where pyftpdlib listens): one whole
// session of ours against `curl -T` of the same file to the same server, and
// both against the line's floor of 3 s. Needs root.
#include "FtpCli.h"
#include "FtpPeers.h"
#include "RateLimitedLine.h"
#include "RatioReporter.h"
#include "RunTool.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <fstream>
#include <random>

namespace {

constexpr int LineRate = 1000 * 1000;
constexpr int FileSize = 3 * 1000 * 1000;
QTemporaryDir scratch;

std::string Path(const std::string& name) {
    return scratch.path().toStdString() + "/" + name;
}

bool OurUpload(const FtpPeer& peer) {
    TFtpClient c;
    c.SetHostName(peer.Host());
    c.SetPort(std::to_string(peer.Port()));
    c.SetUserName(peer.User());
    c.SetPassWord(peer.Password());
    c.SetPassive(true);
    c.SetLocalFileName(Path("3MB.bin"));
    c.SetHostFileName("ours.bin");
    c.OnError = [](TCustomFtpCli*, std::string&) {};
    return c.Connect() && c.TypeSet() && c.Put() && c.Quit();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    std::mt19937 random(3);
    std::string bytes(FileSize, '\0');
    for (auto& c : bytes) c = char(random());
    std::ofstream(Path("3MB.bin"), std::ios::binary) << bytes;
    if (!PyFtpdServer::Available()) {
        std::fprintf(stderr, "python3-pyftpdlib is not installed\n");
        return 1;
    }
    RateLimitedLine line(LineRate);
    PyFtpdServer server(FtpTls::None, {}, {}, &line);
    if (!server.Running()) {
        std::fprintf(stderr, "pyftpdlib: %s\n", server.Error().c_str());
        return 1;
    }
    benchmark::RegisterBenchmark("Ours/3MB at 1MB/s",
                                 [&](benchmark::State& state) {
                                     for (auto _ : state)
                                         if (!OurUpload(server))
                                             return state.SkipWithError("upload failed");
                                 })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(3);
    benchmark::RegisterBenchmark("Curl/3MB at 1MB/s",
                                 [&](benchmark::State& state) {
                                     for (auto _ : state)
                                         if (!RunTool({"curl", "-s", "-S", "-T", Path("3MB.bin"),
                                                       server.Url() + "curl.bin"}))
                                             return state.SkipWithError("curl failed");
                                 })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(3);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios({{"Ours/3MB at 1MB/s", "Curl/3MB at 1MB/s"}}, 5);
    std::printf("(aim: at most 1.1)\n");
    const double floorMs = 1000.0 * FileSize / LineRate;
    for (const char* name : {"Ours/3MB at 1MB/s", "Curl/3MB at 1MB/s"})
        if (const double ms = reporter.TimeOf(name); ms > 0)
            std::printf("%-20s / the line's floor of %.1f s = %.2f\n", name, floorMs / 1000,
                        ms / floorMs);
    benchmark::Shutdown();
    return 0;
}

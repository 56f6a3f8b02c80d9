// Publishing a 2 MB JPEG to the example upload script under php -S: our
// whole upload (file read, Base64, form body, request, reply) against curl
// posting a prepared identical body over HTTP/1.0 to the same server, and the
// CPU the client uses while it waits on a server that takes its time.
#include "HttpUpload.h"
#include "PhpWebServer.h"
#include "ScriptedTcpServer.h"
#include "kwHTTPUnit.h"

#include "NoiseJpeg.h"
#include "RatioReporter.h"
#include "ThreadCpu.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <random>

extern char** environ;

namespace {

constexpr size_t JpegBytes = 2 << 20;
const char* const Key = "bench-key-of-20-chars";

struct Site {
    QTemporaryDir root;
    std::string Root() const { return root.path().toStdString() + "/"; }
    std::string jpegPath, bodyPath, url;
    uint16_t port = 0;
    std::unique_ptr<PhpWebServer> server;
} site;

bool SetUpSite() {
    if (!PhpWebServer::Available()) return false;
    QFile::copy(BRWK_SOURCE_DIR "/server/brwk_upload.php",
                QString::fromStdString(site.Root() + "brwk_upload.php"));
    QDir().mkpath(QString::fromStdString(site.Root() + "up"));
    std::ofstream(site.Root() + "brwk_upload_config.php")
        << "<?php\n$secretKey = '" << Key << "';\n$uploadDir = __DIR__ . '/up';\n";
    // A JPEG of noise padded to exactly 2 MiB: what a busy 4K screenshot weighs.
    const std::string jpeg = NoiseJpeg(1100, 800, JpegBytes);
    site.jpegPath = site.Root() + "bench.jpg";
    std::ofstream(site.jpegPath, std::ios::binary).write(jpeg.data(), std::streamsize(jpeg.size()));
    site.bodyPath = site.Root() + "body.txt";
    const std::string body = BuildPostForm("bench.jpg", Key, jpeg);
    std::ofstream(site.bodyPath, std::ios::binary).write(body.data(), std::streamsize(body.size()));
    site.port = UnusedLoopbackPort();
    site.url = "http://127.0.0.1:" + std::to_string(site.port) + "/brwk_upload.php";
    site.server = std::make_unique<PhpWebServer>(site.Root(), site.port);
    return site.server->Running();
}

bool HasMarker(const kwHTTP& c) {
    for (const auto& line : c.Replies)
        if (line.find(MarkerTransferOk) != std::string::npos) return true;
    return false;
}

void BM_OurUpload(benchmark::State& state) {
    for (auto _ : state) {
        kwHTTP c;
        c.Host = "127.0.0.1";
        c.Port = site.port;
        c.Url = site.url;
        c.PostData = BuildPostForm("bench.jpg", Key, ReadWholeFile(site.jpegPath));
        c.Connect();
        c.WaitUntilDone();
        if (!HasMarker(c)) return state.SkipWithError("the script did not store the picture");
    }
}
BENCHMARK(BM_OurUpload)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Curl(benchmark::State& state) {
    std::vector<std::string> args = {
        "curl",  "-0", "-s", "-f", "-o", "/dev/null", "--data-binary", "@" + site.bodyPath,
        site.url};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ToolCpu cpu(state);
    for (auto _ : state) {
        pid_t pid;
        int status = 0;
        if (posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ) != 0 ||
            waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            return state.SkipWithError("curl failed");
    }
}
BENCHMARK(BM_Curl)->Unit(benchmark::kMillisecond)->UseRealTime();

// CPU milliseconds of the waiting thread per second of a server that answers after 2 s.
double CpuWhileWaiting() {
    ScriptedTcpServer slow({ScriptedTcpServer::Read(1), ScriptedTcpServer::Sleep(2000),
                            ScriptedTcpServer::Send("##TRANSFER_OK##\r\n"),
                            ScriptedTcpServer::Close()});
    kwHTTP c;
    c.Host = "127.0.0.1";
    c.Port = slow.Port();
    c.Url = "http://127.0.0.1/slow";
    c.PostData = "x";
    return CpuMsPerSecond([&] {
        c.Connect();
        c.WaitUntilDone();
    });
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (!SetUpSite()) {
        std::fprintf(stderr, "php -S could not serve the upload script (package php-cli)\n");
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto& t = reporter.Times;
    auto a = t.find("BM_OurUpload/real_time"), b = t.find("BM_Curl/real_time");
    std::printf("\nRatios (lower is faster):\n");
    if (a != t.end() && b != t.end() && b->second > 0)
        std::printf("%-24s / %-20s = %.2f\n", a->first.c_str(), b->first.c_str(),
                    a->second / b->second);
    std::printf("CPU while waiting on a slow server: %.1f ms per second\n", CpuWhileWaiting());
    site.server.reset();
    benchmark::Shutdown();
    return 0;
}

// Publishing a 4K capture's JPEG over SFTP to a local OpenSSH server: the
// publisher's whole run (connect, host key check, key login, mkdir -p,
// upload under a temporary name, mode, rename, goodbye) against `scp` of the
// same file to the same directory of the same server, with the same key.
// Run as root (the server's throwaway user).
#include "NoiseJpeg.h"
#include "RatioReporter.h"
#include "RunTool.h"
#include "SftpPublisher.h"
#include "SshPeers.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

namespace fs = std::filesystem;

namespace {

struct Setup {
    QTemporaryDir home;
    std::unique_ptr<SshServer> server;
    std::string jpeg;
    std::string key;
    configRecord settings;
} setup;

void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

bool Prepare() {
    const std::string home = setup.home.path().toStdString();
    qputenv("HOME", setup.home.path().toLocal8Bit());
    qputenv("SSH_AUTH_SOCK", "");
    if (!SshServer::Available()) {
        std::fprintf(stderr, "sshd needs root and openssh-server\n");
        return false;
    }
    setup.server = std::make_unique<SshServer>();
    if (!setup.server->Running()) {
        std::fprintf(stderr, "sshd: %s\n", setup.server->Error().c_str());
        return false;
    }
    fs::create_directories(home + "/.ssh");
    setup.key = home + "/.ssh/id_ed25519";
    if (!MakeKeyPair(setup.key, "ed25519") || !setup.server->Authorize(setup.key + ".pub"))
        return false;
    Write(home + "/.ssh/known_hosts", setup.server->KnownHostsLine() + "\n");
    setup.jpeg = NoiseJpeg(3840, 2160, 0);
    std::printf("4K JPEG: %zu bytes\n", setup.jpeg.size());

    configRecord& s = setup.settings;
    s.transferType = settings::TransferFtp;
    s.ftpEncryption = settings::FtpOverSsh;
    s.hostName = setup.server->Host();
    s.port = std::to_string(setup.server->Port());
    s.userName = setup.server->User();
    s.destDirectory = "captures";
    s.hostPrefix = "http://127.0.0.1/captures/";
    return true;
}

void BM_OurSftpPublish(benchmark::State& state) {
    const std::string local = setup.home.path().toStdString() + "/ours.jpg";
    for (auto _ : state) {
        // The publisher takes the exported file with it.
        state.PauseTiming();
        Write(local, setup.jpeg);
        state.ResumeTiming();
        TSftpPublisher publisher(setup.settings);
        if (publisher.Publish(local, "ours.jpg").Outcome != TPublishResult::prPublished)
            return state.SkipWithError("the publish did not succeed");
    }
}
BENCHMARK(BM_OurSftpPublish)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

void BM_Scp(benchmark::State& state) {
    const std::string home = setup.home.path().toStdString();
    const std::string local = home + "/scp.jpg";
    Write(local, setup.jpeg);
    const std::string target =
        setup.server->User() + "@" + setup.server->Host() + ":captures/scp.jpg";
    for (auto _ : state) {
        if (!RunTool({"scp", "-q", "-B", "-P", std::to_string(setup.server->Port()), "-i",
                      setup.key, "-o", "UserKnownHostsFile=" + home + "/.ssh/known_hosts", "-o",
                      "StrictHostKeyChecking=yes", "-o", "GSSAPIAuthentication=no", local, target}))
            return state.SkipWithError("scp failed (package openssh-client)");
    }
}
BENCHMARK(BM_Scp)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (!Prepare()) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double ours = reporter.TimeOf("BM_OurSftpPublish");
    const double scp = reporter.TimeOf("BM_Scp");
    std::printf("\nRatios (lower is faster):\n");
    if (ours > 0 && scp > 0)
        std::printf("%-24s / %-20s = %.2f (aim: at most 1.3)\n", "publish over SFTP", "scp",
                    ours / scp);
    setup.server.reset();
    benchmark::Shutdown();
    return 0;
}

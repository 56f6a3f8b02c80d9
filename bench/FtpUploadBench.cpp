// Uploading by FTP to local pyftpdlib and vsftpd, passive and active: one
// whole session of ours (login, TYPE I, the port step, STOR, QUIT) against
// `curl -T` of the same file to the same server, for a 1 MB JPEG and 50 MB.
#include "FtpCli.h"
#include "FtpPeers.h"
#include "NoiseJpeg.h"
#include "ScriptedFtpServer.h"

#include "RatioReporter.h"
#include "ThreadCpu.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <random>

extern char** environ;

namespace {

QTemporaryDir scratch;

std::string Path(const std::string& name) {
    return scratch.path().toStdString() + "/" + name;
}

// A JPEG of noise padded to exactly 1 MiB, and 50 MiB of noise.
void MakeFiles() {
    std::ofstream(Path("1MB.jpg"), std::ios::binary) << NoiseJpeg(700, 500, 1 << 20);
    std::mt19937 random(5);
    std::string big(50 << 20, '\0');
    for (auto& c : big) c = char(random());
    std::ofstream(Path("50MB.bin"), std::ios::binary) << big;
}

bool OurUpload(const FtpPeer& peer, bool passive, const std::string& file) {
    TFtpClient c;
    c.SetHostName(peer.Host());
    c.SetPort(std::to_string(peer.Port()));
    c.SetUserName(peer.User());
    c.SetPassWord(peer.Password());
    c.SetPassive(passive);
    c.SetLocalFileName(Path(file));
    c.SetHostFileName("ours-" + file);
    c.OnError = [](TCustomFtpCli*, std::string&) {};
    return c.Connect() && c.TypeSet() && c.Put() && c.Quit();
}

bool CurlUpload(const FtpPeer& peer, bool passive, const std::string& file) {
    std::vector<std::string> args = {"curl", "-s",       "-S",
                                     "-T",   Path(file), peer.Url() + "curl-" + file};
    if (!passive) args.insert(args.begin() + 1, {"--ftp-port", "127.0.0.1"});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid;
    int status = 0;
    return posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ) == 0 &&
           waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string Name(const FtpPeer& peer, bool passive, const std::string& file, bool ours) {
    return std::string(ours ? "Ours/" : "Curl/") + peer.Name() +
           (passive ? "/passive/" : "/active/") + file;
}

// CPU milliseconds per second of a synchronous operation waiting 2 s for a
// reply that never comes.
double CpuWhileWaiting() {
    ScriptedFtpServer silent;
    silent.On("CWD", ScriptedFtpServer::Rule{"", false, true});
    TFtpClient c;
    c.SetHostName("127.0.0.1");
    c.SetPort(silent.PortText());
    c.SetUserName("u");
    c.SetPassWord("p");
    c.SetHostDirName("d");
    c.SetTimeout(2);
    if (!c.Connect()) return -1;
    return CpuMsPerSecond([&] { c.Cwd(); });
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    MakeFiles();
    std::vector<std::unique_ptr<FtpPeer>> peers;
    if (PyFtpdServer::Available()) peers.push_back(std::make_unique<PyFtpdServer>());
    if (VsftpdServer::Available()) peers.push_back(std::make_unique<VsftpdServer>());
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const auto& peer : peers) {
        if (!peer->Running()) {
            std::fprintf(stderr, "%s: %s\n", peer->Name().c_str(), peer->Error().c_str());
            continue;
        }
        for (bool passive : {true, false})
            for (const std::string file : {"1MB.jpg", "50MB.bin"}) {
                const FtpPeer* p = peer.get();
                const int iterations = file == "1MB.jpg" ? 10 : 6;
                for (bool ours : {true, false})
                    benchmark::RegisterBenchmark(
                        Name(*p, passive, file, ours).c_str(),
                        [p, passive, file, ours](benchmark::State& state) {
                            std::optional<ToolCpu> cpu;
                            if (!ours) cpu.emplace(state);
                            for (auto _ : state)
                                if (!(ours ? OurUpload(*p, passive, file)
                                           : CurlUpload(*p, passive, file)))
                                    return state.SkipWithError("upload failed");
                        })
                        ->Unit(benchmark::kMillisecond)
                        ->UseRealTime()
                        ->Iterations(iterations);
                pairs.emplace_back(Name(*p, passive, file, true), Name(*p, passive, file, false));
            }
    }
    if (pairs.empty()) {
        std::fprintf(stderr, "no FTP server could be started (pyftpdlib, vsftpd as root)\n");
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios(pairs, 5);
    std::printf("CPU while waiting on a silent server: %.1f ms per second\n", CpuWhileWaiting());
    peers.clear();
    benchmark::Shutdown();
    return 0;
}

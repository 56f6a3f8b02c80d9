// Encrypted publishing against curl over the same TLS servers, in one run:
// an FTPS upload (explicit TLS, passive, a 1 MB JPEG) to vsftpd against
// `curl --ssl-reqd -T`, and an HTTPS post of the same JPEG to the upload
// script (php -S behind stunnel) against `curl -0` with the same body.
#include "FtpCli.h"
#include "FtpPeers.h"
#include "HttpUpload.h"
#include "NoiseJpeg.h"
#include "PhpWebServer.h"
#include "ScriptedTcpServer.h"
#include "TestCertificates.h"
#include "TlsFront.h"
#include "kwHTTPUnit.h"

#include "RatioReporter.h"
#include "RunTool.h"
#include "ThreadCpu.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <fstream>
#include <memory>
#include <random>

namespace {

const char* const Key = "bench-key-at-least-16-long";
QTemporaryDir scratch;
std::string Root() {
    return scratch.path().toStdString() + "/";
}

std::unique_ptr<VsftpdServer> ftps;
std::unique_ptr<PhpWebServer> php;
std::unique_ptr<TlsFront> https;
std::string jpegPath, bodyPath, postUrl;

// A JPEG of noise padded to exactly 1 MiB.
void MakeFiles() {
    std::string jpeg = NoiseJpeg(700, 500, 1 << 20);
    jpeg.resize(1 << 20, '\0');
    jpegPath = Root() + "1MB.jpg";
    std::ofstream(jpegPath, std::ios::binary) << jpeg;
    bodyPath = Root() + "body.txt";
    std::ofstream(bodyPath, std::ios::binary) << BuildPostForm("bench.jpg", Key, jpeg);
}

bool StartHttps() {
    QDir().mkpath(QString::fromStdString(Root() + "site/up"));
    QFile::copy(BRWK_SOURCE_DIR "/server/brwk_upload.php",
                QString::fromStdString(Root() + "site/brwk_upload.php"));
    std::ofstream(Root() + "site/brwk_upload_config.php")
        << "<?php\n$secretKey = '" << Key << "';\n$uploadDir = __DIR__ . '/up';\n";
    const uint16_t port = UnusedLoopbackPort();
    php = std::make_unique<PhpWebServer>(Root() + "site", port);
    if (!php->Running()) return false;
    const TestCertificates& certs = TestCertificates::Get();
    https = std::make_unique<TlsFront>(port, certs.Server.Cert, certs.Server.Key);
    postUrl = "https://localhost:" + std::to_string(https->Port()) + "/brwk_upload.php";
    return https->Running();
}

void BM_OursFtps(benchmark::State& state) {
    for (auto _ : state) {
        TFtpClient c;
        c.SetHostName(ftps->Host());
        c.SetPort(std::to_string(ftps->Port()));
        c.SetUserName(ftps->User());
        c.SetPassWord(ftps->Password());
        c.SetEncryption(ftpEncExplicit);
        c.SetPassive(true);
        c.SetLocalFileName(jpegPath);
        c.SetHostFileName("ours.jpg");
        c.OnError = [](TCustomFtpCli*, std::string&) {};
        if (!(c.Connect() && c.TypeSet() && c.Put() && c.Quit()))
            return state.SkipWithError(("upload failed: " + c.ErrorMessage()).c_str());
    }
}

// curl stays at TLS 1.2 here: over TLS 1.3 this vsftpd answers its uploads
// "426 Failure reading network stream" (ours pass over TLS 1.3).
void BM_CurlFtps(benchmark::State& state) {
    ToolCpu cpu(state);
    for (auto _ : state)
        if (!RunTool({"curl", "-s", "-S", "--ssl-reqd", "--tls-max", "1.2", "--cacert",
                      TestCertificates::Get().Ca, "-T", jpegPath, ftps->Url() + "curl.jpg"}))
            return state.SkipWithError("curl failed");
}

void BM_OursHttps(benchmark::State& state) {
    const TPostTarget target = PostTargetOf(postUrl);
    for (auto _ : state) {
        kwHTTP c;
        c.Host = target.Host;
        c.Port = target.Port;
        c.UseTls = target.Tls;
        c.Url = postUrl;
        c.PostData = BuildPostForm("bench.jpg", Key, ReadWholeFile(jpegPath));
        c.Connect();
        c.WaitUntilDone();
        bool stored = false;
        for (const auto& line : c.Replies)
            stored |= line.find(MarkerTransferOk) != std::string::npos;
        if (!stored) return state.SkipWithError("the script did not store the picture");
    }
}

void BM_CurlHttps(benchmark::State& state) {
    ToolCpu cpu(state);
    for (auto _ : state)
        if (!RunTool({"curl", "-0", "-s", "-f", "-o", "/dev/null", "--cacert",
                      TestCertificates::Get().Ca, "--data-binary", "@" + bodyPath, postUrl}))
            return state.SkipWithError("curl failed");
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (!TestCertificates::Get().Ready()) {
        std::fprintf(stderr, "%s\n", TestCertificates::Get().Error().c_str());
        return 1;
    }
    MakeFiles();
    std::vector<std::pair<std::string, std::string>> pairs;
    const TestCertificates& certs = TestCertificates::Get();
    if (VsftpdServer::Available()) {
        ftps =
            std::make_unique<VsftpdServer>(FtpTls::Explicit, certs.Server.Cert, certs.Server.Key);
        if (ftps->Running()) {
            benchmark::RegisterBenchmark("OursFtps", BM_OursFtps)->Iterations(10);
            benchmark::RegisterBenchmark("CurlFtps", BM_CurlFtps)->Iterations(10);
            pairs.emplace_back("OursFtps", "CurlFtps");
        } else {
            std::fprintf(stderr, "vsftpd: %s\n", ftps->Error().c_str());
        }
    }
    if (PhpWebServer::Available() && TlsFront::Available() && StartHttps()) {
        benchmark::RegisterBenchmark("OursHttps", BM_OursHttps)->Iterations(10);
        benchmark::RegisterBenchmark("CurlHttps", BM_CurlHttps)->Iterations(10);
        pairs.emplace_back("OursHttps", "CurlHttps");
    } else {
        std::fprintf(stderr, "no HTTPS upload site (php-cli and stunnel4)\n");
    }
    if (pairs.empty()) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios(pairs, 4);
    ftps.reset();
    https.reset();
    php.reset();
    benchmark::Shutdown();
    return 0;
}

// Publishing over a slow line, against real FTP servers that take the
// upload at about 30 KB/s: the upload takes far longer than the client's
// time-out and far more than the system's buffers hold, so it succeeds only
// if the wait follows the wire. Each case takes most of a minute.
#include "FtpPeers.h"
#include "RateLimitedLine.h"
#include "SlowLine.h"
#include "TestCertificates.h"
#include "configUnit.h"

#include <algorithm>

namespace {

void UseFtpServer(const FtpPeer& server) {
    LoadSettings();
    Settings.transferType = settings::TransferFtp;
    Settings.hostName = server.Host();
    Settings.port = std::to_string(server.Port());
    Settings.userName = server.User();
    Settings.password = server.Password();
    Settings.destDirectory = "captures";
    Settings.passive = true;
    Settings.hostPrefix = "http://127.0.0.1/";
    SaveSettings();
}

struct SlowFtp : SlowLinePublish, testing::WithParamInterface<const char*> {};

} // namespace

TEST_P(SlowFtp, UploadSucceedsWithProgressThatFollowsTheWire) {
    std::unique_ptr<FtpPeer> server;
    if (std::string(GetParam()) == "pyftpdlib") {
        if (!PyFtpdServer::Available()) GTEST_SKIP() << "python3-pyftpdlib is not installed";
        server = std::make_unique<ThrottledPyFtpdServer>(LineRate);
    } else {
        if (!VsftpdServer::Available()) GTEST_SKIP() << "vsftpd cannot run here";
        server = std::make_unique<VsftpdServer>(
            FtpTls::None, "", "", "local_max_rate=" + std::to_string(LineRate) + "\n");
    }
    ASSERT_TRUE(server->Running()) << server->Error();
    UseFtpServer(*server);
    std::string exported;
    dialogs->whileOpen = [&](const ScriptedDialogs::Shown& s) {
        if (s.kind == "inputbox") exported = Exported("slow.jpg");
    };
    EXPECT_EQ(MessagesOf(Publish("slow.jpg")), Texts{"inputbox"});
    ASSERT_GT(exported.size(), 1400u * 1024) << "far more than the time-out lets through at once";
    EXPECT_EQ(ReadFileText(server->Root() + "/captures/slow.jpg"), exported) << "byte-identical";
    ExpectHonestProgress(exported.size());
}

INSTANTIATE_TEST_SUITE_P(Servers, SlowFtp, testing::Values("pyftpdlib", "vsftpd"),
                         [](const auto& info) { return std::string(info.param); });

// A real line (TCP through a token bucket) rather than a server that reads
// slowly: the rate shown is that of the line, not of the buffers in front.
// Under TLS too, where the system holds record bytes rather than ours.
struct SlowLineFtp : SlowLinePublish, testing::WithParamInterface<FtpTls> {};

TEST_P(SlowLineFtp, ProgressWindowShowsTheLinesRate) {
    const FtpTls tls = GetParam();
    if (!PyFtpdServer::Available(tls)) GTEST_SKIP() << "python3-pyftpdlib is not installed";
    if (!RateLimitedLine::Available()) GTEST_SKIP() << "no slow line here (needs root, iproute2)";
    const TestCertificates& certs = TestCertificates::Get();
    if (tls != FtpTls::None && !certs.Ready()) GTEST_SKIP() << certs.Error();
    RateLimitedLine line(200 * 1000);
    PyFtpdServer server(tls, certs.Server.Cert, certs.Server.Key, &line);
    ASSERT_TRUE(server.Running()) << server.Error();
    UseFtpServer(server);
    if (tls != FtpTls::None) {
        Settings.ftpEncryption = ftpEncExplicit;
        SaveSettings();
        dialogs->confirmAnswers = {true}; // the certificate does not name the line's address
    }
    std::vector<std::pair<qint64, uint64_t>> rates;
    dialogs->whileProgress = [&, timing = dialogs->whileProgress](ScriptedDialogs::Progress& p) {
        timing(p);
        if (dialogs->progressSent < dialogs->progressTotal * 95 / 100)
            rates.emplace_back(clock.elapsed(), dialogs->progressRate);
    };
    EXPECT_EQ(MessagesOf(Publish("line.jpg")),
              (tls == FtpTls::None ? Texts{"inputbox"} : Texts{"confirm", "inputbox"}));
    ASSERT_GT(samples.back().ms, 6000) << "the line is slow";
    // What the line really carried, from the first bytes to the last: the
    // bucket's rate less frame headers and whatever TCP lost on the way.
    const auto first =
        std::find_if(samples.begin(), samples.end(), [](const Sample& s) { return s.sent > 0; });
    ASSERT_NE(first, samples.end());
    const double carried =
        double(samples.back().sent - first->sent) * 1000 / double(samples.back().ms - first->ms);
    EXPECT_LE(carried, line.Rate() * 1.02) << "the line set the pace";
    int checked = 0;
    for (const auto& [ms, rate] : rates)
        if (ms >= 5000) { // once the rate covers its full five seconds
            ++checked;
            EXPECT_NEAR(double(rate), carried, carried / 10) << "at " << ms << " ms";
        }
    EXPECT_GT(checked, 10);
}

INSTANTIATE_TEST_SUITE_P(Tls, SlowLineFtp, testing::Values(FtpTls::None, FtpTls::Explicit),
                         [](const auto& info) {
                             return info.param == FtpTls::None ? "Plain" : "Explicit";
                         });

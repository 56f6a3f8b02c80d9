// Publishing over a slow line, against real FTP servers that take the
// upload at about 30 KB/s: the upload takes far longer than the client's
// time-out and far more than the system's buffers hold, so it succeeds only
// if the wait follows the wire. Each case takes most of a minute.
#include "FtpPeers.h"
#include "SlowLine.h"
#include "configUnit.h"

namespace {

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
    LoadSettings();
    Settings.transferType = settings::TransferFtp;
    Settings.hostName = server->Host();
    Settings.port = std::to_string(server->Port());
    Settings.userName = server->User();
    Settings.password = server->Password();
    Settings.destDirectory = "captures";
    Settings.passive = true;
    Settings.hostPrefix = "http://127.0.0.1/";
    SaveSettings();
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

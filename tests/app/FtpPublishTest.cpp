// "Publish" over FTP, end to end: the main window, scripted dialogs, and
// real FTP servers (pyftpdlib, vsftpd) in passive and active mode.
#include "FtpCli.h"
#include "FtpPeers.h"
#include "PublishFixture.h"
#include "configUnit.h"

#include <memory>

namespace {

const char* const Failed = "Publishing failed - check settings and network connection!";
const std::string Prefix = "http://127.0.0.1/~tester/captures/";

struct FtpAccount {
    std::string host = "127.0.0.1";
    std::string port;
    std::string user = "tester";
    std::string password = "secret";
    std::string directory = "captures";
    bool passive = true;
};

struct FtpPublishTest : PublishFixture {
    void Configure(const FtpAccount& a) {
        LoadSettings();
        Settings.transferType = 1;
        Settings.hostName = a.host;
        Settings.port = a.port;
        Settings.userName = a.user;
        Settings.password = a.password;
        Settings.destDirectory = a.directory;
        Settings.passive = a.passive;
        Settings.hostPrefix = Prefix;
        SaveSettings();
    }
    bool ExportGone(const std::string& name) {
        return !QFile::exists(QString::fromStdString(tmp.File(name)));
    }
};

enum class Server { Pyftpdlib, Vsftpd };
struct RealCase {
    Server server;
    bool passive;
};

std::string CaseName(const testing::TestParamInfo<RealCase>& info) {
    return std::string(info.param.server == Server::Pyftpdlib ? "Pyftpdlib" : "Vsftpd") +
           (info.param.passive ? "Passive" : "Active");
}

struct FtpPublishRealServer : FtpPublishTest, testing::WithParamInterface<RealCase> {
    std::unique_ptr<FtpPeer> server;

    void SetUp() override {
        if (GetParam().server == Server::Pyftpdlib) {
            if (!PyFtpdServer::Available()) GTEST_SKIP() << "python3-pyftpdlib is not installed";
            server = std::make_unique<PyFtpdServer>();
        } else {
            if (!VsftpdServer::Available()) GTEST_SKIP() << "vsftpd cannot run here";
            server = std::make_unique<VsftpdServer>();
        }
        ASSERT_TRUE(server->Running()) << server->Error();
        FtpPublishTest::SetUp();
        FtpAccount a;
        a.port = std::to_string(server->Port());
        a.user = server->User();
        a.password = server->Password();
        a.passive = GetParam().passive;
        Configure(a);
    }
    std::string Stored(const std::string& name) {
        return ReadBytes(server->Root() + "/captures/" + name);
    }
};

} // namespace

// The second publish finds the directory there already: the refused MKD is
// ignored and the upload goes on.
TEST_P(FtpPublishRealServer, StoresTheExportedJpegAndShowsItsUrl) {
    const std::string capture = ReadBytes(WorkingFilePath());
    std::string exported;
    dialogs->whileOpen = [&](const ScriptedDialogs::Shown& s) {
        if (s.kind == "inputbox") exported = Exported(s.text.substr(Prefix.size()));
    };
    for (const std::string name : {"shot_1.jpg", "shot 2.jpg"}) {
        exported.clear();
        const auto shown = Publish(name);
        ASSERT_EQ(shown.size(), 1u) << testing::PrintToString(MessagesOf(shown));
        EXPECT_EQ(shown[0].kind, "inputbox");
        EXPECT_EQ(shown[0].caption, "Transfer succeeded!");
        EXPECT_EQ(shown[0].prompt, "URL for capture");
        EXPECT_EQ(shown[0].text, Prefix + name);
        ASSERT_GT(exported.size(), 100u) << "the JPEG is there while the URL is shown";
        EXPECT_EQ(Stored(name), exported) << "byte-identical on the server";
        EXPECT_TRUE(ExportGone(name));
        EXPECT_FALSE(w.FtpClient1->Connected());
    }
    EXPECT_EQ(ReadBytes(WorkingFilePath()), capture) << "the working capture is unchanged";
    ExpectOnlyAboutWhileWaiting();
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpPublishRealServer,
                         testing::Values(RealCase{Server::Pyftpdlib, true},
                                         RealCase{Server::Pyftpdlib, false},
                                         RealCase{Server::Vsftpd, true},
                                         RealCase{Server::Vsftpd, false}),
                         CaseName);

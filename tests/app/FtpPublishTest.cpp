// Publishing over FTP: the publisher with scripted dialogs against a
// scripted server and real FTP servers (pyftpdlib, vsftpd), passive and
// active.
#include "FtpCli.h"
#include "FtpPeers.h"
#include "ProcessMemory.h"
#include "PublishFixture.h"
#include "ScriptedFtpServer.h"
#include "ScriptedTcpServer.h"
#include "TestCertificates.h"
#include "configUnit.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>
#include <ostream>

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
        Settings.transferType = settings::TransferFtp;
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
        return ReadFileText(server->Root() + "/captures/" + name);
    }
};

} // namespace

// The second publish finds the directory there already: the refused MKD is
// ignored and the upload goes on.
TEST_P(FtpPublishRealServer, StoresTheExportedJpegAndShowsItsUrl) {
    const std::string capture = ReadFileText(WorkingFilePath());
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
        EXPECT_FALSE(ftp->Connected());
    }
    EXPECT_EQ(ReadFileText(WorkingFilePath()), capture) << "the working capture is unchanged";
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpPublishRealServer,
                         testing::Values(RealCase{Server::Pyftpdlib, true},
                                         RealCase{Server::Pyftpdlib, false},
                                         RealCase{Server::Vsftpd, true},
                                         RealCase{Server::Vsftpd, false}),
                         CaseName);

namespace {

const char* const Password = "s3cret-pw";

// One publish against the scripted server: how it is set up, the dialogs
// after the name prompt ("inputbox" for the URL box; a trailing "*" matches
// any rest of the text), and the exact command lines the server received.
struct FaultCase {
    const char* name;
    std::function<void(ScriptedFtpServer&, FtpAccount&)> arrange;
    Texts messages;
    Texts commands;
};

std::ostream& operator<<(std::ostream& os, const FaultCase& c) {
    return os << c.name;
}

bool Matches(const Texts& expected, const Texts& seen) {
    if (expected.size() != seen.size()) return false;
    for (size_t i = 0; i < seen.size(); ++i) {
        const std::string& e = expected[i];
        if (!e.empty() && e.back() == '*') {
            if (seen[i].compare(0, e.size() - 1, e, 0, e.size() - 1) != 0) return false;
        } else if (e != seen[i]) {
            return false;
        }
    }
    return true;
}

const Texts LoggedIn = {"USER tester", std::string("PASS ") + Password};

Texts Commands(std::initializer_list<std::string> tail, bool loggedIn = true) {
    Texts all = loggedIn ? LoggedIn : Texts{};
    all.insert(all.end(), tail);
    return all;
}

struct FtpPublishScripted : FtpPublishTest, testing::WithParamInterface<FaultCase> {
    std::unique_ptr<ScriptedFtpServer> server;
    FtpAccount account;

    void SetUp() override {
        FtpPublishTest::SetUp();
        ftp->SetTimeoutMs(400);
        account.password = Password;
    }
    void Start(const std::string& banner = "220 Scripted FTP ready\r\n") {
        server = std::make_unique<ScriptedFtpServer>(banner);
        account.port = server->PortText();
    }
};

} // namespace

TEST_P(FtpPublishScripted, EndsWithTheDesignedMessages) {
    const FaultCase& c = GetParam();
    Start();
    c.arrange(*server, account);
    Configure(account);
    const Texts seen = MessagesOf(Publish("shot.jpg"));
    EXPECT_TRUE(Matches(c.messages, seen)) << testing::PrintToString(seen);
    for (const std::string& text : seen)
        EXPECT_EQ(text.find(Password), std::string::npos) << "the password is never shown";
    EXPECT_TRUE(ExportGone("shot.jpg"));
    EXPECT_FALSE(ftp->Connected());
    if (!c.commands.empty()) {
        EXPECT_TRUE(server->WaitClosed(2000)) << "the control connection is closed";
    }
    const Texts commands = server->Commands();
    EXPECT_TRUE(Matches(c.commands, commands)) << testing::PrintToString(commands);
}

using Rule = ScriptedFtpServer::Rule;
using Account = FtpAccount;
using Srv = ScriptedFtpServer;

const Texts Uploaded =
    Commands({"MKD captures", "CWD captures", "TYPE I", "PASV", "STOR shot.jpg", "QUIT"});
const Texts ActiveUploaded = Commands(
    {"MKD captures", "CWD captures", "TYPE I", "PORT 127,0,0,1,*", "STOR shot.jpg", "QUIT"});

INSTANTIATE_TEST_SUITE_P(
    Faults, FtpPublishScripted,
    testing::Values(
        FaultCase{"Success", [](Srv&, Account&) {}, {"inputbox"}, Uploaded},
        FaultCase{"ActiveSuccess",
                  [](Srv&, Account& a) { a.passive = false; },
                  {"inputbox"},
                  ActiveUploaded},
        FaultCase{"ExistingDirectory",
                  [](Srv& s, Account&) { s.On("MKD", "550 File exists.\r\n"); },
                  {"inputbox"},
                  Uploaded},
        FaultCase{"RefusedUser",
                  [](Srv& s, Account&) { s.On("USER", "530 Not allowed.\r\n"); },
                  {"Connect to FTP failed : 530 Not allowed.", Failed},
                  {"USER tester", "QUIT"}},
        FaultCase{"RefusedPassword",
                  [](Srv& s, Account&) { s.On("PASS", "530 Login incorrect.\r\n"); },
                  {"Connect to FTP failed : 530 Login incorrect.", Failed},
                  Commands({"QUIT"})},
        FaultCase{"RefusalEchoesThePassword",
                  [](Srv& s, Account&) {
                      s.On("PASS", std::string("530 Login incorrect for ") + Password + "\r\n");
                  },
                  {"Connect to FTP failed : 530 Login incorrect for ********", Failed},
                  Commands({"QUIT"})},
        FaultCase{"RefusedCwd",
                  [](Srv& s, Account&) { s.On("CWD", "550 No such directory.\r\n"); },
                  {"Failed to change directory to captures 550 No such directory.", Failed},
                  Commands({"MKD captures", "CWD captures", "QUIT"})},
        FaultCase{"RefusedType",
                  [](Srv& s, Account&) { s.On("TYPE", "504 Not that type.\r\n"); },
                  {Failed},
                  Commands({"MKD captures", "CWD captures", "TYPE I", "QUIT"})},
        FaultCase{"RefusedPasv",
                  [](Srv& s, Account&) { s.On("PASV", "425 No passive mode.\r\n"); },
                  {"Cannot upload file: 425 No passive mode.", Failed},
                  Commands({"MKD captures", "CWD captures", "TYPE I", "PASV", "QUIT"})},
        FaultCase{"RefusedPort",
                  [](Srv& s, Account& a) {
                      a.passive = false;
                      s.On("PORT", "500 Illegal PORT command.\r\n");
                  },
                  {"Cannot upload file: 500 Illegal PORT command.", Failed},
                  Commands({"MKD captures", "CWD captures", "TYPE I", "PORT 127,0,0,1,*", "QUIT"})},
        FaultCase{"RefusedUpload",
                  [](Srv& s, Account&) { s.On("STOR", "553 Could not create file.\r\n"); },
                  {"Cannot upload file: 553 Could not create file.", Failed},
                  Uploaded},
        FaultCase{"UploadFailsAtTheEnd",
                  [](Srv& s, Account&) { s.FinalReply = "552 Quota exceeded.\r\n"; },
                  {"Cannot upload file: 552 Quota exceeded.", Failed},
                  Commands({"MKD captures", "CWD captures", "TYPE I", "PASV", "STOR shot.jpg",
                            "DELE shot.jpg", "QUIT"})},
        FaultCase{"RefusedQuit",
                  [](Srv& s, Account&) { s.On("QUIT", "500 What?\r\n"); },
                  {Failed},
                  Uploaded},
        FaultCase{"ResetAtQuitAfterTheUpload",
                  [](Srv& s, Account&) {
                      s.On("QUIT", Rule{"", false, false, true});
                  },
                  {"inputbox"},
                  Uploaded},
        FaultCase{"ServerLeavesMidSession",
                  [](Srv& s, Account&) {
                      s.On("CWD", Rule{"421 Service closing.\r\n", true});
                  },
                  {"Failed to change directory to captures 421 Service closing.", Failed},
                  Commands({"MKD captures", "CWD captures"})},
        FaultCase{"UnknownHost",
                  [](Srv&, Account& a) { a.host = "no-such-host.invalid"; },
                  {"Connect to FTP failed : *", Failed},
                  {}},
        FaultCase{"NothingListening",
                  [](Srv&, Account& a) { a.port = std::to_string(UnusedLoopbackPort()); },
                  {"Connect to FTP failed : *", Failed},
                  {}},
        FaultCase{"NonNumericPort",
                  [](Srv&, Account& a) { a.port = "twenty-one"; },
                  {"Connect to FTP failed : *", Failed},
                  {}},
        FaultCase{"EmptyUserName",
                  [](Srv&, Account& a) { a.user = ""; },
                  {"FTP Error: *", "Connect to FTP failed : *", Failed},
                  {"QUIT"}},
        FaultCase{"EmptyPassword",
                  [](Srv&, Account& a) { a.password = ""; },
                  {"FTP Error: *", "Connect to FTP failed : *", Failed},
                  {"USER tester", "QUIT"}},
        FaultCase{"EmptyDirectory",
                  [](Srv&, Account& a) { a.directory = ""; },
                  {"FTP Error: *", "Failed to change directory to  *", Failed},
                  Commands({"MKD ", "QUIT"})},
        FaultCase{"StallAfterBanner",
                  [](Srv& s, Account&) {
                      s.On("USER", Rule{"", false, true});
                  },
                  {"Connect to FTP failed : 426 Timeout: no answer from the server for 400 ms "
                   "after USER tester",
                   Failed},
                  {"USER tester"}},
        FaultCase{"StallOnCwd",
                  [](Srv& s, Account&) {
                      s.On("CWD", Rule{"", false, true});
                  },
                  {"Failed to change directory to captures 426 Timeout: no answer from the "
                   "server for 400 ms after CWD captures",
                   Failed},
                  Commands({"MKD captures", "CWD captures"})},
        FaultCase{"ActiveServerNeverConnects",
                  [](Srv& s, Account& a) {
                      a.passive = false;
                      s.DataMode = Srv::Data::NeverConnect;
                      s.FinalReply = "425 Can't open data connection.\r\n";
                  },
                  {"Cannot upload file: 425 Can't open data connection.", Failed},
                  ActiveUploaded},
        FaultCase{"ActiveServerNeverConnectsNorAnswers",
                  [](Srv& s, Account& a) {
                      a.passive = false;
                      s.DataMode = Srv::Data::NeverConnect;
                      s.FinalReply = "";
                  },
                  {"Cannot upload file: 426 Timeout: the data connection did not open within "
                   "400 ms",
                   Failed},
                  Commands({"MKD captures", "CWD captures", "TYPE I", "PORT 127,0,0,1,*",
                            "STOR shot.jpg"})},
        FaultCase{"DataConnectionStalls",
                  [](Srv& s, Account&) { s.DataMode = Srv::Data::Stall; },
                  {"Cannot upload file: 426 Timeout: no answer from the server for 400 ms after "
                   "the whole file was sent",
                   Failed},
                  // The server took the file: what it holds is removed on a new login.
                  Commands({"MKD captures", "CWD captures", "TYPE I", "PASV", "STOR shot.jpg",
                            "USER tester", std::string("PASS ") + Password, "CWD captures",
                            "DELE shot.jpg", "QUIT"})}),
    [](const testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

// An error nobody expected, here from the dialog of a failed upload, ends
// the flow through the general error handler: the buttons come back, the
// JPEG is gone, and the client is ready for the next publish.
TEST_F(FtpPublishScripted, AnUnexpectedErrorLeavesTheProgramReady) {
    Start();
    server->On("STOR", "553 Could not create file.\r\n");
    Configure(account);
    bool thrown = false;
    dialogs->whileOpen = [&](const ScriptedDialogs::Shown& s) {
        if (!thrown && s.text.rfind("Cannot upload file: ", 0) == 0) {
            thrown = true;
            throw std::runtime_error("dialog broke");
        }
    };
    EXPECT_EQ(MessagesOf(Publish("shot.jpg")),
              (Texts{"Cannot upload file: 553 Could not create file.", "dialog broke"}));
    EXPECT_TRUE(ExportGone("shot.jpg"));
    EXPECT_FALSE(ftp->Connected());

    Start();
    Configure(account);
    EXPECT_EQ(MessagesOf(Publish("again.jpg")), Texts{"inputbox"});
    EXPECT_FALSE(server->Stored().empty());
}

// Explicit TLS to vsftpd: a certificate the test CA signed publishes
// straight away; a self-signed one is explained and, once trusted, publishes
// on the same click and is not asked about again.
TEST_F(FtpPublishTest, EncryptedPublishTrustsAnOwnCertificateOnlyWhenAsked) {
    const TestCertificates& certs = TestCertificates::Get();
    if (!certs.Ready()) GTEST_SKIP() << certs.Error();
    if (!VsftpdServer::Available()) GTEST_SKIP() << "vsftpd cannot run here";
    for (const TestCertificate* cert : {&certs.Server, &certs.Rogue}) {
        VsftpdServer server(FtpTls::Explicit, cert->Cert, cert->Key);
        ASSERT_TRUE(server.Running()) << server.Error();
        FtpAccount a;
        a.host = "localhost";
        a.port = std::to_string(server.Port());
        a.user = server.User();
        a.password = server.Password();
        Configure(a);
        Settings.ftpEncryption = ftpEncExplicit;
        SaveSettings();
        const bool own = cert == &certs.Rogue;
        dialogs->confirmAnswers = {false};
        Texts expected =
            own ? Texts{"confirm", "Connect to FTP failed : *", Failed} : Texts{"inputbox"};
        auto shown = Publish("tls_1.jpg");
        EXPECT_TRUE(Matches(expected, MessagesOf(shown)))
            << testing::PrintToString(MessagesOf(shown));
        if (!own) {
            EXPECT_EQ(ReadFileText(server.Root() + "/captures/tls_1.jpg").substr(0, 2), "\xFF\xD8");
            continue;
        }
        EXPECT_NE(shown[0].text.find(TestCertificates::FingerprintOf(cert->Cert)),
                  std::string::npos)
            << shown[0].text;
        EXPECT_TRUE(ReadFileText(server.Root() + "/captures/tls_1.jpg").empty());
        dialogs->confirmAnswers = {true};
        EXPECT_EQ(MessagesOf(Publish("tls_2.jpg")), (Texts{"confirm", "inputbox"}));
        EXPECT_EQ(MessagesOf(Publish("tls_3.jpg")), Texts{"inputbox"}) << "trusted now";
        EXPECT_EQ(ReadFileText(server.Root() + "/captures/tls_3.jpg").substr(0, 2), "\xFF\xD8");
    }
}

// Every failure box carries the transcript of the publish behind "Show
// Details...": the server's words are there, the password never is.
TEST_F(FtpPublishScripted, FailureDetailsHoldTheTranscriptWithoutThePassword) {
    Start();
    server->On("PASS", "530 Login incorrect.\r\n");
    Configure(account);
    const auto shown = Publish("shot.jpg");
    ASSERT_EQ(MessagesOf(shown), (Texts{"Connect to FTP failed : 530 Login incorrect.", Failed}));
    for (const auto& box : shown) {
        EXPECT_NE(box.details.find("< 530 Login incorrect."), std::string::npos) << box.details;
        EXPECT_NE(box.details.find("> USER tester"), std::string::npos) << box.details;
        EXPECT_NE(box.details.find("> PASS ********"), std::string::npos) << box.details;
        EXPECT_EQ(box.details.find(Password), std::string::npos) << box.details;
    }
}

// A picture far larger than what the system buffers take at once, so that
// only the wire can say how far an upload got.
void WriteNoisyCapture(int width, int height) {
    WriteCapture(WorkingFilePath(), width, height, [](int x, int y) {
        uint32_t h = uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u;
        h ^= h >> 13;
        h *= 0x5bd1e995u;
        return (h ^ (h >> 15)) & 0xFFFFFFu;
    });
}

// The server takes 200 KB and then reads nothing more: the upload stops
// moving, fails after the time-out with the client's own reason, the
// progress shows what the server has, and the partial file is removed
// on a new login.
TEST_F(FtpPublishScripted, UploadThatStopsMovingFailsAndRemovesThePartialFile) {
    WriteNoisyCapture(900, 700);
    Start();
    server->StopReadingAfter = 200 * 1024;
    server->DataReceiveBuffer = 32 * 1024;
    Configure(account);
    const auto shown = Publish("shot.jpg");
    ASSERT_EQ(MessagesOf(shown).size(), 2u) << testing::PrintToString(MessagesOf(shown));
    EXPECT_EQ(shown[0].text.rfind("Cannot upload file: 426 Timeout: the transfer made no "
                                  "progress for 400 ms after ",
                                  0),
              0u)
        << shown[0].text;
    EXPECT_NE(shown[0].details.find("The partial file shot.jpg was removed from the server."),
              std::string::npos)
        << shown[0].details;
    EXPECT_EQ(shown[1].text, Failed);
    EXPECT_GE(dialogs->progressSent, 200u * 1024) << "what the server read";
    EXPECT_LT(dialogs->progressSent + 100 * 1024, dialogs->progressTotal)
        << "not what the system buffered";
    EXPECT_TRUE(Matches(
        Commands({"MKD captures", "CWD captures", "TYPE I", "PASV", "STOR shot.jpg", "USER tester",
                  std::string("PASS ") + Password, "CWD captures", "DELE shot.jpg", "QUIT"}),
        server->Commands()))
        << testing::PrintToString(server->Commands());
}

// A greeting that never ends is given up with the client's own reason, not
// with an empty text.
TEST_F(FtpPublishScripted, UnfinishedGreetingNamesTheTimeOut) {
    Start("220-Welcome,\r\n220-still");
    Configure(account);
    EXPECT_EQ(MessagesOf(Publish("shot.jpg")),
              (Texts{"Connect to FTP failed : 426 Timeout: no answer from the server for 400 ms "
                     "after connecting",
                     Failed}));
}

// Cancel in the progress window drops the connection at once, whatever the
// step: only "Publishing cancelled." is shown, the buttons come back, the
// JPEG is removed as after any FTP publish, and the server sees the close.
// The client waits without limit, so that only the cancel can end the wait;
// a guard ends a cancel that did nothing, and fails the case.
struct CancelCase {
    const char* name;
    const char* step;
    uint64_t sent; // bytes of the upload gone before the cancel
    std::function<void(ScriptedFtpServer&)> arrange;
};

TEST_F(FtpPublishScripted, CancelStopsThePublishAtOnce) {
    const CancelCase cases[] = {
        {"while logging in", "Logging in", 0,
         [](Srv& s) {
             s.On("USER", Rule{"", false, true});
         }},
        {"while the server reads nothing of the upload", "Uploading", 1,
         [](Srv& s) { s.DataMode = Srv::Data::Stall; }},
    };
    for (const CancelCase& c : cases) {
        SCOPED_TRACE(c.name);
        Start();
        c.arrange(*server);
        Configure(account);
        ftp->SetTimeout(0);
        bool guardFired = false;
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [&] {
            guardFired = true;
            ftp->Abort();
        });
        guard.start(30000);
        dialogs->progressSteps.clear();
        dialogs->progressSent = 0;
        dialogs->whileProgress = [&](ScriptedDialogs::Progress& progress) {
            if (dialogs->progressSteps.back() != c.step || dialogs->progressSent < c.sent) return;
            // As a click would: from the event loop, not from inside the client.
            QTimer::singleShot(0, [&progress, this] {
                if (dialogs->progressWindowsOpen > 0) progress.Cancel();
            });
            dialogs->whileProgress = nullptr;
        };
        EXPECT_EQ(MessagesOf(Publish("shot.jpg")), Texts{"Publishing cancelled."});
        EXPECT_FALSE(guardFired) << "the cancel ended the publish";
        EXPECT_EQ(dialogs->progressWindowsOpen, 0);
        EXPECT_TRUE(ExportGone("shot.jpg"));
        EXPECT_FALSE(ftp->Connected());
        EXPECT_TRUE(server->WaitClosed(5000)) << "the server sees the connection closed";
        // Only an upload the server had begun to store leaves a file to remove.
        const Texts commands = server->Commands();
        const bool removed = !commands.empty() && commands.size() >= 2 &&
                             commands[commands.size() - 2] == "DELE shot.jpg";
        EXPECT_EQ(removed, c.sent > 0) << testing::PrintToString(commands);
    }
}

// A banner of continuation lines without end fails the publish with a clear
// line, and memory stays small while the server talks.
TEST_F(FtpPublishScripted, BannerWithoutEndFailsAndMemoryStaysSmall) {
    ScriptedTcpServer endless({ScriptedTcpServer::SendForever("220-Welcome!\r\n")});
    account.port = endless.PortText();
    Configure(account);
    ftp->SetTimeout(15);
    long most = ProcessMemoryMiB("VmRSS:");
    ASSERT_GT(most, 0);
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        most = std::max(most, ProcessMemoryMiB("VmRSS:"));
        // Past the bound the case has failed; no need to wait for the time-out.
        if (most >= MemoryBoundMiB) ftp->Abort();
    });
    sampler.start(5);
    EXPECT_EQ(
        MessagesOf(Publish("shot.jpg")),
        (Texts{"Connect to FTP failed : 500 Reply longer than " +
                   std::to_string(TFtpClient::MaxReplyLines) + " lines: the server does not end it",
               Failed}));
    EXPECT_LT(most, MemoryBoundMiB);
}

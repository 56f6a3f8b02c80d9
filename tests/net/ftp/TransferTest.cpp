// Uploads (and a download and a listing) against the scripted server,
// passive and active: what arrives, what is reported, and the faults of the
// data connection.
#include "FtpTestUtil.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Transfer {
    TempDirScope dir;
    ScriptedFtpServer server;
    FtpClientRecorder r;
    std::string content;

    explicit Transfer(bool passive, size_t size = 10000) : content(Bytes(size)) {
        r.Target(server);
        r.Client.SetPassive(passive);
        r.Client.SetLocalFileName(WriteFile(dir, "shot.jpg", content));
        r.Client.SetHostFileName("shot.jpg");
    }
    bool ConnectAndPut() { return r.Client.Connect() && r.Client.Put(); }
    std::vector<std::string> Sent() {
        PumpBriefly(50);
        return server.Commands();
    }
    std::string TransferCommand() {
        std::vector<std::string> s = Sent();
        return s.empty() ? "" : s.back().substr(0, 5);
    }
};

// The client reads the file in blocks of this size, one at a time.
constexpr size_t UploadBlock = 256 * 1024;

TEST(FtpUpload, ArrivesWholeInBothModesAndAllOrders) {
    struct Case {
        const char* name;
        bool passive;
        size_t size;
        bool connectBefore150;
        bool connectOnPort;
        const char* finalReply;
    } cases[] = {
        {"passive", true, 10000, false, false, "226 Transfer complete\r\n"},
        {"passive, final 250", true, 10000, false, false, "250 Stored\r\n"},
        {"passive, empty file", true, 0, false, false, "226 Transfer complete\r\n"},
        {"passive, one block exactly", true, 1460, false, false, "226 Transfer complete\r\n"},
        {"passive, several read blocks", true, 5 * UploadBlock + 7, false, false,
         "226 Transfer complete\r\n"},
        {"active, 150 first", false, 10000, false, false, "226 Transfer complete\r\n"},
        {"active, server connects first", false, 10000, true, false, "226 Transfer complete\r\n"},
        {"active, server connects on PORT", false, 10000, false, true, "226 Transfer complete\r\n"},
        {"active, empty file", false, 0, false, false, "226 Transfer complete\r\n"},
        {"active, empty file, connected on PORT", false, 0, false, true,
         "226 Transfer complete\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Transfer t(c.passive, c.size);
        t.server.ConnectBeforeFirstReply = c.connectBefore150;
        t.server.ConnectOnPort = c.connectOnPort;
        t.server.FinalReply = c.finalReply;
        std::vector<int> progress;
        t.r.Client.OnProgress = [&](TCustomFtpCli*, int n, bool&) { progress.push_back(n); };
        ASSERT_TRUE(t.r.Client.Connect());
        // The login's message is delivered first, or it would be counted
        // as the upload's (it reports the request kind current then).
        ASSERT_TRUE(PumpUntil([&] { return t.r.Done.size() == 1; }));
        int done = 0;
        t.r.Client.OnRequestDone = [&](TCustomFtpCli*, TFtpRequest rq, uint16_t e) {
            if (rq == ftpPutAsync && e == 0) ++done;
        };
        ASSERT_TRUE(t.r.Client.Put()) << t.r.Client.LastResponse();
        EXPECT_EQ(t.server.Stored(), t.content);
        std::vector<std::string> sent = t.Sent();
        ASSERT_EQ(sent.size(), 4u);
        if (c.passive)
            EXPECT_EQ(sent[2], "PASV");
        else
            EXPECT_EQ(sent[2].rfind("PORT 127,0,0,1,", 0), 0u) << sent[2];
        EXPECT_EQ(sent[3], "STOR shot.jpg");
        PumpUntil([&] { return done > 0; }, 1000);
        EXPECT_EQ(done, 1) << "the upload ends once";
        // Reported as the server acknowledges it: never backwards, and a
        // file of several blocks in more than one step. A busy machine may
        // see several blocks acknowledged between two reports.
        ASSERT_FALSE(progress.empty());
        for (size_t i = 1; i < progress.size(); ++i) EXPECT_GE(progress[i], progress[i - 1]);
        if (c.size > 3 * UploadBlock) {
            EXPECT_GT(progress.size(), 2u);
        }
        EXPECT_EQ(progress.back(), int(c.size));
        int stats = 0;
        for (const std::string& line : t.r.Trace)
            stats += line.rfind("! " + std::to_string(c.size) + " bytes received/sent in ", 0) == 0;
        EXPECT_EQ(stats, 1);
        EXPECT_EQ(t.r.Client.DataSocket()->State(), wsClosed);
    }
}

TEST(FtpUpload, DataConnectionFaults) {
    using D = ScriptedFtpServer::Data;
    struct Case {
        const char* name;
        bool passive;
        D mode;
        const char* finalReply;
        const char* lastResponse; // prefix
    } cases[] = {
        {"cut after a block, 451", true, D::CutAfterFirstBlock, "451 Local error\r\n",
         "451 Local error"},
        {"cut after a block, 552", false, D::CutAfterFirstBlock, "552 Quota exceeded\r\n",
         "552 Quota exceeded"},
        {"cut after a block, 226 anyway", true, D::CutAfterFirstBlock, "226 Done\r\n",
         "426 Data connection closed before the whole file was sent"},
        {"reset, no final reply", true, D::ResetAfterFirstBlock, "",
         "500 Control connection closed"},
        {"active, never connects, 425", false, D::NeverConnect, "425 No data connection\r\n",
         "425 No data connection"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Larger than the socket buffers can hold, so the cut is seen before
        // the end of the file.
        Transfer t(c.passive, 8 << 20);
        t.server.DataMode = c.mode;
        t.server.FinalReply = c.finalReply;
        ASSERT_TRUE(t.r.Client.Connect());
        EXPECT_FALSE(t.r.Client.Put());
        EXPECT_EQ(t.r.Client.LastResponse().rfind(c.lastResponse, 0), 0u)
            << t.r.Client.LastResponse();
        EXPECT_FALSE(t.r.Client.ErrorMessage().empty());
        EXPECT_EQ(t.TransferCommand(), "STOR ");
        EXPECT_LT(t.server.Stored().size(), t.content.size());
        EXPECT_NE(t.r.Client.State(), ftpStWaitingReply);
    }
}

TEST(FtpUpload, StallsEndWithTheTimeout) {
    using D = ScriptedFtpServer::Data;
    struct Case {
        const char* name;
        bool passive;
        D mode;
    } cases[] = {
        {"active, server never connects nor answers", false, D::NeverConnect},
        {"passive, data stops moving", true, D::Stall},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Transfer t(c.passive, 8 << 20);
        t.server.DataMode = c.mode;
        t.server.DataReceiveBuffer = 4096;
        t.server.FinalReply = ""; // NeverConnect: no final reply either
        t.r.Client.SetTimeoutMs(400);
        ASSERT_TRUE(t.r.Client.Connect());
        EXPECT_FALSE(t.r.Client.Put());
        EXPECT_EQ(t.r.Client.ErrorMessage().rfind("426 Timeout: ", 0), 0u)
            << t.r.Client.ErrorMessage();
        EXPECT_FALSE(t.r.Client.Connected());
        EXPECT_EQ(t.r.Client.DataSocket()->State(), wsClosed);
    }
}

TEST(FtpUpload, BadPassiveRepliesFailClearly) {
    struct Case {
        const char* reply;
        const char* lastResponse;
    } cases[] = {
        {"227 Entering Passive Mode (127,0,0,1,300,2)\r\n",
         "426 Unusable passive reply: \"227 Entering Passive Mode (127,0,0,1,300,2)\""},
        {"227 Entering Passive Mode 127,0,0,1,4,2\r\n",
         "426 Unusable passive reply: \"227 Entering Passive Mode 127,0,0,1,4,2\""},
        {"200 PASV ignored\r\n", "426 Unusable passive reply: \"\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        Transfer t(true);
        t.server.On("PASV", c.reply);
        ASSERT_TRUE(t.r.Client.Connect());
        EXPECT_FALSE(t.r.Client.Put());
        EXPECT_EQ(t.r.Client.LastResponse(), c.lastResponse);
        EXPECT_EQ(t.r.Client.ErrorMessage(), c.lastResponse);
        EXPECT_EQ(t.Sent(), Join(LoginCommands, {"PASV"})) << "no STOR without a data connection";
    }
    // A port where nothing listens: the connect is refused.
    Transfer t(true);
    const uint16_t dead = UnusedLoopbackPort();
    t.server.On("PASV", "227 Entering Passive Mode (127,0,0,1," + std::to_string(dead >> 8) + "," +
                            std::to_string(dead & 0xFF) + ")\r\n");
    ASSERT_TRUE(t.r.Client.Connect());
    EXPECT_FALSE(t.r.Client.Put());
    EXPECT_EQ(t.r.Client.LastResponse(), "Unable to establish data connection, error #10061");
}

TEST(FtpUpload, DataGoesToTheControlPeerWhateverThePassiveReplySays) {
    Transfer t(true);
    t.server.On("PASV", "227 Entering Passive Mode (10,99,1,2,{p1},{p2})\r\n");
    ASSERT_TRUE(t.ConnectAndPut()) << t.r.Client.LastResponse();
    EXPECT_EQ(t.server.Stored(), t.content);
    EXPECT_EQ(t.r.Client.DataSocket()->Addr(), "127.0.0.1");
}

TEST(FtpUpload, ActiveListenerTurnsAwayConnectionsFromOtherHosts) {
    Transfer t(false);
    // Another host connects to the announced port before the server does.
    int intruder = -1;
    uint16_t dataPort = 0;
    t.r.Client.OnCommand = [&](TCustomFtpCli*, std::string& cmd) {
        unsigned h[6];
        if (std::sscanf(cmd.c_str(), "PORT %u,%u,%u,%u,%u,%u", &h[0], &h[1], &h[2], &h[3], &h[4],
                        &h[5]) == 6)
            dataPort = uint16_t(h[4] * 256 + h[5]);
        if (cmd.rfind("STOR", 0) != 0 || intruder >= 0) return;
        intruder = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl(0x7F000002);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(dataPort);
        ASSERT_EQ(bind(intruder, reinterpret_cast<sockaddr*>(&from), sizeof from), 0);
        ASSERT_EQ(connect(intruder, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    };
    ASSERT_TRUE(t.ConnectAndPut()) << t.r.Client.LastResponse();
    EXPECT_EQ(t.server.Stored(), t.content);
    ASSERT_GE(intruder, 0);
    char byte;
    EXPECT_EQ(recv(intruder, &byte, 1, 0), 0) << "the other host got data";
    close(intruder);
    EXPECT_TRUE(t.r.TraceHas("! Data connection from 127.0.0.2 refused"));
}

TEST(FtpUpload, LocalRefusals) {
    Transfer t(true);
    ASSERT_TRUE(t.r.Client.Connect());
    // The application cancels.
    t.r.Client.OnReadyToTransmit = [](TCustomFtpCli*, bool& cancel) { cancel = true; };
    EXPECT_FALSE(t.r.Client.Put());
    EXPECT_EQ(t.r.Client.ErrorMessage(), "426 Transmit cancelled by application");
    t.r.Client.OnReadyToTransmit = nullptr;
    // A missing file.
    t.r.Client.SetLocalFileName(t.dir.File("missing.jpg"));
    EXPECT_FALSE(t.r.Client.Put());
    EXPECT_EQ(t.r.Client.ErrorMessage(),
              "426 Unable to open local file " + t.dir.File("missing.jpg"));
    // No file name at all is a usage error.
    t.r.Client.SetLocalFileName("");
    EXPECT_FALSE(t.r.Client.Put());
    EXPECT_EQ(t.r.Errors, std::vector<std::string>{"LocalFileName empty"});
    // OnProgress asks to stop: the partial upload is no success.
    t.r.Client.SetLocalFileName(t.dir.File("shot.jpg"));
    t.r.Client.OnProgress = [](TCustomFtpCli*, int n, bool& abort) { abort = n >= 2920; };
    EXPECT_FALSE(t.r.Client.Put());
    EXPECT_TRUE(t.r.TraceHas("! Abort requested"));
    EXPECT_EQ(t.Sent(), Join(LoginCommands, {"PASV", "PASV", "PASV", "PASV", "STOR shot.jpg"}));
}

TEST(FtpUpload, ExclusiveShareModeRefusesAFileOpenForWriting) {
    Transfer t(true);
    ASSERT_TRUE(t.r.Client.Connect());
    const std::string path = t.r.Client.LocalFileName();
    // Another process holds the file open for writing; it says so through a pipe.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int fd = open(path.c_str(), O_WRONLY);
        const char ok = fd >= 0 ? '1' : '0';
        if (write(ready[1], &ok, 1) != 1) _exit(1);
        pause();
        _exit(0);
    }
    char opened = 0;
    ASSERT_EQ(read(ready[0], &opened, 1), 1);
    close(ready[0]);
    close(ready[1]);
    ASSERT_EQ(opened, '1');
    EXPECT_FALSE(t.r.Client.Put());
    EXPECT_EQ(t.r.Client.ErrorMessage(), "426 Unable to open local file " + path);
    t.r.Client.SetShareMode(ftpShareDenyNone);
    EXPECT_TRUE(t.r.Client.Put());
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    t.r.Client.SetShareMode(ftpShareExclusive);
    EXPECT_TRUE(t.r.Client.Put()) << "the writer is gone";
}

TEST(FtpDownload, RetrieveAndListThroughTheSameMachinery) {
    for (bool passive : {true, false}) {
        SCOPED_TRACE(passive ? "passive" : "active");
        Transfer t(passive);
        t.server.DownloadBytes = Bytes(9000, 3);
        const std::string target = t.dir.File("down.bin");
        t.r.Client.SetLocalFileName(target);
        t.r.Client.SetHostFileName("remote.bin");
        ASSERT_TRUE(t.r.Client.Connect());
        ASSERT_TRUE(t.r.Client.Get()) << t.r.Client.LastResponse();
        std::ifstream in(target, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), t.server.DownloadBytes);

        t.server.DownloadBytes = "a.jpg\r\nb.jpg\r\n";
        std::vector<std::string> shown;
        t.r.Client.OnDisplayFile = [&](TCustomFtpCli*, std::string& m) { shown.push_back(m); };
        t.r.Client.SetDisplayFileFlag(true);
        t.r.Client.SetHostFileName("");
        ASSERT_TRUE(t.r.Client.Ls());
        EXPECT_EQ(shown, (std::vector<std::string>{"a.jpg", "b.jpg"}));
        std::vector<std::string> sent = t.Sent();
        ASSERT_EQ(sent.size(), 6u);
        EXPECT_EQ(sent[3], "RETR remote.bin");
        EXPECT_EQ(sent[5], "NLST");
    }
}

// A local disk that fills up mid-download: the server's 226 after the last
// byte it sent does not make the shortened file a success.
TEST(FtpDownload, ALocalWriteFailureFailsTheDownload) {
    Transfer t(true);
    t.server.DownloadBytes = Bytes(9000, 5);
    t.r.Client.SetLocalFileName(t.dir.File("down.bin"));
    t.r.Client.SetHostFileName("remote.bin");
    ASSERT_TRUE(t.r.Client.Connect());
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    rlimit small = before;
    small.rlim_cur = 4096;
    const sighandler_t oldHandler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool got = t.r.Client.Get();
    setrlimit(RLIMIT_FSIZE, &before);
    signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(got);
    EXPECT_EQ(t.r.Client.LastResponse(), "426 Error writing local file " + t.dir.File("down.bin"));
    EXPECT_TRUE(t.r.TraceHas("! Error writing local file"));
    // The failure belongs to that download only.
    EXPECT_TRUE(t.r.Client.Get()) << t.r.Client.LastResponse();
}

} // namespace

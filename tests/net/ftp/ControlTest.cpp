// The control connection against a scripted server: the login and the
// publish chain, refused steps, awkward reply shapes, stalls, unsafe names,
// usage errors and the request lifecycle.
#include "FtpTestUtil.h"

namespace {

using Rules = std::vector<std::pair<std::string, ScriptedFtpServer::Rule>>;

struct ChainStep {
    const char* name;
    bool (TFtpClient::*op)();
    std::vector<std::string> sent;
};

// The program's publish chain, passive, with the commands each step sends.
const std::vector<ChainStep> PublishChain = {
    {"Connect", &TFtpClient::Connect, LoginCommands},
    {"Mkd", &TFtpClient::Mkd, {"MKD pics"}},
    {"Cwd", &TFtpClient::Cwd, {"CWD pics"}},
    {"TypeSet", &TFtpClient::TypeSet, {"TYPE I"}},
    {"Put", &TFtpClient::Put, {"PASV", "STOR shot.jpg"}},
};

struct Session {
    TempDirScope dir;
    ScriptedFtpServer server;
    FtpClientRecorder r;

    explicit Session(const Rules& rules = {}, std::string banner = "220 Scripted FTP ready\r\n")
        : server(std::move(banner)) {
        for (const auto& [verb, rule] : rules) server.On(verb, rule);
        r.Target(server);
        r.Client.SetHostDirName("pics");
        r.Client.SetHostFileName("pics");
        r.Client.SetPassive(true);
        r.Client.SetLocalFileName(WriteFile(dir, "shot.jpg", Bytes(3000)));
    }
    // Runs the chain until a step fails; the failing step's name, or "".
    std::string RunChain() {
        for (const ChainStep& s : PublishChain) {
            if (std::string(s.name) == "Put") r.Client.SetHostFileName("shot.jpg");
            if (!(r.Client.*s.op)()) return s.name;
        }
        return "";
    }
    // The commands the server has seen once the client went quiet.
    std::vector<std::string> Sent() {
        PumpBriefly(50);
        return server.Commands();
    }
};

std::vector<std::string> ChainCommandsThrough(const std::string& last, size_t keepOfLast) {
    std::vector<std::string> out;
    for (const ChainStep& s : PublishChain) {
        if (s.name == last) {
            out.insert(out.end(), s.sent.begin(), s.sent.begin() + long(keepOfLast));
            break;
        }
        out = Join(out, s.sent);
    }
    return out;
}

TEST(FtpSession, PublishChainSucceedsAgainstAWillingServer) {
    Session s;
    EXPECT_EQ(s.RunChain(), "");
    EXPECT_TRUE(s.r.Client.Quit());
    EXPECT_FALSE(s.r.Client.Connected());
    EXPECT_EQ(s.Sent(), Join(ChainCommandsThrough("", 0), {"QUIT"}));
    EXPECT_EQ(s.server.Stored(), Bytes(3000));
    EXPECT_TRUE(s.r.Errors.empty());
}

TEST(FtpSession, RefusedStepStopsTheChainWithItsReply) {
    struct Case {
        const char* verb;
        const char* reply;
        const char* failingStep;
        size_t sentOfStep;
    } cases[] = {
        {"USER", "530 Not allowed\r\n", "Connect", 1},
        {"USER", "421 Too many users\r\n", "Connect", 1},
        {"PASS", "530 Login incorrect.\r\n", "Connect", 2},
        {"MKD", "553 Name not allowed\r\n", "Mkd", 1},
        {"CWD", "550 No such directory\r\n", "Cwd", 1},
        {"TYPE", "504 Type not supported\r\n", "TypeSet", 1},
        {"PASV", "425 Cannot open passive connection\r\n", "Put", 1},
        {"PASV", "502 PASV not implemented\r\n", "Put", 1},
        {"STOR", "553 Could not create file\r\n", "Put", 2},
        {"STOR", "425 Can't open data connection\r\n", "Put", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.verb) + " " + c.reply);
        Session s(Rules{{c.verb, {c.reply}}});
        EXPECT_EQ(s.RunChain(), c.failingStep);
        std::string line = std::string(c.reply).substr(0, std::string(c.reply).size() - 2);
        EXPECT_EQ(s.r.Client.LastResponse(), line);
        EXPECT_EQ(s.r.Client.ErrorMessage(), line);
        EXPECT_EQ(s.r.Client.StatusCode(), std::stoi(line));
        EXPECT_EQ(s.Sent(), ChainCommandsThrough(c.failingStep, c.sentOfStep));
        EXPECT_TRUE(s.r.Errors.empty()) << "server refusals never reach OnError";
    }
}

TEST(FtpSession, ActivePortRefusedStopsThePut) {
    Session s(Rules{{"PORT", {"500 Illegal PORT command.\r\n"}}});
    s.r.Client.SetPassive(false);
    ASSERT_TRUE(s.r.Client.Connect());
    s.r.Client.SetHostFileName("shot.jpg");
    EXPECT_FALSE(s.r.Client.Put());
    EXPECT_EQ(s.r.Client.LastResponse(), "500 Illegal PORT command.");
    std::vector<std::string> sent = s.Sent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[2].rfind("PORT 127,0,0,1,", 0), 0u) << sent[2];
}

TEST(FtpSession, ExistingDirectoryThenCwdSucceeds) {
    Session s(Rules{{"MKD", {"550 File exists.\r\n"}}});
    ASSERT_TRUE(s.r.Client.Connect());
    EXPECT_FALSE(s.r.Client.Mkd());
    EXPECT_EQ(s.r.Client.LastResponse(), "550 File exists.");
    EXPECT_TRUE(s.r.Client.Cwd());
    EXPECT_EQ(s.r.Client.LastResponse(), "250 \"/dir\" is the current directory");
    EXPECT_EQ(s.r.Client.DirResult(), "/dir");
    EXPECT_EQ(s.Sent(), Join(LoginCommands, {"MKD pics", "CWD pics"}));
}

TEST(FtpSession, UserAnswered230SendsNoPassword) {
    Session s(Rules{{"USER", {"230 Welcome, no password needed\r\n"}}});
    EXPECT_TRUE(s.r.Client.Connect());
    EXPECT_EQ(s.Sent(), std::vector<std::string>{"USER tester"});
}

TEST(FtpSession, RepliesInAwkwardShapes) {
    std::string banner200;
    for (int i = 0; i < 200; ++i)
        banner200 += "220-Line " + std::to_string(i) + " of the banner\r\n";
    banner200 += "220 Ready\r\n";
    std::string over4k = "331-Password, please\r\n";
    for (int i = 0; i < 100; ++i) over4k += " " + std::string(60, 'a' + i % 26) + "\r\n";
    over4k += "331 Go on\r\n";
    struct Case {
        const char* name;
        std::string banner;
        Rules rules;
        bool trickle;
        std::string lastTrace; // the last "< " line of the login
    } cases[] = {
        {"200-line banner", banner200, {}, false, "< 230 Logged in"},
        {"reply across the 4 KiB buffer",
         "220 x\r\n",
         {{"USER", {over4k}}},
         false,
         "< 230 Logged in"},
        {"LF-only line ends",
         "220-a\n220 b\n",
         {{"USER", {"331 p\n"}}, {"PASS", {"230 in\n"}}},
         false,
         "< 230 in"},
        {"two replies in one read",
         "220 x\r\n",
         {{"USER", {"331 p\r\n230 early\r\n"}}, {"PASS", {""}}},
         false,
         "< 230 early"},
        {"one byte at a time", "220-x\r\n220 y\r\n", {}, true, "< 230 Logged in"},
        {"NUL inside a reply",
         std::string("220 he\0llo\r\n", 12),
         {{"PASS", {std::string("230 o\0k\r\n", 9)}}},
         false,
         "< 230 o"},
        {"text lines before the code",
         "Hello there\r\n220 x\r\n",
         {{"PASS", {"Welcome aboard\r\n230 in\r\n"}}},
         false,
         "< 230 in"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Session s(c.rules, c.banner);
        s.server.Trickle = c.trickle;
        const int shownBefore = 0;
        EXPECT_TRUE(s.r.Client.Connect());
        EXPECT_EQ(s.Sent(), LoginCommands);
        ASSERT_FALSE(s.r.Trace.empty());
        EXPECT_EQ(s.r.Trace.back(), c.lastTrace);
        EXPECT_EQ(s.r.Done.size(), size_t(shownBefore + 1));
    }
}

TEST(FtpSession, BannerLinesAreShownAndActedOnOnce) {
    Session s({}, "220-one\r\n220-two\r\n220 three\r\n");
    int connected = 0;
    s.r.Client.OnSessionConnected = [&](TCustomFtpCli*, uint16_t) { ++connected; };
    ASSERT_TRUE(s.r.Client.Connect());
    EXPECT_EQ(connected, 1);
    std::vector<std::string> first(s.r.Trace.begin(), s.r.Trace.begin() + 4);
    EXPECT_EQ(first,
              (std::vector<std::string>{"< 220-one", "< 220-two", "< 220 three", "> USER tester"}));
}

TEST(FtpSession, ReplyLineLongerThanTheBufferEndsTheRequest) {
    Session s(Rules{{"USER", {"331 " + std::string(5000, 'x') + "\r\n"}}});
    EXPECT_FALSE(s.r.Client.Connect());
    EXPECT_EQ(s.r.Client.LastResponse(), "500 Reply line longer than 4095 bytes");
    EXPECT_EQ(s.r.Client.ErrorMessage(), s.r.Client.LastResponse());
    EXPECT_FALSE(s.r.Client.Connected());
    EXPECT_EQ(s.Sent(), std::vector<std::string>{"USER tester"});
}

// Continuation lines without end, in the banner or in a reply, end the
// request long before the time-out.
TEST(FtpSession, ReplyThatNeverEndsEndsTheRequest) {
    using Tcp = ScriptedTcpServer;
    const std::vector<Tcp::Step> scripts[] = {
        {Tcp::SendForever("220-Welcome, and welcome again\r\n")},
        {Tcp::Send("220 Ready\r\n"), Tcp::Read(13), Tcp::SendForever("331-Go on\r\n")},
    };
    for (const auto& script : scripts) {
        Tcp server(script);
        FtpClientRecorder r;
        r.Client.SetPort(server.PortText());
        r.Client.SetTimeoutMs(15000);
        EXPECT_FALSE(r.Client.Connect());
        EXPECT_EQ(r.Client.LastResponse(), "500 Reply longer than " +
                                               std::to_string(TFtpClient::MaxReplyLines) +
                                               " lines: the server does not end it");
        EXPECT_EQ(r.Client.ErrorMessage(), r.Client.LastResponse());
        EXPECT_FALSE(r.Client.Connected());
    }
}

TEST(FtpSession, ServerGoingAwayMidSession) {
    struct Case {
        const char* name;
        ScriptedFtpServer::Rule cwd;
        const char* lastResponse;
    } cases[] = {
        {"421 then close", {"421 Timeout.\r\n", true}, "421 Timeout."},
        {"close without a reply", {"", true}, "500 Control connection closed before the reply"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Session s(Rules{{"CWD", c.cwd}});
        ASSERT_TRUE(s.r.Client.Connect());
        EXPECT_FALSE(s.r.Client.Cwd());
        EXPECT_EQ(s.r.Client.LastResponse(), c.lastResponse);
        EXPECT_TRUE(PumpUntil([&] { return !s.r.Client.Connected(); }));
        EXPECT_FALSE(s.r.Client.ControlConnected());
        // The next request is refused locally, not sent into a dead socket.
        EXPECT_FALSE(s.r.Client.TypeSet());
        EXPECT_EQ(s.r.Errors, std::vector<std::string>{"FTP component not connected"});
        EXPECT_EQ(s.Sent(), Join(LoginCommands, {"CWD pics"}));
    }
}

TEST(FtpSession, StallsEndWithTheTimeout) {
    struct Case {
        const char* name;
        std::string banner;
        Rules rules;
        bool (TFtpClient::*op)();
        std::vector<std::string> sent;
    } cases[] = {
        {"no banner", "", {}, &TFtpClient::Connect, {}},
        {"no reply to PASS",
         "220 x\r\n",
         {{"PASS", {"", false, true}}},
         &TFtpClient::Connect,
         LoginCommands},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Session s(c.rules, c.banner);
        s.r.Client.SetTimeoutMs(300);
        EXPECT_FALSE((s.r.Client.*c.op)());
        EXPECT_EQ(s.r.Client.ErrorMessage().rfind("426 Timeout: ", 0), 0u)
            << s.r.Client.ErrorMessage();
        EXPECT_EQ(s.r.Client.StatusCode(), 426);
        EXPECT_EQ(s.r.Client.State(), ftpStReady);
        EXPECT_FALSE(s.r.Client.Connected());
        EXPECT_EQ(s.r.Client.DataSocket()->State(), wsClosed);
        EXPECT_EQ(s.Sent(), c.sent);
        EXPECT_TRUE(s.server.WaitClosed(2000)) << "the aborted client closes its connection";
    }
    Session s(Rules{{"CWD", {"", false, true}}});
    s.r.Client.SetTimeoutMs(300);
    ASSERT_TRUE(s.r.Client.Connect());
    EXPECT_FALSE(s.r.Client.Cwd());
    EXPECT_EQ(s.r.Client.ErrorMessage().rfind("426 Timeout: ", 0), 0u) << s.r.Client.ErrorMessage();
    EXPECT_EQ(s.r.Client.LastResponse(),
              "426 Timeout: no answer from the server for 300 ms after CWD pics")
        << "the client's own reason, not the last line received";

    // A terminating application does not wait at all, even without a limit.
    Session ending(Rules{{"CWD", {"", false, true}}});
    ending.r.Client.SetTimeout(0);
    ASSERT_TRUE(ending.r.Client.Connect());
    platform::setApplicationTerminating(true);
    const bool result = ending.r.Client.Cwd();
    platform::setApplicationTerminating(false);
    EXPECT_FALSE(result);
    EXPECT_EQ(ending.r.Client.ErrorMessage(), "426 Timeout");
    EXPECT_FALSE(ending.r.Client.Connected());
}

TEST(FtpSession, LineBreaksInNamesAreRefusedBeforeSending) {
    struct Case {
        const char* name;
        std::function<void(TFtpClient&)> set;
        bool (TFtpClient::*op)();
        bool loginFirst;
        const char* error;
    } cases[] = {
        {"user", [](TFtpClient& c) { c.SetUserName("x\r\nDELE index.html"); }, &TFtpClient::Connect,
         false, "UserName contains a line break"},
        {"password", [](TFtpClient& c) { c.SetPassWord("pw\nDELE a"); }, &TFtpClient::Connect,
         false, "Password contains a line break"},
        {"directory", [](TFtpClient& c) { c.SetHostDirName("pics\r\nRMD /"); }, &TFtpClient::Cwd,
         true, "HostDirName contains a line break"},
        {"mkd name", [](TFtpClient& c) { c.SetHostFileName("d\rx"); }, &TFtpClient::Mkd, true,
         "HostFileName contains a line break"},
        {"stor name", [](TFtpClient& c) { c.SetHostFileName("a.jpg\r\nDELE b"); }, &TFtpClient::Put,
         true, "HostFileName contains a line break"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Session s;
        if (c.loginFirst) {
            ASSERT_TRUE(s.r.Client.Connect());
        }
        const std::vector<std::string> before = s.Sent();
        c.set(s.r.Client);
        EXPECT_FALSE((s.r.Client.*c.op)());
        EXPECT_EQ(s.r.Errors, std::vector<std::string>{c.error});
        std::vector<std::string> sent = s.Sent();
        // Only the user name step may have come before the refused password.
        std::vector<std::string> expected = before;
        if (std::string(c.name) == "password") expected = {"USER tester"};
        if (std::string(c.name) == "stor name") expected = Join(before, {"PASV"});
        EXPECT_EQ(sent, expected);
        for (const std::string& line : sent) EXPECT_EQ(line.find("DELE"), std::string::npos);
    }
}

TEST(FtpSession, UsageErrorsMakeTheOperationFail) {
    Session s;
    s.r.Client.SetUserName("");
    EXPECT_FALSE(s.r.Client.Connect()) << "no login happened";
    EXPECT_EQ(s.r.Errors, std::vector<std::string>{"UserName emtpy"});
    EXPECT_TRUE(s.r.Client.ControlConnected());
    EXPECT_FALSE(s.r.Client.Connect());
    EXPECT_EQ(s.r.Errors.back(), "FTP component already connected");
    // The dropped sequence does not resume behind the next request.
    s.r.Client.SetUserName("tester");
    EXPECT_TRUE(s.r.Client.User());
    EXPECT_TRUE(s.r.Client.Pass());
    s.r.Client.SetHostDirName("");
    EXPECT_FALSE(s.r.Client.Cwd());
    EXPECT_EQ(s.r.Errors.back(), "HostDirName emtpy");
    EXPECT_EQ(s.Sent(), LoginCommands);

    // Without an OnError handler the exception is swallowed into false.
    Session quiet;
    quiet.r.Client.OnError = nullptr;
    quiet.r.Client.SetPassWord("");
    EXPECT_FALSE(quiet.r.Client.Connect());
    EXPECT_EQ(quiet.Sent(), std::vector<std::string>{"USER tester"});
}

TEST(FtpSession, QuitEndsOnlyAfterTheClose) {
    Session s;
    ASSERT_TRUE(s.r.Client.Connect());
    EXPECT_TRUE(s.r.Client.Quit());
    EXPECT_FALSE(s.r.Client.Connected());
    EXPECT_EQ(s.r.Client.LastResponse(), "221 Goodbye");
    Session refused(Rules{{"QUIT", {"500 No\r\n", true}}});
    ASSERT_TRUE(refused.r.Client.Connect());
    EXPECT_FALSE(refused.r.Client.Quit());
}

TEST(FtpSession, LifecycleOfAnAsynchronousLogin) {
    Session s;
    std::vector<std::string> states;
    int connected = 0, closed = 0, responses = 0;
    s.r.Client.OnStateChange = [&](TCustomFtpCli* c) {
        states.push_back(FtpStateName(c->State()));
    };
    s.r.Client.OnSessionConnected = [&](TCustomFtpCli*, uint16_t) { ++connected; };
    s.r.Client.OnSessionClosed = [&](TCustomFtpCli*, uint16_t) { ++closed; };
    s.r.Client.OnResponse = [&](TCustomFtpCli*) { ++responses; };
    s.r.Client.ConnectAsync();
    ASSERT_TRUE(PumpUntil([&] { return !s.r.Done.empty(); })) << "watchdog";
    PumpBriefly(100);
    ASSERT_EQ(s.r.Done.size(), 1u);
    EXPECT_EQ(s.r.Done[0], std::make_pair(ftpConnectAsync, uint16_t(0)));
    EXPECT_EQ(connected, 1);
    EXPECT_EQ(closed, 0);
    EXPECT_EQ(responses, 3);
    EXPECT_EQ(states,
              (std::vector<std::string>{"ftpStDnsLookup", "ftpStWaitingBanner", "ftpStConnected",
                                        "ftpStStepDone", "ftpStWaitingReply", "ftpStStepDone",
                                        "ftpStWaitingReply", "ftpStStepDone", "ftpStReady"}));
    // A refused command ends its request once, with its code.
    s.server.On("SYST", "500 What?\r\n");
    s.r.Client.SystAsync();
    ASSERT_TRUE(PumpUntil([&] { return s.r.Done.size() == 2; })) << "watchdog";
    PumpBriefly(100);
    EXPECT_EQ(s.r.Done.size(), 2u);
    EXPECT_EQ(s.r.Done[1], std::make_pair(ftpSystAsync, uint16_t(500)));
    // A request while one runs is refused and leaves the running one alone.
    s.r.Client.PwdAsync();
    s.r.Client.PwdAsync();
    EXPECT_EQ(s.r.Errors, std::vector<std::string>{"FTP component not ready"});
    ASSERT_TRUE(PumpUntil([&] { return s.r.Done.size() == 3; })) << "watchdog";
    EXPECT_EQ(s.r.Client.DirResult(), "/dir");
    ASSERT_TRUE(s.r.Client.Quit());
    EXPECT_EQ(closed, 1);
}

TEST(FtpSession, NestedWaitsComplete) {
    Session outer, inner;
    bool innerResult = false;
    outer.r.Client.OnSessionConnected = [&](TCustomFtpCli*, uint16_t) {
        innerResult = inner.r.Client.Connect() && inner.r.Client.Cwd();
    };
    EXPECT_TRUE(outer.r.Client.Connect());
    EXPECT_TRUE(innerResult);
    EXPECT_EQ(inner.Sent(), Join(LoginCommands, {"CWD pics"}));
    EXPECT_EQ(outer.Sent(), LoginCommands);
}

TEST(FtpSession, RefusedLookupAndConnect) {
    FtpClientRecorder r;
    r.Client.SetTimeoutMs(10000);
    r.Client.SetPort(std::to_string(UnusedLoopbackPort()));
    EXPECT_FALSE(r.Client.Connect());
    EXPECT_EQ(r.Client.LastResponse().rfind("500 ", 0), 0u) << r.Client.LastResponse();
    EXPECT_NE(r.Client.LastResponse().find("(Winsock error #10061)"), std::string::npos);
    EXPECT_FALSE(r.Client.Connected());
    r.Client.SetHostName("no-such-host.invalid");
    EXPECT_FALSE(r.Client.Connect());
    EXPECT_EQ(r.Client.LastResponse().rfind("500 ", 0), 0u) << r.Client.LastResponse();
    EXPECT_NE(r.Client.LastResponse().find("(Winsock error #1100"), std::string::npos);
}

TEST(FtpClientProperties, ModesAndTheirMapping) {
    TFtpClient c;
    EXPECT_EQ(c.Timeout(), 15);
    EXPECT_EQ(c.ShareMode(), ftpShareExclusive);
    EXPECT_TRUE(c.Binary());
    EXPECT_TRUE(c.Options().Contains(ftpAcceptLF));
    for (TFtpShareMode m : {ftpShareCompat, ftpShareExclusive, ftpShareDenyWrite, ftpShareDenyRead,
                            ftpShareDenyNone}) {
        c.SetShareMode(m);
        EXPECT_EQ(c.ShareMode(), m);
    }
    c.SetShareMode(TFtpShareMode(9));
    EXPECT_EQ(c.ShareMode(), ftpShareExclusive);
    c.SetBinary(false);
    EXPECT_EQ(c.TransferType(), 'A');
    c.SetConnectionType(ftpSocks5);
    c.SetPassive(false);
    EXPECT_TRUE(c.Passive());
    EXPECT_EQ(c.ControlSocket()->SocksLevel(), "5");
    EXPECT_EQ(c.DataSocket()->SocksAuthentication(), socksAuthenticateUsercode);
    c.SetConnectionType(TFtpConnectionType(77));
    EXPECT_EQ(c.ConnectionType(), ftpDirect);
    c.SetPassive(false);
    EXPECT_FALSE(c.Passive());
}

TEST(FtpClientProperties, ConnectionTypeIsFixedWhileConnected) {
    Session s;
    ASSERT_TRUE(s.r.Client.Connect());
    s.r.Client.SetConnectionType(ftpProxy);
    EXPECT_EQ(s.r.Client.ConnectionType(), ftpDirect);
    EXPECT_EQ(s.r.Errors, std::vector<std::string>{"FTP component connected"});
}

} // namespace

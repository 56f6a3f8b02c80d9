// TLS on the socket against stunnel with the test certificates, and against
// scripted peers that do not speak TLS or stop halfway.
#include "Loopback.h"
#include "ScriptedTcpServer.h"
#include "SocketTestUtil.h"
#include "TestCertificates.h"
#include "TlsFront.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using Server = ScriptedTcpServer;

namespace {

// What one TLS connection did, as the socket reported it.
struct TlsRun {
    std::vector<std::string> events;
    std::string received;
    TSslCertProblem problem;
    std::string errorText;
    bool finished = false;
};

// Connects with TLS, sends "ping\r\n" once connected and reads until the
// peer closes.
TlsRun RunTls(uint16_t port, const std::string& host, const std::string& trusted = {}) {
    TlsRun run;
    TWSocket s;
    s.SetSslEnable(true);
    s.SetSslHostName(host);
    s.SetSslTrustedFingerprint(trusted);
    s.OnSslHandshakeDone = [&](TCustomWSocket*, uint16_t e) {
        run.events.push_back("handshake " + std::to_string(e));
    };
    s.OnSessionConnected = [&](TCustomWSocket*, uint16_t e) {
        run.events.push_back("connected " + std::to_string(e));
        if (e == 0) s.SendStr("ping\r\n");
    };
    s.OnDataAvailable = [&](TCustomWSocket*, uint16_t) {
        char buf[7];
        for (int n; (n = s.Receive(buf, sizeof buf)) > 0;) run.received.append(buf, size_t(n));
    };
    s.OnSessionClosed = [&](TCustomWSocket*, uint16_t e) {
        run.events.push_back("closed " + std::to_string(e));
        run.finished = true;
    };
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(port));
    s.Connect();
    EXPECT_TRUE(PumpUntil([&] { return run.finished; }, 10000));
    run.problem = s.SslCertProblem();
    run.errorText = s.SslErrorText();
    return run;
}

class TlsSocket : public ::testing::Test {
protected:
    void SetUp() override {
        if (!TlsFront::Available()) GTEST_SKIP() << "stunnel4 is not installed";
        if (!Certs().Ready()) GTEST_SKIP() << Certs().Error();
    }
    static const TestCertificates& Certs() { return TestCertificates::Get(); }
};

} // namespace

TEST_F(TlsSocket, TrustedServerCarriesDataBothWaysAfterTheHandshake) {
    for (const std::string host : {"127.0.0.1", "localhost"}) {
        Server backend({Server::Send("hello over tls\r\n"), Server::Read(6), Server::Close()});
        TlsFront front(backend.Port(), Certs().Server.Cert, Certs().Server.Key);
        ASSERT_TRUE(front.Running()) << front.Error();
        const TlsRun run = RunTls(front.Port(), host);
        EXPECT_EQ(run.events, (std::vector<std::string>{"handshake 0", "connected 0", "closed 0"}))
            << host;
        EXPECT_EQ(run.received, "hello over tls\r\n");
        EXPECT_TRUE(backend.WaitDone(5000));
        EXPECT_EQ(backend.Received(), "ping\r\n");
        EXPECT_TRUE(run.problem.Reasons.empty());
        EXPECT_EQ(run.problem.Fingerprint, TestCertificates::FingerprintOf(Certs().Server.Cert));
    }
}

TEST_F(TlsSocket, RefusedCertificatesSayWhatIsWrongAndSendNothing) {
    struct Case {
        const char* name;
        TestCertificate cert;
        const char* reason;
    };
    const Case cases[] = {
        {"wrong name", Certs().WrongName, "name mismatch"},
        {"expired", Certs().Expired, "expired"},
        {"unknown issuer", Certs().Rogue, "unknown issuer"},
    };
    for (const Case& c : cases) {
        Server backend({Server::Send("secret banner\r\n"), Server::ReadUntilClose()});
        TlsFront front(backend.Port(), c.cert.Cert, c.cert.Key);
        ASSERT_TRUE(front.Running()) << front.Error();
        const TlsRun run = RunTls(front.Port(), "localhost");
        const std::string code = std::to_string(SslErrorCertificate);
        EXPECT_EQ(run.events,
                  (std::vector<std::string>{"handshake " + code, "connected " + code, "closed 0"}))
            << c.name;
        EXPECT_EQ(run.received, "") << c.name;
        EXPECT_NE(std::find(run.problem.Reasons.begin(), run.problem.Reasons.end(), c.reason),
                  run.problem.Reasons.end())
            << c.name << ": " << run.problem.Text();
        const std::string fingerprint = TestCertificates::FingerprintOf(c.cert.Cert);
        EXPECT_EQ(run.problem.Fingerprint, fingerprint);
        const std::string text = run.problem.Text();
        EXPECT_NE(text.find("The certificate of localhost is not trusted"), std::string::npos);
        EXPECT_NE(text.find(c.reason), std::string::npos) << text;
        EXPECT_NE(text.find(fingerprint), std::string::npos) << text;
        EXPECT_NE(text.find(run.problem.Subject), std::string::npos);
        EXPECT_NE(run.problem.Subject.find("CN"), std::string::npos) << run.problem.Subject;
        if (backend.WaitDone(5000)) {
            EXPECT_EQ(backend.Received(), "") << c.name;
        }
    }
}

TEST_F(TlsSocket, TrustedFingerprintAcceptsThatCertificateOnly) {
    Server backend({Server::Send("hi\r\n"), Server::Read(6), Server::Close()});
    TlsFront front(backend.Port(), Certs().Rogue.Cert, Certs().Rogue.Key);
    ASSERT_TRUE(front.Running()) << front.Error();
    const std::string rogue = TestCertificates::FingerprintOf(Certs().Rogue.Cert);
    const TlsRun accepted = RunTls(front.Port(), "localhost", rogue);
    EXPECT_EQ(accepted.events[0], "handshake 0");
    EXPECT_EQ(accepted.received, "hi\r\n");

    // Another certificate in its place is refused again, with its own fingerprint.
    Server other({Server::Send("hi\r\n"), Server::ReadUntilClose()});
    TlsFront changed(other.Port(), Certs().Expired.Cert, Certs().Expired.Key);
    ASSERT_TRUE(changed.Running()) << changed.Error();
    const TlsRun refused = RunTls(changed.Port(), "localhost", rogue);
    EXPECT_EQ(refused.events[0], "handshake " + std::to_string(SslErrorCertificate));
    EXPECT_EQ(refused.problem.Fingerprint, TestCertificates::FingerprintOf(Certs().Expired.Cert));
    EXPECT_EQ(refused.received, "");
}

TEST_F(TlsSocket, PeersThatDoNotFinishTheHandshakeFailIt) {
    const std::vector<std::vector<Server::Step>> scripts = {
        {Server::Send("220 plain FTP server\r\n"), Server::ReadUntilClose()},
        {Server::Read(10), Server::Close()},
        {Server::Read(10), Server::Reset()},
    };
    for (const auto& script : scripts) {
        Server peer(script);
        const TlsRun run = RunTls(peer.Port(), "127.0.0.1");
        const std::string code = std::to_string(SslErrorHandshake);
        ASSERT_GE(run.events.size(), 2u);
        EXPECT_EQ(run.events[0], "handshake " + code);
        EXPECT_EQ(run.events[1], "connected " + code);
        EXPECT_FALSE(run.errorText.empty());
        EXPECT_EQ(run.received, "");
        EXPECT_TRUE(run.problem.Reasons.empty());
    }
}

namespace {

// `openssl s_server` for one client, sending what is written to Input().
// Kill() ends it the hard way: the connection closes with no TLS close.
class OpenSslServer {
public:
    OpenSslServer(const TestCertificate& cert) : Port(UnusedLoopbackPort()) {
        int fds[2];
        if (pipe(fds) != 0) return;
        const std::string accept = "127.0.0.1:" + std::to_string(Port);
        Pid = fork();
        if (Pid == 0) {
            dup2(fds[0], 0);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            execlp("openssl", "openssl", "s_server", "-quiet", "-naccept", "2", "-accept",
                   accept.c_str(), "-cert", cert.Cert.c_str(), "-key", cert.Key.c_str(),
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[0]);
        In = fds[1];
        for (int i = 0; i < 100; ++i) {
            if (const int fd = ConnectToLoopback(Port); fd >= 0) {
                close(fd); // this probe takes the first of its two connections
                return;
            }
            usleep(50000);
        }
    }
    ~OpenSslServer() {
        if (In >= 0) close(In);
        Kill();
    }
    void Send(const std::string& text) const {
        if (write(In, text.data(), text.size()) < 0) ADD_FAILURE() << "pipe to s_server";
    }
    void Kill() {
        if (Pid <= 0) return;
        kill(Pid, SIGKILL);
        waitpid(Pid, nullptr, 0);
        Pid = -1;
    }
    const uint16_t Port;

private:
    pid_t Pid = -1;
    int In = -1;
};

} // namespace

TEST_F(TlsSocket, StrictCloseTellsAPeerCutFromATlsClose) {
    for (const bool strict : {true, false}) {
        OpenSslServer server(Certs().Server);
        TWSocket s;
        s.SetSslEnable(true);
        s.SetSslStrictClose(strict);
        std::string received;
        int closed = -1;
        s.OnDataAvailable = [&](TCustomWSocket*, uint16_t) {
            char buf[64];
            for (int n; (n = s.Receive(buf, sizeof buf)) > 0;) received.append(buf, size_t(n));
        };
        s.OnSessionClosed = [&](TCustomWSocket*, uint16_t e) { closed = e; };
        s.SetAddr("127.0.0.1");
        s.SetPort(std::to_string(server.Port));
        s.Connect();
        ASSERT_TRUE(PumpUntil([&] { return s.SslState() == sslEstablished; }));
        server.Send("part of a file\n");
        ASSERT_TRUE(PumpUntil([&] { return received == "part of a file\n"; }));
        server.Kill();
        ASSERT_TRUE(PumpUntil([&] { return closed >= 0; }));
        EXPECT_EQ(closed, strict ? SslErrorTruncated : 0);
        EXPECT_FALSE(s.SslCloseNotified());
    }
    // An orderly end: stunnel passes its backend's close on as a TLS close.
    Server backend({Server::Send("whole\r\n"), Server::Close()});
    TlsFront front(backend.Port(), Certs().Server.Cert, Certs().Server.Key);
    ASSERT_TRUE(front.Running()) << front.Error();
    TWSocket s;
    s.SetSslEnable(true);
    s.SetSslStrictClose(true);
    int closed = -1;
    s.OnDataAvailable = [&](TCustomWSocket*, uint16_t) {
        char buf[64];
        while (s.Receive(buf, sizeof buf) > 0) {
        }
    };
    s.OnSessionClosed = [&](TCustomWSocket*, uint16_t e) { closed = e; };
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(front.Port()));
    s.Connect();
    ASSERT_TRUE(PumpUntil([&] { return closed >= 0; }, 10000));
    EXPECT_EQ(closed, 0);
}

TEST(TlsSocketSettings, OffByDefaultAndFixedWhileOpen) {
    TWSocket s;
    EXPECT_FALSE(s.SslEnable());
    EXPECT_EQ(s.SslState(), sslOff);
    EXPECT_EQ(RaisedText([&] { s.StartSslHandshake(); }),
              "StartSslHandshake: socket not connected");
    Server peer({Server::ReadUntilClose()});
    s.SetAddr("127.0.0.1");
    s.SetPort(peer.PortText());
    s.Connect();
    ASSERT_TRUE(PumpUntil([&] { return s.State() == wsConnected; }));
    EXPECT_EQ(RaisedText([&] { s.SetSslEnable(true); }), "Cannot change SslEnable if not closed");
    EXPECT_FALSE(s.SslActive());
}

TEST_F(TlsSocket, LargeAndSmallSendsArriveWholeAndInOrder) {
    // Lines, a body of megabytes handed over at once, more lines: the peer
    // reads exactly those bytes, whichever way each went into records.
    Server backend({Server::ReadUntilClose()});
    TlsFront front(backend.Port(), Certs().Server.Cert, Certs().Server.Key);
    ASSERT_TRUE(front.Running()) << front.Error();
    std::string body(1400000, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = char('a' + (i * 7 + i / 251) % 26);
    TWSocket s;
    s.SetSslEnable(true);
    s.SetSslHostName("localhost");
    std::string sent;
    auto send = [&](const std::string& bytes) {
        sent += bytes;
        s.Send(bytes.data(), int(bytes.size()));
    };
    bool closed = false;
    s.OnSessionConnected = [&](TCustomWSocket*, uint16_t e) {
        ASSERT_EQ(e, 0);
        send("POST /x HTTP/1.0\r\n");
        send(std::string(3000, 'h') + "\r\n\r\n");
        send(body);
        send("\r\n");
        s.OnDataSent = [](TCustomWSocket* x, uint16_t) { x->CloseLater(); };
    };
    s.OnSessionClosed = [&](TCustomWSocket*, uint16_t) { closed = true; };
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(front.Port()));
    s.Connect();
    ASSERT_TRUE(PumpUntil([&] { return closed; }, 20000));
    ASSERT_TRUE(backend.WaitDone(10000));
    EXPECT_EQ(backend.Received().size(), sent.size());
    EXPECT_TRUE(backend.Received() == sent);
}

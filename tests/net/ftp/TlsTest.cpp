// FTP over TLS: vsftpd and pyftpdlib with the test certificates (explicit
// and implicit, passive and active, vsftpd's default demand that data
// connections resume the control session), and scripted servers that refuse
// or cut TLS.
#include "FileContents.h"
#include "FtpPeers.h"
#include "FtpTestUtil.h"
#include "TestCertificates.h"

#include <algorithm>
#include <memory>

namespace {

bool Sent(const FtpClientRecorder& r, const std::string& command) {
    return r.TraceHas("> " + command);
}

class FtpOverTls : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Certs().Ready()) GTEST_SKIP() << Certs().Error();
    }
    static const TestCertificates& Certs() { return TestCertificates::Get(); }
    static void Aim(FtpClientRecorder& r, const FtpPeer& peer, TFtpEncryption encryption) {
        r.Client.SetTimeoutMs(15000);
        r.Client.SetEncryption(encryption);
        r.Client.SetPort(std::to_string(peer.Port()));
        r.Client.SetUserName(peer.User());
        r.Client.SetPassWord(peer.Password());
    }
};

} // namespace

TEST_F(FtpOverTls, RealServersTakeUploadsByteForBytePassiveAndActive) {
    struct Case {
        const char* server;
        FtpTls tls;
    };
    const Case cases[] = {
        {"vsftpd", FtpTls::Explicit},
        {"vsftpd", FtpTls::Implicit},
        {"pyftpdlib", FtpTls::Explicit},
    };
    TempDirScope dir;
    int served = 0;
    for (const Case& c : cases) {
        const bool py = std::string(c.server) == "pyftpdlib";
        if (!(py ? PyFtpdServer::Available(c.tls) : VsftpdServer::Available())) continue;
        const std::unique_ptr<FtpPeer> peer =
            py ? std::unique_ptr<FtpPeer>(
                     std::make_unique<PyFtpdServer>(c.tls, Certs().Server.Cert, Certs().Server.Key))
               : std::make_unique<VsftpdServer>(c.tls, Certs().Server.Cert, Certs().Server.Key);
        ASSERT_TRUE(peer->Running()) << peer->Error();
        ++served;
        const bool explicitTls = c.tls == FtpTls::Explicit;
        for (const bool passive : {true, false}) {
            for (const size_t size : {size_t(0), size_t(1000), size_t(1) << 20}) {
                SCOPED_TRACE(std::string(c.server) + (explicitTls ? " explicit" : " implicit") +
                             (passive ? " passive " : " active ") + std::to_string(size));
                FtpClientRecorder r;
                Aim(r, *peer, explicitTls ? ftpEncExplicit : ftpEncImplicit);
                r.Client.SetPassive(passive);
                const std::string content = Bytes(size, unsigned(size % 251));
                const std::string file =
                    std::string(passive ? "p" : "a") + std::to_string(size) + ".bin";
                r.Client.SetLocalFileName(WriteFile(dir, file, content));
                r.Client.SetHostFileName(file);
                ASSERT_TRUE(r.Client.Connect()) << r.Client.LastResponse();
                ASSERT_TRUE(r.Client.TypeSet()) << r.Client.LastResponse();
                // vsftpd's own log tells a hang on its side from one on ours.
                const auto* vs = dynamic_cast<const VsftpdServer*>(peer.get());
                ASSERT_TRUE(r.Client.Put()) << r.Client.LastResponse() << "\n"
                                            << ::testing::PrintToString(r.Trace) << "\n"
                                            << (vs ? vs->Log() : std::string());
                EXPECT_TRUE(r.Client.Quit()) << r.Client.LastResponse();
                EXPECT_TRUE(ReadFileText(peer->Root() + "/" + file) == content);
                EXPECT_EQ(Sent(r, "AUTH TLS"), explicitTls);
                EXPECT_TRUE(Sent(r, "PBSZ 0") && Sent(r, "PROT P"));
                EXPECT_TRUE(r.Errors.empty());
            }
        }
    }
    if (served == 0) GTEST_SKIP() << "neither vsftpd (as root) nor pyftpdlib with TLS is installed";
}

TEST_F(FtpOverTls, DataConnectionCutWithoutATlsCloseFailsDespiteThe226) {
    if (!CuttingTlsFtpServer::Available()) GTEST_SKIP() << "python3 is not installed";
    // Far more than the socket buffers hold: an upload is still going
    // when the server cuts it.
    constexpr size_t size = 4 << 20;
    const std::string payload = Bytes(size, 0);
    TempDirScope dir;
    // Whole, the same server and client agree on every byte: the cut alone
    // makes the difference.
    for (const bool cut : {false, true}) {
        SCOPED_TRACE(cut ? "cut" : "whole");
        CuttingTlsFtpServer peer(cut, size, Certs().Server.Cert, Certs().Server.Key);
        ASSERT_TRUE(peer.Running()) << peer.Error();
        FtpClientRecorder r;
        Aim(r, peer, ftpEncExplicit);
        r.Client.SetPassive(true);
        ASSERT_TRUE(r.Client.Connect()) << r.Client.LastResponse();

        const std::string got = dir.File(cut ? "cut.bin" : "whole.bin");
        r.Client.SetLocalFileName(got);
        r.Client.SetHostFileName("down.bin");
        EXPECT_EQ(r.Client.Get(), !cut) << r.Client.LastResponse();
        EXPECT_EQ(r.TraceCount("< 226 Transfer complete"), 1);
        const std::string received = ReadFileText(got);
        if (cut) {
            EXPECT_EQ(r.Client.LastResponse().rfind("426 ", 0), 0u) << r.Client.LastResponse();
            EXPECT_EQ(r.Client.ErrorMessage(), r.Client.LastResponse());
            EXPECT_LT(received.size(), size);
        } else {
            EXPECT_TRUE(received == payload);
        }

        r.Client.SetLocalFileName(WriteFile(dir, "up.bin", payload));
        r.Client.SetHostFileName("up.bin");
        EXPECT_EQ(r.Client.Put(), !cut) << r.Client.LastResponse();
        EXPECT_EQ(r.TraceCount("< 226 Transfer complete"), 2);
        const std::string stored = ReadFileText(peer.Root() + "/up.bin");
        if (cut) {
            EXPECT_EQ(r.Client.LastResponse().rfind("426 ", 0), 0u) << r.Client.LastResponse();
            EXPECT_LT(stored.size(), size);
        } else {
            EXPECT_TRUE(stored == payload);
        }
        EXPECT_TRUE(r.Client.Quit()) << r.Client.LastResponse();
    }
}

TEST_F(FtpOverTls, RefusedCertificateStopsBeforeTheLoginUntilItIsTrusted) {
    if (!VsftpdServer::Available()) GTEST_SKIP() << "vsftpd is not installed or needs root";
    struct Case {
        FtpTls tls;
        TestCertificate cert;
        const char* reason;
    };
    const Case cases[] = {
        {FtpTls::Explicit, Certs().WrongName, "name mismatch"},
        {FtpTls::Implicit, Certs().Expired, "expired"},
        {FtpTls::Explicit, Certs().Rogue, "unknown issuer"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        VsftpdServer peer(c.tls, c.cert.Cert, c.cert.Key);
        ASSERT_TRUE(peer.Running()) << peer.Error();
        const TFtpEncryption encryption =
            c.tls == FtpTls::Explicit ? ftpEncExplicit : ftpEncImplicit;
        FtpClientRecorder refused;
        Aim(refused, peer, encryption);
        EXPECT_FALSE(refused.Client.Connect());
        const std::string line = refused.Client.LastResponse();
        EXPECT_EQ(line.rfind("500 The certificate of 127.0.0.1 is not trusted (", 0), 0u) << line;
        EXPECT_NE(line.find(c.reason), std::string::npos) << line;
        const std::string fingerprint = TestCertificates::FingerprintOf(c.cert.Cert);
        EXPECT_NE(line.find(fingerprint), std::string::npos) << line;
        EXPECT_EQ(line.find('\n'), std::string::npos) << "one reply line";
        EXPECT_EQ(refused.Client.ErrorMessage(), line);
        EXPECT_TRUE(refused.Client.CertProblem().Refused());
        EXPECT_EQ(refused.Client.CertProblem().Fingerprint, fingerprint);
        EXPECT_FALSE(Sent(refused, "USER") || Sent(refused, "PASS"));
        EXPECT_FALSE(refused.Client.Connected());

        // Trusted, the data connection (same certificate) carries the file too.
        TempDirScope dir;
        FtpClientRecorder trusted;
        Aim(trusted, peer, encryption);
        trusted.Client.SetTrustedFingerprint(fingerprint);
        trusted.Client.SetPassive(true);
        trusted.Client.SetLocalFileName(WriteFile(dir, "t.bin", "trusted bytes"));
        trusted.Client.SetHostFileName("t.bin");
        EXPECT_TRUE(trusted.Client.Connect()) << trusted.Client.LastResponse();
        EXPECT_TRUE(trusted.Client.Put()) << trusted.Client.LastResponse();
        EXPECT_TRUE(trusted.Client.Quit()) << trusted.Client.LastResponse();
        EXPECT_FALSE(trusted.Client.CertProblem().Refused());
        EXPECT_EQ(ReadFileText(peer.Root() + "/t.bin"), "trusted bytes");
    }
}

TEST_F(FtpOverTls, ServerWithoutTlsGetsNothingButAuthTls) {
    struct Case {
        ScriptedFtpServer::Rule auth;
        std::string line;
    };
    const Case cases[] = {
        {{"500 AUTH not understood\r\n"}, "500 AUTH not understood"},
        {{"534 Policy requires plain text\r\n"}, "534 Policy requires plain text"},
        // Agrees, then drops the connection halfway into the handshake.
        {{"234 Go ahead\r\n", true}, "500 TLS handshake failed"},
    };
    for (const Case& c : cases) {
        ScriptedFtpServer server;
        server.On("AUTH", c.auth);
        FtpClientRecorder r;
        r.Target(server);
        r.Client.SetEncryption(ftpEncExplicit);
        EXPECT_FALSE(r.Client.Connect());
        EXPECT_EQ(r.Client.LastResponse().rfind(c.line, 0), 0u) << r.Client.LastResponse();
        EXPECT_EQ(r.Client.ErrorMessage().rfind(c.line, 0), 0u);
        EXPECT_TRUE(server.WaitClosed(5000));
        EXPECT_EQ(server.Commands(), std::vector<std::string>{"AUTH TLS"}) << c.line;
        EXPECT_FALSE(r.Client.Connected());
    }
}

TEST_F(FtpOverTls, PlainClientMeetsAnImplicitServerAndTimesOut) {
    if (!VsftpdServer::Available()) GTEST_SKIP() << "vsftpd is not installed or needs root";
    VsftpdServer peer(FtpTls::Implicit, Certs().Server.Cert, Certs().Server.Key);
    ASSERT_TRUE(peer.Running()) << peer.Error();
    FtpClientRecorder r;
    Aim(r, peer, ftpEncNone);
    r.Client.SetTimeoutMs(500);
    EXPECT_FALSE(r.Client.Connect());
    EXPECT_EQ(r.Client.ErrorMessage().rfind("426 Timeout: ", 0), 0u) << r.Client.ErrorMessage();
    EXPECT_FALSE(Sent(r, "USER"));
}

TEST(FtpTlsSettings, ImplicitTlsTakesPort990ForAPortLeftAt21) {
    for (const char* port : {"21", "ftp", "2121"}) {
        FtpClientRecorder r;
        r.Client.SetEncryption(ftpEncImplicit);
        r.Client.SetPort(port);
        r.Client.SetTimeoutMs(300);
        r.Client.Open();
        const std::string expected = std::string(port) == "2121" ? "2121" : "990";
        EXPECT_EQ(r.Client.ControlSocket()->Port(), expected) << port;
    }
    FtpClientRecorder plain;
    plain.Client.SetPort("21");
    plain.Client.SetTimeoutMs(300);
    plain.Client.Open();
    EXPECT_EQ(plain.Client.ControlSocket()->Port(), "21");
}

// Someone on the path puts clear text right behind the server's 234: none of
// it may pass for a reply of the encrypted session, whether it holds whole
// lines or the start of one.
TEST_F(FtpOverTls, ClearTextBehindThe234EndsTheSession) {
    if (!CuttingTlsFtpServer::Available()) GTEST_SKIP() << "python3 is not installed";
    for (const std::string injected : {"230 INJECTED", "230 INJECTED\r\n331 x\r\n"}) {
        SCOPED_TRACE(injected);
        CuttingTlsFtpServer peer(false, 0, Certs().Server.Cert, Certs().Server.Key, injected);
        ASSERT_TRUE(peer.Running()) << peer.Error();
        FtpClientRecorder r;
        Aim(r, peer, ftpEncExplicit);
        EXPECT_FALSE(r.Client.Connect());
        EXPECT_EQ(r.Client.LastResponse(),
                  "500 The server sent more in clear after agreeing to TLS: the session was ended");
        EXPECT_TRUE(r.Errors.empty()) << testing::PrintToString(r.Errors);
        EXPECT_FALSE(Sent(r, "USER"));
        EXPECT_FALSE(r.Client.Connected());
    }
}

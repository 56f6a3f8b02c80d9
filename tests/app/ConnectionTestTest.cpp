// Configure's connection test against real servers: pyftpdlib with PHP's web
// server in front of its directory (right and wrong URL prefixes, a wrong
// password), vsftpd without passive mode and with TLS, and the shipped
// upload script with a right and a wrong key.
#include "ConnectionTest.h"
#include "FtpPeers.h"
#include "PhpWebServer.h"
#include "ScriptedDialogs.h"
#include "ScriptedTcpServer.h"
#include "TempDirScope.h"
#include "TestCertificates.h"
#include "UploadSite.h"

#include <gtest/gtest.h>

#include <QTimer>

#include <filesystem>

namespace {

struct Outcome {
    bool passed = false;
    std::vector<std::string> lines;

    bool Has(const std::string& part) const {
        for (const std::string& line : lines)
            if (line.find(part) != std::string::npos) return true;
        return false;
    }
    std::string Text() const {
        std::string text;
        for (const std::string& line : lines) text += line + "\n";
        return text;
    }
};

Outcome Check(const configRecord& settings, bool trust = false, int timeoutSeconds = 10) {
    TConnectionTest test(settings);
    test.TimeoutSeconds = timeoutSeconds;
    Outcome o;
    test.OnLog = [&o](const std::string& line) { o.lines.push_back(line); };
    test.OnUntrustedCertificate = [trust](const TSslCertProblem& p, std::string& trusted) {
        trusted = p.Fingerprint;
        return trust;
    };
    o.passed = test.Run();
    return o;
}

configRecord FtpSettings(const FtpPeer& server) {
    configRecord s;
    s.transferType = settings::TransferFtp;
    s.hostName = server.Host();
    s.port = std::to_string(server.Port());
    s.userName = server.User();
    s.password = server.Password();
    s.destDirectory = "captures";
    s.passive = true;
    // Nothing listens there: the fetch fails at once where it is not the point.
    s.hostPrefix = "http://127.0.0.1:1/";
    return s;
}

size_t FilesIn(const std::string& dir) {
    std::error_code e;
    size_t n = 0;
    for (std::filesystem::directory_iterator it(dir, e), end; !e && it != end; it.increment(e)) ++n;
    return n;
}

} // namespace

TEST(ConnectionTestFtp, TheProbeIsFetchedAtTheUrlPrefixAndRemoved) {
    if (!PyFtpdServer::Available()) GTEST_SKIP() << "python3-pyftpdlib is not installed";
    if (!PhpWebServer::Available()) GTEST_SKIP() << "php is not installed";
    TempDirScope tmp;
    PyFtpdServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    const std::string web = "127.0.0.1:" + std::to_string(UnusedLoopbackPort());
    PhpWebServer site(server.Root(), uint16_t(std::stoi(web.substr(10))));
    ASSERT_TRUE(site.Running()) << site.Error();
    struct Case {
        std::string prefix, password;
        bool passes;
        std::string line;
    };
    const Case cases[] = {
        {"http://" + web + "/captures/", server.Password(), true,
         "The test picture is there: the URL prefix is right."},
        {"http://" + web + "/elsewhere/", server.Password(), false,
         "The web server does not have the test picture at this address (HTTP/1.0 404 Not Found)"},
        {web + "/captures", server.Password(), false,
         "With \"/\" at the end of the URL prefix the test picture is found: make it " + web +
             "/captures/"},
        {"http://" + web + "/captures/", "not-the-password", false,
         "The server refused the login (530"},
        {"", server.Password(), false, "The URL prefix is empty"},
    };
    for (const Case& c : cases) {
        configRecord s = FtpSettings(server);
        s.hostPrefix = c.prefix;
        s.password = c.password;
        const Outcome o = Check(s);
        EXPECT_EQ(o.passed, c.passes) << o.Text();
        EXPECT_TRUE(o.Has(c.line)) << o.Text();
        EXPECT_FALSE(o.Has(c.password)) << o.Text();
        EXPECT_EQ(FilesIn(server.Root() + "/captures"), 0u) << "the probe is deleted";
        EXPECT_EQ(FilesIn(tmp.Path()), 0u) << "and its local copy";
    }
}

TEST(ConnectionTestFtp, AFailedPassiveUploadSaysThatActiveWorks) {
    if (!VsftpdServer::Available()) GTEST_SKIP() << "vsftpd cannot run here";
    TempDirScope tmp;
    VsftpdServer server(FtpTls::None, {}, {}, "pasv_enable=NO\n");
    ASSERT_TRUE(server.Running()) << server.Error();
    const Outcome o = Check(FtpSettings(server));
    EXPECT_FALSE(o.passed);
    EXPECT_TRUE(o.Has("Uploading works with passive transfer No: choose \"No\" under Passive "
                      "transfer."))
        << o.Text();
    EXPECT_TRUE(o.Has("Deleted the test picture from the server.")) << o.Text();
    EXPECT_EQ(FilesIn(server.Root() + "/captures"), 0u);
}

TEST(ConnectionTestFtp, EncryptionIsSuggestedUsedAndItsCertificateTrusted) {
    const TestCertificates& certs = TestCertificates::Get();
    if (!certs.Ready()) GTEST_SKIP() << certs.Error();
    if (!VsftpdServer::Available()) GTEST_SKIP() << "vsftpd cannot run here";
    TempDirScope tmp;
    struct Case {
        const TestCertificate* cert;
        int encryption;
        bool trust;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {&certs.Server,
         0,
         false,
         {"The server offers encryption (AUTH TLS): choose Explicit TLS",
          "The server refused the login (530 Non-anonymous sessions must use encryption.): if it "
          "insists on encryption, choose Explicit TLS"}},
        {&certs.Server,
         1,
         false,
         {"The connection is encrypted (TLS).", "Uploaded the test picture."}},
        {&certs.Rogue,
         1,
         true,
         {"The server's certificate was refused:", "The connection is encrypted (TLS).",
          "Uploaded the test picture."}},
        {&certs.Rogue, 1, false, {"The server's certificate was refused:"}},
    };
    for (const Case& c : cases) {
        VsftpdServer server(FtpTls::Explicit, c.cert->Cert, c.cert->Key);
        ASSERT_TRUE(server.Running()) << server.Error();
        configRecord s = FtpSettings(server);
        s.hostName = "localhost";
        s.ftpEncryption = c.encryption;
        const Outcome o = Check(s, c.trust);
        for (const std::string& line : c.lines)
            EXPECT_TRUE(o.Has(line)) << line << "\n" << o.Text();
        EXPECT_EQ(o.Has("Logged in."), c.encryption == 1 && (c.trust || c.cert == &certs.Server))
            << o.Text();
        EXPECT_EQ(FilesIn(server.Root() + "/captures"), 0u);
    }
}

TEST(ConnectionTestFtp, EachConnectFailureGetsItsOwnAdvice) {
    TempDirScope tmp;
    ScriptedTcpServer silent({ScriptedTcpServer::ReadUntilClose()});
    ScriptedTcpServer noTls({ScriptedTcpServer::Send("220 ready\r\n"), ScriptedTcpServer::Read(10),
                             ScriptedTcpServer::Send("500 AUTH not understood\r\n"),
                             ScriptedTcpServer::ReadUntilClose()});
    const uint16_t closed = UnusedLoopbackPort();
    struct Case {
        std::string host;
        uint16_t port;
        int encryption;
        std::string advice;
    };
    const Case cases[] = {
        {"127.0.0.1", silent.Port(), 0, "never greeted. If it expects TLS from the first byte"},
        {"127.0.0.1", noTls.Port(), 1, "did not agree to encrypt the connection"},
        {"127.0.0.1", closed, 0, "Check the server name and port"},
        {"no-such-host.invalid", 21, 0, "Cannot find the server \"no-such-host.invalid\""},
    };
    for (const Case& c : cases) {
        configRecord s;
        s.transferType = settings::TransferFtp;
        s.hostName = c.host;
        s.port = std::to_string(c.port);
        s.userName = "u";
        s.password = "p";
        s.ftpEncryption = c.encryption;
        const Outcome o = Check(s, false, 1);
        EXPECT_FALSE(o.passed);
        EXPECT_TRUE(o.Has(c.advice)) << o.Text();
        EXPECT_FALSE(o.Has("Logging in")) << o.Text();
    }
}

TEST(ConnectionTestHttp, TheUploadScriptChecksTheKeyAndStoresNothing) {
    if (!PhpWebServer::Available()) GTEST_SKIP() << "php is not installed";
    UploadSite site;
    site.Install();
    site.Put("moved.php", "<?php header('Location: https://example.net/up.php', true, 301);");
    site.Put("old.php", "<?php echo \"Upload refused: the file name must be letters.\\n\";");
    auto web = site.Serve();
    ASSERT_TRUE(web->Running()) << web->Error();
    const std::string wrongKey = "not-the-key-0123456789";
    struct Case {
        std::string url, key;
        bool passes;
        std::string line;
    };
    const Case cases[] = {
        {UploadSite::ScriptUrl, UploadSite::Key, true,
         "The upload script accepted the secret key and can store pictures."},
        {UploadSite::ScriptUrl, wrongKey, false, "The upload script refused the secret key"},
        {"http://127.0.0.1/moved.php", UploadSite::Key, false,
         "sends the posting URL on to https://example.net/up.php"},
        {"http://127.0.0.1/old.php", UploadSite::Key, false,
         "did not confirm the check. If it is an older version, install the brwk_upload.php "
         "that comes with Brindlewick. The answer was: Upload refused: the file name must be "
         "letters."},
        {"http://127.0.0.1/missing.php", UploadSite::Key, false,
         "Uploading script not found, server returned 404."},
    };
    for (const Case& c : cases) {
        configRecord s;
        s.transferType = settings::TransferHttp;
        s.postUrl = c.url;
        s.postServer = "http://127.0.0.1/captures/";
        s.secretKey = c.key;
        const Outcome o = Check(s);
        EXPECT_EQ(o.passed, c.passes) << o.Text();
        EXPECT_TRUE(o.Has(c.line)) << o.Text();
        EXPECT_FALSE(o.Has(c.key)) << o.Text();
        EXPECT_TRUE(site.UploadedFiles().isEmpty()) << site.UploadedFiles().join(" ").toStdString();
    }
    QDir(QString::fromStdString(site.Uploads())).removeRecursively();
    configRecord s;
    s.transferType = settings::TransferHttp;
    s.postUrl = UploadSite::ScriptUrl;
    s.secretKey = UploadSite::Key;
    const Outcome o = Check(s);
    EXPECT_FALSE(o.passed);
    EXPECT_TRUE(o.Has("The upload script accepted the secret key, but cannot store pictures: "
                      "Upload failed: the upload directory is missing or not writable."))
        << o.Text();
}

TEST(ConnectionTestWindow, CancelStopsAConnectionUnderWayAndTheLogSaysSo) {
    ScriptedDialogsScope dialogs;
    // Takes the connection and never greets: only Cancel ends the wait early.
    ScriptedTcpServer silent({ScriptedTcpServer::ReadUntilClose()});
    configRecord s;
    s.transferType = settings::TransferFtp;
    s.hostName = "127.0.0.1";
    s.port = std::to_string(silent.Port());
    s.userName = "u";
    s.password = "p";
    dialogs->whileLog = [](ScriptedDialogs::Log& log, const std::string& line) {
        if (line.find("connecting") != std::string::npos)
            QTimer::singleShot(200, [&log] { log.Cancel(); });
    };
    EXPECT_FALSE(RunConnectionTest(s));
    EXPECT_EQ(dialogs->logCaptions, (std::vector<std::string>{"Test FTP publishing"}));
    ASSERT_FALSE(dialogs->logLines.empty());
    EXPECT_EQ(dialogs->logLines.back(), "Test cancelled.");
    for (const std::string& line : dialogs->logLines)
        EXPECT_EQ(line.find("no answer"), std::string::npos) << line;
    EXPECT_EQ(dialogs->logsFinished, 1);
}

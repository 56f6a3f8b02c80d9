// Publishing by HTTP POST: the publisher with scripted dialogs against the
// real upload script under PHP's web server on port 80.
#include "HistoryStore.h"
#include "HttpUpload.h"
#include "Loopback.h"
#include "ProcessMemory.h"
#include "PublishFixture.h"
#include "ScriptedHttpServer.h"
#include "SlowLine.h"
#include "TestCertificates.h"
#include "TlsFront.h"
#include "UploadSite.h"
#include "configUnit.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>

#include <arpa/inet.h>
#include <cerrno>
#include <ctime>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char* const NoTransferOk = "HTTP posting failed, didn't receive 'transfer OK' string!";
const std::string Prefix = "http://127.0.0.1/captures/";

struct HttpPublishTest : PublishFixture {
    UploadSite site;

    void SetUp() override {
        PublishFixture::SetUp();
        Configure(UploadSite::ScriptUrl, UploadSite::Key);
    }

    void Configure(const std::string& url, const std::string& key) {
        LoadSettings();
        Settings.transferType = 0;
        Settings.postUrl = url;
        Settings.postServer = Prefix;
        Settings.secretKey = key;
        SaveSettings();
    }
};

struct HttpPublishServedTest : HttpPublishTest {
    std::unique_ptr<PhpWebServer> server;

    void SetUp() override {
        if (!PhpWebServer::Available()) GTEST_SKIP() << "php (php-cli) is not installed";
        HttpPublishTest::SetUp();
        site.Install();
        server = site.Serve();
        ASSERT_TRUE(server->Running()) << server->Error();
    }
};

// A listener on 127.0.0.1:80 that never accepts: the connection completes in
// the kernel's backlog and then nothing is ever said.
class SilentListener {
public:
    SilentListener() {
        if (!PhpWebServer::WaitPortFree(80, 20000)) return;
        Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        setsockopt(Fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a = LoopbackAddress(80);
        if (bind(Fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(Fd, 4) != 0) {
            close(Fd);
            Fd = -1;
        }
    }
    ~SilentListener() {
        if (Fd >= 0) close(Fd);
    }
    bool Listening() const { return Fd >= 0; }
    // Takes the waiting connection and reads it to its end: true when the
    // client closed it (an orderly close or a reset), within a few seconds.
    bool ClientClosed() {
        const int c = accept4(Fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) return false;
        const timeval limit{5, 0};
        setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        char buffer[4096];
        ssize_t n;
        while ((n = recv(c, buffer, sizeof buffer, 0)) > 0) {
        }
        const bool closed = n == 0 || errno == ECONNRESET;
        close(c);
        return closed;
    }

private:
    int Fd = -1;
};

} // namespace

TEST_F(HttpPublishServedTest, StoresTheExportedJpegAndShowsItsUrl) {
    const auto shown = Publish("shot_1.jpg");
    ASSERT_EQ(shown.size(), 1u) << (shown.empty() ? "" : shown[0].text);
    EXPECT_EQ(shown[0].kind, "inputbox");
    EXPECT_EQ(shown[0].caption, "Transfer succeeded!");
    EXPECT_EQ(shown[0].prompt, "URL for capture");
    EXPECT_EQ(shown[0].text, Prefix + "shot_1.jpg");
    const std::string exported = Exported("shot_1.jpg");
    ASSERT_GT(exported.size(), 100u) << "the JPEG stays in the temporary directory";
    EXPECT_EQ(site.Stored("shot_1.jpg"), exported) << "byte-identical on the server";
    EXPECT_EQ(site.UploadedFiles(), QStringList{"shot_1.jpg"});

    THistoryStore history(data.HistoryFile());
    const auto rows = history.List();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Method, "http");
    EXPECT_EQ(rows[0].Name, "shot_1.jpg");
    EXPECT_EQ(rows[0].Url, Prefix + "shot_1.jpg");
    EXPECT_EQ(rows[0].Size, exported.size());
    EXPECT_NEAR(double(rows[0].Time), double(std::time(nullptr)), 60);
    QImage thumbnail;
    EXPECT_TRUE(thumbnail.loadFromData(rows[0].Thumbnail, "JPEG"));
    EXPECT_EQ(thumbnail.size(), QSize(40, 30));
}

TEST_F(HttpPublishServedTest, BrokenHistoryIsToldOnceAndThePublishStands) {
    QDir().mkpath(QString::fromStdString(data.Path() + "/Brindlewick"));
    WriteFileBytes(data.HistoryFile(), std::vector<uint8_t>(2048, 'x'));
    const auto shown = Publish("shot_1.jpg");
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, Prefix + "shot_1.jpg");
    EXPECT_EQ(shown[1].kind, "message");
    EXPECT_NE(shown[1].text.find("history could not be written: "), std::string::npos);
    EXPECT_NE(shown[1].text.find("not a database"), std::string::npos) << shown[1].text;
    EXPECT_EQ(site.UploadedFiles(), QStringList{"shot_1.jpg"});
    EXPECT_EQ(ReadFileBytes(data.HistoryFile()), std::vector<uint8_t>(2048, 'x'));
}

TEST_F(HttpPublishServedTest, WrongKeyIsReportedAndNothingIsStored) {
    Configure(UploadSite::ScriptUrl, "not-the-key");
    EXPECT_EQ(MessagesOf(Publish("shot_2.jpg")),
              (Texts{NoTransferOk, "Authentication failed, secret key incorrect?"}));
    EXPECT_TRUE(site.UploadedFiles().isEmpty());
    EXPECT_FALSE(Exported("shot_2.jpg").empty());
    EXPECT_FALSE(QFile::exists(QString::fromStdString(data.HistoryFile())))
        << "failures are not recorded";
}

TEST_F(HttpPublishServedTest, NameTheScriptRefusesStoresNothing) {
    EXPECT_EQ(MessagesOf(Publish("shot.php")), Texts{NoTransferOk});
    // An "&" splits the form, so the script sees the name "a".
    EXPECT_EQ(MessagesOf(Publish("a&b.jpg")), Texts{NoTransferOk});
    EXPECT_TRUE(site.UploadedFiles().isEmpty());
}

TEST_F(HttpPublishServedTest, MissingScriptIsA404) {
    Configure("http://127.0.0.1/no_such_script.php", UploadSite::Key);
    EXPECT_EQ(MessagesOf(Publish("shot_3.jpg")),
              (Texts{"Uploading script not found, server returned 404.", NoTransferOk}));
}

TEST_F(HttpPublishServedTest, EveryMarkerOfTheReplyIsReportedInOrder) {
    site.Put("all_markers.php",
             "<?php echo 'x ##SIZEDIFF## y<br>##AUTHFAIL##<br>##TRANSFER_OK##';");
    Configure("http://127.0.0.1/all_markers.php", UploadSite::Key);
    EXPECT_EQ(MessagesOf(Publish("shot_4.jpg")),
              (Texts{"inputbox", "Authentication failed, secret key incorrect?",
                     "There was difference in file size, try again."}));
}

TEST_F(HttpPublishServedTest, SizeDifferenceIsReported) {
    // The size the server sees is the script's business: this one always differs.
    site.Put("size_differs.php", "<?php echo '<html><body>##SIZEDIFF##</body></html>';");
    Configure("http://127.0.0.1/size_differs.php", UploadSite::Key);
    EXPECT_EQ(MessagesOf(Publish("shot_5.jpg")),
              (Texts{NoTransferOk, "There was difference in file size, try again."}));
}

TEST_F(HttpPublishTest, PostingUrlWithoutHttpSchemeSendsNothing) {
    for (const char* url : {"HTTPS://127.0.0.1/brwk_upload.php", "HTTP://127.0.0.1/brwk_upload.php",
                            "127.0.0.1/brwk_upload.php"}) {
        Configure(url, UploadSite::Key);
        EXPECT_EQ(MessagesOf(Publish("shot.jpg")),
                  Texts{"Missing http:// start from the posting URL!"})
            << url;
    }
}

TEST_F(HttpPublishTest, PostingUrlWithoutHostPart) {
    for (const char* url : {"http://127.0.0.1", "http:///brwk_upload.php", "http://  /x.php"}) {
        Configure(url, UploadSite::Key);
        EXPECT_EQ(MessagesOf(Publish("shot.jpg")),
                  Texts{"Cannot resolve host name, check that posting url is in format "
                        "http://www.example.com/post.php"})
            << url;
    }
}

// A line break in the posting URL would add lines to the request's head;
// one in the publish URL, to what the user copies.
TEST_F(HttpPublishTest, ControlCharactersInTheUrlsSendNothing) {
    const std::string script = UploadSite::ScriptUrl;
    const struct {
        std::string postUrl;
        std::string publishUrl;
        const char* message;
    } cases[] = {
        {script + "\r\nX-Injected: 1", Prefix, "The posting URL contains a control character"},
        {"http://127.0.0.1/up\tload.php", Prefix, "The posting URL contains a control character"},
        {script, Prefix + "\n", "The publish URL contains a control character"},
    };
    for (const auto& c : cases) {
        Configure(c.postUrl, UploadSite::Key);
        Settings.postServer = c.publishUrl;
        SaveSettings();
        EXPECT_EQ(
            MessagesOf(Publish("shot.jpg")),
            Texts{std::string(c.message) + " (a line break, say): correct it under Configure."});
    }
}

TEST_F(HttpPublishTest, PortInTheUrlMakesTheHostUnresolvable) {
    Configure("http://127.0.0.1:8080/brwk_upload.php", UploadSite::Key);
    EXPECT_EQ(MessagesOf(Publish("shot.jpg")), Texts{"HTTP posting failed!"});
}

TEST_F(HttpPublishTest, RefusedConnection) {
    ASSERT_TRUE(PhpWebServer::WaitPortFree(80, 20000));
    EXPECT_EQ(MessagesOf(Publish("shot.jpg")), Texts{NoTransferOk});
}

TEST_F(HttpPublishTest, StalledServerIsGivenUpAfterTheTimeOut) {
    SilentListener listener;
    ASSERT_TRUE(listener.Listening());
    httpIdleTimeoutMs = 500;
    EXPECT_EQ(MessagesOf(Publish("shot.jpg")), Texts{"HTTP posting failed!"});
}

// Cancel while the server holds the request unanswered: the connection is
// closed at once, only "Publishing cancelled." is shown, and the JPEG stays
// as after any HTTP publish. A cancel that did nothing is ended by the idle
// time-out, after a guard has failed the case.
TEST_F(HttpPublishTest, CancelWhileWaitingForTheAnswer) {
    SilentListener listener;
    ASSERT_TRUE(listener.Listening());
    httpIdleTimeoutMs = 30000;
    bool guardFired = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] { guardFired = true; });
    guard.start(20000);
    dialogs->whileProgress = [&](ScriptedDialogs::Progress& progress) {
        if (dialogs->progressSteps.back() != "Waiting for the answer") return;
        EXPECT_EQ(dialogs->progressSent, dialogs->progressTotal);
        QTimer::singleShot(0, [&progress, this] {
            if (dialogs->progressWindowsOpen > 0) progress.Cancel();
        });
        dialogs->whileProgress = nullptr;
    };
    EXPECT_EQ(MessagesOf(Publish("shot.jpg")), Texts{"Publishing cancelled."});
    EXPECT_FALSE(guardFired) << "the cancel ended the publish";
    EXPECT_EQ(dialogs->progressSteps, (Texts{"Connecting", "Sending", "Waiting for the answer"}));
    EXPECT_GT(dialogs->progressTotal, Exported("shot.jpg").size()) << "the whole request";
    EXPECT_EQ(dialogs->progressWindowsOpen, 0);
    EXPECT_TRUE(listener.ClientClosed()) << "the server sees the connection closed";
}

// Servers whose answer never ends: one that streams without end (with line
// ends and without) and one that drips a byte at a time. The answer is cut
// at its limit or its deadline with a clear message, and memory stays small.
TEST_F(HttpPublishTest, AnswerThatNeverEndsIsCutOff) {
    using Srv = ScriptedHttpServer;
    const std::string tooLong =
        "HTTP posting failed: the answer from 127.0.0.1 went on past 1 MB without ending.";
    const std::string tooSlow = "HTTP posting failed: the answer from 127.0.0.1 did not end*";
    struct Case {
        const char* name;
        Srv::Script script;
        std::string message;
    };
    const Case cases[] = {
        {"stream of lines", {Srv::Answer::Endless, "##TRANSFER_OK## and on and on\r\n"}, tooLong},
        {"stream without line ends", {Srv::Answer::Endless, std::string(4096, 'x')}, tooLong},
        {"drip",
         {Srv::Answer::DripThenNothing, "HTTP/1.0 200 OK\r\n\r\n##TRANSFER_OK##", 0, 0, 100},
         tooSlow},
    };
    httpAnswerDeadlineMs = 600;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(PhpWebServer::WaitPortFree(80, 20000));
        Srv server(80, c.script);
        ASSERT_TRUE(server.Listening());
        const auto shown = Publish("shot.jpg");
        ASSERT_EQ(shown.size(), 1u) << testing::PrintToString(MessagesOf(shown));
        const std::string& text = shown[0].text;
        if (c.message.back() == '*')
            EXPECT_EQ(text.rfind(c.message.substr(0, c.message.size() - 1), 0), 0u) << text;
        else
            EXPECT_EQ(text, c.message);
        EXPECT_LT(shown[0].details.size(), 10000u) << "the details show the answer's start";
        EXPECT_LT(ProcessMemoryMiB("VmHWM:"), MemoryBoundMiB) << "MB at most while the answer came";
    }
}

// The failure boxes carry the server's own words behind "Show Details...";
// a key the script echoed is masked.
TEST_F(HttpPublishServedTest, FailureDetailsHoldTheServerAnswerButNotTheKey) {
    site.Put("refuse.php", "<?php http_response_code(400);\n"
                           "echo 'Names must end in .jpg; you sent key ' . $_POST['key'];\n");
    Configure("http://127.0.0.1/refuse.php", UploadSite::Key);
    const auto shown = Publish("shot.jpg");
    ASSERT_EQ(MessagesOf(shown), Texts{NoTransferOk});
    const std::string& details = shown[0].details;
    EXPECT_NE(details.find("400 Bad Request"), std::string::npos) << details;
    EXPECT_NE(details.find("Names must end in .jpg; you sent key ********"), std::string::npos)
        << details;
    EXPECT_EQ(details.find(UploadSite::Key), std::string::npos) << details;
}

// The published URL goes on the clipboard before the URL box opens, unless
// the settings say otherwise.
TEST_F(HttpPublishServedTest, UrlGoesOnTheClipboardWhereTheSettingsSaySo) {
    for (const bool toClipboard : {true, false}) {
        SCOPED_TRACE(toClipboard);
        LoadSettings();
        Settings.urlToClipboard = toClipboard;
        SaveSettings();
        QGuiApplication::clipboard()->setText("before");
        QString whileShown;
        dialogs->whileOpen = [&](const ScriptedDialogs::Shown&) {
            whileShown = QGuiApplication::clipboard()->text();
        };
        ASSERT_EQ(MessagesOf(Publish("clip.jpg")), Texts{"inputbox"});
        EXPECT_EQ(whileShown.toStdString(), toClipboard ? Prefix + "clip.jpg" : "before");
    }
}

// ---- HTTPS: the same script behind stunnel with the test certificates ------

namespace {

struct HttpsPublishTest : HttpPublishServedTest {
    void SetUp() override {
        if (!TlsFront::Available()) GTEST_SKIP() << "stunnel4 is not installed";
        if (!TestCertificates::Get().Ready()) GTEST_SKIP() << TestCertificates::Get().Error();
        HttpPublishServedTest::SetUp();
    }
    std::unique_ptr<TlsFront> Front(const TestCertificate& cert) {
        auto front = std::make_unique<TlsFront>(80, cert.Cert, cert.Key);
        EXPECT_TRUE(front->Running()) << front->Error();
        return front;
    }
    static std::string Url(const TlsFront& front, const std::string& script) {
        return "https://localhost:" + std::to_string(front.Port()) + "/" + script;
    }
};

} // namespace

TEST_F(HttpsPublishTest, StoresTheJpegAndReportsEveryMarkerOverTls) {
    const auto front = Front(TestCertificates::Get().Server);
    const std::string stored = Publish("secure_1.jpg").at(0).kind;
    EXPECT_EQ(stored, "inputbox");
    EXPECT_EQ(site.Stored("secure_1.jpg"), Exported("secure_1.jpg")) << "byte-identical";

    site.Put("all_markers.php",
             "<?php echo 'x ##SIZEDIFF## y<br>##AUTHFAIL##<br>##TRANSFER_OK##';");
    struct Case {
        std::string url, key;
        Texts messages;
    };
    const Case cases[] = {
        {Url(*front, "brwk_upload.php"),
         "wrong",
         {NoTransferOk, "Authentication failed, secret key incorrect?"}},
        {Url(*front, "missing.php"),
         UploadSite::Key,
         {"Uploading script not found, server returned 404.", NoTransferOk}},
        {Url(*front, "all_markers.php"),
         UploadSite::Key,
         {"inputbox", "Authentication failed, secret key incorrect?",
          "There was difference in file size, try again."}},
    };
    for (const Case& c : cases) {
        Configure(c.url, c.key);
        EXPECT_EQ(MessagesOf(Publish("secure_2.jpg")), c.messages) << c.url;
    }
    EXPECT_EQ(site.UploadedFiles(), QStringList{"secure_1.jpg"});
}

TEST_F(HttpsPublishTest, RefusedCertificateIsExplainedAndCanBeTrustedUntilItChanges) {
    const TestCertificates& certs = TestCertificates::Get();
    const auto rogue = Front(certs.Rogue);
    Configure(Url(*rogue, "brwk_upload.php"), UploadSite::Key);
    const std::string fingerprint = TestCertificates::FingerprintOf(certs.Rogue.Cert);

    // Declined: the designed failure, nothing stored, nothing trusted.
    dialogs->confirmAnswers = {false};
    auto shown = Publish("trust_1.jpg");
    ASSERT_EQ(shown.size(), 2u) << (shown.empty() ? "" : shown[0].kind + ": " + shown[0].text);
    EXPECT_EQ(shown[0].kind, "confirm");
    for (const std::string& part : {std::string("localhost"), std::string("unknown issuer"),
                                    fingerprint, std::string("Subject: CN=localhost")})
        EXPECT_NE(shown[0].text.find(part), std::string::npos) << part << " in " << shown[0].text;
    EXPECT_EQ(shown[1].text, NoTransferOk) << "as for any connection that fails";
    EXPECT_TRUE(site.UploadedFiles().isEmpty());
    EXPECT_EQ(Settings.httpCertFingerprint, "");

    // Accepted: stored in the settings, and the same click publishes.
    dialogs->confirmAnswers = {true};
    shown = Publish("trust_2.jpg");
    EXPECT_EQ(MessagesOf(shown), (Texts{"confirm", "inputbox"}));
    EXPECT_EQ(site.Stored("trust_2.jpg"), Exported("trust_2.jpg"));
    Settings.httpCertFingerprint.clear();
    LoadSettings();
    EXPECT_EQ(Settings.httpCertFingerprint, fingerprint) << "kept for later runs";

    // Trusted now: no question.
    EXPECT_EQ(MessagesOf(Publish("trust_3.jpg")), Texts{"inputbox"});

    // Another certificate on the same address is refused again.
    const auto changed = Front(certs.WrongName);
    Configure(Url(*changed, "brwk_upload.php"), UploadSite::Key);
    Settings.httpCertFingerprint = fingerprint;
    shown = Publish("trust_4.jpg");
    ASSERT_EQ(MessagesOf(shown), (Texts{"confirm", NoTransferOk}));
    EXPECT_NE(shown[0].text.find("name mismatch"), std::string::npos) << shown[0].text;
    EXPECT_NE(shown[0].text.find(TestCertificates::FingerprintOf(certs.WrongName.Cert)),
              std::string::npos);
    EXPECT_FALSE(site.Exists("trust_4.jpg"));
}

TEST_F(HttpsPublishTest, PlainServerAskedForTlsFailsWithTheReason) {
    Configure("https://127.0.0.1:80/brwk_upload.php", UploadSite::Key);
    const Texts messages = MessagesOf(Publish("plain.jpg"));
    ASSERT_EQ(messages.size(), 2u) << messages[0];
    EXPECT_EQ(messages[0], NoTransferOk);
    EXPECT_EQ(messages[1].rfind("The secure connection to 127.0.0.1 failed: ", 0), 0u)
        << messages[1];
    EXPECT_TRUE(site.UploadedFiles().isEmpty());
}

// ---- a slow line ------------------------------------------------------------

namespace {
struct SlowHttpPublish : SlowLinePublish {};
} // namespace

// A web server that reads 16 KB every 0.2 s takes a 2 MB post in about
// 25 s, longer than the idle time-out, and then answers.
TEST_F(SlowHttpPublish, PostToASlowReaderSucceeds) {
    ASSERT_TRUE(PhpWebServer::WaitPortFree(80, 20000));
    ScriptedHttpServer::Script script;
    script.text = "HTTP/1.0 200 OK\r\n\r\n##TRANSFER_OK##\r\n";
    script.readSlice = 16 * 1024;
    script.readPauseMs = 200;
    ScriptedHttpServer server(80, script);
    ASSERT_TRUE(server.Listening());
    LoadSettings();
    Settings.transferType = 0;
    Settings.postUrl = "http://127.0.0.1/post.php";
    Settings.postServer = "http://127.0.0.1/";
    Settings.secretKey = "k";
    SaveSettings();
    EXPECT_EQ(MessagesOf(Publish("slow.jpg")), Texts{"inputbox"});
    const std::string body = server.Body();
    const std::string head = server.Head();
    const size_t at = head.find("Content-length: ");
    ASSERT_NE(at, std::string::npos) << head;
    const size_t declared = std::stoul(head.substr(at + 16));
    EXPECT_GT(declared, 1900u * 1000) << "a 2 MB post";
    EXPECT_GE(body.size(), declared) << "the whole body arrived";
    ExpectHonestProgress(body.size());
}

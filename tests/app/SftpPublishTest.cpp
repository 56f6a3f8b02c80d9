// Publishing over SFTP against a real OpenSSH server: password, agent, RSA
// key file and passphrase-protected key logins, byte-identical uploads under the public name only,
// host keys checked as ssh checks them, refusals that upload nothing, Cancel and a server that goes
// away mid-upload leaving no temporary file, and the history's delete, and the connection test.
#include "CommandLine.h"
#include "ConnectionTest.h"
#include "EnvScope.h"
#include "FileModes.h"
#include "HistoryStore.h"
#include "KnownHosts.h"
#include "NoiseJpeg.h"
#include "PhpWebServer.h"
#include "PublishFixture.h"
#include "RemoteDelete.h"
#include "ScriptedTcpServer.h"
#include "SftpPublisher.h"
#include "SshPeers.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QProcess>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code e;
    for (fs::directory_iterator it(dir, e), end; !e && it != end; it.increment(e))
        names.push_back(it->path().filename().string());
    return names;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A user's machine: its own HOME (with ~/.ssh inside), no agent unless a
// test starts one, and a real sshd with a throwaway user.
struct SftpTest : testing::Test {
    TempDirScope tmp;
    std::string home = tmp.Base() + "home";
    EnvScope homeScope{"HOME", QByteArray::fromStdString(home)};
    EnvScope agentScope{"SSH_AUTH_SOCK", ""};
    std::unique_ptr<SshServer> server;
    configRecord settings;
    // Every host key question, with the answer given.
    std::vector<TSshHostKey> asked;
    bool trustAnswer = true;

    void SetUp() override {
        if (!SshServer::Available()) GTEST_SKIP() << "sshd needs root and openssh-server";
        fs::create_directories(home);
        StartServer(SshServer::HostKey::Ed25519);
    }

    void StartServer(SshServer::HostKey key) {
        server = std::make_unique<SshServer>(key);
        ASSERT_TRUE(server->Running()) << server->Error();
        settings.transferType = settings::TransferFtp;
        settings.ftpEncryption = settings::FtpOverSsh;
        settings.hostName = server->Host();
        settings.port = std::to_string(server->Port());
        settings.userName = server->User();
        settings.password = server->Password();
        settings.destDirectory = "public_html/shots";
        settings.hostPrefix = "https://example.org/shots/";
    }

    std::string Remote(const std::string& name = {}) const {
        return server->Root() + "/public_html/shots" + (name.empty() ? "" : "/" + name);
    }
    std::string KnownHosts() const { return home + "/.ssh/known_hosts"; }

    // Publishes bytes as name; during(publisher, sent) runs at each progress report.
    TPublishResult Publish(const std::string& bytes, const std::string& name,
                           std::function<void(TPublisher&, uint64_t)> during = nullptr) {
        const std::string local = tmp.File(name);
        WriteFile(local, bytes);
        TSftpPublisher publisher(settings);
        publisher.TimeoutMs = 5000;
        publisher.OnUnknownHostKey = [this](const std::string&, uint16_t, const TSshHostKey& key) {
            asked.push_back(key);
            return trustAnswer;
        };
        publisher.OnBytes = [&](uint64_t sent, uint64_t) {
            if (during) during(publisher, sent);
        };
        return publisher.Publish(local, name);
    }
};

std::string Messages(const TPublishResult& r) {
    std::string out;
    for (const auto& m : r.Messages) out += m.Text + "\n";
    return out;
}

} // namespace

TEST_F(SftpTest, UploadsAreByteIdenticalUnderThePublicNameOnly) {
    const std::string jpeg = NoiseJpeg(3840, 2160, 0);
    enum Login { Password, RsaKeyFile, Agent };
    struct Case {
        const char* what;
        std::string bytes;
        Login login;
    } cases[] = {{"0 B", "", Password},
                 {"1000 B", std::string(1000, 'x').replace(0, 3, "\xff\xd8\xff"), Password},
                 {"RSA key file", "rsa", RsaKeyFile},
                 {"4K JPEG", jpeg, Agent}};
    std::unique_ptr<SshAgent> agent;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.login == RsaKeyFile) {
            // OpenSSH 9 takes RSA signatures by SHA-2 only.
            fs::create_directories(home + "/.ssh");
            ASSERT_TRUE(MakeKeyPair(home + "/.ssh/id_rsa", "rsa -b 2048"));
            ASSERT_TRUE(server->Authorize(home + "/.ssh/id_rsa.pub"));
            settings.password.clear();
        }
        if (c.login == Agent) {
            fs::remove(home + "/.ssh/id_rsa");
            // No password: the agent's key, as for a user of keys.
            agent = std::make_unique<SshAgent>(tmp.Base());
            ASSERT_TRUE(agent->Running());
            ASSERT_TRUE(MakeKeyPair(tmp.Base() + "agentkey", "ed25519"));
            ASSERT_TRUE(agent->Add(tmp.Base() + "agentkey"));
            ASSERT_TRUE(server->Authorize(tmp.Base() + "agentkey.pub"));
            qputenv("SSH_AUTH_SOCK", QByteArray::fromStdString(agent->Socket()));
            settings.password.clear();
        }
        const std::string name = std::string("shot-") + std::to_string(c.bytes.size()) + ".jpg";
        const TPublishResult r = Publish(c.bytes, name);
        ASSERT_EQ(r.Outcome, TPublishResult::prPublished) << Messages(r);
        EXPECT_TRUE(r.Messages.empty()) << Messages(r);
        EXPECT_EQ(r.Url, "https://example.org/shots/" + name);
        EXPECT_EQ(ReadFileText(Remote(name)), c.bytes);
        EXPECT_EQ(ModeOf(Remote(name)), 0644u);
        // The exported file went with the publisher.
        EXPECT_FALSE(fs::exists(tmp.File(name)));
    }
    const std::vector<std::string> left = FilesIn(Remote());
    EXPECT_EQ(left.size(), std::size(cases)) << "a temporary file was left behind";
    // The unknown key was asked about once, shown as ssh shows it, then remembered.
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].Type, "ssh-ed25519");
    EXPECT_EQ(asked[0].Fingerprint, server->Fingerprint());
    EXPECT_EQ(ReadFileText(KnownHosts()), server->KnownHostsLine() + "\n");
    EXPECT_EQ(ModeOf(KnownHosts()), 0600u);
    EXPECT_EQ(ModeOf(home + "/.ssh"), 0700u);
}

TEST_F(SftpTest, RefusalsUploadNothingAndSayWhy) {
    const std::string general = "Publishing failed - check settings and network connection!";
    struct Case {
        const char* what;
        std::function<void(SftpTest&)> arrange;
        std::string message;
        size_t questions;
    } cases[] = {
        {"wrong password", [](SftpTest& t) { t.settings.password = "not-it"; },
         "Connect to FTP failed : The server refused the password of ", 1},
        {"directory that cannot be created",
         [](SftpTest& t) { t.settings.destDirectory = "/etc/brwk-denied/shots"; },
         "Failed to change directory to /etc/brwk-denied/shots Cannot create the directory "
         "/etc/brwk-denied: Permission denied",
         1},
        {"unknown key declined", [](SftpTest& t) { t.trustAnswer = false; },
         "The host key of [127.0.0.1]:", 1},
        {"changed key",
         [](SftpTest& t) {
             // An entry for another server first, then this one's old key.
             fs::create_directories(t.home + "/.ssh");
             WriteFile(t.KnownHosts(), "other.example ssh-ed25519 "
                                       "AAAAC3NzaC1lZDI1NTE5AAAAIHk1x7Qe8y8vO1cN0m3S6qnS0r9mN0Wq"
                                       "oA0mJ8nQ0yYd\n" +
                                           t.server->KnownHostsLine() + "\n");
             ASSERT_TRUE(t.server->ChangeHostKey()) << t.server->Error();
         },
         // The warning names the file and the entry's line.
         "has changed. It does not match line 2 of " + home + "/.ssh/known_hosts", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StartServer(SshServer::HostKey::Ed25519);
        fs::remove_all(home + "/.ssh");
        asked.clear();
        trustAnswer = true;
        c.arrange(*this);
        const TPublishResult r = Publish("picture", "shot.jpg");
        EXPECT_EQ(r.Outcome, TPublishResult::prFailed);
        ASSERT_EQ(r.Messages.size(), 2u) << Messages(r);
        EXPECT_NE(r.Messages[0].Text.find(c.message), std::string::npos) << r.Messages[0].Text;
        EXPECT_EQ(r.Messages[1].Text, general);
        EXPECT_EQ(asked.size(), c.questions);
        EXPECT_EQ(r.Messages[0].Text.find(server->Password()), std::string::npos);
        EXPECT_TRUE(FilesIn(Remote()).empty());
    }
}

TEST_F(SftpTest, ACancelledOrCutUploadLeavesNoTemporaryFile) {
    // Large enough to be under way for many progress reports.
    const std::string big(size_t(48) << 20, 'p');
    fs::create_directories(home + "/.ssh");
    WriteFile(KnownHosts(), server->KnownHostsLine() + "\n");
    enum Act { Cancel, Kill, FreezeThenCancel };
    struct Case {
        const char* what;
        Act act;
    } cases[] = {{"Cancel", Cancel},
                 {"server gone", Kill},
                 {"Cancel while the server is frozen", FreezeThenCancel}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        bool acted = false;
        // A Cancel that cannot interrupt the blocked call fails the test
        // rather than hanging it: the server thaws after the limit, from a
        // thread, as the event loop may be held up too.
        std::atomic<bool> over{false};
        std::thread thaw;
        const auto start = std::chrono::steady_clock::now();
        const TPublishResult r = Publish(big, "big.jpg", [&](TPublisher& p, uint64_t sent) {
            if (acted || sent < (size_t(4) << 20)) return;
            acted = true;
            if (c.act == Cancel) return p.Cancel();
            if (c.act == Kill) return server->KillSessions();
            // No more progress comes: the call under way is blocked on the
            // silent server when the Cancel arrives.
            server->SignalSessions(SIGSTOP);
            thaw = std::thread([this, &over] {
                for (int i = 0; i < 80 && !over; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                server->SignalSessions(SIGCONT);
            });
            QTimer::singleShot(300, [&p] { p.Cancel(); });
        });
        const auto took = std::chrono::steady_clock::now() - start;
        over = true;
        if (thaw.joinable()) thaw.join();
        // Well before the publisher's 5 s time-out would have ended it.
        if (c.act == FreezeThenCancel) {
            EXPECT_LT(took, std::chrono::seconds(4));
        }
        EXPECT_TRUE(acted);
        if (c.act != Kill) {
            EXPECT_EQ(r.Outcome, TPublishResult::prCancelled);
            EXPECT_NE(r.CancelDetails.find("was removed from the server"), std::string::npos)
                << r.CancelDetails;
        } else {
            EXPECT_EQ(r.Outcome, TPublishResult::prFailed);
            ASSERT_EQ(r.Messages.size(), 2u) << Messages(r);
            EXPECT_EQ(r.Messages[0].Text.rfind("Cannot upload file: ", 0), 0u)
                << r.Messages[0].Text;
            EXPECT_NE(r.Messages[0].Details.find("was removed from the server"), std::string::npos)
                << r.Messages[0].Details;
        }
        EXPECT_TRUE(FilesIn(Remote()).empty());
    }
}

TEST_F(SftpTest, PublishingANameAgainReplacesThePictureByTheServersAtomicRename) {
    fs::create_directories(home + "/.ssh");
    WriteFile(KnownHosts(), server->KnownHostsLine() + "\n");
    for (const std::string bytes : {"first picture", "second"}) {
        const TPublishResult r = Publish(bytes, "same.jpg");
        ASSERT_EQ(r.Outcome, TPublishResult::prPublished) << Messages(r);
        EXPECT_EQ(ReadFileText(Remote("same.jpg")), bytes);
    }
    EXPECT_EQ(FilesIn(Remote()), std::vector<std::string>{"same.jpg"});
    // The old picture was never gone: no remove before the rename.
    const std::string log = server->SftpLog();
    EXPECT_NE(log.find("posix-rename old \"public_html/shots/.same.jpg.brwk-"), std::string::npos)
        << log;
    EXPECT_NE(log.find("new \"public_html/shots/same.jpg\""), std::string::npos) << log;
    EXPECT_EQ(log.find("remove name"), std::string::npos) << log;
}

TEST_F(SftpTest, Ed25519OnlyAndRsaSha256OnlyServersAreShownAndPublishedTo) {
    struct Case {
        SshServer::HostKey key;
        const char* type;
    } cases[] = {{SshServer::HostKey::Ed25519, "ssh-ed25519"},
                 {SshServer::HostKey::Rsa, "ssh-rsa"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        StartServer(c.key);
        fs::remove_all(home + "/.ssh");
        asked.clear();
        const TPublishResult r = Publish("bytes", "k.jpg");
        EXPECT_EQ(r.Outcome, TPublishResult::prPublished) << Messages(r);
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_EQ(asked[0].Type, c.type);
        EXPECT_EQ(asked[0].Type, server->KeyType());
        EXPECT_EQ(asked[0].Fingerprint, server->Fingerprint());
        EXPECT_EQ(ReadFileText(KnownHosts()), server->KnownHostsLine() + "\n");
    }
}

// As the user does it: Publish with the dialogs, the URL box, the history
// row, and the row's Delete.
struct SftpFlow : PublishFixture {
    std::string home = tmp.Base() + "home";
    EnvScope homeScope{"HOME", QByteArray::fromStdString(home)};
    EnvScope agentScope{"SSH_AUTH_SOCK", ""};
    void SetUp() override {
        PublishFixture::SetUp();
        fs::create_directories(home);
    }
    // Publishing by SFTP to the server's "www", with its password.
    void UseServer(const SshServer& server) {
        Settings.transferType = settings::TransferFtp;
        Settings.ftpEncryption = settings::FtpOverSsh;
        Settings.hostName = server.Host();
        Settings.port = std::to_string(server.Port());
        Settings.userName = server.User();
        Settings.password = server.Password();
        Settings.destDirectory = "www";
    }
};

TEST_F(SftpFlow, PublishShowsTheUrlAndTheHistoryRowDeletes) {
    if (!SshServer::Available()) GTEST_SKIP() << "sshd needs root and openssh-server";
    SshServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    UseServer(server);
    Settings.hostPrefix = "http://example.org/";
    Settings.urlToClipboard = false;
    SaveSettings();
    dialogs->confirmAnswers = {true};

    const auto shown = Publish("flow.jpg");
    ASSERT_EQ(shown.size(), 2u) << testing::PrintToString(MessagesOf(shown));
    EXPECT_EQ(shown[0].kind, "confirm");
    EXPECT_NE(shown[0].text.find("Fingerprint: " + server.Fingerprint()), std::string::npos)
        << shown[0].text;
    EXPECT_EQ(shown[1].kind, "inputbox");
    EXPECT_EQ(shown[1].text, "http://example.org/flow.jpg");
    EXPECT_EQ(ReadFileText(server.Root() + "/www/flow.jpg").substr(0, 2), "\xff\xd8");
    EXPECT_FALSE(fs::exists(tmp.File("flow.jpg")));

    THistoryStore store(THistoryStore::DefaultPath());
    const std::optional<THistoryEntry> row = store.FindByUrl("http://example.org/flow.jpg");
    ASSERT_TRUE(row);
    auto deleter = CreateRemoteDelete(*row, Settings);
    const TDeleteResult gone = deleter->Delete(*row);
    EXPECT_EQ(gone.Outcome, TDeleteResult::drDeleted);
    EXPECT_FALSE(fs::exists(server.Root() + "/www/flow.jpg"));
    EXPECT_EQ(deleter->Delete(*row).Outcome, TDeleteResult::drAlreadyGone);
}

TEST_F(SftpFlow, AKeyFilesPassphraseIsAskedForAndNeverShown) {
    if (!SshServer::Available()) GTEST_SKIP() << "sshd needs root and openssh-server";
    SshServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    UseServer(server);
    Settings.password.clear();
    Settings.hostPrefix = "http://example.org/";
    SaveSettings();
    const std::string key = home + "/.ssh/id_ed25519";
    const std::string passphrase = "Tr0ub4dor&3";
    fs::create_directories(home + "/.ssh");
    ASSERT_TRUE(MakeKeyPair(key, "ed25519", passphrase));
    ASSERT_TRUE(server.Authorize(key + ".pub"));
    WriteFile(home + "/.ssh/known_hosts", server.KnownHostsLine() + "\n");
    struct Case {
        std::string answer;
        std::string shown; // the dialog after the passphrase's
    } cases[] = {{"wrong one", key + " (the passphrase given is wrong)"},
                 {passphrase, "http://example.org/pass.jpg"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        // Answered after the name prompt.
        dialogs->whileOpen = [&](const ScriptedDialogs::Shown& s) {
            if (s.kind == "query") dialogs->queryAnswers.push_back(c.answer);
        };
        const auto shown = Publish("pass.jpg");
        ASSERT_GE(shown.size(), 2u) << testing::PrintToString(MessagesOf(shown));
        EXPECT_EQ(shown[0].kind, "secret");
        EXPECT_EQ(shown[0].prompt, "Passphrase for " + key);
        EXPECT_NE(shown[1].text.find(c.shown), std::string::npos) << shown[1].text;
        for (const ScriptedDialogs::Shown& s : shown) {
            EXPECT_EQ(s.text.find(c.answer), std::string::npos) << s.text;
            EXPECT_EQ(s.details.find(c.answer), std::string::npos) << s.details;
        }
    }
    EXPECT_EQ(ReadFileText(server.Root() + "/www/pass.jpg").substr(0, 2), "\xff\xd8");
}

TEST_F(SftpTest, TheConnectionTestFetchesTheProbeAndKnowsAHashedEntry) {
    if (!PhpWebServer::Available()) GTEST_SKIP() << "php is not installed";
    const uint16_t webPort = UnusedLoopbackPort();
    PhpWebServer site(server->Root(), webPort);
    ASSERT_TRUE(site.Running()) << site.Error();
    settings.hostPrefix = "http://127.0.0.1:" + std::to_string(webPort) + "/public_html/shots/";
    // known_hosts as "ssh-keygen -H" leaves it: nothing to ask about.
    fs::create_directories(home + "/.ssh");
    WriteFile(KnownHosts(), server->KnownHostsLine() + "\n");
    ASSERT_EQ(std::system(("ssh-keygen -q -H -f " + KnownHosts() + " >/dev/null 2>&1").c_str()), 0);
    ASSERT_EQ(ReadFileText(KnownHosts()).rfind("|1|", 0), 0u);

    TConnectionTest test(settings);
    test.TimeoutSeconds = 5;
    std::vector<std::string> lines;
    test.OnLog = [&lines](const std::string& line) { lines.push_back(line); };
    test.OnUnknownHostKey = [this](const std::string&, uint16_t, const TSshHostKey& key) {
        asked.push_back(key);
        return false;
    };
    const bool passed = test.Run();
    std::string log;
    for (const std::string& line : lines) log += line + "\n";
    EXPECT_TRUE(passed) << log;
    EXPECT_TRUE(asked.empty());
    for (const std::string& expected :
         {"is the one " + KnownHosts() + " has (line 1).",
          std::string("Logged in with the password."),
          std::string("The test picture is there: the URL prefix is right."),
          std::string("Deleted the test picture from the server.")})
        EXPECT_NE(log.find(expected), std::string::npos) << expected << "\n" << log;
    EXPECT_EQ(log.find(server->Password()), std::string::npos);
    EXPECT_TRUE(FilesIn(Remote()).empty());
}

TEST_F(SftpFlow, CommandLinePublishNeverAcceptsAnUnknownKey) {
    if (!SshServer::Available()) GTEST_SKIP() << "sshd needs root and openssh-server";
    SshServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    UseServer(server);
    SaveSettings();
    const std::string picture = tmp.Base() + "shot.png";
    QImage image(8, 6, QImage::Format_RGB32);
    image.fill(Qt::red);
    ASSERT_TRUE(image.save(QString::fromStdString(picture)));

    QProcess program;
    program.start(BRWK_PROGRAM, {"--publish", QString::fromStdString(picture)});
    ASSERT_TRUE(program.waitForFinished(60000));
    const std::string err = program.readAllStandardError().toStdString();
    EXPECT_EQ(program.exitCode(), ExitFailed) << err;
    EXPECT_TRUE(program.readAllStandardOutput().isEmpty());
    EXPECT_NE(err.find("was not accepted. Nothing was sent."), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(home + "/.ssh/known_hosts"));
    EXPECT_TRUE(FilesIn(server.Root() + "/www").empty());
}

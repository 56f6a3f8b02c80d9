// The command line of the real program: --publish of a picture file or of
// standard input against the shipped upload script and pyftpdlib, judged as
// another tool sees it (exit code, standard output, standard error), and the
// options that need no desktop.
#include "BmpBuilder.h"
#include "ConfigDirScope.h"
#include "DataDirScope.h"
#include "FtpPeers.h"
#include "HttpDelete.h"
#include "TempDirScope.h"
#include "UploadSite.h"
#include "configUnit.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string HttpPrefix = "http://127.0.0.1/captures/";
const std::string FtpPrefix = "http://127.0.0.1/~tester/pics/";

struct ProgramRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

ProgramRun RunProgram(const QStringList& args, const QByteArray& input = {}) {
    QProcess p;
    p.start(BRWK_PROGRAM, args);
    ProgramRun run;
    if (!p.waitForStarted()) return run;
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        return run;
    }
    run.out = p.readAllStandardOutput().toStdString();
    run.err = p.readAllStandardError().toStdString();
    if (p.exitStatus() == QProcess::NormalExit) run.exitCode = p.exitCode();
    return run;
}

// 32 x 24: the upper left quarter red, the rest blue, so a flip shows.
QImage TestPicture() {
    QImage image(32, 24, QImage::Format_RGB32);
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 32; ++x) image.setPixel(x, y, x < 16 && y < 12 ? 0xFF0000 : 0x0000FF);
    return image;
}

QByteArray Encoded(const char* format) {
    const QImage image = TestPicture();
    if (std::string(format) == "BMP") {
        BmpBuilder b;
        b.width = image.width();
        b.height = image.height();
        b.pixels = PackPixels(b.width, b.height, 24, true,
                              [&](int x, int y) { return image.pixel(x, y) & 0xFFFFFF; });
        const std::vector<uint8_t> bytes = b.Build();
        return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
    }
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return data;
}

// What was published is the designed JPEG of the picture, the right way up.
void ExpectPublishedPicture(const std::string& bytes) {
    ASSERT_GE(bytes.size(), 3u);
    EXPECT_EQ(bytes.substr(0, 3), "\xFF\xD8\xFF");
    const QImage got = QImage::fromData(QByteArray::fromStdString(bytes), "JPEG");
    ASSERT_EQ(got.size(), QSize(32, 24));
    EXPECT_GT(qRed(got.pixel(3, 3)), 200);
    EXPECT_LT(qBlue(got.pixel(3, 3)), 60);
    EXPECT_GT(qBlue(got.pixel(28, 20)), 200);
    EXPECT_LT(qRed(got.pixel(28, 20)), 60);
}

// Each text of expected stands in err, in this order.
void ExpectInOrder(const std::string& err, const std::vector<std::string>& expected) {
    size_t at = 0;
    for (const std::string& line : expected) {
        const size_t found = err.find(line, at);
        ASSERT_NE(found, std::string::npos) << "missing \"" << line << "\" in:\n" << err;
        at = found + line.size();
    }
}

enum class Method { Http, Ftp };

struct CommandLineTest : testing::Test {
    TempDirScope tmp;
    ConfigDirScope config;
    DataDirScope data;
    UploadSite site;
    std::unique_ptr<PhpWebServer> web;
    std::unique_ptr<PyFtpdServer> ftp;

    void Start(Method method, const std::string& secret) {
        LoadSettings();
        if (method == Method::Http) {
            if (!PhpWebServer::Available()) GTEST_SKIP() << "php-cli is not installed";
            site.Install();
            web = site.Serve();
            ASSERT_TRUE(web->Running()) << web->Error();
            Settings.transferType = 0;
            Settings.postUrl = UploadSite::ScriptUrl;
            Settings.postServer = HttpPrefix;
            Settings.secretKey = secret.empty() ? UploadSite::Key : secret;
        } else {
            if (!PyFtpdServer::Available()) GTEST_SKIP() << "python3-pyftpdlib is not installed";
            ftp = std::make_unique<PyFtpdServer>();
            ASSERT_TRUE(ftp->Running()) << ftp->Error();
            Settings.transferType = settings::TransferFtp;
            Settings.hostName = ftp->Host();
            Settings.port = std::to_string(ftp->Port());
            Settings.userName = ftp->User();
            Settings.password = secret.empty() ? ftp->Password() : secret;
            Settings.destDirectory = "pics";
            Settings.passive = true;
            Settings.hostPrefix = FtpPrefix;
        }
        SaveSettings();
    }

    std::string Stored(Method method, const std::string& name) const {
        return method == Method::Http ? site.Stored(name)
                                      : ReadFileText(ftp->Root() + "/pics/" + name);
    }

    QStringList TempFiles() const {
        return QDir(QString::fromStdString(tmp.Path())).entryList(QDir::Files | QDir::Hidden);
    }
};

struct PublishCase {
    const char* title;
    Method method;
    const char* format;
    bool fromStdin;
    // --publish=FILE rather than --publish FILE.
    bool joined = false;
};

struct CommandLinePublish : CommandLineTest, testing::WithParamInterface<PublishCase> {};

TEST_P(CommandLinePublish, PrintsOnlyTheUrlOfThePublishedJpeg) {
    const PublishCase& c = GetParam();
    Start(c.method, "");
    if (IsSkipped()) return;
    const QByteArray picture = Encoded(c.format);
    // A running copy's capture must come through untouched.
    const QByteArray bmp = Encoded("BMP");
    const std::vector<uint8_t> capture(bmp.begin(), bmp.end());
    WriteFileBytes(tmp.File("brindlewick_temp.bmp"), capture);
    const std::string file = tmp.File(std::string("shot.") + c.format);
    if (!c.fromStdin) WriteFileBytes(file, {picture.begin(), picture.end()});
    const QString path = QString::fromStdString(file);
    const ProgramRun run = c.fromStdin ? RunProgram({"--publish", "-"}, picture)
                           : c.joined  ? RunProgram({"--publish=" + path})
                                       : RunProgram({"--publish", path});

    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::string prefix = c.method == Method::Http ? HttpPrefix : FtpPrefix;
    const QRegularExpression url("^" + QRegularExpression::escape(QString::fromStdString(prefix)) +
                                 "(screencap[0-9]{13,27}\\.jpg)\\n$");
    const auto match = url.match(QString::fromStdString(run.out));
    ASSERT_TRUE(match.hasMatch()) << "standard output: \"" << run.out << "\"";
    ExpectPublishedPicture(Stored(c.method, match.captured(1).toStdString()));

    EXPECT_EQ(ReadFileBytes(tmp.File("brindlewick_temp.bmp")), capture);
    EXPECT_FALSE(TempFiles().join(" ").contains("brindlewick_publish"))
        << "the converted input is removed";
}

INSTANTIATE_TEST_SUITE_P(Pictures, CommandLinePublish,
                         testing::Values(PublishCase{"HttpPngFile", Method::Http, "PNG", false},
                                         PublishCase{"HttpBmpStdin", Method::Http, "BMP", true},
                                         PublishCase{"FtpJpegFile", Method::Ftp, "JPEG", false,
                                                     true},
                                         PublishCase{"FtpPngStdin", Method::Ftp, "PNG", true}),
                         [](const auto& info) { return std::string(info.param.title); });

// Runs in the same second share their time digits: only the random part
// keeps one run's picture from replacing another's, so every run must
// print its own URL and leave its own file.
TEST_F(CommandLineTest, ManyRunsPublishUnderDistinctNames) {
#ifdef __SANITIZE_ADDRESS__
    // Each run costs seconds here; runs started together in one second
    // collided at once before the generator was seeded.
    constexpr int Runs = 40;
#else
    constexpr int Runs = 200;
#endif
    constexpr int AtOnce = 8;
    Start(Method::Ftp, "");
    if (IsSkipped()) return;
    const QByteArray picture = Encoded("PNG");
    const std::string file = tmp.File("shot.png");
    WriteFileBytes(file, {picture.begin(), picture.end()});
    std::set<std::string> urls;
    for (int started = 0; started < Runs; started += AtOnce) {
        std::vector<std::unique_ptr<QProcess>> batch;
        for (int i = 0; i < AtOnce; ++i) {
            batch.push_back(std::make_unique<QProcess>());
            batch.back()->start(BRWK_PROGRAM, {"--publish", QString::fromStdString(file)});
        }
        for (const auto& p : batch) {
            ASSERT_TRUE(p->waitForFinished(60000));
            ASSERT_EQ(p->exitCode(), 0) << p->readAllStandardError().toStdString();
            urls.insert(p->readAllStandardOutput().toStdString());
        }
    }
    EXPECT_EQ(urls.size(), size_t(Runs));
    EXPECT_EQ(QDir(QString::fromStdString(ftp->Root() + "/pics")).entryList(QDir::Files).size(),
              Runs);
}

enum class Peer { None, Http, Ftp };

struct FailureCase {
    const char* title;
    Peer peer; // none for an input that never gets that far
    const char* secret;
    std::vector<QString> args; // "@name" is a file in the working folder
    QByteArray (*input)();
    int exitCode;
    std::vector<std::string> messages;
};

struct CommandLineFailure : CommandLineTest, testing::WithParamInterface<FailureCase> {};

TEST_P(CommandLineFailure, SaysWhyOnStandardErrorAndNothingOnStandardOutput) {
    const FailureCase& c = GetParam();
    if (c.peer != Peer::None) Start(c.peer == Peer::Http ? Method::Http : Method::Ftp, c.secret);
    if (IsSkipped()) return;

    QStringList args;
    for (const QString& a : c.args)
        args << (a.startsWith("@") ? QString::fromStdString(tmp.File(a.mid(1).toStdString())) : a);
    const ProgramRun run = RunProgram(args, c.input());

    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    EXPECT_EQ(run.out, "");
    ExpectInOrder(run.err, c.messages);
    if (c.peer == Peer::Http) {
        EXPECT_TRUE(site.UploadedFiles().isEmpty());
    }
    EXPECT_FALSE(TempFiles().join(" ").contains("brindlewick_publish"));
}

QByteArray Png() {
    return Encoded("PNG");
}
QByteArray CutPng() {
    return Encoded("PNG").left(40);
}
QByteArray Gif() {
    return "GIF89a not what we take";
}
QByteArray Nothing() {
    return {};
}
QByteArray BmpPastItsEnd() {
    BmpBuilder b;
    b.width = 2;
    b.height = 2;
    b.pixels.assign(16, 0xAA);
    b.dataOffset = 4096;
    const std::vector<uint8_t> bytes = b.Build();
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

const std::vector<QString> FromStdin = {"--publish", "-"};
const char* const Failed = "Publishing failed - check settings and network connection!";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Failures, CommandLineFailure, testing::Values(
    FailureCase{"HttpWrongKey", Peer::Http, "not-the-site-key-at-all", FromStdin, Png, 1,
                {"HTTP posting failed, didn't receive 'transfer OK' string!",
                 "Authentication failed, secret key incorrect?"}},
    FailureCase{"FtpWrongPassword", Peer::Ftp, "wrong", FromStdin, Png, 1,
                {"Connect to FTP failed : 530", Failed}},
    FailureCase{"NotAPicture", Peer::None, "", FromStdin, Gif, 1,
                {"standard input is not a PNG, JPEG or BMP picture."}},
    FailureCase{"EmptyInput", Peer::None, "", FromStdin, Nothing, 1,
                {"Nothing to publish: standard input is empty."}},
    FailureCase{"BrokenPng", Peer::None, "", FromStdin, CutPng, 1,
                {"The picture in standard input cannot be read."}},
    FailureCase{"BrokenBmp", Peer::None, "", FromStdin, BmpPastItsEnd, 1,
                {"The picture in standard input cannot be read. Its pixel data would start at "
                 "byte 4096, beyond the end of the file (70 bytes)."}},
    FailureCase{"MissingFile", Peer::None, "", {"--publish", "@none.png"}, Nothing, 1,
                {"No such file or directory"}},
    FailureCase{"PublishWithoutFile", Peer::None, "", {"--publish"}, Nothing, 2, {}},
    FailureCase{"DeleteWithoutUrl", Peer::None, "", {"--delete"}, Nothing, 2,
                {"--delete needs the URL of a published picture"}},
    FailureCase{"DeleteOfAnUnknownUrl", Peer::None, "", {"--delete=http://x.example/a.jpg"},
                Nothing, 1, {"No picture published at http://x.example/a.jpg is in the history."}},
    FailureCase{"UnknownOption", Peer::None, "", {"--shoot"}, Nothing, 2, {}},
    FailureCase{"TwoOptions", Peer::None, "", {"--version", "--capture"}, Nothing, 2, {}},
    FailureCase{"CaptureOfAnUnknownPart", Peer::None, "", {"--capture", "window"}, Nothing, 2,
                {"unexpected argument window"}},
    FailureCase{"CapturePublishWithAFile", Peer::None, "",
                {"--capture", "region", "--publish", "@a.png"}, Nothing, 2,
                {"unexpected argument "}}),
    [](const auto& info) { return std::string(info.param.title); });
// clang-format on

TEST_F(CommandLineTest, TestTriesTheSavedSettingsAndPrintsEachStep) {
    for (const auto& [key, code, line] :
         {std::tuple{std::string(UploadSite::Key), 0, "The test passed"},
          std::tuple{std::string("not-the-site-key-at-all"), 1, "refused the secret key"}}) {
        Start(Method::Http, key);
        if (IsSkipped()) return;
        const ProgramRun run = RunProgram({"--test"});
        EXPECT_EQ(run.exitCode, code) << run.out << run.err;
        EXPECT_NE(run.out.find(line), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find(key), std::string::npos) << run.out;
        EXPECT_TRUE(site.UploadedFiles().isEmpty());
        web.reset();
    }
}

TEST(CommandLineInfo, HelpAndVersionGoToStandardOutput) {
    const ProgramRun version = RunProgram({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "Brindlewick 1.0.0.6.beta\n");
    const ProgramRun help = RunProgram({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* option : {"--capture", "--publish FILE", "--test", "--help", "--version"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
}

} // namespace

namespace {

// Publishes a PNG by the command line; its URL.
std::string PublishPng(CommandLineTest& t) {
    const std::string file = t.tmp.File("shot.png");
    const QByteArray png = Encoded("PNG");
    WriteFileBytes(file, {png.begin(), png.end()});
    const ProgramRun run = RunProgram({"--publish", QString::fromStdString(file)});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return run.out.substr(0, run.out.find('\n'));
}

std::string NameOf(const std::string& url) {
    return url.substr(url.rfind('/') + 1);
}

void SetSecret(Method method, const std::string& secret) {
    LoadSettings();
    (method == Method::Http ? Settings.secretKey : Settings.password) = secret;
    SaveSettings();
}

} // namespace

struct CommandLineDelete : CommandLineTest, testing::WithParamInterface<Method> {};

TEST_P(CommandLineDelete, DeletesExactlyThatPictureFromItsServerAndTheHistory) {
    const Method method = GetParam();
    Start(method, "");
    if (IsSkipped()) return;
    const std::string first = PublishPng(*this);
    // Generated names differ only from one second to the next.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    const std::string second = PublishPng(*this);
    ASSERT_NE(NameOf(first), NameOf(second));
    const std::string secret = method == Method::Http ? Settings.secretKey : Settings.password;

    const ProgramRun history = RunProgram({"--history"});
    EXPECT_EQ(history.exitCode, 0) << history.err;
    const QRegularExpression rows("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\t" +
                                  QRegularExpression::escape(QString::fromStdString(second)) +
                                  "\\t" + QString::fromStdString(NameOf(second)) +
                                  "\\n\\d{4}-[-0-9: ]+\\t" +
                                  QRegularExpression::escape(QString::fromStdString(first)) +
                                  "\\t" + QString::fromStdString(NameOf(first)) + "\\n$");
    EXPECT_TRUE(rows.match(QString::fromStdString(history.out)).hasMatch()) << history.out;

    // A password or key that is wrong now deletes nothing and keeps the row.
    SetSecret(method, "not-the-secret-any-more");
    const ProgramRun refused = RunProgram({"--delete", QString::fromStdString(first)});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.err.find("not-the-secret"), std::string::npos) << refused.err;
    EXPECT_FALSE(Stored(method, NameOf(first)).empty());
    SetSecret(method, secret);

    const ProgramRun deleted = RunProgram({"--delete", QString::fromStdString(first)});
    EXPECT_EQ(deleted.exitCode, 0) << deleted.err;
    EXPECT_TRUE(Stored(method, NameOf(first)).empty());
    EXPECT_FALSE(Stored(method, NameOf(second)).empty());
    EXPECT_EQ(RunProgram({"--history"}).out.find(first), std::string::npos);
    const ProgramRun again = RunProgram({"--delete", QString::fromStdString(first)});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_NE(again.err.find("No picture published at " + first), std::string::npos) << again.err;

    // Gone from the server already: deleted all the same, with a note.
    const std::string path = method == Method::Http ? site.Uploads() + NameOf(second)
                                                    : ftp->Root() + "/pics/" + NameOf(second);
    ASSERT_EQ(::unlink(path.c_str()), 0);
    const ProgramRun gone = RunProgram({"--delete", QString::fromStdString(second)});
    EXPECT_EQ(gone.exitCode, 0) << gone.err;
    EXPECT_NE(gone.err.find(NameOf(second) + " was already gone from the server"),
              std::string::npos)
        << gone.err;
    EXPECT_EQ(RunProgram({"--history"}).out, "");
}

INSTANTIATE_TEST_SUITE_P(Methods, CommandLineDelete, testing::Values(Method::Http, Method::Ftp),
                         [](const auto& info) {
                             return std::string(info.param == Method::Http ? "Http" : "Ftp");
                         });

TEST_F(CommandLineTest, DeleteThroughAnOlderScriptSaysTheScriptNeedsUpdating) {
    Start(Method::Http, "");
    if (IsSkipped()) return;
    const std::string url = PublishPng(*this);
    // What the script before the delete request answers: it takes it for an upload.
    site.Put("brwk_upload.php",
             "<?php http_response_code(400); echo \"Upload refused: size fields missing.\\n\";");
    const ProgramRun run = RunProgram({"--delete", QString::fromStdString(url)});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find(OlderScriptText), std::string::npos) << run.err;
    EXPECT_FALSE(site.Stored(NameOf(url)).empty());
    EXPECT_NE(RunProgram({"--history"}).out.find(url), std::string::npos);
}

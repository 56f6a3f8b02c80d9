// The example upload script's own rules, posted to directly with the
// program's HTTP client: what it stores, what it refuses, and which markers
// it answers with.
#include "HttpDelete.h"
#include "HttpUpload.h"
#include "Loopback.h"
#include "UploadSite.h"
#include "kwHTTPUnit.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <random>

namespace {

// A JPEG of noise, so that its Base64 text holds "+" and "/".
std::string NoiseJpeg() {
    QImage image(64, 48, QImage::Format_RGB32);
    std::mt19937 random(11);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) image.setPixel(x, y, random() & 0xFFFFFF);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 95);
    return bytes.toStdString();
}

struct UploadScriptTest : testing::Test {
    UploadSite site;
    std::unique_ptr<PhpWebServer> server;
    std::string jpeg = NoiseJpeg();

    void SetUp() override {
        if (!PhpWebServer::Available()) GTEST_SKIP() << "php (php-cli) is not installed";
        site.Install();
        server = site.Serve();
        ASSERT_TRUE(server->Running()) << server->Error();
    }

    // The reply text of one POST, lines joined with CR LF as the program does.
    std::string Post(const std::string& body, const std::string& url = UploadSite::ScriptUrl) {
        kwHTTP c;
        c.Host = "127.0.0.1";
        c.Port = 80;
        c.Url = url;
        c.PostData = body;
        c.IdleTimeoutMs = 5000;
        c.Connect();
        c.WaitUntilDone();
        std::string text;
        for (const auto& line : c.Replies) text += line + "\r\n";
        return text;
    }
    std::string Upload(const std::string& name, const std::string& bytes,
                       const std::string& key = UploadSite::Key) {
        return Post(BuildPostForm(name, key, bytes));
    }
};

bool Has(const std::string& text, const char* marker) {
    return text.find(marker) != std::string::npos;
}

// Not one of the three markers.
bool Unmarked(const std::string& text) {
    return !Has(text, MarkerTransferOk) && !Has(text, MarkerAuthFail) && !Has(text, MarkerSizeDiff);
}

} // namespace

TEST_F(UploadScriptTest, StoresTheDecodedBytesWithPlusSignsRestored) {
    ASSERT_NE(Base64Encode(jpeg).find('+'), std::string::npos) << "the case needs a '+'";
    const std::string reply = Upload("noise-1_b.JPEG", jpeg);
    EXPECT_TRUE(Has(reply, MarkerTransferOk)) << reply;
    EXPECT_EQ(site.Stored("noise-1_b.JPEG"), jpeg);
    EXPECT_EQ(site.UploadedFiles(), QStringList{"noise-1_b.JPEG"}) << "no temporary left behind";
    // A second upload under the same name replaces the picture.
    const std::string other = NoiseJpeg() + std::string("\0\0", 2);
    EXPECT_TRUE(Has(Upload("noise-1_b.JPEG", other), MarkerTransferOk));
    EXPECT_EQ(site.Stored("noise-1_b.JPEG"), other);
}

TEST_F(UploadScriptTest, WrongOrMissingKeyIsAnAuthFailure) {
    for (const std::string& key :
         {std::string("wrong"), std::string(), std::string(UploadSite::Key) + "x"}) {
        const std::string reply = Upload("a.jpg", jpeg, key);
        EXPECT_TRUE(Has(reply, MarkerAuthFail)) << key;
        EXPECT_FALSE(Has(reply, MarkerTransferOk));
        EXPECT_FALSE(Has(reply, MarkerSizeDiff));
    }
    EXPECT_TRUE(Has(Post("filename=a.jpg"), MarkerAuthFail));
    EXPECT_TRUE(site.UploadedFiles().isEmpty());
}

TEST_F(UploadScriptTest, ScriptWithoutAConfiguredKeyRefusesEverything) {
    QFile::remove(QString::fromStdString(site.Root() + "brwk_upload_config.php"));
    EXPECT_TRUE(Has(Upload("a.jpg", jpeg, ""), MarkerAuthFail));
    EXPECT_TRUE(Has(Upload("a.jpg", jpeg, "anything"), MarkerAuthFail));
}

TEST_F(UploadScriptTest, AKeyShorterThanSixteenCharactersStopsTheScriptAndSaysWhy) {
    for (const std::string& key : {std::string("fifteen-chars15"), std::string("k")}) {
        site.Install(key);
        const std::string reply = Upload("a.jpg", jpeg, key);
        EXPECT_TRUE(Has(reply, MarkerAuthFail)) << key << ": " << reply;
        EXPECT_TRUE(Has(reply, "at least 16 characters")) << key << ": " << reply;
    }
    EXPECT_TRUE(site.UploadedFiles().isEmpty());
    site.Install("sixteen-chars-16");
    EXPECT_TRUE(Has(Upload("a.jpg", jpeg, "sixteen-chars-16"), MarkerTransferOk));
}

TEST_F(UploadScriptTest, SizesThatDoNotMatchAreASizeDifference) {
    const std::string encoded = Base64Encode(jpeg);
    const std::string head = "filename=a.jpg&key=" + std::string(UploadSite::Key);
    const std::string size = std::to_string(jpeg.size());
    const std::string sizeEnc = std::to_string(encoded.size());
    for (const std::string& body : {
             head + "&size=" + std::to_string(jpeg.size() + 1) + "&sizeenc=" + sizeEnc +
                 "&data=" + encoded,
             head + "&size=" + size + "&sizeenc=" + sizeEnc +
                 "&data=" + encoded.substr(0, encoded.size() - 4),
             head + "&size=" + size + "&sizeenc=" + sizeEnc + "&data=" + "%%" + encoded.substr(2),
         }) {
        const std::string reply = Post(body);
        EXPECT_TRUE(Has(reply, MarkerSizeDiff)) << reply;
        EXPECT_FALSE(Has(reply, MarkerTransferOk));
    }
    EXPECT_TRUE(site.UploadedFiles().isEmpty());
}

TEST_F(UploadScriptTest, UnsafeNamesAreRefusedWithoutAMarker) {
    for (const char* name : {"shot.php", "shot.php.jpg", "../escaped.jpg", "sub/x.jpg", ".jpg",
                             "x.jpg/", "a b.jpg", "x.jpg\n", "x.jpg%00.php", "x.gif", ""}) {
        const std::string reply = Upload(name, jpeg);
        EXPECT_TRUE(Unmarked(reply)) << name << ": " << reply;
    }
    EXPECT_TRUE(site.UploadedFiles().isEmpty());
    EXPECT_FALSE(QFile::exists(QString::fromStdString(site.Root() + "escaped.jpg")));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(site.Root() + "shot.php")));
}

TEST_F(UploadScriptTest, DataThatIsNotAJpegIsRefused) {
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    for (const std::string& bytes :
         {png.toStdString(), std::string("<?php system('id'); ?>"),
          std::string("\xFF\xD8\xFF") + "<?php echo 1; ?>", std::string()}) {
        const std::string reply = Upload("fake.jpg", bytes);
        EXPECT_TRUE(Unmarked(reply)) << reply;
    }
    EXPECT_TRUE(site.UploadedFiles().isEmpty());
}

TEST_F(UploadScriptTest, ACheckRequestStoresNothingAndTellsTheDirectoryFromTheKey) {
    const std::string upload = BuildPostForm("checked.jpg", UploadSite::Key, jpeg);
    EXPECT_NE(Post(upload + "&check=1").find("##CHECK_OK##"), std::string::npos);
    EXPECT_NE(Post("check=1&key=wrong-key-of-some-length").find("##AUTHFAIL##"), std::string::npos);
    EXPECT_TRUE(site.UploadedFiles().isEmpty()) << site.UploadedFiles().join(" ").toStdString();
    QDir(QString::fromStdString(site.Uploads())).removeRecursively();
    const std::string broken = Post(std::string("check=1&key=") + UploadSite::Key);
    EXPECT_NE(broken.find("##CHECK_FAILED##"), std::string::npos) << broken;
    EXPECT_EQ(broken.find("##CHECK_OK##"), std::string::npos) << broken;
}

// A post cut off halfway, as a dropped line leaves it, stores nothing: no
// half picture under the name, and no temporary file beside it.
TEST_F(UploadScriptTest, CutPostLeavesNothingBehind) {
    const std::string body = BuildPostForm("cut.jpg", UploadSite::Key, jpeg);
    const int fd = ConnectToLoopback(80);
    ASSERT_GE(fd, 0);
    const std::string head = "POST " + std::string(UploadSite::ScriptUrl) +
                             " HTTP/1.0\r\nContent-type: application/x-www-form-urlencoded\r\n"
                             "Content-length: " +
                             std::to_string(body.size()) + "\r\n\r\n";
    const std::string sent = head + body.substr(0, body.size() / 2);
    ASSERT_EQ(send(fd, sent.data(), sent.size(), MSG_NOSIGNAL), ssize_t(sent.size()));
    close(fd);
    // The server has the cut request; a whole one after it is answered, so
    // the first has been dealt with by then.
    EXPECT_NE(Upload("whole.jpg", jpeg).find(MarkerTransferOk), std::string::npos);
    EXPECT_EQ(site.UploadedFiles(), QStringList{"whole.jpg"});
}

TEST_F(UploadScriptTest, DeleteRemovesOnlyAPictureItStoredAndOnlyWithTheKey) {
    ASSERT_TRUE(Has(Upload("keep.jpg", jpeg), MarkerTransferOk));
    ASSERT_TRUE(Has(Upload("gone.jpg", jpeg), MarkerTransferOk));
    QFile::link(QString::fromStdString(site.Root() + "brwk_upload.php"),
                QString::fromStdString(site.Uploads() + "link.jpg"));
    QDir().mkpath(QString::fromStdString(site.Uploads() + "dir.jpg"));
    auto del = [this](const std::string& name, const std::string& key = UploadSite::Key) {
        return Post(BuildDeleteForm(name, key));
    };
    // Refused as a wrong key is: nothing tells what exists.
    for (const char* name :
         {"../brwk_upload.php", "../brwk_upload_config.php", "..%2Fbrwk_upload_config.php",
          "sub/keep.jpg", "link.jpg", "dir.jpg", "keep.php", ""}) {
        const std::string reply = del(name);
        EXPECT_TRUE(Has(reply, MarkerAuthFail)) << name << ": " << reply;
        EXPECT_FALSE(Has(reply, MarkerDeleteOk)) << name;
    }
    EXPECT_TRUE(Has(del("gone.jpg", "wrong-key-wrong-key"), MarkerAuthFail));
    EXPECT_TRUE(site.Exists("gone.jpg"));

    EXPECT_TRUE(Has(del("gone.jpg"), MarkerDeleteOk));
    EXPECT_FALSE(site.Exists("gone.jpg"));
    EXPECT_TRUE(Has(del("gone.jpg"), MarkerDeleteGone));
    EXPECT_EQ(site.Stored("keep.jpg"), jpeg);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(site.Root() + "brwk_upload_config.php")));
    EXPECT_TRUE(QFileInfo(QString::fromStdString(site.Uploads() + "link.jpg")).isSymLink());
}

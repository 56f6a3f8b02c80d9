// The window-free pieces of an HTTP publish: Base64, the posting URL and the
// form body the upload script reads.
#include "HttpUpload.h"

#include <gtest/gtest.h>

#include <QByteArray>

#include <fstream>
#include <random>

TEST(Base64Encode, GroupsAndPadding) {
    EXPECT_EQ(Base64Encode(""), "");
    EXPECT_EQ(Base64Encode("a"), "YQ==");
    EXPECT_EQ(Base64Encode("ab"), "YWI=");
    EXPECT_EQ(Base64Encode("abc"), "YWJj");
    EXPECT_EQ(Base64Encode("abcd"), "YWJjZA==");
    EXPECT_EQ(Base64Encode(std::string("\xfb\xff\xbf", 3)), "+/+/") << "both extra characters";
    EXPECT_EQ(Base64Encode(std::string(1, '\0')), "AA==");
}

TEST(Base64Encode, MatchesAStandardDecoderAtEveryLengthWithoutLineBreaks) {
    std::mt19937 random(3);
    for (size_t n : {1u, 2u, 3u, 57u, 58u, 59u, 76u, 77u, 1000u, 65537u}) {
        std::string bytes(n, '\0');
        for (char& c : bytes) c = char(random());
        const std::string text = Base64Encode(bytes);
        EXPECT_EQ(text.size(), (n + 2) / 3 * 4) << n;
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
        const QByteArray back = QByteArray::fromBase64(QByteArray::fromStdString(text),
                                                       QByteArray::AbortOnBase64DecodingErrors);
        EXPECT_EQ(back.toStdString(), bytes) << n;
    }
}

TEST(PostUrl, SchemeMustBeLowerCaseHttpOrHttps) {
    EXPECT_TRUE(HasHttpScheme("http://example.net/post.php"));
    EXPECT_TRUE(HasHttpScheme("see http://x/"));
    EXPECT_TRUE(HasHttpScheme("https://example.net/post.php"));
    EXPECT_FALSE(HasHttpScheme("HTTP://example.net/post.php"));
    EXPECT_FALSE(HasHttpScheme("HTTPS://example.net/post.php"));
    EXPECT_FALSE(HasHttpScheme("https:/example.net/post.php"));
    EXPECT_FALSE(HasHttpScheme("example.net/post.php"));
}

TEST(PostUrl, TargetIsPort80InClearOrTlsToTheNamedPortOr443) {
    struct Case {
        const char* url;
        bool tls;
        const char* host;
        int port;
    };
    const Case cases[] = {
        {"http://example.net/post.php", false, "example.net", 80},
        {"http://127.0.0.1:8080/post.php", false, "127.0.0.1:8080", 80}, // as it always was
        {"https://example.net/post.php", true, "example.net", 443},
        {"HTTPS://Example.net/post.php", true, "Example.net", 443},
        {"https://localhost:8443/dir/post.php", true, "localhost", 8443},
        {"https://localhost:65535/p", true, "localhost", 65535},
        {"https://localhost:0/p", true, "", 443},
        {"https://localhost:65536/p", true, "", 443},
        {"https://localhost:99999999999/p", true, "", 443},
        {"https://localhost:44x/p", true, "", 443},
        {"https://localhost:/p", true, "", 443},
        {"https://example.net", true, "", 443},
        {"http://a.net/x?https://b.net/", false, "a.net", 80},
        {"https://b.net/x?http://a.net/", true, "b.net", 443},
    };
    for (const Case& c : cases) {
        const TPostTarget t = PostTargetOf(c.url);
        EXPECT_EQ(t.Tls, c.tls) << c.url;
        EXPECT_EQ(t.Host, c.host) << c.url;
        EXPECT_EQ(t.Port, c.port) << c.url;
    }
}

TEST(PostUrl, HostIsTheTextBeforeTheFirstSlashAfterTheScheme) {
    EXPECT_EQ(HostOfPostUrl("http://example.net/dir/post.php"), "example.net");
    EXPECT_EQ(HostOfPostUrl("HTTP://Example.net/post.php"), "Example.net") << "scheme in any case";
    EXPECT_EQ(HostOfPostUrl("http://127.0.0.1:8080/post.php"), "127.0.0.1:8080");
    EXPECT_EQ(HostOfPostUrl("http:// spaced /post.php"), " spaced ");
    EXPECT_EQ(HostOfPostUrl("http://example.net"), "") << "no slash after the host";
    EXPECT_EQ(HostOfPostUrl("http://"), "");
    EXPECT_EQ(HostOfPostUrl("http:///post.php"), "");
}

TEST(PostForm, FieldsInOrderWithNothingEscaped) {
    const std::string jpeg = "abcd";
    EXPECT_EQ(BuildPostForm("pic one&x.jpg", "k+y=", jpeg),
              "filename=pic one&x.jpg&key=k+y=&size=4&sizeenc=8&data=YWJjZA==");
}

TEST(PostForm, ThousandBytesGiveTheirLengthAndThatOfTheText) {
    const std::string body = BuildPostForm("a.jpg", "k", std::string(1000, '\x7f'));
    EXPECT_NE(body.find("&size=1000&sizeenc=1336&data="), std::string::npos);
    EXPECT_EQ(body.size(),
              std::string("filename=a.jpg&key=k&size=1000&sizeenc=1336&data=").size() + 1336);
}

TEST(ReadWholeFile, GivesEveryByteOrNothing) {
    const std::string path = testing::TempDir() + "brwk_read_whole_file.bin";
    std::string bytes(70000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char(i * 7);
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    EXPECT_EQ(ReadWholeFile(path), bytes);
    std::remove(path.c_str());
    EXPECT_EQ(ReadWholeFile(path), "");
}

// Addresses and answers of a plain GET: what a request is sent to, and what
// is taken from the bytes that come back.
#include "HttpResponse.h"
#include "HttpUrl.h"

#include <gtest/gtest.h>

TEST(HttpUrl, PartsOfTheAddressesUsersType) {
    struct Case {
        const char* url;
        bool valid, tls;
        const char* host;
        int port;
        const char* path;
        const char* hostHeader;
    };
    const Case cases[] = {
        {"http://example.net/up/a.jpg", true, false, "example.net", 80, "/up/a.jpg", "example.net"},
        {"HTTPS://example.net", true, true, "example.net", 443, "/", "example.net"},
        {"example.net/~me/a.jpg", true, false, "example.net", 80, "/~me/a.jpg", "example.net"},
        {"127.0.0.1:8089/p/a.jpg", true, false, "127.0.0.1", 8089, "/p/a.jpg", "127.0.0.1:8089"},
        {"https://h:8443/a?b=1#top", true, true, "h", 8443, "/a?b=1", "h:8443"},
        {"http://user:pw@h/a", true, false, "h", 80, "/a", "h"},
        {"http://h?x", true, false, "h", 80, "/?x", "h"},
        {"ftp://h/a", false, false, "", 80, "/", ""},
        {"http://h:0/a", false, false, "", 80, "/", ""},
        {"http://h:65536/a", false, false, "", 80, "/", ""},
        {"http://h:/a", false, false, "", 80, "/", ""},
        {"http:///a", false, false, "", 80, "/", ""},
        {"http://h/a b", false, false, "", 80, "/", ""},
        {"http://h/a\r\nX: 1", false, false, "", 80, "/", ""},
    };
    for (const Case& c : cases) {
        const THttpUrl u = ParseHttpUrl(c.url);
        EXPECT_EQ(u.Valid, c.valid) << c.url;
        if (!c.valid) continue;
        EXPECT_EQ(u.Tls, c.tls) << c.url;
        EXPECT_EQ(u.Host, c.host) << c.url;
        EXPECT_EQ(u.Port, c.port) << c.url;
        EXPECT_EQ(u.Path, c.path) << c.url;
        EXPECT_EQ(HostHeaderOf(u), c.hostHeader) << c.url;
    }
}

TEST(HttpResponse, StatusHeadersAndBodyOfWholeAndCutAnswers) {
    struct Case {
        std::string raw;
        int status;
        const char* location;
        std::string body;
        bool complete;
    };
    const std::string jpeg("\xFF\xD8\0\r\n\r\nx", 8);
    const Case cases[] = {
        {"HTTP/1.0 200 OK\r\nContent-Length: 8\r\n\r\n" + jpeg, 200, "", jpeg, true},
        {"HTTP/1.1 200 OK\r\ncontent-length: 8\r\n\r\n" + jpeg.substr(0, 5), 200, "",
         jpeg.substr(0, 5), false},
        {"HTTP/1.0 200 OK\r\n\r\nno length, ended by the close", 200, "",
         "no length, ended by the close", true},
        {"HTTP/1.1 301 Moved\r\nLocation:  https://h/a.jpg \r\n\r\n", 301, "https://h/a.jpg", "",
         true},
        {"HTTP/1.0 404 Not Found\nContent-Type: text/html\n\n<p>", 404, "", "<p>", true},
        {"HTTP/1.0 200 OK\r\nContent-Le", 200, "", "", false},
        {"", 0, "", "", false},
        {"SSH-2.0-OpenSSH\r\n\r\n", 0, "", "", true},
    };
    for (const Case& c : cases) {
        const THttpResponse r = ParseHttpResponse(c.raw);
        EXPECT_EQ(r.Status, c.status) << c.raw;
        EXPECT_EQ(r.Location, c.location) << c.raw;
        EXPECT_EQ(r.Body, c.body) << c.raw;
        EXPECT_EQ(r.Complete, c.complete) << c.raw;
    }
    EXPECT_EQ(ParseHttpResponse("HTTP/1.0 404 Not Found\r\n\r\n").StatusLine,
              "HTTP/1.0 404 Not Found");
}

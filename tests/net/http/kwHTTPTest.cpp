// The HTTP client against scripted loopback servers: the exact request bytes,
// and what every kind of answer, close and fault leaves in Replies.
#include "ScriptedTcpServer.h"
#include "kwHTTPUnit.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using Server = ScriptedTcpServer;
using Lines = std::vector<std::string>;

namespace {

const std::string Url = "http://127.0.0.1/brwk_upload.php";

std::string Request(const std::string& body) {
    return "POST " + Url + " HTTP/1.0\r\n" +
           "Accept: image/gif\r\n"
           "Accept-Language: en\r\n"
           "User-Agent: kwHTTP by m4lte\r\n"
           "Content-type: application/x-www-form-urlencoded\r\n"
           "Content-length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body + "\r\n";
}

// A short idle time-out doubles as the watchdog of every test.
void Prepare(kwHTTP& c, uint16_t port, const std::string& body = "a=1") {
    c.Host = "127.0.0.1";
    c.Port = port;
    c.Url = Url;
    c.PostData = body;
    c.IdleTimeoutMs = 3000;
}

Lines Post(const std::vector<Server::Step>& answer, const std::string& body = "a=1") {
    std::vector<Server::Step> script{Server::Read(Request(body).size())};
    script.insert(script.end(), answer.begin(), answer.end());
    Server server(script);
    kwHTTP c;
    Prepare(c, server.Port(), body);
    c.Connect();
    c.WaitUntilDone();
    EXPECT_FALSE(c.TimedOut);
    EXPECT_FALSE(c.Connected);
    EXPECT_TRUE(server.WaitDone(2000));
    EXPECT_EQ(server.Received(), Request(body));
    return c.Replies;
}

} // namespace

TEST(HttpRequest, BytesOnTheWireAreTheDesignedFormPost) {
    const std::string body = "0123456789";
    Server server({Server::Read(Request(body).size()), Server::Close()});
    kwHTTP c;
    Prepare(c, server.Port(), body);
    c.Connect();
    c.WaitUntilDone();
    ASSERT_TRUE(server.WaitDone(2000));
    const std::string got = server.Received();
    EXPECT_EQ(got, Request(body));
    EXPECT_NE(got.find("Content-length: 10\r\n\r\n0123456789\r\n"), std::string::npos);
    EXPECT_EQ(got.find("Host:"), std::string::npos) << "no Host header";
}

TEST(HttpRequest, EmptyBodyIsABareLineEnd) {
    Server server({Server::Read(Request("").size()), Server::Close()});
    kwHTTP c;
    Prepare(c, server.Port(), "");
    c.Connect();
    c.WaitUntilDone();
    ASSERT_TRUE(server.WaitDone(2000));
    const std::string got = server.Received();
    EXPECT_EQ(got, Request(""));
    EXPECT_EQ(got.substr(got.size() - 23), "Content-length: 0\r\n\r\n\r\n");
}

TEST(HttpRequest, LargeBodyArrivesWhole) {
    std::string body(3 << 20, 'x');
    for (size_t i = 0; i < body.size(); i += 4099) body[i] = char('A' + i % 26);
    const Lines replies = Post({Server::Send("ok"), Server::Close()}, body);
    EXPECT_EQ(replies, Lines{"ok"});
}

TEST(HttpReply, CrLfLinesComeInOrderWithOneEmptyLineAtTheEnd) {
    EXPECT_EQ(Post({Server::Send("HTTP/1.0 200 OK\r\nX-A: 1\r\n\r\n##TRANSFER_OK##\r\n"),
                    Server::Close()}),
              (Lines{"HTTP/1.0 200 OK", "X-A: 1", "", "##TRANSFER_OK##", ""}));
}

TEST(HttpReply, LastLineWithoutLineEndIsKeptAtClose) {
    EXPECT_EQ(Post({Server::Send("HTTP/1.0 200 OK\r\n\r\nlast"), Server::Close()}),
              (Lines{"HTTP/1.0 200 OK", "", "last"}));
}

TEST(HttpReply, LfOnlyReplyBecomesOneLineWithoutItsLineFeeds) {
    EXPECT_EQ(Post({Server::Send("HTTP/1.0 200 OK\nX: 1\n\nbody\n"), Server::Close()}),
              (Lines{"HTTP/1.0 200 OKX: 1body"}));
}

TEST(HttpReply, LeadingBlanksGoTrailingOnesStay) {
    EXPECT_EQ(Post({Server::Send(" \t\x01  text \t\r\n"), Server::Close()}),
              (Lines{"text \t", ""}));
}

TEST(HttpReply, LinesAreSplitAtBreakTags) {
    EXPECT_EQ(Post({Server::Send("a<br>b<br>\r\n<br>c\r\nd<br><br>e\r\n<BR>"), Server::Close()}),
              (Lines{"a", "b", "", "c", "d", "", "e", "<BR>"}));
}

TEST(HttpReply, ReplyTrickledOneByteAtATimeGivesTheSameLines) {
    const std::string reply = "HTTP/1.0 200 OK\r\n\r\nok<br>##TRANSFER_OK##\r\ntail";
    std::vector<Server::Step> steps;
    for (char ch : reply) {
        steps.push_back(Server::Send(std::string(1, ch)));
        steps.push_back(Server::Sleep(2));
    }
    steps.push_back(Server::Close());
    EXPECT_EQ(Post(steps), (Lines{"HTTP/1.0 200 OK", "", "ok", "##TRANSFER_OK##", "tail"}));
}

TEST(HttpReply, ServerThatClosesWithoutAnsweringLeavesOneEmptyLine) {
    EXPECT_EQ(Post({Server::Close()}), Lines{""});
}

TEST(HttpFailure, ServerThatClosesAtOnceEndsTheRequest) {
    Server server({Server::Close()});
    kwHTTP c;
    Prepare(c, server.Port());
    c.Connect();
    c.WaitUntilDone();
    EXPECT_FALSE(c.Connected);
    EXPECT_FALSE(c.TimedOut);
    EXPECT_EQ(c.Replies, Lines{""});
}

TEST(HttpFailure, RefusedConnectionEndsWithOneEmptyLine) {
    kwHTTP c;
    std::vector<uint16_t> events;
    c.OnSessionEvent = [&](uint16_t e) { events.push_back(e); };
    Prepare(c, UnusedLoopbackPort());
    c.Connect();
    EXPECT_FALSE(c.Done) << "the connect completes from the event loop";
    c.WaitUntilDone();
    EXPECT_FALSE(c.Connected);
    EXPECT_FALSE(c.TimedOut);
    EXPECT_EQ(c.Replies, Lines{""});
    // The first failed send closes the session from inside the connect event,
    // so the close is reported before the connect's own report.
    ASSERT_EQ(events.size(), 2u) << "once connected (with the error), once closed";
    EXPECT_EQ(events[1], 10061);
}

TEST(HttpFailure, UnresolvableHostEndsAtOnceWithNoReplies) {
    kwHTTP c;
    Prepare(c, 80);
    c.Host = "no-such-host.invalid";
    c.Connect();
    EXPECT_TRUE(c.Done);
    EXPECT_FALSE(c.Connected);
    EXPECT_TRUE(c.Replies.empty());
}

TEST(HttpFailure, HostWithAPortCannotBeResolved) {
    Server server({Server::ReadUntilClose()});
    kwHTTP c;
    Prepare(c, server.Port());
    c.Host = "127.0.0.1:" + server.PortText();
    c.Connect();
    EXPECT_TRUE(c.Done);
    EXPECT_TRUE(c.Replies.empty());
}

TEST(HttpFailure, ResetMidReplyKeepsTheLinesReceivedSoFar) {
    kwHTTP c;
    Server server({Server::Read(Request("a=1").size()), Server::Send("HTTP/1.0 200 OK\r\n"),
                   Server::Sleep(300), Server::Send("partial"), Server::Reset()});
    Prepare(c, server.Port());
    c.Connect();
    c.WaitUntilDone();
    EXPECT_FALSE(c.Connected);
    EXPECT_FALSE(c.TimedOut);
    ASSERT_FALSE(c.Replies.empty());
    EXPECT_EQ(c.Replies[0], "HTTP/1.0 200 OK");
}

TEST(HttpFailure, ResetWhileSendingEndsTheRequest) {
    // Reads a little of a large body, then resets with most of it unsent.
    Server server({Server::Read(100), Server::Reset()}, 4096);
    kwHTTP c;
    Prepare(c, server.Port(), std::string(8 << 20, 'z'));
    c.Connect();
    c.WaitUntilDone();
    EXPECT_FALSE(c.Connected);
    EXPECT_FALSE(c.TimedOut);
    EXPECT_LE(c.Replies.size(), 1u);
}

TEST(HttpFailure, StalledServerIsGivenUpAfterTheIdleTimeOut) {
    Server server({Server::Read(Request("a=1").size()), Server::Stall(), Server::ReadUntilClose()});
    kwHTTP c;
    Prepare(c, server.Port());
    c.IdleTimeoutMs = 300;
    c.Connect();
    c.WaitUntilDone();
    EXPECT_TRUE(c.TimedOut);
    EXPECT_FALSE(c.Connected);
    EXPECT_TRUE(c.Replies.empty()) << "silence is not an empty reply";
    server.Release();
    ASSERT_TRUE(server.WaitDone(2000));
    EXPECT_EQ(server.Received(), Request("a=1") + "QUIT\r\n");
}

TEST(HttpFailure, StallAfterPartOfTheReplyKeepsTheCompleteLines) {
    Server server({Server::Read(Request("a=1").size()), Server::Send("HTTP/1.0 200 OK\r\nhalf"),
                   Server::Stall()});
    kwHTTP c;
    Prepare(c, server.Port());
    c.IdleTimeoutMs = 300;
    c.Connect();
    c.WaitUntilDone();
    EXPECT_TRUE(c.TimedOut);
    EXPECT_EQ(c.Replies, Lines{"HTTP/1.0 200 OK"});
    server.Release();
}

TEST(HttpLifecycle, FreeingAConnectedClientSaysQuit) {
    Server server({Server::Read(Request("a=1").size()), Server::Send("HTTP/1.0 200 OK\r\n"),
                   Server::ReadUntilClose()});
    {
        kwHTTP c;
        Prepare(c, server.Port());
        c.Connect();
        while (c.Replies.empty() && !c.Done) {
            platform::waitForMessages(50);
            c.CheckIdle();
        }
        ASSERT_TRUE(c.Connected);
        EXPECT_FALSE(c.Done);
    }
    ASSERT_TRUE(server.WaitDone(2000));
    EXPECT_EQ(server.Received(), Request("a=1") + "QUIT\r\n");
}

TEST(HttpLifecycle, DisconnectEndsTheRequest) {
    Server server({Server::Read(Request("a=1").size()), Server::ReadUntilClose()});
    kwHTTP c;
    Prepare(c, server.Port());
    c.Connect();
    while (!c.Connected && !c.Done) platform::waitForMessages(50);
    c.Disconnect();
    EXPECT_TRUE(c.Done);
    EXPECT_FALSE(c.Connected);
    ASSERT_TRUE(server.WaitDone(2000));
    EXPECT_EQ(server.Received(), Request("a=1") + "QUIT\r\n");
}

TEST(HttpGet, AsksForThePathWithAHostHeaderAndKeepsTheAnswerWhole) {
    const std::string request = "GET /p/a.jpg HTTP/1.0\r\nHost: 127.0.0.1:PORT\r\n"
                                "User-Agent: kwHTTP by m4lte\r\n\r\n";
    const std::string answer("HTTP/1.0 200 OK\r\n\r\n\xFF\xD8\0<br>\r\n\r\n  x", 29);
    // The system picks five-digit ports.
    Server server({Server::Read(request.size() + 1), Server::Send(answer), Server::Close()});
    kwHTTP c;
    Prepare(c, server.Port());
    c.Method = "GET";
    c.Url = "/p/a.jpg";
    c.Connect();
    c.WaitUntilDone();
    ASSERT_TRUE(server.WaitDone(2000));
    std::string expected = request;
    expected.replace(expected.find("PORT"), 4, std::to_string(server.Port()));
    EXPECT_EQ(server.Received(), expected);
    EXPECT_EQ(c.Received, answer);
    EXPECT_TRUE(c.Replies.empty());
}

TEST(HttpGet, AnAnswerPastTheLimitEndsTheRequest) {
    const std::string request = "GET / HTTP/1.0\r\nHost: 127.0.0.1:PORT\r\n"
                                "User-Agent: kwHTTP by m4lte\r\n\r\n";
    // The system picks five-digit ports.
    Server server({Server::Read(request.size() + 1), Server::Send(std::string(300000, 'x')),
                   Server::ReadUntilClose()});
    kwHTTP c;
    Prepare(c, server.Port());
    c.Method = "GET";
    c.Url = "/";
    c.ReceiveLimit = 1000;
    c.Connect();
    c.WaitUntilDone();
    EXPECT_FALSE(c.TimedOut);
    EXPECT_GT(c.Received.size(), 1000u);
    EXPECT_LT(c.Received.size(), 300000u);
    EXPECT_TRUE(server.WaitDone(2000)) << "the client closed the connection";
}

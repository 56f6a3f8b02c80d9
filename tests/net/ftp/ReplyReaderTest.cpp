// The pure pieces: line splitting, reply codes, quoted paths, the passive
// reply and the texts of the data connection.
#include "FtpDataText.h"
#include "FtpReply.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::vector<std::string> Split(const std::vector<std::string>& reads, bool acceptLF) {
    TFtpLineReader r;
    std::vector<std::string> lines;
    std::string line;
    for (const std::string& chunk : reads) {
        std::memcpy(r.WritePos(), chunk.data(), chunk.size());
        r.Commit(int(chunk.size()));
        while (r.NextLine(acceptLF, line)) lines.push_back(line);
    }
    return lines;
}

TEST(FtpLineReader, SplitsLinesAsTheOptionSays) {
    struct Case {
        const char* name;
        std::vector<std::string> reads;
        bool acceptLF;
        std::vector<std::string> lines;
    } cases[] = {
        {"crlf", {"220 a\r\n331 b\r\n"}, false, {"220 a", "331 b"}},
        {"lf only waits without the option", {"331 b\n"}, false, {}},
        {"lf only with the option", {"331 b\n"}, true, {"331 b"}},
        {"trailing CRs dropped", {"230 x\r\r\n"}, true, {"230 x"}},
        {"split across reads", {"22", "0 hel", "lo\r", "\n"}, false, {"220 hello"}},
        {"NUL ends the text, not the line",
         {std::string("220 a\0b\r\n331 c\r\n", 16)},
         false,
         {"220 a", "331 c"}},
        {"empty line", {"\r\n250 ok\r\n"}, false, {"", "250 ok"}},
        {"lone CR is no end", {"200 a\rb\r\n"}, false, {"200 a\rb"}},
    };
    for (const Case& c : cases) EXPECT_EQ(Split(c.reads, c.acceptLF), c.lines) << c.name;
}

TEST(FtpLineReader, ReportsFullOnlyWithoutALineEnd) {
    TFtpLineReader r;
    std::string filler(size_t(r.FreeSpace()), 'x');
    std::memcpy(r.WritePos(), filler.data(), filler.size());
    r.Commit(int(filler.size()));
    EXPECT_EQ(r.FreeSpace(), 0);
    EXPECT_TRUE(r.Full(true));
    r.Clear();
    std::string fits = std::string(4093, 'y') + "\r\n";
    std::memcpy(r.WritePos(), fits.data(), fits.size());
    r.Commit(int(fits.size()));
    EXPECT_FALSE(r.Full(false));
    std::string line;
    ASSERT_TRUE(r.NextLine(false, line));
    EXPECT_EQ(line.size(), 4093u);
    EXPECT_EQ(r.Held(), 0);
}

TEST(FtpReplyParse, IntegersCodesAndQuotedPaths) {
    struct IntCase {
        const char* text;
        int value;
        size_t consumed; // SIZE_MAX: overflow
    } ints[] = {
        {"213 1234", 213, 3}, {"  \t\r\n-42x", -42, 8},       {"+7", 7, 2},
        {"abc", 0, 0},        {"2147483647", 2147483647, 10}, {"99999999999", 0, SIZE_MAX},
    };
    for (const IntCase& c : ints) {
        int v = -1;
        const char* end = ftpreply::ParseInteger(c.text, v);
        if (c.consumed == SIZE_MAX) {
            EXPECT_EQ(end, nullptr) << c.text;
            continue;
        }
        ASSERT_NE(end, nullptr) << c.text;
        EXPECT_EQ(v, c.value) << c.text;
        EXPECT_EQ(size_t(end - c.text), c.consumed) << c.text;
    }

    struct QuoteCase {
        const char* text;
        const char* path;
    } quotes[] = {
        {" \"/pub/x\" created", "/pub/x"},
        {" \"a\"\"b\" is current", "a\"b"},
        {" \"unterminated", "unterminated"},
        {" no quotes", ""},
    };
    for (const QuoteCase& c : quotes) {
        std::string s = "junk";
        ftpreply::ParseQuoted(c.text, s);
        EXPECT_EQ(s, c.path) << c.text;
    }

    struct LineCase {
        const char* line;
        bool hasCode;
        int code;
        bool continuation;
    } lines[] = {
        {"220-Welcome", true, 220, true}, {"220 Welcome", true, 220, false},
        {"Welcome", false, 0, false},     {"", false, 0, false},
        {"530", true, 530, false},        {"99999999999 x", false, 0, false},
    };
    for (const LineCase& c : lines) {
        ftpreply::ReplyLine r = ftpreply::ClassifyLine(c.line);
        EXPECT_EQ(r.HasCode, c.hasCode) << c.line;
        EXPECT_EQ(r.Code, c.code) << c.line;
        EXPECT_EQ(r.Continuation, c.continuation) << c.line;
    }
}

TEST(FtpDataText, PassiveReplies) {
    struct Case {
        const char* reply;
        const char* addr; // nullptr: refused
        uint16_t port;
    } cases[] = {
        {"227 Entering Passive Mode (192,168,1,5,19,137)", "192.168.1.5", 5001},
        {"227 Entering Passive Mode (127,0,0,1,184,97).", "127.0.0.1", 47201},
        {"227 =127,0,0,1,184,97", nullptr, 0},
        {"227 Entering Passive Mode (127,0,0,1,256,1)", nullptr, 0},
        {"227 Entering Passive Mode (300,0,0,1,1,1)", nullptr, 0},
        {"227 Entering Passive Mode (127,0,0,1,1)", nullptr, 0},
        {"227 Entering Passive Mode (127,0,0,1,1,2,3)", nullptr, 0},
        {"227 Entering Passive Mode (127,0,0,1,-1,2)", nullptr, 0},
        {"227 Entering Passive Mode (127,0,0,1,0001,2)", nullptr, 0},
        {"227 (1,2,3,4,5,6", nullptr, 0},
        {"", nullptr, 0},
    };
    for (const Case& c : cases) {
        auto a = ParsePassiveReply(c.reply);
        ASSERT_EQ(a.has_value(), c.addr != nullptr) << c.reply;
        if (!a) continue;
        EXPECT_EQ(a->Addr, c.addr) << c.reply;
        EXPECT_EQ(a->Port, c.port) << c.reply;
    }
}

TEST(FtpDataText, PortCommandAndStatistics) {
    EXPECT_EQ(PortCommandText("127.0.0.1", 5001), "PORT 127,0,0,1,19,137");
    EXPECT_EQ(PortCommandText("10.20.30.40", 255), "PORT 10,20,30,40,0,255");
    EXPECT_EQ(TransferStatsText(250000, 2500),
              "250000 bytes received/sent in 2 seconds (100000 Bytes/sec)");
    EXPECT_EQ(TransferStatsText(1000, 3),
              "1000 bytes received/sent in 0 seconds (333333 Bytes/sec)");
    EXPECT_EQ(TransferStatsText(0, 0), "0 bytes received/sent in 0 seconds");
    // Large counts divide first and do not overflow.
    EXPECT_EQ(TransferStatsText(2000000000, 1000),
              "2000000000 bytes received/sent in 1 seconds (2000000000 Bytes/sec)");
}

} // namespace

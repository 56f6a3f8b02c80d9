// Line mode against a peer that splits its bytes over several reads.
#include "ScriptedTcpServer.h"
#include "SocketTestUtil.h"

#include <gtest/gtest.h>

using Server = ScriptedTcpServer;

namespace {

struct LineClient {
    TWSocket s;
    EventLog log;
    std::vector<std::string> lines;
    bool reads = true;

    explicit LineClient(const Server& peer) {
        log.Attach(s, false);
        s.OnDataAvailable = [this](TCustomWSocket* sender, uint16_t) {
            log.Add("data", 0);
            if (reads) lines.push_back(sender->ReceiveStr());
        };
        s.SetLineMode(true);
        s.SetAddr("127.0.0.1");
        s.SetPort(peer.PortText());
    }
    void Run() {
        s.Connect();
        ASSERT_TRUE(PumpUntil([&] { return log.Has("closed 0"); }));
    }
};

} // namespace

TEST(LineMode, LineEndSplitAcrossReadsGivesOneLineAndKeepsTheRest) {
    Server peer({Server::Send("ab"), Server::Sleep(60), Server::Send("\r"), Server::Sleep(60),
                 Server::Send("\ncd"), Server::Sleep(60), Server::Close()});
    LineClient c(peer);
    std::vector<int> heldAfterFirst;
    c.s.OnDataAvailable = [&](TCustomWSocket* sender, uint16_t) {
        c.lines.push_back(sender->ReceiveStr());
        heldAfterFirst.push_back(c.s.RcvdCnt());
    };
    c.Run();
    // The bytes left at the end of the session come as a last line.
    EXPECT_EQ(c.lines, (std::vector<std::string>{"ab\r\n", "cd"}));
    ASSERT_FALSE(heldAfterFirst.empty());
    EXPECT_EQ(heldAfterFirst[0], 2) << "c and d wait for the next line";
}

TEST(LineMode, SeveralLinesInOneReadComeOneAtATime) {
    Server peer({Server::Send("one\r\ntwo\r\nthree\r\n"), Server::Sleep(60), Server::Close()});
    LineClient c(peer);
    c.Run();
    EXPECT_EQ(c.lines, (std::vector<std::string>{"one\r\n", "two\r\n", "three\r\n"}));
}

TEST(LineMode, OtherLineEndsAndPartialReads) {
    Server peer({Server::Send("alpha|beta|"), Server::Sleep(60), Server::Close()});
    LineClient c(peer);
    c.s.SetLineEnd("|");
    c.s.OnDataAvailable = [&](TCustomWSocket* sender, uint16_t) {
        char part[3];
        const int n = sender->Receive(part, sizeof part);
        if (n > 0) c.lines.push_back(std::string(part, size_t(n)));
    };
    c.Run();
    EXPECT_EQ(c.lines, (std::vector<std::string>{"alp", "ha|", "bet", "a|"}));
}

TEST(LineMode, BackspaceEditingAndEcho) {
    Server peer({Server::Send("abc\bd\r\n"), Server::Read(9), Server::Close()});
    LineClient c(peer);
    c.s.SetLineEdit(true);
    c.s.SetLineEcho(true);
    c.Run();
    EXPECT_EQ(c.lines, std::vector<std::string>{"abd\r\n"});
    EXPECT_EQ(peer.Received(), "abc\b \bd\r\n");
}

TEST(LineMode, LineLimitDiscardsUnlessTheHandlerKeepsTheBytes) {
    Server peer({Server::Send(std::string(20, 'x')), Server::Sleep(60), Server::Send("y\r\n"),
                 Server::Sleep(60), Server::Close()});
    LineClient c(peer);
    c.s.SetLineLimit(10);
    std::vector<int> exceeded;
    c.s.OnLineLimitExceeded = [&](TCustomWSocket*, int length, bool& clear) {
        exceeded.push_back(length);
        clear = true;
    };
    c.Run();
    ASSERT_FALSE(exceeded.empty());
    EXPECT_EQ(exceeded[0], 20);
    EXPECT_EQ(c.lines, std::vector<std::string>{"y\r\n"});
}

TEST(LineMode, HandlerThatReadsNothingDoesNotSpin) {
    Server peer({Server::Send("x\r\ny\r\n"), Server::Sleep(100), Server::Close()});
    LineClient c(peer);
    c.reads = false;
    c.Run();
    // Once per read notice and once at the close, never in a loop.
    EXPECT_GE(c.log.Count("data 0"), 1);
    EXPECT_LE(c.log.Count("data 0"), 6);
}

TEST(LineMode, SwitchingItOffHandsOutTheHeldBytes) {
    Server peer({Server::Send("abc"), Server::Stall(), Server::Close()});
    LineClient c(peer);
    c.s.Connect();
    ASSERT_TRUE(PumpUntil([&] { return c.s.RcvdCnt() == 3; }));
    EXPECT_TRUE(c.lines.empty());
    c.s.SetLineMode(false);
    ASSERT_TRUE(PumpUntil([&] { return !c.lines.empty(); }));
    EXPECT_EQ(c.lines[0], "abc");
    peer.Release();
    ASSERT_TRUE(PumpUntil([&] { return c.log.Has("closed 0"); }));
}

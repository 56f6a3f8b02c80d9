// The send queue against loopback peers that read, stall or reset.
#include "ScriptedTcpServer.h"
#include "SocketTestUtil.h"

#include <gtest/gtest.h>

using Server = ScriptedTcpServer;

namespace {

std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = char('a' + (i * 7 + i / 251) % 26);
    return s;
}

// Connects s to the peer and waits for the session.
void Connected(TWSocket& s, EventLog& log, const Server& peer) {
    log.Attach(s);
    s.SetAddr("127.0.0.1");
    s.SetPort(peer.PortText());
    s.Connect();
    ASSERT_TRUE(PumpUntil([&] { return log.Has("connected 0"); }));
    PumpBriefly(50); // the write notice of the new connection
    log.events.clear();
}

} // namespace

TEST(SendQueue, ThreeThousandBytesGoOutInThreeBlocksAndCompleteLater) {
    Server peer({Server::Read(3000), Server::Stall()});
    TWSocket s;
    EventLog log;
    Connected(s, log, peer);
    const std::string data = Pattern(3000);
    EXPECT_EQ(s.Send(data.data(), int(data.size())), 3000);
    const std::vector<std::string> during = {"senddata 1460", "senddata 1460", "senddata 80"};
    EXPECT_EQ(log.events, during) << "OnDataSent never fires from inside Send";
    ASSERT_EQ(s.SendQueue().size(), 1u);
    int unsent = -1;
    s.SendQueue().front()->Peek(unsent);
    EXPECT_EQ(unsent, 0);
    ASSERT_TRUE(PumpUntil([&] { return log.Has("sent 0"); }));
    EXPECT_EQ(log.Count("sent 0"), 1);
    ASSERT_TRUE(PumpUntil([&] { return peer.Received().size() == 3000; }));
    EXPECT_EQ(peer.Received(), data);
    peer.Release();
}

TEST(SendQueue, EmptySendPostsCompletionButEmptySendStrDoesNothing) {
    Server peer({Server::Stall()});
    TWSocket s;
    EventLog log;
    Connected(s, log, peer);
    EXPECT_EQ(s.SendStr(""), 0);
    PumpBriefly();
    EXPECT_TRUE(log.events.empty());
    EXPECT_EQ(s.Send("", 0), 0);
    ASSERT_TRUE(PumpUntil([&] { return log.Has("sent 0"); }));
    EXPECT_EQ(log.events, std::vector<std::string>{"sent 0"});
    peer.Release();
}

TEST(SendQueue, WouldBlockStillAcceptsEverythingAndFinishesOnWriteNotices) {
    Server peer({Server::Stall(), Server::ReadUntilClose()}, 4096);
    TWSocket s;
    EventLog log;
    Connected(s, log, peer);
    const std::string data = Pattern(4 << 20);
    for (size_t at = 0; at < data.size(); at += 65536)
        ASSERT_EQ(s.Send(data.data() + at, 65536), 65536);
    EXPECT_FALSE(s.AllSent()) << "a peer that does not read fills the system's buffers";
    PumpBriefly();
    EXPECT_FALSE(log.Has("sent 0"));
    peer.Release();
    ASSERT_TRUE(PumpUntil([&] { return log.Has("sent 0"); }, 20000));
    s.Close();
    ASSERT_TRUE(peer.WaitDone(5000));
    EXPECT_EQ(peer.Received().size(), data.size());
    EXPECT_TRUE(peer.Received() == data);
}

TEST(SendQueue, PeerResetEndsTheSessionWithTheCodeAndNoException) {
    Server peer({Server::Read(1), Server::Reset()});
    TWSocket s;
    EventLog log;
    Connected(s, log, peer);
    EXPECT_EQ(s.SendStr("a"), 1);
    ASSERT_TRUE(peer.WaitDone(5000));
    const std::string more = Pattern(100000);
    ASSERT_TRUE(PumpUntil([&] {
        if (s.State() == wsConnected) {
            EXPECT_EQ(RaisedText([&] { s.SendStr(more); }), "");
        }
        return s.State() == wsClosed;
    }));
    PumpBriefly();
    EXPECT_EQ(log.Count("closed 10054"), 1);
    EXPECT_EQ(log.Count("closed 0"), 0);
}

TEST(SendQueue, SendOnAClosedSocketIsRefused) {
    TWSocket s;
    EXPECT_EQ(RaisedText([&] { s.SendStr("x"); }),
              "Error 10057 in function Send\r\nSocket is not connected");
    int errors = 0;
    s.OnError = [&](TCustomWSocket*) { ++errors; };
    EXPECT_EQ(s.SendStr("x"), -1);
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(s.LastError(), 10057);
}

TEST(SendQueue, SendFromOnSendDataDoesNotRepeatBytes) {
    Server peer({Server::Read(3000 + 3), Server::Stall()});
    TWSocket s;
    EventLog log;
    Connected(s, log, peer);
    bool again = true;
    s.OnSendData = [&](TCustomWSocket* sender, int) {
        if (again) {
            again = false;
            sender->SendStr("END");
        }
    };
    const std::string data = Pattern(3000);
    s.Send(data.data(), int(data.size()));
    ASSERT_TRUE(PumpUntil([&] { return peer.Received().size() >= 3003; }));
    PumpBriefly();
    EXPECT_EQ(peer.Received(), data + "END");
    peer.Release();
}

TEST(SendQueue, FlushWaitsUntilTheQueueIsEmpty) {
    Server peer({Server::Sleep(100), Server::ReadUntilClose()}, 4096);
    TWSocket s;
    EventLog log;
    Connected(s, log, peer);
    const std::string data = Pattern(1 << 20);
    s.Send(data.data(), int(data.size()));
    s.Flush();
    EXPECT_TRUE(s.AllSent());
    s.Close();
    ASSERT_TRUE(peer.WaitDone(5000));
    EXPECT_EQ(peer.Received().size(), data.size());
}

TEST(SendQueue, CloseLaterAfterALargeSendDeliversEveryByteWithoutAReset) {
    // The upload's end of file: queue everything, then close with lingering
    // off. The peer reads slowly so most bytes are still in the system.
    const std::string data = Pattern(2 * 1024 * 1024);
    for (TSocketLingerOnOff linger : {wsLingerOff, wsLingerOn}) {
        Server peer({Server::Sleep(200), Server::ReadUntilClose()}, 16384);
        TWSocket s;
        EventLog log;
        Connected(s, log, peer);
        s.SetLingerOnOff(linger);
        s.ApplyLinger();
        s.Send(data.data(), int(data.size()));
        s.OnDataSent = [&](TCustomWSocket* x, uint16_t) { x->CloseLater(); };
        ASSERT_TRUE(PumpUntil([&] { return s.State() == wsClosed; }, 20000));
        ASSERT_TRUE(peer.WaitDone(20000));
        EXPECT_EQ(peer.Received().size(), data.size()) << "linger " << int(linger);
        EXPECT_TRUE(peer.Received() == data) << "linger " << int(linger);
    }
}

TEST(SendQueue, AbortResetsTheConnection) {
    Server peer({Server::Sleep(200), Server::ReadUntilClose()}, 16384);
    TWSocket s;
    EventLog log;
    Connected(s, log, peer);
    const std::string data = Pattern(2 * 1024 * 1024);
    s.Send(data.data(), int(data.size()));
    s.Abort();
    ASSERT_TRUE(peer.WaitDone(20000));
    EXPECT_LT(peer.Received().size(), data.size()) << "queued bytes are dropped";
}

TEST(SendQueue, APeerClosingPartWayEndsTheSessionOnceAtEveryOffset) {
    // One large send (handed over from the caller's memory, the rest queued)
    // and a small one behind it, to a peer that takes 2^k bytes and leaves.
    const std::string data = Pattern(4 << 20);
    const std::string tail = Pattern(3000);
    for (size_t offset = 1; offset <= data.size() / 2; offset *= 2) {
        SCOPED_TRACE("peer leaves after " + std::to_string(offset) + " bytes");
        Server peer({Server::Read(offset), Server::Close()}, 4096);
        TWSocket s;
        EventLog log;
        Connected(s, log, peer);
        std::vector<std::string> raised;
        s.OnBgException = [&](TCustomWSocket*, const std::exception& e, bool&) {
            raised.push_back(e.what());
        };
        std::string during;
        during += RaisedText([&] { s.Send(data.data(), int(data.size())); });
        if (s.State() == wsConnected) during += RaisedText([&] { s.SendStr(tail); });
        EXPECT_EQ(during, "");
        ASSERT_TRUE(PumpUntil([&] { return s.State() == wsClosed; }, 20000));
        PumpBriefly(50);
        EXPECT_TRUE(raised.empty()) << raised.front();
        int closes = 0;
        for (const auto& e : log.events) closes += e.rfind("closed ", 0) == 0;
        EXPECT_EQ(closes, 1);
        ASSERT_TRUE(peer.WaitDone(5000));
        EXPECT_TRUE(peer.Received() == data.substr(0, offset));
    }
}

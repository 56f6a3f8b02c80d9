// Connecting, receiving and closing against real loopback peers.
#include "ScriptedTcpServer.h"
#include "SocketTestUtil.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using Server = ScriptedTcpServer;

namespace {

std::string RefusingPort() {
    return std::to_string(UnusedLoopbackPort());
}

void ConnectTo(TWSocket& s, const std::string& port) {
    s.SetAddr("127.0.0.1");
    s.SetPort(port);
    s.Connect();
}

} // namespace

TEST(ConnectArguments, MissingPortOrAddressAreReported) {
    TWSocket s;
    EXPECT_EQ(RaisedText([&] { s.Connect(); }), "Connect: No Port Specified");
    s.SetPort("80");
    EXPECT_EQ(RaisedText([&] { s.Connect(); }), "Connect: No IP Address Specified");
    s.SetProto("");
    s.SetAddr("127.0.0.1");
    EXPECT_EQ(RaisedText([&] { s.Connect(); }), "Connect: No Protocol Specified");
    s.SetProto("tcp");
    s.SetAddr("no-such-host.invalid");
    EXPECT_EQ(RaisedText([&] { s.Connect(); }),
              "connect: WSocketResolveHost: Cannot convert host address 'no-such-host.invalid', "
              "Error #11001");
    EXPECT_EQ(s.State(), wsClosed);
}

TEST(ConnectArguments, AddressTextIsTrimmed) {
    TWSocket s;
    s.SetAddr(" 10.0.0.1 ");
    EXPECT_EQ(s.Addr(), "10.0.0.1");
}

TEST(ConnectArguments, OnErrorReplacesTheException) {
    TWSocket s;
    int errors = 0;
    s.OnError = [&](TCustomWSocket*) { ++errors; };
    EXPECT_EQ(RaisedText([&] { s.Connect(); }), "");
    EXPECT_EQ(errors, 1);
}

TEST(ConnectLifecycle, RefusedConnectionReportsTheCodeThenCloses) {
    TWSocket s;
    EventLog log;
    log.Attach(s);
    ConnectTo(s, RefusingPort());
    EXPECT_EQ(s.State(), wsConnecting);
    ASSERT_TRUE(PumpUntil([&] { return log.Has("closed 0"); }));
    const std::vector<std::string> expected = {
        "state wsClosed>wsOpened", "state wsOpened>wsConnecting", "state wsConnecting>wsConnected",
        "connected 10061",         "state wsConnected>wsClosed",  "closed 0"};
    EXPECT_EQ(log.events, expected);
    EXPECT_EQ(s.State(), wsClosed);
    PumpBriefly();
    EXPECT_EQ(log.events.size(), expected.size()) << "nothing after the session ended";
}

TEST(ConnectLifecycle, OrderlyPeerCloseGivesDataThenOneClose) {
    Server peer({Server::Send("hello"), Server::Close()});
    TWSocket s;
    EventLog log;
    log.Attach(s, false);
    std::string got;
    s.OnDataAvailable = [&](TCustomWSocket* sender, uint16_t) {
        log.Add("data", 0);
        got += sender->ReceiveStr();
    };
    ConnectTo(s, peer.PortText());
    ASSERT_TRUE(PumpUntil([&] { return log.Has("closed 0"); }));
    EXPECT_EQ(got, "hello");
    EXPECT_EQ(s.ReadCount(), 0) << "reset after the session";
    EXPECT_EQ(log.Count("closed 0"), 1);
    EXPECT_LT(log.IndexOf("connected 0"), log.IndexOf("data 0"));
    EXPECT_LT(log.IndexOf("data 0"), log.IndexOf("closed 0"));
    EXPECT_EQ(log.events.back(), "state wsConnected>wsClosed");
    PumpBriefly();
    EXPECT_EQ(log.Count("closed 0"), 1);
}

TEST(ConnectLifecycle, PeerAddressAndSessionRulesWhileConnected) {
    Server peer({Server::Stall()});
    TWSocket s;
    bool connected = false;
    s.OnSessionConnected = [&](TCustomWSocket*, uint16_t e) { connected = e == 0; };
    ConnectTo(s, peer.PortText());
    ASSERT_TRUE(PumpUntil([&] { return connected; }));
    EXPECT_EQ(s.PeerAddr(), "127.0.0.1");
    EXPECT_EQ(s.PeerPort(), peer.PortText());
    EXPECT_EQ(RaisedText([&] { s.SetPort(peer.PortText()); }), "") << "same text is accepted";
    EXPECT_EQ(RaisedText([&] { s.SetPort("1"); }), "Cannot change Port if not closed");
    EXPECT_EQ(RaisedText([&] { s.SetAddr("10.0.0.1"); }), "Cannot change Addr if not closed");
    EXPECT_EQ(RaisedText([&] { s.SetLocalPort("5"); }), "Cannot change LocalPort if not closed");
    EXPECT_EQ(RaisedText([&] { s.Connect(); }), "Connect: Socket already in use");
    EXPECT_NE(s.GetBoundPort(), "error");
    peer.Release();
    s.Close();
    EXPECT_EQ(s.State(), wsClosed);
    // The texts stay, but a new session must assign them again.
    EXPECT_EQ(s.Addr(), "127.0.0.1");
    EXPECT_EQ(RaisedText([&] { s.Connect(); }), "Connect: No Port Specified");
}

TEST(ConnectLifecycle, CloseOfAClosedSocketFiresNothing) {
    TWSocket s;
    EventLog log;
    log.Attach(s);
    s.Close();
    s.Abort();
    EXPECT_TRUE(log.events.empty());
}

TEST(ConnectLifecycle, DataIsDrainedWhenNoHandlerIsAssigned) {
    Server peer({Server::Send(std::string(5000, 'x')), Server::Close()});
    TWSocket s;
    EventLog log;
    log.Attach(s, false);
    ConnectTo(s, peer.PortText());
    ASSERT_TRUE(PumpUntil([&] { return log.Has("closed 0"); }))
        << "the close notice only follows once the data has been read";
}

TEST(ConnectLifecycle, HandlerThatReadsNothingIsNotCalledAgainAndAgain) {
    Server peer({Server::Send(std::string(100, 'x')), Server::Stall()});
    TWSocket s;
    int calls = 0;
    s.OnDataAvailable = [&](TCustomWSocket* x, uint16_t) {
        // Reads at last so that a looping socket still comes back.
        if (++calls == 1000) x->ReceiveStr();
    };
    ConnectTo(s, peer.PortText());
    ASSERT_TRUE(PumpUntil([&] { return calls > 0; }));
    PumpBriefly();
    EXPECT_LE(calls, 2);
    peer.Release();
}

TEST(ConnectLifecycle, StaleNoticeOfAnEarlierHandleIsIgnored) {
    Server peer({Server::Stall()});
    TWSocket s;
    EventLog log;
    log.Attach(s);
    ConnectTo(s, peer.PortText());
    ASSERT_TRUE(PumpUntil([&] { return log.Has("connected 0"); }));
    const size_t before = log.events.size();
    platform::postMessage(s.WindowHandle(), WM_SOCKET_EVENT, s.HSocket() + 1000,
                          platform::FD_CLOSE | platform::FD_READ);
    PumpBriefly();
    EXPECT_EQ(log.events.size(), before);
    EXPECT_EQ(s.State(), wsConnected);
    peer.Release();
}

// The system gives a closed descriptor number to the next socket at once;
// what was queued for the closed session must not reach the next one.
TEST(ConnectLifecycle, QueuedNoticesOfAClosedSessionSkipTheNextOnTheSameDescriptor) {
    Server first({Server::Send("x"), Server::Close()});
    Server second({Server::Stall()});
    TWSocket s;
    EventLog log;
    log.Attach(s);
    int reads = 0;
    TSocket firstHandle = INVALID_SOCKET;
    s.OnDataAvailable = [&](TCustomWSocket* x, uint16_t) {
        if (++reads > 1) return;
        // Queued behind this notice: the close notice of this session, the
        // completion of the empty send and the CloseLater.
        PumpBriefly(50);
        x->Send(nullptr, 0);
        x->CloseLater();
        x->Close();
        log.events.clear();
        ConnectTo(s, second.PortText());
        EXPECT_EQ(s.HSocket(), firstHandle) << "the number is reused";
    };
    s.OnSessionConnected = [&](TCustomWSocket* x, uint16_t e) {
        if (firstHandle == INVALID_SOCKET) firstHandle = x->HSocket();
        log.Add("connected", e);
    };
    ConnectTo(s, first.PortText());
    ASSERT_TRUE(PumpUntil([&] { return log.Has("connected 0") && reads > 0; }));
    PumpBriefly(200);
    EXPECT_EQ(s.State(), wsConnected);
    EXPECT_EQ(log.Count("closed 0"), 0);
    EXPECT_EQ(log.IndexOf("sent 0"), log.IndexOf("connected 0") + 1)
        << "only the new session's own write notice";
    second.Release();
}

TEST(ConnectLifecycle, RetryFromAFailedConnectHandlerKeepsTheNewSession) {
    const std::string refusing = RefusingPort();
    Server peer({Server::Stall()});
    TWSocket s;
    std::vector<uint16_t> results;
    s.OnSessionConnected = [&](TCustomWSocket* x, uint16_t e) {
        results.push_back(e);
        if (e == 0) return;
        x->Close();
        ConnectTo(s, peer.PortText());
    };
    ConnectTo(s, refusing);
    ASSERT_TRUE(PumpUntil([&] { return results.size() == 2; }));
    PumpBriefly();
    EXPECT_EQ(results, (std::vector<uint16_t>{10061, 0}));
    EXPECT_EQ(s.State(), wsConnected);
    peer.Release();
}

TEST(ConnectLifecycle, HandlerMayDestroyItsSocketInsideAnEvent) {
    Server peer({Server::Send("x"), Server::Stall()});
    auto s = std::make_unique<TWSocket>();
    int calls = 0;
    s->OnDataAvailable = [&](TCustomWSocket*, uint16_t) {
        ++calls;
        s.reset();
    };
    s->SetAddr("127.0.0.1");
    s->SetPort(peer.PortText());
    s->Connect();
    ASSERT_TRUE(PumpUntil([&] { return s == nullptr; }));
    PumpBriefly();
    EXPECT_EQ(calls, 1);
    peer.Release();
}

TEST(ConnectLifecycle, ExceptionInAMessageGoesToOnBgException) {
    TWSocket s;
    std::string seen;
    s.OnBgException = [&](TCustomWSocket*, const std::exception& e, bool&) { seen = e.what(); };
    platform::postMessage(s.WindowHandle(), WM_SOCKET_TEST_EXCEPTION, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return !seen.empty(); }));
    EXPECT_EQ(seen, "Test exception in WSocket");
}

TEST(ConnectLifecycle, CloseLaterAndFreeLaterRunFromTheLoop) {
    Server peer({Server::Stall()});
    const int before = TCustomWSocket::SocketCount();
    auto* s = new TWSocket;
    EXPECT_EQ(TCustomWSocket::SocketCount(), before + 1);
    EventLog log;
    log.Attach(*s);
    ConnectTo(*s, peer.PortText());
    ASSERT_TRUE(PumpUntil([&] { return log.Has("connected 0"); }));
    s->CloseLater();
    EXPECT_EQ(s->State(), wsConnected) << "not at once";
    ASSERT_TRUE(PumpUntil([&] { return log.Has("closed 0"); }));
    s->FreeLater();
    ASSERT_TRUE(PumpUntil([&] { return TCustomWSocket::SocketCount() == before; }));
    peer.Release();
}

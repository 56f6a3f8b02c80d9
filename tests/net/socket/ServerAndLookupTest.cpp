// Lookups, listening, accepting and handing a connection to another socket.
#include "SocketTestUtil.h"
#include "WSocketResolve.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

struct LookupLog {
    std::vector<int> codes;
    void Attach(TWSocket& s) {
        s.OnDnsLookupDone = [this](TCustomWSocket*, uint16_t e) { codes.push_back(e); };
    }
};

} // namespace

TEST(DnsLookup, DottedAddressIsAnsweredBeforeTheCallReturns) {
    TWSocket s;
    LookupLog log;
    log.Attach(s);
    s.DnsLookup(" 10.0.0.1");
    EXPECT_EQ(log.codes, std::vector<int>{0});
    EXPECT_EQ(s.DnsResult(), "10.0.0.1");
    EXPECT_EQ(s.DnsResultList(), std::vector<std::string>{"10.0.0.1"});
}

TEST(DnsLookup, NamesAreLookedUpAsynchronously) {
    TWSocket s;
    LookupLog log;
    log.Attach(s);
    s.DnsLookup("localhost");
    EXPECT_TRUE(log.codes.empty());
    ASSERT_TRUE(PumpUntil([&] { return !log.codes.empty(); }));
    EXPECT_EQ(log.codes, std::vector<int>{0});
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");
    ASSERT_FALSE(s.DnsResultList().empty());
    EXPECT_EQ(s.DnsResultList().front(), s.DnsResult());

    // All ones is not taken as an answer; it goes to the resolver.
    log.codes.clear();
    s.DnsLookup("255.255.255.255");
    EXPECT_TRUE(log.codes.empty());
    ASSERT_TRUE(PumpUntil([&] { return !log.codes.empty(); }));
}

TEST(DnsLookup, UnknownNameReportsHostNotFound) {
    TWSocket s;
    LookupLog log;
    log.Attach(s);
    s.DnsLookup("no-such-host.invalid");
    ASSERT_TRUE(PumpUntil([&] { return !log.codes.empty(); }));
    EXPECT_EQ(log.codes, std::vector<int>{11001});
    EXPECT_EQ(s.DnsResult(), "");
    EXPECT_TRUE(s.DnsResultList().empty());
}

TEST(DnsLookup, SecondLookupCancelsTheFirstSilentlyAndCancelReports10004) {
    TWSocket s;
    LookupLog log;
    log.Attach(s);
    s.DnsLookup("no-such-host.invalid");
    s.DnsLookup("localhost");
    ASSERT_TRUE(PumpUntil([&] { return !log.codes.empty(); }));
    PumpBriefly(200);
    EXPECT_EQ(log.codes, std::vector<int>{0}) << "only the second lookup answers";
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");

    log.codes.clear();
    s.DnsLookup("localhost");
    s.CancelDnsLookup();
    EXPECT_EQ(log.codes, std::vector<int>{10004});
    PumpBriefly(200);
    EXPECT_EQ(log.codes, std::vector<int>{10004}) << "a cancelled lookup never answers";
    s.CancelDnsLookup();
    EXPECT_EQ(log.codes.size(), 1u) << "nothing to cancel";
}

TEST(DnsLookup, EmptyNamesAreRefused) {
    TWSocket s;
    EXPECT_EQ(RaisedText([&] { s.DnsLookup(""); }), "DNS lookup: invalid host name.");
    EXPECT_EQ(RaisedText([&] { s.ReverseDnsLookup(""); }), "ReverseDnsLookup: Invalid host name.");
    LookupLog log;
    log.Attach(s);
    s.OnError = [](TCustomWSocket*) {};
    s.DnsLookup("");
    EXPECT_EQ(log.codes, std::vector<int>{10022});
}

TEST(DnsLookup, ReverseLookupGivesTheHostName) {
    TWSocket s;
    LookupLog log;
    log.Attach(s);
    s.ReverseDnsLookup("127.0.0.1");
    ASSERT_TRUE(PumpUntil([&] { return !log.codes.empty(); }));
    ASSERT_EQ(log.codes, std::vector<int>{0});
    EXPECT_FALSE(s.DnsResult().empty());
    EXPECT_EQ(s.DnsResultList().size(), 1u);
}

TEST(Listening, RefusesWithoutAddressingAndOnClosedSockets) {
    TWSocket s;
    EXPECT_EQ(RaisedText([&] { s.Listen(); }),
              "Error 10022 in function listen: port not assigned\r\nInvalid argument");
    s.SetPort("0");
    EXPECT_EQ(RaisedText([&] { s.Listen(); }),
              "Error 10022 in function listen: address not assigned\r\nInvalid argument");
    EXPECT_EQ(RaisedText([&] { s.Accept(); }),
              "Error 10022 in function not a listening socket\r\nInvalid argument");
    EXPECT_EQ(s.GetBoundAddr(), "error");
    EXPECT_EQ(s.GetBoundPort(), "error");
    EXPECT_EQ(RaisedText([&] { s.Dup(INVALID_SOCKET); }),
              "Error 10022 in function Dup\r\nInvalid argument");
}

// A listener that accepts into a second socket, and a client; the three hold
// a conversation.
TEST(Listening, AcceptAndDupCarryAWholeConversation) {
    TWSocket server;
    EventLog serverLog;
    std::unique_ptr<TWSocket> session;
    EventLog sessionLog;
    std::string sessionGot;
    server.OnChangeState = [&](TCustomWSocket*, TSocketState o, TSocketState n) {
        serverLog.events.push_back(std::string(SocketStateName(o)) + ">" + SocketStateName(n));
    };
    server.OnSessionAvailable = [&](TCustomWSocket* sender, uint16_t e) {
        ASSERT_EQ(e, 0);
        session = std::make_unique<TWSocket>();
        sessionLog.Attach(*session, false);
        session->OnDataAvailable = [&](TCustomWSocket* me, uint16_t) {
            sessionGot += me->ReceiveStr();
            if (sessionGot == "HELLO\r\n") me->SendStr("WELCOME\r\n");
            if (sessionGot == "HELLO\r\nBYE\r\n") me->Close();
        };
        session->Dup(sender->Accept());
    };
    server.SetAddr("127.0.0.1");
    server.SetPort("0");
    server.Listen();
    ASSERT_EQ(server.State(), wsListening);
    EXPECT_EQ(serverLog.events,
              (std::vector<std::string>{"wsClosed>wsBound", "wsBound>wsListening"}));
    const std::string port = server.GetBoundPort();
    ASSERT_NE(port, "error");
    ASSERT_NE(port, "0");
    EXPECT_EQ(server.GetBoundAddr(), "127.0.0.1");
    platform::SockAddrIn name;
    ASSERT_EQ(server.GetSockName(name), 0);
    EXPECT_EQ(std::to_string(platform::netToHost16(name.port)), port);

    TWSocket client;
    EventLog clientLog;
    std::string clientGot;
    clientLog.Attach(client, false);
    client.OnDataAvailable = [&](TCustomWSocket* me, uint16_t) {
        clientGot += me->ReceiveStr();
        if (clientGot == "WELCOME\r\n") me->SendStr("BYE\r\n");
    };
    client.OnSessionConnected = [&](TCustomWSocket* me, uint16_t e) {
        clientLog.Add("connected", e);
        me->SendStr("HELLO\r\n");
    };
    client.SetAddr("127.0.0.1");
    client.SetPort(port);
    client.Connect();
    ASSERT_TRUE(PumpUntil([&] { return clientLog.Has("closed 0") && sessionLog.Has("closed 0"); }));
    EXPECT_EQ(sessionGot, "HELLO\r\nBYE\r\n");
    EXPECT_EQ(clientGot, "WELCOME\r\n");
    ASSERT_FALSE(sessionLog.events.empty());
    EXPECT_EQ(sessionLog.events.front(), "state wsClosed>wsConnected");
    EXPECT_FALSE(sessionLog.Has("connected 0")) << "an adopted handle is connected at once";
    EXPECT_EQ(server.State(), wsListening);
    server.Close();
    EXPECT_EQ(server.State(), wsClosed);
}

// What the FTP client's data connections rely on.
TEST(Listening, AdoptedHandleReportsRoomToSendOnceAndALocalShutdownCloses) {
    TWSocket server;
    std::unique_ptr<TWSocket> session;
    EventLog sessionLog;
    server.OnSessionAvailable = [&](TCustomWSocket* sender, uint16_t) {
        session = std::make_unique<TWSocket>();
        sessionLog.Attach(*session);
        session->Dup(sender->Accept());
    };
    server.SetAddr("127.0.0.1");
    server.SetPort("0");
    server.Listen();
    TWSocket client;
    EventLog clientLog;
    clientLog.Attach(client);
    client.SetAddr("127.0.0.1");
    client.SetPort(server.GetBoundPort());
    client.Connect();
    ASSERT_TRUE(PumpUntil([&] { return sessionLog.Has("sent 0"); }));
    PumpBriefly();
    EXPECT_EQ(sessionLog.Count("sent 0"), 1);

    session->Shutdown(2);
    ASSERT_TRUE(PumpUntil([&] { return sessionLog.Has("closed 0"); }));
    EXPECT_EQ(session->State(), wsClosed);
    EXPECT_EQ(sessionLog.Count("closed 0"), 1);
    ASSERT_TRUE(PumpUntil([&] { return clientLog.Has("closed 0"); }));
}

TEST(DnsLookup, OnlyIPv4AddressesAreLookedUp) {
    // An IPv6 address names no IPv4 host; a name with only IPv6 addresses
    // gives 11004 (no data) the same way.
    EXPECT_EQ(RaisedText([] { WSocketResolveHost("::1"); }),
              "WSocketResolveHost: Cannot convert host address '::1', Error #11001");
}

TEST(Listening, PauseHoldsNoticesUntilResume) {
    TWSocket server;
    int available = 0;
    server.OnSessionAvailable = [&](TCustomWSocket* sender, uint16_t) {
        ++available;
        platform::closeSocket(sender->Accept());
    };
    server.SetAddr("127.0.0.1");
    server.SetPort("0");
    server.Listen();
    server.Pause();
    TWSocket client;
    client.SetAddr("127.0.0.1");
    client.SetPort(server.GetBoundPort());
    client.Connect();
    PumpBriefly(200);
    EXPECT_EQ(available, 0);
    server.Resume();
    ASSERT_TRUE(PumpUntil([&] { return available == 1; }));
}

TEST(SyncWait, ReturnsWhenAHandlerSetsTheFlagAndTimesOutOtherwise) {
    TWSocket s;
    s.SetSyncTimeout(5000); // the watchdog
    bool done = true;
    s.OnDnsLookupDone = [&](TCustomWSocket*, uint16_t) { done = true; };
    EXPECT_EQ(s.Synchronize([&] { s.DnsLookup("localhost"); }, done), 0);
    EXPECT_TRUE(done);
    bool never = false;
    s.SetSyncTimeout(100);
    EXPECT_EQ(s.WaitUntilReady(never), TCustomSyncWSocket::WaitTimedOut);
}

// The exact texts of the errors the socket chain raises, reached with real
// loopback sockets, and the state each failure leaves behind.
#include "ScriptedTcpServer.h"
#include "SocketTestUtil.h"

#include <gtest/gtest.h>

using Server = ScriptedTcpServer;

namespace {

// A socket listening on 127.0.0.1 at a port the system chose; it holds that
// port for as long as it lives.
void ListenOnFreePort(TWSocket& s) {
    s.SetAddr("127.0.0.1");
    s.SetPort("0");
    s.Listen();
}

void ConnectTo(TWSocket& s, const std::string& port) {
    s.SetAddr("127.0.0.1");
    s.SetPort(port);
    s.Connect();
}

} // namespace

// ---- property setters on an open socket ------------------------------------

TEST(ErrorTextWhileConnected, SettersRefuseAndTheSessionGoesOn) {
    Server peer({Server::Read(4), Server::Send("pong"), Server::ReadUntilClose()});
    TWSocket s;
    bool connected = false;
    std::string got;
    s.OnSessionConnected = [&](TCustomWSocket*, uint16_t e) { connected = e == 0; };
    s.OnDataAvailable = [&](TCustomWSocket* me, uint16_t) { got += me->ReceiveStr(); };
    ConnectTo(s, peer.PortText());
    ASSERT_TRUE(PumpUntil([&] { return connected; }));
    ASSERT_EQ(s.State(), wsConnected);

    EXPECT_EQ(RaisedText([&] { s.SetProto("tcp"); }), "") << "same text is accepted";
    EXPECT_EQ(RaisedText([&] { s.SetProto("udp"); }), "Cannot change Proto if not closed");
    EXPECT_EQ(RaisedText([&] { s.SetLocalAddr("127.0.0.1"); }),
              "Cannot change LocalAddr if not closed");
    EXPECT_EQ(RaisedText([&] { s.SetLocalAddr(""); }), "Cannot change LocalAddr if not closed");
    EXPECT_EQ(RaisedText([&] { s.SetSocksLevel("4"); }), "Can't change socks level if not closed")
        << "the state is checked before the value";
    EXPECT_EQ(RaisedText([&] { s.SetSocksLevel("9"); }), "Can't change socks level if not closed");
    EXPECT_EQ(RaisedText([&] { s.SetSocksServer("127.0.0.1"); }),
              "Can't change socks server if not closed");
    EXPECT_EQ(RaisedText([&] { s.SetSocksPort("1080"); }), "Can't change socks port if not closed");

    // Nothing was changed, and the session still carries data both ways.
    EXPECT_EQ(s.Proto(), "tcp");
    EXPECT_EQ(s.LocalAddr(), "0.0.0.0");
    EXPECT_EQ(s.SocksLevel(), "5");
    EXPECT_EQ(s.SocksServer(), "");
    EXPECT_EQ(s.SocksPort(), "");
    EXPECT_EQ(s.State(), wsConnected);
    EXPECT_EQ(s.SendStr("ping"), 4);
    ASSERT_TRUE(PumpUntil([&] { return got == "pong"; }));
    s.Close();
    EXPECT_EQ(s.State(), wsClosed);
    ASSERT_TRUE(peer.WaitDone(5000));
    EXPECT_EQ(peer.Received(), "ping");
}

TEST(ErrorTextWhileListening, SettersRefuseOnAListener) {
    TWSocket server;
    ListenOnFreePort(server);
    ASSERT_EQ(server.State(), wsListening);
    EXPECT_EQ(RaisedText([&] { server.SetProto("udp"); }), "Cannot change Proto if not closed");
    EXPECT_EQ(RaisedText([&] { server.SetLocalAddr("127.0.0.1"); }),
              "Cannot change LocalAddr if not closed");
    EXPECT_EQ(server.State(), wsListening);
    EXPECT_NE(server.GetBoundPort(), "error");
    server.Close();
    EXPECT_EQ(server.State(), wsClosed);
}

// ---- linger ----------------------------------------------------------------

TEST(ErrorTextLinger, ApplyLingerNeedsAHandle) {
    TWSocket s;
    ASSERT_EQ(s.HSocket(), INVALID_SOCKET);
    EXPECT_EQ(RaisedText([&] { s.ApplyLinger(); }), "Cannot set linger option at this time");
    s.SetLingerOnOff(wsLingerOff);
    EXPECT_EQ(RaisedText([&] { s.ApplyLinger(); }), "Cannot set linger option at this time");
    s.SetLingerOnOff(wsLingerNoSet);
    EXPECT_EQ(RaisedText([&] { s.ApplyLinger(); }), "") << "nothing to set";
    EXPECT_EQ(s.State(), wsClosed);

    // With a handle the same call succeeds.
    Server peer({Server::Stall()});
    TWSocket c;
    bool connected = false;
    c.OnSessionConnected = [&](TCustomWSocket*, uint16_t e) { connected = e == 0; };
    ConnectTo(c, peer.PortText());
    ASSERT_TRUE(PumpUntil([&] { return connected; }));
    c.SetLingerTimeout(1);
    EXPECT_EQ(RaisedText([&] { c.ApplyLinger(); }), "");
    peer.Release();
    c.Close();
}

// ---- binding ---------------------------------------------------------------

TEST(ErrorTextBind, LocalPortHeldByAListenerFailsTheConnect) {
    TWSocket holder;
    ListenOnFreePort(holder);
    ASSERT_EQ(holder.State(), wsListening);
    const std::string held = holder.GetBoundPort();
    ASSERT_NE(held, "error");

    TWSocket s;
    EventLog log;
    log.Attach(s);
    s.SetLocalAddr("127.0.0.1");
    s.SetLocalPort(held);
    s.SetAddr("127.0.0.1");
    s.SetPort(held);
    EXPECT_EQ(RaisedText([&] { s.Connect(); }), "winsock.bind failed, error #10048");
    // The handle stays open in wsOpened until the socket is closed.
    EXPECT_EQ(s.State(), wsOpened);
    EXPECT_NE(s.HSocket(), INVALID_SOCKET);
    EXPECT_FALSE(log.Has("connected 0"));
    EXPECT_EQ(RaisedText([&] { s.Connect(); }), "Connect: Socket already in use");
    s.Close();
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_EQ(s.HSocket(), INVALID_SOCKET);
    EXPECT_EQ(s.LocalAddr(), "0.0.0.0") << "reset by the close";
    EXPECT_EQ(s.LocalPort(), "0");

    // The socket is usable again: without a local port it connects.
    log.events.clear();
    ConnectTo(s, held);
    ASSERT_TRUE(PumpUntil([&] { return log.Has("connected 0"); }));
    EXPECT_EQ(s.State(), wsConnected);
    s.Close();
    EXPECT_EQ(holder.State(), wsListening);
}

TEST(ErrorTextBind, ListenOnAPortAlreadyListenedOn) {
    TWSocket holder;
    ListenOnFreePort(holder);
    const std::string held = holder.GetBoundPort();
    ASSERT_NE(held, "error");

    TWSocket s;
    EventLog log;
    log.Attach(s);
    s.SetAddr("127.0.0.1");
    s.SetPort(held);
    const int descriptors = OpenDescriptorCount();
    EXPECT_EQ(RaisedText([&] { s.Listen(); }),
              "Error 10048 in function Bind\r\nAddress already in use");
    EXPECT_EQ(s.LastError(), 10048);
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_EQ(s.HSocket(), INVALID_SOCKET);
    EXPECT_EQ(OpenDescriptorCount(), descriptors) << "the handle of the failed bind is released";
    EXPECT_TRUE(log.events.empty()) << "no state change before the bind";

    // The same socket can still listen on a free port.
    s.SetPort("0");
    s.Listen();
    EXPECT_EQ(s.State(), wsListening);
    EXPECT_NE(s.GetBoundPort(), held);
    s.Close();
    EXPECT_EQ(holder.State(), wsListening);
}

TEST(ErrorTextBind, WithOnErrorTheBindFailureFiresOnErrorInstead) {
    TWSocket holder;
    ListenOnFreePort(holder);
    const std::string held = holder.GetBoundPort();
    ASSERT_NE(held, "error");

    TWSocket s;
    int errors = 0;
    s.OnError = [&](TCustomWSocket* sender) {
        ++errors;
        EXPECT_EQ(sender, &s);
    };
    s.SetAddr("127.0.0.1");
    s.SetPort(held);
    EXPECT_EQ(RaisedText([&] { s.Listen(); }), "");
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(s.LastError(), 10048) << "the code tells the cause";
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_EQ(holder.State(), wsListening);
}

// ---- listening -------------------------------------------------------------

TEST(ErrorTextListen, MissingProtocolIsReportedBeforeMissingAddress) {
    TWSocket s;
    s.SetPort("0");
    s.SetProto("");
    EXPECT_EQ(RaisedText([&] { s.Listen(); }),
              "Error 10022 in function listen: protocol not assigned\r\nInvalid argument");
    s.SetAddr("127.0.0.1");
    EXPECT_EQ(RaisedText([&] { s.Listen(); }),
              "Error 10022 in function listen: protocol not assigned\r\nInvalid argument");
    EXPECT_EQ(s.LastError(), 10022);
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_EQ(s.HSocket(), INVALID_SOCKET);

    s.SetProto("tcp");
    s.Listen();
    EXPECT_EQ(s.State(), wsListening);
    s.Close();
}

// A handler that starts a connect on the freshly bound handle makes the
// system refuse to listen on it.
TEST(ErrorTextListen, SystemRefusalToListenLeavesTheSocketBound) {
    TWSocket target;
    ListenOnFreePort(target);
    const std::string targetPort = target.GetBoundPort();
    ASSERT_NE(targetPort, "error");

    TWSocket s;
    std::vector<std::string> states;
    s.OnChangeState = [&](TCustomWSocket* me, TSocketState, TSocketState n) {
        states.push_back(SocketStateName(n));
        if (n != wsBound) return;
        platform::SockAddrIn to;
        to.addr = platform::textToAddress("127.0.0.1");
        to.port = platform::hostToNet16(uint16_t(std::stoi(targetPort)));
        platform::connectSocket(me->HSocket(), to);
    };
    s.SetAddr("127.0.0.1");
    s.SetPort("0");
    EXPECT_EQ(RaisedText([&] { s.Listen(); }),
              "Error 10022 in function Listen\r\nInvalid argument");
    EXPECT_EQ(s.LastError(), 10022);
    EXPECT_EQ(s.State(), wsBound);
    EXPECT_NE(s.HSocket(), INVALID_SOCKET);
    EXPECT_EQ(states, std::vector<std::string>{"wsBound"});
    s.Close();
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_EQ(s.HSocket(), INVALID_SOCKET);
}

// ---- SOCKS -----------------------------------------------------------------

TEST(ErrorTextSocks, InvalidLevelsAreRefusedAndTheLevelKept) {
    TWSocket s;
    EXPECT_EQ(RaisedText([&] { s.SetSocksLevel("4B"); }),
              "Invalid socks level. Must be 4, 4A or 5.");
    EXPECT_EQ(RaisedText([&] { s.SetSocksLevel(""); }), "Invalid socks level. Must be 4, 4A or 5.");
    EXPECT_EQ(s.SocksLevel(), "5");
    s.SetSocksLevel("4");
    EXPECT_EQ(s.SocksLevel(), "4");
    EXPECT_EQ(RaisedText([&] { s.SetSocksLevel("5 "); }),
              "Invalid socks level. Must be 4, 4A or 5.");
    EXPECT_EQ(s.SocksLevel(), "4");
}

TEST(ErrorTextSocks, ASocksServerRefusesConnectAndListenUntilCleared) {
    Server peer({Server::Stall()});
    TWSocket s;
    EventLog log;
    log.Attach(s);
    s.SetSocksServer(" 127.0.0.1 ");
    EXPECT_EQ(s.SocksServer(), "127.0.0.1");
    s.SetSocksPort("1080");
    s.SetAddr("127.0.0.1");
    s.SetPort(peer.PortText());
    EXPECT_EQ(RaisedText([&] { s.Connect(); }), "Connecting thru a socks server is not supported");
    s.SetProto("udp");
    EXPECT_EQ(RaisedText([&] { s.Connect(); }),
              "tcp is the only protocol supported thru socks server");
    s.SetProto("tcp");
    EXPECT_EQ(RaisedText([&] { s.Listen(); }), "Listening is not supported thru socks server");
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_EQ(s.HSocket(), INVALID_SOCKET);
    EXPECT_TRUE(log.events.empty()) << "nothing was opened";

    // Without a SOCKS server the same socket connects directly.
    s.SetSocksServer("");
    s.Connect();
    ASSERT_TRUE(PumpUntil([&] { return log.Has("connected 0"); }));
    EXPECT_EQ(s.PeerPort(), peer.PortText());
    peer.Release();
    s.Close();
    EXPECT_EQ(s.State(), wsClosed);
}

// Socket options as the components read and write them.
#include "Sockets.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

using namespace platform;

namespace {

// A fresh TCP socket closed at the end of the scope.
struct OpenedSocket {
    SocketHandle s = openSocket(AF_INET_FAMILY, SOCK_STREAM_TYPE, 0);
    ~OpenedSocket() {
        if (s != INVALID_SOCKET) closeSocket(s);
    }
};

} // namespace

TEST(SocketOption, ValuesSetAreReadBack) {
    struct Case {
        SocketOption option;
        int set;
        int expected;
    };
    const Case cases[] = {
        {SocketOption::ReuseAddr, -1, 1},
        {SocketOption::ReuseAddr, 0, 0},
        {SocketOption::KeepAlive, 1, 1},
        {SocketOption::TcpNoDelay, -1, 1},
        {SocketOption::TcpNoDelay, 0, 0},
        // Linux keeps twice the size asked for: half is its own bookkeeping.
        {SocketOption::SendBuffer, 65536, 131072},
    };
    for (const Case& c : cases) {
        OpenedSocket sock;
        ASSERT_NE(sock.s, INVALID_SOCKET);
        ASSERT_EQ(setOption(sock.s, c.option, c.set), 0) << int(c.option);
        int value = -12345;
        ASSERT_EQ(getOption(sock.s, c.option, value), 0) << int(c.option);
        EXPECT_EQ(value, c.expected) << int(c.option) << " set " << c.set;
    }
}

TEST(SocketOption, SendBufferOfANewSocketIsPositive) {
    OpenedSocket sock;
    int value = 0;
    ASSERT_EQ(getOption(sock.s, SocketOption::SendBuffer, value), 0);
    EXPECT_GT(value, 0);
}

TEST(SocketOption, FailuresCarryTheWinsockCode) {
    int value = 77;
    setLastError(0);
    EXPECT_EQ(getOption(SocketHandle(987654), SocketOption::SendBuffer, value), SOCKET_ERROR);
    EXPECT_EQ(lastError(), WSAEBADF);
    EXPECT_EQ(value, 77); // untouched on failure
}

TEST(WinsockCodes, ErrnoValuesMapToCodesWithTheirTexts) {
    struct Case {
        int errnoValue;
        int code;
        const char* text;
    };
    const Case cases[] = {
        {0, 0, "No Error"},
        {EWOULDBLOCK, 10035, "Operation would block"},
        {ECONNRESET, 10054, "Connection reset by peer"},
        {EPIPE, 10054, "Connection reset by peer"},
        {ENOBUFS, 10055, "No buffer space available"},
        {ENOMEM, 10055, "No buffer space available"},
        {EREMOTE, 10071, "Too many levels of remote in path"},
        {ENOENT, 10022, "Invalid argument"}, // no code of its own
    };
    for (const Case& c : cases) {
        EXPECT_EQ(winsockCodeOf(c.errnoValue), c.code) << c.errnoValue;
        ASSERT_NE(winsockText(c.code), nullptr) << c.code;
        EXPECT_STREQ(winsockText(c.code), c.text);
    }
    EXPECT_EQ(winsockText(11004), std::string("No Data"));
    EXPECT_EQ(winsockText(10000), nullptr);
}

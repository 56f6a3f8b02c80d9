#include "LineBuffer.h"
#include "SocketTestUtil.h"
#include "WSockBuf.h"
#include "WSocketResolve.h"

#include <gtest/gtest.h>

#include <climits>

#include <cstring>

TEST(IsDottedIP, AcceptsFourGroupsWithSurroundingSpaces) {
    EXPECT_TRUE(IsDottedIP("10.0.0.1"));
    EXPECT_TRUE(IsDottedIP("  10.0.0.1  "));
    EXPECT_TRUE(IsDottedIP("010.0.0.1"));
    EXPECT_TRUE(IsDottedIP("255.255.255.255"));
}

TEST(IsDottedIP, RefusesWhatIsNotFourGroupsOfAtMost255) {
    for (const char* s :
         {"", "   ", ".1.2.3", "1.2.3", "1..2.3", "256.1.1.1", "1.2.3.256", "1.2.3.4.", "1.2.3.4 x",
          "1.2.3.4.5", "a.b.c.d", "1.2.3.99999999999999999999"})
        EXPECT_FALSE(IsDottedIP(s)) << "'" << s << "'";
}

TEST(WSocketResolveHost, ConvertsDottedTextWithoutALookup) {
    EXPECT_EQ(WSocketResolveHost(" 10.0.0.1 "), platform::hostToNet32(0x0A000001));
    EXPECT_EQ(WSocketResolveHost("255.255.255.255"), 0xFFFFFFFFu);
    EXPECT_EQ(WSocketResolveHost("localhost"), platform::hostToNet32(0x7F000001));
}

TEST(WSocketResolveHost, ReportsBadNamesWithTheirTexts) {
    EXPECT_EQ(RaisedText([] { WSocketResolveHost(""); }),
              "WSocketResolveHost: '' Invalid Hostname.");
    EXPECT_EQ(RaisedText([] { WSocketResolveHost(std::string(257, 'a')); }),
              "WSocketResolveHost: '" + std::string(257, 'a') + "' Invalid Hostname.");
    // 256.1.1.1 is not dotted, so it is looked up as a name and not found.
    EXPECT_EQ(RaisedText([] { WSocketResolveHost("256.1.1.1"); }),
              "WSocketResolveHost: Cannot convert host address '256.1.1.1', Error #11001");
    EXPECT_EQ(
        RaisedText([] { WSocketResolveHost("no-such-host.invalid"); }),
        "WSocketResolveHost: Cannot convert host address 'no-such-host.invalid', Error #11001");
}

TEST(WSocketResolvePort, ReadsLeadingDigitsOrLooksTheServiceUp) {
    EXPECT_EQ(WSocketResolvePort("8080", "tcp"), 8080);
    EXPECT_EQ(WSocketResolvePort("21abc", "tcp"), 21);
    EXPECT_EQ(WSocketResolvePort("ftp", "tcp"), 21);
    EXPECT_EQ(WSocketResolvePort("http", "tcp"), 80);
    EXPECT_EQ(RaisedText([] { WSocketResolvePort("", "tcp"); }),
              "WSocketResolvePort: Invalid Port.");
    EXPECT_EQ(RaisedText([] { WSocketResolvePort(std::string(32, '1'), "tcp"); }),
              "WSocketResolvePort: Invalid Port.");
    EXPECT_EQ(RaisedText([] { WSocketResolvePort("21", ""); }),
              "WSocketResolvePort: Invalid Proto.");
    EXPECT_EQ(RaisedText([] { WSocketResolvePort("nosuchservice", "tcp"); }),
              "WSocketResolvePort: Cannot convert port 'nosuchservice', Error #11004");
}

TEST(WSocketResolveProto, NumbersAndNames) {
    EXPECT_EQ(WSocketResolveProto("tcp"), 6);
    EXPECT_EQ(WSocketResolveProto("udp"), 17);
    EXPECT_EQ(WSocketResolveProto(" 17 "), 17);
    // Too long for an int: never wrapped round into a real protocol (2^32 + 6).
    EXPECT_EQ(WSocketResolveProto("99999999999"), INT_MAX);
    EXPECT_EQ(WSocketResolveProto("4294967302"), INT_MAX);
    EXPECT_EQ(RaisedText([] { WSocketResolveProto(""); }),
              "WSocketResolveProto: Invalid Protocol.");
    EXPECT_EQ(RaisedText([] { WSocketResolveProto("bogus"); }),
              "WSocketResolveProto: Cannot convert protocol 'bogus', Error #11004");
}

TEST(WinsockErrorText, KnownAndUnknownCodes) {
    EXPECT_EQ(WinsockErrorText(0), "No Error");
    EXPECT_EQ(WinsockErrorText(10035), "Operation would block");
    EXPECT_EQ(WinsockErrorText(10054), "Connection reset by peer");
    EXPECT_EQ(WinsockErrorText(10061), "Connection refused");
    EXPECT_EQ(WinsockErrorText(10093), "WinSock not initialized");
    EXPECT_EQ(WinsockErrorText(11001), "Host not found");
    EXPECT_EQ(WinsockErrorText(11004), "No Data");
    EXPECT_EQ(WinsockErrorText(10000), "Not a WinSock error");
    EXPECT_EQ(WinsockErrorText(12001), "Not a WinSock error");
}

TEST(TBuffer, WritesPeeksAndRemovesWithinItsCapacity) {
    TBuffer b(4);
    EXPECT_EQ(TBuffer(0).Capacity(), 1514);
    EXPECT_EQ(b.Write("abcdef", 6), 4);
    EXPECT_EQ(b.Write("x", 1), 0);
    int len = 0;
    const char* p = b.Peek(len);
    ASSERT_EQ(len, 4);
    EXPECT_EQ(std::string(p, 4), "abcd");
    EXPECT_EQ(b.Remove(3), 3);
    p = b.Peek(len);
    EXPECT_EQ(std::string(p, size_t(len)), "d");
    EXPECT_EQ(b.Remove(10), 1); // cut to what is unsent
    EXPECT_EQ(b.Peek(len), nullptr);
    EXPECT_EQ(len, 0);
    // Emptied blocks fill again from their start.
    EXPECT_EQ(b.WritePos(), 0);
    EXPECT_EQ(b.Write("wxyz", 4), 4);
}

TEST(TLineBuffer, FindsLineEndsOnlyWithinTheHeldBytes) {
    TLineBuffer b;
    std::memcpy(b.Prepare(5), "ab\r\nc", 5);
    b.Commit(5);
    EXPECT_EQ(b.Find("\r\n", 0), 2u);
    EXPECT_EQ(b.Find("\r\n", 3), std::string::npos);
    EXPECT_EQ(b.Find("", 0), std::string::npos);
    EXPECT_EQ(b.Find(std::string("c\0", 2), 0), std::string::npos)
        << "the zero after the bytes is not data";
    char out[8];
    EXPECT_EQ(b.Take(out, 4), 4u);
    EXPECT_EQ(std::string(out, 4), "ab\r\n");
    EXPECT_EQ(std::string(b.Bytes(), b.Count()), "c");
}

TEST(TLineBuffer, BackspaceAndTabEditing) {
    TLineBuffer b;
    std::string echo;
    std::memcpy(b.Prepare(7), "abc\bd\r\n", 7);
    b.Commit(b.EditPrepared(7, true, echo));
    EXPECT_EQ(std::string(b.Bytes(), b.Count()), "abd\r\n");
    EXPECT_EQ(echo, "abc\b \bd\r\n");

    // A backspace reaches back into bytes held from an earlier read.
    TLineBuffer held;
    std::memcpy(held.Prepare(2), "xy", 2);
    held.Commit(2);
    std::memcpy(held.Prepare(2), "\b\tz", 3);
    const size_t kept = held.EditPrepared(3, false, echo);
    EXPECT_EQ(held.Count(), 1u) << "edited from the lowest position reached";
    held.Commit(kept);
    EXPECT_EQ(std::string(held.Bytes(), held.Count()), "x       z");

    // Without editing characters the bytes stay as they are.
    TLineBuffer plain;
    std::string none;
    std::memcpy(plain.Prepare(3), "abc", 3);
    EXPECT_EQ(plain.EditPrepared(3, false, none), 3u);
    EXPECT_TRUE(none.empty());
}

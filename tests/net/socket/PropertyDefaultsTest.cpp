// What a new socket starts with, and the setters that refuse bad values.
#include "SocketTestUtil.h"

#include <gtest/gtest.h>

#include <functional>

TEST(PropertyDefaults, NewSocketValues) {
    TWSocket s;
    const std::pair<const char*, std::function<std::string()>> texts[] = {
        {"Proto", [&] { return s.Proto(); }},
        {"LocalAddr", [&] { return s.LocalAddr(); }},
        {"LocalPort", [&] { return s.LocalPort(); }},
        {"PeerAddr", [&] { return s.PeerAddr(); }},
        {"PeerPort", [&] { return s.PeerPort(); }},
        {"LineEnd", [&] { return s.LineEnd(); }},
        {"SocksLevel", [&] { return s.SocksLevel(); }},
    };
    const char* expected[] = {"tcp", "0.0.0.0", "0", "error", "error", "\r\n", "5"};
    for (size_t i = 0; i < std::size(texts); ++i)
        EXPECT_EQ(texts[i].second(), expected[i]) << texts[i].first;
    EXPECT_EQ(s.LingerOnOff(), wsLingerOn);
    EXPECT_EQ(s.SendFlags(), wsSendNormal);
    EXPECT_EQ(s.LineLimit(), 65536);
}

TEST(PropertyDefaults, EmptyLocalAddrMeansAnyAndBadSendFlagsAreRefused) {
    TWSocket s;
    s.SetLocalAddr("");
    EXPECT_EQ(s.LocalAddr(), "0.0.0.0");
    EXPECT_EQ(RaisedText([&] { s.SetSendFlags(TSocketSendFlags(7)); }), "Invalid SendFlags");
    EXPECT_EQ(s.SendFlags(), wsSendNormal);
    s.SetSocksLevel("4a");
    EXPECT_EQ(s.SocksLevel(), "4A");
}

#include "WSocketResolve.h"
#include "WSocketTypes.h"

#include <algorithm>
#include <climits>
#include <cstdio>

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string Format(const char* fmt, const std::string& text, int code) {
    char buf[512];
    std::snprintf(buf, sizeof buf, fmt, text.substr(0, 300).c_str(), code);
    return buf;
}

} // namespace

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
    return s.substr(b, e - b);
}

bool IsDottedIP(const std::string& s) {
    size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    if (i == s.size() || s[i] == '.') return false;
    int dots = 0;
    unsigned group = 0;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (IsDigit(c)) {
            // Capped so that a long run of digits cannot overflow.
            group = std::min(group * 10 + unsigned(c - '0'), 1000u);
        } else if (c == '.') {
            if (++dots > 3 || group > 255 || i + 1 == s.size() || !IsDigit(s[i + 1])) return false;
            group = 0;
        } else {
            while (i < s.size() && s[i] == ' ') ++i;
            if (i != s.size()) return false;
            break;
        }
    }
    return dots == 3 && group <= 255;
}

uint32_t WSocketResolveHost(const std::string& s) {
    if (s.empty() || s.size() > 256)
        throw ESocketException("WSocketResolveHost: '" + s + "' Invalid Hostname.");
    const std::string t = Trim(s);
    if (IsDottedIP(s)) {
        const uint32_t a = platform::textToAddress(t);
        if (a == 0xFFFFFFFFu && t != "255.255.255.255")
            throw ESocketException("WSocketResolveHost: '" + s + "' Invalid IP address.");
        return a;
    }
    platform::HostRecord record;
    int code = platform::hostByName(t, record);
    if (code == 0 && record.addresses.empty()) code = platform::WSANO_DATA;
    if (code != 0)
        throw ESocketException(
            Format("WSocketResolveHost: Cannot convert host address '%s', Error #%d", s, code));
    return record.addresses.front();
}

uint16_t WSocketResolvePort(const std::string& port, const std::string& proto) {
    if (port.empty() || port.size() >= 32)
        throw ESocketException("WSocketResolvePort: Invalid Port.");
    if (proto.empty() || proto.size() >= 32)
        throw ESocketException("WSocketResolvePort: Invalid Proto.");
    if (IsDigit(port[0])) {
        unsigned value = 0;
        for (size_t i = 0; i < port.size() && IsDigit(port[i]); ++i)
            value = value * 10 + unsigned(port[i] - '0'); // at most 31 digits wrap, as 16 bits do
        return uint16_t(value);
    }
    uint16_t number = 0;
    const int code = platform::serviceByName(Trim(port), Trim(proto), number);
    if (code != 0)
        throw ESocketException(
            Format("WSocketResolvePort: Cannot convert port '%s', Error #%d", port, code));
    return number;
}

int WSocketResolveProto(const std::string& s) {
    if (s.empty() || s.size() >= 32)
        throw ESocketException("WSocketResolveProto: Invalid Protocol.");
    const std::string t = Trim(s);
    if (!t.empty() && IsDigit(t[0])) {
        // A number beyond int stays the largest int: wrapping could turn it
        // into a real protocol's number.
        long long value = 0;
        for (size_t i = 0; i < t.size() && IsDigit(t[i]) && value <= INT_MAX; ++i)
            value = value * 10 + (t[i] - '0');
        return value > INT_MAX ? INT_MAX : int(value);
    }
    int number = 0;
    const int code = platform::protocolByName(t, number);
    if (code != 0)
        throw ESocketException(
            Format("WSocketResolveProto: Cannot convert protocol '%s', Error #%d", t, code));
    return number;
}

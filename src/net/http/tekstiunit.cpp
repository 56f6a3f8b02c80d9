#include "tekstiunit.h"

#include <algorithm>
#include <cctype>

bool IsCharAt(const std::string& s, int pos, char ch) {
    return pos >= 1 && size_t(pos) <= s.size() && s[size_t(pos) - 1] == ch;
}

std::string StripChar(char mode, char ch, const std::string& s) {
    if (s.empty()) return s;
    const auto leadingEnd = [&] { return s.find_first_not_of(ch); };
    const auto trailingEnd = [&] { return s.find_last_not_of(ch); };
    switch (mode) {
    case 'A':
    case 'a': {
        std::string r = s;
        r.erase(std::remove(r.begin(), r.end(), ch), r.end());
        return r;
    }
    case 'B':
    case 'b': {
        const size_t first = leadingEnd();
        if (first == std::string::npos) return {};
        return s.substr(first, trailingEnd() - first + 1);
    }
    case 'L':
    case 'l': {
        const size_t first = leadingEnd();
        return first == std::string::npos ? std::string() : s.substr(first);
    }
    case 'R':
    case 'r': {
        const size_t last = trailingEnd();
        return last == std::string::npos ? std::string() : s.substr(0, last + 1);
    }
    default:
        return s;
    }
}

std::string LowerCase(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

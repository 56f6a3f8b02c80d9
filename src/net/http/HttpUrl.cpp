#include "HttpUrl.h"

#include "tekstiunit.h"

#include <algorithm>
#include <cctype>

namespace {

bool Printable(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](unsigned char c) { return c > 32 && c != 127; });
}

} // namespace

THttpUrl ParseHttpUrl(const std::string& url) {
    THttpUrl result;
    if (!Printable(url)) return result;
    std::string rest = url;
    const size_t scheme = rest.find("://");
    if (scheme != std::string::npos) {
        const std::string name = LowerCase(rest.substr(0, scheme));
        if (name != "http" && name != "https") return result;
        result.Tls = name == "https";
        result.Port = result.Tls ? 443 : 80;
        rest.erase(0, scheme + 3);
    }
    const size_t slash = rest.find_first_of("/?#");
    std::string authority = rest.substr(0, slash);
    if (slash != std::string::npos) {
        result.Path = rest.substr(slash);
        if (result.Path[0] != '/') result.Path.insert(0, "/");
        // The fragment stays with the browser.
        if (const size_t hash = result.Path.find('#'); hash != std::string::npos)
            result.Path.erase(hash);
    }
    // Credentials in an address are not sent on.
    if (const size_t at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
    const size_t colon = authority.rfind(':');
    if (colon != std::string::npos && authority.find(']', colon) == std::string::npos) {
        const std::string digits = authority.substr(colon + 1);
        if (digits.empty() || digits.size() > 5 ||
            !std::all_of(digits.begin(), digits.end(),
                         [](unsigned char c) { return std::isdigit(c); }))
            return result;
        result.Port = std::stoi(digits);
        if (result.Port < 1 || result.Port > 65535) return result;
        authority.erase(colon);
    }
    result.Host = authority;
    result.Valid = !result.Host.empty();
    return result;
}

std::string HostHeaderOf(const THttpUrl& url) {
    const int schemePort = url.Tls ? 443 : 80;
    return url.Port == schemePort ? url.Host : url.Host + ":" + std::to_string(url.Port);
}

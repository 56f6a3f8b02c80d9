#include "HttpUrl.h"

#include "tekstiunit.h"

#include <algorithm>
#include <cctype>

namespace {

const std::string Scheme = "http://";
const std::string TlsScheme = "https://";

// The port after the last ':' of authority (outside an IPv6 address's
// brackets), which then ends before it; false for a port that is not a
// number from 1 to 65535.
bool SplitPort(std::string& authority, int& port) {
    const size_t colon = authority.rfind(':');
    if (colon == std::string::npos || authority.find(']', colon) != std::string::npos) return true;
    const std::string digits = authority.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 ||
        !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); }))
        return false;
    port = std::stoi(digits);
    if (port < 1 || port > 65535) return false;
    authority.erase(colon);
    return true;
}

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
    if (!SplitPort(authority, result.Port)) return result;
    result.Host = authority;
    result.Valid = !result.Host.empty();
    return result;
}

std::string HostHeaderOf(const THttpUrl& url) {
    const int schemePort = url.Tls ? 443 : 80;
    return url.Port == schemePort ? url.Host : url.Host + ":" + std::to_string(url.Port);
}

bool HasHttpScheme(const std::string& postUrl) {
    return postUrl.find(Scheme) != std::string::npos ||
           postUrl.find(TlsScheme) != std::string::npos;
}

std::string HostOfPostUrl(const std::string& postUrl) {
    const std::string lower = LowerCase(postUrl);
    std::string rest = postUrl;
    if (const size_t at = lower.find(Scheme); at != std::string::npos)
        rest.erase(at, Scheme.size());
    const size_t slash = rest.find('/');
    return slash == std::string::npos ? std::string() : rest.substr(0, slash);
}

TPostTarget PostTargetOf(const std::string& postUrl) {
    const std::string lower = LowerCase(postUrl);
    const size_t plain = lower.find(Scheme);
    const size_t tls = lower.find(TlsScheme);
    if (tls == std::string::npos || (plain != std::string::npos && plain < tls))
        return {false, HostOfPostUrl(postUrl), 80};
    const std::string rest = postUrl.substr(tls + TlsScheme.size());
    const size_t slash = rest.find('/');
    if (slash == std::string::npos) return {true, {}, 443};
    std::string host = rest.substr(0, slash);
    int port = 443;
    if (!SplitPort(host, port)) return {true, {}, 443};
    return {true, host, port};
}

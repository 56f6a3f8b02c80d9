// The parts of an http:// or https:// address that a request needs. An
// address without a scheme is taken as http://, as a browser would.
#pragma once

#include <string>

struct THttpUrl {
    bool Valid = false;
    bool Tls = false;
    std::string Host;
    int Port = 80;
    // The request target: the path and query, "/" when the address has none.
    std::string Path = "/";
};

// Invalid for an empty host, a port that is not a number from 1 to 65535,
// another scheme, or characters a request line cannot carry (blanks and
// control characters).
THttpUrl ParseHttpUrl(const std::string& url);

// The Host header's value: the host, with the port when it is not the
// scheme's own.
std::string HostHeaderOf(const THttpUrl& url);

// The posting URL names the scheme, "http://" or "https://" (case-sensitive,
// anywhere in the text).
bool HasHttpScheme(const std::string& postUrl);
// The text between the first "http://" (any case) and the next "/", blanks
// kept; empty when no "/" follows.
std::string HostOfPostUrl(const std::string& postUrl);

// Where a post goes. An "http://" URL goes to HostOfPostUrl on port 80, as
// always; an "https://" one (any case, when it comes first) over TLS to its
// host and the port it names, else 443. A port that is not a number from 1
// to 65535 leaves the host empty.
struct TPostTarget {
    bool Tls = false;
    std::string Host;
    int Port = 80;
};
TPostTarget PostTargetOf(const std::string& postUrl);

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

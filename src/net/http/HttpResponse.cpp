#include "HttpResponse.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace {

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") + 1 - first);
}

void TakeStatusLine(const std::string& line, THttpResponse& r) {
    r.StatusLine = line;
    if (StartsWithNoCase(line, "HTTP/") && line.size() >= 12 && line[8] == ' ')
        r.Status = std::atoi(line.c_str() + 9);
}

} // namespace

THttpResponse ParseHttpResponse(const std::string& raw) {
    THttpResponse r;
    size_t end = raw.find("\r\n\r\n");
    size_t bodyAt = end + 4;
    // Some servers end header lines with a bare LF.
    if (const size_t lf = raw.find("\n\n"); lf != std::string::npos && lf < end) {
        end = lf;
        bodyAt = lf + 2;
    }
    if (end == std::string::npos) {
        TakeStatusLine(Trimmed(raw.substr(0, raw.find('\n'))), r);
        return r;
    }
    size_t at = 0;
    bool first = true;
    long long length = -1;
    while (at < end) {
        size_t next = raw.find('\n', at);
        if (next == std::string::npos || next > end) next = end;
        const std::string line = Trimmed(raw.substr(at, next - at));
        at = next + 1;
        if (first) {
            first = false;
            TakeStatusLine(line, r);
            continue;
        }
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        const std::string name = line.substr(0, colon);
        const std::string value = Trimmed(line.substr(colon + 1));
        if (StartsWithNoCase(name, "location") && name.size() == 8) r.Location = value;
        if (StartsWithNoCase(name, "content-type") && name.size() == 12) r.ContentType = value;
        if (StartsWithNoCase(name, "content-length") && name.size() == 14)
            length = std::strtoll(value.c_str(), nullptr, 10);
    }
    r.Body = raw.substr(std::min(bodyAt, raw.size()));
    r.Complete = length < 0 || r.Body.size() >= size_t(length);
    if (length >= 0 && r.Body.size() > size_t(length)) r.Body.resize(size_t(length));
    return r;
}

#include "FtpReply.h"

#include <climits>
#include <cstring>

namespace ftpreply {
namespace {

const char* SkipBlanks(const char* p) {
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') ++p;
    return p;
}

} // namespace

const char* ParseInteger(const char* p, int& value) {
    value = 0;
    p = SkipBlanks(p);
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    long long v = 0;
    while (*p >= '0' && *p <= '9') {
        v = v * 10 + (*p++ - '0');
        if (v > INT_MAX) return nullptr;
    }
    value = negative ? -int(v) : int(v);
    return p;
}

const char* ParseQuoted(const char* p, std::string& s) {
    s.clear();
    p = SkipBlanks(p);
    if (*p != '"') return p;
    ++p;
    while (*p) {
        if (*p == '"') {
            if (p[1] != '"') return p + 1;
            ++p; // a doubled quote stands for one
        }
        s += *p++;
    }
    return p;
}

ReplyLine ClassifyLine(const std::string& line) {
    ReplyLine r;
    if (line.empty() || line[0] < '0' || line[0] > '9') return r;
    const char* end = ParseInteger(line.c_str(), r.Code);
    if (!end) {
        // A number too long for a reply code is not a reply.
        r.Code = 0;
        return r;
    }
    r.HasCode = true;
    r.Continuation = *end == '-';
    r.Rest = end;
    return r;
}

} // namespace ftpreply

void TFtpLineReader::Commit(int count) {
    if (count <= 0) return;
    Length += count;
    Buffer[Length] = 0;
}

int TFtpLineReader::FindLineEnd(bool acceptLF, int& endLength) const {
    // memchr, not the C string: a NUL byte in a reply must not hide its end.
    const char* start = Buffer;
    const char* end = Buffer + Length;
    for (const char* p = start; p < end; ++p) {
        p = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
        if (!p) break;
        if (acceptLF) {
            endLength = 1;
            return int(p - start) + 1;
        }
        if (p > start && p[-1] == '\r') {
            endLength = 2;
            return int(p - start); // position of the CR
        }
    }
    return 0;
}

bool TFtpLineReader::NextLine(bool acceptLF, std::string& line) {
    int endLength = 0;
    int i = FindLineEnd(acceptLF, endLength);
    if (i <= 0) return false;
    // A NUL ends the text of the line, as it ends a C string; the rest up
    // to the line end is dropped with it.
    line.assign(Buffer, size_t(i - 1));
    line.resize(std::strlen(line.c_str()));
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    int used = i - 1 + endLength;
    Length -= used;
    if (Length > 0) std::memmove(Buffer, Buffer + used, size_t(Length));
    if (Length < 0) Length = 0;
    Buffer[Length] = 0;
    return true;
}

bool TFtpLineReader::Full(bool acceptLF) const {
    int endLength = 0;
    return FreeSpace() <= 0 && FindLineEnd(acceptLF, endLength) == 0;
}

void TFtpLineReader::Clear() {
    Length = 0;
    Buffer[0] = 0;
}

// Feeds arbitrary bytes through the line-mode buffer the way the socket does:
// chunks are read in, optionally edited, split at a line end and taken out in
// pieces. Checks that every byte taken was held and nothing is invented.
#include "LineBuffer.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const size_t endLen = data[0] % 4; // 0 disables splitting
    const bool edit = data[1] & 1;
    const size_t piece = 1 + data[1] / 2;
    if (size < 2 + endLen) return 0;
    const std::string lineEnd(reinterpret_cast<const char*>(data + 2), endLen);
    data += 2 + endLen;
    size -= 2 + endLen;

    TLineBuffer buf;
    std::string echo;
    char out[256];
    size_t fed = 0;
    while (fed < size) {
        const size_t n = std::min(size - fed, size_t(1 + data[fed] % 64));
        std::memcpy(buf.Prepare(n), data + fed, n);
        fed += n;
        size_t fresh = n;
        const size_t before = buf.Count();
        if (edit) fresh = buf.EditPrepared(n, true, echo);
        if (buf.Count() > before) abort();
        buf.Commit(fresh);
        for (size_t at; (at = buf.Find(lineEnd, 0)) != std::string::npos;) {
            if (at + lineEnd.size() > buf.Count()) abort();
            if (std::memcmp(buf.Bytes() + at, lineEnd.data(), lineEnd.size()) != 0) abort();
            for (size_t line = at + lineEnd.size(); line > 0;) {
                const size_t held = buf.Count();
                const size_t got = buf.Take(out, std::min(line, std::min(piece, sizeof out)));
                if (got == 0 || buf.Count() != held - got) abort();
                line -= got;
            }
        }
        if (lineEnd.empty() && buf.Count() > 4096) buf.Clear();
    }
    return 0;
}

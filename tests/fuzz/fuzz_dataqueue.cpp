// Feeds arbitrary bytes through the reply line queue in arbitrary pieces,
// taking lines in between, and checks every line against a plain reading of
// the same bytes: only a CR LF or LF CR pair ends a line, CR and LF never
// reach a line, and the bytes left queued are exactly the unread tail.
#include "DataQueue.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

size_t PairAt(const std::string& s, size_t from) {
    for (size_t i = from; i + 1 < s.size(); ++i)
        if ((s[i] == '\r' && s[i + 1] == '\n') || (s[i] == '\n' && s[i + 1] == '\r')) return i;
    return std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const unsigned pieceSeed = data[0];
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    TDataQueue q;
    size_t fed = 0, read = 0;
    std::string line;
    while (fed < bytes.size()) {
        const size_t n = std::min(bytes.size() - fed, size_t(1 + (pieceSeed + fed) % 17));
        q.AddData(bytes.data() + fed, n);
        fed += n;
        const std::string held = bytes.substr(0, fed);
        while (q.GetLine(line)) {
            const size_t at = PairAt(held, read);
            if (at == std::string::npos) abort();
            std::string expected;
            for (size_t i = read; i < at; ++i)
                if (held[i] != '\r' && held[i] != '\n') expected += held[i];
            if (line != expected) abort();
            read = at + 2;
        }
        if (!line.empty() || PairAt(held, read) != std::string::npos) abort();
        if (q.Size() != fed - read) abort();
    }
    return 0;
}

#include "DataQueue.h"

#include "tekstiunit.h"

#include <algorithm>

namespace {
constexpr char CR = 13, LF = 10;
constexpr size_t CompactBelow = 4096;
} // namespace

void TDataQueue::AddData(const void* data, size_t count) {
    if (count == 0) return;
    Stream.append(static_cast<const char*>(data), count);
}

size_t TDataQueue::FindLineEnd() {
    size_t at = std::max(Scanned, Head);
    for (; at + 1 < Stream.size(); ++at) {
        const char a = Stream[at], b = Stream[at + 1];
        if ((a == CR && b == LF) || (a == LF && b == CR)) {
            Scanned = at;
            return at - Head + 1;
        }
    }
    // The last byte may still start a pair with the next one to arrive.
    Scanned = at;
    return 0;
}

bool TDataQueue::GetLine(std::string& line) {
    line.clear();
    const size_t p = FindLineEnd();
    if (p == 0) return false;
    line.assign(Stream, Head, p - 1);
    Head += p + 1;
    Scanned = Head;
    if (Head == Stream.size()) {
        Stream.clear();
        Head = Scanned = 0;
    } else if (Head >= CompactBelow && Head * 2 >= Stream.size()) {
        Stream.erase(0, Head);
        Head = Scanned = 0;
    }
    line = StripChar('A', CR, StripChar('A', LF, line));
    return true;
}

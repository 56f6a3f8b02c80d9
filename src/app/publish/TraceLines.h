// A transcript that stays small whatever a server sends: the first lines
// and the latest ones, with a note of how many between them were left out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

class TTraceLines {
public:
    // keep: lines kept at the start, and as many at the end.
    explicit TTraceLines(size_t keep = 300) : keep_(keep) {}

    void Add(std::string line);
    void Clear();
    bool Empty() const { return first_.empty(); }
    // The first line added.
    const std::string& Front() const { return first_.front(); }
    // The lines kept, in order, a note in place of those left out.
    std::vector<std::string> Lines() const;
    // Lines() each followed by a line feed.
    std::string Text() const;

private:
    size_t keep_;
    std::vector<std::string> first_;
    std::deque<std::string> last_;
    uint64_t leftOut_ = 0;
};

// TDataQueue: the bytes of a reply in arrival order, handed out one line at
// a time. Only a CR LF or LF CR pair ends a line; a lone CR or LF stays in
// the queue and is dropped from the line text it ends up in.
#pragma once

#include <cstddef>
#include <string>

class TDataQueue {
public:
    void AddData(const void* data, size_t count);
    // True with the first complete line, its line end removed; else false,
    // line empty and the queue unchanged.
    bool GetLine(std::string& line);
    // Bytes queued and not yet taken as lines.
    size_t Size() const { return Stream.size() - Head; }

private:
    // 1-based position of the first pair, relative to the oldest queued byte; 0 if none.
    size_t FindLineEnd();

    // Taken lines are only skipped over (Head) and dropped in bulk, and the
    // search for a pair resumes where the last one stopped, so the cost
    // stays linear in the bytes received however they arrive.
    std::string Stream;
    size_t Head = 0;
    size_t Scanned = 0;
};

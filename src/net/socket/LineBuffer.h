// TLineBuffer: the received bytes of a line-mode socket waiting to be handed
// out. Bytes are read into the free space at the end, searched for the line
// end and taken from the front. Plain bytes only; nothing here knows sockets,
// so the splitting can be exercised on arbitrary input.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class TLineBuffer {
public:
    size_t Count() const { return Cnt; }
    const char* Bytes() const { return Data.data(); }

    // Room for n more bytes after the held ones; the bytes written there join
    // the buffer with Commit.
    char* Prepare(size_t n);
    void Commit(size_t n);

    // Index of the first line end that lies wholly within the held bytes at or
    // after from; npos when there is none. An empty lineEnd is never found.
    size_t Find(const std::string& lineEnd, size_t from) const;
    // Moves up to size bytes from the front into out; returns the count.
    size_t Take(char* out, size_t size);
    void Clear();
    // Frees the storage too.
    void Release();

    // Applies backspace and tab editing to the n prepared bytes. A backspace
    // may erase held bytes. Afterwards Count() is the lowest position edited
    // and the result is the number of bytes to Commit. Echo of the edited
    // input, if wanted, is appended to echo.
    size_t EditPrepared(size_t n, bool wantEcho, std::string& echo);

private:
    std::vector<char> Data;
    size_t Cnt = 0;
};

// TBuffer: one fixed-size block of a socket's send queue. Bytes are written
// at WritePos and handed out from ReadPos; a block whose bytes have all been
// handed out starts again from its beginning.
#pragma once

#include <cstddef>
#include <memory>

class TBuffer {
public:
    // A size of 0 or less gives the default of 1514 bytes.
    explicit TBuffer(int size);

    // Copies as much as fits; returns the count taken (0 when full).
    int Write(const void* data, int len);
    // The unsent bytes; nullptr and 0 when there are none.
    const char* Peek(int& len) const;
    // Marks up to len unsent bytes as handed out; returns the count.
    int Remove(int len);

    int Capacity() const { return BufSize; }
    int WritePos() const { return WrCount; }
    int ReadPos() const { return RdCount; }

private:
    std::unique_ptr<char[]> Block;
    int BufSize;
    int WrCount = 0;
    int RdCount = 0;
};

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
    // A block over the caller's bytes, all written, none copied. It must not
    // outlive them: Adopt copies what is left of it into storage of its own.
    TBuffer(const char* borrowed, int len);

    // Copies as much as fits; returns the count taken (0 when full).
    int Write(const void* data, int len);
    // The unsent bytes; nullptr and 0 when there are none.
    const char* Peek(int& len) const;
    // Marks up to len unsent bytes as handed out; returns the count.
    int Remove(int len);
    // The free room after WritePos, for a writer that fills it in place, and
    // the count it then wrote there (at most the room).
    char* Room(int& len);
    void Commit(int len);
    bool Borrowed() const { return Outside != nullptr; }
    // Copies the unsent bytes of a borrowed block into its own storage.
    void Adopt();

    int Capacity() const { return BufSize; }
    int WritePos() const { return WrCount; }
    int ReadPos() const { return RdCount; }

private:
    std::unique_ptr<char[]> Block;
    const char* Outside = nullptr;
    int BufSize;
    int WrCount = 0;
    int RdCount = 0;
};

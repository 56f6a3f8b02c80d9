// The local file of a transfer, opened with the client's share flags. Linux
// has no share modes, so they are mapped onto what it can tell: a read
// lease shows whether anyone has the file open for writing, and a BSD lock
// keeps other Brindlewick-style openers out while the transfer runs.
#pragma once

#include <cstdint>
#include <string>

class TFtpLocalFile {
public:
    enum Mode { ForReading, Create, ForWriting };

    ~TFtpLocalFile();
    // nullptr with errno set when the file cannot be opened or another
    // opener conflicts with the share flags.
    static TFtpLocalFile* Open(const std::string& path, Mode mode, uint16_t shareFlags);

    // Bytes read, 0 at the end; throws std::runtime_error on a read error.
    int Read(void* buffer, int size);
    // False on a write error.
    bool Write(const void* data, int size);
    bool Seek(int64_t offset);
    static int64_t SizeOf(const std::string& path); // -1 when it does not exist

private:
    explicit TFtpLocalFile(int fd) : Fd(fd) {}
    int Fd;
};

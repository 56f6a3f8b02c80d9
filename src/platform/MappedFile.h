// A file's bytes mapped read-only into memory: read where they lie in the
// page cache, with no copy into a buffer of our own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

class MappedFile {
public:
    // Maps the whole file; Data() is null when it cannot (errno says why)
    // or when the file is empty.
    explicit MappedFile(const std::string& path);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    const uint8_t* Data() const { return data_; }
    size_t Size() const { return size_; }

private:
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

} // namespace platform

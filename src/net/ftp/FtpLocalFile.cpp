#include "FtpLocalFile.h"

#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint16_t ShareExclusive = 0x0010;
constexpr uint16_t ShareDenyWrite = 0x0020;

// True when another opener holds the file open for writing. A read lease
// is refused exactly then; where leases are not available (another owner's
// file, a file system without them) the system cannot tell and we go on.
bool OpenForWritingElsewhere(int fd) {
    if (fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
        // Released at once: a held lease would bring a signal when someone
        // opens the file for writing.
        fcntl(fd, F_SETLEASE, F_UNLCK);
        return false;
    }
    return errno == EAGAIN;
}

bool ApplyShareFlags(int fd, uint16_t shareFlags, bool reading) {
    if (shareFlags != ShareExclusive && shareFlags != ShareDenyWrite) return true;
    if (reading && OpenForWritingElsewhere(fd)) {
        errno = EBUSY;
        return false;
    }
    int lock = shareFlags == ShareExclusive ? LOCK_EX : LOCK_SH;
    if (flock(fd, lock | LOCK_NB) != 0) return false;
    return true;
}

} // namespace

TFtpLocalFile::~TFtpLocalFile() {
    if (Fd >= 0) ::close(Fd); // the close releases the lock
}

TFtpLocalFile* TFtpLocalFile::Open(const std::string& path, Mode mode, uint16_t shareFlags) {
    int flags = O_CLOEXEC;
    switch (mode) {
    case ForReading:
        flags |= O_RDONLY;
        break;
    case Create:
        flags |= O_WRONLY | O_CREAT | O_TRUNC;
        break;
    case ForWriting:
        flags |= O_WRONLY;
        break;
    }
    int fd = ::open(path.c_str(), flags, 0600);
    if (fd < 0) return nullptr;
    if (!ApplyShareFlags(fd, shareFlags, mode == ForReading)) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        return nullptr;
    }
    return new TFtpLocalFile(fd);
}

int TFtpLocalFile::Read(void* buffer, int size) {
    for (;;) {
        ssize_t n = ::read(Fd, buffer, size_t(size));
        if (n >= 0) return int(n);
        if (errno != EINTR) throw std::runtime_error("read failed");
    }
}

bool TFtpLocalFile::Write(const void* data, int size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(Fd, p, size_t(size));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= int(n);
    }
    return true;
}

bool TFtpLocalFile::Seek(int64_t offset) {
    return ::lseek(Fd, off_t(offset), SEEK_SET) == off_t(offset);
}

int64_t TFtpLocalFile::SizeOf(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return -1;
    return int64_t(st.st_size);
}

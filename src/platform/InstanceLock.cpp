#include "InstanceLock.h"

#include "System.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr char ShowRequest[] = "show\n";
constexpr char CaptureRequest[] = "capture\n";
constexpr char RegionRequest[] = "region\n";
constexpr char ShowAnswer[] = "ok\n";
// The longest request line.
constexpr size_t RequestMax = sizeof CaptureRequest - 1;
// How long the holder waits for a request line after a connect.
constexpr int RequestWaitMs = 1000;

bool SocketAddress(const std::string& path, sockaddr_un& addr) {
    addr = {};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Reads until the text ends a line or has n bytes, the peer stops, or waitMs
// pass quietly.
std::string ReadSome(int fd, size_t n, int waitMs) {
    std::string text;
    pollfd p{fd, POLLIN, 0};
    while (text.size() < n && (text.empty() || text.back() != '\n') && ::poll(&p, 1, waitMs) > 0) {
        char buf[16];
        const ssize_t got = ::read(fd, buf, std::min(sizeof buf, n - text.size()));
        if (got <= 0) break;
        text.append(buf, size_t(got));
    }
    return text;
}

} // namespace

TInstanceLock::TInstanceLock(std::string directory) : Directory(std::move(directory)) {}

TInstanceLock::~TInstanceLock() {
    Listener.reset();
    if (ListenFd >= 0) {
        ::close(ListenFd);
        ::unlink(SocketPath().c_str());
    }
    // Closing releases the lock; the file stays, so no later copy races on
    // a lock file that is being removed.
    if (LockFd >= 0) ::close(LockFd);
}

bool TInstanceLock::Acquire() {
    if (LockFd >= 0) return true;
    const int fd = ::open(LockPath().c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        throw std::runtime_error("Cannot open the file " + LockPath() + ": " +
                                 std::strerror(errno));
    // Held by an open file, so the kernel lets go of it when its copy ends,
    // however it ends.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    LockFd = fd;

    sockaddr_un addr;
    if (!SocketAddress(SocketPath(), addr)) return true; // too long a path: no hand-over
    // A socket left by a copy that crashed; only the lock holder removes it.
    ::unlink(SocketPath().c_str());
    ListenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (ListenFd < 0) return true;
    if (::bind(ListenFd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(ListenFd, 4) != 0) {
        ::close(ListenFd);
        ListenFd = -1;
        return true;
    }
    Listener = std::make_unique<QSocketNotifier>(ListenFd, QSocketNotifier::Read);
    QObject::connect(Listener.get(), &QSocketNotifier::activated, [this] { Accept(); });
    return true;
}

void TInstanceLock::Accept() {
    const int fd = ::accept4(ListenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    // The asking copy writes its request right after it connects.
    const std::string request = ReadSome(fd, RequestMax, RequestWaitMs);
    const bool show = request == ShowRequest;
    const bool capture = request == CaptureRequest;
    const bool region = request == RegionRequest;
    if (show || capture || region) ::send(fd, ShowAnswer, std::strlen(ShowAnswer), MSG_NOSIGNAL);
    ::close(fd);
    if (show) FireShowRequested();
    if (capture) FireCaptureRequested();
    if (region) FireRegionRequested();
}

void TInstanceLock::FireShowRequested() {
    if (OnShowRequested) OnShowRequested(this);
}

void TInstanceLock::FireCaptureRequested() {
    if (OnCaptureRequested) OnCaptureRequested(this);
}

void TInstanceLock::FireRegionRequested() {
    if (OnRegionRequested) OnRegionRequested(this);
}

bool TInstanceLock::HandOver(THandOverRequest request, unsigned timeoutMs) const {
    const char* line = request == horCapture         ? CaptureRequest
                       : request == horCaptureRegion ? RegionRequest
                                                     : ShowRequest;
    sockaddr_un addr;
    if (!SocketAddress(SocketPath(), addr)) return false;
    const uint32_t start = TickCount();
    // The holder listens only once it has the lock: a copy that is starting
    // too may not answer at once.
    for (;;) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return false;
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
            const bool sent =
                ::send(fd, line, std::strlen(line), MSG_NOSIGNAL) == ssize_t(std::strlen(line));
            const uint32_t spent = TickCount() - start;
            const int left = spent < timeoutMs ? int(timeoutMs - spent) : 0;
            const bool answered = sent && ReadSome(fd, std::strlen(ShowAnswer), left) == ShowAnswer;
            ::close(fd);
            return answered;
        }
        ::close(fd);
        if (TickCount() - start >= timeoutMs) return false;
        SleepMs(50);
    }
}

} // namespace platform

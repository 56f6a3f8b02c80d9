// asyncSelect on QSocketNotifier. The notifiers only say "the handle is
// readable/writable"; each notice is then disarmed until the call that
// re-arms it (receive, accept, a blocked send), which gives the one-notice-
// per-event rhythm the socket component is written for.
#include "SocketNotices.h"

#include <QSocketNotifier>

#include <cerrno>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <map>
#include <memory>

namespace platform {
namespace {

enum class Phase { Fresh, Connecting, Connected, Listening, Finished };

struct Watch {
    SocketHandle handle = INVALID_SOCKET;
    bool stream = true;
    Phase phase = Phase::Fresh;
    WindowId window = 0;
    unsigned msg = 0;
    long mask = 0;
    bool readArmed = true;
    bool writeWanted = false;
    bool closeNoticed = false;
    uint32_t serial = 0; // tells this handle from later ones with its number
    std::unique_ptr<QSocketNotifier> readable;
    std::unique_ptr<QSocketNotifier> writable;
};

std::map<SocketHandle, std::unique_ptr<Watch>>& Watches() {
    static auto* all = new std::map<SocketHandle, std::unique_ptr<Watch>>;
    return *all;
}

Watch* Find(SocketHandle s) {
    auto it = Watches().find(s);
    return it == Watches().end() ? nullptr : it->second.get();
}

// Notices go out through this window, which drops those whose handle was
// closed meanwhile: the system gives a closed number to the next socket at
// once, and the notice would otherwise reach that socket's owner.
WindowId Relay() {
    static const WindowId relay = createMessageWindow([](unsigned msg, uintptr_t s, intptr_t l) {
        const auto it = Watches().find(SocketHandle(s));
        if (it == Watches().end() || it->second->serial != uint32_t(uint64_t(l) >> 32))
            return intptr_t(0);
        return sendMessage(it->second->window, msg, s, intptr_t(uint64_t(l) & 0xFFFFFFFFu));
    });
    return relay;
}

void Post(Watch& w, long bit, int error) {
    if (!(w.mask & bit)) return;
    const uint64_t event = uint64_t(bit | (long(error) << 16)) & 0xFFFFFFFFu;
    postMessage(Relay(), w.msg, w.handle, intptr_t(event | (uint64_t(w.serial) << 32)));
}

void OnReadable(SocketHandle s);
void OnWritable(SocketHandle s);

void Update(Watch& w) {
    const bool wantsRead = (w.mask & (FD_READ | FD_CLOSE | FD_ACCEPT | FD_OOB)) != 0;
    const bool readPhase = w.phase == Phase::Connected || w.phase == Phase::Listening;
    const bool read = wantsRead && readPhase && w.readArmed && !w.closeNoticed;
    const bool write =
        w.mask != 0 && ((w.phase == Phase::Connecting) ||
                        (w.phase == Phase::Connected && w.writeWanted && (w.mask & FD_WRITE)));
    if (read && !w.readable) {
        w.readable = std::make_unique<QSocketNotifier>(qintptr(w.handle), QSocketNotifier::Read);
        const SocketHandle h = w.handle;
        QObject::connect(w.readable.get(), &QSocketNotifier::activated, [h] { OnReadable(h); });
    }
    if (w.readable) w.readable->setEnabled(read);
    if (write && !w.writable) {
        w.writable = std::make_unique<QSocketNotifier>(qintptr(w.handle), QSocketNotifier::Write);
        const SocketHandle h = w.handle;
        QObject::connect(w.writable.get(), &QSocketNotifier::activated, [h] { OnWritable(h); });
    }
    if (w.writable) w.writable->setEnabled(write);
}

void NoticeClose(Watch& w, int error) {
    w.closeNoticed = true;
    Post(w, FD_CLOSE, error);
}

void OnReadable(SocketHandle s) {
    Watch* w = Find(s);
    if (!w) return;
    const int fd = int(s);
    if (w->phase == Phase::Listening) {
        w->readArmed = false;
        Post(*w, FD_ACCEPT, 0);
    } else if (w->phase == Phase::Connected) {
        int waiting = 0;
        if (ioctl(fd, FIONREAD, &waiting) != 0) waiting = 0;
        if (waiting > 0 || !w->stream) {
            w->readArmed = false;
            Post(*w, FD_READ, 0);
        } else {
            // Readable with nothing to read: the peer closed or reset.
            char probe;
            const ssize_t n = recv(fd, &probe, 1, MSG_PEEK);
            if (n == 0)
                NoticeClose(*w, 0);
            else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                NoticeClose(*w, winsockCodeOf(errno));
            else if (n > 0) {
                w->readArmed = false;
                Post(*w, FD_READ, 0);
            }
        }
    }
    Update(*w);
}

void OnWritable(SocketHandle s) {
    Watch* w = Find(s);
    if (!w) return;
    if (w->phase == Phase::Connecting) {
        int error = 0;
        socklen_t len = sizeof error;
        if (getsockopt(int(s), SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
        w->phase = error ? Phase::Finished : Phase::Connected;
        w->readArmed = true;
        Post(*w, FD_CONNECT, winsockCodeOf(error));
        if (!error) Post(*w, FD_WRITE, 0);
    } else if (w->phase == Phase::Connected) {
        w->writeWanted = false;
        Post(*w, FD_WRITE, 0);
    }
    Update(*w);
}

} // namespace

namespace notices {

void opened(SocketHandle s, bool stream) {
    static uint32_t serials = 0;
    auto w = std::make_unique<Watch>();
    w->handle = s;
    w->serial = ++serials;
    w->stream = stream;
    // A datagram socket can receive as soon as it exists.
    w->phase = stream ? Phase::Fresh : Phase::Connected;
    Watches()[s] = std::move(w);
}

void forget(SocketHandle s) {
    Watches().erase(s);
}

void connecting(SocketHandle s, bool done) {
    Watch* w = Find(s);
    if (!w || !w->stream) return;
    w->phase = done ? Phase::Connected : Phase::Connecting;
    if (done) {
        Post(*w, FD_CONNECT, 0);
        Post(*w, FD_WRITE, 0);
    }
    Update(*w);
}

void listening(SocketHandle s) {
    if (Watch* w = Find(s)) {
        w->phase = Phase::Listening;
        w->readArmed = true;
        Update(*w);
    }
}

void accepted(SocketHandle listener, SocketHandle fresh) {
    if (Watch* w = Find(listener)) {
        w->readArmed = true;
        Update(*w);
    }
    if (fresh == INVALID_SOCKET) return;
    opened(fresh, true);
    Find(fresh)->phase = Phase::Connected;
}

void received(SocketHandle s) {
    if (Watch* w = Find(s)) {
        w->readArmed = true;
        Update(*w);
    }
}

void sendBlocked(SocketHandle s) {
    if (Watch* w = Find(s)) {
        w->writeWanted = true;
        Update(*w);
    }
}

} // namespace notices

int asyncSelect(SocketHandle s, WindowId window, unsigned msg, long mask) {
    Watch* w = Find(s);
    if (!w) {
        setLastError(WSAENOTSOCK);
        return SOCKET_ERROR;
    }
    w->window = window;
    w->msg = msg;
    w->mask = mask;
    // Selecting again reports what is already true: bytes waiting, room to send.
    w->readArmed = true;
    if (w->phase == Phase::Connected && (mask & FD_WRITE)) w->writeWanted = true;
    Update(*w);
    return 0;
}

} // namespace platform

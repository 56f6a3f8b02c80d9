#include "Sockets.h"
#include "SocketNotices.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace platform {
namespace {

thread_local int LastErrorCode = 0;

int Fail(int code) {
    LastErrorCode = code;
    return SOCKET_ERROR;
}
int FailErrno() {
    return Fail(winsockCodeOf(errno));
}

int Fd(SocketHandle s) {
    return s > SocketHandle(INT32_MAX) ? -1 : int(s);
}

sockaddr_in ToPosix(const SockAddrIn& a) {
    sockaddr_in p{};
    p.sin_family = AF_INET; // the record's family field is always the internet one
    p.sin_port = a.port;
    p.sin_addr.s_addr = a.addr;
    return p;
}

SockAddrIn FromPosix(const sockaddr_in& p) {
    SockAddrIn a;
    a.port = p.sin_port;
    a.addr = p.sin_addr.s_addr;
    return a;
}

bool MakeNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

int SendFlagsOf(int flags) {
    return MSG_NOSIGNAL | ((flags & MSG_OUT_OF_BAND) ? MSG_OOB : 0);
}

} // namespace

int lastError() {
    return LastErrorCode;
}
void setLastError(int code) {
    LastErrorCode = code;
}

uint16_t hostToNet16(uint16_t v) {
    return htons(v);
}
uint16_t netToHost16(uint16_t v) {
    return ntohs(v);
}
uint32_t hostToNet32(uint32_t v) {
    return htonl(v);
}

uint32_t textToAddress(const std::string& text) {
    in_addr a{};
    // inet_aton accepts the same shorthand forms as inet_addr, without the
    // ambiguity of its all-ones error value.
    if (inet_aton(text.c_str(), &a) == 0) return INADDR_NONE;
    return a.s_addr;
}

std::string addressToText(uint32_t netAddr) {
    char text[INET_ADDRSTRLEN] = {};
    in_addr a{};
    a.s_addr = netAddr;
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

SocketHandle openSocket(int family, int type, int protocol) {
    if (family != AF_INET_FAMILY) {
        Fail(10047);
        return INVALID_SOCKET;
    }
    const int posixType = type == SOCK_STREAM_TYPE  ? SOCK_STREAM
                          : type == SOCK_DGRAM_TYPE ? SOCK_DGRAM
                                                    : SOCK_RAW;
    const int fd = ::socket(AF_INET, posixType | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        FailErrno();
        return INVALID_SOCKET;
    }
    if (!MakeNonBlocking(fd)) {
        const int code = winsockCodeOf(errno);
        ::close(fd);
        Fail(code);
        return INVALID_SOCKET;
    }
    notices::opened(SocketHandle(fd), posixType == SOCK_STREAM);
    return SocketHandle(fd);
}

int closeSocket(SocketHandle s) {
    const int fd = Fd(s);
    if (fd < 0) return Fail(WSAENOTSOCK);
    notices::forget(s); // before the number can be reused
    if (::close(fd) != 0 && errno != EINTR) return FailErrno();
    return 0;
}

int shutdownSocket(SocketHandle s, int how) {
    const int posixHow = how == 0 ? SHUT_RD : how == 1 ? SHUT_WR : SHUT_RDWR;
    return ::shutdown(Fd(s), posixHow) == 0 ? 0 : FailErrno();
}

namespace {

// Where an option lives and how its value is stored.
struct OptionPlace {
    int level;
    int name;
    enum Kind { Flag, Count, Byte, Address } kind;
};

OptionPlace PlaceOf(SocketOption option) {
    switch (option) {
    case SocketOption::ReuseAddr:
        return {SOL_SOCKET, SO_REUSEADDR, OptionPlace::Flag};
    case SocketOption::KeepAlive:
        return {SOL_SOCKET, SO_KEEPALIVE, OptionPlace::Flag};
    case SocketOption::Broadcast:
        return {SOL_SOCKET, SO_BROADCAST, OptionPlace::Flag};
    case SocketOption::TcpNoDelay:
        return {IPPROTO_TCP, TCP_NODELAY, OptionPlace::Flag};
    case SocketOption::MulticastTtl:
        return {IPPROTO_IP, IP_MULTICAST_TTL, OptionPlace::Byte};
    case SocketOption::MulticastInterface:
        return {IPPROTO_IP, IP_MULTICAST_IF, OptionPlace::Address};
    case SocketOption::SendBuffer:
        return {SOL_SOCKET, SO_SNDBUF, OptionPlace::Count};
    }
    return {SOL_SOCKET, -1, OptionPlace::Flag};
}

} // namespace

int setOption(SocketHandle s, SocketOption option, int value) {
    const OptionPlace place = PlaceOf(option);
    int number = place.kind == OptionPlace::Flag ? (value != 0 ? 1 : 0) : value;
    unsigned char byte = static_cast<unsigned char>(value);
    in_addr iface{};
    iface.s_addr = uint32_t(value);
    const void* data = &number;
    socklen_t len = sizeof number;
    if (place.kind == OptionPlace::Byte) {
        data = &byte;
        len = sizeof byte;
    } else if (place.kind == OptionPlace::Address) {
        data = &iface;
        len = sizeof iface;
    }
    return ::setsockopt(Fd(s), place.level, place.name, data, len) == 0 ? 0 : FailErrno();
}

int getOption(SocketHandle s, SocketOption option, int& value) {
    const OptionPlace place = PlaceOf(option);
    // Big enough for every kind; the system writes only what the option holds.
    union {
        int number;
        unsigned char byte;
        in_addr iface;
    } data{};
    socklen_t len = sizeof data;
    if (::getsockopt(Fd(s), place.level, place.name, &data, &len) != 0) return FailErrno();
    switch (place.kind) {
    case OptionPlace::Flag:
        value = data.number != 0 ? 1 : 0;
        break;
    case OptionPlace::Count:
        value = data.number;
        break;
    case OptionPlace::Byte:
        // Linux answers the TTL as an int or a byte depending on the length.
        value = len == 1 ? data.byte : data.number;
        break;
    case OptionPlace::Address:
        value = int(data.iface.s_addr);
        break;
    }
    return 0;
}

int setLinger(SocketHandle s, uint16_t onOff, uint16_t seconds) {
    linger l{};
    l.l_onoff = onOff;
    l.l_linger = seconds;
    return ::setsockopt(Fd(s), SOL_SOCKET, SO_LINGER, &l, sizeof l) == 0 ? 0 : FailErrno();
}

int joinMulticastGroup(SocketHandle s, uint32_t group, uint32_t interfaceAddr) {
    ip_mreq req{};
    req.imr_multiaddr.s_addr = group;
    req.imr_interface.s_addr = interfaceAddr;
    return ::setsockopt(Fd(s), IPPROTO_IP, IP_ADD_MEMBERSHIP, &req, sizeof req) == 0 ? 0
                                                                                     : FailErrno();
}

int bindSocket(SocketHandle s, const SockAddrIn& addr) {
    const sockaddr_in p = ToPosix(addr);
    return ::bind(Fd(s), reinterpret_cast<const sockaddr*>(&p), sizeof p) == 0 ? 0 : FailErrno();
}

int connectSocket(SocketHandle s, const SockAddrIn& addr) {
    const sockaddr_in p = ToPosix(addr);
    if (::connect(Fd(s), reinterpret_cast<const sockaddr*>(&p), sizeof p) == 0) {
        notices::connecting(s, true);
        return 0;
    }
    if (errno == EINPROGRESS) {
        notices::connecting(s, false);
        return Fail(WSAEWOULDBLOCK);
    }
    return FailErrno();
}

int listenSocket(SocketHandle s, int backlog) {
    if (::listen(Fd(s), backlog) != 0) return FailErrno();
    notices::listening(s);
    return 0;
}

SocketHandle acceptSocket(SocketHandle s, SockAddrIn* peer) {
    sockaddr_in p{};
    socklen_t len = sizeof p;
    const int fd =
        ::accept4(Fd(s), reinterpret_cast<sockaddr*>(&p), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    const int code = fd < 0 ? winsockCodeOf(errno) : 0;
    notices::accepted(s, fd < 0 ? INVALID_SOCKET : SocketHandle(fd));
    if (fd < 0) {
        Fail(code);
        return INVALID_SOCKET;
    }
    if (peer) *peer = FromPosix(p);
    return SocketHandle(fd);
}

int sendBytes(SocketHandle s, const void* data, int len, int flags) {
    const ssize_t n = ::send(Fd(s), data, size_t(len < 0 ? 0 : len), SendFlagsOf(flags));
    // A short send means the system is full just as would-block does; the
    // caller stops there and waits for the write notice.
    if (n >= 0 && n < len) notices::sendBlocked(s);
    if (n >= 0) return int(n);
    const int code = FailErrno();
    if (lastError() == WSAEWOULDBLOCK) notices::sendBlocked(s);
    return code;
}

int sendPieces(SocketHandle s, const SendPiece* pieces, int count, int flags) {
    constexpr int MaxPieces = 256;
    iovec iov[MaxPieces];
    count = std::clamp(count, 0, MaxPieces);
    size_t total = 0;
    for (int i = 0; i < count; ++i) {
        iov[i].iov_base = const_cast<void*>(pieces[i].data);
        iov[i].iov_len = size_t(std::max(pieces[i].len, 0));
        total += iov[i].iov_len;
    }
    msghdr m{};
    m.msg_iov = iov;
    m.msg_iovlen = size_t(count);
    const ssize_t n = ::sendmsg(Fd(s), &m, SendFlagsOf(flags));
    if (n >= 0 && size_t(n) < total) notices::sendBlocked(s);
    if (n >= 0) return int(std::min<ssize_t>(n, INT_MAX));
    const int code = FailErrno();
    if (lastError() == WSAEWOULDBLOCK) notices::sendBlocked(s);
    return code;
}

int sendBytesTo(SocketHandle s, const void* data, int len, int flags, const SockAddrIn& to) {
    const sockaddr_in p = ToPosix(to);
    const ssize_t n = ::sendto(Fd(s), data, size_t(len < 0 ? 0 : len), SendFlagsOf(flags),
                               reinterpret_cast<const sockaddr*>(&p), sizeof p);
    if (n >= 0) return int(n);
    const int code = FailErrno();
    if (lastError() == WSAEWOULDBLOCK) notices::sendBlocked(s);
    return code;
}

int receiveBytes(SocketHandle s, void* buffer, int size, int flags) {
    const ssize_t n =
        ::recv(Fd(s), buffer, size_t(size < 0 ? 0 : size), (flags & MSG_OUT_OF_BAND) ? MSG_OOB : 0);
    const int saved = errno;
    notices::received(s);
    if (n >= 0) return int(n);
    return Fail(winsockCodeOf(saved));
}

int receiveBytesFrom(SocketHandle s, void* buffer, int size, int flags, SockAddrIn* from) {
    sockaddr_in p{};
    socklen_t len = sizeof p;
    const ssize_t n =
        ::recvfrom(Fd(s), buffer, size_t(size < 0 ? 0 : size),
                   (flags & MSG_OUT_OF_BAND) ? MSG_OOB : 0, reinterpret_cast<sockaddr*>(&p), &len);
    const int saved = errno;
    notices::received(s);
    if (n < 0) return Fail(winsockCodeOf(saved));
    if (from) *from = FromPosix(p);
    return int(n);
}

int pendingBytes(SocketHandle s, unsigned long& count) {
    int n = 0;
    if (::ioctl(Fd(s), FIONREAD, &n) != 0) return FailErrno();
    count = static_cast<unsigned long>(n);
    return 0;
}

int unacknowledgedBytes(SocketHandle s, unsigned long& count) {
    int n = 0;
    if (::ioctl(Fd(s), SIOCOUTQ, &n) != 0) return FailErrno();
    count = static_cast<unsigned long>(n);
    return 0;
}

int socketName(SocketHandle s, SockAddrIn& addr) {
    sockaddr_in p{};
    socklen_t len = sizeof p;
    if (::getsockname(Fd(s), reinterpret_cast<sockaddr*>(&p), &len) != 0) return FailErrno();
    addr = FromPosix(p);
    return 0;
}

int peerName(SocketHandle s, SockAddrIn& addr) {
    sockaddr_in p{};
    socklen_t len = sizeof p;
    if (::getpeername(Fd(s), reinterpret_cast<sockaddr*>(&p), &len) != 0) return FailErrno();
    addr = FromPosix(p);
    return 0;
}

} // namespace platform

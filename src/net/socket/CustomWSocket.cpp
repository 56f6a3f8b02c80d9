// Construction, the hidden window, addressing, connecting, receiving,
// closing and error reporting of the socket core.
#include "CustomWSocket.h"
#include "WSocketResolve.h"

#include "Messages.h"

#include <atomic>

namespace ps = platform;

namespace {

std::atomic<int> LiveSockets{0};

uint16_t LowWord(intptr_t v) {
    return uint16_t(uintptr_t(v) & 0xFFFF);
}
uint16_t HighWord(intptr_t v) {
    return uint16_t((uintptr_t(v) >> 16) & 0xFFFF);
}

} // namespace

const char* SocketStateName(TSocketState state) {
    static const char* const names[] = {"wsInvalidState", "wsOpened",    "wsBound",
                                        "wsConnecting",   "wsConnected", "wsAccepting",
                                        "wsListening",    "wsClosed"};
    return unsigned(state) < 8 ? names[state] : "?";
}

int TCustomWSocket::SocketCount() {
    return LiveSockets.load();
}

TCustomWSocket::TCustomWSocket() {
    std::weak_ptr<void> life = FLife;
    FWindowHandle = ps::createMessageWindow([this, life](unsigned m, uintptr_t w, intptr_t l) {
        try {
            return WndProc(m, w, l);
        } catch (const std::exception& e) {
            if (!life.expired()) HandleEventException(e);
        }
        return intptr_t(0);
    });
    if (!FWindowHandle) throw ESocketException("Cannot create a hidden window for TWSocket");
    TCustomWSocket::ResetDefaults();
    ++LiveSockets;
}

TCustomWSocket::~TCustomWSocket() {
    FDestroying = true;
    try {
        CancelDnsLookup();
    } catch (const std::exception&) {
    }
    if (FHSocket != INVALID_SOCKET) ps::closeSocket(FHSocket);
    FHSocket = INVALID_SOCKET;
    --LiveSockets;
    ClearSendQueue();
    ps::destroyMessageWindow(FWindowHandle);
}

void TCustomWSocket::ResetDefaults() {
    FSockAddr = ps::SockAddrIn{};
    FAddressFamily = ps::AF_INET_FAMILY;
    FPortAssigned = FAddrAssigned = FAddrResolved = FPortResolved = FProtoResolved = false;
    FLocalPortResolved = false;
    FProtoAssigned = true;
    FProtoNumber = 6;
    FProtoStr = "tcp";
    FSocketType = ps::SOCK_STREAM_TYPE;
    FLocalPortStr = "0";
    FLocalAddr = "0.0.0.0";
    FLingerOnOff = wsLingerOn;
    FLingerTimeout = 0;
    FHSocket = INVALID_SOCKET;
    FSelectEvent = 0;
    FState = wsClosed; // quietly: a reset is not a state change
    FAllSent = true;
    FPaused = false;
    FReadCount = 0;
    FClosedFired = false;
    FFlushTimeout = 60;
}

// ---- addressing -----------------------------------------------------------

void TCustomWSocket::SetAddr(const std::string& value) {
    if (FAddrAssigned && value == FAddrStr) return;
    if (FState != wsClosed) return RaiseSocketException("Cannot change Addr if not closed");
    FAddrStr = Trim(value);
    FAddrAssigned = !FAddrStr.empty();
    if (FAddrAssigned) FAddrResolved = false;
}

void TCustomWSocket::SetPort(const std::string& value) {
    if (FPortAssigned && value == FPortStr) return;
    if (FState != wsClosed) return RaiseSocketException("Cannot change Port if not closed");
    FPortStr = Trim(value);
    FPortAssigned = !FPortStr.empty();
    if (FPortAssigned) FPortResolved = false;
}

void TCustomWSocket::SetProto(const std::string& value) {
    if (FProtoAssigned && value == FProtoStr) return;
    if (FState != wsClosed) return RaiseSocketException("Cannot change Proto if not closed");
    FProtoStr = Trim(value);
    FProtoAssigned = !FProtoStr.empty();
    if (FProtoAssigned) FProtoResolved = false;
}

void TCustomWSocket::SetLocalAddr(const std::string& value) {
    if (FState != wsClosed) return RaiseSocketException("Cannot change LocalAddr if not closed");
    FLocalAddr = value.empty() ? "0.0.0.0" : value;
}

void TCustomWSocket::SetLocalPort(const std::string& value) {
    if (FState != wsClosed) return RaiseSocketException("Cannot change LocalPort if not closed");
    FLocalPortStr = value;
    FLocalPortResolved = false;
}

TSocketSendFlags TCustomWSocket::SendFlags() {
    if (FSendFlags == 0) return wsSendNormal;
    if (FSendFlags == ps::MSG_OUT_OF_BAND) return wsSendUrgent;
    RaiseSocketException("Invalid internal SendFlags");
    return wsSendNormal;
}

void TCustomWSocket::SetSendFlags(TSocketSendFlags v) {
    if (v == wsSendNormal)
        FSendFlags = 0;
    else if (v == wsSendUrgent)
        FSendFlags = ps::MSG_OUT_OF_BAND;
    else
        RaiseSocketException("Invalid SendFlags");
}

// ---- the hidden window ----------------------------------------------------

intptr_t TCustomWSocket::WndProc(unsigned msg, uintptr_t wParam, intptr_t lParam) {
    switch (msg) {
    case WM_SOCKET_EVENT:
        EventNotice(wParam, lParam);
        return 0;
    case WM_HOST_LOOKUP_DONE:
        HostLookupDone(wParam, lParam);
        return 0;
    case WM_ADDR_LOOKUP_DONE:
        AddrLookupDone(wParam, lParam);
        return 0;
    case WM_SOCKET_CLOSE_LATER:
        if (wParam == FSession) Close();
        return 0;
    case WM_SOCKET_SENT_LATER:
        if (wParam == FSession && FHSocket != INVALID_SOCKET) EventNotice(FHSocket, ps::FD_WRITE);
        return 0;
    case WM_SOCKET_ACK_POLL:
        AckPoll(wParam, lParam);
        return 0;
    case WM_SOCKET_FREE_LATER:
        delete this;
        return 0;
    case WM_SOCKET_TEST_EXCEPTION:
        throw ESocketException("Test exception in WSocket");
    default:
        return 0;
    }
}

void TCustomWSocket::EventNotice(uintptr_t wParam, intptr_t lParam) {
    if (wParam != FHSocket || FPaused) return; // a notice of an earlier handle
    const uint16_t events = LowWord(lParam);
    const uint16_t error = HighWord(lParam);
    const std::weak_ptr<void> life = Life();
    // Each step re-checks the handle: a handler may have closed the socket,
    // and a close gives the handle number back to the system for reuse.
    const TSocket handle = FHSocket;
    const uintptr_t session = FSession;
    auto stillOurs = [&] { return !life.expired() && FSession == session && FHSocket == handle; };

    if (events & ps::FD_CONNECT) {
        if (FState != wsConnected) {
            ChangeState(wsConnected);
            if (life.expired()) return;
            FireSessionConnected(error);
            // The handler may have closed and started the next session.
            if (!stillOurs()) return;
            if (error != 0 && FState != wsClosed) Close();
        }
        if (!stillOurs()) return;
    }
    if (events & ps::FD_READ) {
        if (FState != wsConnected) {
            ChangeState(wsConnected);
            if (life.expired()) return;
            FireSessionConnected(error);
            if (!stillOurs()) return;
        }
        ReceiveLoop(error, FComponentOptions);
        if (!stillOurs()) return;
    }
    if (events & ps::FD_WRITE) {
        TryToSend();
        if (!stillOurs()) return;
        if (FAllSent) FireDataSent(error);
        if (!stillOurs()) return;
    }
    if (events & ps::FD_ACCEPT) {
        FireSessionAvailable(error);
        if (!stillOurs()) return;
    }
    if ((events & ps::FD_CLOSE) && FState != wsConnecting) {
        ReceiveLoop(0, FComponentOptions.Without(wsoNoReceiveLoop));
        if (!stillOurs()) return;
        if (!FClosedFired) {
            FClosedFired = true;
            FireSessionClosed(error);
            if (!stillOurs()) return;
        }
        if (FState != wsClosed) Close();
    }
}

void TCustomWSocket::HandleEventException(const std::exception& e) {
    bool canClose = true;
    const std::weak_ptr<void> life = Life();
    if (OnBgException) {
        try {
            OnBgException(this, e, canClose);
        } catch (...) {
        }
    }
    if (life.expired() || !canClose) return;
    try {
        Abort();
    } catch (...) {
    }
}

// ---- receiving ------------------------------------------------------------

void TCustomWSocket::ReceiveLoop(uint16_t error, TWSocketOptions options) {
    const std::weak_ptr<void> life = Life();
    try {
        unsigned long before = 0;
        if (ps::pendingBytes(FHSocket, before) != 0) before = ~0UL;
        for (;;) {
            FLastError = 0;
            if (!FireDataAvailable(error)) {
                if (life.expired()) return;
                char scratch[1024];
                if (RecvRaw(scratch, sizeof scratch, 0) < 0) {
                    const int code = ps::lastError();
                    FLastError = code == ps::WSAEWOULDBLOCK ? 0 : code;
                    if (code == ps::WSAEWOULDBLOCK) return;
                }
            }
            if (life.expired() || FHSocket == INVALID_SOCKET) return;
            if (options.Contains(wsoNoReceiveLoop) || FLastError != 0) return;
            unsigned long waiting = 0;
            if (ps::pendingBytes(FHSocket, waiting) != 0) {
                FLastError = ps::lastError();
                return;
            }
            // A pass that took nothing would repeat forever; the next
            // receive re-arms the read notice.
            if (waiting == 0 || waiting >= before) return;
            before = waiting;
        }
    } catch (...) {
        // A handler's failure ends this round of reading; the notice re-arms.
    }
}

int TCustomWSocket::RecvRaw(void* buffer, int size, int flags) {
    return ps::receiveBytes(FHSocket, buffer, size, flags);
}

int TCustomWSocket::RecvFromRaw(void* buffer, int size, ps::SockAddrIn& from) {
    return ps::receiveBytesFrom(FHSocket, buffer, size, 0, &from);
}

int TCustomWSocket::Receive(void* buffer, int size) {
    const int n = RecvRaw(buffer, size, 0);
    if (n < 0)
        FLastError = ps::lastError();
    else
        FReadCount += n;
    return n;
}

std::string TCustomWSocket::ReceiveStr() {
    int n = GetRcvdCount();
    if (n < 0) return {};
    if (n == 0) n = 255;
    std::string data(size_t(n), '\0');
    const int got = Receive(data.data(), n);
    data.resize(got > 0 ? size_t(got) : 0);
    return data;
}

int TCustomWSocket::ReceiveFrom(void* buffer, int size, ps::SockAddrIn& from) {
    const int n = RecvFromRaw(buffer, size, from);
    if (n < 0)
        FLastError = ps::lastError();
    else
        FReadCount += n;
    return n;
}

int TCustomWSocket::GetRcvdCount() {
    unsigned long waiting = 0;
    if (ps::pendingBytes(FHSocket, waiting) != 0) {
        RaiseWinsockError("ioctlSocket");
        return -1;
    }
    return int(waiting);
}

// ---- connecting -----------------------------------------------------------

void TCustomWSocket::Connect() {
    if (FHSocket != INVALID_SOCKET && FState != wsClosed)
        return RaiseSocketException("Connect: Socket already in use");
    if (!FPortAssigned) return RaiseSocketException("Connect: No Port Specified");
    if (!FAddrAssigned) return RaiseSocketException("Connect: No IP Address Specified");
    if (!FProtoAssigned) return RaiseSocketException("Connect: No Protocol Specified");
    try {
        if (!FProtoResolved) {
            FProtoNumber = WSocketResolveProto(FProtoStr);
            FSocketType = FProtoNumber == 6    ? ps::SOCK_STREAM_TYPE
                          : FProtoNumber == 17 ? ps::SOCK_DGRAM_TYPE
                                               : ps::SOCK_RAW_TYPE;
            FProtoResolved = true;
        }
        if (!FPortResolved) {
            FPortNumber = WSocketResolvePort(FPortStr, FProtoStr);
            FSockAddr.port = ps::hostToNet16(FPortNumber);
            FPortResolved = true;
        }
        if (!FLocalPortResolved) {
            FLocalPortNumber = WSocketResolvePort(FLocalPortStr, FProtoStr);
            FLocalPortResolved = true;
        }
        if (!FAddrResolved) {
            FSockAddr.addr = WSocketResolveHost(FAddrStr);
            FAddrResolved = true;
        }
    } catch (const ESocketException& e) {
        return RaiseSocketException(std::string("connect: ") + e.what());
    }
    ClearSendQueue();
    FHSocket = ps::openSocket(FAddressFamily, FSocketType, FProtoNumber);
    if (FHSocket == INVALID_SOCKET) return RaiseWinsockError("Connect (socket)");
    BeginSession();
    // A session ended by an error code kept the flag; this session is new.
    FClosedFired = false;
    const std::weak_ptr<void> life = Life();
    ChangeState(wsOpened);
    if (life.expired()) return;
    if (FState != wsOpened) {
        ps::setLastError(ps::WSAEINVAL);
        return RaiseWinsockError("Connect (Invalid operation in OnChangeState)");
    }
    if (FSocketType == ps::SOCK_STREAM_TYPE) {
        if (ps::setOption(FHSocket, ps::SocketOption::ReuseAddr, -1) != 0)
            return RaiseWinsockError("setsockopt(SO_REUSEADDR)");
        if (FComponentOptions.Contains(wsoTcpNoDelay) &&
            ps::setOption(FHSocket, ps::SocketOption::TcpNoDelay, -1) != 0)
            return RaiseWinsockError("setsockopt(IPPROTO_TCP, TCP_NODELAY)");
        ApplyLinger();
        if (ps::setOption(FHSocket, ps::SocketOption::KeepAlive, -1) != 0)
            return RaiseWinsockError("setsockopt(SO_KEEPALIVE)");
        if (FLocalPortNumber != 0 || FLocalAddr != "0.0.0.0") BindLocal();
    } else if (FSocketType == ps::SOCK_DGRAM_TYPE) {
        BindLocal();
        if (FMultiCast) {
            if (FMultiCastIpTTL != 1 &&
                ps::setOption(FHSocket, ps::SocketOption::MulticastTtl, FMultiCastIpTTL) != 0)
                return RaiseWinsockError("setsockopt(IP_MULTICAST_TTL)");
            if (FLocalAddr != "0.0.0.0" &&
                ps::setOption(FHSocket, ps::SocketOption::MulticastInterface,
                              int(WSocketResolveHost(FLocalAddr))) != 0)
                return RaiseWinsockError("setsockopt(IP_MULTICAST_IF)");
        }
        if (FSockAddr.addr == 0xFFFFFFFFu &&
            ps::setOption(FHSocket, ps::SocketOption::Broadcast, 1) != 0)
            return RaiseWinsockError("setsockopt(SO_BROADCAST)");
    }
    if (FHSocket == INVALID_SOCKET) return; // an error handler closed it
    FSelectEvent = ps::FD_READ | ps::FD_WRITE | ps::FD_ACCEPT | ps::FD_CONNECT | ps::FD_CLOSE;
    if (ps::asyncSelect(FHSocket, FWindowHandle, WM_SOCKET_EVENT, FSelectEvent) != 0)
        return RaiseWinsockError("WSAAsyncSelect");
    if (FSocketType == ps::SOCK_DGRAM_TYPE) {
        ChangeState(wsConnected);
        if (life.expired()) return;
        FireSessionConnected(0);
        return;
    }
    if (ps::connectSocket(FHSocket, FSockAddr) == 0 || ps::lastError() == ps::WSAEWOULDBLOCK) {
        ChangeState(wsConnecting);
        return;
    }
    FLastError = ps::lastError();
    RaiseWinsockError("Connect");
}

void TCustomWSocket::ApplyLinger() {
    if (FLingerOnOff == wsLingerNoSet) return;
    if (FHSocket == INVALID_SOCKET)
        return RaiseSocketException("Cannot set linger option at this time");
    // Every setting closes gracefully with the data still queued delivered in
    // the background: on Linux lingering on with 0 s resets the connection and
    // drops that data, and a linger time above 0 makes close() block the
    // thread. Only Abort asks for the reset, itself.
    const uint16_t onOff = 0;
    const uint16_t seconds = uint16_t(FLingerTimeout);
    if (ps::setLinger(FHSocket, onOff, seconds) != 0) RaiseWinsockError("setsockopt(SO_LINGER)");
}

// ---- closing --------------------------------------------------------------

void TCustomWSocket::Close() {
    DoClose(true, 0);
}

void TCustomWSocket::DoClose(bool shutdownFirst, int error) {
    if (FHSocket == INVALID_SOCKET) {
        if (FState != wsClosed) {
            ChangeState(wsClosed);
            ResetDefaults();
        }
        return;
    }
    if (FState == wsClosed) return;
    if (shutdownFirst) ps::shutdownSocket(FHSocket, 1);
    // A non-blocking close never reports would-block here, so no retry loop.
    if (ps::closeSocket(FHSocket) != 0) {
        FLastError = ps::lastError();
        FHSocket = INVALID_SOCKET;
        if (FLastError != ps::WSANOTINITIALISED)
            return RaiseWinsockError("Disconnect (closesocket)");
    }
    FHSocket = INVALID_SOCKET;
    const std::weak_ptr<void> life = Life();
    ChangeState(wsClosed);
    if (life.expired()) return;
    if (!FDestroying && !FClosedFired) {
        FClosedFired = true;
        FireSessionClosed(uint16_t(error));
        if (life.expired()) return;
    }
    // A handler may have started the next session from OnSessionClosed.
    if (FHSocket != INVALID_SOCKET) return;
    try {
        ResetDefaults();
    } catch (...) {
    }
}

void TCustomWSocket::Abort() {
    CancelDnsLookup();
    ClearSendQueue();
    if (FState == wsConnected && FProtoNumber == 6) {
        FLingerOnOff = wsLingerOff;
        // Lingering on with no time is what makes the close a reset.
        if (ps::setLinger(FHSocket, 1, 0) != 0) RaiseWinsockError("setsockopt(SO_LINGER)");
    }
    DoClose(false, 0);
}

void TCustomWSocket::CloseLater() {
    ps::postMessage(FWindowHandle, WM_SOCKET_CLOSE_LATER, FSession, 0);
}

void TCustomWSocket::FreeLater() {
    ps::postMessage(FWindowHandle, WM_SOCKET_FREE_LATER, 0, 0);
}

void TCustomWSocket::Shutdown(int how) {
    if (FHSocket != INVALID_SOCKET) ps::shutdownSocket(FHSocket, how);
}

void TCustomWSocket::DrainUntilClosed() {
    const std::weak_ptr<void> life = Life();
    // The close notice, handled while waiting, is what ends the loop.
    while (!life.expired() && FHSocket != INVALID_SOCKET && FState != wsClosed) {
        WaitBriefly();
        if (life.expired() || FHSocket == INVALID_SOCKET) return;
        unsigned long waiting = 0;
        if (ps::pendingBytes(FHSocket, waiting) != 0) {
            FLastError = ps::lastError();
            return;
        }
        if (waiting > 0) FireDataAvailable(0);
    }
}

void TCustomWSocket::PumpMessages() {
    ps::pumpMessages();
}

// Waits for the next event instead of spinning.
void TCustomWSocket::WaitBriefly() {
    ps::waitForMessages(50);
}

void TCustomWSocket::ChangeState(TSocketState newState) {
    const TSocketState old = FState;
    FState = newState;
    FireChangeState(old, newState);
}

// ---- errors ---------------------------------------------------------------

void TCustomWSocket::RaiseSocketException(const std::string& text) {
    if (OnError) return FireError();
    throw ESocketException(text);
}

void TCustomWSocket::RaiseWinsockError(const std::string& name) {
    const int code = ps::lastError();
    const std::string text =
        "Error " + std::to_string(code) + " in function " + name + "\r\n" + WinsockErrorText(code);
    if (code == ps::WSAECONNRESET || code == ps::WSAENOTCONN) {
        if (FHSocket != INVALID_SOCKET) ps::closeSocket(FHSocket);
        FHSocket = INVALID_SOCKET;
        const std::weak_ptr<void> life = Life();
        if (FState != wsClosed && !FClosedFired) {
            FClosedFired = true;
            FireSessionClosed(uint16_t(code));
            if (life.expired()) return;
        }
        if (FState != wsClosed) ChangeState(wsClosed);
        if (life.expired()) return;
    }
    FLastError = code;
    RaiseSocketException(text);
}

void TCustomWSocket::ReleaseHandleAndRaise(const std::string& name) {
    const int code = ps::lastError();
    if (FHSocket != INVALID_SOCKET) ps::closeSocket(FHSocket);
    FHSocket = INVALID_SOCKET;
    ps::setLastError(code);
    RaiseWinsockError(name);
}

// ---- events ---------------------------------------------------------------

bool TCustomWSocket::FireDataAvailable(uint16_t error) {
    if (!OnDataAvailable) return false;
    OnDataAvailable(this, error);
    return true;
}

void TCustomWSocket::FireSessionAvailable(uint16_t error) {
    if (OnSessionAvailable) OnSessionAvailable(this, error);
}
void TCustomWSocket::FireSessionConnected(uint16_t error) {
    if (OnSessionConnected && !FDestroying) OnSessionConnected(this, error);
}
void TCustomWSocket::FireSessionClosed(uint16_t error) {
    if (OnSessionClosed && !FDestroying) OnSessionClosed(this, error);
}
void TCustomWSocket::FireDataSent(uint16_t error) {
    if (OnDataSent) OnDataSent(this, error);
}
void TCustomWSocket::FireChangeState(TSocketState oldState, TSocketState newState) {
    if (OnChangeState && !FDestroying) OnChangeState(this, oldState, newState);
}
void TCustomWSocket::FireDnsLookupDone(uint16_t error) {
    if (OnDnsLookupDone && !FDestroying) OnDnsLookupDone(this, error);
}
void TCustomWSocket::FireError() {
    if (OnError) OnError(this);
}

// ---- peer -----------------------------------------------------------------

std::string TCustomWSocket::GetPeerAddr() {
    if (FState != wsConnected) return "error";
    ps::SockAddrIn peer;
    if (ps::peerName(FHSocket, peer) != 0) {
        RaiseWinsockError("GetPeerName");
        return "error";
    }
    return ps::addressToText(peer.addr);
}

std::string TCustomWSocket::GetPeerPort() {
    if (FState != wsConnected) return "error";
    ps::SockAddrIn peer;
    if (ps::peerName(FHSocket, peer) != 0) {
        RaiseWinsockError("GetPeerPort");
        return "error";
    }
    return std::to_string(ps::netToHost16(peer.port));
}

int TCustomWSocket::GetPeerName(ps::SockAddrIn& name) {
    if (FState != wsConnected) return -1;
    return ps::peerName(FHSocket, name);
}

int TCustomWSocket::GetSockName(ps::SockAddrIn& name) {
    return ps::socketName(FHSocket, name);
}

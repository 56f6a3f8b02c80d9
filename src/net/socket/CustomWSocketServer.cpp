// Name lookups, local binding, listening, accepting, adopting a handle, the
// bound address and pausing notices.
#include "CustomWSocket.h"
#include "WSocketResolve.h"

#include <cstdio>

namespace ps = platform;

namespace {

std::string FormatLookupError(const std::string& name, int code) {
    char buf[400];
    std::snprintf(buf, sizeof buf, "%s: can't start DNS lookup, error #%d",
                  name.substr(0, 300).c_str(), code);
    return buf;
}

std::string FormatCode(const char* fmt, int code) {
    char buf[128];
    std::snprintf(buf, sizeof buf, fmt, code);
    return buf;
}

uint16_t HighWord(intptr_t v) {
    return uint16_t((uintptr_t(v) >> 16) & 0xFFFF);
}

} // namespace

// ---- lookups --------------------------------------------------------------

void TCustomWSocket::StartLookup(bool byName, const std::string& text, uint32_t addr) {
    if (FLookupHandle != 0) {
        // Replaced silently: no event for the old lookup.
        ps::cancelLookup(FLookupHandle);
        FLookupHandle = 0;
    }
    FDnsResult.clear();
    FDnsResultList.clear();
    // A fresh record each time: a cancelled lookup can never write into it.
    FLookupBuffer = std::make_shared<ps::HostRecord>();
    FLookupHandle =
        byName ? ps::asyncHostByName(FWindowHandle, WM_HOST_LOOKUP_DONE, text, FLookupBuffer)
               : ps::asyncHostByAddress(FWindowHandle, WM_ADDR_LOOKUP_DONE, addr, FLookupBuffer);
    if (FLookupHandle == 0) RaiseSocketException(FormatLookupError(text, ps::lastError()));
}

void TCustomWSocket::DnsLookup(const std::string& hostName) {
    const std::weak_ptr<void> life = Life();
    if (hostName.empty()) {
        RaiseSocketException("DNS lookup: invalid host name.");
        if (!life.expired()) FireDnsLookupDone(ps::WSAEINVAL);
        return;
    }
    if (IsDottedIP(hostName)) {
        const uint32_t a = ps::textToAddress(Trim(hostName));
        if (a != 0xFFFFFFFFu) {
            if (FLookupHandle != 0) ps::cancelLookup(FLookupHandle);
            FLookupHandle = 0;
            FDnsResult = ps::addressToText(a);
            FDnsResultList.assign(1, FDnsResult);
            FireDnsLookupDone(0);
            return;
        }
    }
    if (FWindowHandle == 0) return RaiseSocketException("DnsLookup: Window not assigned");
    StartLookup(true, hostName, 0);
}

void TCustomWSocket::ReverseDnsLookup(const std::string& hostAddr) {
    const std::weak_ptr<void> life = Life();
    if (hostAddr.empty() || hostAddr.size() > 256) {
        RaiseSocketException("ReverseDnsLookup: Invalid host name.");
        if (!life.expired()) FireDnsLookupDone(ps::WSAEINVAL);
        return;
    }
    if (FWindowHandle == 0) return RaiseSocketException("ReverseDnsLookup: Window not assigned");
    StartLookup(false, hostAddr, ps::textToAddress(Trim(hostAddr)));
}

void TCustomWSocket::CancelDnsLookup() {
    if (FLookupHandle == 0) return;
    const int rc = ps::cancelLookup(FLookupHandle);
    FLookupHandle = 0;
    if (rc != 0) return RaiseWinsockError("WSACancelAsyncRequest");
    if (!FDestroying) FireDnsLookupDone(ps::WSAEINTR);
}

void TCustomWSocket::HostLookupDone(uintptr_t wParam, intptr_t lParam) {
    // The platform drops completions of cancelled lookups; this also ignores
    // any that were queued for an earlier one.
    if (FLookupHandle == 0 || wParam != FLookupHandle) return;
    FLookupHandle = 0;
    const uint16_t error = HighWord(lParam);
    if (error == 0 && FLookupBuffer) {
        for (uint32_t a : FLookupBuffer->addresses) FDnsResultList.push_back(ps::addressToText(a));
        if (!FDnsResultList.empty()) FDnsResult = FDnsResultList.front();
    }
    FireDnsLookupDone(error);
}

void TCustomWSocket::AddrLookupDone(uintptr_t wParam, intptr_t lParam) {
    if (FLookupHandle == 0 || wParam != FLookupHandle) return;
    FLookupHandle = 0;
    const uint16_t error = HighWord(lParam);
    if (error == 0 && FLookupBuffer) {
        FDnsResult = FLookupBuffer->name;
        FDnsResultList.assign(1, FDnsResult);
    }
    FireDnsLookupDone(error);
}

// ---- binding and listening ------------------------------------------------

void TCustomWSocket::BindLocal() {
    ps::SockAddrIn local;
    local.port = ps::hostToNet16(FLocalPortNumber);
    local.addr = WSocketResolveHost(FLocalAddr);
    if (ps::bindSocket(FHSocket, local) != 0)
        return RaiseSocketException(FormatCode("winsock.bind failed, error #%d", ps::lastError()));
    ps::SockAddrIn bound;
    if (ps::socketName(FHSocket, bound) != 0)
        return RaiseSocketException(
            FormatCode("winsock.getsockname failed, error #%d", ps::lastError()));
    FLocalPortNumber = ps::netToHost16(bound.port);
    FLocalPortStr = std::to_string(FLocalPortNumber);
}

void TCustomWSocket::Listen() {
    const char* missing = !FPortAssigned    ? "listen: port not assigned"
                          : !FProtoAssigned ? "listen: protocol not assigned"
                          : !FAddrAssigned  ? "listen: address not assigned"
                                            : nullptr;
    if (missing) {
        ps::setLastError(ps::WSAEINVAL);
        return RaiseWinsockError(missing);
    }
    try {
        if (!FProtoResolved) {
            FProtoNumber = WSocketResolveProto(Proto());
            FSocketType = FProtoNumber == 17 ? ps::SOCK_DGRAM_TYPE : ps::SOCK_STREAM_TYPE;
            FProtoResolved = true;
        }
        if (!FPortResolved) {
            FPortNumber = WSocketResolvePort(Port(), Proto());
            FSockAddr.port = ps::hostToNet16(FPortNumber);
            FPortResolved = true;
        }
        if (!FAddrResolved) {
            FSockAddr.addr = WSocketResolveHost(Addr());
            FAddrResolved = true;
        }
    } catch (const ESocketException& e) {
        return RaiseSocketException(std::string("listen: ") + e.what());
    }
    ClearSendQueue();
    // A listener still open from an earlier call would be lost here.
    if (FHSocket != INVALID_SOCKET && FState != wsClosed)
        return RaiseSocketException("Listen: Socket already in use");
    FHSocket = ps::openSocket(FAddressFamily, FSocketType, FProtoNumber);
    if (FHSocket == INVALID_SOCKET) return RaiseWinsockError("socket");
    BeginSession();
    FClosedFired = false;
    if (FSocketType == ps::SOCK_DGRAM_TYPE && ReuseAddr() &&
        ps::setOption(FHSocket, ps::SocketOption::ReuseAddr, -1) != 0)
        return ReleaseHandleAndRaise("setsockopt(SO_REUSEADDR)");
    if (ps::bindSocket(FHSocket, FSockAddr) != 0) return ReleaseHandleAndRaise("Bind");
    const std::weak_ptr<void> life = Life();
    ChangeState(wsBound);
    if (life.expired() || FHSocket == INVALID_SOCKET) return;
    if (FSocketType == ps::SOCK_DGRAM_TYPE && MultiCast()) {
        if (ps::joinMulticastGroup(FHSocket, ps::textToAddress(MultiCastAddrStr()),
                                   WSocketResolveHost(Addr())) != 0)
            return RaiseWinsockError("setsockopt(IP MULTICAST)");
    }
    if (FSocketType == ps::SOCK_STREAM_TYPE) {
        if (ps::listenSocket(FHSocket, 5) != 0) return RaiseWinsockError("Listen");
        ChangeState(wsListening);
    } else {
        ChangeState(wsListening);
        if (life.expired()) return;
        ChangeState(wsConnected);
        if (life.expired()) return;
        FireSessionConnected(0);
    }
    if (life.expired() || FHSocket == INVALID_SOCKET) return;
    FSelectEvent = ps::FD_READ | ps::FD_WRITE | ps::FD_ACCEPT | ps::FD_CLOSE;
    if (ps::asyncSelect(FHSocket, FWindowHandle, WM_SOCKET_EVENT, FSelectEvent) != 0)
        RaiseWinsockError("WSAASyncSelect");
}

TSocket TCustomWSocket::Accept() {
    if (FState != wsListening) {
        ps::setLastError(ps::WSAEINVAL);
        RaiseWinsockError("not a listening socket");
        return INVALID_SOCKET;
    }
    FAcceptedHandle = ps::acceptSocket(FHSocket, &FSockAddr);
    if (FAcceptedHandle == INVALID_SOCKET) RaiseWinsockError("Accept");
    return FAcceptedHandle;
}

void TCustomWSocket::Dup(TSocket newHandle) {
    if (newHandle == 0 || newHandle == INVALID_SOCKET) {
        ps::setLastError(ps::WSAEINVAL);
        return RaiseWinsockError("Dup");
    }
    const std::weak_ptr<void> life = Life();
    if (FState != wsClosed) {
        const int rc = FHSocket == INVALID_SOCKET ? 0 : ps::closeSocket(FHSocket);
        FHSocket = INVALID_SOCKET;
        if (rc != 0) return RaiseWinsockError("Dup (closesocket)");
        ChangeState(wsClosed);
        if (life.expired()) return;
    }
    FHSocket = newHandle;
    BeginSession();
    FClosedFired = false;
    ApplyLinger();
    FSelectEvent = ps::FD_READ | ps::FD_WRITE | ps::FD_CONNECT | ps::FD_CLOSE;
    if (ps::asyncSelect(FHSocket, FWindowHandle, WM_SOCKET_EVENT, FSelectEvent) != 0)
        return RaiseWinsockError("WSAAsyncSelect");
    ChangeState(wsConnected);
}

// ---- bound address and pausing ------------------------------------------

std::string TCustomWSocket::GetBoundPort() {
    if (FState != wsBound && FState != wsConnected && FState != wsListening) return "error";
    ps::SockAddrIn bound;
    if (ps::socketName(FHSocket, bound) != 0) return "error";
    return std::to_string(ps::netToHost16(bound.port));
}

std::string TCustomWSocket::GetBoundAddr() {
    if (FState != wsBound && FState != wsConnected && FState != wsListening) return "error";
    ps::SockAddrIn bound;
    if (ps::socketName(FHSocket, bound) != 0) return "error";
    return ps::addressToText(bound.addr);
}

void TCustomWSocket::Pause() {
    FPaused = true;
    ps::asyncSelect(FHSocket, FWindowHandle, WM_SOCKET_EVENT, 0);
}

void TCustomWSocket::Resume() {
    FPaused = false;
    ps::asyncSelect(FHSocket, FWindowHandle, WM_SOCKET_EVENT, FSelectEvent);
}

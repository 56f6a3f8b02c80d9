// The send queue: Send copies into 1460-byte blocks and hands the system as
// much as it takes; write notices carry on with the rest.
#include "CustomWSocket.h"

#include <algorithm>

namespace ps = platform;

void TCustomWSocket::ClearSendQueue() {
    FSendQueue.clear();
}

void TCustomWSocket::QueueSendData(const void* data, int len) {
    if (len <= 0) return;
    if (FSendQueue.empty()) FSendQueue.push_back(std::make_unique<TBuffer>(FSendBlockSize));
    const char* p = static_cast<const char*>(data);
    int taken = FSendQueue.back()->Write(p, len);
    while (taken < len) {
        p += taken;
        len -= taken;
        FSendQueue.push_back(std::make_unique<TBuffer>(FSendBlockSize));
        taken = FSendQueue.back()->Write(p, len);
    }
}

int TCustomWSocket::Send(const void* data, int len) {
    if (FState != wsConnected) {
        ps::setLastError(ps::WSAENOTCONN);
        RaiseWinsockError("Send");
        return -1;
    }
    FAllSent = false;
    int result = 0;
    if (len > 0) {
        QueueSendData(data, len);
        result = len;
    }
    const std::weak_ptr<void> life = Life();
    TryToSend();
    if (life.expired()) return result;
    // Completion is reported from the loop, never from inside Send.
    if (FAllSent && FHSocket != INVALID_SOCKET)
        ps::postMessage(FWindowHandle, WM_SOCKET_SENT_LATER, FSession, 0);
    return result;
}

int TCustomWSocket::SendStr(const std::string& text) {
    if (text.empty()) return 0;
    return Send(text.data(), int(text.size()));
}

void TCustomWSocket::TryToSend() {
    if (FHSocket == INVALID_SOCKET) return;
    const std::weak_ptr<void> life = Life();
    // The peer is gone: ends the session with its code, quietly.
    auto failed = [&] {
        const int code = ps::lastError();
        switch (code) {
        case ps::WSAENOTCONN:
        case ps::WSAECONNRESET:
        case ps::WSAENOTSOCK:
        case ps::WSAECONNABORTED:
        case ps::WSAEINVAL:
            FClosedFired = true;
            Close();
            if (life.expired()) return;
            FireSessionClosed(uint16_t(code));
            return;
        case ps::WSAEWOULDBLOCK:
            return;
        default:
            return RaiseWinsockError("TryToSend failed");
        }
    };
    // All is sent once nothing waits below the queue either.
    auto allSent = [&] {
        if (FlushRaw() != 0) return failed();
        FAllSent = true;
    };
    // An empty queue has nothing left to send: report it as all sent, or a
    // Send of nothing on a fresh socket would leave Flush waiting forever.
    if (FSendQueue.empty()) return allSent();
    for (;;) {
        TBuffer& block = *FSendQueue.front(); // fetched each round: handlers change the queue
        int unsent = 0;
        const char* bytes = block.Peek(unsent);
        if (unsent == 0) {
            if (FSendQueue.size() == 1) return allSent();
            FSendQueue.pop_front();
            continue;
        }
        const int count = SendRaw(bytes, unsent);
        if (life.expired()) return;
        if (count == 0) return;
        if (count < 0) return failed();
        // Taken off the block before OnSendData runs, so that a handler that
        // sends again cannot hand the same bytes to the system twice.
        block.Remove(count);
        FBytesHanded += uint64_t(count);
        WatchAcknowledgements();
        if (OnSendData) {
            OnSendData(this, count);
            if (life.expired() || FHSocket == INVALID_SOCKET || FSendQueue.empty()) return;
        }
        if (count < unsent) return;
    }
}

int TCustomWSocket::SendRaw(const void* data, int len) {
    // OnSendData for these bytes is fired by TryToSend once they are dequeued.
    return FSocketType == ps::SOCK_DGRAM_TYPE
               ? ps::sendBytesTo(FHSocket, data, len, FSendFlags, FSockAddr)
               : ps::sendBytes(FHSocket, data, len, FSendFlags);
}

void TCustomWSocket::Flush() {
    const std::weak_ptr<void> life = Life();
    while (!life.expired() && FHSocket != INVALID_SOCKET && !FAllSent) {
        TryToSend();
        if (life.expired() || FAllSent) return;
        ps::waitForMessages(50);
    }
}

int TCustomWSocket::SendTo(const ps::SockAddrIn& dest, const void* data, int len) {
    const ps::SockAddrIn to = dest;
    const int n = ps::sendBytesTo(FHSocket, data, len, FSendFlags, to);
    if (n > 0 && OnSendData) OnSendData(this, n);
    return n;
}

// ---- acknowledgements --------------------------------------------------------

namespace {
// Often enough for a smooth progress display, rare enough to cost nothing.
constexpr unsigned AckPollMs = 50;
} // namespace

void TCustomWSocket::BeginSession() {
    ++FSession;
    FBytesHanded = 0;
    FBytesAckedReported = 0;
    FAckPollPending = false;
}

uint64_t TCustomWSocket::BytesAcknowledged() {
    unsigned long unacked = 0;
    if (FHSocket == INVALID_SOCKET || FSocketType != ps::SOCK_STREAM_TYPE ||
        ps::unacknowledgedBytes(FHSocket, unacked) != 0)
        return FBytesAckedReported;
    // Under TLS the system holds record bytes, a little more than the plain
    // ones counted here; the difference vanishes as the queue drains.
    const uint64_t held = std::min<uint64_t>(unacked, FBytesHanded);
    return std::max(FBytesAckedReported, FBytesHanded - held);
}

void TCustomWSocket::WatchAcknowledgements() {
    if (FAckPollPending || !OnDataAcked || FSocketType != ps::SOCK_STREAM_TYPE) return;
    FAckPollPending = true;
    ps::postMessageLater(FWindowHandle, WM_SOCKET_ACK_POLL, FSession, 0, AckPollMs);
}

void TCustomWSocket::AckPoll(uintptr_t session) {
    if (session != FSession) return;
    FAckPollPending = false;
    if (FHSocket == INVALID_SOCKET) return;
    const uint64_t acked = BytesAcknowledged();
    if (acked != FBytesAckedReported) {
        FBytesAckedReported = acked;
        const std::weak_ptr<void> life = Life();
        if (OnDataAcked) OnDataAcked(this, acked);
        if (life.expired() || session != FSession) return;
    }
    if (FBytesAckedReported < FBytesHanded) WatchAcknowledgements();
}

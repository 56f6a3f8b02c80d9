// The send queue: Send copies into 1460-byte blocks and hands the system as
// much as it takes, many blocks per call; write notices carry on with the
// rest. Large sends and in-place writers skip the copy.
#include "CustomWSocket.h"

#include <algorithm>

namespace ps = platform;

namespace {

// Sends at least this long go to the system from the caller's memory; only
// what it does not take at once is copied into the queue.
constexpr int InPlaceSend = 64 * 1024;
// Blocks gathered into one system call, and the bytes they may add up to.
constexpr int MaxPieces = 256;
constexpr int64_t MaxGather = 64 << 20;

} // namespace

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

bool TCustomWSocket::CanSendInPlace() const {
    if (FSocketType != ps::SOCK_STREAM_TYPE) return false;
    for (const auto& block : FSendQueue) {
        int unsent = 0;
        block->Peek(unsent);
        if (unsent > 0) return false;
    }
    return true;
}

int TCustomWSocket::Send(const void* data, int len) {
    if (FState != wsConnected) {
        ps::setLastError(ps::WSAENOTCONN);
        RaiseWinsockError("Send");
        return -1;
    }
    FAllSent = false;
    if (len <= 0) return SendQueued(0);
    if (len < InPlaceSend || !CanSendInPlace()) {
        QueueSendData(data, len);
        return SendQueued(len);
    }
    // The caller's bytes stand in the queue as a block of their own while
    // the system takes what it can; the rest is copied before we return.
    auto borrowed = std::make_unique<TBuffer>(static_cast<const char*>(data), len);
    const TBuffer* mine = borrowed.get();
    FSendQueue.push_back(std::move(borrowed));
    const std::weak_ptr<void> life = Life();
    auto keepTheRest = [&] {
        if (life.expired()) return;
        auto it = std::find_if(FSendQueue.begin(), FSendQueue.end(),
                               [&](const auto& b) { return b.get() == mine; });
        if (it == FSendQueue.end()) return;
        int unsent = 0;
        (*it)->Peek(unsent);
        if (unsent == 0)
            FSendQueue.erase(it);
        else
            (*it)->Adopt();
    };
    try {
        const int result = SendQueued(len);
        keepTheRest();
        return result;
    } catch (...) {
        keepTheRest();
        throw;
    }
}

char* TCustomWSocket::SendSpace(int len) {
    if (len <= 0) return nullptr;
    int room = 0;
    if (!FSendQueue.empty()) {
        char* at = FSendQueue.back()->Room(room);
        if (room >= len) return at;
    }
    FSendQueue.push_back(std::make_unique<TBuffer>(std::max(len, FSendBlockSize)));
    return FSendQueue.back()->Room(room);
}

int TCustomWSocket::SendSpaceFilled(int len) {
    if (FState != wsConnected) {
        ps::setLastError(ps::WSAENOTCONN);
        RaiseWinsockError("Send");
        return -1;
    }
    FAllSent = false;
    if (len <= 0 || FSendQueue.empty()) return SendQueued(0);
    FSendQueue.back()->Commit(len);
    return SendQueued(len);
}

int TCustomWSocket::SendQueued(int result) {
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
    // A datagram is one block; a stream takes many blocks per call.
    const int limit = FSocketType == ps::SOCK_STREAM_TYPE ? MaxPieces : 1;
    ps::SendPiece pieces[MaxPieces];
    int parts[MaxPieces];
    for (;;) {
        // Handlers change the queue: it is read afresh each round.
        while (FSendQueue.size() > 1 && FSendQueue.front()->WritePos() == 0) FSendQueue.pop_front();
        int count = 0;
        int64_t total = 0;
        for (const auto& block : FSendQueue) {
            int unsent = 0;
            const char* bytes = block->Peek(unsent);
            if (unsent == 0) continue;
            if (count == limit || (count > 0 && total + unsent > MaxGather)) break;
            pieces[count++] = {bytes, unsent};
            total += unsent;
        }
        if (count == 0) return allSent();
        const int sent =
            limit == 1 ? SendRaw(pieces[0].data, pieces[0].len) : SendPieces(pieces, count);
        if (life.expired()) return;
        if (sent == 0) return;
        if (sent < 0) return failed();
        // Taken off the blocks before OnSendData runs, so that a handler that
        // sends again cannot hand the same bytes to the system twice.
        int nparts = 0;
        int left = sent;
        for (const auto& block : FSendQueue) {
            if (left == 0) break;
            int unsent = 0;
            block->Peek(unsent);
            if (unsent == 0) continue;
            parts[nparts] = block->Remove(std::min(unsent, left));
            left -= parts[nparts++];
        }
        FBytesHanded += uint64_t(sent);
        WatchAcknowledgements();
        for (int i = 0; i < nparts && OnSendData; ++i) {
            OnSendData(this, parts[i]);
            if (life.expired() || FHSocket == INVALID_SOCKET || FSendQueue.empty()) return;
        }
        if (sent < total) return;
    }
}

int TCustomWSocket::SendRaw(const void* data, int len) {
    // OnSendData for these bytes is fired by TryToSend once they are dequeued.
    return FSocketType == ps::SOCK_DGRAM_TYPE
               ? ps::sendBytesTo(FHSocket, data, len, FSendFlags, FSockAddr)
               : ps::sendBytes(FHSocket, data, len, FSendFlags);
}

int TCustomWSocket::SendPieces(const ps::SendPiece* pieces, int count) {
    if (count == 1) return SendRaw(pieces[0].data, pieces[0].len);
    return ps::sendPieces(FHSocket, pieces, count, FSendFlags);
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
    FAckPollMs = AckPollMs;
}

uint64_t TCustomWSocket::BytesAcknowledged() {
    unsigned long unacked = 0;
    if (FHSocket == INVALID_SOCKET || FSocketType != ps::SOCK_STREAM_TYPE ||
        ps::unacknowledgedBytes(FHSocket, unacked) != 0)
        return FBytesAckedReported;
    // Under TLS the system holds record bytes, a little more than the plain
    // ones counted here; the difference vanishes as the queue drains.
    const uint64_t held = std::min<uint64_t>(unacked + HeldBelowQueue(), FBytesHanded);
    return std::max(FBytesAckedReported, FBytesHanded - held);
}

void TCustomWSocket::WatchAcknowledgements() {
    if (FAckPollPending || !OnDataAcked || FSocketType != ps::SOCK_STREAM_TYPE) return;
    FAckPollPending = true;
    const unsigned ms = FAckPollMs ? FAckPollMs : AckPollMs;
    ps::postMessageLater(FWindowHandle, WM_SOCKET_ACK_POLL, FSession, FAckPollRound, ms);
    FAckPollMs = std::min(ms * 2, AckPollMs);
}

void TCustomWSocket::AwaitLastAcknowledgement() {
    if (FHSocket == INVALID_SOCKET || FBytesAckedReported >= FBytesHanded) return;
    ++FAckPollRound;
    FAckPollPending = false;
    FAckPollMs = 1;
    WatchAcknowledgements();
}

void TCustomWSocket::AckPoll(uintptr_t session, intptr_t round) {
    if (session != FSession || round != FAckPollRound) return;
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

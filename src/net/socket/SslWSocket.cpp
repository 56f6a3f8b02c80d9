// The TLS layer: OpenSSL on memory BIOs, fed and drained from the socket's
// own notices.
#include "SslWSocket.h"
#include "SslCertificate.h"
#include "WSocketResolve.h"

#include "Messages.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstring>

namespace ps = platform;

namespace {

constexpr int ChunkSize = 16384;
// Encrypted bytes taken from the socket per notice; the notice comes again
// while more wait, so one busy peer cannot hold the loop.
constexpr int ReadBudget = 4 * ChunkSize;

std::string OpenSslErrorText() {
    std::string text;
    while (unsigned long code = ERR_get_error()) {
        char line[256];
        ERR_error_string_n(code, line, sizeof line);
        text = line; // the last one is the closest to the cause
    }
    return text;
}

} // namespace

const char* SslStateName(TSslState state) {
    static const char* const names[] = {"sslOff", "sslHandshaking", "sslEstablished", "sslFailed",
                                        "sslClosing"};
    return unsigned(state) < 5 ? names[state] : "?";
}

// One connection's OpenSSL objects and the bytes between them and the socket.
struct TCustomSslWSocket::Engine {
    explicit Engine(TCustomSslWSocket* o) : owner(o) {}
    ~Engine() {
        if (ssl) SSL_free(ssl); // frees both BIOs
    }
    size_t PlainLeft() const { return plain.size() - plainAt; }

    static int Index() {
        static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
        return index;
    }
    static Engine* Of(SSL* ssl) { return static_cast<Engine*>(SSL_get_ex_data(ssl, Index())); }

    // Every problem is noted and the handshake goes on, so that a refusal
    // can say all that is wrong; the result is judged once it is over.
    static int Verify(int ok, X509_STORE_CTX* store) {
        auto* ssl = static_cast<SSL*>(
            X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
        Engine* e = ssl ? Of(ssl) : nullptr;
        if (!ok && e) e->verifyErrors.push_back(X509_STORE_CTX_get_error(store));
        return 1;
    }
    static int NewSession(SSL* ssl, SSL_SESSION* session) {
        Engine* e = Of(ssl);
        if (!e) return 0;
        e->owner->FSslSession = TSslSession(session, SSL_SESSION_free);
        return 1; // the reference is ours now
    }
    static SSL_CTX* Context() {
        static const std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> ctx(Make(), SSL_CTX_free);
        return ctx.get();
    }
    static SSL_CTX* Make() {
        SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
        if (!ctx) return nullptr;
        SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
        SSL_CTX_set_default_verify_paths(ctx);
        SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, Verify);
        // Sessions are handed to the socket (for FTP data connections), not cached.
        SSL_CTX_set_session_cache_mode(ctx,
                                       SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
        SSL_CTX_sess_set_new_cb(ctx, NewSession);
        return ctx;
    }

    TCustomSslWSocket* owner;
    SSL* ssl = nullptr;
    BIO* rbio = nullptr;
    BIO* wbio = nullptr;
    std::string plain; // decrypted, not yet received
    size_t plainAt = 0;
    std::vector<int> verifyErrors;
};

TCustomSslWSocket::TCustomSslWSocket() = default;

TCustomSslWSocket::~TCustomSslWSocket() {
    // Callbacks of a half-destroyed socket must not reach it.
    if (FEngine && FEngine->ssl) SSL_set_ex_data(FEngine->ssl, Engine::Index(), nullptr);
}

void TCustomSslWSocket::SetSslEnable(bool v) {
    if (v == FSslEnable) return;
    if (State() != wsClosed) return RaiseSocketException("Cannot change SslEnable if not closed");
    FSslEnable = v;
}

void TCustomSslWSocket::SetSslState(TSslState newState) {
    FSslState = newState;
}

void TCustomSslWSocket::ResetDefaults() {
    TCustomSocksWSocket::ResetDefaults();
    FEngine.reset();
    SetSslState(sslOff);
}

// ---- handshake ---------------------------------------------------------------

void TCustomSslWSocket::StartSslHandshake() {
    if (State() != wsConnected)
        return RaiseSocketException("StartSslHandshake: socket not connected");
    if (FSslState == sslHandshaking || FSslState == sslEstablished)
        return RaiseSocketException("StartSslHandshake: TLS already started");
    BeginHandshake(false);
}

void TCustomSslWSocket::BeginHandshake(bool fromConnect) {
    FSslProblem = {};
    FSslErrorText.clear();
    FSslSession.reset();
    FSslReused = FSslCloseNotified = FPeerEnded = false;
    FHandshakeFromConnect = fromConnect;
    FEngine = std::make_unique<Engine>(this);
    SetSslState(sslHandshaking);
    Engine& e = *FEngine;
    SSL_CTX* ctx = Engine::Context();
    e.ssl = ctx ? SSL_new(ctx) : nullptr;
    e.rbio = BIO_new(BIO_s_mem());
    e.wbio = BIO_new(BIO_s_mem());
    if (!e.ssl || !e.rbio || !e.wbio) {
        if (e.ssl) {
            SSL_free(e.ssl);
            e.ssl = nullptr;
        }
        BIO_free(e.rbio);
        BIO_free(e.wbio);
        FSslErrorText = "cannot set up TLS: " + OpenSslErrorText();
        return FinishHandshake(SslErrorHandshake);
    }
    SSL_set_bio(e.ssl, e.rbio, e.wbio);
    SSL_set_ex_data(e.ssl, Engine::Index(), &e);
    SSL_set_connect_state(e.ssl);
    const std::string host = FSslHostName.empty() ? Addr() : FSslHostName;
    X509_VERIFY_PARAM* param = SSL_get0_param(e.ssl);
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if (IsDottedIP(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
    } else {
        SSL_set1_host(e.ssl, host.c_str());
        SSL_set_tlsext_host_name(e.ssl, host.c_str()); // SNI carries names only
    }
    FSslProblem.HostName = host;
    if (FSslResume) SSL_set_session(e.ssl, FSslResume.get());
    ContinueHandshake();
}

void TCustomSslWSocket::ContinueHandshake() {
    Engine& e = *FEngine;
    ERR_clear_error();
    const int r = SSL_do_handshake(e.ssl);
    const int flushed = FlushCipher();
    if (r == 1) {
        FSslReused = SSL_session_reused(e.ssl) == 1;
        if (!CheckPeerCertificate()) return FinishHandshake(SslErrorCertificate);
        SetSslState(sslEstablished);
        return FinishHandshake(0);
    }
    const int code = SSL_get_error(e.ssl, r);
    if (code == SSL_ERROR_WANT_READ && !FPeerEnded &&
        (flushed == 0 || ps::lastError() == ps::WSAEWOULDBLOCK))
        return;
    FSslErrorText = OpenSslErrorText();
    if (FSslErrorText.empty()) FSslErrorText = "the connection ended during the TLS handshake";
    FinishHandshake(SslErrorHandshake);
}

bool TCustomSslWSocket::CheckPeerCertificate() {
    Engine& e = *FEngine;
    X509* cert = SSL_get1_peer_certificate(e.ssl);
    const bool hasCert = cert != nullptr;
    FSslProblem.Subject = ssltext::Subject(cert);
    FSslProblem.Fingerprint = ssltext::Fingerprint(cert);
    X509_free(cert);
    for (int err : e.verifyErrors) {
        const std::string reason = ssltext::Reason(err);
        auto& list = FSslProblem.Reasons;
        if (std::find(list.begin(), list.end(), reason) == list.end()) list.push_back(reason);
    }
    if (!hasCert) FSslProblem.Reasons.push_back("no certificate");
    const bool verified = hasCert && e.verifyErrors.empty();
    const bool trusted = hasCert && !FSslTrustedFingerprint.empty() &&
                         FSslTrustedFingerprint == FSslProblem.Fingerprint;
    if (verified || trusted) {
        FSslProblem.Reasons.clear();
        // Subject and fingerprint stay readable for a caller that shows them.
        return true;
    }
    return false;
}

void TCustomSslWSocket::FinishHandshake(uint16_t error) {
    if (error != 0) SetSslState(sslFailed);
    const std::weak_ptr<void> life = Life();
    const TSocket handle = HSocket();
    auto stillOurs = [&] { return !life.expired() && HSocket() == handle; };
    FireSslHandshakeDone(error);
    if (!stillOurs()) return;
    if (FHandshakeFromConnect) {
        FHandshakeFromConnect = false;
        TCustomSocksWSocket::FireSessionConnected(error);
        if (!stillOurs()) return;
    }
    if (error != 0) {
        // Nothing more may cross a connection whose peer is not trusted.
        ClearSendQueue();
        if (State() != wsClosed) Close();
        return;
    }
    // Sends queued meanwhile, and records that came with the last handshake
    // bytes, are taken up by the usual notices.
    if (!SendQueue().empty())
        ps::postMessage(WindowHandle(), WM_SOCKET_EVENT, HSocket(), ps::FD_WRITE);
    if (BIO_ctrl_pending(FEngine->rbio) > 0)
        ps::postMessage(WindowHandle(), WM_SOCKET_EVENT, HSocket(), ps::FD_READ);
}

void TCustomSslWSocket::FireSslHandshakeDone(uint16_t error) {
    if (OnSslHandshakeDone && !Destroying()) OnSslHandshakeDone(this, error);
}

// ---- moving bytes ------------------------------------------------------------

void TCustomSslWSocket::ReadCipher() {
    char chunk[ChunkSize];
    for (int budget = ReadBudget; budget > 0; budget -= ChunkSize) {
        const int n = ps::receiveBytes(HSocket(), chunk, sizeof chunk, 0);
        if (n > 0) {
            BIO_write(FEngine->rbio, chunk, n);
            continue;
        }
        // An orderly end or a reset; the close notice follows either way.
        if (n == 0 || ps::lastError() != ps::WSAEWOULDBLOCK) FPeerEnded = true;
        return;
    }
}

void TCustomSslWSocket::Decrypt() {
    Engine& e = *FEngine;
    if (e.plainAt == e.plain.size()) {
        e.plain.clear();
        e.plainAt = 0;
    }
    char chunk[ChunkSize];
    for (;;) {
        ERR_clear_error();
        const int n = SSL_read(e.ssl, chunk, sizeof chunk);
        if (n > 0) {
            e.plain.append(chunk, size_t(n));
            continue;
        }
        const int code = SSL_get_error(e.ssl, n);
        if (code == SSL_ERROR_ZERO_RETURN) {
            // The peer's TLS close ends the session as its TCP close would;
            // some peers wait for ours before they close theirs.
            if (!FSslCloseNotified)
                ps::postMessage(WindowHandle(), WM_SOCKET_EVENT, HSocket(), ps::FD_CLOSE);
            FSslCloseNotified = true;
        } else if (code != SSL_ERROR_WANT_READ) {
            // A broken record: nothing after it can be read.
            FSslErrorText = OpenSslErrorText();
            FPeerEnded = true;
        }
        break;
    }
    FlushCipher(); // answers the peer may need (key updates)
}

int TCustomSslWSocket::FlushCipher() {
    // The records go to the system straight from OpenSSL's buffer; only the
    // count it took is then read out of it, into a scratch block.
    BIO* out = FEngine->wbio;
    char* pending = nullptr;
    for (long left; (left = BIO_get_mem_data(out, &pending)) > 0;) {
        if (HSocket() == INVALID_SOCKET) {
            ps::setLastError(ps::WSAENOTCONN);
            return -1;
        }
        const int sent = ps::sendBytes(HSocket(), pending, int(std::min<long>(left, 1 << 20)), 0);
        if (sent <= 0) {
            if (sent == 0) ps::setLastError(ps::WSAEWOULDBLOCK);
            return -1;
        }
        char scratch[ChunkSize];
        for (int done = 0; done < sent;)
            done += BIO_read(out, scratch, std::min<int>(sent - done, sizeof scratch));
    }
    return 0;
}

int TCustomSslWSocket::FlushRaw() {
    if (!FEngine) return TCustomSocksWSocket::FlushRaw();
    return FlushCipher();
}

uint64_t TCustomSslWSocket::HeldBelowQueue() const {
    return FEngine ? uint64_t(BIO_ctrl_pending(FEngine->wbio)) : 0;
}

int TCustomSslWSocket::SendRaw(const void* data, int len) {
    if (!FEngine) return TCustomSocksWSocket::SendRaw(data, len);
    const ps::SendPiece piece{data, len};
    return SendPieces(&piece, 1);
}

int TCustomSslWSocket::SendPieces(const ps::SendPiece* pieces, int count) {
    if (!FEngine) return TCustomSocksWSocket::SendPieces(pieces, count);
    if (FSslState != sslEstablished) {
        // Held in the queue until the peer is trusted.
        ps::setLastError(FSslState == sslHandshaking ? ps::WSAEWOULDBLOCK : ps::WSAENOTCONN);
        return -1;
    }
    if (FlushCipher() != 0) return -1;
    // Small blocks are gathered into full records; a large one goes to
    // OpenSSL as it stands and comes out as full records too.
    char record[ChunkSize];
    int taken = 0;
    for (int i = 0, at = 0; i < count;) {
        const char* plain = record;
        int len = 0;
        if (at == 0 && pieces[i].len >= ChunkSize) {
            plain = static_cast<const char*>(pieces[i].data);
            len = pieces[i].len;
            ++i;
        } else {
            while (i < count && len < ChunkSize) {
                const int n = std::min(pieces[i].len - at, ChunkSize - len);
                std::memcpy(record + len, static_cast<const char*>(pieces[i].data) + at, size_t(n));
                len += n;
                at += n;
                if (at == pieces[i].len) {
                    ++i;
                    at = 0;
                }
            }
        }
        ERR_clear_error();
        const int n = SSL_write(FEngine->ssl, plain, len);
        if (n <= 0) {
            if (taken > 0) return taken; // the error comes again with the next call
            FSslErrorText = OpenSslErrorText();
            ps::setLastError(ps::WSAECONNABORTED);
            return -1;
        }
        taken += n;
        // What the system did not take yet goes out with the next write notice.
        if (FlushCipher() != 0) {
            if (ps::lastError() != ps::WSAEWOULDBLOCK) return taken > 0 ? taken : -1;
            return taken;
        }
    }
    return taken;
}

int TCustomSslWSocket::GetRcvdCount() {
    if (!FEngine) return TCustomSocksWSocket::GetRcvdCount();
    if (FSslState != sslEstablished && FSslState != sslClosing) return 0;
    if (FEngine->PlainLeft() == 0) {
        ReadCipher();
        Decrypt();
    }
    return int(FEngine->PlainLeft());
}

int TCustomSslWSocket::RecvRaw(void* buffer, int size, int flags) {
    if (!FEngine) return TCustomSocksWSocket::RecvRaw(buffer, size, flags);
    if (size <= 0) return 0;
    if (FSslState == sslEstablished || FSslState == sslClosing) {
        if (FEngine->PlainLeft() == 0) {
            ReadCipher();
            Decrypt();
        }
        Engine& e = *FEngine;
        if (const size_t n = std::min(e.PlainLeft(), size_t(size)); n > 0) {
            std::copy_n(e.plain.data() + e.plainAt, n, static_cast<char*>(buffer));
            e.plainAt += n;
            return int(n);
        }
        if (FSslCloseNotified || FPeerEnded) return 0;
    } else if (FSslState == sslFailed) {
        return 0;
    }
    ps::setLastError(ps::WSAEWOULDBLOCK);
    return -1;
}

// ---- events --------------------------------------------------------------------

intptr_t TCustomSslWSocket::WndProc(unsigned msg, uintptr_t wParam, intptr_t lParam) {
    // Handshake records arrive as read notices; the layers above must not see them.
    if (msg == WM_SOCKET_EVENT && FEngine && FSslState == sslHandshaking && wParam == HSocket() &&
        !FPaused && (lParam & (ps::FD_READ | ps::FD_CLOSE)) != 0) {
        const std::weak_ptr<void> life = Life();
        ReadCipher();
        ContinueHandshake();
        if (life.expired() || wParam != HSocket()) return 0;
        lParam &= ~intptr_t(ps::FD_READ);
        if ((lParam & 0xFFFF) == 0) return 0;
    }
    return TCustomSocksWSocket::WndProc(msg, wParam, lParam);
}

bool TCustomSslWSocket::FireDataAvailable(uint16_t error) {
    if (!FEngine) return TCustomSocksWSocket::FireDataAvailable(error);
    if (FSslState != sslEstablished && FSslState != sslClosing) return true;
    const std::weak_ptr<void> life = Life();
    const TSocket handle = HSocket();
    ReadCipher();
    Decrypt();
    // One TLS record can hold more than a handler reads at once, and the
    // system has no more notices for it: deliver while the handler takes.
    while (FEngine && FEngine->PlainLeft() > 0) {
        const size_t before = FEngine->PlainLeft();
        if (!TCustomSocksWSocket::FireDataAvailable(error)) {
            if (life.expired()) return true;
            FEngine->plainAt = FEngine->plain.size(); // nobody reads: dropped
            break;
        }
        if (life.expired() || HSocket() != handle) return true;
        if (!FEngine || FEngine->PlainLeft() >= before) break;
    }
    return true;
}

void TCustomSslWSocket::FireDataSent(uint16_t error) {
    // The connection's first write notice comes before the handshake is over.
    if (FEngine && FSslState == sslHandshaking) return;
    TCustomSocksWSocket::FireDataSent(error);
}

void TCustomSslWSocket::FireSessionConnected(uint16_t error) {
    if (FSslEnable && error == 0 && State() == wsConnected) return BeginHandshake(true);
    TCustomSocksWSocket::FireSessionConnected(error);
}

void TCustomSslWSocket::FireSessionClosed(uint16_t error) {
    if (FEngine && FSslState == sslHandshaking) {
        // Cut during the handshake: that is how the handshake ends.
        const std::weak_ptr<void> life = Life();
        SetSslState(sslFailed);
        FSslErrorText = "the connection ended during the TLS handshake";
        FireSslHandshakeDone(SslErrorHandshake);
        if (life.expired()) return;
        if (FHandshakeFromConnect) {
            FHandshakeFromConnect = false;
            TCustomSocksWSocket::FireSessionConnected(SslErrorHandshake);
            if (life.expired()) return;
        }
    }
    if (FSslStrictClose && FEngine && FSslState == sslEstablished && FPeerEnded &&
        !FSslCloseNotified && error == 0)
        error = SslErrorTruncated;
    TCustomSocksWSocket::FireSessionClosed(error);
}

void TCustomSslWSocket::DoClose(bool shutdownFirst, int error) {
    if (FEngine && FSslState == sslEstablished && shutdownFirst && HSocket() != INVALID_SOCKET) {
        // Records nobody asked for (TLS 1.3 session tickets) may still wait
        // unread: a close over unread bytes is a reset, and a reset makes
        // the peer drop what it has received and not yet read, the end of
        // an upload. Taken in here, the close is an orderly one.
        ReadCipher();
        // The TLS close tells the peer the data is complete.
        SetSslState(sslClosing);
        ERR_clear_error();
        SSL_shutdown(FEngine->ssl);
        FlushCipher();
    }
    TCustomSocksWSocket::DoClose(shutdownFirst, error);
}

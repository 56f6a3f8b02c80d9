// TCustomSslWSocket: optional TLS on the socket. Off by default, and then
// every operation passes on untouched. Switched on before Connect, the
// handshake runs as soon as the connection is made and OnSessionConnected
// fires only when it is over (with an error code when it failed); on an
// open connection StartSslHandshake upgrades it (FTP's AUTH TLS). Either
// way OnSslHandshakeDone reports the outcome.
//
// OpenSSL works on memory buffers here: the socket's own read and write
// notices move the encrypted bytes, so TLS keeps the one-thread model and
// the synchronous waits. Sends made during the handshake are queued until
// the peer's certificate has been accepted.
//
// The peer's certificate must chain to the system's trust store (OpenSSL's
// default paths: SSL_CERT_FILE and SSL_CERT_DIR apply) and name the host;
// a certificate whose SHA-256 fingerprint equals SslTrustedFingerprint is
// accepted whatever the verification said.
#pragma once

#include "SocksWSocket.h"

#include <memory>
#include <string>
#include <vector>

struct ssl_st;
struct ssl_session_st;

// Error codes the TLS layer reports in its events.
constexpr uint16_t SslErrorHandshake = 12100;
constexpr uint16_t SslErrorCertificate = 12101;
// The peer closed the connection without a TLS close: the data may be cut.
constexpr uint16_t SslErrorTruncated = 12102;

// Why a peer's certificate was refused.
struct TSslCertProblem {
    std::string HostName;
    // "unknown issuer", "expired", "name mismatch", "not yet valid", or
    // OpenSSL's wording for anything rarer; each reason once.
    std::vector<std::string> Reasons;
    std::string Subject;
    // SHA-256 of the certificate, upper-case hex pairs joined by ":".
    std::string Fingerprint;

    // The certificate was refused (Subject and Fingerprint are also kept for
    // one that was accepted).
    bool Refused() const { return !Reasons.empty(); }
    // Several lines a person can read: what is wrong, with what.
    std::string Text() const;
};

// A TLS session a later connection may resume (FTP data connections must
// resume the control connection's session on most servers).
using TSslSession = std::shared_ptr<ssl_session_st>;

enum TSslState { sslOff, sslHandshaking, sslEstablished, sslFailed, sslClosing };
const char* SslStateName(TSslState state);

using TSslHandshakeDone = std::function<void(TCustomWSocket* Sender, uint16_t Error)>;

class TCustomSslWSocket : public TCustomSocksWSocket {
public:
    TCustomSslWSocket();
    ~TCustomSslWSocket() override;

    // TLS on the next connection; changed only while closed.
    bool SslEnable() const { return FSslEnable; }
    void SetSslEnable(bool v);
    // Name checked against the certificate and sent as SNI; Addr when empty.
    const std::string& SslHostName() const { return FSslHostName; }
    void SetSslHostName(const std::string& v) { FSslHostName = v; }
    const std::string& SslTrustedFingerprint() const { return FSslTrustedFingerprint; }
    void SetSslTrustedFingerprint(const std::string& v) { FSslTrustedFingerprint = v; }
    // Offered for resumption by the next handshake.
    void SetSslResumeSession(TSslSession session) { FSslResume = std::move(session); }
    // The newest resumable session of this connection (TLS 1.3 tickets come
    // after the handshake, with the first records read).
    TSslSession SslSession() const { return FSslSession; }
    bool SslSessionReused() const { return FSslReused; }
    // When on, a peer that ends the connection without a TLS close is
    // reported to OnSessionClosed as SslErrorTruncated (a download cut short).
    bool SslStrictClose() const { return FSslStrictClose; }
    void SetSslStrictClose(bool v) { FSslStrictClose = v; }

    TSslState SslState() const { return FSslState; }
    bool SslActive() const { return FSslState != sslOff; }
    // The peer's TLS close arrived before its end of the connection.
    bool SslCloseNotified() const { return FSslCloseNotified; }
    // Why the last handshake refused the certificate; empty otherwise.
    const TSslCertProblem& SslCertProblem() const { return FSslProblem; }
    // OpenSSL's reason when the last handshake failed for another cause.
    const std::string& SslErrorText() const { return FSslErrorText; }

    TSslHandshakeDone OnSslHandshakeDone;

    // Starts TLS on the open connection; OnSslHandshakeDone tells the end.
    void StartSslHandshake();

protected:
    intptr_t WndProc(unsigned msg, uintptr_t wParam, intptr_t lParam) override;
    void ResetDefaults() override;
    void DoClose(bool shutdownFirst, int error) override;
    int GetRcvdCount() override;
    int RecvRaw(void* buffer, int size, int flags) override;
    int SendRaw(const void* data, int len) override;
    int SendPieces(const platform::SendPiece* pieces, int count) override;
    int FlushRaw() override;
    uint64_t HeldBelowQueue() const override;
    bool FireDataAvailable(uint16_t error) override;
    void FireDataSent(uint16_t error) override;
    void FireSessionConnected(uint16_t error) override;
    void FireSessionClosed(uint16_t error) override;
    virtual void FireSslHandshakeDone(uint16_t error);

private:
    struct Engine;
    friend struct Engine;

    void SetSslState(TSslState newState);
    void BeginHandshake(bool fromConnect);
    void ReadCipher();
    void Decrypt();
    int FlushCipher();
    void ContinueHandshake();
    void FinishHandshake(uint16_t error);
    bool CheckPeerCertificate();

    bool FSslEnable = false;
    std::string FSslHostName;
    std::string FSslTrustedFingerprint;
    TSslSession FSslResume;
    TSslSession FSslSession;
    bool FSslReused = false;
    bool FSslStrictClose = false;
    TSslState FSslState = sslOff;
    bool FHandshakeFromConnect = false;
    bool FSslCloseNotified = false;
    bool FPeerEnded = false;
    TSslCertProblem FSslProblem;
    std::string FSslErrorText;
    std::unique_ptr<Engine> FEngine;
};

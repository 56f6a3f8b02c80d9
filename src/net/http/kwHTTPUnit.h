// kwHTTP: one HTTP/1.0 form POST over one connection, its answer collected
// as text lines; or one GET, its answer kept whole. The request ends when
// the server closes the connection, when the connection cannot be made, or
// when nothing has moved for IdleTimeoutMs. All work happens in the
// socket's events, from the event loop the caller pumps until Done is set.
// Once the whole request has reached the server, its answer has
// AnswerDeadlineMs to end and may hold ReplyLimit bytes.
// No exception leaves the client.
#pragma once

#include "DataQueue.h"
#include "WSocket.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class kwHTTP {
public:
    using TSessionEvent = std::function<void(uint16_t Error)>;
    // Bytes of the request the server has acknowledged so far, of those queued.
    using TDataSentEvent = std::function<void(uint64_t Sent, uint64_t Queued)>;
    // A server that accepts and then neither answers nor closes would hold
    // the caller for ever; this is the FTP client's time-out.
    static constexpr unsigned DefaultIdleTimeoutMs = 15000;
    // An answer that trickles or never ends must not hold the caller or
    // fill the memory; the upload script's markers come at its start.
    static constexpr unsigned DefaultAnswerDeadlineMs = 60000;
    static constexpr size_t DefaultReplyLimit = 1024 * 1024;

    kwHTTP();
    ~kwHTTP();
    kwHTTP(const kwHTTP&) = delete;
    kwHTTP& operator=(const kwHTTP&) = delete;

    // Starts the request; a failure to start ends it at once with no replies.
    void Connect();
    // Sends "QUIT" while connected, closes the socket, sets Done.
    void Disconnect();
    void SendLine(const std::string& Text);
    // Files one received line into Replies, split at "<br>".
    void ProcessIncoming(const std::string& Text);
    // Ends a request that has been idle for IdleTimeoutMs, keeping the
    // replies it has. Called by the waiting loop after every round.
    void CheckIdle();
    // Pumps the event loop until Done, checking the idle time-out.
    void WaitUntilDone();

    std::unique_ptr<TWSocket> Socket;
    std::unique_ptr<TDataQueue> Queue;
    bool Done = false;
    TSessionEvent OnSessionEvent;
    TDataSentEvent OnDataSent;
    std::string Url;
    std::string Host;
    int Port = 0;
    bool Connected = false;
    std::vector<std::string> Replies;
    std::string PostData;
    // "GET" asks for Url (the request target, with a Host header naming Host
    // and Port) and keeps the answer's bytes in Received instead of Replies.
    std::string Method = "POST";
    std::string Received;
    // A GET ends once Received holds more than this many bytes (0: no limit).
    size_t ReceiveLimit = 0;
    unsigned IdleTimeoutMs = DefaultIdleTimeoutMs;
    // Set when the request was ended by the idle time-out.
    bool TimedOut = false;
    // A POST ends once its answer holds more than ReplyLimit bytes (0: no
    // limit), setting ReplyTooLong; Replies keep what came before.
    size_t ReplyLimit = DefaultReplyLimit;
    bool ReplyTooLong = false;
    // Time for the whole answer, counted from the moment the server has
    // acknowledged the last byte of the request (0: no limit). AnswerLate
    // is set when it ran out.
    unsigned AnswerDeadlineMs = DefaultAnswerDeadlineMs;
    bool AnswerLate = false;
    // HTTPS: the post goes over TLS to Host, whose certificate must verify
    // or have this SHA-256 fingerprint. Why it was refused: Socket->SslCertProblem().
    bool UseTls = false;
    std::string TrustedFingerprint;

private:
    void SessionConnected(TCustomWSocket* Sender, uint16_t Error);
    void DataAvailable(TCustomWSocket* Sender, uint16_t Error);
    void SessionClosed(TCustomWSocket* Sender, uint16_t Error);
    void SendPost();
    void SendGet();
    bool IsGet() const { return Method == "GET"; }
    void FireSessionEvent(uint16_t Error);
    void FireDataSent(int Count);
    void TakeLines();
    void Touch();
    void RequestAcknowledged(uint64_t Acked);
    // Trace hook; the program shows nothing of it.
    void Log(const std::string& Category, const std::string& Text);

    uint32_t LastActivity = 0;
    uint64_t BytesQueued = 0;
    uint64_t BytesSent = 0;
    uint64_t BytesReceived = 0;
    // When the whole request was acknowledged; 0 while it is not.
    uint32_t AnswerSince = 0;
    bool AnswerClockRunning = false;
};

// Removes the leading characters with codes 32 or less.
std::string TrimLeft(const std::string& s);

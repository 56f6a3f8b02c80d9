#include "kwHTTPUnit.h"

#include "HttpUrl.h"
#include "Messages.h"
#include "System.h"

namespace {

const std::string CRLF = "\r\n";
const std::string LineBreakTag = "<br>";
constexpr int ReceiveChunk = 8193;
// Rounds of the wait are bounded so that the idle time-out is noticed.
constexpr unsigned WaitRoundMs = 250;

std::string ErrorText(const std::exception_ptr& e) {
    try {
        std::rethrow_exception(e);
    } catch (const std::exception& x) {
        return x.what();
    } catch (...) {
        return "unknown error";
    }
}

} // namespace

std::string TrimLeft(const std::string& s) {
    size_t i = 0;
    while (i < s.size() && static_cast<unsigned char>(s[i]) <= 32) ++i;
    return s.substr(i);
}

kwHTTP::kwHTTP() : Socket(std::make_unique<TWSocket>()), Queue(std::make_unique<TDataQueue>()) {
    Socket->OnSessionConnected = [this](TCustomWSocket* s, uint16_t e) { SessionConnected(s, e); };
    Socket->OnSessionClosed = [this](TCustomWSocket* s, uint16_t e) { SessionClosed(s, e); };
    Socket->OnDataAvailable = [this](TCustomWSocket* s, uint16_t e) { DataAvailable(s, e); };
    // Bytes the server acknowledged count as progress, for the idle time-out
    // and the caller: the system's buffer takes megabytes at once.
    Socket->OnDataAcked = [this](TCustomWSocket*, uint64_t acked) { RequestAcknowledged(acked); };
}

kwHTTP::~kwHTTP() {
    if (Connected) Disconnect();
    // The socket's destruction closes an open connection without firing
    // OnSessionClosed, so no handler runs on a half-destroyed client.
    Socket.reset();
}

void kwHTTP::Log(const std::string&, const std::string&) {}

void kwHTTP::Touch() {
    LastActivity = platform::TickCount();
}

void kwHTTP::FireSessionEvent(uint16_t Error) {
    if (!OnSessionEvent) return;
    try {
        OnSessionEvent(Error);
    } catch (...) {
        Log("connect", "session event handler failed: " + ErrorText(std::current_exception()));
    }
}

void kwHTTP::RequestAcknowledged(uint64_t Acked) {
    if (Acked <= BytesSent) return;
    Touch();
    FireDataSent(int(Acked - BytesSent));
    if (!AnswerClockRunning && BytesSent >= BytesQueued) {
        AnswerClockRunning = true;
        AnswerSince = platform::TickCount();
    }
}

void kwHTTP::FireDataSent(int Count) {
    BytesSent += uint64_t(Count);
    if (!OnDataSent) return;
    try {
        OnDataSent(BytesSent, BytesQueued);
    } catch (...) {
        Log("send", "data sent handler failed: " + ErrorText(std::current_exception()));
    }
}

void kwHTTP::Connect() {
    Done = false;
    TimedOut = false;
    ReplyTooLong = false;
    AnswerLate = false;
    AnswerClockRunning = false;
    BytesQueued = BytesSent = BytesReceived = 0;
    Received.clear();
    Touch();
    Log("connect", "Connecting to port " + std::to_string(Port));
    try {
        Socket->SetPort(std::to_string(Port));
        Socket->SetAddr(Host);
        Socket->SetSslEnable(UseTls);
        Socket->SetSslHostName(Host);
        Socket->SetSslTrustedFingerprint(TrustedFingerprint);
        Socket->Connect();
    } catch (...) {
        Log("connect",
            "problem in connecting " + Host + " : " + ErrorText(std::current_exception()));
        Connected = false;
        Done = true;
    }
}

void kwHTTP::SessionConnected(TCustomWSocket*, uint16_t Error) {
    Touch();
    Log("SessionConnected", "connected : " + std::to_string(Error));
    Connected = true;
    // A failed connect still sends: the first send finds the connection
    // unusable and the socket closes itself, possibly from inside SendLine.
    if (IsGet())
        SendGet();
    else
        SendPost();
    FireSessionEvent(Error);
}

void kwHTTP::SendGet() {
    THttpUrl target;
    target.Tls = UseTls;
    target.Host = Host;
    target.Port = Port;
    SendLine("GET " + Url + " HTTP/1.0");
    SendLine("Host: " + HostHeaderOf(target));
    SendLine("User-Agent: kwHTTP by m4lte");
    SendLine("");
}

void kwHTTP::SendPost() {
    SendLine("POST " + Url + " HTTP/1.0");
    SendLine("Accept: image/gif");
    SendLine("Accept-Language: en");
    SendLine("User-Agent: kwHTTP by m4lte");
    SendLine("Content-type: application/x-www-form-urlencoded");
    SendLine("Content-length: " + std::to_string(PostData.size()));
    SendLine("");
    SendLine(PostData);
}

void kwHTTP::SendLine(const std::string& Text) {
    // The body is megabytes: the trace names its size instead of copying it.
    Log("sendLine",
        Text.size() < 4096 ? ">>> " + Text : ">>> (" + std::to_string(Text.size()) + " bytes)");
    try {
        BytesQueued += Text.size() + CRLF.size();
        Socket->SendStr(Text + CRLF);
        Socket->Send(nullptr, 0);
    } catch (...) {
        Log("connect",
            "problem in sending to " + Host + " : " + ErrorText(std::current_exception()));
    }
}

void kwHTTP::TakeLines() {
    std::string line;
    while (Queue->GetLine(line)) ProcessIncoming(TrimLeft(line));
}

void kwHTTP::DataAvailable(TCustomWSocket*, uint16_t) {
    try {
        std::string buffer(ReceiveChunk, '\0');
        for (int n; (n = Socket->Receive(buffer.data(), ReceiveChunk)) > 0;) {
            Touch();
            if (IsGet()) {
                Received.append(buffer.data(), size_t(n));
                if (ReceiveLimit > 0 && Received.size() > ReceiveLimit) {
                    // No QUIT line: the server is still sending.
                    Connected = false;
                    Disconnect();
                    return;
                }
            } else {
                BytesReceived += uint64_t(n);
                if (ReplyLimit > 0 && BytesReceived > ReplyLimit) {
                    Log("connect",
                        "answer longer than " + std::to_string(ReplyLimit) + " bytes, giving up");
                    TakeLines();
                    ReplyTooLong = true;
                    Connected = false;
                    Disconnect();
                    return;
                }
                Queue->AddData(buffer.data(), size_t(n));
            }
        }
        TakeLines();
    } catch (...) {
        Log("connect", "problem in reading from : " + ErrorText(std::current_exception()));
        Done = true;
    }
}

void kwHTTP::ProcessIncoming(const std::string& Text) {
    if (Text.empty()) {
        Replies.emplace_back();
        return;
    }
    size_t from = 0;
    while (from < Text.size()) {
        const size_t at = Text.find(LineBreakTag, from);
        const size_t end = at == std::string::npos ? Text.size() : at;
        std::string piece = Text.substr(from, end - from);
        Log("in", "http incoming:" + piece);
        Replies.push_back(std::move(piece));
        from = at == std::string::npos ? Text.size() : at + LineBreakTag.size();
    }
}

void kwHTTP::SessionClosed(TCustomWSocket*, uint16_t Error) {
    // A time-out ends the request with what the server did say: completing
    // a last line here would turn silence into an empty reply line.
    if (!TimedOut && !AnswerLate && !ReplyTooLong && !IsGet()) {
        try {
            Queue->AddData(CRLF.data(), CRLF.size());
            TakeLines();
        } catch (...) {
            Log("connect", "problem in reading from : " + ErrorText(std::current_exception()));
        }
    }
    Log("SessionClosed", "connection closed : " + std::to_string(Error));
    Connected = false;
    Done = true;
    FireSessionEvent(Error);
}

void kwHTTP::Disconnect() {
    Log("disconnect", "starting to disconnect");
    if (Connected) SendLine("QUIT");
    try {
        Socket->Close();
    } catch (...) {
        Log("connect",
            "problem in disconnecting " + Host + " : " + ErrorText(std::current_exception()));
        Done = true;
    }
    Connected = false;
    Done = true;
}

void kwHTTP::CheckIdle() {
    if (Done) return;
    if (AnswerClockRunning && AnswerDeadlineMs > 0 &&
        platform::TickCount() - AnswerSince >= AnswerDeadlineMs) {
        Log("connect",
            "no complete answer within " + std::to_string(AnswerDeadlineMs) + " ms, giving up");
        AnswerLate = true;
        Connected = false;
        Disconnect();
        return;
    }
    if (IdleTimeoutMs == 0) return;
    if (platform::TickCount() - LastActivity < IdleTimeoutMs) return;
    Log("connect", "no progress for " + std::to_string(IdleTimeoutMs) + " ms, giving up");
    TimedOut = true;
    Disconnect();
}

void kwHTTP::WaitUntilDone() {
    while (!Done) {
        platform::waitForMessages(WaitRoundMs);
        CheckIdle();
    }
}

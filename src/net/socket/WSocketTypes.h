// Types shared by the socket classes: states, options, event signatures,
// the hidden window's messages and the exception they raise.
#pragma once

#include "Sockets.h"

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

class TCustomWSocket;

using TSocket = platform::SocketHandle;
constexpr TSocket INVALID_SOCKET = platform::INVALID_SOCKET;

enum TSocketState {
    wsInvalidState,
    wsOpened,
    wsBound,
    wsConnecting,
    wsConnected,
    wsAccepting,
    wsListening,
    wsClosed
};
const char* SocketStateName(TSocketState state);

enum TSocketSendFlags { wsSendNormal, wsSendUrgent };
enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };
enum TWSocketOption { wsoNoReceiveLoop, wsoTcpNoDelay };
enum TSocksAuthentication { socksNoAuthentication, socksAuthenticateUsercode };
enum TSocksAuthState { socksAuthStart, socksAuthSuccess, socksAuthFailure, socksAuthNotRequired };

// A set of TWSocketOption.
class TWSocketOptions {
public:
    TWSocketOptions() = default;
    TWSocketOptions(std::initializer_list<TWSocketOption> options) {
        for (TWSocketOption o : options) Bits |= Bit(o);
    }
    bool Contains(TWSocketOption o) const { return (Bits & Bit(o)) != 0; }
    TWSocketOptions Without(TWSocketOption o) const {
        TWSocketOptions r = *this;
        r.Bits &= ~Bit(o);
        return r;
    }
    bool operator==(const TWSocketOptions&) const = default;

private:
    static unsigned Bit(TWSocketOption o) { return 1u << unsigned(o); }
    unsigned Bits = 0;
};

class ESocketException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using TChangeState =
    std::function<void(TCustomWSocket* Sender, TSocketState OldState, TSocketState NewState)>;
using TSessionConnected = std::function<void(TCustomWSocket* Sender, uint16_t Error)>;
using TDataAvailable = std::function<void(TCustomWSocket* Sender, uint16_t Error)>;
using TSessionClosed = std::function<void(TCustomWSocket* Sender, uint16_t Error)>;
using TDataSent = std::function<void(TCustomWSocket* Sender, uint16_t Error)>;
using TSendData = std::function<void(TCustomWSocket* Sender, int BytesSent)>;
// Bytes of this session the peer has acknowledged so far.
using TDataAcked = std::function<void(TCustomWSocket* Sender, uint64_t Acked)>;
using TSessionAvailable = std::function<void(TCustomWSocket* Sender, uint16_t Error)>;
using TDnsLookupDone = std::function<void(TCustomWSocket* Sender, uint16_t Error)>;
using TNotifyEvent = std::function<void(TCustomWSocket* Sender)>;
using TBgExceptionEvent =
    std::function<void(TCustomWSocket* Sender, const std::exception& E, bool& CanClose)>;
using TSocksErrorEvent =
    std::function<void(TCustomWSocket* Sender, int Error, const std::string& Msg)>;
using TSocksAuthStateEvent = std::function<void(TCustomWSocket* Sender, TSocksAuthState AuthState)>;
using TLineLimitEvent =
    std::function<void(TCustomWSocket* Sender, int RcvdLength, bool& ClearData)>;

// Messages of the hidden window.
constexpr unsigned WM_SOCKET_EVENT = platform::WM_USER + 1;
constexpr unsigned WM_HOST_LOOKUP_DONE = platform::WM_USER + 2;
constexpr unsigned WM_ADDR_LOOKUP_DONE = platform::WM_USER + 3;
constexpr unsigned WM_SOCKET_CLOSE_LATER = platform::WM_USER + 4;
constexpr unsigned WM_SOCKET_FREE_LATER = platform::WM_USER + 5;
constexpr unsigned WM_SOCKET_TEST_EXCEPTION = platform::WM_USER + 6;
// The send completion that Send posts; WParam is the session it belongs to.
constexpr unsigned WM_SOCKET_SENT_LATER = platform::WM_USER + 7;
constexpr unsigned WM_SOCKET_ACK_POLL = platform::WM_USER + 8;
constexpr unsigned WM_LINE_DATA_PENDING = platform::WM_USER + 20;

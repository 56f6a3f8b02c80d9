// IPv4 sockets with the calling conventions of the socket component: every
// call reports failure through lastError() as a Winsock code (errno mapped,
// a pending connect is 10035, resolver failures are 11001..11004), handles
// are never blocking and sends never raise SIGPIPE.
//
// Readiness arrives as messages posted to a message window (asyncSelect):
// WParam is the socket, LParam the event bits | error << 16. Like the
// window-message service this stands in for, a read notice comes again after
// each receive while bytes remain, a write notice follows the connection and
// every send that reported would-block, an accept notice is re-armed by
// accept, and a session gives at most one close notice. A notice still queued
// when its handle is closed is dropped, even if a new socket got the number. All socket calls
// belong to the thread that runs the event loop; only the lookups' workers
// run elsewhere.
#pragma once

#include "Messages.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

using SocketHandle = uintptr_t;
constexpr SocketHandle INVALID_SOCKET = ~SocketHandle(0);
constexpr int SOCKET_ERROR = -1;

constexpr int AF_INET_FAMILY = 2;
constexpr int SOCK_STREAM_TYPE = 1;
constexpr int SOCK_DGRAM_TYPE = 2;
constexpr int SOCK_RAW_TYPE = 3;

// Notification bits.
constexpr long FD_READ = 1;
constexpr long FD_WRITE = 2;
constexpr long FD_OOB = 4;
constexpr long FD_ACCEPT = 8;
constexpr long FD_CONNECT = 16;
constexpr long FD_CLOSE = 32;

constexpr int MSG_OUT_OF_BAND = 1;

// The Winsock codes the components test for by number.
constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;

// The 16-byte IPv4 address record; port and address in network order.
struct SockAddrIn {
    uint16_t family = AF_INET_FAMILY;
    uint16_t port = 0;
    uint32_t addr = 0;
    uint8_t zero[8] = {};
};
static_assert(sizeof(SockAddrIn) == 16);

enum class SocketOption {
    ReuseAddr,
    TcpNoDelay,
    KeepAlive,
    Broadcast,
    MulticastTtl,
    MulticastInterface, // value: interface address, network order
    SendBuffer,         // value: the send buffer's size in bytes (SO_SNDBUF)
};

// The calling thread's last socket error.
int lastError();
void setLastError(int code);
// The Winsock code for an errno value (10022 for one without its own).
int winsockCodeOf(int errnoValue);
// The text of a Winsock code; nullptr for a number that is none.
const char* winsockText(int code);

uint16_t hostToNet16(uint16_t v);
uint16_t netToHost16(uint16_t v);
uint32_t hostToNet32(uint32_t v);
// Dotted text to an address in network order; all ones when not an address.
uint32_t textToAddress(const std::string& text);
std::string addressToText(uint32_t netAddr);

SocketHandle openSocket(int family, int type, int protocol);
int closeSocket(SocketHandle s);
int shutdownSocket(SocketHandle s, int how);
int setOption(SocketHandle s, SocketOption option, int value);
// The option's current value: 0 or 1 for the on/off options, a byte count
// for SendBuffer (Linux reports twice what was set, its bookkeeping share
// included). 0, or SOCKET_ERROR with lastError() set.
int getOption(SocketHandle s, SocketOption option, int& value);
int setLinger(SocketHandle s, uint16_t onOff, uint16_t seconds);
int joinMulticastGroup(SocketHandle s, uint32_t group, uint32_t interfaceAddr);
int bindSocket(SocketHandle s, const SockAddrIn& addr);
// SOCKET_ERROR with 10035 while a stream connect is in progress.
int connectSocket(SocketHandle s, const SockAddrIn& addr);
int listenSocket(SocketHandle s, int backlog);
SocketHandle acceptSocket(SocketHandle s, SockAddrIn* peer);
int sendBytes(SocketHandle s, const void* data, int len, int flags);
int sendBytesTo(SocketHandle s, const void* data, int len, int flags, const SockAddrIn& to);
// One piece of a gathered send.
struct SendPiece {
    const void* data;
    int len;
};
// Hands the pieces to a stream socket in one system call, in order; the
// count taken (which may end inside any piece) or SOCKET_ERROR, as sendBytes.
int sendPieces(SocketHandle s, const SendPiece* pieces, int count, int flags);
int receiveBytes(SocketHandle s, void* buffer, int size, int flags);
int receiveBytesFrom(SocketHandle s, void* buffer, int size, int flags, SockAddrIn* from);
// Bytes waiting to be read (the FIONREAD query).
int pendingBytes(SocketHandle s, unsigned long& count);
// Bytes handed to the system that the peer has not yet acknowledged (the
// SIOCOUTQ query): what a send buffer still holds after send() returned.
int unacknowledgedBytes(SocketHandle s, unsigned long& count);
int socketName(SocketHandle s, SockAddrIn& addr);
int peerName(SocketHandle s, SockAddrIn& addr);

// Notices for the events in mask go to window as message msg; a mask of 0
// stops them. Notices already queued stay queued.
int asyncSelect(SocketHandle s, WindowId window, unsigned msg, long mask);

// A host as the resolver reports it: official name and IPv4 addresses in the
// resolver's order (network byte order).
struct HostRecord {
    std::string name;
    std::vector<uint32_t> addresses;
};

// Blocking lookups; 0 or the Winsock code of the failure.
int hostByName(const std::string& name, HostRecord& record);
int hostByAddress(uint32_t netAddr, HostRecord& record);
// Port in host order. "ftp" and "http" are known without a services file.
int serviceByName(const std::string& name, const std::string& proto, uint16_t& port);
// "tcp", "udp", "ip" and "icmp" are known without a protocols file.
int protocolByName(const std::string& name, int& number);

// Lookups on a worker thread. On completion the record is filled in and
// message msg is delivered to window with WParam = the handle and LParam =
// error << 16. 0 when the lookup cannot start.
using LookupHandle = uintptr_t;
LookupHandle asyncHostByName(WindowId window, unsigned msg, const std::string& name,
                             std::shared_ptr<HostRecord> into);
LookupHandle asyncHostByAddress(WindowId window, unsigned msg, uint32_t netAddr,
                                std::shared_ptr<HostRecord> into);
// After a successful cancel nothing of the lookup is delivered or written.
// SOCKET_ERROR (10022) for a handle that is not running.
int cancelLookup(LookupHandle handle);

} // namespace platform

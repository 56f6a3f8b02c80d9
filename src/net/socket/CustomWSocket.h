// TCustomWSocket: a non-blocking TCP (or UDP) endpoint that reports its
// progress through On... events. Readiness notices arrive as messages on the
// socket's own hidden message window, so every event runs from the event
// loop, and code that waits for one pumps that loop. Handlers may close,
// reconfigure or destroy their socket; the socket checks that it still
// exists after every event it fires.
#pragma once

#include "WSockBuf.h"
#include "WSocketTypes.h"

#include <deque>
#include <memory>
#include <string>
#include <vector>

class TCustomWSocket {
public:
    TCustomWSocket();
    virtual ~TCustomWSocket();
    TCustomWSocket(const TCustomWSocket&) = delete;
    TCustomWSocket& operator=(const TCustomWSocket&) = delete;

    // Live socket objects of the process.
    static int SocketCount();

    // Addressing; changed only while closed.
    const std::string& Addr() const { return FAddrStr; }
    void SetAddr(const std::string& value);
    const std::string& Port() const { return FPortStr; }
    virtual void SetPort(const std::string& value);
    const std::string& Proto() const { return FProtoStr; }
    virtual void SetProto(const std::string& value);
    const std::string& LocalAddr() const { return FLocalAddr; }
    void SetLocalAddr(const std::string& value);
    const std::string& LocalPort() const { return FLocalPortStr; }
    void SetLocalPort(const std::string& value);

    std::string PeerAddr() { return GetPeerAddr(); }
    std::string PeerPort() { return GetPeerPort(); }
    const std::string& DnsResult() const { return FDnsResult; }
    const std::vector<std::string>& DnsResultList() const { return FDnsResultList; }
    TSocketState State() const { return FState; }
    int ReadCount() const { return FReadCount; }
    int RcvdCount() { return GetRcvdCount(); }
    int LastError() const { return FLastError; }
    TSocket HSocket() const { return FHSocket; }
    platform::WindowId WindowHandle() const { return FWindowHandle; }

    bool MultiThreaded() const { return FMultiThreaded; }
    void SetMultiThreaded(bool v) { FMultiThreaded = v; }
    bool MultiCast() const { return FMultiCast; }
    void SetMultiCast(bool v) { FMultiCast = v; }
    const std::string& MultiCastAddrStr() const { return FMultiCastAddrStr; }
    void SetMultiCastAddrStr(const std::string& v) { FMultiCastAddrStr = v; }
    int MultiCastIpTTL() const { return FMultiCastIpTTL; }
    void SetMultiCastIpTTL(int v) { FMultiCastIpTTL = v; }
    bool ReuseAddr() const { return FReuseAddr; }
    void SetReuseAddr(bool v) { FReuseAddr = v; }
    TWSocketOptions ComponentOptions() const { return FComponentOptions; }
    void SetComponentOptions(TWSocketOptions v) { FComponentOptions = v; }
    int FlushTimeout() const { return FFlushTimeout; }
    void SetFlushTimeout(int v) { FFlushTimeout = v; }
    TSocketSendFlags SendFlags();
    void SetSendFlags(TSocketSendFlags v);
    TSocketLingerOnOff LingerOnOff() const { return FLingerOnOff; }
    void SetLingerOnOff(TSocketLingerOnOff v) { FLingerOnOff = v; }
    int LingerTimeout() const { return FLingerTimeout; }
    void SetLingerTimeout(int v) { FLingerTimeout = v; }
    bool Terminated() const { return FTerminated; }
    bool AllSent() const { return FAllSent; }
    // Bytes of this session handed to the system, and of those the ones the
    // peer has acknowledged. The system takes megabytes into its buffer at
    // once, so only the second says how far the wire has got.
    uint64_t BytesHanded() const { return FBytesHanded; }
    uint64_t BytesAcknowledged();
    // The last byte has been handed over and the sender waits for its
    // acknowledgement: looked for after 1 ms, then at doubling spans up to
    // the usual, so the end shows at once on a fast link and polling costs
    // nothing more on a slow one.
    void AwaitLastAcknowledgement();
    // Blocks of the send queue, oldest first.
    const std::deque<std::unique_ptr<TBuffer>>& SendQueue() const { return FSendQueue; }

    TChangeState OnChangeState;
    TSessionConnected OnSessionConnected;
    TDataAvailable OnDataAvailable;
    TSessionClosed OnSessionClosed;
    TDataSent OnDataSent;
    TSendData OnSendData;
    // Fired from a short poll while handed bytes wait for the peer's
    // acknowledgement, each time their count moves.
    TDataAcked OnDataAcked;
    TSessionAvailable OnSessionAvailable;
    TDnsLookupDone OnDnsLookupDone;
    TNotifyEvent OnError;
    TBgExceptionEvent OnBgException;

    virtual void Connect();
    virtual void Close();
    virtual void CloseLater();
    // Deletes the object from the event loop. Only for a socket that no owner
    // holds any more (released from its unique_ptr).
    virtual void FreeLater();
    virtual void Abort();
    virtual void Flush();
    virtual void DrainUntilClosed();
    virtual void Listen();
    virtual TSocket Accept();
    virtual int Receive(void* buffer, int size);
    virtual std::string ReceiveStr();
    virtual int ReceiveFrom(void* buffer, int size, platform::SockAddrIn& from);
    virtual int Send(const void* data, int len);
    virtual int SendTo(const platform::SockAddrIn& dest, const void* data, int len);
    virtual int SendStr(const std::string& text);
    // For a sender that makes its bytes in place (a file read straight into
    // the queue, so nothing is copied on the way to the system): room for up
    // to len bytes at the end of the send queue, then SendSpaceFilled with
    // the count written there, which goes on as Send of those bytes would.
    char* SendSpace(int len);
    int SendSpaceFilled(int len);
    // IPv4 only: a host with nothing but IPv6 addresses fails with 11004.
    virtual void DnsLookup(const std::string& hostName);
    virtual void ReverseDnsLookup(const std::string& hostAddr);
    virtual void CancelDnsLookup();
    virtual std::string GetPeerAddr();
    virtual std::string GetPeerPort();
    virtual int GetPeerName(platform::SockAddrIn& name);
    virtual std::string GetBoundPort();
    virtual std::string GetBoundAddr();
    virtual int GetSockName(platform::SockAddrIn& name);
    // Adopts a connected handle; its first write notice fires OnDataSent(0)
    // once, which is when a data connection may start sending.
    virtual void Dup(TSocket newHandle);
    // Shutdown(2) on our side gives the close notice like a peer's close.
    virtual void Shutdown(int how);
    virtual void Pause();
    virtual void Resume();
    virtual void PumpMessages();
    void ApplyLinger();
    void ClearSendQueue();

protected:
    // Dispatches one message of the hidden window.
    virtual intptr_t WndProc(unsigned msg, uintptr_t wParam, intptr_t lParam);
    virtual void ResetDefaults();
    virtual void DoClose(bool shutdownFirst, int error);
    virtual int GetRcvdCount();
    virtual void BindLocal();
    virtual int SendRaw(const void* data, int len);
    // Hands the system the pieces in order, in as few calls as it takes;
    // the count taken, or -1 with the error set, as SendRaw.
    virtual int SendPieces(const platform::SendPiece* pieces, int count);
    // Hands the system bytes a layer below the send queue still holds (TLS
    // records); 0 when none are left, otherwise -1 with the error set.
    virtual int FlushRaw() { return 0; }
    // Bytes of those counted as handed that a layer below the queue holds
    // yet (TLS records waiting for the system), none of them acknowledged.
    virtual uint64_t HeldBelowQueue() const { return 0; }
    virtual void RaiseSocketException(const std::string& text);
    void RaiseWinsockError(const std::string& name);
    // For a handle opened but not yet in any state: Close would not release
    // it, so it is closed here before the error is raised.
    void ReleaseHandleAndRaise(const std::string& name);
    virtual void HandleEventException(const std::exception& e);
    // True when a handler took the event.
    virtual bool FireDataAvailable(uint16_t error);
    virtual void FireSessionAvailable(uint16_t error);
    virtual void FireSessionConnected(uint16_t error);
    virtual void FireSessionClosed(uint16_t error);
    virtual void FireDataSent(uint16_t error);
    virtual void FireChangeState(TSocketState oldState, TSocketState newState);
    virtual void FireDnsLookupDone(uint16_t error);
    virtual void FireError();
    virtual int RecvRaw(void* buffer, int size, int flags);
    virtual int RecvFromRaw(void* buffer, int size, platform::SockAddrIn& from);
    void ChangeState(TSocketState newState);
    void TryToSend();
    void ReceiveLoop(uint16_t error, TWSocketOptions options);

    // Expires when the object is destroyed: check it after firing an event.
    std::weak_ptr<void> Life() const { return FLife; }
    bool Destroying() const { return FDestroying; }

    TSocket FHSocket = INVALID_SOCKET;
    platform::SockAddrIn FSockAddr;
    int FAddressFamily = platform::AF_INET_FAMILY;
    int FProtoNumber = 6;
    int FSocketType = platform::SOCK_STREAM_TYPE;
    uint16_t FPortNumber = 0;
    uint16_t FLocalPortNumber = 0;
    bool FAddrAssigned = false, FAddrResolved = false;
    bool FPortAssigned = false, FPortResolved = false;
    bool FProtoAssigned = true, FProtoResolved = false;
    bool FLocalPortResolved = false;
    long FSelectEvent = 0;
    int FLastError = 0;
    bool FClosedFired = false;
    // Counts the handles this object has held. Messages it posts to itself
    // carry it, because the system hands a closed descriptor number straight
    // to the next socket opened and a number alone cannot tell sessions apart.
    uintptr_t FSession = 0;
    bool FPaused = false;
    TSocket FAcceptedHandle = INVALID_SOCKET;

private:
    void EventNotice(uintptr_t wParam, intptr_t lParam);
    void HostLookupDone(uintptr_t wParam, intptr_t lParam);
    void AddrLookupDone(uintptr_t wParam, intptr_t lParam);
    void StartLookup(bool byName, const std::string& text, uint32_t addr);
    void QueueSendData(const void* data, int len);
    int SendQueued(int len);
    bool CanSendInPlace() const;
    void WaitBriefly();
    void BeginSession();
    void WatchAcknowledgements();
    void AckPoll(uintptr_t session, intptr_t round);

    std::shared_ptr<int> FLife = std::make_shared<int>(0);
    bool FDestroying = false;
    platform::WindowId FWindowHandle = 0;
    std::string FAddrStr, FPortStr, FProtoStr = "tcp";
    std::string FLocalAddr = "0.0.0.0", FLocalPortStr = "0";
    std::string FDnsResult;
    std::vector<std::string> FDnsResultList;
    TSocketState FState = wsClosed;
    int FReadCount = 0;
    bool FMultiThreaded = false;
    bool FMultiCast = false;
    std::string FMultiCastAddrStr;
    int FMultiCastIpTTL = 1;
    bool FReuseAddr = false;
    TWSocketOptions FComponentOptions;
    int FFlushTimeout = 60;
    int FSendFlags = 0;
    TSocketLingerOnOff FLingerOnOff = wsLingerOn;
    int FLingerTimeout = 0;
    bool FTerminated = false;
    std::deque<std::unique_ptr<TBuffer>> FSendQueue;
    int FSendBlockSize = 1460;
    bool FAllSent = true;
    uint64_t FBytesHanded = 0;
    uint64_t FBytesAckedReported = 0;
    bool FAckPollPending = false;
    // Tells the polls of the current chain from ones a restart left behind.
    intptr_t FAckPollRound = 0;
    unsigned FAckPollMs = 0;
    platform::LookupHandle FLookupHandle = 0;
    std::shared_ptr<platform::HostRecord> FLookupBuffer;
};

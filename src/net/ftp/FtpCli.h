// TCustomFtpCli, the FTP protocol engine, and TFtpClient, the component the
// program uses. The client never blocks: each step starts an asynchronous
// action on a socket and goes on in a socket event or a posted message of
// its hidden window. TFtpClient adds operations that start one request and
// wait for it while the event loop runs.
//
// Failures: local usage errors (wrong state, empty or unsafe settings) go to
// OnError, or are raised as FtpException without a handler; protocol and
// network failures end the request with a code, the reply or a local "500 "
// line in LastResponse and the first error line in ErrorMessage.
//
// The OnDisplay trace echoes every command as sent, "PASS " + the password
// included: an owner must not write it to a log or show it.
#pragma once

#include "FtpLocalFile.h"
#include "FtpReply.h"
#include "FtpTypes.h"
#include "WSocket.h"

#include <memory>
#include <string>
#include <vector>

class TCustomFtpCli {
public:
    TCustomFtpCli();
    virtual ~TCustomFtpCli();
    TCustomFtpCli(const TCustomFtpCli&) = delete;
    TCustomFtpCli& operator=(const TCustomFtpCli&) = delete;

    // Lines one reply may have, continuation lines included; far above any
    // server's banner or feature list.
    static constexpr int MaxReplyLines = 2000;

    // Settings.
    const std::string& HostName() const { return FHostName; }
    void SetHostName(const std::string& v) { FHostName = v; }
    const std::string& Port() const { return FPort; }
    void SetPort(const std::string& v) { FPort = v; }
    const std::string& LocalAddr() const { return FLocalAddr; }
    void SetLocalAddr(const std::string& v) { FLocalAddr = v; }
    const std::string& UserName() const { return FUserName; }
    void SetUserName(const std::string& v) { FUserName = v; }
    const std::string& PassWord() const { return FPassWord; }
    void SetPassWord(const std::string& v) { FPassWord = v; }
    const std::string& HostDirName() const { return FHostDirName; }
    void SetHostDirName(const std::string& v) { FHostDirName = v; }
    const std::string& HostFileName() const { return FHostFileName; }
    void SetHostFileName(const std::string& v) { FHostFileName = v; }
    const std::string& LocalFileName() const { return FLocalFileName; }
    void SetLocalFileName(const std::string& v) { FLocalFileName = v; }
    bool DisplayFileFlag() const { return FDisplayFileFlag; }
    void SetDisplayFileFlag(bool v) { FDisplayFileFlag = v; }
    bool Binary() const { return FTransferType == 'I'; }
    void SetBinary(bool v) { FTransferType = v ? 'I' : 'A'; }
    char TransferType() const { return FTransferType; }
    TFtpShareMode ShareMode() const;
    void SetShareMode(TFtpShareMode v);
    TFtpOptions Options() const { return FOptions; }
    void SetOptions(TFtpOptions v) { FOptions = v; }
    TFtpConnectionType ConnectionType() const { return FConnectionType; }
    void SetConnectionType(TFtpConnectionType v);
    const std::string& ProxyServer() const { return FProxyServer; }
    void SetProxyServer(const std::string& v) { FProxyServer = v; }
    const std::string& ProxyPort() const { return FProxyPort; }
    void SetProxyPort(const std::string& v) { FProxyPort = v; }
    std::string SocksPassword() const;
    void SetSocksPassword(const std::string& v);
    std::string SocksPort() const;
    void SetSocksPort(const std::string& v);
    std::string SocksServer() const;
    void SetSocksServer(const std::string& v);
    std::string SocksUserCode() const;
    void SetSocksUserCode(const std::string& v);
    bool Passive() const { return FPassive; }
    void SetPassive(bool v);
    int ResumeAt() const { return FResumeAt; }
    void SetResumeAt(int v) { FResumeAt = v; }
    TFtpEncryption Encryption() const { return FEncryption; }
    void SetEncryption(TFtpEncryption v);
    // SHA-256 fingerprint of a server certificate accepted without verification.
    const std::string& TrustedFingerprint() const { return FTrustedFingerprint; }
    void SetTrustedFingerprint(const std::string& v) { FTrustedFingerprint = v; }

    // What the last request left.
    bool Connected() const;
    const std::string& LastResponse() const { return FLastResponse; }
    const std::string& ErrorMessage() const { return FErrorMessage; }
    int StatusCode() const { return FStatusCode; }
    int RequestResult() const { return FRequestResult; }
    TFtpClientState State() const { return FState; }
    TFtpRequest RequestType() const { return FRequestType; }
    const std::string& DnsResult() const { return FDnsResult; }
    const std::string& DirResult() const { return FDirResult; }
    // The server certificate the last request refused; Refused() false otherwise.
    const TSslCertProblem& CertProblem() const { return FCertProblem; }
    int SizeResult() const { return FSizeResult; }
    int ByteCount() const { return FByteCount; }
    // The last upload was accepted (125 or 150) and its data connection
    // opened, so the server may hold a partial file under its name.
    bool UploadStarted() const { return FUploadStarted; }
    // QUIT got its answer; a Quit that failed without one lost the connection.
    bool QuitReplied() const { return FQuitReplied; }
    // The last synchronous operation ended because its time ran out.
    bool TimedOut() const { return FTimedOut; }
    bool ControlConnected() const { return FControlConnected; }
    // The last Open reached the server: its connection was made (an
    // implicit TLS handshake included), whatever happened next.
    bool ControlReached() const { return FControlReached; }
    TWSocket* ControlSocket() const { return FControlSocket.get(); }
    TWSocket* DataSocket() const { return FDataSocket.get(); }

    TFtpDisplay OnDisplay;
    TFtpDisplay OnDisplayFile;
    TFtpDisplay OnError;
    TFtpCommand OnCommand;
    TFtpNotifyEvent OnResponse;
    TFtpSessionConnected OnSessionConnected;
    TFtpSessionClosed OnSessionClosed;
    TFtpNotifyEvent OnStateChange;
    TFtpRequestDone OnRequestDone;
    TFtpProgress OnProgress;
    TFtpReadyToTransmit OnReadyToTransmit;
    TFtpBgException OnBgException;

    // Requests: each starts at once and ends with OnRequestDone.
    virtual void OpenAsync();
    virtual void UserAsync();
    virtual void PassAsync();
    virtual void ConnectAsync();
    virtual void QuitAsync();
    virtual void Abort();
    virtual void GetAsync();
    virtual void ReceiveAsync();
    virtual void PutAsync();
    virtual void TransmitAsync();
    virtual void AppendAsync();
    virtual void AppendFileAsync();
    virtual void DirAsync();
    virtual void LsAsync();
    virtual void TypeSetAsync();
    virtual void TypeBinaryAsync();
    virtual void TypeAsciiAsync();
    virtual void PwdAsync();
    virtual void CwdAsync();
    virtual void CDupAsync();
    virtual void DirectoryAsync();
    virtual void ListAsync();
    virtual void SystAsync();
    virtual void SystemAsync();
    virtual void SizeAsync();
    virtual void FileSizeAsync();
    virtual void MkdAsync();
    virtual void MkdirAsync();
    virtual void RmdAsync();
    virtual void RmdirAsync();
    virtual void DeleAsync();
    virtual void DeleteAsync();
    virtual void RenFromAsync();
    virtual void RenToAsync();
    virtual void RenAsync();
    virtual void RenameAsync();
    virtual void QuoteAsync();
    virtual void DoQuoteAsync();
    virtual void AbortXferAsync();
    virtual void RestAsync();
    virtual void RestGetAsync();
    virtual void RestartGetAsync();
    virtual void RestPutAsync();
    virtual void RestartPutAsync();
    virtual void PortAsync();

protected:
    using TProc = void (TCustomFtpCli::*)();

    virtual void SendCommand(std::string Cmd);
    virtual void NotifyDisplay(std::string Msg);
    virtual void NotifyReadyToTransmit(bool& bCancel);
    virtual void NotifyDisplayFile(std::string Msg);
    virtual void NotifyError(std::string Msg);
    virtual bool ReportProgress();
    // The final reply of an upload may come this much later than usual: the
    // server still reads what its buffers took.
    virtual void AllowReplyDelay(uint32_t) {}
    // What OnProgress reports: an upload's acknowledged bytes, a download's
    // received ones.
    int ProgressCount() const {
        return (FDirection == ftpUpload ? int(FAckedCount) : FByteCount) + FResumeAt;
    }
    virtual void ShowTransferStats();
    virtual intptr_t WindowProc(unsigned msg, uintptr_t wParam, intptr_t lParam);
    virtual void HandleBackgroundException(const std::exception& E);

    // The control connection and the request engine.
    void SetState(TFtpClientState newState);
    void ExecuteCommand(TFtpRequest RqType, const std::string& Cmd,
                        std::initializer_list<int> OkReplies, TProc AfterReply);
    void HandleReply();
    void StartSequence(TFtpRequest RqType, TFtpStepSet Steps);
    void NextSequenceStep();
    void RequestDone(uint16_t Error);
    void ReportError(const std::string& Msg);
    bool CheckReady();
    void KeepFirstError();
    void ShowLastResponse();
    // A name or command text that would end the command line early.
    bool CheckLineSafe(const std::string& what, const std::string& value);
    void InterpretReply();
    void FailRequest(const std::string& line, int code, uint16_t error);
    void ControlDnsLookupDone(TCustomWSocket* Sender, uint16_t Error);
    void ControlSessionConnected(TCustomWSocket* Sender, uint16_t Error);
    void ControlDataAvailable(TCustomWSocket* Sender, uint16_t Error);
    void ControlSessionClosed(TCustomWSocket* Sender, uint16_t Error);
    void HandleControlLine();
    // Ends the request with line and drops the control connection, which
    // is out of step with the server.
    void DropControl(const std::string& line);
    void QuitAfterReply();

    // TLS: AUTH TLS on the control connection, PBSZ 0 and PROT P before the
    // first data connection, and the handshakes' outcomes.
    std::string ControlPort() const;
    void StartAuthTls();
    void AuthTlsReply();
    void ControlTlsDone(TCustomWSocket* Sender, uint16_t Error);
    void ProtectDataAfterPbsz();
    void ProtectDataAfterProt();
    void DataTlsDone(TCustomWSocket* Sender, uint16_t Error);
    // Starts TLS on the data connection once it is open and the transfer
    // command has its 1xx reply, whichever came second; false when it could not.
    bool StartDataTls();
    // One reply-like line that says why TLS failed on the socket.
    std::string TlsFailureLine(TWSocket& socket, uint16_t error);
    std::string ConnectFailureLine(uint16_t error);
    static std::string ExceptionClassName(const std::exception& e);

    // Data connections: the port step, opening (FtpDataPort.cpp), and the
    // transfer in either direction (FtpData.cpp).
    void ResetDataSocket();
    void CloseDataSocket();
    bool ConnectPassiveData(TSessionConnected onConnected, int failCode,
                            const std::string& failPrefix);
    bool AcceptedFromServer(TSocket accepted);
    // The data socket's events for the transfer's direction; accepted for
    // a connection the server made (active mode).
    void SetDataHandlers(bool accepted);
    void DataConnected(TCustomWSocket* Sender, uint16_t Error);
    void DataAccepted(TCustomWSocket* Sender, uint16_t Error);
    void StepGet();
    void StepPut();
    void StepAppend();
    void StepDir();
    void StepLs();
    // What every transfer resets before it starts.
    void StartTransfer(TFtpDirection direction);
    void StartUpload();
    // Ends an upload before it began: line is the error and the trace line.
    void RefuseUpload(const std::string& line);
    void StartDownload(const std::string& command);
    // The passive connect, or in active mode the transfer command at once.
    void OpenTransferData();
    void SendTransferCommand();
    // Shows a reply line of a transfer; true when it is a final line.
    bool TakeTransferReply();
    void FirstReply();
    void FinalReply();
    // Ends a transfer on a refusing reply; note is an extra trace line or nullptr.
    void FailTransfer(const char* note);
    void SendNextBlock(TCustomWSocket* Sender, uint16_t Error);
    void DataAcked(uint64_t acked);
    // Closes an upload's data connection once the peer holds every byte:
    // closing earlier would leave the final reply waiting on the wire.
    void CloseDataWhenAcknowledged();
    void DataAvailable(TCustomWSocket* Sender, uint16_t Error);
    void DataClosed(TCustomWSocket* Sender, uint16_t Error);
    void Finished();
    // Puts line (a 426 one) in place of the 226 of a transfer that lost data.
    void ReplaceFinalReply(const std::string& line);
    void CloseLocalFile();

    platform::WindowId FWindowHandle = 0;
    std::string FHostName, FPort = "ftp", FLocalAddr = "0.0.0.0";
    std::string FUserName, FPassWord, FLocalFileName, FHostFileName, FHostDirName;
    std::string FDnsResult;
    char FTransferType = 'I';
    uint16_t FShareMode = 0x0010;
    uint8_t FDisplayFileMode = 0;
    TFtpConnectionType FConnectionType = ftpDirect;
    std::string FProxyServer, FProxyPort = "ftp";
    bool FAppendFlag = false;
    bool FDisplayFileFlag = false;
    std::unique_ptr<TWSocket> FControlSocket;
    std::unique_ptr<TWSocket> FDataSocket;
    uint32_t FStartTime = 0, FStopTime = 0;
    TFtpClientState FState = ftpStReady;
    int FStatusCode = 0;
    int FRequestResult = 0;
    TFtpStepSet FStepSet;
    TFtpStep FCurrentStep = ftpStepNone;
    int FSequenceResult = 0;
    bool FInSequence = false;
    TFtpOptions FOptions{ftpAcceptLF};
    std::unique_ptr<TFtpLocalFile> FLocalStream;
    TFtpRequest FRequestType = ftpNone;
    bool FRequestDoneFlag = false;
    TFtpLineReader FReceive;
    // Control lines received since the last command was sent.
    int FReplyLines = 0;
    std::string FLastResponse;
    std::string FSavedResponse;
    std::string FPasvResponse;
    int FSavedStatusCode = -1;
    std::string FErrorMessage;
    uint16_t FDataCloseError = 0;
    // A download's bytes could not all be stored: the server's 226 does not
    // make it a success.
    bool FLocalWriteFailed = false;
    std::string FGetCommand;
    bool FControlConnected = false;
    bool FControlReached = false;
    int FByteCount = 0;
    TFtpDirection FDirection = ftpDownload;
    uint64_t FAckedCount = 0;
    bool FUploadStarted = false;
    bool FTimedOut = false;
    // The last command line sent, for the reason of a time-out.
    std::string FLastCommand;
    int FSizeResult = 0;
    std::string FDirResult;
    int FResumeAt = 0;
    TProc FReplyHandler = nullptr;
    TProc FAfterReply = nullptr;
    int FOkReplies[16] = {};
    TProc FSequenceNext = nullptr;
    // A transfer ends once both its final reply came and its data connection closed.
    bool FFinalReplyOk = false, FDataClosed = false;
    bool FPassive = false, FEndOfFile = false, FDataOpened = false;
    // The transfer command was answered 125 or 150.
    bool FTransferReplied = false;
    // QUIT was answered, so the coming close is how the request ends.
    bool FQuitReplied = false;
    // Usage errors reported so far: an operation during which the count
    // moved has failed, whatever the state says.
    unsigned FUsageErrors = 0;
    TFtpEncryption FEncryption = ftpEncNone;
    std::string FTrustedFingerprint;
    TSslCertProblem FCertProblem;
    // PBSZ 0 and PROT P were accepted in this session.
    bool FDataProtected = false;

private:
    // Expires when the client is destroyed: checked after calling out.
    std::shared_ptr<int> FLife = std::make_shared<int>(0);

protected:
    std::weak_ptr<void> Life() const { return FLife; }
};

class TFtpClient : public TCustomFtpCli {
public:
    TFtpClient();

    // Seconds a synchronous operation may wait without progress; 0 or less
    // waits without limit. Default 15.
    int Timeout() const { return FTimeoutMs / 1000; }
    void SetTimeout(int seconds) { FTimeoutMs = seconds > 0 ? seconds * 1000 : 0; }
    // The same in milliseconds, so tests of stalls need not wait seconds.
    int TimeoutMs() const { return FTimeoutMs; }
    void SetTimeoutMs(int ms) { FTimeoutMs = ms > 0 ? ms : 0; }
    bool MultiThreaded() const { return FMultiThreaded; }
    void SetMultiThreaded(bool v) { FMultiThreaded = v; }

    // Synchronous operations: true when the request succeeded.
    bool Open();
    bool User();
    bool Pass();
    bool Connect();
    bool Quit();
    bool Get();
    bool Receive();
    bool Put();
    bool Transmit();
    bool Append();
    bool AppendFile();
    bool Dir();
    bool Ls();
    bool TypeSet();
    bool TypeBinary();
    bool TypeAscii();
    bool Pwd();
    bool Cwd();
    bool CDup();
    bool Directory();
    bool List();
    bool Syst();
    bool System();
    bool Size();
    bool FileSize();
    bool Mkd();
    bool Mkdir();
    bool Rmd();
    bool Rmdir();
    bool Dele();
    bool Delete();
    bool RenFrom();
    bool RenTo();
    bool Ren();
    bool Rename();
    bool Quote();
    bool DoQuote();
    bool AbortXfer();
    bool Rest();
    bool RestGet();
    bool RestartGet();
    bool RestPut();
    bool RestartPut();

protected:
    bool ReportProgress() override;
    void AllowReplyDelay(uint32_t ms) override;
    virtual bool RunSynchronously(TProc Proc);
    virtual bool WaitForCompletion();

private:
    // The line that says why the wait gave up.
    std::string TimeoutLine() const;

    int FTimeoutMs = 15000;
    uint32_t FTimeStop = 0;
    // The progress count at the last push of the deadline.
    int64_t FLastProgress = -1;
    bool FMultiThreaded = false;
};

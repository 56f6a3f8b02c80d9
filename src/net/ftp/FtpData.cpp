// Data connections: the port step, uploads (STOR, APPE), downloads and
// listings (RETR, LIST, NLST), progress and the statistics line.
#include "FtpCli.h"
#include "FtpDataText.h"
#include "System.h"
#include "WSocketResolve.h"

#include <algorithm>
#include <cerrno>

namespace {

constexpr int BlockSize = 1460;

bool IsFirstDownloadReply(int code) {
    return (code >= 150 && code <= 159) || code == 125;
}

} // namespace

void TCustomFtpCli::ResetDataSocket() {
    TWSocket& d = *FDataSocket;
    d.OnSessionAvailable = nullptr;
    d.OnSessionClosed = nullptr;
    d.OnDataAvailable = nullptr;
    d.OnSessionConnected = nullptr;
    d.OnDataSent = nullptr;
    d.OnDataAcked = nullptr;
    if (d.State() != wsClosed) d.Close();
    // TLS starts on each data connection once it is open and the server
    // has answered the transfer command, as a resumption of the control
    // connection's session.
    d.SetSslEnable(false);
    d.SetSslStrictClose(FEncryption != ftpEncNone);
    d.SetSslHostName(FHostName);
    d.SetSslTrustedFingerprint(FTrustedFingerprint);
    d.SetSslResumeSession(FControlSocket->SslSession());
    d.OnSslHandshakeDone = [this](TCustomWSocket* s, uint16_t e) { DataTlsDone(s, e); };
    d.SetProto("tcp");
    d.SetAddr("0.0.0.0");
    d.SetPort("0");
}

void TCustomFtpCli::CloseDataSocket() {
    if (FDataSocket->State() != wsClosed) FDataSocket->Close();
}

void TCustomFtpCli::CloseLocalFile() {
    FLocalStream.reset();
}

void TCustomFtpCli::PortAsync() {
    if (FEncryption != ftpEncNone && !FDataProtected) {
        // Data connections in TLS too, asked for once per session.
        FCurrentStep = ftpStepPort;
        return ExecuteCommand(ftpPortAsync, "PBSZ 0", {200}, &TCustomFtpCli::ProtectDataAfterPbsz);
    }
    // A PASV answered with anything but 227 must not reuse an old address.
    FPasvResponse.clear();
    FDataOpened = false;
    uint16_t dataPort = 0;
    try {
        ResetDataSocket();
        if (!FPassive) {
            if (FStepSet.Contains(ftpStepGet) || FStepSet.Contains(ftpStepDir) ||
                FStepSet.Contains(ftpStepLs))
                FDataSocket->OnSessionAvailable = [this](TCustomWSocket* s, uint16_t e) {
                    GetDataAccepted(s, e);
                };
            else if (FStepSet.Contains(ftpStepPut) || FStepSet.Contains(ftpStepAppend))
                FDataSocket->OnSessionAvailable = [this](TCustomWSocket* s, uint16_t e) {
                    PutDataAccepted(s, e);
                };
            FDataSocket->SetLingerOnOff(wsLingerOn);
            FDataSocket->SetLingerTimeout(10);
            FDataSocket->Listen();
            platform::SockAddrIn bound;
            FDataSocket->GetSockName(bound);
            dataPort = platform::netToHost16(bound.port);
        }
    } catch (const std::exception& e) {
        FRequestDoneFlag = false;
        CloseDataSocket();
        return FailRequest("500 " + ExceptionClassName(e) + ": " + e.what(), 500, 500);
    }
    std::string cmd;
    if (FPassive) {
        cmd = "PASV";
    } else {
        platform::SockAddrIn local;
        FControlSocket->GetSockName(local);
        const bool loopback = FControlSocket->GetPeerAddr() == "127.0.0.1";
        cmd =
            PortCommandText(loopback ? "127.0.0.1" : platform::addressToText(local.addr), dataPort);
    }
    FByteCount = 0;
    FCurrentStep = ftpStepPort;
    ExecuteCommand(ftpPortAsync, cmd, {200, 227}, nullptr);
}

bool TCustomFtpCli::ConnectPassiveData(TSessionConnected onConnected, int failCode,
                                       const std::string& failPrefix) {
    // Only the port is taken from the reply: the data goes to the host we
    // are already talking to, wherever the reply points (a server behind
    // NAT names its private address; a hostile one could name another).
    std::optional<TFtpPassiveAddress> pasv = ParsePassiveReply(FPasvResponse);
    auto fail = [&](const std::string& line) {
        FLastResponse = line;
        FStatusCode = failCode;
        KeepFirstError();
        NotifyDisplay("! " + line);
        CloseLocalFile();
        CloseDataSocket();
        FRequestResult = failCode;
        RequestDone(uint16_t(failCode));
        return false;
    };
    if (!pasv)
        return fail(std::to_string(failCode) + " Unusable passive reply: \"" + FPasvResponse +
                    "\"");
    std::string host = FControlSocket->GetPeerAddr();
    if (host.empty() || host == "error") host = pasv->Addr;
    try {
        FDataSocket->SetPort(std::to_string(pasv->Port));
        FDataSocket->SetAddr(host);
        FDataSocket->SetLocalAddr(FLocalAddr);
        FDataSocket->OnSessionConnected = std::move(onConnected);
        FDataSocket->SetLingerOnOff(wsLingerOff);
        FDataSocket->SetLingerTimeout(0);
        FDataSocket->SetComponentOptions({wsoNoReceiveLoop});
        FDataSocket->Connect();
    } catch (const std::exception& e) {
        return fail(failPrefix + ExceptionClassName(e) + ": " + e.what());
    }
    return true;
}

// ---- upload ----------------------------------------------------------------

void TCustomFtpCli::StepPut() {
    FAppendFlag = false;
    FRequestType = ftpPutAsync;
    StartUpload();
}

void TCustomFtpCli::StepAppend() {
    FAppendFlag = true;
    FRequestType = ftpAppendAsync;
    StartUpload();
}

void TCustomFtpCli::StartUpload() {
    if (!FControlConnected) return ReportError("STOR/APPE: not connected");
    if (FLocalFileName.empty()) return ReportError("LocalFileName empty");
    if (!CheckLineSafe("HostFileName", FHostFileName)) return;
    FFinalReplyOk = FPutDataClosed = FRequestDoneFlag = FTransferReplied = false;
    // Some servers (pyftpdlib) connect as soon as they get PORT, so in
    // active mode the data connection may already be open here.
    FDataOpened = !FPassive && FDataOpened && FDataSocket->State() == wsConnected;
    FStartTime = 0;
    FByteCount = 0;
    FCountAcked = true;
    FAckedCount = 0;
    FUploadStarted = false;
    FDataCloseError = 0;
    const std::weak_ptr<void> life = Life();
    bool cancel = false;
    NotifyReadyToTransmit(cancel);
    if (life.expired()) return;
    if (cancel) {
        FErrorMessage = "426 Transmit cancelled by application";
        FStatusCode = 426;
        NotifyDisplay("! " + FErrorMessage);
        FRequestResult = 426;
        return RequestDone(426);
    }
    FDataSocket->OnSessionAvailable = [this](TCustomWSocket* s, uint16_t e) {
        PutDataAccepted(s, e);
    };
    CloseLocalFile();
    FLocalStream.reset(TFtpLocalFile::Open(FLocalFileName, TFtpLocalFile::ForReading, FShareMode));
    FEndOfFile = false;
    if (FLocalStream && FResumeAt > 0 && !FLocalStream->Seek(FResumeAt)) CloseLocalFile();
    if (!FLocalStream) {
        FErrorMessage = "426 Unable to open local file " + FLocalFileName;
        FStatusCode = 426;
        NotifyDisplay("! " + FErrorMessage);
        CloseDataSocket();
        FRequestResult = 426;
        return RequestDone(426);
    }
    if (FPassive) {
        ConnectPassiveData([this](TCustomWSocket* s, uint16_t e) { PutDataConnected(s, e); }, 426,
                           "426 ");
        return;
    }
    SendTransferCommand();
}

void TCustomFtpCli::SendTransferCommand() {
    SetState(ftpStWaitingReply);
    FReplyHandler = &TCustomFtpCli::PutFirstReply;
    SendCommand((FAppendFlag ? "APPE " : "STOR ") + FHostFileName);
}

void TCustomFtpCli::PutDataConnected(TCustomWSocket*, uint16_t Error) {
    FDataSocket->OnSessionClosed = [this](TCustomWSocket* s, uint16_t e) { PutDataClosed(s, e); };
    FDataSocket->OnDataAvailable = nullptr;
    FDataSocket->OnDataSent = nullptr;
    FDataSocket->OnDataAcked = [this](TCustomWSocket*, uint64_t acked) { PutDataAcked(acked); };
    FDataOpened = true;
    FStartTime = platform::TickCount();
    if (Error != 0) {
        FLastResponse = "Unable to establish data connection, error #" + std::to_string(Error);
        FStatusCode = 550;
        KeepFirstError();
        CloseDataSocket();
        FRequestResult = 550;
        return RequestDone(550);
    }
    SendTransferCommand();
}

// The listener takes connections from anywhere; only the server we are
// logged in to may have the file. Anyone else is turned away and the
// listener keeps waiting for the server.
bool TCustomFtpCli::AcceptedFromServer(TSocket accepted) {
    platform::SockAddrIn peer, server;
    if (platform::peerName(accepted, peer) == 0 && FControlSocket->GetPeerName(server) == 0 &&
        peer.addr == server.addr)
        return true;
    platform::closeSocket(accepted);
    NotifyDisplay("! Data connection from " + platform::addressToText(peer.addr) +
                  " refused: not the server");
    return false;
}

void TCustomFtpCli::PutDataAccepted(TCustomWSocket*, uint16_t) {
    TSocket accepted = INVALID_SOCKET;
    try {
        accepted = FDataSocket->Accept();
        if (!AcceptedFromServer(accepted)) return;
        FDataSocket->Close();
        FDataSocket->OnSessionClosed = [this](TCustomWSocket* s, uint16_t e) {
            PutDataClosed(s, e);
        };
        FDataSocket->OnDataAvailable = [this](TCustomWSocket* s, uint16_t e) {
            PutDataAvailable(s, e);
        };
        FDataSocket->OnDataSent = [this](TCustomWSocket* s, uint16_t e) { SendNextBlock(s, e); };
        FDataSocket->OnDataAcked = [this](TCustomWSocket*, uint64_t acked) { PutDataAcked(acked); };
        FDataSocket->Dup(accepted);
        FDataSocket->SetComponentOptions({wsoNoReceiveLoop});
    } catch (const std::exception& e) {
        NotifyDisplay(std::string("! ") + e.what());
        CloseDataSocket();
        return;
    }
    int sendBuffer = 0;
    if (platform::getOption(FDataSocket->HSocket(), platform::SocketOption::SendBuffer,
                            sendBuffer) != 0)
        return ReportError("winsock.getsockopt(SO_SNDBUF) failed");
    FDataSocket->SetLingerOnOff(wsLingerOff);
    FDataSocket->SetLingerTimeout(10);
    FDataSocket->ApplyLinger();
    if (FTransferReplied && !StartDataTls()) return;
    FDataOpened = true;
    FUploadStarted = FTransferReplied;
    if (FTransferReplied && FStartTime == 0)
        platform::postMessage(FWindowHandle, WM_FTPCLI_SEND, 0, 0);
}

void TCustomFtpCli::PutDataAvailable(TCustomWSocket*, uint16_t) {
    char discard[2048];
    FDataSocket->Receive(discard, sizeof discard);
}

void TCustomFtpCli::PutFirstReply() {
    if (!TakeTransferReply()) return;
    const int code = FStatusCode;
    if (code == 150 || code == 125) {
        FTransferReplied = true;
        FUploadStarted = FDataOpened;
        FReplyHandler = &TCustomFtpCli::PutFinalReply;
        // The blocks follow the handshake (DataTlsDone).
        if (FDataOpened && !StartDataTls()) return;
        if (FPassive) {
            FDataSocket->OnDataSent = [this](TCustomWSocket* s, uint16_t e) {
                SendNextBlock(s, e);
            };
            SendNextBlock(FDataSocket.get(), 0);
        } else if (FDataOpened && FStartTime == 0) {
            platform::postMessage(FWindowHandle, WM_FTPCLI_SEND, 0, 0);
        }
        return;
    }
    FailTransfer(nullptr);
}

void TCustomFtpCli::SendNextBlock(TCustomWSocket*, uint16_t Error) {
    if (!FLocalStream) return;
    FAckedCount = std::max(FAckedCount, FDataSocket->BytesAcknowledged());
    const std::weak_ptr<void> life = Life();
    const bool goOn = ReportProgress();
    if (life.expired() || !goOn || !FLocalStream) return;
    if (Error != 0) {
        NotifyDisplay("! Error #" + std::to_string(Error) + " sending data");
        CloseDataSocket();
        return;
    }
    if (FEndOfFile || !FTransferReplied || !FDataOpened) return;
    // Not even the end of an empty file before TLS is up: the handshake
    // finishing starts the sending (DataTlsDone).
    if (FDataSocket->SslState() == sslHandshaking) return;
    int count = 0;
    try {
        count = FLocalStream->Read(FSendBuffer, BlockSize);
    } catch (const std::exception&) {
        NotifyDisplay("! Error reading file");
        CloseDataSocket();
        return;
    }
    if (count > 0) {
        FByteCount += count;
        try {
            FDataSocket->Send(FSendBuffer, count);
        } catch (const std::exception& e) {
            NotifyDisplay(std::string("! ") + e.what());
            CloseDataSocket();
        }
        return;
    }
    FEndOfFile = true;
    CloseDataWhenAcknowledged();
}

void TCustomFtpCli::PutDataAcked(uint64_t acked) {
    if (acked <= FAckedCount) return;
    FAckedCount = acked;
    const std::weak_ptr<void> life = Life();
    const bool goOn = ReportProgress();
    if (life.expired() || !goOn) return;
    CloseDataWhenAcknowledged();
}

void TCustomFtpCli::CloseDataWhenAcknowledged() {
    if (!FEndOfFile || FDataSocket->State() != wsConnected) return;
    // The acknowledgement poll calls again while bytes are on their way.
    if (FDataSocket->BytesAcknowledged() < FDataSocket->BytesHanded()) return;
    // The server's own buffers took bytes its program has yet to read, at
    // about the rate the line had, before it answers: at most everything
    // sent, so at most as long again as the upload took.
    if (FStartTime != 0)
        AllowReplyDelay(std::min<uint32_t>(platform::TickCount() - FStartTime, 600000));
    FDataSocket->CloseLater();
}

void TCustomFtpCli::PutFinalReply() {
    if (!TakeTransferReply()) return;
    const int code = FStatusCode;
    if (code == 226 || code == 250) {
        FFinalReplyOk = true;
        return PutFinished();
    }
    FailTransfer("! STOR Failed");
}

void TCustomFtpCli::PutDataClosed(TCustomWSocket*, uint16_t Error) {
    NoteDataClosed(FPutDataClosed, Error);
    PutFinished();
}

void TCustomFtpCli::PutFinished() {
    if (!FFinalReplyOk || !FPutDataClosed) return;
    ShowTransferStats();
    FResumeAt = 0;
    uint16_t result = FDataCloseError;
    if (!FEndOfFile) {
        // The data connection ended before the whole file went out (cut by
        // the server, a send error, an abort): the server's 226 then only
        // confirms a part.
        ReplaceFinalReply("426 Data connection closed before the whole file was sent");
        if (result == 0) result = 426;
    } else if (result != 0) {
        ExplainDataCloseError();
    }
    FRequestResult = result;
    RequestDone(result);
}

bool TCustomFtpCli::TakeTransferReply() {
    ShowLastResponse();
    ftpreply::ReplyLine r = ftpreply::ClassifyLine(FLastResponse);
    if (!r.HasCode || r.Continuation) return false;
    FStatusCode = r.Code;
    return true;
}

void TCustomFtpCli::FailTransfer(const char* note) {
    KeepFirstError();
    FReplyHandler = nullptr;
    CloseDataSocket();
    CloseLocalFile();
    FResumeAt = 0;
    if (note) NotifyDisplay(note);
    FRequestResult = FStatusCode;
    RequestDone(uint16_t(FStatusCode));
}

void TCustomFtpCli::NoteDataClosed(bool& closedFlag, uint16_t error) {
    CloseLocalFile();
    closedFlag = true;
    FDataCloseError = error;
}

void TCustomFtpCli::ReplaceFinalReply(const std::string& line) {
    FLastResponse = line;
    FStatusCode = 426;
    KeepFirstError();
}

void TCustomFtpCli::ExplainDataCloseError() {
    // The server's 226 only says what it handled: a data connection that
    // ended in error (in TLS, without its close) may have lost the end.
    ReplaceFinalReply("426 Data connection ended: " + WinsockErrorText(FDataCloseError) +
                      "; the file may be incomplete");
}

// ---- download --------------------------------------------------------------

void TCustomFtpCli::StepGet() {
    FRequestType = FInSequence ? FRequestType : ftpGetAsync;
    StartDownload("RETR");
}
void TCustomFtpCli::StepDir() {
    StartDownload("LIST");
}
void TCustomFtpCli::StepLs() {
    StartDownload("NLST");
}

void TCustomFtpCli::StartDownload(const std::string& command) {
    if (!FControlConnected) return ReportError(command + ": not connected");
    if (FLocalFileName.empty() && !FDisplayFileFlag) return ReportError("LocalFileName empty");
    if (!CheckLineSafe("HostFileName", FHostFileName)) return;
    FGetCommand = command;
    FCountAcked = false;
    FFinalReplyOk = FGetDataClosed = FRequestDoneFlag = FDataOpened = FTransferReplied = false;
    FStartTime = 0;
    FByteCount = 0;
    FDataCloseError = 0;
    FLocalWriteFailed = false;
    CloseLocalFile();
    if (!FDisplayFileFlag) {
        TFtpLocalFile* f = nullptr;
        if (FResumeAt > 0) {
            f = TFtpLocalFile::Open(FLocalFileName, TFtpLocalFile::ForWriting, FShareMode);
            if (f && !f->Seek(FResumeAt)) {
                delete f;
                f = nullptr;
            }
        } else {
            f = TFtpLocalFile::Open(FLocalFileName, TFtpLocalFile::Create, FShareMode);
        }
        FLocalStream.reset(f);
        if (!FLocalStream) {
            FLastResponse = "Unable to open local file " + FLocalFileName;
            FStatusCode = 550;
            KeepFirstError();
            CloseDataSocket();
            FRequestResult = 550;
            return RequestDone(550);
        }
    }
    if (FPassive) {
        ConnectPassiveData([this](TCustomWSocket* s, uint16_t e) { GetDataConnected(s, e); }, 550,
                           "550 ");
        return;
    }
    FDataSocket->OnSessionAvailable = [this](TCustomWSocket* s, uint16_t e) {
        GetDataAccepted(s, e);
    };
    SetState(ftpStWaitingReply);
    FReplyHandler = &TCustomFtpCli::GetFirstReply;
    SendCommand(FHostFileName.empty() ? FGetCommand : FGetCommand + " " + FHostFileName);
}

void TCustomFtpCli::GetDataConnected(TCustomWSocket*, uint16_t Error) {
    if (Error != 0) {
        FLastResponse = "Unable to establish data connection, error #" + std::to_string(Error);
        FStatusCode = 550;
        KeepFirstError();
        CloseLocalFile();
        CloseDataSocket();
        FRequestResult = 550;
        return RequestDone(550);
    }
    FDataSocket->OnSessionClosed = [this](TCustomWSocket* s, uint16_t e) { GetDataClosed(s, e); };
    FDataSocket->OnDataAvailable = [this](TCustomWSocket* s, uint16_t e) {
        GetDataAvailable(s, e);
    };
    FDataOpened = true;
    FStartTime = platform::TickCount();
    SetState(ftpStWaitingReply);
    FReplyHandler = &TCustomFtpCli::GetFirstReply;
    SendCommand(FHostFileName.empty() ? FGetCommand : FGetCommand + " " + FHostFileName);
}

void TCustomFtpCli::GetDataAccepted(TCustomWSocket*, uint16_t) {
    try {
        TSocket accepted = FDataSocket->Accept();
        if (!AcceptedFromServer(accepted)) return;
        FDataSocket->Close();
        FDataSocket->OnSessionClosed = [this](TCustomWSocket* s, uint16_t e) {
            GetDataClosed(s, e);
        };
        FDataSocket->OnDataAvailable = [this](TCustomWSocket* s, uint16_t e) {
            GetDataAvailable(s, e);
        };
        FDataSocket->Dup(accepted);
    } catch (const std::exception& e) {
        NotifyDisplay(std::string("! ") + e.what());
        CloseDataSocket();
        return;
    }
    if (FTransferReplied && !StartDataTls()) return;
    FDataOpened = true;
    FStartTime = platform::TickCount();
}

void TCustomFtpCli::GetDataAvailable(TCustomWSocket*, uint16_t) {
    const std::weak_ptr<void> life = Life();
    const bool goOn = ReportProgress();
    if (life.expired() || !goOn) return;
    char buffer[4096];
    int n = FDataSocket->Receive(buffer, sizeof buffer);
    if (n < 0) {
        int error = FDataSocket->LastError();
        if (error == 10035) return;
        NotifyDisplay("! Data: Receive error " + std::to_string(error));
        FDataSocket->Shutdown(2);
        return;
    }
    if (n == 0) return;
    FByteCount += n;
    if (FLocalStream && !FLocalStream->Write(buffer, n)) {
        NotifyDisplay("! Error writing local file");
        FLocalWriteFailed = true;
        FDataSocket->Shutdown(2);
        return;
    }
    if (!FDisplayFileFlag) return;
    // Pieces split at runs of line ends; a line cut between reads comes in two.
    int start = 0;
    for (int i = 0; i <= n; ++i) {
        if (i < n && buffer[i] != '\r' && buffer[i] != '\n') continue;
        if (i > start) {
            NotifyDisplayFile(std::string(buffer + start, size_t(i - start)));
            if (life.expired()) return;
        }
        start = i + 1;
    }
}

void TCustomFtpCli::GetFirstReply() {
    if (!TakeTransferReply()) return;
    const int code = FStatusCode;
    if (IsFirstDownloadReply(code)) {
        FTransferReplied = true;
        FReplyHandler = &TCustomFtpCli::GetFinalReply;
        if (FDataOpened) StartDataTls();
        return;
    }
    FailTransfer(nullptr);
}

void TCustomFtpCli::GetFinalReply() {
    if (!TakeTransferReply()) return;
    const int code = FStatusCode;
    if (code == 125 || code == 226 || code == 250) {
        FFinalReplyOk = true;
        return GetFinished();
    }
    FailTransfer("! RETR/LIST/NLST Failed");
}

void TCustomFtpCli::GetDataClosed(TCustomWSocket*, uint16_t Error) {
    NoteDataClosed(FGetDataClosed, Error);
    GetFinished();
}

void TCustomFtpCli::GetFinished() {
    if (!FFinalReplyOk || !FGetDataClosed) return;
    ShowTransferStats();
    FResumeAt = 0;
    uint16_t result = FDataCloseError;
    if (FLocalWriteFailed) {
        ReplaceFinalReply("426 Error writing local file " + FLocalFileName);
        result = 426;
    } else if (FDataCloseError != 0) {
        ExplainDataCloseError();
    }
    FRequestResult = result;
    RequestDone(result);
}

// ---- progress and statistics ---------------------------------------------------

bool TCustomFtpCli::ReportProgress() {
    bool abort = false;
    if (OnProgress) OnProgress(this, ProgressCount(), abort);
    if (abort) {
        NotifyDisplay("! Abort requested");
        CloseDataSocket();
    }
    return !abort;
}

void TCustomFtpCli::ShowTransferStats() {
    FStopTime = platform::TickCount();
    NotifyDisplay("! " + TransferStatsText(FByteCount, FStopTime - FStartTime));
}

// Transfers over the data connection, one way or the other: uploads (STOR,
// APPE), downloads and listings (RETR, LIST, NLST), progress and the
// statistics line.
#include "FtpCli.h"
#include "FtpDataText.h"
#include "System.h"
#include "WSocketResolve.h"

#include <algorithm>

namespace {

// The file is read in blocks this large, straight into the data socket's
// send queue. The server sees the same bytes in the same order whatever the
// block size; only how often the system is called changes.
constexpr int BlockSize = 256 * 1024;

bool IsFirstReply(TFtpDirection direction, int code) {
    if (direction == ftpUpload) return code == 150 || code == 125;
    return (code >= 150 && code <= 159) || code == 125;
}

bool IsFinalReply(TFtpDirection direction, int code) {
    return code == 226 || code == 250 || (direction == ftpDownload && code == 125);
}

} // namespace

void TCustomFtpCli::CloseLocalFile() {
    FLocalStream.reset();
}

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

void TCustomFtpCli::StartTransfer(TFtpDirection direction) {
    FDirection = direction;
    FFinalReplyOk = FDataClosed = FRequestDoneFlag = FTransferReplied = false;
    FStartTime = 0;
    FByteCount = 0;
    FDataCloseError = 0;
}

void TCustomFtpCli::StartUpload() {
    if (!FControlConnected) return ReportError("STOR/APPE: not connected");
    if (FLocalFileName.empty()) return ReportError("LocalFileName empty");
    if (!CheckLineSafe("HostFileName", FHostFileName)) return;
    StartTransfer(ftpUpload);
    // Some servers (pyftpdlib) connect as soon as they get PORT, so in
    // active mode the data connection may already be open here.
    FDataOpened = !FPassive && FDataOpened && FDataSocket->State() == wsConnected;
    FAckedCount = 0;
    FUploadStarted = false;
    const std::weak_ptr<void> life = Life();
    bool cancel = false;
    NotifyReadyToTransmit(cancel);
    if (life.expired()) return;
    if (cancel) return RefuseUpload("426 Transmit cancelled by application");
    CloseLocalFile();
    FLocalStream.reset(TFtpLocalFile::Open(FLocalFileName, TFtpLocalFile::ForReading, FShareMode));
    FEndOfFile = false;
    if (FLocalStream && FResumeAt > 0 && !FLocalStream->Seek(FResumeAt)) CloseLocalFile();
    if (!FLocalStream) {
        CloseDataSocket();
        return RefuseUpload("426 Unable to open local file " + FLocalFileName);
    }
    OpenTransferData();
}

void TCustomFtpCli::RefuseUpload(const std::string& line) {
    FErrorMessage = line;
    FStatusCode = 426;
    NotifyDisplay("! " + FErrorMessage);
    FRequestResult = 426;
    RequestDone(426);
}

void TCustomFtpCli::StartDownload(const std::string& command) {
    if (!FControlConnected) return ReportError(command + ": not connected");
    if (FLocalFileName.empty() && !FDisplayFileFlag) return ReportError("LocalFileName empty");
    if (!CheckLineSafe("HostFileName", FHostFileName)) return;
    FGetCommand = command;
    StartTransfer(ftpDownload);
    FDataOpened = false;
    FLocalWriteFailed = false;
    CloseLocalFile();
    // A listing shown through OnDisplayFile needs no file.
    if (!FDisplayFileFlag) {
        const auto mode = FResumeAt > 0 ? TFtpLocalFile::ForWriting : TFtpLocalFile::Create;
        FLocalStream.reset(TFtpLocalFile::Open(FLocalFileName, mode, FShareMode));
        if (FLocalStream && FResumeAt > 0 && !FLocalStream->Seek(FResumeAt)) CloseLocalFile();
        if (!FLocalStream) {
            FLastResponse = "Unable to open local file " + FLocalFileName;
            FStatusCode = 550;
            KeepFirstError();
            CloseDataSocket();
            FRequestResult = 550;
            return RequestDone(550);
        }
    }
    OpenTransferData();
}

void TCustomFtpCli::OpenTransferData() {
    if (FPassive) {
        const bool uploading = FDirection == ftpUpload;
        ConnectPassiveData([this](TCustomWSocket* s, uint16_t e) { DataConnected(s, e); },
                           uploading ? 426 : 550, uploading ? "426 " : "550 ");
        return;
    }
    FDataSocket->OnSessionAvailable = [this](TCustomWSocket* s, uint16_t e) { DataAccepted(s, e); };
    SendTransferCommand();
}

void TCustomFtpCli::SendTransferCommand() {
    SetState(ftpStWaitingReply);
    FReplyHandler = &TCustomFtpCli::FirstReply;
    if (FDirection == ftpUpload)
        SendCommand((FAppendFlag ? "APPE " : "STOR ") + FHostFileName);
    else
        SendCommand(FHostFileName.empty() ? FGetCommand : FGetCommand + " " + FHostFileName);
}

bool TCustomFtpCli::TakeTransferReply() {
    ShowLastResponse();
    ftpreply::ReplyLine r = ftpreply::ClassifyLine(FLastResponse);
    if (!r.HasCode || r.Continuation) return false;
    FStatusCode = r.Code;
    return true;
}

void TCustomFtpCli::FirstReply() {
    if (!TakeTransferReply()) return;
    if (!IsFirstReply(FDirection, FStatusCode)) return FailTransfer(nullptr);
    FTransferReplied = true;
    FReplyHandler = &TCustomFtpCli::FinalReply;
    if (FDirection == ftpDownload) {
        if (FDataOpened) StartDataTls();
        return;
    }
    FUploadStarted = FDataOpened;
    // The blocks follow the handshake (DataTlsDone).
    if (FDataOpened && !StartDataTls()) return;
    if (FPassive) {
        FDataSocket->OnDataSent = [this](TCustomWSocket* s, uint16_t e) { SendNextBlock(s, e); };
        SendNextBlock(FDataSocket.get(), 0);
    } else if (FDataOpened && FStartTime == 0) {
        platform::postMessage(FWindowHandle, WM_FTPCLI_SEND, 0, 0);
    }
}

void TCustomFtpCli::FinalReply() {
    if (!TakeTransferReply()) return;
    if (IsFinalReply(FDirection, FStatusCode)) {
        FFinalReplyOk = true;
        return Finished();
    }
    FailTransfer(FDirection == ftpUpload ? "! STOR Failed" : "! RETR/LIST/NLST Failed");
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

// ---- sending ---------------------------------------------------------------

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
        count = FLocalStream->Read(FDataSocket->SendSpace(BlockSize), BlockSize);
    } catch (const std::exception&) {
        NotifyDisplay("! Error reading file");
        CloseDataSocket();
        return;
    }
    if (count > 0) {
        FByteCount += count;
        try {
            FDataSocket->SendSpaceFilled(count);
        } catch (const std::exception& e) {
            NotifyDisplay(std::string("! ") + e.what());
            CloseDataSocket();
        }
        return;
    }
    FEndOfFile = true;
    CloseDataWhenAcknowledged();
    if (FDataSocket->State() == wsConnected) FDataSocket->AwaitLastAcknowledgement();
}

void TCustomFtpCli::DataAcked(uint64_t acked) {
    if (acked > FAckedCount) {
        FAckedCount = acked;
        const std::weak_ptr<void> life = Life();
        const bool goOn = ReportProgress();
        if (life.expired() || !goOn) return;
    }
    // Even with no news for the progress: a write notice after the end of
    // the file may have counted the last acknowledgement first, and this
    // is the last poll.
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

// ---- receiving -------------------------------------------------------------

void TCustomFtpCli::DataAvailable(TCustomWSocket*, uint16_t) {
    if (FDirection == ftpUpload) {
        // Nothing is expected on an upload's connection: read and dropped.
        char discard[2048];
        FDataSocket->Receive(discard, sizeof discard);
        return;
    }
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

// ---- the end ---------------------------------------------------------------

void TCustomFtpCli::DataClosed(TCustomWSocket*, uint16_t Error) {
    CloseLocalFile();
    FDataClosed = true;
    FDataCloseError = Error;
    Finished();
}

// The transfer ends with both its final reply and its data connection closed,
// in either order.
void TCustomFtpCli::Finished() {
    if (!FFinalReplyOk || !FDataClosed) return;
    ShowTransferStats();
    FResumeAt = 0;
    uint16_t result = FDataCloseError;
    if (FDirection == ftpUpload && !FEndOfFile) {
        // The data connection ended before the whole file went out (cut by
        // the server, a send error, an abort): the server's 226 then only
        // confirms a part.
        ReplaceFinalReply("426 Data connection closed before the whole file was sent");
        if (result == 0) result = 426;
    } else if (FDirection == ftpDownload && FLocalWriteFailed) {
        ReplaceFinalReply("426 Error writing local file " + FLocalFileName);
        result = 426;
    } else if (result != 0) {
        // The server's 226 only says what it handled: a data connection
        // that ended in error (in TLS, without its close) may have lost the end.
        ReplaceFinalReply("426 Data connection ended: " + WinsockErrorText(FDataCloseError) +
                          "; the file may be incomplete");
    }
    FRequestResult = result;
    RequestDone(result);
}

void TCustomFtpCli::ReplaceFinalReply(const std::string& line) {
    FLastResponse = line;
    FStatusCode = 426;
    KeepFirstError();
}

// ---- progress and statistics -------------------------------------------------

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

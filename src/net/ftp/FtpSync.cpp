// TFtpClient: synchronous operations that start one request and wait for it
// while the event loop runs, with the time-out, and Abort.
#include "FtpCli.h"
#include "System.h"

#include <algorithm>

void TCustomFtpCli::Abort() {
    const TFtpClientState before = FState;
    SetState(ftpStAbort);
    CloseLocalFile();
    if (before == ftpStDnsLookup) FControlSocket->CancelDnsLookup();
    if (FControlSocket->State() != wsClosed) FControlSocket->Close();
    if (FDataSocket->State() != wsClosed) FDataSocket->Close();
    CloseLocalFile();
    FControlConnected = false;
    SetState(ftpStReady);
}

TFtpClient::TFtpClient() {
    SetTimeout(15);
}

bool TFtpClient::ReportProgress() {
    bool goOn = TCustomFtpCli::ReportProgress();
    // A moving transfer never times out; a stalled one does, however often
    // the queue below it is topped up.
    const int64_t count = ProgressCount();
    if (FTimeoutMs > 0 && count != FLastProgress) {
        FLastProgress = count;
        FTimeStop = platform::TickCount() + uint32_t(FTimeoutMs);
    }
    return goOn;
}

void TFtpClient::AllowReplyDelay(uint32_t ms) {
    if (FTimeoutMs <= 0) return;
    const uint32_t until = platform::TickCount() + uint32_t(FTimeoutMs) + ms;
    if (int32_t(until - FTimeStop) > 0) FTimeStop = until;
}

std::string TFtpClient::TimeoutLine() const {
    const std::string span = FTimeoutMs % 1000 == 0 ? std::to_string(FTimeoutMs / 1000) + " s"
                                                    : std::to_string(FTimeoutMs) + " ms";
    const bool transfer = FRequestType == ftpPutAsync || FRequestType == ftpAppendAsync ||
                          FRequestType == ftpTransmitAsync || FRequestType == ftpGetAsync ||
                          FRequestType == ftpReceiveAsync;
    const TSocketState data = FDataSocket->State();
    if (transfer && !FDataOpened && (FTransferReplied || data == wsConnecting || data == wsOpened))
        return "426 Timeout: the data connection did not open within " + span;
    if (transfer && FDirection == ftpUpload && FEndOfFile && FAckedCount >= uint64_t(FByteCount) &&
        FTransferReplied && !FFinalReplyOk)
        return "426 Timeout: no answer from the server for " + span +
               " after the whole file was sent";
    if (transfer && FDataOpened && FTransferReplied && !FFinalReplyOk)
        return "426 Timeout: the transfer made no progress for " + span + " after " +
               std::to_string(ProgressCount()) + " bytes";
    // The password never goes into a message.
    const bool connecting = !FControlConnected || FState == ftpStWaitingBanner ||
                            FState == ftpStDnsLookup || FLastCommand.empty();
    std::string after = connecting ? "connecting" : FLastCommand;
    if (after.compare(0, 5, "PASS ") == 0) after = "PASS";
    return "426 Timeout: no answer from the server for " + span + " after " + after;
}

bool TFtpClient::RunSynchronously(TProc Proc) {
    const unsigned usageErrors = FUsageErrors;
    try {
        (this->*Proc)();
        // A refused start sent nothing: there is nothing to wait for.
        if (FUsageErrors != usageErrors) return false;
        const bool ok = WaitForCompletion();
        return ok && FUsageErrors == usageErrors;
    } catch (...) {
        return false;
    }
}

bool TFtpClient::WaitForCompletion() {
    // Each slice blocks until an event arrives; the cap keeps the
    // terminating check timely when nothing happens.
    constexpr uint32_t MaxSliceMs = 200;
    const std::weak_ptr<void> life = Life();
    FTimeStop = platform::TickCount() + uint32_t(FTimeoutMs);
    FLastProgress = -1;
    FTimedOut = false;
    for (;;) {
        if (FState == ftpStReady || FState == ftpStStepDone) return FRequestResult == 0;
        const uint32_t now = platform::TickCount();
        const int32_t left = int32_t(FTimeStop - now);
        if (platform::applicationTerminating() || (FTimeoutMs > 0 && left < 0)) {
            const bool terminating = platform::applicationTerminating();
            const std::string line = terminating ? "426 Timeout" : TimeoutLine();
            Abort();
            // The client's own reason, not the last line the server sent.
            FErrorMessage = line;
            FLastResponse = line;
            FStatusCode = 426;
            FRequestResult = 426;
            FTimedOut = !terminating;
            return false;
        }
        uint32_t slice = MaxSliceMs;
        if (FTimeoutMs > 0) slice = std::min<uint32_t>(slice, uint32_t(left) + 1);
        platform::waitForMessages(slice);
        // A handler run by the wait may have destroyed the client.
        if (life.expired()) return false;
    }
}

#define BRWK_SYNC(Name, Async)                                                                     \
    bool TFtpClient::Name() {                                                                      \
        return RunSynchronously(&TCustomFtpCli::Async);                                            \
    }
BRWK_SYNC(Open, OpenAsync)
BRWK_SYNC(User, UserAsync)
BRWK_SYNC(Pass, PassAsync)
BRWK_SYNC(Connect, ConnectAsync)
BRWK_SYNC(Quit, QuitAsync)
BRWK_SYNC(Get, GetAsync)
BRWK_SYNC(Receive, ReceiveAsync)
BRWK_SYNC(Put, PutAsync)
BRWK_SYNC(Transmit, TransmitAsync)
BRWK_SYNC(Append, AppendAsync)
BRWK_SYNC(AppendFile, AppendFileAsync)
BRWK_SYNC(Dir, DirAsync)
BRWK_SYNC(Ls, LsAsync)
BRWK_SYNC(TypeSet, TypeSetAsync)
BRWK_SYNC(TypeBinary, TypeBinaryAsync)
BRWK_SYNC(TypeAscii, TypeAsciiAsync)
BRWK_SYNC(Pwd, PwdAsync)
BRWK_SYNC(Cwd, CwdAsync)
BRWK_SYNC(CDup, CDupAsync)
BRWK_SYNC(Directory, DirectoryAsync)
BRWK_SYNC(List, ListAsync)
BRWK_SYNC(Syst, SystAsync)
BRWK_SYNC(System, SystemAsync)
BRWK_SYNC(Size, SizeAsync)
BRWK_SYNC(FileSize, FileSizeAsync)
BRWK_SYNC(Mkd, MkdAsync)
BRWK_SYNC(Mkdir, MkdirAsync)
BRWK_SYNC(Rmd, RmdAsync)
BRWK_SYNC(Rmdir, RmdirAsync)
BRWK_SYNC(Dele, DeleAsync)
BRWK_SYNC(Delete, DeleteAsync)
BRWK_SYNC(RenFrom, RenFromAsync)
BRWK_SYNC(RenTo, RenToAsync)
BRWK_SYNC(Ren, RenAsync)
BRWK_SYNC(Rename, RenameAsync)
BRWK_SYNC(Quote, QuoteAsync)
BRWK_SYNC(DoQuote, DoQuoteAsync)
BRWK_SYNC(AbortXfer, AbortXferAsync)
BRWK_SYNC(Rest, RestAsync)
BRWK_SYNC(RestGet, RestGetAsync)
BRWK_SYNC(RestartGet, RestartGetAsync)
BRWK_SYNC(RestPut, RestPutAsync)
BRWK_SYNC(RestartPut, RestartPutAsync)
#undef BRWK_SYNC

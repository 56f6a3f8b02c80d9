// The control connection: construction, the one state setter, sending
// commands, receiving reply lines, the control socket's events and the end
// of a request.
#include "FtpCli.h"
#include "System.h"
#include "WSocketResolve.h"

std::string TCustomFtpCli::ExceptionClassName(const std::exception& e) {
    if (dynamic_cast<const ESocketException*>(&e)) return "ESocketException";
    if (dynamic_cast<const FtpException*>(&e)) return "FtpException";
    return "Exception";
}

TCustomFtpCli::TCustomFtpCli() {
    FWindowHandle =
        platform::createMessageWindow([this](unsigned msg, uintptr_t wParam, intptr_t lParam) {
            return WindowProc(msg, wParam, lParam);
        });
    FControlSocket = std::make_unique<TWSocket>();
    FControlSocket->OnSessionConnected = [this](TCustomWSocket* s, uint16_t e) {
        ControlSessionConnected(s, e);
    };
    FControlSocket->OnDataAvailable = [this](TCustomWSocket* s, uint16_t e) {
        ControlDataAvailable(s, e);
    };
    FControlSocket->OnSessionClosed = [this](TCustomWSocket* s, uint16_t e) {
        ControlSessionClosed(s, e);
    };
    FControlSocket->OnDnsLookupDone = [this](TCustomWSocket* s, uint16_t e) {
        ControlDnsLookupDone(s, e);
    };
    FControlSocket->OnSslHandshakeDone = [this](TCustomWSocket* s, uint16_t e) {
        ControlTlsDone(s, e);
    };
    FDataSocket = std::make_unique<TWSocket>();
}

TCustomFtpCli::~TCustomFtpCli() {
    platform::destroyMessageWindow(FWindowHandle);
    // The sockets' events must not reach a half-destroyed client.
    for (TWSocket* s : {FControlSocket.get(), FDataSocket.get()}) {
        s->OnSessionConnected = nullptr;
        s->OnDataAvailable = nullptr;
        s->OnSessionClosed = nullptr;
        s->OnDnsLookupDone = nullptr;
        s->OnDataSent = nullptr;
        s->OnSessionAvailable = nullptr;
        s->OnSslHandshakeDone = nullptr;
    }
    FLocalStream.reset();
}

TFtpShareMode TCustomFtpCli::ShareMode() const {
    for (int i = 0; i < 5; ++i)
        if (ftpShareFlags[i] == FShareMode) return TFtpShareMode(i);
    return ftpShareExclusive;
}

void TCustomFtpCli::SetShareMode(TFtpShareMode v) {
    FShareMode = unsigned(v) < 5 ? ftpShareFlags[v] : 0x0010;
}

void TCustomFtpCli::SetPassive(bool v) {
    FPassive = FConnectionType == ftpDirect ? v : true;
}

void TCustomFtpCli::SetConnectionType(TFtpConnectionType v) {
    if (FControlConnected) return ReportError("FTP component connected");
    if (unsigned(v) > ftpSocks5) v = ftpDirect;
    FConnectionType = v;
    for (TWSocket* s : {FControlSocket.get(), FDataSocket.get()}) {
        switch (v) {
        case ftpDirect:
        case ftpProxy:
            s->SetSocksAuthentication(socksNoAuthentication);
            break;
        case ftpSocks4:
            s->SetSocksLevel("4");
            break;
        case ftpSocks4A:
            s->SetSocksLevel("4A");
            break;
        case ftpSocks5:
            s->SetSocksLevel("5");
            break;
        }
        if (v >= ftpSocks4) s->SetSocksAuthentication(socksAuthenticateUsercode);
    }
    if (v != ftpDirect) FPassive = true;
}

std::string TCustomFtpCli::SocksPassword() const {
    return FControlSocket->SocksPassword();
}
std::string TCustomFtpCli::SocksPort() const {
    return FControlSocket->SocksPort();
}
std::string TCustomFtpCli::SocksServer() const {
    return FControlSocket->SocksServer();
}
std::string TCustomFtpCli::SocksUserCode() const {
    return FControlSocket->SocksUsercode();
}

void TCustomFtpCli::SetSocksPassword(const std::string& v) {
    FControlSocket->SetSocksPassword(v);
    FDataSocket->SetSocksPassword(v);
}
void TCustomFtpCli::SetSocksPort(const std::string& v) {
    FControlSocket->SetSocksPort(v);
    FDataSocket->SetSocksPort(v);
}
void TCustomFtpCli::SetSocksServer(const std::string& v) {
    FControlSocket->SetSocksServer(v);
    FDataSocket->SetSocksServer(v);
}
void TCustomFtpCli::SetSocksUserCode(const std::string& v) {
    FControlSocket->SetSocksUsercode(v);
    FDataSocket->SetSocksUsercode(v);
}

bool TCustomFtpCli::Connected() const {
    return FControlSocket->State() != wsClosed;
}

void TCustomFtpCli::SetState(TFtpClientState newState) {
    if (FState == newState) return;
    FState = newState;
    if (OnStateChange) OnStateChange(this);
}

void TCustomFtpCli::NotifyDisplay(std::string Msg) {
    if (OnDisplay) OnDisplay(this, Msg);
}
void TCustomFtpCli::NotifyReadyToTransmit(bool& bCancel) {
    if (OnReadyToTransmit) OnReadyToTransmit(this, bCancel);
}
void TCustomFtpCli::NotifyDisplayFile(std::string Msg) {
    if (OnDisplayFile) OnDisplayFile(this, Msg);
}
void TCustomFtpCli::NotifyError(std::string Msg) {
    if (OnError) OnError(this, Msg);
}

void TCustomFtpCli::ReportError(const std::string& Msg) {
    ++FUsageErrors;
    if (!OnError) throw FtpException(Msg);
    NotifyError(Msg);
}

bool TCustomFtpCli::CheckReady() {
    if (FState == ftpStReady || FState == ftpStStepDone) return true;
    ReportError("FTP component not ready");
    return false;
}

bool TCustomFtpCli::CheckLineSafe(const std::string& what, const std::string& value) {
    if (value.find_first_of("\r\n") == std::string::npos) return true;
    ReportError(what + " contains a line break");
    return false;
}

void TCustomFtpCli::KeepFirstError() {
    if (FErrorMessage.empty()) FErrorMessage = FLastResponse;
}

void TCustomFtpCli::ShowLastResponse() {
    NotifyDisplay("< " + FLastResponse);
}

void TCustomFtpCli::SendCommand(std::string Cmd) {
    if (OnCommand) OnCommand(this, Cmd);
    FLastCommand = Cmd;
    NotifyDisplay("> " + Cmd);
    FReplyLines = 0;
    if (FControlSocket->State() == wsConnected) FControlSocket->SendStr(Cmd + "\r\n");
}

void TCustomFtpCli::FailRequest(const std::string& line, int code, uint16_t error) {
    FLastResponse = line;
    FStatusCode = code;
    FRequestResult = code;
    KeepFirstError();
    RequestDone(error);
}

void TCustomFtpCli::ControlDnsLookupDone(TCustomWSocket*, uint16_t Error) {
    if (Error != 0) {
        return FailRequest("500 " + WinsockErrorText(Error) + " (Winsock error #" +
                               std::to_string(Error) + ")",
                           500, Error);
    }
    FDnsResult = FControlSocket->DnsResult();
    try {
        FControlSocket->SetAddr(FDnsResult);
        FControlSocket->SetLocalAddr(FLocalAddr);
        FControlSocket->SetProto("tcp");
        bool viaProxy = FConnectionType == ftpProxy && !FProxyPort.empty();
        FControlSocket->SetPort(viaProxy ? FProxyPort : ControlPort());
        FControlSocket->SetSslEnable(FEncryption == ftpEncImplicit);
        FControlSocket->SetSslHostName(FHostName);
        FControlSocket->SetSslTrustedFingerprint(FTrustedFingerprint);
        SetState(ftpStWaitingBanner);
        FControlSocket->Connect();
    } catch (const std::exception& e) {
        FailRequest("500 " + ExceptionClassName(e) + ": " + e.what(), 500, 500);
    }
}

void TCustomFtpCli::ControlSessionConnected(TCustomWSocket*, uint16_t Error) {
    if (Error == 0) {
        FControlConnected = FControlReached = true;
        return;
    }
    FSequenceNext = nullptr;
    FailRequest(ConnectFailureLine(Error), 500, Error);
    FControlSocket->Close();
    SetState(ftpStReady);
}

void TCustomFtpCli::ControlDataAvailable(TCustomWSocket*, uint16_t) {
    const std::weak_ptr<void> life = Life();
    int n = FControlSocket->Receive(FReceive.WritePos(), FReceive.FreeSpace());
    if (FRequestType == ftpRqAbort) return;
    if (n == 0) {
        FControlSocket->Close();
        return;
    }
    if (n < 0) return;
    FReceive.Commit(n);
    const bool acceptLF = FOptions.Contains(ftpAcceptLF);
    std::string line;
    while (FReceive.NextLine(acceptLF, line)) {
        // A reply that goes on and on would hold the request (and whoever
        // keeps its trace) for as long as the server likes.
        if (++FReplyLines > MaxReplyLines)
            return DropControl("500 Reply longer than " + std::to_string(MaxReplyLines) +
                               " lines: the server does not end it");
        FLastResponse = line;
        if (OnResponse) {
            OnResponse(this);
            if (life.expired()) return;
        }
        HandleControlLine();
        if (life.expired()) return;
        // A handler may have closed the connection and dropped the rest.
        if (FControlSocket->State() != wsConnected) return;
    }
    // The line cannot fit: waiting for its end would stall for ever, and its
    // tail would be read as a reply of its own.
    if (FReceive.Full(acceptLF))
        DropControl("500 Reply line longer than " + std::to_string(TFtpLineReader::BufferSize - 1) +
                    " bytes");
}

void TCustomFtpCli::DropControl(const std::string& line) {
    FReceive.Clear();
    FLastResponse = line;
    FStatusCode = 500;
    FRequestResult = 500;
    KeepFirstError();
    NotifyDisplay("! " + FLastResponse);
    // The close ends the request with this line.
    FControlSocket->Close();
}

void TCustomFtpCli::HandleControlLine() {
    using ftpreply::ClassifyLine;
    switch (FState) {
    case ftpStWaitingBanner: {
        ShowLastResponse();
        ftpreply::ReplyLine r = ClassifyLine(FLastResponse);
        if (!r.HasCode) return;
        FStatusCode = r.Code;
        if (r.Continuation) return;
        if (FStatusCode != 220) {
            KeepFirstError();
            FRequestResult = FStatusCode;
            FControlSocket->Close();
            return;
        }
        SetState(ftpStConnected);
        // The session is open once TLS is up; nothing else goes first.
        if (FEncryption == ftpEncExplicit) return StartAuthTls();
        if (OnSessionConnected) OnSessionConnected(this, 0);
        RequestDone(0);
        return;
    }
    case ftpStWaitingReply: {
        ftpreply::ReplyLine r = ClassifyLine(FLastResponse);
        if (!r.HasCode || r.Continuation) {
            ShowLastResponse();
            if (r.HasCode) FStatusCode = r.Code;
            return;
        }
        FStatusCode = r.Code;
        if (FReplyHandler) return (this->*FReplyHandler)();
        ShowLastResponse();
        ReportError("Program error: FNext is nil");
        return;
    }
    default:
        ShowLastResponse();
        return;
    }
}

void TCustomFtpCli::ControlSessionClosed(TCustomWSocket*, uint16_t Error) {
    const TFtpClientState before = FState;
    if (FControlConnected) {
        FControlConnected = false;
        if (FState != ftpStAbort) SetState(ftpStNotConnected);
        if (OnSessionClosed) OnSessionClosed(this, Error);
    }
    if (FState != ftpStAbort) SetState(ftpStStepDone);
    if (FRequestType == ftpRqAbort) return;
    if (Error != 0) {
        FLastResponse = "500 Control connection closed. " + WinsockErrorText(Error) +
                        " (Winsock error #" + std::to_string(Error) + ")";
        FStatusCode = 500;
        FRequestResult = 500;
        KeepFirstError();
    } else if (FRequestResult == 0 && !FRequestDoneFlag && !FQuitReplied &&
               (before == ftpStWaitingReply || before == ftpStWaitingBanner ||
                before == ftpStPasvReply)) {
        // The server went away while a reply was due: that is no success.
        FLastResponse = "500 Control connection closed before the reply";
        FStatusCode = 500;
        FRequestResult = 500;
        KeepFirstError();
    }
    RequestDone(uint16_t(FRequestResult));
}

void TCustomFtpCli::RequestDone(uint16_t Error) {
    if (FRequestDoneFlag) return;
    FRequestDoneFlag = true;
    if (Error == 0 && FSequenceNext) {
        if (FState != ftpStAbort && FState != ftpStPasvReply) SetState(ftpStStepDone);
        (this->*FSequenceNext)();
        return;
    }
    SetState(ftpStReady);
    if (FDataSocket->State() != wsClosed) FDataSocket->Close();
    if (FInSequence && FSavedStatusCode >= 0) {
        FLastResponse = FSavedResponse;
        FStatusCode = FSavedStatusCode;
    }
    FInSequence = false;
    FSequenceNext = nullptr;
    platform::postMessage(FWindowHandle, WM_FTPCLI_DONE, 0, Error);
}

intptr_t TCustomFtpCli::WindowProc(unsigned msg, uintptr_t, intptr_t lParam) {
    try {
        switch (msg) {
        case WM_FTPCLI_DONE:
            if (OnRequestDone) OnRequestDone(this, FRequestType, uint16_t(lParam));
            return 0;
        case WM_FTPCLI_SEND:
            FStartTime = platform::TickCount();
            SendNextBlock(FDataSocket.get(), 0);
            return 0;
        default:
            return 0;
        }
    } catch (const std::exception& e) {
        HandleBackgroundException(e);
    }
    return 0;
}

void TCustomFtpCli::HandleBackgroundException(const std::exception& E) {
    bool canClose = true;
    if (!OnBgException) return;
    try {
        OnBgException(this, E, canClose);
    } catch (...) {
    }
}

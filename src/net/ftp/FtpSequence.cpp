// The request engine: one command and its accepted replies, the multi-step
// sequences, and every request a caller can start.
#include "FtpCli.h"

#include <algorithm>
#include <cstring>

void TCustomFtpCli::ExecuteCommand(TFtpRequest RqType, const std::string& Cmd,
                                   std::initializer_list<int> OkReplies, TProc AfterReply) {
    if (Cmd != "ABOR" && Cmd != "STAT" && Cmd != "QUIT") {
        if (!CheckReady()) return;
        if (!FControlConnected) return ReportError("FTP component not connected");
    }
    if (!FInSequence) FRequestType = RqType;
    size_t n = std::min<size_t>(OkReplies.size(), 15);
    std::copy_n(OkReplies.begin(), n, FOkReplies);
    FOkReplies[n] = 0;
    FRequestDoneFlag = false;
    FReplyHandler = &TCustomFtpCli::HandleReply;
    FAfterReply = AfterReply;
    FErrorMessage.clear();
    FQuitReplied = false;
    SetState(ftpStWaitingReply);
    SendCommand(Cmd);
}

void TCustomFtpCli::HandleReply() {
    ShowLastResponse();
    ftpreply::ReplyLine r = ftpreply::ClassifyLine(FLastResponse);
    if (!r.HasCode) return;
    FStatusCode = r.Code;
    if (r.Continuation) return;
    if (FOkReplies[0] == 0) {
        FRequestResult = FStatusCode >= 500 ? FStatusCode : 0;
        if (FRequestResult) KeepFirstError();
    } else {
        FRequestResult = FStatusCode;
        for (int i = 0; i < 16 && FOkReplies[i] != 0; ++i)
            if (FOkReplies[i] == FStatusCode) FRequestResult = 0;
        if (FRequestResult) KeepFirstError();
    }
    if (FPassive && FStatusCode == 227) {
        SetState(ftpStPasvReply);
        FPasvResponse = FLastResponse;
    }
    if (FRequestResult == 0) InterpretReply();
    if (FAfterReply) return (this->*FAfterReply)();
    RequestDone(uint16_t(FRequestResult));
}

void TCustomFtpCli::InterpretReply() {
    int code = 0;
    const char* rest = ftpreply::ParseInteger(FLastResponse.c_str(), code);
    if (!rest) return;
    switch (FCurrentStep) {
    case ftpStepSize: {
        int size = 0;
        if (ftpreply::ParseInteger(rest, size)) FSizeResult = size;
        break;
    }
    case ftpStepCwd:
    case ftpStepMkd:
    case ftpStepPwd:
    case ftpStepCDup:
        ftpreply::ParseQuoted(rest, FDirResult);
        break;
    default:
        break;
    }
}

void TCustomFtpCli::StartSequence(TFtpRequest RqType, TFtpStepSet Steps) {
    if (FControlConnected && Steps.Contains(ftpStepOpen))
        return ReportError("FTP component already connected");
    if (!CheckReady()) return;
    FSavedResponse = FLastResponse;
    FSavedStatusCode = -1;
    FRequestType = RqType;
    FRequestResult = 0;
    FStepSet = Steps;
    FCurrentStep = ftpStepNone;
    FSequenceResult = 0;
    FInSequence = true;
    FLastResponse.clear();
    FErrorMessage.clear();
    FSequenceNext = nullptr;
    NextSequenceStep();
}

void TCustomFtpCli::NextSequenceStep() {
    if (FState == ftpStAbort) {
        FStepSet = {};
        FSequenceResult = 426;
        FErrorMessage = "426 Operation aborted.";
    }
    FSequenceNext = &TCustomFtpCli::NextSequenceStep;
    if (FRequestResult != 0) {
        FSequenceResult = FRequestResult;
        bool quitLeft = FStepSet.Contains(ftpStepQuit) && FCurrentStep != ftpStepQuit;
        FStepSet = quitLeft ? TFtpStepSet{ftpStepQuit} : TFtpStepSet{};
    }
    if (FRequestResult == 0) InterpretReply();

    const TFtpStep previous = FCurrentStep;
    const unsigned usageErrors = FUsageErrors;
    // A step refused by a usage error sends nothing and never ends; the
    // sequence is dropped so that the next request starts clean.
    auto abandonOnUsageError = [&] {
        if (FUsageErrors == usageErrors) return;
        // After a 227 the client would otherwise wait for a transfer that
        // never starts.
        if (FState == ftpStPasvReply) SetState(ftpStStepDone);
        if (FDataSocket->State() != wsClosed) FDataSocket->Close();
        FStepSet = {};
        FInSequence = false;
        FSequenceNext = nullptr;
    };
    struct Step {
        TFtpStep step;
        TProc start;
    };
    static const Step order[] = {
        {ftpStepOpen, &TCustomFtpCli::OpenAsync},
        {ftpStepUser, &TCustomFtpCli::UserAsync},
        {ftpStepPass, &TCustomFtpCli::PassAsync},
        {ftpStepCwd, &TCustomFtpCli::CwdAsync},
        {ftpStepCDup, &TCustomFtpCli::CDupAsync},
        {ftpStepTypeSet, &TCustomFtpCli::TypeSetAsync},
        {ftpStepPort, &TCustomFtpCli::PortAsync},
        {ftpStepRest, &TCustomFtpCli::RestAsync},
        {ftpStepGet, &TCustomFtpCli::StepGet},
        {ftpStepPut, &TCustomFtpCli::StepPut},
        {ftpStepAppend, &TCustomFtpCli::StepAppend},
        {ftpStepDir, &TCustomFtpCli::StepDir},
        {ftpStepLs, &TCustomFtpCli::StepLs},
        {ftpStepSyst, &TCustomFtpCli::SystAsync},
        {ftpStepMkd, &TCustomFtpCli::MkdAsync},
        {ftpStepRmd, &TCustomFtpCli::RmdAsync},
        {ftpStepRenFrom, &TCustomFtpCli::RenFromAsync},
        {ftpStepRenTo, &TCustomFtpCli::RenToAsync},
        {ftpStepSize, &TCustomFtpCli::SizeAsync},
        {ftpStepDele, &TCustomFtpCli::DeleAsync},
        {ftpStepPwd, &TCustomFtpCli::PwdAsync},
        {ftpStepAbortXfer, &TCustomFtpCli::AbortXferAsync},
        {ftpStepQuote, &TCustomFtpCli::QuoteAsync},
        {ftpStepQuit, &TCustomFtpCli::QuitAsync},
    };
    for (const Step& s : order) {
        if (!FStepSet.Contains(s.step)) continue;
        FStepSet.Remove(s.step);
        if (s.step == ftpStepPass && previous == ftpStepUser && FStatusCode != 331) continue;
        if (s.step == ftpStepCwd && FHostDirName.empty()) continue;
        if (s.step == ftpStepGet &&
            !(previous == ftpStepRest && FStatusCode == 350 && FResumeAt >= 0))
            FResumeAt = 0;
        if (s.step == ftpStepQuit) {
            FSavedResponse = FLastResponse;
            FSavedStatusCode = FStatusCode;
        }
        FCurrentStep = s.step;
        try {
            (this->*s.start)();
        } catch (...) {
            abandonOnUsageError();
            throw;
        }
        abandonOnUsageError();
        return;
    }
    FStepSet = {};
    FSequenceNext = nullptr;
    FRequestDoneFlag = false;
    RequestDone(uint16_t(FSequenceResult));
}

// Single commands.

void TCustomFtpCli::OpenAsync() {
    if (!CheckReady()) return;
    if (FControlConnected) return ReportError("FTP component already connected");
    if (!FInSequence) FRequestType = ftpOpenAsync;
    FRequestDoneFlag = false;
    FReceive.Clear();
    FReplyLines = 0;
    FRequestResult = 0;
    FDnsResult.clear();
    FControlReached = false;
    FQuitReplied = false;
    FDataProtected = false;
    FCertProblem = {};
    SetState(ftpStDnsLookup);
    FControlSocket->DnsLookup(FConnectionType == ftpProxy ? FProxyServer : FHostName);
}

void TCustomFtpCli::UserAsync() {
    if (FUserName.empty()) return ReportError("UserName emtpy");
    if (!CheckLineSafe("UserName", FUserName)) return;
    std::string cmd = "USER " + FUserName;
    if (FConnectionType == ftpProxy) {
        cmd += "@" + FHostName;
        std::string port = FPort;
        std::transform(port.begin(), port.end(), port.begin(), ::tolower);
        if (port != "ftp" && port != "21") cmd += ":" + FPort;
    }
    FCurrentStep = ftpStepUser;
    ExecuteCommand(ftpUserAsync, cmd, {331, 230}, nullptr);
}

void TCustomFtpCli::PassAsync() {
    if (FPassWord.empty()) return ReportError("Password emtpy");
    if (!CheckLineSafe("Password", FPassWord)) return;
    FCurrentStep = ftpStepPass;
    ExecuteCommand(ftpPassAsync, "PASS " + FPassWord, {230}, nullptr);
}

void TCustomFtpCli::QuitAsync() {
    CloseLocalFile();
    FCurrentStep = ftpStepQuit;
    ExecuteCommand(ftpQuitAsync, "QUIT", {221}, &TCustomFtpCli::QuitAfterReply);
}

void TCustomFtpCli::QuitAfterReply() {
    // The request ends when the close completes, with the result set above.
    FQuitReplied = true;
    FControlSocket->Close();
}

void TCustomFtpCli::CwdAsync() {
    if (FHostDirName.empty()) return ReportError("HostDirName emtpy");
    if (!CheckLineSafe("HostDirName", FHostDirName)) return;
    FCurrentStep = ftpStepCwd;
    ExecuteCommand(ftpCwdAsync, "CWD " + FHostDirName, {200, 250, 257}, nullptr);
}

#define BRWK_FILE_COMMAND(Name, Step, Request, Verb, ...)                                          \
    void TCustomFtpCli::Name() {                                                                   \
        if (!CheckLineSafe("HostFileName", FHostFileName)) return;                                 \
        FCurrentStep = Step;                                                                       \
        ExecuteCommand(Request, std::string(Verb) + FHostFileName, {__VA_ARGS__}, nullptr);        \
    }
BRWK_FILE_COMMAND(MkdAsync, ftpStepMkd, ftpMkdAsync, "MKD ", 250, 257)
BRWK_FILE_COMMAND(RmdAsync, ftpStepRmd, ftpRmdAsync, "RMD ", 250, 257)
BRWK_FILE_COMMAND(DeleAsync, ftpStepDele, ftpDeleAsync, "DELE ", 250, 257)
BRWK_FILE_COMMAND(RenFromAsync, ftpStepRenFrom, ftpRenFromAsync, "RNFR ", 350)
#undef BRWK_FILE_COMMAND

void TCustomFtpCli::SizeAsync() {
    if (!CheckLineSafe("HostFileName", FHostFileName)) return;
    FSizeResult = 0;
    FCurrentStep = ftpStepSize;
    ExecuteCommand(ftpSizeAsync, "SIZE " + FHostFileName, {213}, nullptr);
}

void TCustomFtpCli::RenToAsync() {
    if (!CheckLineSafe("LocalFileName", FLocalFileName)) return;
    FCurrentStep = ftpStepRenTo;
    ExecuteCommand(ftpRenToAsync, "RNTO " + FLocalFileName, {200, 250, 257}, nullptr);
}

void TCustomFtpCli::TypeSetAsync() {
    FCurrentStep = ftpStepTypeSet;
    ExecuteCommand(ftpTypeSetAsync, std::string("TYPE ") + FTransferType, {200}, nullptr);
}
void TCustomFtpCli::TypeBinaryAsync() {
    SetBinary(true);
    TypeSetAsync();
}
void TCustomFtpCli::TypeAsciiAsync() {
    SetBinary(false);
    TypeSetAsync();
}
void TCustomFtpCli::PwdAsync() {
    FCurrentStep = ftpStepPwd;
    ExecuteCommand(ftpPwdAsync, "PWD", {250, 257}, nullptr);
}
void TCustomFtpCli::CDupAsync() {
    FCurrentStep = ftpStepCDup;
    ExecuteCommand(ftpCDupAsync, "CDUP", {250, 257}, nullptr);
}
void TCustomFtpCli::SystAsync() {
    FCurrentStep = ftpStepSyst;
    ExecuteCommand(ftpSystAsync, "SYST", {215}, nullptr);
}
void TCustomFtpCli::QuoteAsync() {
    if (!CheckLineSafe("LocalFileName", FLocalFileName)) return;
    FCurrentStep = ftpStepQuote;
    ExecuteCommand(ftpQuoteAsync, FLocalFileName, {}, nullptr);
}
void TCustomFtpCli::AbortXferAsync() {
    FCurrentStep = ftpStepAbortXfer;
    ExecuteCommand(ftpAbortXferAsync, "ABOR", {}, nullptr);
}

void TCustomFtpCli::RestAsync() {
    FCurrentStep = ftpStepRest;
    if (FRequestType != ftpRestPutAsync && FRequestType != ftpRestartPutAsync &&
        !FOptions.Contains(ftpNoAutoResumeAt)) {
        int64_t size = TFtpLocalFile::SizeOf(FLocalFileName);
        FResumeAt = size > INT32_MAX ? -1 : int(size);
    }
    if (FResumeAt <= 0) {
        if (!FInSequence) FRequestType = ftpRestAsync;
        FRequestDoneFlag = false;
        RequestDone(0);
        return;
    }
    ExecuteCommand(ftpRestAsync, "REST " + std::to_string(FResumeAt), {}, nullptr);
}

// Sequences.

void TCustomFtpCli::ConnectAsync() {
    StartSequence(ftpConnectAsync, {ftpStepOpen, ftpStepUser, ftpStepPass});
}
void TCustomFtpCli::PutAsync() {
    StartSequence(ftpPutAsync, {ftpStepPort, ftpStepPut});
}
void TCustomFtpCli::GetAsync() {
    StartSequence(ftpGetAsync, {ftpStepPort, ftpStepGet});
}
void TCustomFtpCli::AppendAsync() {
    StartSequence(ftpAppendAsync, {ftpStepPort, ftpStepAppend});
}
void TCustomFtpCli::DirAsync() {
    StartSequence(ftpDirAsync, {ftpStepPort, ftpStepDir});
}
void TCustomFtpCli::LsAsync() {
    StartSequence(ftpLsAsync, {ftpStepPort, ftpStepLs});
}
void TCustomFtpCli::RenAsync() {
    StartSequence(ftpRenAsync, {ftpStepRenFrom, ftpStepRenTo});
}
void TCustomFtpCli::RestGetAsync() {
    StartSequence(ftpRestGetAsync, {ftpStepPort, ftpStepRest, ftpStepGet});
}
void TCustomFtpCli::RestPutAsync() {
    StartSequence(ftpRestPutAsync, {ftpStepPort, ftpStepRest, ftpStepPut});
}

namespace {
const TFtpStepSet Login{ftpStepOpen, ftpStepUser, ftpStepPass};
TFtpStepSet LoginAnd(std::initializer_list<TFtpStep> more) {
    TFtpStepSet s = Login;
    for (TFtpStep step : more) s = s.With(step);
    return s;
}
} // namespace

void TCustomFtpCli::ReceiveAsync() {
    StartSequence(ftpReceiveAsync,
                  LoginAnd({ftpStepCwd, ftpStepTypeSet, ftpStepPort, ftpStepGet, ftpStepQuit}));
}
void TCustomFtpCli::TransmitAsync() {
    StartSequence(ftpTransmitAsync,
                  LoginAnd({ftpStepCwd, ftpStepTypeSet, ftpStepPort, ftpStepPut, ftpStepQuit}));
}
void TCustomFtpCli::AppendFileAsync() {
    StartSequence(ftpTransmitAsync,
                  LoginAnd({ftpStepCwd, ftpStepTypeSet, ftpStepPort, ftpStepAppend, ftpStepQuit}));
}
void TCustomFtpCli::RestartGetAsync() {
    StartSequence(ftpRestartGetAsync, LoginAnd({ftpStepCwd, ftpStepTypeSet, ftpStepPort,
                                                ftpStepRest, ftpStepGet, ftpStepQuit}));
}
void TCustomFtpCli::RestartPutAsync() {
    StartSequence(ftpRestartPutAsync, LoginAnd({ftpStepCwd, ftpStepTypeSet, ftpStepPort,
                                                ftpStepRest, ftpStepPut, ftpStepQuit}));
}
void TCustomFtpCli::DirectoryAsync() {
    StartSequence(ftpDirectoryAsync, LoginAnd({ftpStepCwd, ftpStepPort, ftpStepDir, ftpStepQuit}));
}
void TCustomFtpCli::ListAsync() {
    StartSequence(ftpListAsync, LoginAnd({ftpStepCwd, ftpStepPort, ftpStepLs, ftpStepQuit}));
}
void TCustomFtpCli::SystemAsync() {
    StartSequence(ftpSystemAsync, LoginAnd({ftpStepSyst, ftpStepQuit}));
}
void TCustomFtpCli::FileSizeAsync() {
    StartSequence(ftpSizeAsync, LoginAnd({ftpStepCwd, ftpStepSize, ftpStepQuit}));
}
void TCustomFtpCli::MkdirAsync() {
    StartSequence(ftpMkdirAsync, LoginAnd({ftpStepCwd, ftpStepMkd, ftpStepQuit}));
}
void TCustomFtpCli::RmdirAsync() {
    StartSequence(ftpRmdirAsync, LoginAnd({ftpStepCwd, ftpStepRmd, ftpStepQuit}));
}
void TCustomFtpCli::DeleteAsync() {
    StartSequence(ftpDeleteAsync, LoginAnd({ftpStepCwd, ftpStepDele, ftpStepQuit}));
}
void TCustomFtpCli::RenameAsync() {
    StartSequence(ftpRenameAsync,
                  LoginAnd({ftpStepCwd, ftpStepRenFrom, ftpStepRenTo, ftpStepQuit}));
}
void TCustomFtpCli::DoQuoteAsync() {
    StartSequence(ftpDoQuoteAsync, LoginAnd({ftpStepCwd, ftpStepQuote, ftpStepQuit}));
}

// FTP over TLS: AUTH TLS on the control connection, PBSZ 0 and PROT P, TLS
// on the data connections (resuming the control connection's session, as
// most servers demand) and the lines that say why TLS failed.
//
// A data connection's handshake waits for the transfer command's 1xx reply:
// pyftpdlib drops a data connection on which bytes arrive before it has the
// command, and servers that take the handshake at once (vsftpd) wait for it.
#include "FtpCli.h"
#include "WSocketResolve.h"

void TCustomFtpCli::SetEncryption(TFtpEncryption v) {
    if (FControlConnected) return ReportError("FTP component connected");
    FEncryption = unsigned(v) <= ftpEncImplicit ? v : ftpEncNone;
}

std::string TCustomFtpCli::ControlPort() const {
    if (FEncryption == ftpEncImplicit && (FPort == "21" || FPort == "ftp")) return "990";
    return FPort;
}

std::string TCustomFtpCli::TlsFailureLine(TWSocket& socket, uint16_t error) {
    if (error == SslErrorCertificate) {
        FCertProblem = socket.SslCertProblem();
        std::string text = FCertProblem.Text();
        for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, " ");
        return "500 " + text;
    }
    const std::string& why = socket.SslErrorText();
    return "500 TLS handshake failed" + (why.empty() ? std::string() : ": " + why);
}

std::string TCustomFtpCli::ConnectFailureLine(uint16_t error) {
    if (error == SslErrorCertificate || error == SslErrorHandshake)
        return TlsFailureLine(*FControlSocket, error);
    return "500 " + WinsockErrorText(error) + " (Winsock error #" + std::to_string(error) + ")";
}

void TCustomFtpCli::StartAuthTls() {
    SetState(ftpStWaitingReply);
    FReplyHandler = &TCustomFtpCli::AuthTlsReply;
    SendCommand("AUTH TLS");
}

void TCustomFtpCli::AuthTlsReply() {
    ShowLastResponse();
    ftpreply::ReplyLine r = ftpreply::ClassifyLine(FLastResponse);
    if (!r.HasCode || r.Continuation) return;
    FStatusCode = r.Code;
    FReplyHandler = nullptr;
    if (r.Code != 234) {
        // No TLS, no login: the password must not cross in clear. The close
        // ends the request with this reply.
        KeepFirstError();
        FRequestResult = FStatusCode;
        FControlSocket->Close();
        return;
    }
    // Bytes that came in clear behind the 234 could pose as the first
    // replies of the encrypted session (a 230 that skips the password, say).
    // Nothing read before the handshake may count after it.
    if (FReceive.Held() > 0)
        return DropControl("500 The server sent more in clear after agreeing to TLS: "
                           "the session was ended");
    try {
        FControlSocket->StartSslHandshake();
    } catch (const std::exception& e) {
        FLastResponse = "500 " + ExceptionClassName(e) + ": " + e.what();
        FStatusCode = 500;
        KeepFirstError();
        FRequestResult = 500;
        FControlSocket->Close();
    }
}

void TCustomFtpCli::ControlTlsDone(TCustomWSocket*, uint16_t Error) {
    // Implicit TLS reports through the control socket's connect event.
    if (FEncryption != ftpEncExplicit) return;
    if (Error != 0) {
        // The socket closes itself next, which ends the request.
        FLastResponse = TlsFailureLine(*FControlSocket, Error);
        FStatusCode = 500;
        FRequestResult = 500;
        KeepFirstError();
        NotifyDisplay("! " + FLastResponse);
        return;
    }
    NotifyDisplay("! TLS established");
    if (OnSessionConnected) OnSessionConnected(this, 0);
    RequestDone(0);
}

void TCustomFtpCli::ProtectDataAfterPbsz() {
    if (FRequestResult != 0) return RequestDone(uint16_t(FRequestResult));
    SetState(ftpStStepDone);
    ExecuteCommand(ftpPortAsync, "PROT P", {200}, &TCustomFtpCli::ProtectDataAfterProt);
}

void TCustomFtpCli::ProtectDataAfterProt() {
    if (FRequestResult != 0) return RequestDone(uint16_t(FRequestResult));
    FDataProtected = true;
    SetState(ftpStStepDone);
    PortAsync();
}

bool TCustomFtpCli::StartDataTls() {
    if (FEncryption == ftpEncNone) return true;
    try {
        FDataSocket->StartSslHandshake();
    } catch (const std::exception& e) {
        NotifyDisplay(std::string("! ") + e.what());
        CloseDataSocket();
        return false;
    }
    return true;
}

void TCustomFtpCli::DataTlsDone(TCustomWSocket*, uint16_t Error) {
    if (Error == 0) {
        // An upload's blocks waited for the handshake (a download's file
        // is open too, for writing).
        const bool uploading =
            FDirection == ftpUpload && FReplyHandler == &TCustomFtpCli::FinalReply;
        if (uploading && FLocalStream && FDataOpened && !FEndOfFile)
            SendNextBlock(FDataSocket.get(), 0);
        return;
    }
    // The data socket closes itself next; the server's reply ends the transfer.
    FLastResponse = TlsFailureLine(*FDataSocket, Error);
    KeepFirstError();
    NotifyDisplay("! " + FLastResponse);
}

// The data connection's opening: the port step (PORT or PASV, and PBSZ/PROT
// first in TLS), the passive connect and the active accept.
#include "FtpCli.h"
#include "FtpDataText.h"
#include "System.h"
#include "WSocketResolve.h"

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
            // The server may connect as soon as it has the PORT, before the
            // transfer command: the sequence tells which way the data goes.
            bool accepting = true;
            if (FStepSet.Contains(ftpStepGet) || FStepSet.Contains(ftpStepDir) ||
                FStepSet.Contains(ftpStepLs))
                FDirection = ftpDownload;
            else if (FStepSet.Contains(ftpStepPut) || FStepSet.Contains(ftpStepAppend))
                FDirection = ftpUpload;
            else
                accepting = false;
            if (accepting)
                FDataSocket->OnSessionAvailable = [this](TCustomWSocket* s, uint16_t e) {
                    DataAccepted(s, e);
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
        // The blocks are large: waiting to fill a segment only holds the
        // file's last bytes back until the server's delayed acknowledgement.
        FDataSocket->SetComponentOptions({wsoNoReceiveLoop, wsoTcpNoDelay});
        FDataSocket->Connect();
    } catch (const std::exception& e) {
        return fail(failPrefix + ExceptionClassName(e) + ": " + e.what());
    }
    return true;
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

void TCustomFtpCli::SetDataHandlers(bool accepted) {
    TWSocket& d = *FDataSocket;
    d.OnSessionClosed = [this](TCustomWSocket* s, uint16_t e) { DataClosed(s, e); };
    if (FDirection == ftpDownload) {
        d.OnDataAvailable = [this](TCustomWSocket* s, uint16_t e) { DataAvailable(s, e); };
        return;
    }
    d.OnDataAcked = [this](TCustomWSocket*, uint64_t acked) { DataAcked(acked); };
    // A passive upload sends from its 1xx reply on (FirstReply); an accepted
    // one as soon as it is open.
    if (accepted) {
        d.OnDataAvailable = [this](TCustomWSocket* s, uint16_t e) { DataAvailable(s, e); };
        d.OnDataSent = [this](TCustomWSocket* s, uint16_t e) { SendNextBlock(s, e); };
    } else {
        d.OnDataAvailable = nullptr;
        d.OnDataSent = nullptr;
    }
}

void TCustomFtpCli::DataConnected(TCustomWSocket*, uint16_t Error) {
    if (Error != 0) {
        FLastResponse = "Unable to establish data connection, error #" + std::to_string(Error);
        FStatusCode = 550;
        KeepFirstError();
        CloseLocalFile();
        CloseDataSocket();
        FRequestResult = 550;
        return RequestDone(550);
    }
    SetDataHandlers(false);
    FDataOpened = true;
    FStartTime = platform::TickCount();
    SendTransferCommand();
}

void TCustomFtpCli::DataAccepted(TCustomWSocket*, uint16_t) {
    const bool uploading = FDirection == ftpUpload;
    try {
        TSocket accepted = FDataSocket->Accept();
        if (!AcceptedFromServer(accepted)) return;
        FDataSocket->Close();
        SetDataHandlers(true);
        FDataSocket->Dup(accepted);
        if (uploading) {
            FDataSocket->SetComponentOptions({wsoNoReceiveLoop, wsoTcpNoDelay});
            platform::setOption(FDataSocket->HSocket(), platform::SocketOption::TcpNoDelay, 1);
        }
    } catch (const std::exception& e) {
        NotifyDisplay(std::string("! ") + e.what());
        CloseDataSocket();
        return;
    }
    if (uploading) {
        int sendBuffer = 0;
        if (platform::getOption(FDataSocket->HSocket(), platform::SocketOption::SendBuffer,
                                sendBuffer) != 0)
            return ReportError("winsock.getsockopt(SO_SNDBUF) failed");
        FDataSocket->SetLingerOnOff(wsLingerOff);
        FDataSocket->SetLingerTimeout(10);
        FDataSocket->ApplyLinger();
    }
    if (FTransferReplied && !StartDataTls()) return;
    FDataOpened = true;
    if (!uploading) {
        FStartTime = platform::TickCount();
        return;
    }
    FUploadStarted = FTransferReplied;
    if (FTransferReplied && FStartTime == 0)
        platform::postMessage(FWindowHandle, WM_FTPCLI_SEND, 0, 0);
}

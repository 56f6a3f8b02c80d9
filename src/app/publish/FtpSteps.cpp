#include "FtpSteps.h"

std::unique_ptr<TFtpClient> CreatePublishFtpClient() {
    auto client = std::make_unique<TFtpClient>();
    client->SetTimeout(15);
    client->SetMultiThreaded(false);
    client->SetPort("ftp");
    client->SetLocalAddr("0.0.0.0");
    client->SetDisplayFileFlag(false);
    client->SetBinary(true);
    client->SetShareMode(ftpShareExclusive);
    client->SetOptions({ftpAcceptLF});
    client->SetConnectionType(ftpDirect);
    return client;
}

void ApplyFtpSettings(TFtpClient& ftp, const configRecord& settings) {
    ftp.SetHostName(settings.hostName);
    ftp.SetPort(settings.port);
    ftp.SetUserName(settings.userName);
    ftp.SetPassWord(settings.password);
    ftp.SetHostDirName(settings.destDirectory);
    ftp.SetEncryption(TFtpEncryption(settings.ftpEncryption));
    ftp.SetTrustedFingerprint(settings.ftpCertFingerprint);
}

bool ConnectTrusting(TFtpClient& ftp, const std::function<bool()>& connect,
                     const TTrustQuestion& trust, std::string& fingerprint) {
    if (connect()) return true;
    if (ftp.Encryption() == ftpEncNone || !trust(ftp.CertProblem(), fingerprint)) return false;
    ftp.SetTrustedFingerprint(fingerprint);
    return connect();
}

bool EnterDirectory(TFtpClient& ftp, const std::string& dir, bool create, const bool& cancelled,
                    bool& created) {
    ftp.SetHostFileName(dir);
    created = create && ftp.Mkd();
    if (cancelled) return false;
    return ftp.Cwd() && !cancelled;
}

void PrepareUpload(TFtpClient& ftp, const std::string& local, const std::string& remote,
                   bool passive) {
    ftp.SetLocalFileName(local);
    ftp.SetHostFileName(remote);
    ftp.SetBinary(true);
    ftp.SetPassive(passive);
}

std::string RemovePartialFile(TFtpClient& ftp, const std::string& name) {
    bool ok = true;
    if (!ftp.Connected()) ok = ftp.Connect() && ftp.Cwd();
    ftp.SetHostFileName(name);
    ok = ok && ftp.Dele();
    if (ftp.Connected()) ftp.Quit();
    return ok ? "The partial file " + name + " was removed from the server.\n"
              : "The partial file " + name +
                    " may still be on the server; removing it failed: " + ftp.LastResponse() + "\n";
}

TFtpSessionScope::~TFtpSessionScope() {
    // Unwinding from an error must not end in a second one.
    try {
        if (ftp_.Connected() && !cancelled_) ftp_.Quit();
    } catch (...) {
    }
    if (ftp_.Connected()) ftp_.Abort();
    ftp_.OnDisplay = nullptr;
    ftp_.OnError = nullptr;
    ftp_.OnProgress = nullptr;
    ftp_.OnSessionConnected = nullptr;
}

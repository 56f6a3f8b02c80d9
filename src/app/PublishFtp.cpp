// Publishing over FTP: a fixed chain of synchronous client operations that
// puts the exported JPEG into the destination directory, then shows the
// public URL. Each operation waits while the event loop runs, up to the
// client's time-out.
#include "CertificateTrust.h"
#include "Dialogs.h"
#include "FtpCli.h"
#include "JpegExport.h"
#include "System.h"
#include "configUnit.h"
#include "mainFormUnit.h"

namespace {

// Removes the exported JPEG on every way out; a failure to remove is ignored.
// An error that ends the chain early leaves the control connection open, so
// it is closed here too: the next publish must find the client ready.
class TPublishCleanup {
public:
    TPublishCleanup(TFtpClient& client, std::string path)
        : client_(client), path_(std::move(path)) {}
    ~TPublishCleanup() {
        if (client_.Connected()) client_.Abort();
        platform::DeleteFileQuietly(path_);
    }
    TPublishCleanup(const TPublishCleanup&) = delete;
    TPublishCleanup& operator=(const TPublishCleanup&) = delete;

private:
    TFtpClient& client_;
    std::string path_;
};

} // namespace

std::unique_ptr<TFtpClient> TfrmMain::CreateFtpClient() {
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

void TfrmMain::ftpError(TCustomFtpCli*, std::string& Msg) {
    platform::dialogs().MessageBox("FTP Error: " + Msg);
}

void TfrmMain::PublishFtp(const std::string& name) {
    auto& dialogs = platform::dialogs();
    TFtpClient& ftp = *FtpClient1;
    const std::string localFile = ExportFilePath(name);

    ftp.OnError = [this](TCustomFtpCli* sender, std::string& msg) { ftpError(sender, msg); };
    ftp.SetHostName(Settings.hostName);
    ftp.SetPort(Settings.port);
    ftp.SetUserName(Settings.userName);
    ftp.SetPassWord(Settings.password);
    ftp.SetHostDirName(Settings.destDirectory);
    ftp.SetHostFileName(name);
    ftp.SetLocalFileName(localFile);
    ftp.SetEncryption(TFtpEncryption(Settings.ftpEncryption));
    ftp.SetTrustedFingerprint(Settings.ftpCertFingerprint);

    // Declared in this order so that the JPEG is gone before isBusy clears.
    TBusyScope busy(*this);
    TPublishCleanup cleanup(ftp, localFile);

    bool ok = ftp.Connect();
    // A refused certificate the user now trusts: the same login once more.
    if (!ok && ftp.Encryption() != ftpEncNone &&
        OfferCertificateTrust(ftp.CertProblem(), Settings.ftpCertFingerprint)) {
        ftp.SetTrustedFingerprint(Settings.ftpCertFingerprint);
        ok = ftp.Connect();
    }
    if (!ok) dialogs.MessageBox("Connect to FTP failed : " + ftp.LastResponse());

    // An existing directory, or one the server will not create, is no
    // reason to stop: the change of directory says whether it is there.
    ftp.SetHostFileName(Settings.destDirectory);
    if (ok) ftp.Mkd();
    if (ok) {
        ok = ftp.Cwd();
        if (!ok)
            dialogs.MessageBox("Failed to change directory to " + Settings.destDirectory + " " +
                               ftp.LastResponse());
    }

    ftp.SetHostFileName(name);
    ftp.SetBinary(true);
    ftp.SetPassive(Settings.passive);
    if (ok) ok = ftp.TypeSet();
    if (ok) {
        ok = ftp.Put();
        if (!ok) dialogs.MessageBox("Cannot upload file: " + ftp.LastResponse());
    }
    if (ok) ok = ftp.Quit();
    // Whatever went wrong, the control connection is closed at the end.
    if (ftp.Connected()) ftp.Quit();

    if (!ok) dialogs.MessageBox("Publishing failed - check settings and network connection!");
    if (ok) dialogs.InputBox("Transfer succeeded!", "URL for capture", Settings.hostPrefix + name);
}

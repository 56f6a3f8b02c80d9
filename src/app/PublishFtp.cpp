// Publishing over FTP: a fixed chain of synchronous client operations that
// puts the exported JPEG into the destination directory, then shows the
// public URL. Each operation waits while the event loop runs, up to the
// client's time-out.
#include "CertificateTrust.h"
#include "Dialogs.h"
#include "FtpClientSetup.h"
#include "JpegExport.h"
#include "PublishSession.h"
#include "System.h"
#include "configUnit.h"
#include "mainFormUnit.h"

#include <filesystem>

namespace {

// Removes the exported JPEG on every way out; a failure to remove is ignored.
// An error that ends the chain early leaves the control connection open, so
// it is closed here too: the next publish must find the client ready. The
// client outlives the publish, so its handlers into it are taken back.
class TPublishCleanup {
public:
    TPublishCleanup(TFtpClient& client, std::string path)
        : client_(client), path_(std::move(path)) {}
    ~TPublishCleanup() {
        if (client_.Connected()) client_.Abort();
        client_.OnDisplay = nullptr;
        client_.OnProgress = nullptr;
        client_.OnSessionConnected = nullptr;
        platform::DeleteFileQuietly(path_);
    }
    TPublishCleanup(const TPublishCleanup&) = delete;
    TPublishCleanup& operator=(const TPublishCleanup&) = delete;

private:
    TFtpClient& client_;
    std::string path_;
};

// Points the main window's client handlers at this publish while it runs.
class TPublishingScope {
public:
    TPublishingScope(TfrmMain& form, TPublishSession& session) : form_(form) {
        form_.publishing = &session;
    }
    ~TPublishingScope() { form_.publishing = nullptr; }
    TPublishingScope(const TPublishingScope&) = delete;
    TPublishingScope& operator=(const TPublishingScope&) = delete;

private:
    TfrmMain& form_;
};

// An upload that failed after the server had begun to write leaves a part
// of the picture under its public name: removed on the control connection,
// or on a new one when that is gone. The sentence for the details says how
// it went.
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

} // namespace

void TfrmMain::ftpError(TCustomFtpCli*, std::string& Msg) {
    // A cancelled publish says only that; the usage errors of the client
    // it left behind are no news to the user.
    if (publishing) {
        publishing->Fail("FTP Error: " + Msg);
        return;
    }
    platform::dialogs().MessageBox("FTP Error: " + Msg);
}

void TfrmMain::PublishFtp(const std::string& name) {
    TFtpClient& ftp = *FtpClient1;
    const std::string localFile = ExportFilePath(name);

    ftp.OnError = [this](TCustomFtpCli* sender, std::string& msg) { ftpError(sender, msg); };
    ApplyFtpSettings(ftp, Settings);
    ftp.SetHostFileName(name);
    ftp.SetLocalFileName(localFile);

    // Declared in this order so that the JPEG is gone before isBusy clears,
    // and the session outlives the client's handlers into it.
    TBusyScope busy(*this);
    TPublishSession session(Settings.password);
    TPublishingScope publishing(*this, session);
    TPublishCleanup cleanup(ftp, localFile);
    // Cancel drops both connections at once; the operation waiting for them
    // then ends, and every later one is skipped.
    session.OnCancel = [&ftp] { ftp.Abort(); };
    ftp.OnDisplay = [&session](TCustomFtpCli*, std::string& msg) { session.AddTrace(msg); };
    ftp.OnSessionConnected = [&session](TCustomFtpCli*, uint16_t) { session.Step("Logging in"); };
    std::error_code sizeError;
    const uint64_t size = std::filesystem::file_size(localFile, sizeError);
    ftp.OnProgress = [&session, size](TCustomFtpCli*, int count, bool&) {
        session.Bytes(uint64_t(count), size);
    };
    // An operation cut short by Cancel can still look successful.
    auto run = [&session](bool result) { return result && !session.Cancelled(); };

    session.Step("Connecting");
    bool ok = run(ftp.Connect());
    // A refused certificate the user now trusts: the same login once more.
    if (!ok && !session.Cancelled() && ftp.Encryption() != ftpEncNone &&
        OfferCertificateTrust(ftp.CertProblem(), Settings.ftpCertFingerprint)) {
        ftp.SetTrustedFingerprint(Settings.ftpCertFingerprint);
        ok = run(ftp.Connect());
    }
    if (!ok) session.Fail("Connect to FTP failed : " + ftp.LastResponse());

    // An existing directory, or one the server will not create, is no
    // reason to stop: the change of directory says whether it is there.
    ftp.SetHostFileName(Settings.destDirectory);
    if (ok) session.Step("Changing directory");
    if (ok) ftp.Mkd();
    ok = ok && !session.Cancelled();
    if (ok) {
        ok = run(ftp.Cwd());
        if (!ok)
            session.Fail("Failed to change directory to " + Settings.destDirectory + " " +
                         ftp.LastResponse());
    }

    ftp.SetHostFileName(name);
    ftp.SetBinary(true);
    ftp.SetPassive(Settings.passive);
    if (ok) ok = run(ftp.TypeSet());
    if (ok) {
        session.Step("Uploading");
        session.Bytes(0, size);
        ok = run(ftp.Put());
        std::string removal;
        // Never after a refused STOR: an older picture of that name may be whole.
        if (!ok && ftp.UploadStarted()) {
            const std::string failure = ftp.LastResponse();
            session.Step("Removing the partial file");
            removal = RemovePartialFile(ftp, name);
            session.Fail("Cannot upload file: " + failure, session.Trace() + removal);
        } else if (!ok) {
            session.Fail("Cannot upload file: " + ftp.LastResponse());
        }
        if (session.Cancelled() && !removal.empty()) session.Finish(removal);
    }
    if (ok) session.Step("Closing");
    // The picture is stored once the transfer got its 226: a server that
    // drops the connection at QUIT, unanswered, has done what QUIT asks.
    if (ok)
        ok = run(ftp.Quit()) ||
             (!session.Cancelled() && !ftp.Connected() && !ftp.QuitReplied() && !ftp.TimedOut());
    // Whatever went wrong, the control connection is closed at the end.
    if (ftp.Connected()) ftp.Quit();

    if (!ok) session.Fail("Publishing failed - check settings and network connection!");
    session.Finish();
    if (ok) ShowPublishedUrl(Settings.hostPrefix + name);
}

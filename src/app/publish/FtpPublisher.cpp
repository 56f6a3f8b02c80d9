#include "FtpPublisher.h"

#include "FtpSteps.h"
#include "System.h"

#include <filesystem>

TFtpPublisher::TFtpPublisher(configRecord& settings, TFtpClient* client)
    : settings_(settings), own_(client ? nullptr : CreatePublishFtpClient()),
      client_(client ? *client : *own_) {}

TFtpPublisher::~TFtpPublisher() {
    if (!exported_.empty()) platform::DeleteFileQuietly(exported_);
}

void TFtpPublisher::Stop() {
    client_.Abort();
}

std::string FtpErrorText(const std::string& msg) {
    return "FTP Error: " + msg;
}

std::string ConnectFailedText(const std::string& serverText) {
    return "Connect to FTP failed : " + serverText;
}

std::string DirectoryFailedText(const std::string& dir, const std::string& serverText) {
    return "Failed to change directory to " + dir + " " + serverText;
}

void TFtpPublisher::FtpError(const std::string& msg) {
    Fail(FtpErrorText(msg), trace_.Text());
}

TPublishResult TFtpPublisher::Publish(const std::string& localFile, const std::string& name) {
    TFtpClient& ftp = client_;
    const configRecord& s = settings_;
    Begin();
    trace_.Clear();
    exported_ = localFile;
    ftp.OnError = [this](TCustomFtpCli*, std::string& msg) { FtpError(msg); };
    ApplyFtpSettings(ftp, s);
    ftp.SetHostFileName(name);
    ftp.SetLocalFileName(localFile);

    const bool& cancelled = CancelledFlag();
    TFtpSessionScope session(ftp, cancelled);
    ftp.OnDisplay = [this](TCustomFtpCli*, std::string& msg) {
        trace_.Add(MaskPassword(msg, settings_.password));
    };
    ftp.OnSessionConnected = [this](TCustomFtpCli*, uint16_t) { FireStep("Logging in"); };
    std::error_code sizeError;
    const uint64_t size = std::filesystem::file_size(localFile, sizeError);
    ftp.OnProgress = [this, size](TCustomFtpCli*, int count, bool&) {
        FireBytes(uint64_t(count), size);
    };
    // An operation cut short by Cancel can still look successful.
    auto run = [&cancelled](bool result) { return result && !cancelled; };
    auto fail = [this](const std::string& text) { Fail(text, trace_.Text()); };
    // Servers may echo what they were sent.
    auto said = [&] { return MaskPassword(ftp.LastResponse(), s.password); };

    FireStep("Connecting");
    bool ok = ConnectTrusting(
        ftp, [&] { return run(ftp.Connect()); },
        [this](const TSslCertProblem& p, std::string& t) { return FireUntrustedCertificate(p, t); },
        settings_.ftpCertFingerprint);
    if (!ok) fail(ConnectFailedText(said()));

    if (ok) FireStep("Changing directory");
    bool created = false;
    if (ok) {
        ok = EnterDirectory(ftp, s.destDirectory, true, cancelled, created);
        if (!ok && !cancelled) fail(DirectoryFailedText(s.destDirectory, said()));
    }

    PrepareUpload(ftp, localFile, name, s.passive);
    if (ok) ok = run(ftp.TypeSet());
    if (ok) {
        FireStep("Uploading");
        FireBytes(0, size);
        ok = run(ftp.Put());
        // Never after a refused STOR: an older picture of that name may be whole.
        if (!ok && ftp.UploadStarted()) {
            const std::string failure = said();
            FireStep("Removing the partial file");
            const std::string removal = RemovePartialFile(ftp, name);
            Fail("Cannot upload file: " + failure, trace_.Text() + removal);
            if (cancelled) NoteCancelDetails(removal);
        } else if (!ok) {
            fail("Cannot upload file: " + said());
        }
    }
    if (ok) FireStep("Closing");
    // The picture is stored once the transfer got its 226: a server that
    // drops the connection at QUIT, unanswered, has done what QUIT asks.
    if (ok)
        ok = run(ftp.Quit()) ||
             (!cancelled && !ftp.Connected() && !ftp.QuitReplied() && !ftp.TimedOut());
    // Whatever went wrong, the control connection is closed at the end.
    if (ftp.Connected()) ftp.Quit();

    if (!ok) fail("Publishing failed - check settings and network connection!");
    return Finish(ok, s.hostPrefix + name);
}

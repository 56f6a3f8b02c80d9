#include "FtpDelete.h"

#include "FtpPublisher.h"
#include "FtpSteps.h"

TFtpDelete::TFtpDelete(configRecord& settings)
    : settings_(settings), client_(CreatePublishFtpClient()) {}

TFtpDelete::~TFtpDelete() = default;

void TFtpDelete::Stop() {
    client_->Abort();
}

TDeleteResult::TOutcome TFtpDelete::Run(const THistoryEntry& e) {
    TFtpClient& ftp = *client_;
    // The server of the row; of today's settings only what the row never holds.
    configRecord server = settings_;
    server.hostName = e.Host;
    server.port = std::to_string(e.Port);
    server.userName = e.User;
    server.destDirectory = e.Directory;
    server.ftpEncryption = e.Encryption;
    trace_.Clear();
    const std::string password = settings_.password;
    ftp.OnError = [this](TCustomFtpCli*, std::string& msg) {
        Fail(FtpErrorText(msg), trace_.Text());
    };
    ApplyFtpSettings(ftp, server);

    const bool& cancelled = CancelledFlag();
    TFtpSessionScope session(ftp, cancelled);
    ftp.OnDisplay = [this, password](TCustomFtpCli*, std::string& msg) {
        trace_.Add(MaskPassword(msg, password));
    };
    ftp.OnSessionConnected = [this](TCustomFtpCli*, uint16_t) { FireStep("Logging in"); };
    auto run = [&cancelled](bool result) { return result && !cancelled; };
    auto fail = [this](const std::string& text) { Fail(text, trace_.Text()); };
    // Servers may echo what they were sent.
    auto said = [&] { return MaskPassword(ftp.LastResponse(), password); };

    FireStep("Connecting");
    bool ok = !cancelled && ConnectTrusting(
                                ftp, [&] { return run(ftp.Connect()); },
                                [this](const TSslCertProblem& p, std::string& t) {
                                    return FireUntrustedCertificate(p, t);
                                },
                                settings_.ftpCertFingerprint);
    if (!ok) fail(ConnectFailedText(said()));

    if (ok && !e.Directory.empty()) {
        FireStep("Changing directory");
        bool created = false;
        ok = EnterDirectory(ftp, e.Directory, false, cancelled, created);
        if (!ok && !cancelled) fail(DirectoryFailedText(e.Directory, said()));
    }
    bool gone = false;
    if (ok) {
        FireStep("Deleting");
        ftp.SetHostFileName(e.Name);
        ok = run(ftp.Dele());
        // 550: no such file (any more); what the user wanted is so.
        gone = !ok && !cancelled && ftp.StatusCode() == 550;
        if (gone)
            Fail(AlreadyGoneText(e.Name), trace_.Text());
        else if (!ok)
            fail("Cannot delete file: " + said());
    }
    if (ok || gone) {
        FireStep("Closing");
        run(ftp.Quit());
    }
    if (ftp.Connected()) ftp.Quit();
    if (ok) return TDeleteResult::drDeleted;
    if (gone) return TDeleteResult::drAlreadyGone;
    fail("Deleting failed - check settings and network connection!");
    return TDeleteResult::drFailed;
}

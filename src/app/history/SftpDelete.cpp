#include "SftpDelete.h"

#include "FtpPublisher.h"
#include "SftpPublisher.h"
#include "SftpSteps.h"

TSftpDelete::TSftpDelete(configRecord& settings) : settings_(settings) {}

TSftpDelete::~TSftpDelete() = default;

TDeleteResult::TOutcome TSftpDelete::Run(const THistoryEntry& e) {
    configRecord server = settings_;
    server.hostName = e.Host;
    server.port = std::to_string(e.Port);
    server.userName = e.User;
    server.destDirectory = e.Directory;
    const bool& cancelled = CancelledFlag();
    TSftpSession session;
    session.SetCancelFlag(&cancelled);
    session.SetTimeoutMs(TimeoutMs);
    TSshAnswers answers;
    answers.TrustHostKey = [this](const std::string& host, uint16_t port, const TSshHostKey& key) {
        return !CancelledFlag() && OnUnknownHostKey && OnUnknownHostKey(host, port, key);
    };
    answers.Passphrase = [this](const std::string& file, std::string& passphrase) {
        return !CancelledFlag() && OnKeyPassphrase && OnKeyPassphrase(file, passphrase);
    };
    answers.Step = [this](const std::string& step) { FireStep(step); };
    const TSshLogin login = OpenSftp(session, server, answers);
    if (!login.Ok()) {
        Fail(login.Reached == TSshLogin::slHostKey ? login.Error : ConnectFailedText(login.Error));
    } else {
        FireStep("Deleting");
        if (session.Remove(RemotePath(e.Directory, e.Name))) {
            session.Disconnect();
            return TDeleteResult::drDeleted;
        }
        if (session.NoSuchFile()) {
            Fail(AlreadyGoneText(e.Name));
            session.Disconnect();
            return TDeleteResult::drAlreadyGone;
        }
        Fail("Cannot delete file: " + session.Error());
    }
    Fail("Deleting failed - check settings and network connection!");
    return TDeleteResult::drFailed;
}

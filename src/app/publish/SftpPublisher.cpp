#include "SftpPublisher.h"

#include "FtpPublisher.h"
#include "Random.h"
#include "System.h"

namespace {

constexpr long PublicMode = 0644;
// Tidying up after a cancel must not keep the user waiting long.
constexpr unsigned TidyTimeoutMs = 5000;

} // namespace

TSftpPublisher::TSftpPublisher(configRecord& settings) : settings_(settings) {}

TSftpPublisher::~TSftpPublisher() {
    if (!exported_.empty()) platform::DeleteFileQuietly(exported_);
}

void TSftpPublisher::Stop() {
    // The wait under way sees the flag at once and gives up; the session is
    // dropped when the publish ends.
}

std::string RemotePath(const std::string& dir, const std::string& name) {
    std::string d = dir;
    while (d.size() > 1 && d.back() == '/') d.pop_back();
    if (d.empty()) return name;
    return d == "/" ? "/" + name : d + "/" + name;
}

std::string TemporaryName(const std::string& name) {
    static const char Letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    uint8_t random[6];
    platform::SystemRandomBytes(random, sizeof random);
    std::string tag;
    for (const uint8_t b : random) tag += Letters[b % 36];
    return "." + name + ".brwk-" + tag + ".part";
}

std::string TSftpPublisher::RemoveTemporary(const std::string& path, const TSshLogin& login) {
    TSftpSession tidy;
    tidy.SetTimeoutMs(TidyTimeoutMs);
    const TSshLogin again = OpenSftp(tidy, settings_, {}, &login);
    if (again.Ok() && tidy.Remove(path)) {
        tidy.Disconnect();
        return "The partial file " + path + " was removed from the server.\n";
    }
    if (again.Ok() && tidy.NoSuchFile()) return "No partial file is left on the server.\n";
    const std::string why = again.Ok() ? tidy.Error() : again.Error;
    return "The partial file " + path + " may still be on the server; removing it failed: " + why +
           "\n";
}

TPublishResult TSftpPublisher::Publish(const std::string& localFile, const std::string& name) {
    const configRecord& s = settings_;
    Begin();
    exported_ = localFile;
    const bool& cancelled = CancelledFlag();
    session_.SetCancelFlag(&cancelled);
    session_.SetTimeoutMs(TimeoutMs);
    TSshAnswers answers;
    answers.TrustHostKey = [this](const std::string& host, uint16_t port, const TSshHostKey& key) {
        return FireUnknownHostKey(host, port, key);
    };
    answers.Passphrase = [this](const std::string& file, std::string& passphrase) {
        return FireKeyPassphrase(file, passphrase);
    };
    answers.Step = [this](const std::string& step) { FireStep(step); };

    TSshLogin login = OpenSftp(session_, s, answers);
    bool ok = login.Ok() && !cancelled;
    if (!ok)
        Fail(login.Reached == TSshLogin::slHostKey ? login.Error : ConnectFailedText(login.Error));
    if (ok && login.KeyAccepted && !login.AddError.empty())
        Fail("The server's host key is trusted for now, but it could not be added to the "
             "known hosts: " +
             login.AddError);

    if (ok && !s.destDirectory.empty()) {
        FireStep("Changing directory");
        ok = session_.MakeDirectories(s.destDirectory) && !cancelled;
        if (!ok) Fail(DirectoryFailedText(s.destDirectory, session_.Error()));
    }
    const std::string final = RemotePath(s.destDirectory, name);
    const std::string temporary = RemotePath(s.destDirectory, TemporaryName(name));
    if (ok) {
        FireStep("Uploading");
        ok = session_.Upload(localFile, temporary, PublicMode,
                             [this](uint64_t sent, uint64_t total) { FireBytes(sent, total); }) &&
             !cancelled;
        if (!ok) {
            const std::string failure = session_.Error();
            session_.Abort();
            FireStep("Removing the partial file");
            const std::string removal = RemoveTemporary(temporary, login);
            Fail("Cannot upload file: " + failure, removal);
            if (cancelled) NoteCancelDetails(removal);
        } else {
            ok = session_.Rename(temporary, final) && !cancelled;
            if (!ok) {
                const std::string failure = session_.Error();
                session_.Abort();
                const std::string removal = RemoveTemporary(temporary, login);
                Fail("Cannot upload file: " + failure, removal);
                if (cancelled) NoteCancelDetails(removal);
            }
        }
    }
    if (ok) {
        FireStep("Closing");
        session_.Disconnect();
    }
    session_.Abort();
    session_.SetCancelFlag(nullptr);
    // Only for this publish: the next asks again.
    login.Passphrase.assign(login.Passphrase.size(), '\0');

    if (!ok) Fail("Publishing failed - check settings and network connection!");
    return Finish(ok, s.hostPrefix + name);
}

// The SFTP connection test: connect, check the host key, log in, create the
// destination directory, upload a probe the way a publish does, fetch it
// from its public address, delete it.
#include "ConnectionTest.h"
#include "SftpPublisher.h"
#include "SftpSteps.h"

bool TConnectionTest::RunSftp() {
    const configRecord& s = settings_;
    FireLog("Testing SFTP publishing to " + s.hostName + " as " + s.userName + ".");
    TSftpSession session;
    session.SetCancelFlag(&cancelled_);
    session.SetTimeoutMs(unsigned(TimeoutSeconds) * 1000);
    TSshAnswers answers;
    answers.TrustHostKey = [this](const std::string& host, uint16_t port, const TSshHostKey& key) {
        FireLog("The server's host key " + HostKeyText(key) + " is not in " + KnownHostsPath() +
                ".");
        return !cancelled_ && OnUnknownHostKey && OnUnknownHostKey(host, port, key);
    };
    answers.Passphrase = [this](const std::string& file, std::string& passphrase) {
        return !cancelled_ && OnKeyPassphrase && OnKeyPassphrase(file, passphrase);
    };
    FireLog("Looking up " + s.hostName + " and connecting...");
    const TSshLogin login = OpenSftp(session, s, answers);
    if (cancelled_) return false;
    if (login.Reached > TSshLogin::slConnect)
        FireLog("Connected to " + s.hostName + " (" + session.Address() + ") over SSH.");
    switch (login.Reached) {
    case TSshLogin::slConnect:
        FireLog(login.Error + ": check the server name and the port (SSH uses 22).");
        return false;
    case TSshLogin::slHostKey:
        FireLog(login.Error);
        return false;
    case TSshLogin::slLogin:
        FireLog("The server refused the login (" + login.Error +
                "): check the username and password.");
        return false;
    case TSshLogin::slSftp:
        FireLog(login.Error + ": the account may log in, but not transfer files over SFTP.");
        return false;
    case TSshLogin::slDone:
        break;
    }
    if (login.KeyAccepted)
        FireLog(login.AddError.empty()
                    ? "Added the host key to " + KnownHostsPath() + "."
                    : "The host key could not be added to the known hosts: " + login.AddError);
    else
        FireLog("The host key " + HostKeyText(login.Key) + " is the one " + KnownHostsPath() +
                " has (line " + std::to_string(login.Known.Line) + ").");
    FireLog("Logged in with " + login.Method + ".");

    const std::string& dir = s.destDirectory;
    if (!dir.empty()) {
        if (!session.MakeDirectories(dir)) {
            if (!cancelled_)
                FireLog("Cannot enter the directory \"" + dir + "\" (" + session.Error() +
                        "): check the destination directory.");
            return false;
        }
        FireLog("Entered the directory " + dir + ".");
    }

    const TLocalProbe probe;
    const std::string &name = probe.Name(), &bytes = probe.Bytes(), &path = probe.Path();
    if (!probe.Written()) {
        FireLog("Cannot write the test picture " + path + ".");
        return false;
    }
    FireLog("Uploading a test picture...");
    const std::string remote = RemotePath(dir, name);
    const std::string temporary = RemotePath(dir, TemporaryName(name));
    bool uploaded = session.Upload(path, temporary, 0644, nullptr);
    if (cancelled_) return false;
    if (uploaded) uploaded = session.Rename(temporary, remote);
    if (!uploaded) {
        FireLog("The upload failed (" + session.Error() +
                "): check that the account may write in the directory.");
        session.Remove(temporary);
        return false;
    }
    FireLog("Uploaded the test picture.");
    bool ok = FetchProbeByUrlPrefix(s.hostPrefix, name, bytes);
    if (cancelled_) {
        FireLog("The test picture may be left on the server; you may want to delete " + name +
                " yourself.");
        return false;
    }
    if (session.Remove(remote))
        FireLog("Deleted the test picture from the server.");
    else
        FireLog("Could not delete the test picture (" + session.Error() +
                "); you may want to "
                "delete " +
                name + " yourself.");
    session.Disconnect();
    return ok;
}

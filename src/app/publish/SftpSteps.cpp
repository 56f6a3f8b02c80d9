#include "SftpSteps.h"

#include "SshKeyFiles.h"

#include <charconv>
#include <cstdlib>

namespace {

std::string HostPort(const std::string& host, uint16_t port) {
    return port == 22 ? host : "[" + host + "]:" + std::to_string(port);
}

bool Login(TSftpSession& session, const configRecord& s, const TSshAnswers& answers,
           TSshLogin& login, const TSshLogin* again) {
    const std::string& user = s.userName;
    if (!s.password.empty()) {
        login.Method = "the password";
        if (session.AuthPassword(user, s.password)) return true;
        login.Error = session.Error();
        return false;
    }
    if (again) {
        if (again->KeyFile.empty()) return session.AuthAgent(user);
        return session.AuthKeyFile(user, again->KeyFile, again->Passphrase);
    }
    std::string tried;
    const char* agent = std::getenv("SSH_AUTH_SOCK");
    if (agent && *agent) {
        if (session.AuthAgent(user)) {
            login.Method = "a key of the ssh-agent";
            return true;
        }
        if (!session.Connected() || session.Error().empty()) return false;
        tried = "the ssh-agent's keys";
    }
    for (const std::string& file : DefaultKeyFiles()) {
        std::string passphrase;
        if (KeyFileEncrypted(file)) {
            if (!answers.Passphrase || !answers.Passphrase(file, passphrase)) {
                tried += (tried.empty() ? "" : ", ") + file + " (its passphrase was not given)";
                continue;
            }
        }
        if (session.AuthKeyFile(user, file, passphrase)) {
            login.Method = "the key " + file;
            login.KeyFile = file;
            login.Passphrase = passphrase;
            return true;
        }
        if (!session.Connected() || session.Error().empty()) return false;
        tried += (tried.empty() ? "" : ", ") + file +
                 (session.WrongPassphrase() ? " (the passphrase given is wrong)" : "");
    }
    login.Error =
        "No password is set, and the server did not let " + user + " in with " +
        (tried.empty() ? std::string("a key: there is no ssh-agent and no key in ~/.ssh") : tried);
    return false;
}

} // namespace

uint16_t SshPort(const configRecord& settings) {
    const std::string& text = settings.port;
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value == 0 || value > 65535)
        return 22;
    return uint16_t(value);
}

std::string HostKeyText(const TSshHostKey& key) {
    return key.Type + " " + key.Fingerprint;
}

std::string UnknownHostKeyQuestion(const std::string& host, uint16_t port, const TSshHostKey& key,
                                   const std::string& file) {
    return "The server " + HostPort(host, port) + " is not yet known: its key is not in " + file +
           ".\r\n\r\nKey type: " + key.Type + "\r\nFingerprint: " + key.Fingerprint +
           "\r\n\r\nIf this fingerprint is the one your host gives for the server (\"ssh-keygen "
           "-lf\" on its public host key shows it), answer Yes: the key is added to " +
           file + ", and a server that shows another key later is refused. Trust this key?";
}

TSshLogin OpenSftp(TSftpSession& session, const configRecord& s, const TSshAnswers& answers,
                   const TSshLogin* again) {
    TSshLogin login;
    login.Host = s.hostName;
    login.Port = SshPort(s);
    if (answers.Step) answers.Step("Connecting");
    if (!session.Connect(login.Host, login.Port)) {
        login.Error = session.Error();
        return login;
    }
    login.Reached = TSshLogin::slHostKey;
    login.Key = session.HostKey();
    const std::string file = KnownHostsPath();
    const std::string where = HostPort(login.Host, login.Port);
    if (again) {
        if (login.Key.Fingerprint != again->Key.Fingerprint) {
            login.Error = "The host key of " + where + " is not the one it showed a moment ago.";
            return login;
        }
    } else {
        login.Known = CheckKnownHost(file, login.Host, login.Port, login.Key);
        if (login.Known.Status == TKnownHostCheck::khChanged) {
            login.Error = "WARNING: the host key of " + where +
                          " has changed. It does not match "
                          "line " +
                          std::to_string(login.Known.Line) + " of " + file +
                          ". Someone may be intercepting the connection, or the server was given "
                          "a new key (" +
                          HostKeyText(login.Key) +
                          "). Nothing was sent. If its "
                          "administrator confirms the new key, remove that line and try again.";
            return login;
        }
        if (login.Known.Status == TKnownHostCheck::khUnknown) {
            if (!answers.TrustHostKey || !answers.TrustHostKey(login.Host, login.Port, login.Key) ||
                !session.Connected()) {
                login.Error = "The host key of " + where + " (" + HostKeyText(login.Key) +
                              ") is not in " + file + " and was not accepted. Nothing was sent.";
                return login;
            }
            login.KeyAccepted = true;
            login.AddError = AddKnownHost(file, login.Host, login.Port, login.Key);
        }
    }
    login.Reached = TSshLogin::slLogin;
    if (answers.Step) answers.Step("Logging in");
    if (!Login(session, s, answers, login, again)) {
        if (login.Error.empty()) login.Error = session.Error();
        return login;
    }
    login.Reached = TSshLogin::slSftp;
    if (!session.StartSftp()) {
        login.Error = session.Error();
        return login;
    }
    login.Reached = TSshLogin::slDone;
    return login;
}

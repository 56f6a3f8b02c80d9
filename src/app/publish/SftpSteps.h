// The SSH steps shared by the SFTP publisher, its connection test and the
// delete from the history: the settings' server connected, its host key
// checked against known_hosts (an unknown key offered to the user, a changed
// one refused), the login (password when set; else the ssh-agent, then the
// default key files), and the SFTP channel.
#pragma once

#include "KnownHosts.h"
#include "SftpSession.h"
#include "configUnit.h"

#include <functional>
#include <string>

struct TSshAnswers {
    // An unknown host key: true when the user trusts it from now on.
    std::function<bool(const std::string& host, uint16_t port, const TSshHostKey& key)>
        TrustHostKey;
    // An encrypted key file: true with its passphrase.
    std::function<bool(const std::string& keyFile, std::string& passphrase)> Passphrase;
    // "Connecting", "Logging in"
    std::function<void(const std::string& step)> Step;
};

struct TSshLogin {
    enum TReached { slConnect, slHostKey, slLogin, slSftp, slDone };
    // The step that failed, or slDone.
    TReached Reached = slConnect;
    // Why it failed, for the user.
    std::string Error;
    std::string Host;
    uint16_t Port = 22;
    TSshHostKey Key;
    TKnownHostCheck Known;
    // An unknown key the user accepted: added to known_hosts, or why not.
    bool KeyAccepted = false;
    std::string AddError;
    // How the login went ("the password", "a key of the ssh-agent", a key
    // file), and what a second login the same way needs.
    std::string Method;
    std::string KeyFile;
    std::string Passphrase;

    bool Ok() const { return Reached == slDone; }
};

// The settings' port, 22 where it is empty or not a port.
uint16_t SshPort(const configRecord& settings);

// Opens session to the settings' server as far as it goes. With again (a
// login that worked before, in this run) nobody is asked anything: the same
// host key and the same way of logging in.
TSshLogin OpenSftp(TSftpSession& session, const configRecord& settings, const TSshAnswers& answers,
                   const TSshLogin* again = nullptr);

std::string HostKeyText(const TSshHostKey& key);
// The question about a key known_hosts does not have.
std::string UnknownHostKeyQuestion(const std::string& host, uint16_t port, const TSshHostKey& key,
                                   const std::string& file);

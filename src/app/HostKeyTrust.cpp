#include "HostKeyTrust.h"

#include "Dialogs.h"
#include "KnownHosts.h"
#include "SftpSteps.h"

bool AskHostKeyTrust(const std::string& host, uint16_t port, const TSshHostKey& key) {
    return platform::dialogs().Confirm(UnknownHostKeyQuestion(host, port, key, KnownHostsPath()));
}

bool AskKeyPassphrase(const std::string& keyFile, std::string& passphrase) {
    return platform::dialogs().SecretQuery("SSH key", "Passphrase for " + keyFile, passphrase);
}

// Asking the user about an SSH server's host key that known_hosts does not
// have yet, and for the passphrase of a key file. A changed key is never
// asked about: it is refused.
#pragma once

#include "SftpSession.h"

#include <string>

// Shows the key's type and SHA256 fingerprint and asks; true when the user
// trusts it (the caller then adds it to known_hosts).
bool AskHostKeyTrust(const std::string& host, uint16_t port, const TSshHostKey& key);
// Asks for the passphrase of keyFile; it is used for this login only and
// never stored.
bool AskKeyPassphrase(const std::string& keyFile, std::string& passphrase);

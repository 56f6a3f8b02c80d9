// The user's default SSH key files, and whether one needs its passphrase.
#pragma once

#include <string>
#include <vector>

// ~/.ssh/id_ed25519, id_ecdsa and id_rsa, those that exist, in that order.
std::vector<std::string> DefaultKeyFiles();
// The private key in file is encrypted (OpenSSH's own format with a cipher,
// or PEM marked ENCRYPTED).
bool KeyFileEncrypted(const std::string& file);

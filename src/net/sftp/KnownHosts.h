// The user's ~/.ssh/known_hosts, read and written the way OpenSSH does:
// hashed and plain entries, "[host]:port" for ports other than 22.
#pragma once

#include "SftpSession.h"

#include <string>

std::string Base64NoPadding(const std::string& bytes);
// Empty when text is not base64.
std::string Base64Decode(const std::string& text);
// "SHA256:" and the key blob's hash, as ssh shows it.
std::string KeyFingerprint(const std::string& blob);
// The key type a key blob names ("ssh-ed25519", ...); empty if it names none.
std::string HostKeyTypeName(const std::string& blob);

// ~/.ssh (HOME, else the password database's home).
std::string SshDirectory();
std::string KnownHostsPath();

struct TKnownHostCheck {
    enum TStatus { khKnown, khUnknown, khChanged };
    TStatus Status = khUnknown;
    // For a changed key: the entry that no longer matches, from 1.
    int Line = 0;
};

// Looks for host:port with key in file; a file that is not there knows nobody.
// A revoked entry for the key counts as a changed key.
TKnownHostCheck CheckKnownHost(const std::string& file, const std::string& host, uint16_t port,
                               const TSshHostKey& key);

// The line known_hosts gets for the key, unhashed, without the line end.
std::string KnownHostLine(const std::string& host, uint16_t port, const TSshHostKey& key);

// Appends the key's line: the old content and the new line go to a new file
// beside it, which is then renamed over it (its mode kept; a new file gets
// 0600, a new ~/.ssh 0700). Empty, or why it failed.
std::string AddKnownHost(const std::string& file, const std::string& host, uint16_t port,
                         const TSshHostKey& key);

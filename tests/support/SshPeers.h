// A real OpenSSH server on 127.0.0.1 for the SFTP tests and benchmark: sshd
// as root on a free port with its own host key and configuration, logged
// into as a throwaway system user (password, or keys put in its
// authorized_keys); and an ssh-agent holding keys for a test.
//
//   SshServer server;                 // needs root and openssh-server
//   if (!server.Running()) GTEST_SKIP() << server.Error();
//   ... log in as User() / Password() at Host():Port(); Root() is the
//   user's home, where relative SFTP paths start.
#pragma once

#include "FtpPeers.h"

#include <string>
#include <sys/types.h>

class SshServer : public FtpPeer {
public:
    enum class HostKey { Ed25519, Rsa };
    static bool Available();
    // The server offers only the host key's own algorithm: ssh-ed25519, or
    // rsa-sha2-256 for the RSA key.
    explicit SshServer(HostKey key = HostKey::Ed25519);
    ~SshServer() override;

    // As "ssh-keygen -lf" prints them for the host key.
    std::string KeyType() const;
    std::string Fingerprint() const;
    // The known_hosts line for the current host key.
    std::string KnownHostsLine() const;
    // The SFTP server's record of the requests it served ("open ...",
    // "posix-rename old ... new ...", "remove name ..."), a line each.
    std::string SftpLog() const;
    static constexpr const char* SftpLogName = ".sftp-server.log";
    // A new host key, and the server restarted with it.
    bool ChangeHostKey();
    // The public key in publicKeyFile may log in as User().
    bool Authorize(const std::string& publicKeyFile);
    // Every session of the user ends at once, as if the server went away;
    // the listener stays.
    void KillSessions();
    // Sends signal to every process of the user's sessions (SIGSTOP freezes
    // the server mid-transfer, SIGCONT thaws it); false when there is none.
    bool SignalSessions(int signal);

private:
    bool MakeHostKey();
    bool Launch();
    HostKey KeyKind;
};

// "ssh-keygen -t type -N passphrase -f path": path and path.pub.
bool MakeKeyPair(const std::string& path, const std::string& type,
                 const std::string& passphrase = {});

// ssh-agent in the foreground on a socket in dir, stopped with the object.
class SshAgent {
public:
    explicit SshAgent(const std::string& dir);
    ~SshAgent();
    SshAgent(const SshAgent&) = delete;
    SshAgent& operator=(const SshAgent&) = delete;

    bool Running() const { return Pid > 0; }
    const std::string& Socket() const { return SocketPath; }
    // ssh-add of the private key file.
    bool Add(const std::string& keyFile);

private:
    void Stop();
    std::string SocketPath;
    pid_t Pid = -1;
};

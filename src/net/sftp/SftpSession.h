// One SSH connection with its SFTP channel, over libssh. The socket is
// connected here on the event loop's thread (the platform's cancellable
// lookup and connect); libssh then runs on the session's own worker thread,
// which owns everything of libssh's. Each call below waits on the event loop
// (other events run meanwhile) for its job on the worker, until the time-out
// or the owner's cancel flag; either shuts the socket down, which ends the
// worker's blocking call at once, and the connection with it.
#pragma once

#include "Messages.h"
#include "Sockets.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TSshWorker;
struct TSshState;

// The server's host key as ssh shows it.
struct TSshHostKey {
    // "ssh-ed25519", "ssh-rsa", "ecdsa-sha2-nistp256", ...
    std::string Type;
    // "SHA256:" and the unpadded base64 of the key's SHA-256 hash.
    std::string Fingerprint;
    // The key blob, as known_hosts holds it in base64.
    std::string Blob;
};

class TSftpSession {
public:
    TSftpSession();
    ~TSftpSession();
    TSftpSession(const TSftpSession&) = delete;
    TSftpSession& operator=(const TSftpSession&) = delete;

    // Checked at every wake-up; a set flag ends the call under way with false.
    void SetCancelFlag(const bool* cancelled) { cancelled_ = cancelled; }
    // The longest wait for the server between two steps of progress.
    void SetTimeoutMs(unsigned ms) { timeoutMs_ = ms; }

    // Looks the host up, connects and does the SSH handshake.
    bool Connect(const std::string& host, uint16_t port);
    // "127.0.0.1", once connected.
    const std::string& Address() const { return address_; }
    const TSshHostKey& HostKey() const { return hostKey_; }

    bool AuthPassword(const std::string& user, const std::string& password);
    // Every identity the agent at SSH_AUTH_SOCK holds; false without an agent.
    bool AuthAgent(const std::string& user);
    bool AuthKeyFile(const std::string& user, const std::string& privateKey,
                     const std::string& passphrase);
    // Opens the SFTP channel; after a successful login.
    bool StartSftp();

    // Creates dir and its missing parents; true when it is a directory now.
    bool MakeDirectories(const std::string& dir);
    // Writes local's bytes to remote (created, or truncated) with mode, and
    // reports the bytes the server has acknowledged.
    bool Upload(const std::string& local, const std::string& remote, long mode,
                const std::function<void(uint64_t sent, uint64_t total)>& progress);
    // Renames over an existing target: by the server's atomic rename where it
    // offers one (posix-rename@openssh.com), else by removing the target first.
    bool Rename(const std::string& from, const std::string& to);
    bool Remove(const std::string& path);
    // The file's size; false when it is not there.
    bool Size(const std::string& path, uint64_t& size);

    // An orderly goodbye (briefly), then the connection closed.
    void Disconnect();
    // Drops the connection at once (from an event inside a call's wait, it
    // cuts it, and the call fails; it is freed at the next Abort).
    void Abort();
    bool Connected() const;
    // Why the last call failed, in words; empty after a cancel.
    const std::string& Error() const { return error_; }
    // The SFTP server refused a request as "no such file".
    bool NoSuchFile() const { return noSuchFile_; }
    // The last key file did not open with the passphrase given.
    bool WrongPassphrase() const { return wrongPassphrase_; }

private:
    // Runs job on the worker; false (with the error set) when it was cut
    // short. A cut leaves the connection dropped.
    bool RunJob(const std::string& what, const std::function<void()>& job,
                const std::function<void(uint64_t)>& onProgress = nullptr);
    bool Stopped() const { return cancelled_ && *cancelled_; }
    // The call's failure in words; nothing after a cancel.
    bool SetError(const std::string& text);
    // The same for a failure of the session: why it failed is added.
    bool SessionError(const std::string& what);
    // what failed: the SFTP server's status, or why the connection ended.
    bool SftpError(const std::string& what, const std::string& path);
    bool OpenSocket(uint32_t address, uint16_t port);
    bool WaitFor(const bool& flag);

    const bool* cancelled_ = nullptr;
    unsigned timeoutMs_ = 15000;
    platform::WindowId window_ = 0;
    platform::SocketHandle socket_ = platform::INVALID_SOCKET;
    // Touched by jobs only, but for the notes read after a job.
    std::unique_ptr<TSshState> state_;
    std::unique_ptr<TSshWorker> worker_;
    std::string address_;
    TSshHostKey hostKey_;
    std::string error_;
    bool noSuchFile_ = false;
    bool wrongPassphrase_ = false;
    // The socket was shut down under a job (cancel, time-out).
    bool cut_ = false;
    bool timedOut_ = false;
    // A call waits for its job (other events run meanwhile).
    bool inJob_ = false;
    bool lookupDone_ = false;
    int lookupError_ = 0;
};

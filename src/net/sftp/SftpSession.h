// One SSH connection with its SFTP channel, driven by libssh2 in non-blocking
// mode on the event loop: every call that would block waits for the socket
// readiness libssh2 asks for, while other events run, until the time-out,
// or until the owner's cancel flag is set. No threads.
#pragma once

#include "Messages.h"
#include "Sockets.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct _LIBSSH2_SESSION;
struct _LIBSSH2_SFTP;

// The server's host key as ssh shows it.
struct TSshHostKey {
    // "ssh-ed25519", "ssh-rsa", "ecdsa-sha2-nistp256", ...
    std::string Type;
    // "SHA256:" and the unpadded base64 of the key's SHA-256 hash.
    std::string Fingerprint;
    // The key blob, and libssh2's type number for it.
    std::string Blob;
    int LibType = 0;
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
    TSshHostKey HostKey() const;
    _LIBSSH2_SESSION* Handle() const { return session_; }

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
    // Renames over an existing target: the server's own rename where it
    // allows that, else by removing the target first.
    bool Rename(const std::string& from, const std::string& to);
    bool Remove(const std::string& path);
    // The file's size; false when it is not there.
    bool Size(const std::string& path, uint64_t& size);

    // An orderly goodbye (briefly), then the connection closed.
    void Disconnect();
    // Drops the connection at once.
    void Abort();
    bool Connected() const { return socket_ != platform::INVALID_SOCKET; }
    // Why the last call failed, in words; empty after a cancel.
    const std::string& Error() const { return error_; }
    // The SFTP server refused a request as "no such file".
    bool NoSuchFile() const { return noSuchFile_; }

private:
    // Runs call until it stops asking to wait; its last result.
    long Retry(const std::function<long()>& call);
    // Waits for what libssh2 blocks on; false on time-out, close or cancel.
    bool WaitSocket();
    bool Stopped() const { return cancelled_ && *cancelled_; }
    bool SetError(const std::string& what);
    bool SftpError(const std::string& what, const std::string& path);
    bool OpenSocket(uint32_t address, uint16_t port);
    bool WaitFor(const bool& flag);

    const bool* cancelled_ = nullptr;
    unsigned timeoutMs_ = 15000;
    platform::WindowId window_ = 0;
    platform::SocketHandle socket_ = platform::INVALID_SOCKET;
    _LIBSSH2_SESSION* session_ = nullptr;
    _LIBSSH2_SFTP* sftp_ = nullptr;
    // A file an upload left open when it was cut short.
    struct _LIBSSH2_SFTP_HANDLE* open_ = nullptr;
    std::string address_;
    std::string error_;
    bool noSuchFile_ = false;
    // Notices since the last wait began.
    bool woken_ = false;
    bool peerClosed_ = false;
    bool lookupDone_ = false;
    int lookupError_ = 0;
};

#include "SftpSession.h"

#include "KnownHosts.h"
#include "SshKeyFiles.h"

#include <libssh2.h>
#include <libssh2_sftp.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>
#include <vector>

namespace {

constexpr unsigned MsgSocket = platform::WM_USER + 1;
constexpr unsigned MsgLookup = platform::WM_USER + 2;
// Bytes handed to one write; libssh2 splits them into packets and keeps
// several in flight, which is what makes SFTP fast on a long line.
constexpr size_t WriteChunk = size_t(1) << 20;

void InitLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { libssh2_init(0); });
}

uint64_t NowMs() {
    using namespace std::chrono;
    return uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::string SftpStatusText(unsigned long code) {
    switch (code) {
    case LIBSSH2_FX_NO_SUCH_FILE:
        return "No such file";
    case LIBSSH2_FX_PERMISSION_DENIED:
        return "Permission denied";
    case LIBSSH2_FX_FAILURE:
        return "Failure";
    case LIBSSH2_FX_FILE_ALREADY_EXISTS:
        return "File already exists";
    case LIBSSH2_FX_NO_SPACE_ON_FILESYSTEM:
        return "No space on the file system";
    case LIBSSH2_FX_QUOTA_EXCEEDED:
        return "Quota exceeded";
    case LIBSSH2_FX_WRITE_PROTECT:
        return "Write protected";
    case LIBSSH2_FX_NO_MEDIA:
        return "No media";
    case LIBSSH2_FX_NO_SUCH_PATH:
        return "No such path";
    case LIBSSH2_FX_NOT_A_DIRECTORY:
        return "Not a directory";
    case LIBSSH2_FX_OP_UNSUPPORTED:
        return "Operation unsupported";
    default:
        return "SFTP error " + std::to_string(code);
    }
}

} // namespace

TSftpSession::TSftpSession() {
    InitLibrary();
    window_ = platform::createMessageWindow([this](unsigned msg, uintptr_t, intptr_t lParam) {
        if (msg == MsgSocket) {
            woken_ = true;
            if (lParam & platform::FD_CLOSE) peerClosed_ = true;
        } else if (msg == MsgLookup) {
            lookupDone_ = true;
            lookupError_ = int(uint64_t(lParam) >> 16);
            woken_ = true;
        }
        return intptr_t(0);
    });
}

TSftpSession::~TSftpSession() {
    Abort();
    platform::destroyMessageWindow(window_);
}

bool TSftpSession::SetError(const std::string& what) {
    error_.clear();
    if (Stopped()) return false;
    error_ = what;
    if (session_) {
        char* text = nullptr;
        const int code = libssh2_session_last_error(session_, &text, nullptr, 0);
        if (code == LIBSSH2_ERROR_TIMEOUT || (code == LIBSSH2_ERROR_EAGAIN && !peerClosed_))
            error_ += ": no answer for " + std::to_string(timeoutMs_ / 1000) + " seconds";
        else if (peerClosed_ || code == LIBSSH2_ERROR_SOCKET_DISCONNECT ||
                 code == LIBSSH2_ERROR_SOCKET_RECV || code == LIBSSH2_ERROR_SOCKET_SEND)
            error_ += ": the server closed the connection";
        else if (text && *text)
            error_ += std::string(": ") + text;
    }
    return false;
}

bool TSftpSession::SftpError(const std::string& what, const std::string& path) {
    noSuchFile_ = false;
    if (sftp_ && libssh2_session_last_errno(session_) == LIBSSH2_ERROR_SFTP_PROTOCOL) {
        const unsigned long code = libssh2_sftp_last_error(sftp_);
        noSuchFile_ = code == LIBSSH2_FX_NO_SUCH_FILE;
        error_.clear();
        if (!Stopped()) error_ = what + " " + path + ": " + SftpStatusText(code);
        return false;
    }
    return SetError(what + " " + path);
}

bool TSftpSession::WaitFor(const bool& flag) {
    const uint64_t end = NowMs() + timeoutMs_;
    while (!flag && !Stopped()) {
        const uint64_t now = NowMs();
        if (now >= end || platform::applicationTerminating()) return false;
        platform::waitForMessages(unsigned(end - now));
    }
    return flag && !Stopped();
}

bool TSftpSession::WaitSocket() {
    // A closed connection gives no more notices: libssh2 learns it from
    // the next read, which is now.
    if (peerClosed_) return !Stopped();
    const int directions = libssh2_session_block_directions(session_);
    long mask = platform::FD_CLOSE;
    if (directions & LIBSSH2_SESSION_BLOCK_INBOUND) mask |= platform::FD_READ;
    if (directions & LIBSSH2_SESSION_BLOCK_OUTBOUND) mask |= platform::FD_WRITE;
    woken_ = false;
    // Selecting again reports what is already true, so no readiness is missed.
    platform::asyncSelect(socket_, window_, MsgSocket, mask);
    const bool ok = WaitFor(woken_);
    if (Connected()) platform::asyncSelect(socket_, window_, MsgSocket, 0);
    return ok;
}

long TSftpSession::Retry(const std::function<long()>& call) {
    for (;;) {
        if (Stopped()) return LIBSSH2_ERROR_EAGAIN;
        const long rc = call();
        if (rc != LIBSSH2_ERROR_EAGAIN) return rc;
        const bool closedBefore = peerClosed_;
        if (!WaitSocket() || (closedBefore && peerClosed_)) {
            // Still blocked after the close: nothing more will come.
            if (closedBefore) peerClosed_ = true;
            return LIBSSH2_ERROR_EAGAIN;
        }
    }
}

bool TSftpSession::OpenSocket(uint32_t address, uint16_t port) {
    socket_ = platform::openSocket(platform::AF_INET_FAMILY, platform::SOCK_STREAM_TYPE, 0);
    if (socket_ == platform::INVALID_SOCKET) return SetError("Cannot open a socket");
    platform::setOption(socket_, platform::SocketOption::TcpNoDelay, 1);
    platform::SockAddrIn to;
    to.addr = address;
    to.port = platform::hostToNet16(port);
    woken_ = false;
    platform::asyncSelect(socket_, window_, MsgSocket, platform::FD_CONNECT);
    int error = 0;
    if (platform::connectSocket(socket_, to) != 0) {
        error = platform::lastError();
        if (error == platform::WSAEWOULDBLOCK) {
            error = 0;
            // The connect notice carries the connect's result.
            bool done = false;
            int result = 0;
            const platform::WindowId waiter =
                platform::createMessageWindow([&](unsigned, uintptr_t, intptr_t l) {
                    if (l & platform::FD_CONNECT) {
                        done = true;
                        result = int(uint64_t(l) >> 16);
                    }
                    return intptr_t(0);
                });
            platform::asyncSelect(socket_, waiter, MsgSocket, platform::FD_CONNECT);
            const bool finished = WaitFor(done);
            platform::asyncSelect(socket_, window_, MsgSocket, 0);
            platform::destroyMessageWindow(waiter);
            if (!finished) {
                if (Stopped()) return SetError("");
                return SetError("Cannot connect to " + address_ + ": no answer for " +
                                std::to_string(timeoutMs_ / 1000) + " seconds");
            }
            error = result;
        }
    }
    platform::asyncSelect(socket_, window_, MsgSocket, 0);
    if (error) {
        const char* text = platform::winsockText(error);
        return SetError("Cannot connect to " + address_ + ": " +
                        (text ? text : "error " + std::to_string(error)));
    }
    return true;
}

bool TSftpSession::Connect(const std::string& host, uint16_t port) {
    Abort();
    error_.clear();
    peerClosed_ = false;
    uint32_t address = platform::textToAddress(host);
    if (address == 0xFFFFFFFFu) {
        auto record = std::make_shared<platform::HostRecord>();
        lookupDone_ = false;
        const platform::LookupHandle lookup =
            platform::asyncHostByName(window_, MsgLookup, host, record);
        if (!lookup) return SetError("Cannot look up " + host);
        if (!WaitFor(lookupDone_)) {
            platform::cancelLookup(lookup);
            return SetError(Stopped() ? "" : "Cannot look up " + host + ": no answer");
        }
        if (lookupError_ || record->addresses.empty()) {
            const char* text = platform::winsockText(lookupError_);
            return SetError("Cannot find the server " + host +
                            (text ? std::string(" (") + text + ")" : std::string()));
        }
        address = record->addresses.front();
    }
    address_ = platform::addressToText(address);
    if (!OpenSocket(address, port)) {
        Abort();
        return false;
    }
    session_ = libssh2_session_init();
    if (!session_) return SetError("Cannot start an SSH session");
    libssh2_session_set_blocking(session_, 0);
    const int fd = int(socket_);
    if (Retry([&] { return long(libssh2_session_handshake(session_, fd)); }) != 0) {
        SetError("The SSH handshake with " + host + " failed");
        // Servers that sign with RSA keys only by SHA-2 are common today.
        if (!error_.empty() && libssh2_session_last_errno(session_) == LIBSSH2_ERROR_KEX_FAILURE &&
            !libssh2_version(0x010b00))
            error_ += std::string(" (this system's SSH library, libssh2 ") + libssh2_version(0) +
                      ", knows no rsa-sha2-256 or rsa-sha2-512 host keys: the server may "
                      "offer only those)";
        Abort();
        return false;
    }
    return true;
}

TSshHostKey TSftpSession::HostKey() const {
    TSshHostKey key;
    if (!session_) return key;
    size_t length = 0;
    int type = 0;
    const char* blob = libssh2_session_hostkey(session_, &length, &type);
    if (!blob) return key;
    key.Blob.assign(blob, length);
    key.LibType = type;
    key.Type = HostKeyTypeName(key.Blob);
    const char* hash = libssh2_hostkey_hash(session_, LIBSSH2_HOSTKEY_HASH_SHA256);
    if (hash) key.Fingerprint = "SHA256:" + Base64NoPadding(std::string(hash, 32));
    return key;
}

bool TSftpSession::AuthPassword(const std::string& user, const std::string& password) {
    const long rc = Retry([&] {
        return long(libssh2_userauth_password_ex(session_, user.data(), unsigned(user.size()),
                                                 password.data(), unsigned(password.size()),
                                                 nullptr));
    });
    if (rc == 0) return true;
    if (rc == LIBSSH2_ERROR_AUTHENTICATION_FAILED || rc == LIBSSH2_ERROR_PASSWORD_EXPIRED) {
        error_ = Stopped() ? "" : "The server refused the password of " + user;
        return false;
    }
    return SetError("Logging in as " + user + " failed");
}

bool TSftpSession::AuthAgent(const std::string& user) {
    const char* sock = std::getenv("SSH_AUTH_SOCK");
    if (!sock || !*sock) return SetError("No ssh-agent is running");
    LIBSSH2_AGENT* agent = libssh2_agent_init(session_);
    if (!agent) return SetError("Cannot reach the ssh-agent");
    bool ok = false;
    // The agent is a local socket: its calls block briefly, the server's do not.
    if (libssh2_agent_connect(agent) == 0 && libssh2_agent_list_identities(agent) == 0) {
        libssh2_agent_publickey* identity = nullptr;
        libssh2_agent_publickey* previous = nullptr;
        while (!ok && !Stopped() && libssh2_agent_get_identity(agent, &identity, previous) == 0) {
            const long rc =
                Retry([&] { return long(libssh2_agent_userauth(agent, user.c_str(), identity)); });
            ok = rc == 0;
            previous = identity;
            if (rc != 0 && rc != LIBSSH2_ERROR_AUTHENTICATION_FAILED &&
                rc != LIBSSH2_ERROR_PUBLICKEY_UNVERIFIED && rc != LIBSSH2_ERROR_AGENT_PROTOCOL)
                break;
        }
        libssh2_agent_disconnect(agent);
    }
    libssh2_agent_free(agent);
    if (!ok) error_ = Stopped() ? "" : "The server accepted none of the ssh-agent's keys";
    return ok;
}

bool TSftpSession::AuthKeyFile(const std::string& user, const std::string& privateKey,
                               const std::string& passphrase) {
    const long rc = Retry([&] {
        return long(libssh2_userauth_publickey_fromfile_ex(session_, user.data(),
                                                           unsigned(user.size()), nullptr,
                                                           privateKey.c_str(), passphrase.c_str()));
    });
    if (rc == 0) return true;
    error_ = Stopped() ? "" : "The server did not accept the key " + privateKey;
    return false;
}

bool TSftpSession::StartSftp() {
    for (;;) {
        sftp_ = libssh2_sftp_init(session_);
        if (sftp_) return true;
        if (libssh2_session_last_errno(session_) != LIBSSH2_ERROR_EAGAIN || !WaitSocket())
            return SetError("The server offers no SFTP");
    }
}

bool TSftpSession::Size(const std::string& path, uint64_t& size) {
    LIBSSH2_SFTP_ATTRIBUTES attrs{};
    const long rc = Retry([&] {
        return long(libssh2_sftp_stat_ex(sftp_, path.data(), unsigned(path.size()),
                                         LIBSSH2_SFTP_STAT, &attrs));
    });
    if (rc != 0) return SftpError("Cannot read the attributes of", path);
    size = attrs.filesize;
    return true;
}

bool TSftpSession::MakeDirectories(const std::string& dir) {
    std::string path;
    size_t at = 0;
    if (!dir.empty() && dir[0] == '/') path = "/", at = 1;
    while (at <= dir.size()) {
        size_t slash = dir.find('/', at);
        if (slash == std::string::npos) slash = dir.size();
        const std::string part = dir.substr(at, slash - at);
        at = slash + 1;
        if (part.empty() || part == ".") continue;
        path += (path.empty() || path.back() == '/' ? "" : "/") + part;
        LIBSSH2_SFTP_ATTRIBUTES attrs{};
        long rc = Retry([&] {
            return long(libssh2_sftp_stat_ex(sftp_, path.data(), unsigned(path.size()),
                                             LIBSSH2_SFTP_STAT, &attrs));
        });
        if (rc == 0) {
            if (LIBSSH2_SFTP_S_ISDIR(attrs.permissions)) continue;
            error_ = path + " is not a directory";
            return false;
        }
        if (Stopped()) return SetError("");
        rc = Retry([&] {
            return long(libssh2_sftp_mkdir_ex(sftp_, path.data(), unsigned(path.size()), 0755));
        });
        if (rc != 0) return SftpError("Cannot create the directory", path);
    }
    return true;
}

bool TSftpSession::Upload(const std::string& local, const std::string& remote, long mode,
                          const std::function<void(uint64_t, uint64_t)>& progress) {
    const int fd = ::open(local.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return SetError("Cannot open " + local + ": " + std::strerror(errno));
    const off_t end = lseek(fd, 0, SEEK_END);
    lseek(fd, 0, SEEK_SET);
    const uint64_t total = end < 0 ? 0 : uint64_t(end);
    LIBSSH2_SFTP_HANDLE* handle = nullptr;
    for (;;) {
        handle = libssh2_sftp_open_ex(sftp_, remote.data(), unsigned(remote.size()),
                                      LIBSSH2_FXF_WRITE | LIBSSH2_FXF_CREAT | LIBSSH2_FXF_TRUNC,
                                      mode, LIBSSH2_SFTP_OPENFILE);
        if (handle || libssh2_session_last_errno(session_) != LIBSSH2_ERROR_EAGAIN || !WaitSocket())
            break;
    }
    if (!handle) {
        ::close(fd);
        return SftpError("Cannot create", remote);
    }
    open_ = handle;
    bool ok = true;
    std::vector<char> buffer(WriteChunk);
    uint64_t sent = 0;
    if (progress) progress(0, total);
    while (ok) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            ok = SetError("Cannot read " + local + ": " + std::strerror(errno));
            break;
        }
        if (got == 0) break;
        size_t done = 0;
        while (ok && done < size_t(got)) {
            const long rc = Retry([&] {
                return long(libssh2_sftp_write(handle, buffer.data() + done, size_t(got) - done));
            });
            if (rc < 0) {
                ok = SftpError("Cannot write", remote);
                break;
            }
            done += size_t(rc);
            sent += uint64_t(rc);
            if (progress) progress(sent, total);
        }
    }
    ::close(fd);
    if (ok) {
        // Servers apply the umask to the mode given at open: set it outright.
        LIBSSH2_SFTP_ATTRIBUTES attrs{};
        attrs.flags = LIBSSH2_SFTP_ATTR_PERMISSIONS;
        attrs.permissions = static_cast<unsigned long>(mode);
        if (Retry([&] { return long(libssh2_sftp_fstat_ex(handle, &attrs, 1)); }) != 0)
            ok = SftpError("Cannot set the mode of", remote);
    }
    if (!ok && !Connected()) return false;
    // The close answers whether the server stored everything.
    const long closed = Retry([&] { return long(libssh2_sftp_close_handle(handle)); });
    if (closed != LIBSSH2_ERROR_EAGAIN) open_ = nullptr;
    if (ok && closed != 0) ok = SftpError("Cannot finish", remote);
    return ok;
}

bool TSftpSession::Rename(const std::string& from, const std::string& to) {
    const long flags =
        LIBSSH2_SFTP_RENAME_OVERWRITE | LIBSSH2_SFTP_RENAME_ATOMIC | LIBSSH2_SFTP_RENAME_NATIVE;
    auto rename = [&] {
        return Retry([&] {
            return long(libssh2_sftp_rename_ex(sftp_, from.data(), unsigned(from.size()), to.data(),
                                               unsigned(to.size()), flags));
        });
    };
    if (rename() == 0) return true;
    SftpError("Cannot rename " + from + " to", to);
    if (Stopped()) return false;
    const std::string refused = error_;
    // Version 3 of the protocol, which OpenSSH speaks, does not rename over
    // an existing file: the older picture of that name goes first.
    uint64_t size = 0;
    if (!Size(to, size)) {
        error_ = refused;
        return false;
    }
    if (!Remove(to)) return false;
    if (rename() == 0) return true;
    return SftpError("Cannot rename " + from + " to", to);
}

bool TSftpSession::Remove(const std::string& path) {
    const long rc = Retry(
        [&] { return long(libssh2_sftp_unlink_ex(sftp_, path.data(), unsigned(path.size()))); });
    if (rc == 0) return true;
    return SftpError("Cannot remove", path);
}

void TSftpSession::Disconnect() {
    if (!session_) return Abort();
    if (sftp_) {
        const unsigned saved = timeoutMs_;
        timeoutMs_ = 2000;
        Retry([&] { return long(libssh2_sftp_shutdown(sftp_)); });
        sftp_ = nullptr;
        Retry([&] {
            return long(
                libssh2_session_disconnect_ex(session_, SSH_DISCONNECT_BY_APPLICATION, "Done", ""));
        });
        timeoutMs_ = saved;
    }
    Abort();
}

void TSftpSession::Abort() {
    if (session_) {
        // The socket goes first: libssh2 then frees without talking to it.
        if (socket_ != platform::INVALID_SOCKET) {
            platform::closeSocket(socket_);
            socket_ = platform::INVALID_SOCKET;
        }
        // Its close cannot reach the server any more, which frees it.
        if (open_) libssh2_sftp_close_handle(open_);
        open_ = nullptr;
        if (sftp_) libssh2_sftp_shutdown(sftp_);
        sftp_ = nullptr;
        libssh2_session_free(session_);
        session_ = nullptr;
    }
    if (socket_ != platform::INVALID_SOCKET) {
        platform::closeSocket(socket_);
        socket_ = platform::INVALID_SOCKET;
    }
}

#include "SftpSession.h"

#include "KnownHosts.h"
#include "SshState.h"
#include "SshWorker.h"

#include <chrono>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr unsigned MsgSocket = platform::WM_USER + 1;
constexpr unsigned MsgLookup = platform::WM_USER + 2;
// libssh's own limit on a blocking wait only backs ours up.
constexpr long LibraryTimeoutMarginS = 30;
constexpr unsigned GoodbyeTimeoutMs = 2000;

uint64_t NowMs() {
    using namespace std::chrono;
    return uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace

TSftpSession::TSftpSession() : state_(std::make_unique<TSshState>()) {
    window_ = platform::createMessageWindow([this](unsigned msg, uintptr_t, intptr_t lParam) {
        if (msg == MsgLookup) {
            lookupDone_ = true;
            lookupError_ = int(uint64_t(lParam) >> 16);
        }
        return intptr_t(0);
    });
}

TSftpSession::~TSftpSession() {
    inJob_ = false;
    Abort();
    platform::destroyMessageWindow(window_);
}

bool TSftpSession::Connected() const {
    return worker_ && !cut_ && state_->Alive;
}

bool TSftpSession::SetError(const std::string& text) {
    error_.clear();
    if (!Stopped()) error_ = text;
    return false;
}

bool TSftpSession::SessionError(const std::string& what) {
    error_.clear();
    if (Stopped()) return false;
    error_ = what;
    if (timedOut_)
        error_ += ": no answer for " + std::to_string(timeoutMs_ / 1000) + " seconds";
    else if (!state_->SshError.empty())
        error_ += ": " + state_->SshError;
    else if (!cut_ && !state_->Alive)
        error_ += ": the server closed the connection";
    return false;
}

bool TSftpSession::RunJob(const std::string& what, const std::function<void()>& job,
                          const std::function<void(uint64_t)>& onProgress) {
    if (!worker_) return SetError(what + ": not connected");
    if (cut_) return SessionError(what);
    inJob_ = true;
    const TSshWorker::TOutcome outcome = worker_->Run(job, cancelled_, timeoutMs_, onProgress);
    inJob_ = false;
    switch (outcome) {
    case TSshWorker::soDone:
        return true;
    case TSshWorker::soTimedOut:
        timedOut_ = true;
        break;
    case TSshWorker::soCancelled:
        break;
    }
    return SessionError(what);
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

bool TSftpSession::OpenSocket(uint32_t address, uint16_t port) {
    socket_ = platform::openSocket(platform::AF_INET_FAMILY, platform::SOCK_STREAM_TYPE, 0);
    if (socket_ == platform::INVALID_SOCKET) return SetError("Cannot open a socket");
    platform::setOption(socket_, platform::SocketOption::TcpNoDelay, 1);
    platform::SockAddrIn to;
    to.addr = address;
    to.port = platform::hostToNet16(port);
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
            platform::asyncSelect(socket_, waiter, MsgSocket, 0);
            platform::destroyMessageWindow(waiter);
            if (!finished) {
                if (Stopped()) return SetError("");
                return SetError("Cannot connect to " + address_ + ": no answer for " +
                                std::to_string(timeoutMs_ / 1000) + " seconds");
            }
            error = result;
        }
    }
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
    // libssh closes the descriptor it is given; this one stays ours, to shut
    // the connection down under a blocked call.
    const int fd = ::fcntl(int(socket_), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        Abort();
        return SetError("Cannot open a socket");
    }
    worker_ = std::make_unique<TSshWorker>([this] {
        cut_ = true;
        platform::shutdownSocket(socket_, 2);
    });
    TSshState& state = *state_;
    const long libraryTimeout = long(timeoutMs_ / 1000) + LibraryTimeoutMarginS;
    const std::string knownHosts = KnownHostsPath();
    bool connected = false;
    const bool ran = RunJob("The SSH handshake with " + host + " failed", [&] {
        state.Session = ssh_new();
        if (!state.Session) {
            ::close(fd);
            return;
        }
        int own = fd;
        const bool no = false;
        ssh_options_set(state.Session, SSH_OPTIONS_FD, &own);
        ssh_options_set(state.Session, SSH_OPTIONS_HOST, host.c_str());
        const unsigned int portNumber = port;
        ssh_options_set(state.Session, SSH_OPTIONS_PORT, &portNumber);
        ssh_options_set(state.Session, SSH_OPTIONS_TIMEOUT, &libraryTimeout);
        // The settings say where to go, not the user's ~/.ssh/config.
        ssh_options_set(state.Session, SSH_OPTIONS_PROCESS_CONFIG, &no);
        // Only to prefer the key type known_hosts has; the check is ours.
        ssh_options_set(state.Session, SSH_OPTIONS_KNOWNHOSTS, knownHosts.c_str());
        connected = ssh_connect(state.Session) == SSH_OK;
        if (!connected) return state.NoteFailure();
        state.Alive = true;
        ssh_key key = nullptr;
        if (ssh_get_server_publickey(state.Session, &key) != SSH_OK) return;
        char* base64 = nullptr;
        if (ssh_pki_export_pubkey_base64(key, &base64) == SSH_OK) {
            hostKey_.Blob = Base64Decode(base64);
            ssh_string_free_char(base64);
        }
        ssh_key_free(key);
    });
    if (!ran || !connected) {
        if (ran) SessionError("The SSH handshake with " + host + " failed");
        Abort();
        return false;
    }
    hostKey_.Type = HostKeyTypeName(hostKey_.Blob);
    hostKey_.Fingerprint = KeyFingerprint(hostKey_.Blob);
    return true;
}

bool TSftpSession::AuthPassword(const std::string& user, const std::string& password) {
    TSshState& state = *state_;
    int rc = SSH_AUTH_ERROR;
    if (!RunJob("Logging in as " + user + " failed", [&] {
            rc = ssh_userauth_password(state.Session, user.c_str(), password.c_str());
            if (rc != SSH_AUTH_SUCCESS) state.NoteFailure();
        }))
        return false;
    if (rc == SSH_AUTH_SUCCESS) return true;
    if (rc == SSH_AUTH_DENIED || rc == SSH_AUTH_PARTIAL) {
        error_ = Stopped() ? "" : "The server refused the password of " + user;
        return false;
    }
    return SessionError("Logging in as " + user + " failed");
}

bool TSftpSession::AuthAgent(const std::string& user) {
    const char* sock = std::getenv("SSH_AUTH_SOCK");
    if (!sock || !*sock) return SetError("No ssh-agent is running");
    TSshState& state = *state_;
    int rc = SSH_AUTH_ERROR;
    if (!RunJob("Logging in as " + user + " failed", [&] {
            rc = ssh_userauth_agent(state.Session, user.c_str());
            if (rc != SSH_AUTH_SUCCESS) state.NoteFailure();
        }))
        return false;
    if (rc == SSH_AUTH_SUCCESS) return true;
    if (!state.Alive) return SessionError("Logging in as " + user + " failed");
    error_ = Stopped() ? "" : "The server accepted none of the ssh-agent's keys";
    return false;
}

bool TSftpSession::AuthKeyFile(const std::string& user, const std::string& privateKey,
                               const std::string& passphrase) {
    TSshState& state = *state_;
    int imported = SSH_ERROR;
    int rc = SSH_AUTH_ERROR;
    wrongPassphrase_ = false;
    if (!RunJob("Logging in as " + user + " failed", [&] {
            ssh_key key = nullptr;
            imported = ssh_pki_import_privkey_file(
                privateKey.c_str(), passphrase.empty() ? nullptr : passphrase.c_str(), nullptr,
                nullptr, &key);
            if (imported == SSH_OK) rc = ssh_userauth_publickey(state.Session, user.c_str(), key);
            ssh_key_free(key);
            if (rc != SSH_AUTH_SUCCESS) state.NoteFailure();
        }))
        return false;
    if (rc == SSH_AUTH_SUCCESS) return true;
    if (Stopped()) return SetError("");
    if (imported != SSH_OK) {
        // libssh tells a wrong passphrase from a damaged file by neither code nor text.
        wrongPassphrase_ = !passphrase.empty() && imported == SSH_ERROR;
        error_ = wrongPassphrase_ ? "The passphrase given for the key " + privateKey + " is wrong"
                                  : "Cannot read the key " + privateKey;
        return false;
    }
    if (!state.Alive) return SessionError("Logging in as " + user + " failed");
    error_ = "The server did not accept the key " + privateKey;
    return false;
}

bool TSftpSession::StartSftp() {
    TSshState& state = *state_;
    bool ok = false;
    if (!RunJob("The server offers no SFTP", [&] {
            state.Sftp = sftp_new(state.Session);
            ok = state.Sftp && sftp_init(state.Sftp) == SSH_OK;
            if (!ok) state.NoteFailure();
        }))
        return false;
    return ok || SessionError("The server offers no SFTP");
}

void TSftpSession::Disconnect() {
    if (Connected() && state_->Sftp) {
        TSshState& state = *state_;
        const unsigned saved = timeoutMs_;
        timeoutMs_ = GoodbyeTimeoutMs;
        RunJob("Closing", [&] {
            sftp_free(state.Sftp);
            state.Sftp = nullptr;
            ssh_disconnect(state.Session);
        });
        timeoutMs_ = saved;
    }
    Abort();
}

void TSftpSession::Abort() {
    if (inJob_) {
        // Called from an event that ran while a call waits: the call's own
        // frames still use the worker. Cut the connection; the call ends.
        cut_ = true;
        platform::shutdownSocket(socket_, 2);
        return;
    }
    if (worker_) {
        // The socket goes first: whatever runs or is freed then cannot wait on the server.
        if (socket_ != platform::INVALID_SOCKET) platform::shutdownSocket(socket_, 2);
        TSshState& state = *state_;
        worker_->Finish([&state] { state.Free(); });
        worker_.reset();
    }
    if (socket_ != platform::INVALID_SOCKET) {
        platform::closeSocket(socket_);
        socket_ = platform::INVALID_SOCKET;
    }
    *state_ = TSshState();
    cut_ = false;
    timedOut_ = false;
}

// The file requests of TSftpSession: each one a job on the session's worker.
#include "SftpSession.h"

#include "SftpPosixRename.h"
#include "SshState.h"
#include "SshWorker.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

// libssh 0.10 waits for the server's answer to each write: large requests
// make few round trips. OpenSSH's sftp-server takes messages up to 256 KiB,
// header included.
constexpr size_t WriteChunk = size_t(255) << 10;

// Later versions' codes, which libssh 0.10 does not name; servers send them.
constexpr int FxNoSpaceOnFilesystem = 14;
constexpr int FxQuotaExceeded = 15;
constexpr int FxNotADirectory = 19;

std::string SftpStatusText(int code) {
    switch (code) {
    case SSH_FX_NO_SUCH_FILE:
        return "No such file";
    case SSH_FX_PERMISSION_DENIED:
        return "Permission denied";
    case SSH_FX_FAILURE:
        return "Failure";
    case SSH_FX_FILE_ALREADY_EXISTS:
        return "File already exists";
    case FxNoSpaceOnFilesystem:
        return "No space on the file system";
    case FxQuotaExceeded:
        return "Quota exceeded";
    case SSH_FX_WRITE_PROTECT:
        return "Write protected";
    case SSH_FX_NO_MEDIA:
        return "No media";
    case SSH_FX_NO_SUCH_PATH:
        return "No such path";
    case FxNotADirectory:
        return "Not a directory";
    case SSH_FX_OP_UNSUPPORTED:
        return "Operation unsupported";
    default:
        return "SFTP error " + std::to_string(code);
    }
}

} // namespace

bool TSftpSession::SftpError(const std::string& what, const std::string& path) {
    noSuchFile_ = false;
    if (!cut_ && state_->Alive && state_->Status != SSH_FX_OK) {
        noSuchFile_ = state_->Status == SSH_FX_NO_SUCH_FILE;
        error_.clear();
        if (!Stopped()) error_ = what + " " + path + ": " + SftpStatusText(state_->Status);
        return false;
    }
    return SessionError(what + " " + path);
}

bool TSftpSession::Size(const std::string& path, uint64_t& size) {
    TSshState& state = *state_;
    bool found = false;
    const std::string what = "Cannot read the attributes of";
    if (!RunJob(what + " " + path, [&] {
            sftp_attributes attrs = sftp_stat(state.Sftp, path.c_str());
            if (!attrs) return state.NoteFailure();
            found = true;
            size = attrs->size;
            sftp_attributes_free(attrs);
        }))
        return false;
    return found || SftpError(what, path);
}

bool TSftpSession::MakeDirectories(const std::string& dir) {
    TSshState& state = *state_;
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
        enum { Missing, Directory, Other, Created } found = Missing;
        const std::string what = "Cannot create the directory";
        if (!RunJob(what + " " + path, [&] {
                if (sftp_attributes attrs = sftp_stat(state.Sftp, path.c_str())) {
                    found = attrs->type == SSH_FILEXFER_TYPE_DIRECTORY ? Directory : Other;
                    sftp_attributes_free(attrs);
                    return;
                }
                if (sftp_mkdir(state.Sftp, path.c_str(), 0755) == 0)
                    found = Created;
                else
                    state.NoteFailure();
            }))
            return false;
        if (found == Other) {
            error_ = path + " is not a directory";
            return false;
        }
        if (found == Missing) return SftpError(what, path);
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
    TSshState& state = *state_;
    TSshWorker* worker = worker_.get();
    enum { Opening, Writing, Reading, Finishing, Stored } reached = Opening;
    int readError = 0;
    if (progress) progress(0, total);
    const bool ran = RunJob(
        "Cannot write " + remote,
        [&] {
            state.Open =
                sftp_open(state.Sftp, remote.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode_t(mode));
            if (!state.Open) return state.NoteFailure();
            reached = Writing;
            std::vector<char> buffer(WriteChunk);
            uint64_t sent = 0;
            for (;;) {
                const ssize_t got = ::read(fd, buffer.data(), buffer.size());
                if (got < 0 && errno == EINTR) continue;
                if (got < 0) {
                    readError = errno;
                    reached = Reading;
                    return;
                }
                if (got == 0) break;
                for (size_t done = 0; done < size_t(got);) {
                    const ssize_t n =
                        sftp_write(state.Open, buffer.data() + done, size_t(got) - done);
                    if (n <= 0) return state.NoteFailure();
                    done += size_t(n);
                    sent += uint64_t(n);
                    worker->Progress(sent);
                }
            }
            reached = Finishing;
            // Servers apply the umask to the mode given at open: set it outright.
            if (sftp_chmod(state.Sftp, remote.c_str(), mode_t(mode)) != 0)
                return state.NoteFailure();
            // The close answers whether the server stored everything.
            const int closed = sftp_close(state.Open);
            state.Open = nullptr;
            if (closed != SSH_NO_ERROR) return state.NoteFailure();
            reached = Stored;
        },
        [&](uint64_t sent) {
            if (progress) progress(sent, total);
        });
    ::close(fd);
    if (!ran) return false;
    switch (reached) {
    case Opening:
        return SftpError("Cannot create", remote);
    case Writing:
        return SftpError("Cannot write", remote);
    case Reading:
        return SetError("Cannot read " + local + ": " + std::strerror(readError));
    case Finishing:
        return SftpError("Cannot finish", remote);
    case Stored:
        break;
    }
    return true;
}

bool TSftpSession::Rename(const std::string& from, const std::string& to) {
    TSshState& state = *state_;
    bool atomic = false;
    bool renamed = false;
    const std::string what = "Cannot rename " + from + " to";
    auto rename = [&] {
        return RunJob(what + " " + to, [&] {
            atomic = sftp_extension_supported(state.Sftp, "posix-rename@openssh.com", "1");
            if (atomic) {
                const int status = SftpPosixRename(state.Sftp, from, to);
                renamed = status == SSH_FX_OK;
                if (renamed) return;
                state.NoteFailure();
                // A reply that was not read through leaves the channel out of step.
                if (status < 0) state.Alive = false;
                return;
            }
            renamed = sftp_rename(state.Sftp, from.c_str(), to.c_str()) == 0;
            if (!renamed) state.NoteFailure();
        });
    };
    if (!rename()) return false;
    if (renamed) return true;
    SftpError(what, to);
    if (atomic || Stopped() || !Connected()) return false;
    const std::string refused = error_;
    // Version 3 of the protocol does not rename over an existing file: the
    // older picture of that name goes first.
    uint64_t size = 0;
    if (!Size(to, size)) {
        error_ = refused;
        return false;
    }
    if (!Remove(to) || !rename()) return false;
    return renamed || SftpError(what, to);
}

bool TSftpSession::Remove(const std::string& path) {
    TSshState& state = *state_;
    bool removed = false;
    if (!RunJob("Cannot remove " + path, [&] {
            removed = sftp_unlink(state.Sftp, path.c_str()) == 0;
            if (!removed) state.NoteFailure();
        }))
        return false;
    return removed || SftpError("Cannot remove", path);
}

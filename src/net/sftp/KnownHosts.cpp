#include "KnownHosts.h"

#include <libssh2.h>
#include <openssl/evp.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int KnownHostKeyBit(const std::string& type) {
    if (type == "ssh-rsa") return LIBSSH2_KNOWNHOST_KEY_SSHRSA;
    if (type == "ssh-dss") return LIBSSH2_KNOWNHOST_KEY_SSHDSS;
    if (type == "ecdsa-sha2-nistp256") return LIBSSH2_KNOWNHOST_KEY_ECDSA_256;
    if (type == "ecdsa-sha2-nistp384") return LIBSSH2_KNOWNHOST_KEY_ECDSA_384;
    if (type == "ecdsa-sha2-nistp521") return LIBSSH2_KNOWNHOST_KEY_ECDSA_521;
    if (type == "ssh-ed25519") return LIBSSH2_KNOWNHOST_KEY_ED25519;
    return LIBSSH2_KNOWNHOST_KEY_UNKNOWN;
}

std::string Base64(const std::string& bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                        reinterpret_cast<const unsigned char*>(bytes.data()), int(bytes.size()));
    out.resize(size_t(n < 0 ? 0 : n));
    return out;
}

std::string SystemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

} // namespace

std::string Base64NoPadding(const std::string& bytes) {
    std::string out = Base64(bytes);
    while (!out.empty() && out.back() == '=') out.pop_back();
    return out;
}

std::string HostKeyTypeName(const std::string& blob) {
    if (blob.size() < 4) return {};
    const auto* p = reinterpret_cast<const unsigned char*>(blob.data());
    const size_t length = size_t(p[0]) << 24 | size_t(p[1]) << 16 | size_t(p[2]) << 8 | p[3];
    if (length > blob.size() - 4 || length > 64) return {};
    return blob.substr(4, length);
}

std::string SshDirectory() {
    const char* home = std::getenv("HOME");
    std::string dir = home && *home ? home : "";
    if (dir.empty())
        if (const passwd* pw = getpwuid(getuid())) dir = pw->pw_dir;
    return dir + "/.ssh";
}

std::string KnownHostsPath() {
    return SshDirectory() + "/known_hosts";
}

TKnownHostCheck CheckKnownHost(const TSftpSession& session, const std::string& file,
                               const std::string& host, uint16_t port, const TSshHostKey& key) {
    TKnownHostCheck result;
    std::ifstream in(file);
    if (!in) return result;
    const int typemask =
        LIBSSH2_KNOWNHOST_TYPE_PLAIN | LIBSSH2_KNOWNHOST_KEYENC_RAW | KnownHostKeyBit(key.Type);
    std::string line;
    // One entry at a time, so that a mismatch can name its line.
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') continue;
        LIBSSH2_KNOWNHOSTS* hosts = libssh2_knownhost_init(session.Handle());
        if (!hosts) break;
        int check = LIBSSH2_KNOWNHOST_CHECK_NOTFOUND;
        if (libssh2_knownhost_readline(hosts, line.data() + start, line.size() - start,
                                       LIBSSH2_KNOWNHOST_FILE_OPENSSH) == 0)
            check = libssh2_knownhost_checkp(hosts, host.c_str(), port, key.Blob.data(),
                                             key.Blob.size(), typemask, nullptr);
        libssh2_knownhost_free(hosts);
        if (check == LIBSSH2_KNOWNHOST_CHECK_MATCH) {
            result.Status = TKnownHostCheck::khKnown;
            result.Line = number;
            return result;
        }
        if (check == LIBSSH2_KNOWNHOST_CHECK_MISMATCH &&
            result.Status != TKnownHostCheck::khChanged) {
            result.Status = TKnownHostCheck::khChanged;
            result.Line = number;
        }
    }
    return result;
}

std::string KnownHostLine(const std::string& host, uint16_t port, const TSshHostKey& key) {
    const std::string name = port == 22 ? host : "[" + host + "]:" + std::to_string(port);
    return name + " " + key.Type + " " + Base64(key.Blob);
}

std::string AddKnownHost(const std::string& file, const std::string& host, uint16_t port,
                         const TSshHostKey& key) {
    const std::string dir = file.substr(0, file.rfind('/'));
    struct stat info {};
    if (::stat(dir.c_str(), &info) != 0 && ::mkdir(dir.c_str(), 0700) != 0)
        return SystemError("Cannot create " + dir);
    // Written where the entries are: a link stays a link.
    std::string target = file;
    if (char* real = ::realpath(file.c_str(), nullptr)) {
        target = real;
        std::free(real);
    }
    std::string content;
    mode_t mode = 0600;
    if (::stat(target.c_str(), &info) == 0) {
        mode = info.st_mode & 07777;
        std::ifstream in(target, std::ios::binary);
        if (!in) return SystemError("Cannot read " + target);
        content.assign(std::istreambuf_iterator<char>(in), {});
    } else if (errno != ENOENT) {
        return SystemError("Cannot read " + target);
    }
    if (!content.empty() && content.back() != '\n') content += '\n';
    content += KnownHostLine(host, port, key) + "\n";

    std::string temp = target + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return SystemError("Cannot write beside " + target);
    bool ok = ::fchmod(fd, mode) == 0;
    for (size_t done = 0; ok && done < content.size();) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += size_t(n);
    }
    ok = ok && ::fsync(fd) == 0;
    const std::string failure = ok ? std::string() : SystemError("Cannot write " + temp);
    ::close(fd);
    if (ok && ::rename(temp.c_str(), target.c_str()) == 0) return {};
    const std::string why = ok ? SystemError("Cannot replace " + target) : failure;
    ::unlink(temp.c_str());
    return why;
}

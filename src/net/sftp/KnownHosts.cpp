#include "KnownHosts.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

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

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return text;
}

// OpenSSH's host patterns: "*" any run of characters, "?" any one.
bool Wildcard(const char* pattern, const char* text) {
    for (; *pattern; ++pattern, ++text) {
        if (*pattern == '*') {
            for (const char* rest = text;; ++rest) {
                if (Wildcard(pattern + 1, rest)) return true;
                if (!*rest) return false;
            }
        }
        if (!*text || (*pattern != '?' && *pattern != *text)) return false;
    }
    return !*text;
}

// "|1|salt|hash": the hash is HMAC-SHA1 of the name, keyed with the salt.
bool HashedMatch(const std::string& entry, const std::string& name) {
    const size_t bar = entry.find('|', 3);
    if (bar == std::string::npos) return false;
    const std::string salt = Base64Decode(entry.substr(3, bar - 3));
    const std::string hash = Base64Decode(entry.substr(bar + 1));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    if (salt.empty() ||
        !HMAC(EVP_sha1(), salt.data(), int(salt.size()),
              reinterpret_cast<const unsigned char*>(name.data()), name.size(), digest, &length))
        return false;
    return hash == std::string(reinterpret_cast<const char*>(digest), length);
}

// The entry's comma-separated patterns name the host; a negated one that
// matches rules the entry out.
bool HostsMatch(const std::string& patterns, const std::string& name) {
    bool matched = false;
    std::istringstream in(patterns);
    for (std::string pattern; std::getline(in, pattern, ',');) {
        const bool negated = !pattern.empty() && pattern[0] == '!';
        if (negated) pattern.erase(0, 1);
        const bool hit = pattern.rfind("|1|", 0) == 0
                             ? HashedMatch(pattern, name)
                             : Wildcard(Lower(pattern).c_str(), Lower(name).c_str());
        if (hit && negated) return false;
        matched = matched || hit;
    }
    return matched;
}

} // namespace

std::string Base64Decode(const std::string& text) {
    if (text.empty() || text.size() % 4 != 0) return {};
    std::string out(text.size() / 4 * 3, '\0');
    const int n =
        EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                        reinterpret_cast<const unsigned char*>(text.data()), int(text.size()));
    if (n < 0) return {};
    // The decoder counts the padding's zero bytes too.
    size_t length = size_t(n);
    for (size_t i = text.size(); i > 0 && text[i - 1] == '=' && length > 0; --i) --length;
    out.resize(length);
    return out;
}

std::string KeyFingerprint(const std::string& blob) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    if (!EVP_Digest(blob.data(), blob.size(), digest, &length, EVP_sha256(), nullptr)) return {};
    return "SHA256:" + Base64NoPadding(std::string(reinterpret_cast<char*>(digest), length));
}

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

TKnownHostCheck CheckKnownHost(const std::string& file, const std::string& host, uint16_t port,
                               const TSshHostKey& key) {
    TKnownHostCheck result;
    std::ifstream in(file);
    if (!in) return result;
    const std::string name = port == 22 ? host : "[" + host + "]:" + std::to_string(port);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        std::istringstream fields(line);
        std::string hosts, type, blob;
        if (!(fields >> hosts) || hosts[0] == '#') continue;
        std::string marker;
        if (hosts[0] == '@') {
            marker = hosts;
            if (!(fields >> hosts)) continue;
        }
        if (!(fields >> type >> blob) || type != key.Type || marker == "@cert-authority" ||
            !HostsMatch(hosts, name))
            continue;
        const bool same = Base64Decode(blob) == key.Blob;
        if (same && marker.empty()) {
            result.Status = TKnownHostCheck::khKnown;
            result.Line = number;
            return result;
        }
        // A revoked key is refused as a changed one is.
        if ((!same || marker == "@revoked") && result.Status != TKnownHostCheck::khChanged) {
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

#include "System.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

std::string HomeDirectory() {
    const char* home = std::getenv("HOME");
    if (home && *home == '/') return home;
    const passwd* pw = ::getpwuid(::geteuid());
    return pw && pw->pw_dir ? pw->pw_dir : "/";
}

std::string CacheBase() {
    // Relative values are invalid by the XDG rules and are ignored.
    const char* env = std::getenv("XDG_CACHE_HOME");
    if (env && *env == '/') return env;
    return HomeDirectory() + "/.cache";
}

[[noreturn]] void Refuse(const std::string& dir, const std::string& why) {
    throw EWorkingDirectory("Brindlewick keeps your captures and saved pictures in " + dir +
                            ", but cannot use it: " + why + ".");
}

} // namespace

std::string TempDirectory() {
    std::string dir = CacheBase();
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    dir += "/Brindlewick";
    MakePrivateFolders(dir);
    if (std::string why = PrivateFolderProblem(dir); !why.empty()) Refuse(dir, why);
    return dir + '/';
}

void MakePrivateFolders(const std::string& path) {
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        // mkdir only takes bits away from 0700, so the umask cannot open it.
        if (!part.empty()) ::mkdir(part.c_str(), 0700);
        if (slash == std::string::npos) return;
    }
}

std::string PrivateFolderProblem(const std::string& dir) {
    struct stat st;
    if (::lstat(dir.c_str(), &st) != 0)
        return std::string("it cannot be created (") + std::strerror(errno) + ")";
    if (S_ISLNK(st.st_mode)) return "it is a symbolic link";
    if (!S_ISDIR(st.st_mode)) return "it is not a folder";
    if (st.st_uid != ::geteuid()) return "it belongs to another user";
    if (st.st_mode & 077)
        return "other users can open it; make it yours alone with \"chmod 700 " + dir + "\"";
    return {};
}

bool FileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void DeleteFileQuietly(const std::string& path) {
    ::unlink(path.c_str());
}

bool WritePrivateFile(const std::string& path, std::span<const uint8_t> bytes) {
    std::string temp = path + ".XXXXXX";
    // mkstemp creates the file 0600 with O_EXCL: it never opens a planted link.
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
    bool ok = done == bytes.size();
    ok = ::close(fd) == 0 && ok;
    if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        const int saved = errno;
        ::unlink(temp.c_str());
        errno = saved;
    }
    return ok;
}

uint32_t TickCount() {
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void SleepMs(unsigned ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace platform

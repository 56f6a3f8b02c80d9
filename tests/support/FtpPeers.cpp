#include "FtpPeers.h"
#include "Loopback.h"
#include "RateLimitedLine.h"
#include "ScriptedTcpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// A blocking connection whose reads give up after a second; -1 when
// nothing accepts it.
int ConnectTo(const std::string& address, uint16_t port) {
    if (address == "127.0.0.1") return ConnectToLoopback(port);
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    timeval t{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) return fd;
    close(fd);
    return -1;
}

// True when a connection to the port is greeted with a 220 line.
bool Greets(const std::string& address, uint16_t port) {
    const int fd = ConnectTo(address, port);
    if (fd < 0) return false;
    char reply[4] = {};
    const bool ok = recv(fd, reply, 3, MSG_WAITALL) == 3 && std::string(reply, 3) == "220";
    close(fd);
    return ok;
}

// True when the port takes a connection.
bool Accepts(const std::string& address, uint16_t port) {
    const int fd = ConnectTo(address, port);
    if (fd >= 0) close(fd);
    return fd >= 0;
}

// Runs a shell command quietly; true when it succeeded.
bool Quietly(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

} // namespace

FtpPeer::FtpPeer(std::string name) : ServerName(std::move(name)) {}

FtpPeer::~FtpPeer() {
    Stop();
    // userdel refuses while a session of the user still runs; Stop ended them.
    if (UserCreated) Quietly("/usr/sbin/userdel " + UserName);
    std::error_code ignored;
    if (!Scratch.empty()) fs::remove_all(Scratch, ignored);
}

std::string FtpPeer::Url() const {
    return "ftp://" + UserName + ":" + UserPassword + "@" + Host() + ":" +
           std::to_string(ListenPort) + "/";
}

bool FtpPeer::Prepare() {
    // Not $TMPDIR: a test may point it into a directory the vsftpd user
    // cannot pass through.
    std::string pattern = "/tmp/brwk-ftp-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        Failure = "cannot make a scratch directory";
        return false;
    }
    Scratch = pattern;
    ListenPort = UnusedLoopbackPort();
    PasvLow = UnusedLoopbackPort();
    PasvHigh = uint16_t(PasvLow > 65535 - 15 ? 65535 : PasvLow + 15);
    return true;
}

bool FtpPeer::PrepareTester() {
    if (!Prepare()) return false;
    RootDir = Scratch + "/root";
    fs::create_directory(RootDir);
    UserName = "tester";
    UserPassword = "secret";
    return true;
}

bool FtpPeer::Start(const char* const* argv, bool plainGreeting) {
    const std::string log = Scratch + "/server.log";
    Pid = fork();
    if (Pid == 0) {
        setpgid(0, 0); // so that Stop reaches the sessions it forks too
        if (!Namespace.empty()) {
            const int ns = open(Namespace.c_str(), O_RDONLY | O_CLOEXEC);
            if (ns < 0 || setns(ns, CLONE_NEWNET) != 0) _exit(126);
        }
        const int null = open("/dev/null", O_RDONLY);
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        dup2(null, 0);
        dup2(out, 1);
        dup2(out, 2);
        execv(argv[0], const_cast<char* const*>(argv));
        _exit(127);
    }
    if (Pid < 0) {
        Failure = "fork failed";
        return false;
    }
    setpgid(Pid, Pid);
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < end) {
        int status = 0;
        if (waitpid(Pid, &status, WNOHANG) == Pid) {
            Pid = -1;
            std::ifstream in(log);
            std::string text((std::istreambuf_iterator<char>(in)), {});
            Failure = ServerName + " exited: " + text.substr(0, 400);
            return false;
        }
        if (plainGreeting ? Greets(Address, ListenPort) : Accepts(Address, ListenPort)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    Stop();
    Failure = ServerName + " did not greet on port " + std::to_string(ListenPort);
    return false;
}

void FtpPeer::Stop() {
    if (Pid <= 0) return;
    kill(-Pid, SIGTERM);
    int status = 0;
    waitpid(Pid, &status, 0);
    kill(-Pid, SIGKILL); // sessions that outlived their listener
    Pid = -1;
}

// ---- pyftpdlib -------------------------------------------------------------

bool PyFtpdServer::Available(FtpTls tls) {
    if (tls == FtpTls::None) return Quietly("/usr/bin/python3 -c 'import pyftpdlib'");
    return tls == FtpTls::Explicit &&
           Quietly("/usr/bin/python3 -c 'import pyftpdlib.handlers, OpenSSL'");
}

PyFtpdServer::PyFtpdServer(FtpTls tls, const std::string& certFile, const std::string& keyFile,
                           const RateLimitedLine* line)
    : FtpPeer(line ? "pyftpdlib (slow line)" : "pyftpdlib") {
    if (tls == FtpTls::Implicit) {
        Failure = "pyftpdlib serves explicit TLS only";
        return;
    }
    if (line && !line->Running()) {
        Failure = line->Error();
        return;
    }
    if (!PrepareTester()) return;
    if (line) {
        Address = line->PeerAddress();
        Namespace = line->NamespacePath();
    }
    const std::string port = std::to_string(ListenPort);
    const std::string range = std::to_string(PasvLow) + "-" + std::to_string(PasvHigh);
    if (tls == FtpTls::Explicit) {
        // Its command line has no TLS switch: a launcher sets the handler up.
        const std::string script = BRWK_TEST_SUPPORT_DIR "/pyftpd_tls.py";
        const char* argv[] = {"/usr/bin/python3",   script.c_str(),   RootDir.c_str(),
                              port.c_str(),         range.c_str(),    UserName.c_str(),
                              UserPassword.c_str(), certFile.c_str(), keyFile.c_str(),
                              Address.c_str(),      nullptr};
        Start(argv);
        return;
    }
    const char* argv[] = {"/usr/bin/python3",
                          "-m",
                          "pyftpdlib",
                          "-i",
                          Address.c_str(),
                          "-p",
                          port.c_str(),
                          "-w",
                          "-d",
                          RootDir.c_str(),
                          "-u",
                          UserName.c_str(),
                          "-P",
                          UserPassword.c_str(),
                          "-r",
                          range.c_str(),
                          nullptr};
    Start(argv);
}

// ---- a TLS server that cuts data connections --------------------------------

bool CuttingTlsFtpServer::Available() {
    return Quietly("/usr/bin/python3 -c 'import ssl'");
}

CuttingTlsFtpServer::CuttingTlsFtpServer(bool cut, size_t payloadSize, const std::string& certFile,
                                         const std::string& keyFile, const std::string& injected)
    : FtpPeer("cutting TLS server") {
    if (!PrepareTester()) return;
    const std::string script = BRWK_TEST_SUPPORT_DIR "/cut_tls_ftpd.py";
    const std::string port = std::to_string(ListenPort);
    const std::string size = std::to_string(payloadSize);
    std::string escaped;
    for (const char c : injected)
        escaped += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
    const char* argv[] = {"/usr/bin/python3", script.c_str(),  port.c_str(), certFile.c_str(),
                          keyFile.c_str(),    RootDir.c_str(), size.c_str(), cut ? "cut" : "whole",
                          escaped.c_str(),    nullptr};
    Start(argv);
}

// ---- vsftpd ----------------------------------------------------------------

bool VsftpdServer::Available() {
    return geteuid() == 0 && access("/usr/sbin/vsftpd", X_OK) == 0 &&
           access("/usr/sbin/useradd", X_OK) == 0;
}

ThrottledPyFtpdServer::ThrottledPyFtpdServer(int readLimit) : FtpPeer("pyftpdlib (throttled)") {
    if (!PrepareTester()) return;
    const std::string port = std::to_string(ListenPort);
    const std::string range = std::to_string(PasvLow) + "-" + std::to_string(PasvHigh);
    const std::string rate = std::to_string(readLimit);
    const std::string script = BRWK_TEST_SUPPORT_DIR "/pyftpd_throttled.py";
    const char* argv[] = {"/usr/bin/python3",   script.c_str(), RootDir.c_str(),
                          port.c_str(),         range.c_str(),  UserName.c_str(),
                          UserPassword.c_str(), rate.c_str(),   nullptr};
    Start(argv);
}

VsftpdServer::VsftpdServer(FtpTls tls, const std::string& certFile, const std::string& keyFile,
                           const std::string& extraConf)
    : FtpPeer("vsftpd") {
    if (!Available()) {
        Failure = "vsftpd needs root and the vsftpd package";
        return;
    }
    if (!Prepare() || !CreateUser("brwkftp")) return;
    // vsftpd refuses to start without its empty secure directory (on tmpfs).
    std::error_code ignored;
    fs::create_directories("/var/run/vsftpd/empty", ignored);
    const std::string conf = Scratch + "/vs.conf";
    {
        const int fd = open(conf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            Failure = "cannot write " + conf;
            return;
        }
        const std::string text =
            "listen=YES\nlisten_address=127.0.0.1\nlisten_port=" + std::to_string(ListenPort) +
            "\nbackground=NO\nanonymous_enable=NO\nlocal_enable=YES\nwrite_enable=YES\n"
            "local_umask=022\npam_service_name=vsftpd\npasv_min_port=" +
            std::to_string(PasvLow) + "\npasv_max_port=" + std::to_string(PasvHigh) +
            "\nxferlog_enable=YES\nxferlog_std_format=NO\nlog_ftp_protocol=YES\n"
            "vsftpd_log_file=" +
            Scratch + "/vs.log\n" +
            (tls == FtpTls::None
                 ? std::string()
                 : "ssl_enable=YES\nrsa_cert_file=" + certFile +
                       "\nrsa_private_key_file=" + keyFile +
                       "\nforce_local_logins_ssl=YES\nforce_local_data_ssl=YES\ndebug_ssl=YES\n") +
            (tls == FtpTls::Implicit ? "implicit_ssl=YES\n" : "") + extraConf;
        const bool written = write(fd, text.data(), text.size()) == ssize_t(text.size());
        close(fd);
        if (!written) {
            Failure = "cannot write " + conf;
            return;
        }
    }
    const char* argv[] = {"/usr/sbin/vsftpd", conf.c_str(), nullptr};
    Start(argv, tls != FtpTls::Implicit);
}

std::string VsftpdServer::Log() const {
    std::ifstream in(Scratch + "/vs.log");
    return std::string(std::istreambuf_iterator<char>(in), {});
}

VsftpdServer::~VsftpdServer() {
    Stop();
}

bool FtpPeer::CreateUser(const std::string& prefix) {
    // One user per object: two test processes never share or delete each
    // other's user. The name stays within useradd's 32 characters.
    static std::atomic<int> serial{0};
    UserName = prefix + std::to_string(getpid()) + "x" + std::to_string(serial++);
    UserPassword = "Secr3t!" + std::to_string(getpid());
    // The home's parent must let the user pass; nobody else may write there.
    chmod(Scratch.c_str(), 0711);
    RootDir = Scratch + "/home";
    const std::string add = "/usr/sbin/useradd -m -d " + RootDir + " -s /bin/bash " + UserName;
    // useradd fails while another process holds the password file's lock.
    for (int attempt = 0; attempt < 50 && !UserCreated; ++attempt) {
        UserCreated = Quietly(add);
        if (!UserCreated) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!UserCreated) {
        Failure = "useradd " + UserName + " failed";
        return false;
    }
    bool passwordSet = false;
    for (int attempt = 0; attempt < 50 && !passwordSet; ++attempt) {
        FILE* pipe = popen("/usr/sbin/chpasswd >/dev/null 2>&1", "w");
        if (!pipe) break;
        fprintf(pipe, "%s:%s\n", UserName.c_str(), UserPassword.c_str());
        passwordSet = pclose(pipe) == 0;
        if (!passwordSet) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!passwordSet) Failure = "chpasswd for " + UserName + " failed";
    return passwordSet;
}

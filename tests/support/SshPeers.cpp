#include "SshPeers.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

bool Quietly(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Output(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r")) {
        char buffer[512];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

std::string Field(const std::string& line, int index) {
    std::istringstream in(line);
    std::string word;
    for (int i = 0; i <= index; ++i)
        if (!(in >> word)) return {};
    return word;
}

} // namespace

bool MakeKeyPair(const std::string& path, const std::string& type, const std::string& passphrase) {
    fs::remove(path);
    fs::remove(path + ".pub");
    return Quietly("ssh-keygen -q -t " + type + " -N '" + passphrase + "' -C brwk-test -f '" +
                   path + "'");
}

bool SshServer::Available() {
    return geteuid() == 0 && access("/usr/sbin/sshd", X_OK) == 0 &&
           access("/usr/lib/openssh/sftp-server", X_OK) == 0 &&
           access("/usr/bin/ssh-keygen", X_OK) == 0 && access("/usr/sbin/useradd", X_OK) == 0;
}

SshServer::SshServer(HostKey key) : FtpPeer("sshd"), KeyKind(key) {
    if (!Available()) {
        Failure = "sshd needs root and the openssh-server package";
        return;
    }
    if (!Prepare() || !CreateUser("brwkssh")) return;
    // sshd's privilege separation directory, on tmpfs.
    std::error_code ignored;
    fs::create_directories("/run/sshd", ignored);
    chmod("/run/sshd", 0755);
    if (!MakeHostKey()) return;
    Launch();
}

SshServer::~SshServer() {
    KillSessions();
    Stop();
}

bool SshServer::MakeHostKey() {
    if (!MakeKeyPair(Scratch + "/hostkey", KeyKind == HostKey::Rsa ? "rsa -b 2048" : "ed25519")) {
        Failure = "ssh-keygen failed";
        return false;
    }
    return true;
}

bool SshServer::Launch() {
    const std::string port = std::to_string(ListenPort);
    const std::string key = Scratch + "/hostkey";
    const std::string pid = "PidFile=" + Scratch + "/sshd.pid";
    // OpenSSH's sftp-server (internal-sftp's code) with its record of each
    // request in the user's home, where the user may write it.
    const std::string sftp =
        "Subsystem=sftp /usr/lib/openssh/sftp-server -e -l INFO 2>>" + RootDir + "/" + SftpLogName;
    const char* algorithm = KeyKind == HostKey::Rsa ? "HostKeyAlgorithms=rsa-sha2-256"
                                                    : "HostKeyAlgorithms=ssh-ed25519";
    const char* argv[] = {"/usr/sbin/sshd",
                          "-D",
                          "-e",
                          "-f",
                          "/dev/null",
                          "-p",
                          port.c_str(),
                          "-h",
                          key.c_str(),
                          "-o",
                          "ListenAddress=127.0.0.1",
                          "-o",
                          "PasswordAuthentication=yes",
                          "-o",
                          "KbdInteractiveAuthentication=no",
                          "-o",
                          "UsePAM=yes",
                          "-o",
                          pid.c_str(),
                          "-o",
                          sftp.c_str(),
                          "-o",
                          "StrictModes=no",
                          "-o",
                          algorithm,
                          "-o",
                          "MaxStartups=100",
                          nullptr};
    return Start(argv, false);
}

std::string SshServer::KeyType() const {
    return Field(Output("cat '" + Scratch + "/hostkey.pub'"), 0);
}

std::string SshServer::Fingerprint() const {
    return Field(Output("ssh-keygen -l -E sha256 -f '" + Scratch + "/hostkey.pub'"), 1);
}

std::string SshServer::SftpLog() const {
    return Output("cat '" + RootDir + "/" + SftpLogName + "'");
}

std::string SshServer::KnownHostsLine() const {
    const std::string pub = Output("cat '" + Scratch + "/hostkey.pub'");
    return "[" + Host() + "]:" + std::to_string(ListenPort) + " " + Field(pub, 0) + " " +
           Field(pub, 1);
}

bool SshServer::ChangeHostKey() {
    KillSessions();
    Stop();
    return MakeHostKey() && Launch();
}

bool SshServer::Authorize(const std::string& publicKeyFile) {
    const std::string dir = RootDir + "/.ssh";
    std::error_code ignored;
    fs::create_directories(dir, ignored);
    std::ifstream in(publicKeyFile);
    std::ofstream out(dir + "/authorized_keys", std::ios::app);
    out << in.rdbuf();
    out.close();
    return Quietly("chown -R " + UserName + " '" + dir + "'") && out;
}

bool SshServer::SignalSessions(int signal) {
    const passwd* pw = UserCreated ? getpwnam(UserName.c_str()) : nullptr;
    DIR* proc = pw ? opendir("/proc") : nullptr;
    if (!proc) return false;
    bool found = false;
    while (dirent* entry = readdir(proc)) {
        const pid_t pid = pid_t(std::atoi(entry->d_name));
        if (pid <= 0) continue;
        struct stat info {};
        if (stat(("/proc/" + std::string(entry->d_name)).c_str(), &info) != 0) continue;
        if (info.st_uid != pw->pw_uid) continue;
        found = true;
        kill(pid, signal);
    }
    closedir(proc);
    return found;
}

void SshServer::KillSessions() {
    for (int round = 0; round < 20 && SignalSessions(SIGKILL); ++round)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

SshAgent::SshAgent(const std::string& dir) : SocketPath(dir + "/agent.sock") {
    unlink(SocketPath.c_str());
    Pid = fork();
    if (Pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        execl("/usr/bin/ssh-agent", "ssh-agent", "-D", "-a", SocketPath.c_str(), nullptr);
        _exit(127);
    }
    for (int i = 0; i < 100 && Pid > 0; ++i) {
        if (access(SocketPath.c_str(), F_OK) == 0) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Stop();
}

SshAgent::~SshAgent() {
    Stop();
}

void SshAgent::Stop() {
    if (Pid <= 0) return;
    kill(Pid, SIGTERM);
    int status = 0;
    waitpid(Pid, &status, 0);
    Pid = -1;
    unlink(SocketPath.c_str());
}

bool SshAgent::Add(const std::string& keyFile) {
    return Quietly("SSH_AUTH_SOCK='" + SocketPath + "' ssh-add '" + keyFile + "'");
}

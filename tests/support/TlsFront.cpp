#include "TlsFront.h"
#include "Loopback.h"
#include "ScriptedTcpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

bool TlsFront::Available() {
    return access("/usr/bin/stunnel4", X_OK) == 0;
}

TlsFront::TlsFront(uint16_t backendPort, const std::string& certFile, const std::string& keyFile) {
    std::string pattern = "/tmp/brwk-tls-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        Failure = "cannot make a scratch directory";
        return;
    }
    Dir = pattern;
    ListenPort = UnusedLoopbackPort();
    const std::string conf = Dir + "/stunnel.conf";
    std::ofstream(conf) << "foreground = yes\npid =\n[front]\naccept = 127.0.0.1:" << ListenPort
                        << "\nconnect = 127.0.0.1:" << backendPort << "\ncert = " << certFile
                        << "\nkey = " << keyFile << "\n";
    const std::string log = Dir + "/stunnel.log";
    Pid = fork();
    if (Pid == 0) {
        const int null = open("/dev/null", O_RDONLY);
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        dup2(null, 0);
        dup2(out, 1);
        dup2(out, 2);
        execl("/usr/bin/stunnel4", "stunnel4", conf.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (Pid < 0) {
        Failure = "fork failed";
        return;
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
        int status = 0;
        if (waitpid(Pid, &status, WNOHANG) == Pid) {
            Pid = -1;
            std::ifstream in(log);
            Failure = "stunnel exited: " + std::string(std::istreambuf_iterator<char>(in), {});
            return;
        }
        if (const int fd = ConnectToLoopback(ListenPort); fd >= 0) {
            close(fd);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    Stop();
    Failure = "stunnel did not listen on " + std::to_string(ListenPort);
}

TlsFront::~TlsFront() {
    Stop();
    std::error_code ignored;
    if (!Dir.empty()) std::filesystem::remove_all(Dir, ignored);
}

void TlsFront::Stop() {
    if (Pid <= 0) return;
    kill(Pid, SIGTERM);
    int status = 0;
    waitpid(Pid, &status, 0);
    Pid = -1;
}

#include "PhpWebServer.h"
#include "Loopback.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// True when a GET of path gets back a reply that holds token.
bool Answers(uint16_t port, const std::string& path, const std::string& token) {
    const int fd = ConnectToLoopback(port);
    if (fd < 0) return false;
    const std::string get = "GET /" + path + " HTTP/1.0\r\n\r\n";
    std::string reply;
    if (send(fd, get.data(), get.size(), MSG_NOSIGNAL) == ssize_t(get.size())) {
        char chunk[512];
        for (ssize_t n; (n = recv(fd, chunk, sizeof chunk, 0)) > 0;) reply.append(chunk, size_t(n));
    }
    const bool ok = reply.find(token) != std::string::npos;
    close(fd);
    return ok;
}

} // namespace

bool PhpWebServer::Available() {
    return system("php -v >/dev/null 2>&1") == 0;
}

bool PhpWebServer::WaitPortFree(uint16_t port, unsigned ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        const sockaddr_in a = LoopbackAddress(port);
        const bool free = bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
        close(fd);
        if (free) return true;
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

PhpWebServer::PhpWebServer(const std::string& docRoot, uint16_t port) : Port(port) {
    if (!WaitPortFree(port, 20000)) {
        Failure = "port " + std::to_string(port) + " stays in use";
        return;
    }
    const std::string address = "127.0.0.1:" + std::to_string(port);
    Pid = fork();
    if (Pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        execlp("php", "php", "-S", address.c_str(), "-t", docRoot.c_str(), "-d",
               "post_max_size=64M", "-d", "memory_limit=512M", static_cast<char*>(nullptr));
        _exit(127);
    }
    if (Pid < 0) {
        Failure = "fork failed";
        return;
    }
    // Our own file, so that another server on the port cannot pass for this one.
    const std::string token = "brwk-probe-" + std::to_string(Pid);
    ProbeFile = docRoot + "/" + token + ".txt";
    std::ofstream(ProbeFile) << token;
    if (!WaitAnswering(10000, token)) {
        Stop();
        Failure = "php -S did not answer on " + address;
    }
}

PhpWebServer::~PhpWebServer() {
    Stop();
}

bool PhpWebServer::WaitAnswering(unsigned ms, const std::string& token) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
        int status = 0;
        if (waitpid(Pid, &status, WNOHANG) == Pid) {
            Pid = -1;
            return false;
        }
        if (Answers(Port, token + ".txt", token)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

void PhpWebServer::Stop() {
    if (!ProbeFile.empty()) std::remove(ProbeFile.c_str());
    if (Pid <= 0) return;
    kill(Pid, SIGTERM);
    int status = 0;
    waitpid(Pid, &status, 0);
    Pid = -1;
}

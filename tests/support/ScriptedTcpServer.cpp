#include "ScriptedTcpServer.h"
#include "Loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace {

// Waits for fd to become readable, giving up when the server is stopping.
bool WaitReadable(int fd, const std::atomic<bool>& stopping) {
    while (!stopping) {
        pollfd p{fd, POLLIN, 0};
        const int rc = poll(&p, 1, 50);
        if (rc > 0) return true;
        if (rc < 0) return false;
    }
    return false;
}

} // namespace

ScriptedTcpServer::ScriptedTcpServer(std::vector<Step> script, int receiveBuffer)
    : Script(std::move(script)), ReceiveBuffer(receiveBuffer) {
    ListenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (ListenFd < 0) throw std::runtime_error("ScriptedTcpServer: socket");
    if (ReceiveBuffer > 0)
        setsockopt(ListenFd, SOL_SOCKET, SO_RCVBUF, &ReceiveBuffer, sizeof ReceiveBuffer);
    sockaddr_in a = LoopbackAddress();
    socklen_t len = sizeof a;
    if (bind(ListenFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(ListenFd, 1) != 0 ||
        getsockname(ListenFd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        close(ListenFd);
        throw std::runtime_error("ScriptedTcpServer: bind");
    }
    ListenPort = ntohs(a.sin_port);
    Worker = std::thread([this] { Run(); });
}

ScriptedTcpServer::~ScriptedTcpServer() {
    Stopping = true;
    Release();
    Worker.join();
    if (ClientFd >= 0) close(ClientFd);
    close(ListenFd);
}

void ScriptedTcpServer::Release() {
    std::lock_guard<std::mutex> guard(Lock);
    Released = true;
    Changed.notify_all();
}

bool ScriptedTcpServer::WaitDone(unsigned ms) {
    std::unique_lock<std::mutex> guard(Lock);
    return Changed.wait_for(guard, std::chrono::milliseconds(ms), [this] { return Done; });
}

std::string ScriptedTcpServer::Received() {
    std::lock_guard<std::mutex> guard(Lock);
    return Bytes;
}

void ScriptedTcpServer::Deliver(const char* data, size_t n) {
    std::lock_guard<std::mutex> guard(Lock);
    Bytes.append(data, n);
}

void ScriptedTcpServer::Run() {
    if (WaitReadable(ListenFd, Stopping)) ClientFd = accept(ListenFd, nullptr, nullptr);
    for (const Step& step : Script) {
        if (ClientFd < 0 || Stopping) break;
        char buf[4096];
        switch (step.kind) {
        case Step::Send:
            send(ClientFd, step.bytes.data(), step.bytes.size(), MSG_NOSIGNAL);
            break;
        case Step::SendForever: {
            const std::string many = [&] {
                std::string s;
                while (s.size() < 65536) s += step.bytes;
                return s;
            }();
            while (!Stopping) {
                pollfd p{ClientFd, POLLOUT, 0};
                if (poll(&p, 1, 50) <= 0) continue;
                if (send(ClientFd, many.data(), many.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0 &&
                    errno != EAGAIN)
                    break;
            }
            break;
        }
        case Step::SleepMs:
            std::this_thread::sleep_for(std::chrono::milliseconds(step.count));
            break;
        case Step::ReadBytes:
            for (size_t got = 0; got < step.count && WaitReadable(ClientFd, Stopping);) {
                const ssize_t n = recv(ClientFd, buf, std::min(sizeof buf, step.count - got), 0);
                if (n <= 0) break;
                Deliver(buf, size_t(n));
                got += size_t(n);
            }
            break;
        case Step::ReadUntilClose:
            while (WaitReadable(ClientFd, Stopping)) {
                const ssize_t n = recv(ClientFd, buf, sizeof buf, 0);
                if (n <= 0) break;
                Deliver(buf, size_t(n));
            }
            break;
        case Step::StallUntilReleased: {
            std::unique_lock<std::mutex> guard(Lock);
            Changed.wait(guard, [this] { return Released; });
            break;
        }
        case Step::Close:
            close(ClientFd);
            ClientFd = -1;
            break;
        case Step::Reset: {
            linger l{1, 0}; // closing with a zero linger time sends a reset
            setsockopt(ClientFd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
            close(ClientFd);
            ClientFd = -1;
            break;
        }
        }
    }
    std::lock_guard<std::mutex> guard(Lock);
    Done = true;
    Changed.notify_all();
}

uint16_t UnusedLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = LoopbackAddress();
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

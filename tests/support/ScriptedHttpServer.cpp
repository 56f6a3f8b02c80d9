#include "ScriptedHttpServer.h"

#include "Loopback.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>

namespace {

// Waits for fd to be ready for events, giving up when the server stops.
bool WaitFor(int fd, short events, const std::atomic<bool>& stopping) {
    while (!stopping) {
        pollfd p{fd, events, 0};
        const int rc = poll(&p, 1, 50);
        if (rc > 0) return (p.revents & (POLLERR | POLLNVAL)) == 0 || (p.revents & POLLIN);
        if (rc < 0) return false;
    }
    return false;
}

void Pause(unsigned ms, const std::atomic<bool>& stopping) {
    for (unsigned waited = 0; waited < ms && !stopping; waited += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(10u, ms - waited)));
}

} // namespace

ScriptedHttpServer::ScriptedHttpServer(uint16_t port, Script script) : Plan(std::move(script)) {
    ListenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(ListenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // Taken over by the accepted connection: a small window, as on a slow line.
    if (Plan.readSlice > 0) {
        const int size = int(Plan.readSlice);
        setsockopt(ListenFd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    sockaddr_in a = LoopbackAddress(port);
    socklen_t len = sizeof a;
    if (bind(ListenFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(ListenFd, 4) != 0 ||
        getsockname(ListenFd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        close(ListenFd);
        ListenFd = -1;
        return;
    }
    ListenPort = ntohs(a.sin_port);
    Worker = std::thread([this] { Run(); });
}

ScriptedHttpServer::~ScriptedHttpServer() {
    Stopping = true;
    if (Worker.joinable()) Worker.join();
    if (ListenFd >= 0) close(ListenFd);
}

std::string ScriptedHttpServer::Head() {
    std::lock_guard<std::mutex> guard(Lock);
    return HeadBytes;
}

std::string ScriptedHttpServer::Body() {
    std::lock_guard<std::mutex> guard(Lock);
    return BodyBytes;
}

void ScriptedHttpServer::Run() {
    if (!WaitFor(ListenFd, POLLIN, Stopping)) return;
    const int fd = accept4(ListenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    std::string got;
    size_t headEnd = std::string::npos;
    size_t declared = 0;
    const size_t slice = Plan.readSlice > 0 ? Plan.readSlice : 65536;
    std::string buffer(slice, '\0');
    for (;;) {
        if (headEnd != std::string::npos && got.size() >= headEnd + declared) break;
        if (!WaitFor(fd, POLLIN, Stopping)) break;
        const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
        if (n <= 0) break;
        got.append(buffer.data(), size_t(n));
        if (headEnd == std::string::npos && (headEnd = got.find("\r\n\r\n")) != std::string::npos) {
            headEnd += 4;
            const std::string head = got.substr(0, headEnd);
            if (const size_t at = head.find("Content-length: "); at != std::string::npos)
                declared = std::strtoul(head.c_str() + at + 16, nullptr, 10);
            std::lock_guard<std::mutex> guard(Lock);
            HeadBytes = head;
        }
        if (headEnd != std::string::npos) {
            std::lock_guard<std::mutex> guard(Lock);
            BodyBytes = got.substr(headEnd);
        }
        if (Plan.readPauseMs > 0) Pause(Plan.readPauseMs, Stopping);
    }
    Answer_(fd);
    close(fd);
}

void ScriptedHttpServer::Answer_(int fd) {
    auto send1 = [&](const char* data, size_t n) {
        if (!WaitFor(fd, POLLOUT, Stopping)) return false;
        const ssize_t sent = send(fd, data, n, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) return errno == EAGAIN;
        Sent += uint64_t(sent);
        return true;
    };
    switch (Plan.answer) {
    case Answer::Reply:
        send1(Plan.text.data(), Plan.text.size());
        return;
    case Answer::Endless: {
        std::string block;
        while (block.size() < 65536) block += Plan.text;
        while (!Stopping && send1(block.data(), block.size())) {
        }
        return;
    }
    case Answer::DripThenNothing:
        for (char c : Plan.text) {
            if (Stopping || !send1(&c, 1)) return;
            Pause(Plan.dripMs, Stopping);
        }
        while (!Stopping) Pause(50, Stopping);
        return;
    }
}

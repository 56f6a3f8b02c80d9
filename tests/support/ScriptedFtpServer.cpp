#include "ScriptedFtpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace {

bool WaitReadable(int fd, const std::atomic<bool>& stopping, int maxMs = -1) {
    for (int waited = 0; !stopping && (maxMs < 0 || waited < maxMs); waited += 50) {
        pollfd p{fd, POLLIN, 0};
        const int rc = poll(&p, 1, 50);
        if (rc > 0) return true;
        if (rc < 0) return false;
    }
    return false;
}

int LoopbackListener(uint16_t& port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 4) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        throw std::runtime_error("ScriptedFtpServer: listen");
    port = ntohs(a.sin_port);
    return fd;
}

void ResetAndClose(int fd) {
    linger l{1, 0}; // a zero linger time makes the close send a reset
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    close(fd);
}

} // namespace

ScriptedFtpServer::ScriptedFtpServer(std::string banner) : Banner(std::move(banner)) {
    ListenFd = LoopbackListener(ListenPort);
    Worker = std::thread([this] { Run(); });
}

ScriptedFtpServer::~ScriptedFtpServer() {
    Stopping = true;
    Worker.join();
    for (int fd : {ControlFd, DataListenFd, ListenFd})
        if (fd >= 0) close(fd);
    for (int fd : StallFds) close(fd);
}

void ScriptedFtpServer::On(const std::string& verb, Rule rule) {
    std::lock_guard<std::mutex> guard(Lock);
    Rules[verb] = std::move(rule);
}

std::vector<std::string> ScriptedFtpServer::Commands() {
    std::lock_guard<std::mutex> guard(Lock);
    return Lines;
}

std::string ScriptedFtpServer::ControlBytes() {
    std::lock_guard<std::mutex> guard(Lock);
    return Raw;
}

std::string ScriptedFtpServer::Stored() {
    std::lock_guard<std::mutex> guard(Lock);
    return StoredBytes;
}

bool ScriptedFtpServer::WaitClosed(unsigned ms) {
    for (unsigned waited = 0; waited < ms; waited += 10) {
        {
            std::lock_guard<std::mutex> guard(Lock);
            if (Closed) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

std::string ScriptedFtpServer::Expand(std::string text) const {
    for (auto [key, value] : {std::pair<std::string, int>{"{p1}", DataListenPort >> 8},
                              std::pair<std::string, int>{"{p2}", DataListenPort & 0xFF}})
        for (size_t at; (at = text.find(key)) != std::string::npos;)
            text.replace(at, key.size(), std::to_string(value));
    return text;
}

void ScriptedFtpServer::Reply(const std::string& bytes) {
    if (ControlFd < 0) return;
    const std::string text = Expand(bytes);
    if (!Trickle) {
        send(ControlFd, text.data(), text.size(), MSG_NOSIGNAL);
        return;
    }
    for (char c : text) {
        send(ControlFd, &c, 1, MSG_NOSIGNAL);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void ScriptedFtpServer::Run() {
    while (WaitReadable(ListenFd, Stopping)) {
        ControlFd = accept(ListenFd, nullptr, nullptr);
        if (ControlFd < 0) return;
        Silent = false;
        {
            std::lock_guard<std::mutex> guard(Lock);
            Closed = false;
        }
        Serve();
    }
}

void ScriptedFtpServer::Serve() {
    Reply(Banner);
    std::string pending;
    char buf[4096];
    while (ControlFd >= 0 && WaitReadable(ControlFd, Stopping)) {
        const ssize_t n = recv(ControlFd, buf, sizeof buf, 0);
        if (n <= 0) break;
        {
            std::lock_guard<std::mutex> guard(Lock);
            Raw.append(buf, size_t(n));
        }
        pending.append(buf, size_t(n));
        for (size_t end; ControlFd >= 0 && (end = pending.find("\r\n")) != std::string::npos;) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 2);
            {
                std::lock_guard<std::mutex> guard(Lock);
                Lines.push_back(line);
            }
            if (!Silent) Handle(line);
        }
    }
    if (ControlFd >= 0) close(ControlFd);
    ControlFd = -1;
    std::lock_guard<std::mutex> guard(Lock);
    Closed = true;
}

void ScriptedFtpServer::Handle(const std::string& line) {
    const std::string verb = line.substr(0, line.find(' '));
    Rule rule;
    bool scripted = false;
    {
        std::lock_guard<std::mutex> guard(Lock);
        auto it = Rules.find(verb);
        if (it != Rules.end()) rule = it->second, scripted = true;
    }
    if (verb == "PASV" && DataListenFd < 0) DataListenFd = LoopbackListener(DataListenPort);
    if (verb == "PORT") {
        unsigned h[6] = {};
        if (std::sscanf(line.c_str(), "PORT %u,%u,%u,%u,%u,%u", &h[0], &h[1], &h[2], &h[3], &h[4],
                        &h[5]) == 6) {
            ActiveAddr = htonl((h[0] << 24) | (h[1] << 16) | (h[2] << 8) | h[3]);
            ActivePort = uint16_t(h[4] * 256 + h[5]);
        }
    }
    if (!scripted) {
        static const std::map<std::string, std::string> defaults = {
            {"USER", "331 Password required\r\n"},
            {"PASS", "230 Logged in\r\n"},
            {"TYPE", "200 Type set\r\n"},
            {"MKD", "257 \"/dir\" created\r\n"},
            {"CWD", "250 \"/dir\" is the current directory\r\n"},
            {"PWD", "257 \"/dir\"\r\n"},
            {"PASV", "227 Entering Passive Mode (127,0,0,1,{p1},{p2}).\r\n"},
            {"PORT", "200 PORT command successful\r\n"},
            {"STOR", "150 Opening data connection\r\n"},
            {"APPE", "150 Opening data connection\r\n"},
            {"RETR", "150 Opening data connection\r\n"},
            {"LIST", "150 Opening data connection\r\n"},
            {"NLST", "150 Opening data connection\r\n"},
            {"SIZE", "213 1234\r\n"},
            {"SYST", "215 UNIX Type: L8\r\n"},
            {"QUIT", "221 Goodbye\r\n"},
            {"DELE", "250 File removed\r\n"},
        };
        auto it = defaults.find(verb);
        rule.reply = it != defaults.end() ? it->second : "502 Not implemented\r\n";
        rule.closeAfter = verb == "QUIT";
    }
    if (rule.stall) {
        Silent = true;
        return;
    }
    const bool transfer =
        verb == "STOR" || verb == "APPE" || verb == "RETR" || verb == "LIST" || verb == "NLST";
    if (transfer) return Transfer(verb, rule);
    if (verb == "PORT" && ConnectOnPort && EarlyDataFd < 0) {
        // Connected before the reply, as pyftpdlib does; the pause lets the
        // client see the connection first.
        EarlyDataFd = OpenDataConnection();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    Reply(rule.reply);
    if (rule.reset) {
        ResetAndClose(ControlFd);
        ControlFd = -1;
        return;
    }
    if (rule.closeAfter) {
        close(ControlFd);
        ControlFd = -1;
    }
}

int ScriptedFtpServer::OpenDataConnection() {
    if (ActivePort == 0) {
        if (DataListenFd < 0 || !WaitReadable(DataListenFd, Stopping, 5000)) return -1;
        return accept(DataListenFd, nullptr, nullptr);
    }
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (DataReceiveBuffer > 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &DataReceiveBuffer, sizeof DataReceiveBuffer);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = ActiveAddr;
    a.sin_port = htons(ActivePort);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void ScriptedFtpServer::Transfer(const std::string& verb, const Rule& rule) {
    const bool upload = verb == "STOR" || verb == "APPE";
    const bool active = ActivePort != 0;
    int data = EarlyDataFd;
    EarlyDataFd = -1;
    if (data < 0 && DataMode != Data::NeverConnect && (!active || ConnectBeforeFirstReply))
        data = OpenDataConnection();
    Reply(rule.reply);
    if (rule.reply.empty() || rule.reply[0] != '1') {
        if (data >= 0) close(data);
        return;
    }
    if (DataMode == Data::NeverConnect) return Reply(FinalReply);
    if (data < 0) data = OpenDataConnection();
    if (data < 0) return Reply("425 Cannot open data connection\r\n");
    if (DataReceiveBuffer > 0)
        setsockopt(data, SOL_SOCKET, SO_RCVBUF, &DataReceiveBuffer, sizeof DataReceiveBuffer);
    if (DataMode == Data::Stall) {
        Silent = true;
        std::lock_guard<std::mutex> guard(Lock);
        StoredBytes.clear();
        StallFds.push_back(data); // kept open and unread until the server stops
        return;
    }
    std::string got;
    char buf[65536];
    if (upload) {
        const bool cut =
            DataMode == Data::CutAfterFirstBlock || DataMode == Data::ResetAfterFirstBlock;
        while (WaitReadable(data, Stopping, 10000)) {
            const ssize_t n = recv(data, buf, sizeof buf, 0);
            if (n <= 0) break;
            got.append(buf, size_t(n));
            if (cut) break;
            if (StopReadingAfter > 0 && got.size() >= StopReadingAfter) {
                Silent = true;
                std::lock_guard<std::mutex> guard(Lock);
                StoredBytes = got;
                StallFds.push_back(data);
                return;
            }
        }
    } else {
        send(data, DownloadBytes.data(), DownloadBytes.size(), MSG_NOSIGNAL);
    }
    {
        std::lock_guard<std::mutex> guard(Lock);
        if (upload) StoredBytes = got;
    }
    if (DataMode == Data::ResetAfterFirstBlock) {
        ResetAndClose(data);
        close(ControlFd);
        ControlFd = -1;
        return;
    }
    close(data);
    Reply(FinalReply);
}

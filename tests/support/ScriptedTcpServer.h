// A TCP peer on 127.0.0.1 that plays a fixed script on its own thread with
// blocking calls: send, wait, read, stall, close or reset. It accepts one
// connection, records what it received, and lets a test release a stall.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ScriptedTcpServer {
public:
    struct Step {
        enum Kind {
            Send,
            SendForever,
            SleepMs,
            ReadBytes,
            ReadUntilClose,
            StallUntilReleased,
            Close,
            Reset
        };
        Kind kind;
        std::string bytes; // Send, SendForever
        size_t count = 0;  // SleepMs, ReadBytes
    };
    static Step Send(std::string b) { return {Step::Send, std::move(b), 0}; }
    // The bytes again and again, until the client closes.
    static Step SendForever(std::string b) { return {Step::SendForever, std::move(b), 0}; }
    static Step Sleep(size_t ms) { return {Step::SleepMs, {}, ms}; }
    static Step Read(size_t n) { return {Step::ReadBytes, {}, n}; }
    static Step ReadUntilClose() { return {Step::ReadUntilClose, {}, 0}; }
    static Step Stall() { return {Step::StallUntilReleased, {}, 0}; }
    static Step Close() { return {Step::Close, {}, 0}; }
    static Step Reset() { return {Step::Reset, {}, 0}; }

    // Listens at once; the script starts when a client connects.
    explicit ScriptedTcpServer(std::vector<Step> script, int receiveBuffer = 0);
    ~ScriptedTcpServer();

    uint16_t Port() const { return ListenPort; }
    std::string PortText() const { return std::to_string(ListenPort); }
    // Ends a Stall step.
    void Release();
    // Waits up to ms for the script to finish.
    bool WaitDone(unsigned ms);
    std::string Received();

private:
    void Run();
    void Deliver(const char* data, size_t n);

    std::vector<Step> Script;
    int ListenFd = -1;
    int ClientFd = -1;
    uint16_t ListenPort = 0;
    int ReceiveBuffer;
    std::mutex Lock;
    std::condition_variable Changed;
    bool Released = false;
    bool Done = false;
    std::atomic<bool> Stopping{false};
    std::string Bytes;
    std::thread Worker;
};

// A loopback port that nothing listens on: bound, read back and closed again.
// Connecting to it is refused; a server may take it.
uint16_t UnusedLoopbackPort();

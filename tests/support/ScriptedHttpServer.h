// An HTTP peer on 127.0.0.1 for one request: it reads the request head and
// the declared body (as fast as it can, or a slice at a time like a slow
// line), records it, and then answers in one of the ways a real or hostile
// server does: a fixed reply, an answer that never ends, or one that drips.
// It runs on its own thread with blocking calls and stops with the object.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

class ScriptedHttpServer {
public:
    enum class Answer {
        Reply,           // send Text, then close
        Endless,         // Text again and again until the client goes
        DripThenNothing, // Text one byte every DripMs, never closing
    };
    struct Script {
        Answer answer = Answer::Reply;
        std::string text;
        // Read the body ReadSlice bytes at a time with ReadPauseMs between
        // slices (0: at once); SO_RCVBUF is set to ReadSlice as well.
        size_t readSlice = 0;
        unsigned readPauseMs = 0;
        unsigned dripMs = 1000;
    };

    // Listens on port (0: any free one); Listening() says whether it could.
    ScriptedHttpServer(uint16_t port, Script script);
    ~ScriptedHttpServer();
    ScriptedHttpServer(const ScriptedHttpServer&) = delete;
    ScriptedHttpServer& operator=(const ScriptedHttpServer&) = delete;

    bool Listening() const { return ListenFd >= 0; }
    uint16_t Port() const { return ListenPort; }
    // The request head and body as received so far.
    std::string Head();
    std::string Body();
    // Bytes of the answer the client took before it went away.
    uint64_t AnswerBytesSent() const { return Sent; }

private:
    void Run();
    void Answer_(int fd);

    Script Plan;
    int ListenFd = -1;
    uint16_t ListenPort = 0;
    std::mutex Lock;
    std::string HeadBytes, BodyBytes;
    std::atomic<uint64_t> Sent{0};
    std::atomic<bool> Stopping{false};
    std::thread Worker;
};

// A real slow line for tests and benchmarks: a network namespace joined to
// ours by a veth pair, whose end on our side sends through a token-bucket
// filter (tc tbf) at a fixed rate. Data towards PeerAddress() crosses it at
// that rate, in real TCP segments with real acknowledgements, as an upload
// over a slow upstream line would; what comes back is not limited.
//
//   RateLimitedLine line(200 * 1000);
//   if (!line.Running()) GTEST_SKIP() << line.Error();
//   PyFtpdServer server(FtpTls::None, {}, {}, &line); // on line.PeerAddress()
//
// Needs root and iproute2 (ip, tc). The namespace lives as long as a child
// process that holds it, so nothing outlives the object, even a crash: the
// kernel removes the namespace and the veth pair with the last process.
#pragma once

#include <string>
#include <sys/types.h>

class RateLimitedLine {
public:
    static bool Available();
    explicit RateLimitedLine(int bytesPerSecond);
    ~RateLimitedLine();
    RateLimitedLine(const RateLimitedLine&) = delete;
    RateLimitedLine& operator=(const RateLimitedLine&) = delete;

    bool Running() const { return Holder > 0 && Failure.empty(); }
    const std::string& Error() const { return Failure; }
    int Rate() const { return BytesPerSecond; }
    // Our end's address, and the one inside the namespace.
    const std::string& LocalAddress() const { return Local; }
    const std::string& PeerAddress() const { return Peer; }
    // The namespace's file, for setns() in a process that should run inside.
    std::string NamespacePath() const;

private:
    bool Run(const std::string& command);

    int BytesPerSecond;
    pid_t Holder = -1;
    std::string Local, Peer;
    std::string Failure;
};

// Throughput of TWSocket over loopback, sending and receiving 100 MB, against
// a plain blocking socket loop moving the same bytes in the same run; and the
// CPU an idle wait for a flag costs.
#include "Messages.h"
#include "WSocket.h"

#include "RatioReporter.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int64_t Total = 100 * 1000 * 1000;
constexpr int Piece = 64 * 1024;

// A listening loopback socket on a free port.
struct Listener {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int port = 0;
    Listener() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd, 4);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~Listener() { ::close(fd); }
};

int ConnectPlain(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    return fd;
}

// The peer that reads everything, or writes Total bytes, with blocking calls.
void DrainPeer(int listenFd) {
    int fd = ::accept(listenFd, nullptr, nullptr);
    std::vector<char> buf(Piece);
    while (::recv(fd, buf.data(), buf.size(), 0) > 0) {
    }
    ::close(fd);
}

void FeedPeer(int listenFd) {
    int fd = ::accept(listenFd, nullptr, nullptr);
    std::vector<char> buf(Piece, 'x');
    for (int64_t sent = 0; sent < Total;) {
        ssize_t n =
            ::send(fd, buf.data(), size_t(std::min<int64_t>(Piece, Total - sent)), MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += n;
    }
    ::close(fd);
}

void BM_PlainSend(benchmark::State& state) {
    std::vector<char> buf(Piece, 'x');
    for (auto _ : state) {
        Listener l;
        std::thread peer(DrainPeer, l.fd);
        int fd = ConnectPlain(l.port);
        for (int64_t sent = 0; sent < Total;) sent += ::send(fd, buf.data(), Piece, MSG_NOSIGNAL);
        ::close(fd);
        peer.join();
    }
    state.SetBytesProcessed(state.iterations() * Total);
}
BENCHMARK(BM_PlainSend)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_WSocketSend(benchmark::State& state) {
    std::vector<char> buf(Piece, 'x');
    for (auto _ : state) {
        Listener l;
        std::thread peer(DrainPeer, l.fd);
        TWSocket s;
        int64_t queued = 0;
        bool done = false;
        auto more = [&](TCustomWSocket*, uint16_t) {
            if (queued >= Total) {
                done = true;
                return;
            }
            queued += Piece;
            s.Send(buf.data(), Piece);
        };
        s.OnSessionConnected = more;
        s.OnDataSent = more; // the queue has drained: hand over the next piece
        s.SetAddr("127.0.0.1");
        s.SetPort(std::to_string(l.port));
        s.SetProto("tcp");
        s.Connect();
        while (!done) platform::waitForMessages(100);
        s.Close();
        peer.join();
    }
    state.SetBytesProcessed(state.iterations() * Total);
}
BENCHMARK(BM_WSocketSend)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_PlainReceive(benchmark::State& state) {
    std::vector<char> buf(Piece);
    for (auto _ : state) {
        Listener l;
        std::thread peer(FeedPeer, l.fd);
        int fd = ConnectPlain(l.port);
        int64_t got = 0;
        for (ssize_t n; (n = ::recv(fd, buf.data(), buf.size(), 0)) > 0;) got += n;
        benchmark::DoNotOptimize(got);
        ::close(fd);
        peer.join();
    }
    state.SetBytesProcessed(state.iterations() * Total);
}
BENCHMARK(BM_PlainReceive)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_WSocketReceive(benchmark::State& state) {
    std::vector<char> buf(Piece);
    for (auto _ : state) {
        Listener l;
        std::thread peer(FeedPeer, l.fd);
        TWSocket s;
        int64_t got = 0;
        bool closed = false;
        s.OnDataAvailable = [&](TCustomWSocket* sender, uint16_t) {
            for (int n; (n = sender->Receive(buf.data(), int(buf.size()))) > 0;) got += n;
        };
        s.OnSessionClosed = [&](TCustomWSocket*, uint16_t) { closed = true; };
        s.SetAddr("127.0.0.1");
        s.SetPort(std::to_string(l.port));
        s.SetProto("tcp");
        s.Connect();
        while (!closed) platform::waitForMessages(100);
        if (got != Total) state.SkipWithError("bytes lost");
        peer.join();
    }
    state.SetBytesProcessed(state.iterations() * Total);
}
BENCHMARK(BM_WSocketReceive)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// CPU seconds spent while waiting five seconds for a flag a timer sets.
double IdleWaitCpu() {
    bool flag = false;
    QTimer::singleShot(5000, [&] { flag = true; });
    const std::clock_t start = std::clock();
    while (!flag) platform::waitForMessages(1000);
    return double(std::clock() - start) / CLOCKS_PER_SEC;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto& t = reporter.Times;
    auto ratio = [&](const char* ours, const char* plain, const char* what) {
        auto a = t.find(ours), b = t.find(plain);
        if (a != t.end() && b != t.end() && a->second > 0)
            std::printf("%s throughput, TWSocket / plain blocking loop = %.2f\n", what,
                        b->second / a->second);
    };
    std::printf("\nRatios (higher is faster):\n");
    ratio("BM_WSocketSend/iterations:3/real_time", "BM_PlainSend/iterations:3/real_time", "Send");
    ratio("BM_WSocketReceive/iterations:3/real_time", "BM_PlainReceive/iterations:3/real_time",
          "Receive");
    const double cpu = IdleWaitCpu();
    std::printf("Idle wait of 5 s for a flag: %.3f s of CPU (%.2f %% of a core)\n", cpu,
                cpu / 5 * 100);
    benchmark::Shutdown();
    return 0;
}

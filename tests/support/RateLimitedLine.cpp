#include "RateLimitedLine.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

bool RateLimitedLine::Available() {
    return geteuid() == 0 &&
           std::system("{ command -v ip && command -v tc && command -v nsenter; } "
                       ">/dev/null 2>&1") == 0;
}

RateLimitedLine::RateLimitedLine(int bytesPerSecond) : BytesPerSecond(bytesPerSecond) {
    if (!Available()) {
        Failure = "a slow line needs root, ip, tc and nsenter (iproute2, util-linux)";
        return;
    }
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) {
        Failure = "pipe failed";
        return;
    }
    Holder = fork();
    if (Holder == 0) {
        const char ok = unshare(CLONE_NEWNET) == 0 ? 'y' : 'n';
        (void)!write(ready[1], &ok, 1);
        for (;;) pause();
    }
    close(ready[1]);
    char ok = 'n';
    const bool told = Holder > 0 && read(ready[0], &ok, 1) == 1;
    close(ready[0]);
    if (!told || ok != 'y') {
        Failure = "cannot make a network namespace";
        return;
    }
    // Names and a /30 of their own, so that any number of lines may exist at once.
    const unsigned n = unsigned(Holder) % 16000;
    const std::string net =
        "10." + std::to_string(64 + n / 16384) + "." + std::to_string(n * 4 / 256 % 256) + ".";
    Local = net + std::to_string(n * 4 % 256 + 1);
    Peer = net + std::to_string(n * 4 % 256 + 2);
    const std::string ours = "brwk" + std::to_string(Holder) + "a";
    const std::string theirs = "brwk" + std::to_string(Holder) + "b";
    const std::string inside = "nsenter -t " + std::to_string(Holder) + " -n ";
    // The bucket holds a few segments: a burst longer than that would let a
    // sender run ahead of the rate.
    const std::string rate = std::to_string(bytesPerSecond * 8) + "bit";
    if (!Run("ip link add " + ours + " type veth peer name " + theirs + " netns " +
             std::to_string(Holder)) ||
        !Run("ip addr add " + Local + "/30 dev " + ours) || !Run("ip link set " + ours + " up") ||
        !Run(inside + "ip addr add " + Peer + "/30 dev " + theirs) ||
        !Run(inside + "ip link set " + theirs + " up") || !Run(inside + "ip link set lo up") ||
        !Run("tc qdisc add dev " + ours + " root tbf rate " + rate + " burst 16kb latency 200ms"))
        return;
}

RateLimitedLine::~RateLimitedLine() {
    if (Holder <= 0) return;
    kill(Holder, SIGKILL);
    int status = 0;
    waitpid(Holder, &status, 0);
}

std::string RateLimitedLine::NamespacePath() const {
    return "/proc/" + std::to_string(Holder) + "/ns/net";
}

bool RateLimitedLine::Run(const std::string& command) {
    if (std::system((command + " >/dev/null 2>&1").c_str()) == 0) return true;
    Failure = "failed: " + command;
    return false;
}

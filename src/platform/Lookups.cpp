// Host, service and protocol lookups. Asynchronous lookups run on detached
// worker threads and report to a relay window on the event-loop thread; the
// relay looks the job up again before delivering, so a cancelled lookup never
// reaches its window, even when its worker had already finished.
#include "Sockets.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <cstring>
#include <map>
#include <mutex>
#include <thread>

namespace platform {
namespace {

int ResolverCode(int herr) {
    switch (herr) {
    case HOST_NOT_FOUND:
        return WSAHOST_NOT_FOUND;
    case TRY_AGAIN:
        return WSATRY_AGAIN;
    case NO_RECOVERY:
        return WSANO_RECOVERY;
    case NO_DATA:
        return WSANO_DATA;
    default:
        return WSANO_RECOVERY;
    }
}

int FillRecord(const hostent* h, HostRecord& record) {
    if (!h || h->h_addrtype != AF_INET || h->h_length != 4) return WSANO_DATA;
    record.name = h->h_name ? h->h_name : "";
    record.addresses.clear();
    for (char** a = h->h_addr_list; a && *a; ++a) {
        uint32_t addr;
        std::memcpy(&addr, *a, 4);
        record.addresses.push_back(addr);
    }
    return 0;
}

template <typename Call> int Resolve(Call call, HostRecord& record) {
    std::vector<char> scratch(8192);
    hostent entry{};
    hostent* found = nullptr;
    int herr = 0;
    for (;;) {
        const int rc = call(&entry, scratch.data(), scratch.size(), &found, &herr);
        if (rc == ERANGE && scratch.size() < (1u << 20)) {
            scratch.resize(scratch.size() * 2);
            continue;
        }
        if (rc != 0 || !found) return ResolverCode(herr ? herr : HOST_NOT_FOUND);
        return FillRecord(found, record);
    }
}

struct Job {
    WindowId window;
    unsigned msg;
    std::shared_ptr<HostRecord> into;
    HostRecord result;
    int error = 0;
};

constexpr unsigned RelayMessage = WM_USER + 1;

struct Lookups {
    std::mutex lock;
    std::map<LookupHandle, std::shared_ptr<Job>> running;
    LookupHandle lastHandle = 0;
    WindowId relay = 0;
};

Lookups& State() {
    static auto* state = new Lookups; // workers may outlive every other object
    return *state;
}

intptr_t Relay(unsigned, uintptr_t handle, intptr_t) {
    std::shared_ptr<Job> job;
    {
        Lookups& s = State();
        std::lock_guard<std::mutex> guard(s.lock);
        auto it = s.running.find(handle);
        if (it == s.running.end()) return 0; // cancelled meanwhile
        job = std::move(it->second);
        s.running.erase(it);
    }
    if (job->error == 0) *job->into = job->result;
    sendMessage(job->window, job->msg, handle, intptr_t(long(job->error) << 16));
    return 0;
}

template <typename Work>
LookupHandle Start(WindowId window, unsigned msg, std::shared_ptr<HostRecord> into, Work work) {
    if (!into || !isMessageWindow(window)) {
        setLastError(WSAEINVAL);
        return 0;
    }
    Lookups& s = State();
    auto job = std::make_shared<Job>();
    job->window = window;
    job->msg = msg;
    job->into = std::move(into);
    LookupHandle handle;
    WindowId relay;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        if (!s.relay) s.relay = createMessageWindow(Relay);
        relay = s.relay;
        handle = ++s.lastHandle;
        s.running[handle] = job;
    }
    // The worker keeps only its own job alive; a cancel drops the relay's copy.
    std::thread([job, handle, relay, work] {
        job->error = work(job->result);
        postMessage(relay, RelayMessage, handle, 0);
    }).detach();
    return handle;
}

} // namespace

int hostByName(const std::string& name, HostRecord& record) {
    return Resolve([&](hostent* e, char* b, size_t n, hostent** f,
                       int* h) { return gethostbyname_r(name.c_str(), e, b, n, f, h); },
                   record);
}

int hostByAddress(uint32_t netAddr, HostRecord& record) {
    return Resolve([&](hostent* e, char* b, size_t n, hostent** f,
                       int* h) { return gethostbyaddr_r(&netAddr, 4, AF_INET, e, b, n, f, h); },
                   record);
}

int serviceByName(const std::string& name, const std::string& proto, uint16_t& port) {
    servent entry{};
    servent* found = nullptr;
    char scratch[4096];
    if (getservbyname_r(name.c_str(), proto.c_str(), &entry, scratch, sizeof scratch, &found) ==
            0 &&
        found) {
        port = ntohs(uint16_t(found->s_port));
        return 0;
    }
    // Minimal systems ship without /etc/services; the clients need these two.
    if (name == "ftp")
        port = 21;
    else if (name == "http")
        port = 80;
    else
        return WSANO_DATA;
    return 0;
}

int protocolByName(const std::string& name, int& number) {
    protoent entry{};
    protoent* found = nullptr;
    char scratch[4096];
    if (getprotobyname_r(name.c_str(), &entry, scratch, sizeof scratch, &found) == 0 && found) {
        number = found->p_proto;
        return 0;
    }
    static const std::map<std::string, int> known = {
        {"ip", 0}, {"icmp", 1}, {"tcp", 6}, {"udp", 17}};
    auto it = known.find(name);
    if (it == known.end()) return WSANO_DATA;
    number = it->second;
    return 0;
}

LookupHandle asyncHostByName(WindowId window, unsigned msg, const std::string& name,
                             std::shared_ptr<HostRecord> into) {
    return Start(window, msg, std::move(into),
                 [name](HostRecord& r) { return hostByName(name, r); });
}

LookupHandle asyncHostByAddress(WindowId window, unsigned msg, uint32_t netAddr,
                                std::shared_ptr<HostRecord> into) {
    return Start(window, msg, std::move(into),
                 [netAddr](HostRecord& r) { return hostByAddress(netAddr, r); });
}

int cancelLookup(LookupHandle handle) {
    Lookups& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.running.erase(handle) == 0) {
        setLastError(WSAEINVAL);
        return SOCKET_ERROR;
    }
    return 0;
}

} // namespace platform

#include "Random.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <sys/random.h>

namespace platform {
namespace {

uint32_t state = 0;
bool seeded = false;

void SeedOnce() {
    if (seeded) return;
    uint8_t bytes[sizeof state];
    SystemRandomBytes(bytes, sizeof bytes);
    std::memcpy(&state, bytes, sizeof state);
    seeded = true;
}

} // namespace

uint32_t RandomDraw(uint32_t range) {
    SeedOnce();
    state = state * 134775813u + 1u;
    return uint32_t((uint64_t(state) * range) >> 32);
}

uint32_t RandomState() {
    SeedOnce();
    return state;
}
void SetRandomState(uint32_t s) {
    state = s;
    seeded = true;
}

void SystemRandomBytes(uint8_t* out, size_t count) {
    while (count > 0) {
        const ssize_t got = ::getrandom(out, count, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) throw std::runtime_error("The system's random source cannot be read.");
        out += got;
        count -= size_t(got);
    }
}

} // namespace platform

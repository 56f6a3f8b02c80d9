#include "Random.h"

namespace platform {
namespace {
uint32_t state = 0;
}

uint32_t RandomDraw(uint32_t range) {
    state = state * 134775813u + 1u;
    return uint32_t((uint64_t(state) * range) >> 32);
}

uint32_t RandomState() {
    return state;
}
void SetRandomState(uint32_t s) {
    state = s;
}

} // namespace platform

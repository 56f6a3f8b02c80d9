// The program's one pseudo-random generator: a 32-bit linear congruential
// generator that starts from state 0 in every run and is never seeded, so
// every run draws the same sequence.
#pragma once

#include <cstdint>

namespace platform {

// A number in 0 .. range-1 from the next state (0 for a range of 0).
uint32_t RandomDraw(uint32_t range);
uint32_t RandomState();
void SetRandomState(uint32_t state);

} // namespace platform

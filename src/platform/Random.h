// The program's one pseudo-random generator: a 32-bit linear congruential
// generator that starts from state 0 in every run and is never seeded, so
// every run draws the same sequence.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// A number in 0 .. range-1 from the next state (0 for a range of 0).
uint32_t RandomDraw(uint32_t range);
uint32_t RandomState();
void SetRandomState(uint32_t state);

// Fills out with bytes from the system's random source, for secrets; the
// generator above is left alone. Raises std::runtime_error if none is to be had.
void SystemRandomBytes(uint8_t* out, size_t count);

} // namespace platform

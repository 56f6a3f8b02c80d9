// The program's one pseudo-random generator: a 32-bit linear congruential
// generator. Its start state comes from the system's random source once per
// process, at the first draw, so that runs do not repeat each other's
// numbers (and file names made from them).
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// A number in 0 .. range-1 from the next state (0 for a range of 0).
// Raises std::runtime_error when the start state cannot be had.
uint32_t RandomDraw(uint32_t range);
uint32_t RandomState();
// Fixes the state; the process's seed is then never drawn.
void SetRandomState(uint32_t state);

// Fills out with bytes from the system's random source, for secrets; the
// generator above is left alone. Raises std::runtime_error if none is to be had.
void SystemRandomBytes(uint8_t* out, size_t count);

} // namespace platform

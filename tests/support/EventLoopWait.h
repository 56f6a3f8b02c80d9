// Waiting in tests: runs the event loop until a condition holds, with a
// watchdog, so a test fails instead of hanging.
#pragma once

#include "Messages.h"

#include <chrono>
#include <functional>

// Runs the event loop until done() holds; false when the watchdog expired.
inline bool PumpUntil(const std::function<bool()>& done, int ms = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        platform::waitForMessages(20);
    }
    return true;
}

// Lets everything already queued run, for checks that nothing more arrives.
inline void PumpBriefly(int ms = 100) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) platform::waitForMessages(10);
}

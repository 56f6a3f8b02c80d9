// The test process's own memory, for the cases that show a hostile peer
// cannot make it grow without bound.
#pragma once

#include <fstream>
#include <string>

// What a bounded case may reach: an unbounded one reaches gigabytes.
// AddressSanitizer's shadow and quarantine add tens of megabytes.
#ifdef __SANITIZE_ADDRESS__
constexpr long MemoryBoundMiB = 400;
#else
constexpr long MemoryBoundMiB = 100;
#endif

// A field of /proc/self/status in MiB ("VmRSS:" now, "VmHWM:" the peak); -1
// when it cannot be read.
inline long ProcessMemoryMiB(const std::string& field) {
    std::ifstream status("/proc/self/status");
    for (std::string key; status >> key;) {
        long kib = 0;
        if (key == field && status >> kib) return kib / 1024;
    }
    return -1;
}

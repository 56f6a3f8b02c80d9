// The Qt progress window behind Dialogs::ShowProgress.
#pragma once

#include "Dialogs.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>

namespace platform {

std::unique_ptr<Progress> CreateProgressWindow(const std::string& caption);

// "<sent> of <total>, <rate>/s" in bytes, KB or MB (1024 based); the rate
// is left out until some time has passed.
std::string ProgressText(uint64_t sent, uint64_t total, uint64_t elapsedMs);
// The same with the rate taken over the last recentMs, in which recentBytes went.
std::string ProgressText(uint64_t sent, uint64_t total, uint64_t recentBytes, uint64_t recentMs);

// The rate a progress window shows: that of the last few seconds, since the
// first bytes of an upload go into buffers at once and would flatter an
// average over the whole transfer.
class TransferRate {
public:
    // Records sent bytes at nowMs (from the first report on) and gives the
    // window's text for them.
    std::string Report(int64_t nowMs, uint64_t sent, uint64_t total);
    // Bytes a second in the last text; 0 while it shows no rate.
    uint64_t BytesPerSecond() const { return rate_; }

private:
    std::deque<std::pair<int64_t, uint64_t>> recent_;
    uint64_t rate_ = 0;
};

} // namespace platform

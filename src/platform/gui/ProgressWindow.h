// The Qt progress window behind Dialogs::ShowProgress.
#pragma once

#include "Dialogs.h"

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

std::unique_ptr<Progress> CreateProgressWindow(const std::string& caption);

// "<sent> of <total>, <rate>/s" in bytes, KB or MB (1024 based); the rate
// is left out until some time has passed.
std::string ProgressText(uint64_t sent, uint64_t total, uint64_t elapsedMs);
// The same with the rate taken over the last recentMs, in which recentBytes went.
std::string ProgressText(uint64_t sent, uint64_t total, uint64_t recentBytes, uint64_t recentMs);

} // namespace platform

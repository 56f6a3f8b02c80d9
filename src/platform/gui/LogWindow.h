// The Qt log window behind Dialogs::ShowLog.
#pragma once

#include "Dialogs.h"

#include <memory>
#include <string>

namespace platform {

std::unique_ptr<Log> CreateLogWindow(const std::string& caption);

} // namespace platform

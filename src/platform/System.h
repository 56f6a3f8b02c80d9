// Files and time: the few operating-system services the program needs
// besides windows and sockets.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// $TMPDIR, else /tmp, always ending with '/'.
std::string TempDirectory();
bool FileExists(const std::string& path);
// Removes a file; a missing file or any other failure is ignored.
void DeleteFileQuietly(const std::string& path);
// Milliseconds from a steady clock, wrapping at 2^32.
uint32_t TickCount();
void SleepMs(unsigned ms);

} // namespace platform

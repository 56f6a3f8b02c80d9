// Files and time: the few operating-system services the program needs
// besides windows and sockets.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

namespace platform {

// The private working directory cannot be used; the text names the path and
// says why.
class EWorkingDirectory : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The user's own working directory for captures and saved pictures:
// $XDG_CACHE_HOME/Brindlewick/ (else ~/.cache/Brindlewick/), always ending
// with '/'. Created with mode 0700 when missing. Raises EWorkingDirectory
// when it is a link, not a directory, not the user's, or open to others.
std::string TempDirectory();
// Creates the folder and every missing parent, each new one 0700 whatever
// the umask: they may hold captures or the settings.
void MakePrivateFolders(const std::string& path);
// Why the folder cannot keep the user's files, as a clause ("it is a
// symbolic link", "other users can open it; ..."), or "" when it is a
// folder of the user's own that no one else can open.
std::string PrivateFolderProblem(const std::string& path);
bool FileExists(const std::string& path);
// Removes a file; a missing file or any other failure is ignored.
void DeleteFileQuietly(const std::string& path);
// Writes the bytes to a new file beside path (mode 0600) and renames it over
// path, so a link standing at path is replaced, never followed, and readers
// never see half a file. False (errno set, nothing left behind) on failure.
bool WritePrivateFile(const std::string& path, std::span<const uint8_t> bytes);
// Milliseconds from a steady clock, wrapping at 2^32.
uint32_t TickCount();
void SleepMs(unsigned ms);

} // namespace platform

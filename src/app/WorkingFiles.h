// The working capture file (the one current capture) and the names of
// exported captures.
#pragma once

#include <string>

// The user's private working directory (platform::TempDirectory); raises
// platform::EWorkingDirectory when it cannot be used.
std::string TempDirectory();
std::string WorkingFilePath();
// False as well when the working directory cannot be used.
bool WorkingFileExists();
// Any failure, a missing file included, is ignored.
void DeleteWorkingFile();

// "screencap" + MMDDYY + HHMMSS + three draws of 0..65535, without an
// extension. Switches the program's date and time formats to MMddyy and
// HHmmss for the rest of the run.
std::string GenerateFileName();

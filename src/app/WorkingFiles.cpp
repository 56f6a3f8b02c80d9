#include "WorkingFiles.h"

#include "DateFormats.h"
#include "Random.h"
#include "System.h"

std::string TempDirectory() {
    return platform::TempDirectory();
}

std::string WorkingFilePath() {
    return TempDirectory() + "brindlewick_temp.bmp";
}

bool WorkingFileExists() {
    // Nothing in a working directory the program refuses counts as a capture.
    try {
        return platform::FileExists(WorkingFilePath());
    } catch (const platform::EWorkingDirectory&) {
        return false;
    }
}

void DeleteWorkingFile() {
    try {
        platform::DeleteFileQuietly(WorkingFilePath());
    } catch (const platform::EWorkingDirectory&) {
    }
}

std::string GenerateFileName() {
    platform::SetDateFormats("MMddyy", "HHmmss");
    std::string date = platform::CurrentDateText();
    std::string time = platform::CurrentTimeText();
    std::string name = "screencap" + date + time;
    for (int i = 0; i < 3; ++i) name += std::to_string(platform::RandomDraw(65536));
    return name;
}

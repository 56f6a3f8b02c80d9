#include "CaptureImage.h"

#include "FastDIB.h"
#include "WorkingFiles.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

int CaptureDepth(int screenDepth) {
    if (screenDepth <= 0) return 32;
    if (screenDepth <= 1) return 1;
    if (screenDepth <= 8) return 8;
    if (screenDepth <= 16) return 16;
    return 32; // 24-bit displays keep their pixels in 32-bit words
}

int ClipboardDepth(const QImage& picture) {
    switch (picture.depth()) {
    case 1:
        return 1;
    case 8:
        return 8;
    case 16:
        return 16;
    case 24:
        return 24;
    default:
        return 32;
    }
}

void WriteWorkingFile(const TFastDIB& bitmap) {
    errno = 0;
    if (bitmap.SaveBitmapFile(WorkingFilePath())) return;
    std::string reason = errno ? std::string(". ") + std::strerror(errno) : std::string();
    throw std::runtime_error("Cannot create file \"" + WorkingFilePath() + "\"" + reason);
}

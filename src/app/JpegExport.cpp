#include "JpegExport.h"

#include "FastDIB.h"
#include "JpegEncoder.h"
#include "RgbRows.h"
#include "System.h"

#include <cerrno>
#include <cstring>

namespace {

// The buffers of one export, kept for the next: the working capture has the
// same size from one export to the next, and fresh memory is slow to touch.
struct ExportBuffers {
    TFastDIB Picture;
    TJpegEncoder Encoder;
};

ExportBuffers& Buffers() {
    static ExportBuffers buffers;
    return buffers;
}

void ReadLine(const void* context, int y, uint8_t* rgb) noexcept {
    static_cast<const TRgbRows*>(context)->Line(y, rgb);
}

void WriteWhole(const std::string& path, std::span<const uint8_t> bytes) {
    // A private file beside the destination, renamed over it: a failed write
    // leaves no half picture, and a link at the name is replaced, not followed.
    if (!platform::WritePrivateFile(path, bytes))
        throw EExportError("Cannot write the file " + path + ": " + std::strerror(errno));
}

} // namespace

bool ConvertBmpToJpeg(const std::string& source, const std::string& destination) {
    ExportBuffers& buffers = Buffers();
    TFastDIB& picture = buffers.Picture;
    // An empty picture would make an empty file with a .jpg name: refused.
    if (!picture.LoadBitmapFile(source) || picture.Empty())
        throw EExportError("Cannot read a picture from the file " + source + ". " +
                           picture.LoadError);
    const TRgbRows rows(picture);
    auto bytes = buffers.Encoder.Encode(rows.Width(), rows.Lines(), ReadLine, &rows);
    WriteWhole(destination, bytes);
    return true;
}

std::string ExpandLongPath(const std::string& path) {
    if (path.find("//") != std::string::npos || path.find_first_of("*?") != std::string::npos ||
        !platform::FileExists(path))
        return {};
    return path;
}

std::string ExportFilePath(const std::string& name) {
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of(std::string("/\0", 2)) != std::string::npos)
        throw EExportError("Not a valid file name: \"" + name + "\"");
    return platform::TempDirectory() + name;
}

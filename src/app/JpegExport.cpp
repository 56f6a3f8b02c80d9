#include "JpegExport.h"

#include "FastDIB.h"
#include "JpegEncoder.h"
#include "MappedFile.h"
#include "RgbRows.h"
#include "System.h"

#include <cerrno>
#include <cstring>

namespace {

// The codec's buffers, kept for the next export: the working capture has the
// same size from one export to the next, and fresh memory is slow to touch.
struct ExportBuffers {
    TJpegEncoder Encoder;
};

ExportBuffers& Buffers() {
    static ExportBuffers buffers;
    return buffers;
}

void ReadLine(const void* context, int y, uint8_t* rgb) noexcept {
    static_cast<const TRgbRows*>(context)->Line(y, rgb);
}

const uint8_t* LineAddress(const void* context, int y) noexcept {
    return static_cast<const TRgbRows*>(context)->NativeLine(y);
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
    // The working capture is read where the page cache holds it. It is
    // replaced by renaming, never rewritten in place, so the mapped bytes
    // stay as they are while the codec reads them.
    // A file that cannot be mapped is read the usual way, which says why.
    const platform::MappedFile file(source);
    TFastDIB picture;
    const bool loaded = file.Data() ? picture.ViewBitmapMemory(file.Data(), file.Size())
                                    : picture.LoadBitmapFile(source);
    // An empty picture would make an empty file with a .jpg name: refused.
    if (!loaded || picture.Empty())
        throw EExportError("Cannot read a picture from the file " + source + ". " +
                           picture.LoadError);
    const TRgbRows rows(picture);
    // A capture's lines go to the codec from where the file was read into,
    // with no converted copy; rarer layouts are converted a band at a time.
    using Pixels = TJpegEncoder::Pixels;
    TJpegEncoder& encoder = buffers.Encoder;
    std::span<const uint8_t> bytes;
    switch (rows.NativeLayout()) {
    case TRgbRows::Native::Bgrx:
        bytes = encoder.Encode(rows.Width(), rows.Lines(), Pixels::Bgrx, LineAddress, &rows);
        break;
    case TRgbRows::Native::Bgr:
        bytes = encoder.Encode(rows.Width(), rows.Lines(), Pixels::Bgr, LineAddress, &rows);
        break;
    case TRgbRows::Native::None:
        bytes = encoder.Encode(rows.Width(), rows.Lines(), ReadLine, &rows);
        break;
    }
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

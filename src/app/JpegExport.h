// Captures leave the program as JPEG files: the working capture (a BMP file)
// is encoded with the fixed export settings of TJpegEncoder.
#pragma once

#include <stdexcept>
#include <string>

class EExportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads the BMP file at source and writes it as a JPEG file at destination,
// replacing any file there only once the whole picture is encoded. Returns
// true; an unreadable or empty picture, a codec error or an unwritable
// destination raise EExportError (EJpegError for the codec).
bool ConvertBmpToJpeg(const std::string& source, const std::string& destination);

// The long-name form of an existing file's path. There are no short names
// here, so that is the path itself; "" for a missing file, a path with "*"
// or "?", or one with a doubled separator.
std::string ExpandLongPath(const std::string& path);

// The path in the temporary directory for an exported file's name. A name
// that is empty, "." or "..", or holds a path separator or a NUL, would land
// outside the directory and raises EExportError.
std::string ExportFilePath(const std::string& name);

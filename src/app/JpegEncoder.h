// Baseline JPEG compression into memory with libjpeg (API 62): quality 90
// with baseline tables forced, three RGB components, libjpeg's defaults for
// everything else. The encoder keeps its output and row memory between
// pictures, so exporting pictures of one size touches no fresh memory.
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <stdexcept>
#include <vector>

#include <jpeglib.h>

class EJpegError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TJpegEncoder {
public:
    // Fills line y of the picture (0 is the top) as width RGB triplets. It is
    // called between libjpeg calls and must not throw.
    using RowSource = void (*)(const void* context, int y, uint8_t* rgb) noexcept;
    // How the lines of a picture the codec reads in place are laid out.
    enum class Pixels { Bgr, Bgrx };
    // The address of line y (0 is the top), which the codec reads where it
    // lies, width pixels of the given layout. It must not throw.
    using RowAddress = const uint8_t* (*)(const void* context, int y) noexcept;

    static constexpr int Quality = 90;

    TJpegEncoder();
    ~TJpegEncoder();
    TJpegEncoder(const TJpegEncoder&) = delete;
    TJpegEncoder& operator=(const TJpegEncoder&) = delete;

    // The compressed picture, valid until the next call. A codec error
    // (a picture too big for JPEG, say) raises EJpegError with libjpeg's text.
    std::span<const uint8_t> Encode(int width, int height, RowSource source, const void* context);
    // The same picture from lines in memory, with no copy of them: the same
    // bytes come out as from Encode given the lines converted to RGB.
    std::span<const uint8_t> Encode(int width, int height, Pixels layout, RowAddress row,
                                    const void* context);

private:
    struct ErrorManager {
        jpeg_error_mgr pub;
        std::jmp_buf jump;
        char message[JMSG_LENGTH_MAX];
    };
    struct Destination {
        jpeg_destination_mgr pub;
        TJpegEncoder* owner;
    };

    // Where the lines come from: converted by source into Strip, or read
    // where they lie through address.
    struct Lines {
        RowSource source;
        RowAddress address;
        Pixels layout;
        const void* context;
    };

    std::span<const uint8_t> Run(int width, int height, const Lines& lines);
    bool Compress(int width, int height, const Lines& lines);
    bool GrowOutput();

    static void ErrorExit(j_common_ptr cinfo);
    static void OutputMessage(j_common_ptr cinfo);
    static void InitDestination(j_compress_ptr cinfo);
    static boolean EmptyOutputBuffer(j_compress_ptr cinfo);
    static void TermDestination(j_compress_ptr cinfo);

    // Members rather than locals of Compress: they change between setjmp and
    // longjmp, which leaves automatic variables indeterminate.
    jpeg_compress_struct Info{};
    ErrorManager Error{};
    Destination Dest{};
    std::vector<uint8_t> Output; // sized to its capacity; Used bytes are the picture
    size_t Used = 0;
    std::vector<uint8_t> Strip; // converted lines, StripLines of them at a time
};

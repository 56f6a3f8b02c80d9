#include "JpegEncoder.h"

#include <algorithm>
#include <cstring>
#include <jerror.h>
#include <new>

namespace {
constexpr size_t FirstOutputSize = 1u << 20;
// Lines handed to the codec per call: one band of its 16-line blocks.
constexpr int StripLines = 16;
} // namespace

TJpegEncoder::TJpegEncoder() = default;
TJpegEncoder::~TJpegEncoder() = default;

// libjpeg calls this instead of exit(): the text is kept and control goes
// back to Compress, past the library's C frames, which only longjmp may cross.
void TJpegEncoder::ErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Warnings and traces are not the user's business; nothing goes to stderr.
void TJpegEncoder::OutputMessage(j_common_ptr) {}

void TJpegEncoder::InitDestination(j_compress_ptr cinfo) {
    TJpegEncoder& self = *reinterpret_cast<Destination*>(cinfo->dest)->owner;
    self.Used = 0;
    self.Dest.pub.next_output_byte = self.Output.data();
    self.Dest.pub.free_in_buffer = self.Output.size();
}

boolean TJpegEncoder::EmptyOutputBuffer(j_compress_ptr cinfo) {
    TJpegEncoder& self = *reinterpret_cast<Destination*>(cinfo->dest)->owner;
    const size_t full = self.Output.size();
    if (!self.GrowOutput()) ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
    self.Dest.pub.next_output_byte = self.Output.data() + full;
    self.Dest.pub.free_in_buffer = self.Output.size() - full;
    return TRUE;
}

void TJpegEncoder::TermDestination(j_compress_ptr cinfo) {
    TJpegEncoder& self = *reinterpret_cast<Destination*>(cinfo->dest)->owner;
    self.Used = self.Output.size() - self.Dest.pub.free_in_buffer;
}

// No exception may leave here: the caller is a libjpeg frame.
bool TJpegEncoder::GrowOutput() {
    try {
        Output.resize(std::max(FirstOutputSize, Output.size() * 2));
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

std::span<const uint8_t> TJpegEncoder::Encode(int width, int height, RowSource source,
                                              const void* context) {
    if (width > 0) Strip.resize(size_t(width) * 3 * StripLines);
    return Run(width, height, {source, nullptr, Pixels::Bgr, context});
}

std::span<const uint8_t> TJpegEncoder::Encode(int width, int height, Pixels layout, RowAddress row,
                                              const void* context) {
    return Run(width, height, {nullptr, row, layout, context});
}

std::span<const uint8_t> TJpegEncoder::Run(int width, int height, const Lines& lines) {
    if (Output.empty() && !GrowOutput()) throw std::bad_alloc();
    if (!Compress(width, height, lines)) throw EJpegError(Error.message);
    return {Output.data(), Used};
}

// Only trivially destructible objects live in this frame, so a longjmp out of
// libjpeg skips no destructor.
bool TJpegEncoder::Compress(int width, int height, const Lines& lines) {
    std::memset(&Info, 0, sizeof Info);
    Info.err = jpeg_std_error(&Error.pub);
    Error.pub.error_exit = ErrorExit;
    Error.pub.output_message = OutputMessage;
    Error.message[0] = 0;
    if (setjmp(Error.jump)) {
        jpeg_destroy_compress(&Info);
        return false;
    }
    jpeg_create_compress(&Info);
    Dest.owner = this;
    Dest.pub.init_destination = InitDestination;
    Dest.pub.empty_output_buffer = EmptyOutputBuffer;
    Dest.pub.term_destination = TermDestination;
    Info.dest = &Dest.pub;

    Info.image_width = JDIMENSION(std::max(width, 0));
    Info.image_height = JDIMENSION(std::max(height, 0));
    // The codec's colour conversion reads B, G, R (and X) as it reads R, G,
    // B, with the same arithmetic, so each layout gives the same bytes.
    if (lines.source) {
        Info.input_components = 3;
        Info.in_color_space = JCS_RGB;
    } else if (lines.layout == Pixels::Bgrx) {
        Info.input_components = 4;
        Info.in_color_space = JCS_EXT_BGRX;
    } else {
        Info.input_components = 3;
        Info.in_color_space = JCS_EXT_BGR;
    }
    jpeg_set_defaults(&Info);
    jpeg_set_quality(&Info, Quality, TRUE);
    jpeg_start_compress(&Info, TRUE);
    JSAMPROW strip[StripLines];
    const size_t lineBytes = size_t(std::max(width, 0)) * 3;
    for (int y = 0; y < height;) {
        const int n = std::min(StripLines, height - y);
        for (int i = 0; i < n; ++i) {
            if (lines.source) {
                strip[i] = Strip.data() + size_t(i) * lineBytes;
                lines.source(lines.context, y + i, strip[i]);
            } else {
                // libjpeg only reads its input lines.
                strip[i] = const_cast<JSAMPROW>(lines.address(lines.context, y + i));
            }
        }
        const int taken = int(jpeg_write_scanlines(&Info, strip, JDIMENSION(n)));
        if (taken == 0) break; // the finish then reports the missing lines
        y += taken;
    }
    jpeg_finish_compress(&Info);
    jpeg_destroy_compress(&Info);
    return true;
}

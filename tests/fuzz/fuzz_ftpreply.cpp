// Feeds arbitrary bytes to the FTP control line reader in pieces, the way the
// client receives them, and parses every line as the client does: codes,
// continuation marks, numbers, quoted paths and passive addresses. Checks
// that lines never carry their line end or NUL bytes, that the buffer never
// overflows, and that a parsed passive address is well formed.
#include "FtpDataText.h"
#include "FtpReply.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t piece = 1 + (data[0] & 0x1F);
    const bool acceptLF = data[0] & 0x20;
    ++data;
    --size;

    TFtpLineReader reader;
    std::string line;
    size_t fed = 0;
    while (fed < size) {
        const int room = reader.FreeSpace();
        if (room < 0 || reader.Held() > TFtpLineReader::BufferSize - 1) abort();
        const size_t n = std::min({size - fed, piece, size_t(room)});
        std::memcpy(reader.WritePos(), data + fed, n);
        reader.Commit(int(n));
        fed += n;
        while (reader.NextLine(acceptLF, line)) {
            if (line.find('\0') != std::string::npos) abort();
            if (!line.empty() && (line.back() == '\r' || line.back() == '\n')) abort();
            if (!acceptLF && line.find("\r\n") != std::string::npos) abort();
            ftpreply::ReplyLine r = ftpreply::ClassifyLine(line);
            if (r.HasCode) {
                int size2 = 0;
                std::string quoted;
                ftpreply::ParseInteger(r.Rest, size2);
                ftpreply::ParseQuoted(r.Rest, quoted);
                if (quoted.size() > line.size()) abort();
            }
            if (auto pasv = ParsePassiveReply(line)) {
                if (pasv->Addr.size() > 15 ||
                    std::count(pasv->Addr.begin(), pasv->Addr.end(), '.') != 3)
                    abort();
            }
        }
        // The client gives up on a line that cannot fit.
        if (reader.Full(acceptLF)) reader.Clear();
    }
    return 0;
}

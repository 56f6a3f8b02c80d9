// The control connection's reply reader: splits received bytes into lines
// and reads reply codes and quoted paths. No sockets here, so it can be fed
// any bytes (tests, the fuzz target).
#pragma once

#include <cstddef>
#include <string>

namespace ftpreply {

// Skips spaces, tabs, CR and LF; reads an optional sign and decimal digits.
// Value is 0 without digits. Returns the position after the digits, or
// nullptr when the number does not fit in 32 bits.
const char* ParseInteger(const char* p, int& value);
// Skips spaces, tabs, CR and LF; when a double quote follows, copies up to
// the next single double quote, a doubled one giving one. Returns the
// position after the closing quote (or the end of the text).
const char* ParseQuoted(const char* p, std::string& s);

// How the protocol sees one complete line.
struct ReplyLine {
    bool HasCode = false;       // starts with a digit
    int Code = 0;               // the leading number
    bool Continuation = false;  // '-' follows the number
    const char* Rest = nullptr; // the text after the number
};
ReplyLine ClassifyLine(const std::string& line);

} // namespace ftpreply

// Received control bytes not yet consumed, in a fixed buffer of 4096 bytes:
// a line and its end must fit in 4095.
class TFtpLineReader {
public:
    static constexpr int BufferSize = 4096;

    char* WritePos() { return Buffer + Length; }
    // Bytes the next receive may bring (one is kept for the 0 terminator).
    int FreeSpace() const { return BufferSize - Length - 1; }
    void Commit(int count);
    // Takes the next complete line without its line end (trailing CR and LF
    // removed, cut at a NUL byte). False when no complete line is held.
    bool NextLine(bool acceptLF, std::string& line);
    // The buffer is full and holds no complete line.
    bool Full(bool acceptLF) const;
    void Clear();
    int Held() const { return Length; }

private:
    // 1-based position of the line end (LF, or CR of CR LF), 0 when none.
    int FindLineEnd(bool acceptLF, int& endLength) const;

    char Buffer[BufferSize] = {};
    int Length = 0;
};

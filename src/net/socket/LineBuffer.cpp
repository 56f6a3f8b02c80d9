#include "LineBuffer.h"

#include <algorithm>
#include <cstring>

char* TLineBuffer::Prepare(size_t n) {
    if (Data.size() < Cnt + n + 1) Data.resize(Cnt + n + 1);
    return Data.data() + Cnt;
}

void TLineBuffer::Commit(size_t n) {
    Cnt = std::min(Cnt + n, Data.empty() ? 0 : Data.size() - 1);
    if (!Data.empty()) Data[Cnt] = 0;
}

size_t TLineBuffer::Find(const std::string& lineEnd, size_t from) const {
    const size_t len = lineEnd.size();
    if (len == 0 || Cnt < len) return std::string::npos;
    for (size_t i = from; i + len <= Cnt; ++i) {
        if (Data[i] == lineEnd[0] && std::memcmp(&Data[i], lineEnd.data(), len) == 0) return i;
    }
    return std::string::npos;
}

size_t TLineBuffer::Take(char* out, size_t size) {
    const size_t n = std::min(size, Cnt);
    if (n == 0) return 0;
    std::memcpy(out, Data.data(), n);
    std::memmove(Data.data(), Data.data() + n, Cnt - n);
    Cnt -= n;
    Data[Cnt] = 0;
    return n;
}

void TLineBuffer::Clear() {
    Cnt = 0;
    if (!Data.empty()) Data[0] = 0;
}

void TLineBuffer::Release() {
    Cnt = 0;
    std::vector<char>().swap(Data);
}

size_t TLineBuffer::EditPrepared(size_t n, bool wantEcho, std::string& echo) {
    const char* in = Data.data() + Cnt;
    // Only edited when there is something to edit: plain input stays in place.
    if (std::none_of(in, in + n, [](char c) { return c == 8 || c == 9; })) {
        if (wantEcho) echo.append(in, n);
        return n;
    }
    std::vector<char> out(Data.begin(), Data.begin() + std::ptrdiff_t(Cnt));
    out.reserve(Cnt + n + 256);
    size_t lowest = Cnt;
    for (size_t i = 0; i < n; ++i) {
        const char c = in[i];
        if (c == 8) {
            if (!out.empty()) {
                if (wantEcho) echo.append("\b \b");
                out.pop_back();
                lowest = std::min(lowest, out.size());
            }
        } else if (c == 9) {
            const size_t spaces = 8 - out.size() % 8;
            out.insert(out.end(), spaces, ' ');
            if (wantEcho) echo.append(spaces, ' ');
        } else {
            if (wantEcho) echo.push_back(c);
            out.push_back(c);
        }
    }
    const size_t written = out.size();
    out.push_back(0);
    if (Data.size() < out.size()) Data.resize(out.size());
    std::memcpy(Data.data(), out.data(), out.size());
    Cnt = lowest;
    return written - lowest;
}

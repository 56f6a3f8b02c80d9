#include "WSockBuf.h"

#include <algorithm>
#include <cstring>

TBuffer::TBuffer(int size) : BufSize(size > 0 ? size : 1514) {
    Block = std::make_unique_for_overwrite<char[]>(size_t(BufSize));
}

TBuffer::TBuffer(const char* borrowed, int len)
    : Outside(borrowed), BufSize(std::max(len, 0)), WrCount(BufSize) {}

int TBuffer::Write(const void* data, int len) {
    if (Outside) return 0;
    const int taken = std::clamp(len, 0, BufSize - WrCount);
    if (taken > 0) std::memcpy(Block.get() + WrCount, data, size_t(taken));
    WrCount += taken;
    return taken;
}

const char* TBuffer::Peek(int& len) const {
    len = WrCount - RdCount;
    if (len <= 0) return nullptr;
    return (Outside ? Outside : Block.get()) + RdCount;
}

int TBuffer::Remove(int len) {
    const int n = std::clamp(len, 0, WrCount - RdCount);
    RdCount += n;
    if (RdCount == WrCount && !Outside) RdCount = WrCount = 0;
    return n;
}

char* TBuffer::Room(int& len) {
    len = Outside ? 0 : BufSize - WrCount;
    return len > 0 ? Block.get() + WrCount : nullptr;
}

void TBuffer::Commit(int len) {
    if (!Outside) WrCount += std::clamp(len, 0, BufSize - WrCount);
}

void TBuffer::Adopt() {
    if (!Outside) return;
    const int unsent = WrCount - RdCount;
    BufSize = std::max(unsent, 1);
    Block = std::make_unique_for_overwrite<char[]>(size_t(BufSize));
    if (unsent > 0) std::memcpy(Block.get(), Outside + RdCount, size_t(unsent));
    Outside = nullptr;
    RdCount = 0;
    WrCount = unsent;
}

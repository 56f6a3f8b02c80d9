#include "WSockBuf.h"

#include <algorithm>
#include <cstring>

TBuffer::TBuffer(int size) : BufSize(size > 0 ? size : 1514) {
    Block = std::make_unique<char[]>(size_t(BufSize));
}

int TBuffer::Write(const void* data, int len) {
    const int taken = std::clamp(len, 0, BufSize - WrCount);
    if (taken > 0) std::memcpy(Block.get() + WrCount, data, size_t(taken));
    WrCount += taken;
    return taken;
}

const char* TBuffer::Peek(int& len) const {
    len = WrCount - RdCount;
    return len > 0 ? Block.get() + RdCount : nullptr;
}

int TBuffer::Remove(int len) {
    const int n = std::clamp(len, 0, WrCount - RdCount);
    RdCount += n;
    if (RdCount == WrCount) RdCount = WrCount = 0;
    return n;
}

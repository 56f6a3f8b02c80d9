#include "FtpDataText.h"

std::optional<TFtpPassiveAddress> ParsePassiveReply(const std::string& reply) {
    size_t pos = reply.find('(');
    if (pos == std::string::npos) return std::nullopt;
    ++pos;
    int n[6];
    for (int i = 0; i < 6; ++i) {
        size_t start = pos;
        int v = 0;
        while (pos < reply.size() && reply[pos] >= '0' && reply[pos] <= '9' && pos - start < 3)
            v = v * 10 + (reply[pos++] - '0');
        if (pos == start || v > 255 || pos >= reply.size()) return std::nullopt;
        const char expected = i < 5 ? ',' : ')';
        if (reply[pos] != expected) return std::nullopt;
        ++pos;
        n[i] = v;
    }
    TFtpPassiveAddress a;
    a.Addr = std::to_string(n[0]) + "." + std::to_string(n[1]) + "." + std::to_string(n[2]) + "." +
             std::to_string(n[3]);
    a.Port = uint16_t(n[4] * 256 + n[5]);
    return a;
}

std::string PortCommandText(const std::string& dottedAddr, uint16_t port) {
    std::string a = dottedAddr;
    for (char& c : a)
        if (c == '.') c = ',';
    return "PORT " + a + "," + std::to_string(port >> 8) + "," + std::to_string(port & 0xFF);
}

std::string TransferStatsText(int byteCount, uint32_t elapsedMs) {
    std::string text = std::to_string(byteCount) + " bytes received/sent in " +
                       std::to_string(elapsedMs / 1000) + " seconds";
    if (elapsedMs != 0) {
        // Small counts first multiply, large ones first divide, so neither
        // overflows 32 bits.
        long long rate = byteCount <= 32767 ? (byteCount * 1000LL) / elapsedMs
                                            : (byteCount / (long long)elapsedMs) * 1000LL;
        text += " (" + std::to_string(rate) + " Bytes/sec)";
    }
    return text;
}

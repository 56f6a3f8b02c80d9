// Texts of the data connection: the passive reply read, the PORT command
// and the statistics line written. No sockets, so tests can reach them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct TFtpPassiveAddress {
    std::string Addr; // dotted h1.h2.h3.h4
    uint16_t Port = 0;
};

// The six numbers inside the first brackets; nothing when they are missing,
// not six, not plain decimals or above 255.
std::optional<TFtpPassiveAddress> ParsePassiveReply(const std::string& reply);

// "PORT h1,h2,h3,h4,p1,p2" for a dotted address and a port.
std::string PortCommandText(const std::string& dottedAddr, uint16_t port);

// "n bytes received/sent in s seconds (r Bytes/sec)"; the rate is left out
// when no time passed.
std::string TransferStatsText(int byteCount, uint32_t elapsedMs);

// The 127.0.0.1 address record of the tests' own blocking peers.
#pragma once

#include <arpa/inet.h>
#include <cstdint>
#include <netinet/in.h>

// Port 0 lets bind pick a free port.
inline sockaddr_in LoopbackAddress(uint16_t port = 0) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

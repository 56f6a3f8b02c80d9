// Turning the text of an address, port or protocol into its number, and the
// texts of the socket error codes. The resolvers raise ESocketException.
#pragma once

#include <cstdint>
#include <string>

// Removes leading and trailing characters with codes 32 or less.
std::string Trim(const std::string& s);

bool IsDottedIP(const std::string& s);
// The address in network order; a host name is looked up (blocking).
uint32_t WSocketResolveHost(const std::string& s);
// The port in host order.
uint16_t WSocketResolvePort(const std::string& port, const std::string& proto);
int WSocketResolveProto(const std::string& s);

std::string WinsockErrorText(int code);

#include "SocksWSocket.h"
#include "WSocketResolve.h"

#include <algorithm>
#include <cctype>

TCustomSocksWSocket::TCustomSocksWSocket() {
    ResetSocks();
}

void TCustomSocksWSocket::ResetDefaults() {
    TCustomWSocket::ResetDefaults();
    ResetSocks();
}

void TCustomSocksWSocket::ResetSocks() {
    FSocksServer.clear();
    FSocksPort.clear();
    FSocksLevel.assign(1, '5'); // assigning a literal trips a false -Wrestrict in GCC 12
    FSocksServerAssigned = FSocksPortAssigned = false;
}

void TCustomSocksWSocket::SetSocksLevel(const std::string& value) {
    if (State() != wsClosed) return RaiseSocketException("Can't change socks level if not closed");
    std::string level = value;
    std::transform(level.begin(), level.end(), level.begin(),
                   [](unsigned char c) { return char(std::toupper(c)); });
    if (level != "4" && level != "4A" && level != "5")
        return RaiseSocketException("Invalid socks level. Must be 4, 4A or 5.");
    FSocksLevel = level;
}

void TCustomSocksWSocket::SetSocksServer(const std::string& value) {
    if (State() != wsClosed) return RaiseSocketException("Can't change socks server if not closed");
    FSocksServer = Trim(value);
    FSocksServerAssigned = !FSocksServer.empty();
}

void TCustomSocksWSocket::SetSocksPort(const std::string& value) {
    if (State() != wsClosed) return RaiseSocketException("Can't change socks port if not closed");
    FSocksPort = Trim(value);
    FSocksPortAssigned = !FSocksPort.empty();
}

void TCustomSocksWSocket::Connect() {
    if (SocksActive()) {
        if (Trim(Proto()) != "tcp")
            return RaiseSocketException("tcp is the only protocol supported thru socks server");
        // Connecting to the proxy without negotiating would report a session
        // with the wrong peer as connected.
        return RaiseSocketException("Connecting thru a socks server is not supported");
    }
    TCustomWSocket::Connect();
}

void TCustomSocksWSocket::Listen() {
    if (SocksActive()) return RaiseSocketException("Listening is not supported thru socks server");
    TCustomWSocket::Listen();
}

void TCustomSocksWSocket::FireSocksConnected(uint16_t error) {
    if (OnSocksConnected) OnSocksConnected(this, error);
}

void TCustomSocksWSocket::FireSocksError(int error, const std::string& msg) {
    if (OnSocksError) OnSocksError(this, error, msg);
}

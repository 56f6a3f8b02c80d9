// TCustomSocksWSocket: the SOCKS client settings. The program always connects
// directly, so no negotiation is built: with no SocksServer every operation is
// the core's, and a socket given a SocksServer refuses to connect or listen.
#pragma once

#include "CustomWSocket.h"

class TCustomSocksWSocket : public TCustomWSocket {
public:
    TCustomSocksWSocket();

    const std::string& SocksLevel() const { return FSocksLevel; }
    void SetSocksLevel(const std::string& value);
    const std::string& SocksServer() const { return FSocksServer; }
    virtual void SetSocksServer(const std::string& value);
    const std::string& SocksPort() const { return FSocksPort; }
    virtual void SetSocksPort(const std::string& value);
    const std::string& SocksUsercode() const { return FSocksUsercode; }
    void SetSocksUsercode(const std::string& v) { FSocksUsercode = v; }
    const std::string& SocksPassword() const { return FSocksPassword; }
    void SetSocksPassword(const std::string& v) { FSocksPassword = v; }
    TSocksAuthentication SocksAuthentication() const { return FSocksAuthentication; }
    void SetSocksAuthentication(TSocksAuthentication v) { FSocksAuthentication = v; }

    TSessionConnected OnSocksConnected;
    TSocksErrorEvent OnSocksError;
    TSocksAuthStateEvent OnSocksAuthState;

    void Connect() override;
    void Listen() override;

protected:
    void ResetDefaults() override;
    virtual void FireSocksConnected(uint16_t error);
    virtual void FireSocksError(int error, const std::string& msg);
    bool SocksActive() const { return FSocksServerAssigned; }

private:
    void ResetSocks();

    std::string FSocksLevel = "5";
    std::string FSocksServer, FSocksPort, FSocksUsercode, FSocksPassword;
    TSocksAuthentication FSocksAuthentication = socksNoAuthentication;
    bool FSocksServerAssigned = false;
    bool FSocksPortAssigned = false;
};

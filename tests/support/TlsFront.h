// stunnel in front of a plain TCP service on 127.0.0.1: TLS on Port(),
// passed on in clear to the backend. Serves HTTPS for the upload script
// (in front of php -S) and any certificate a fault test needs.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>

class TlsFront {
public:
    static bool Available();

    TlsFront(uint16_t backendPort, const std::string& certFile, const std::string& keyFile);
    ~TlsFront();
    TlsFront(const TlsFront&) = delete;
    TlsFront& operator=(const TlsFront&) = delete;

    bool Running() const { return Pid > 0; }
    const std::string& Error() const { return Failure; }
    uint16_t Port() const { return ListenPort; }

private:
    void Stop();

    std::string Dir;
    uint16_t ListenPort = 0;
    pid_t Pid = -1;
    std::string Failure;
};

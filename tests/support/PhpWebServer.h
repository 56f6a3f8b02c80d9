// PHP's built-in web server on 127.0.0.1 serving a document root, for tests
// and benchmarks that need the real upload script. Port 80 is shared by the
// runs of every test that needs it, so the server waits until the port is
// free before it starts, and the object stops it by its process id.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>

class PhpWebServer {
public:
    static bool Available();

    // Starts the server and waits until it answers; Running() tells whether it did.
    PhpWebServer(const std::string& docRoot, uint16_t port = 80);
    ~PhpWebServer();
    PhpWebServer(const PhpWebServer&) = delete;
    PhpWebServer& operator=(const PhpWebServer&) = delete;

    bool Running() const { return Pid > 0; }
    const std::string& Error() const { return Failure; }

    // Waits up to ms for nothing to listen on 127.0.0.1:port.
    static bool WaitPortFree(uint16_t port, unsigned ms);

private:
    bool WaitAnswering(unsigned ms, const std::string& token);
    void Stop();

    uint16_t Port;
    pid_t Pid = -1;
    std::string Failure;
    std::string ProbeFile;
};

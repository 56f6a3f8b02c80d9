#include "SslWSocket.h"
#include "WSocketResolve.h"

#include "Sockets.h"

std::string WinsockErrorText(int code) {
    if (const char* text = platform::winsockText(code)) return text;
    // The TLS layer's own codes travel the same way as the system's.
    switch (code) {
    case SslErrorHandshake:
        return "TLS handshake failed";
    case SslErrorCertificate:
        return "Certificate not trusted";
    case SslErrorTruncated:
        return "Connection closed without a TLS close";
    default:
        return "Not a WinSock error";
    }
}

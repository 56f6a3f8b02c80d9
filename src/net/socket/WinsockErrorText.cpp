#include "WSocketResolve.h"

#include "Sockets.h"

std::string WinsockErrorText(int code) {
    const char* text = platform::winsockText(code);
    return text ? text : "Not a WinSock error";
}

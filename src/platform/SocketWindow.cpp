// The peer's receive window, from the kernel's own record of the connection.
// Apart from the other socket calls: the C library's tcp_info lacks the field.
#include "Sockets.h"

#include <cerrno>
#include <climits>
#include <cstddef>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace platform {

int peerReceiveWindow(SocketHandle s, unsigned long& bytes) {
    tcp_info info{};
    socklen_t len = sizeof info;
    const int fd = s > SocketHandle(INT_MAX) ? -1 : int(s);
    if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &len) != 0) {
        setLastError(winsockCodeOf(errno));
        return SOCKET_ERROR;
    }
    // Kernels older than the field leave it out of what they copy.
    bytes =
        len >= offsetof(tcp_info, tcpi_snd_wnd) + sizeof info.tcpi_snd_wnd ? info.tcpi_snd_wnd : 0;
    return 0;
}

} // namespace platform

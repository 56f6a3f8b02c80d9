// Bookkeeping behind asyncSelect: the socket calls tell it what happened to a
// handle so that it can re-arm the matching notice.
#pragma once

#include "Sockets.h"

namespace platform::notices {

void opened(SocketHandle s, bool stream);
void forget(SocketHandle s);
// A stream connect has started; done when it finished at once.
void connecting(SocketHandle s, bool done);
void listening(SocketHandle s);
void accepted(SocketHandle listener, SocketHandle fresh);
void received(SocketHandle s);
void sendBlocked(SocketHandle s);

} // namespace platform::notices

// Hidden message windows and the message pump: the event model the network
// components are written against. A window is an id with a procedure;
// messages posted to it are delivered in the order they were posted, mixed
// in order with every other posted message, on the thread that runs the Qt
// event loop.
#pragma once

#include <cstdint>
#include <functional>

namespace platform {

using WindowId = uintptr_t;
using WindowProc = std::function<intptr_t(unsigned msg, uintptr_t wParam, intptr_t lParam)>;

// First message number free for components' own messages.
constexpr unsigned WM_USER = 0x0400;

// Ids are never reused, so a late message cannot reach a newer window.
WindowId createMessageWindow(WindowProc proc);
// Messages still queued for the window are dropped.
void destroyMessageWindow(WindowId window);
bool isMessageWindow(WindowId window);

// Queues a message; safe from any thread. False when the window does not exist.
bool postMessage(WindowId window, unsigned msg, uintptr_t wParam, intptr_t lParam);
// Queues the message ms milliseconds from now (on the event loop's thread
// only). Dropped when the window is gone by then.
void postMessageLater(WindowId window, unsigned msg, uintptr_t wParam, intptr_t lParam,
                      unsigned ms);
// Calls the window's procedure at once; 0 when the window does not exist.
intptr_t sendMessage(WindowId window, unsigned msg, uintptr_t wParam, intptr_t lParam);

// Handles everything pending (posted messages, socket and timer events,
// painting, input), then returns.
void pumpMessages();
// Sleeps until at least one event arrives or ms milliseconds pass, then pumps.
// Idle waiting costs no CPU.
void waitForMessages(unsigned ms);

// True once the application is shutting down: waits give up instead of
// holding the program open. Set by setApplicationTerminating (the owner
// calls it when its main window closes) and when the event loop is about
// to quit or the application object is going away.
bool applicationTerminating();
void setApplicationTerminating(bool terminating);

} // namespace platform

#include "WSocket.h"

#include "System.h"

#include <algorithm>

int TCustomSyncWSocket::Synchronize(const std::function<void()>& proc, bool& doneFlag) {
    doneFlag = false;
    const std::weak_ptr<void> life = Life();
    if (proc) proc();
    if (life.expired()) return doneFlag ? 0 : WaitTimedOut;
    return WaitUntilReady(doneFlag);
}

int TCustomSyncWSocket::WaitUntilReady(bool& doneFlag) {
    const std::weak_ptr<void> life = Life();
    const uint32_t start = platform::TickCount();
    while (!doneFlag) {
        if (life.expired()) return WaitTimedOut;
        if (FSyncTimeout > 0 && platform::TickCount() - start >= uint32_t(FSyncTimeout))
            return WaitTimedOut;
        if (Terminated()) return WaitTimedOut;
        // Sleeps until something arrives; a bounded slice keeps the limit honest.
        platform::waitForMessages(FSyncTimeout > 0 ? std::min(50, FSyncTimeout) : 50);
    }
    return 0;
}

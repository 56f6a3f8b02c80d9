// TWSocket, the socket every network connection of the program uses, and
// TCustomSyncWSocket, which can wait for a flag while the event loop runs.
#pragma once

#include "LineWSocket.h"

class TCustomSyncWSocket : public TCustomLineWSocket {
public:
    static constexpr int WaitTimedOut = 12001;

    // Clears doneFlag, runs proc, then waits for the flag; 0 or WaitTimedOut.
    virtual int Synchronize(const std::function<void()>& proc, bool& doneFlag);
    virtual int WaitUntilReady(bool& doneFlag);

    // Milliseconds; 0 waits without limit.
    int SyncTimeout() const { return FSyncTimeout; }
    void SetSyncTimeout(int ms) { FSyncTimeout = ms; }

private:
    int FSyncTimeout = 0;
};

class TWSocket : public TCustomSyncWSocket {};

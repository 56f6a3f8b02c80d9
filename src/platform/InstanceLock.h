// One running copy of the program per private working directory. The first
// copy holds a lock file there (flock, so a copy that crashed holds nothing)
// and listens on a local socket beside it; a later copy finds the lock taken
// and asks the first one, through the socket, to show itself or to capture
// the screen or a region of it.
#pragma once

#include <functional>
#include <memory>
#include <string>

class QSocketNotifier;

namespace platform {

// What a later copy asks of the running one: one line on the socket each.
enum THandOverRequest { horShow, horCapture, horCaptureRegion };

class TInstanceLock {
public:
    // directory ends with '/'; nothing is touched before Acquire.
    explicit TInstanceLock(std::string directory);
    ~TInstanceLock();
    TInstanceLock(const TInstanceLock&) = delete;
    TInstanceLock& operator=(const TInstanceLock&) = delete;

    // Takes the lock and starts listening; false when another copy holds it
    // (or the lock file cannot be opened).
    bool Acquire();
    bool Held() const { return LockFd >= 0; }
    // From a copy that did not get the lock: asks the holder to show itself
    // (or to capture) and waits up to timeoutMs for its answer. False when
    // none comes.
    bool HandOver(THandOverRequest request = horShow, unsigned timeoutMs = 5000) const;

    // Fired in the holder, from the event loop, for every hand-over.
    std::function<void(TInstanceLock* Sender)> OnShowRequested;
    std::function<void(TInstanceLock* Sender)> OnCaptureRequested;
    std::function<void(TInstanceLock* Sender)> OnRegionRequested;

private:
    void FireShowRequested();
    void FireCaptureRequested();
    void FireRegionRequested();
    void Accept();
    std::string LockPath() const { return Directory + "brindlewick.lock"; }
    std::string SocketPath() const { return Directory + "brindlewick.sock"; }

    std::string Directory;
    int LockFd = -1;
    int ListenFd = -1;
    std::unique_ptr<QSocketNotifier> Listener;
};

} // namespace platform

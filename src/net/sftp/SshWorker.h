// The thread that owns one SSH session: libssh's calls block, so they run
// here, one job at a time, while the event loop's thread waits for each
// job's end on the event loop (other events run meanwhile), as the FTP
// client's synchronous calls do. Progress and the end of a job come back as
// posted messages. A cancel or a time-out calls the owner's interrupt (which
// shuts the socket down, so that the job's blocking call returns) and then
// waits for the job to end: nothing the job uses is freed under it.
#pragma once

#include "Messages.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

class TSshWorker {
public:
    enum TOutcome { soDone, soCancelled, soTimedOut };

    // interrupt runs on the event loop's thread while a job may be blocked.
    explicit TSshWorker(std::function<void()> interrupt);
    // Ends the thread (after a running job, which is interrupted first).
    ~TSshWorker();
    TSshWorker(const TSshWorker&) = delete;
    TSshWorker& operator=(const TSshWorker&) = delete;

    // Runs job on the worker and waits for it. The time-out counts from the
    // start and again from each Progress; cancelled is read at every wake-up.
    // onProgress runs on the caller's thread after each new Progress.
    TOutcome Run(const std::function<void()>& job, const bool* cancelled, unsigned timeoutMs,
                 const std::function<void(uint64_t)>& onProgress = nullptr);
    // From a job: value is the job's progress so far (bytes, say).
    void Progress(uint64_t value);
    // Interrupts what may still run and ends the thread; then runs last on
    // it (freeing what the thread owns). Later Runs are refused as cancelled.
    void Finish(const std::function<void()>& last);
    bool Finished() const { return finished_; }

private:
    void Loop();
    // Blocks until the running job has returned.
    void WaitIdle();

    std::function<void()> interrupt_;
    platform::WindowId window_ = 0;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::function<void()> job_;
    bool busy_ = false;
    bool quit_ = false;
    std::atomic<bool> jobDone_{false};
    std::atomic<uint64_t> progress_{0};
    std::atomic<uint32_t> progressCount_{0};
    bool finished_ = false;
    std::thread thread_;
};

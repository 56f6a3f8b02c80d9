#include "SshWorker.h"

#include <chrono>

namespace {

// Only wakes the waiting thread; the state it reads is in the atomics.
constexpr unsigned MsgWake = platform::WM_USER + 1;

uint64_t NowMs() {
    using namespace std::chrono;
    return uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace

TSshWorker::TSshWorker(std::function<void()> interrupt) : interrupt_(std::move(interrupt)) {
    window_ = platform::createMessageWindow([](unsigned, uintptr_t, intptr_t) { return 0; });
    thread_ = std::thread([this] { Loop(); });
}

TSshWorker::~TSshWorker() {
    Finish(nullptr);
    platform::destroyMessageWindow(window_);
}

void TSshWorker::Loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return quit_ || job_; });
        if (job_) {
            const std::function<void()> job = std::move(job_);
            job_ = nullptr;
            lock.unlock();
            job();
            lock.lock();
            busy_ = false;
            jobDone_.store(true, std::memory_order_release);
            wake_.notify_all();
            platform::postMessage(window_, MsgWake, 0, 0);
            continue;
        }
        return;
    }
}

void TSshWorker::WaitIdle() {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait(lock, [this] { return !busy_; });
}

void TSshWorker::Progress(uint64_t value) {
    progress_.store(value, std::memory_order_relaxed);
    progressCount_.fetch_add(1, std::memory_order_release);
    platform::postMessage(window_, MsgWake, 0, 0);
}

TSshWorker::TOutcome TSshWorker::Run(const std::function<void()>& job, const bool* cancelled,
                                     unsigned timeoutMs,
                                     const std::function<void(uint64_t)>& onProgress) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Finished, or called again from an event that ran inside a wait.
        if (finished_ || busy_) return soCancelled;
        job_ = job;
        busy_ = true;
        jobDone_.store(false);
        progressCount_.store(0);
    }
    wake_.notify_all();
    uint32_t seen = 0;
    uint64_t deadline = NowMs() + timeoutMs;
    auto report = [&] {
        const uint32_t count = progressCount_.load(std::memory_order_acquire);
        if (count == seen) return;
        seen = count;
        deadline = NowMs() + timeoutMs;
        if (onProgress) onProgress(progress_.load(std::memory_order_relaxed));
    };
    for (;;) {
        if (jobDone_.load(std::memory_order_acquire)) {
            WaitIdle();
            report();
            return soDone;
        }
        const bool stop = (cancelled && *cancelled) || platform::applicationTerminating();
        const uint64_t now = NowMs();
        if (stop || now >= deadline) {
            interrupt_();
            WaitIdle();
            return stop ? soCancelled : soTimedOut;
        }
        platform::waitForMessages(unsigned(deadline - now));
        report();
    }
}

void TSshWorker::Finish(const std::function<void()>& last) {
    if (finished_) return;
    finished_ = true;
    bool busy;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        busy = busy_;
    }
    if (busy) {
        interrupt_();
        WaitIdle();
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        job_ = last;
        quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

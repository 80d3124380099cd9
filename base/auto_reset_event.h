// An auto-reset event: Set wakes one waiter (or the next one to wait) and the
// event returns to unsignalled as that waiter passes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

class AutoResetEvent {
public:
    void Set() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            signalled_ = true;
        }
        cv_.notify_one();
    }
    void Reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = false;
    }
    // Waits at most `timeout_ms`. Returns whether the event was signalled;
    // either way the event is unsignalled afterwards.
    bool Wait(int timeout_ms) {
        std::unique_lock<std::mutex> lock(mutex_);
        bool got = cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return signalled_; });
        signalled_ = false;
        return got;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_ = false;
};

// Polling a condition from a test or benchmark that drives another process.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace vorta_test {

// Asks `done` every 50 ms until it holds or `timeout_ms` has passed; returns
// whether it held.
inline bool WaitFor(const std::function<bool()>& done, int timeout_ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

}  // namespace vorta_test

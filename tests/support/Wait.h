// Waiting for a condition instead of sleeping a fixed time.
#pragma once

#include <chrono>
#include <thread>

namespace vlibtest {

// Polls `condition` until it holds (true) or `timeout` passes (false).
template <class Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

}  // namespace vlibtest

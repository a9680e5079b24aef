/*
 * Wait.h - waiting for something another thread or process does, bounded.
 */
#pragma once

#include <chrono>
#include <thread>

namespace qctest {

/* Asks the condition until it holds or ms have passed. Each try counts once:
 * a condition that sends something is not asked again after it held. */
template <typename Condition>
bool WaitFor(Condition condition, int ms = 5000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace qctest

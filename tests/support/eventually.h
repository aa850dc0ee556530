#pragma once

#include <chrono>
#include <thread>

// Waits until condition() holds, checking again every few milliseconds, for state that gives
// no notice of its change (another process, the registry of a running service). False if it
// did not hold within the limit.
template <typename Condition>
bool eventually(Condition condition, std::chrono::seconds limit = std::chrono::seconds(30)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

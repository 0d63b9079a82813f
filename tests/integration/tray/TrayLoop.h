#pragma once

#include <glib.h>

#include <chrono>
#include <functional>
#include <thread>

namespace velvox::testing {

// Runs the GLib main loop until the condition holds. The deadline only keeps
// a broken build from hanging the suite; no test depends on how fast it is.
inline bool spinUntil(const std::function<bool()>& condition) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        if (!g_main_context_iteration(nullptr, FALSE))
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Runs everything the main loop has ready now (idle work included).
inline void drainMainLoop() {
    for (int round = 0; round < 1000 && g_main_context_iteration(nullptr, FALSE); ++round) {
    }
}

}  // namespace velvox::testing

#pragma once

// Running the GLib main loop from tests of the desktop pieces.

#include <glib.h>

#include <chrono>
#include <functional>
#include <thread>

namespace velvox::testing {

// Runs the main loop until the condition holds; false once the bound passes.
// The bound only keeps a broken build from hanging the suite; no test
// depends on how fast anything is.
inline bool spinUntil(const std::function<bool()>& condition, double boundSeconds = 30) {
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::milliseconds(static_cast<int64_t>(boundSeconds * 1000));
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        if (!g_main_context_iteration(nullptr, FALSE))
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Runs the main loop for a while.
inline void spinFor(std::chrono::milliseconds duration) {
    auto until = std::chrono::steady_clock::now() + duration;
    spinUntil([&] { return std::chrono::steady_clock::now() >= until; });
}

// Runs everything the main loop has ready now (idle work included).
inline void drainMainLoop() {
    for (int round = 0; round < 1000 && g_main_context_iteration(nullptr, FALSE); ++round) {
    }
}

}  // namespace velvox::testing

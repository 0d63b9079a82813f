#pragma once

// Running the GLib main loop from tests of the desktop pieces.

#include <glib.h>

#include <chrono>
#include <functional>
#include <thread>

namespace velvox::testing {

// Runs the main loop until the condition holds; false once the bound passes
// (it only keeps a broken build from hanging the suite).
inline bool spinUntil(const std::function<bool()>& condition, double boundSeconds = 30) {
    using namespace std::chrono;
    auto deadline = steady_clock::now() + milliseconds(static_cast<int64_t>(boundSeconds * 1000));
    while (!condition()) {
        if (steady_clock::now() > deadline) return false;
        if (!g_main_context_iteration(nullptr, FALSE)) std::this_thread::sleep_for(milliseconds(2));
    }
    return true;
}

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

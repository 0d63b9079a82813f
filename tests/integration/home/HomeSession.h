#pragma once

// Helpers for tests of the Home window's desktop pieces: running the GTK main
// loop until something has happened, and keys typed through the X server.
#include <glib.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

namespace velvox::testing {

// Runs the main loop until the condition holds; false after 30 s without it.
inline bool spinUntil(const std::function<bool()>& condition) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        if (!g_main_context_iteration(nullptr, FALSE))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

inline void spinFor(std::chrono::milliseconds duration) {
    auto until = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < until) {
        if (!g_main_context_iteration(nullptr, FALSE))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Presses keys as a person would (XTEST), e.g. "ctrl+a" or "ctrl+shift+z".
inline bool pressKeys(const std::string& keys) {
    return std::system(("xdotool key --clearmodifiers " + keys).c_str()) == 0;
}

inline bool typeText(const std::string& text) {
    return std::system(("xdotool type --delay 15 '" + text + "'").c_str()) == 0;
}

}  // namespace velvox::testing

#pragma once

#include <glib.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

namespace velvox::testing {

// Runs the GLib default main context until done() holds. The bound only keeps
// a broken test from hanging; no test asserts on how long it took.
inline bool runMainLoopUntil(const std::function<bool()>& done, int boundSeconds = 20) {
    const gint64 deadline = g_get_monotonic_time() + gint64(boundSeconds) * G_USEC_PER_SEC;
    while (!done()) {
        if (g_get_monotonic_time() > deadline) return false;
        if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
    }
    return true;
}

// Runs a shell command of the session (xdotool, pactl, setxkbmap); true on status 0.
inline bool run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

// Puts the session's microphone back as it was: the FIFO-fed source, loaded
// and the default, and no other source of a test's making.
inline void restoreSessionMicrophone() {
    run("pactl list short modules | grep -q module-pipe-source || "
        "pactl load-module module-pipe-source source_name=virtual_mic "
        "file=\"$VELVOX_TEST_SOURCE_FIFO\" format=s16le rate=16000 channels=1 >/dev/null");
    run("pactl set-default-source virtual_mic");
    run("for m in $(pactl list short modules | grep module-null-source | cut -f1); do "
        "pactl unload-module $m; done");
}

// Sets or clears an environment variable for the lifetime of this object.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) saved_ = old;
        if (value) {
            setenv(name, value->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnvironment() {
        if (saved_) {
            setenv(name_, saved_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    const char* name_;
    std::optional<std::string> saved_;
};

}  // namespace velvox::testing

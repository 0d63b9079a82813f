#pragma once

#include <cstdlib>
#include <optional>
#include <string>

#include "support/MainLoop.h"

namespace velvox::testing {

// Runs a shell command of the session (xdotool, pactl, setxkbmap); true on status 0.
inline bool run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

// Puts the session's microphone back as it was: the FIFO-fed source, loaded
// and the default, and no other source of a test's making.
inline void restoreSessionMicrophone() {
    run("pactl list short modules | grep -q module-pipe-source || pactl load-module "
        "module-pipe-source source_name=virtual_mic file=\"$VELVOX_TEST_SOURCE_FIFO\" "
        "format=s16le rate=16000 channels=1 >/dev/null; pactl set-default-source virtual_mic; "
        "for m in $(pactl list short modules | grep module-null-source | cut -f1); do "
        "pactl unload-module $m; done");
}

// Sets or clears an environment variable for the lifetime of this object.
struct ScopedEnvironment {
    ScopedEnvironment(const char* name, std::optional<std::string> value) : name(name) {
        if (const char* old = std::getenv(name)) saved = old;
        value ? setenv(name, value->c_str(), 1) : unsetenv(name);
    }
    ~ScopedEnvironment() { saved ? setenv(name, saved->c_str(), 1) : unsetenv(name); }
    const char* name;
    std::optional<std::string> saved;
};

}  // namespace velvox::testing

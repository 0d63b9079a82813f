#pragma once

// Commands of the test session (xdotool, setxkbmap, pactl, the programs of
// this build) run through the shell.

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace velvox::testing {

// True when the command exits with status 0.
inline bool shell(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

struct CommandOutput {
    int status = -1;  // -1 when the command did not run or did not exit
    std::string printed;
};

// Runs the command and collects its standard output (add 2>&1 for its errors too).
inline CommandOutput runCommand(const std::string& command) {
    CommandOutput result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return result;
    char chunk[4096];
    while (size_t got = std::fread(chunk, 1, sizeof chunk, pipe)) result.printed.append(chunk, got);
    int status = ::pclose(pipe);
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    return result;
}

// What the command writes to its standard output; its errors are dropped.
inline std::string outputOf(const std::string& command) {
    return runCommand(command + " 2>/dev/null").printed;
}

}  // namespace velvox::testing

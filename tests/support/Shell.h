#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

namespace velvox::testing {

// A command of the test session (xdotool, pactl, a program of this build); true on status 0.
inline bool shell(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

// Runs the command; its exit status (-1 when it did not exit) and its standard output.
inline std::pair<int, std::string> runCommand(const std::string& command) {
    std::string printed;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return {-1, printed};
    char chunk[4096];
    while (size_t got = std::fread(chunk, 1, sizeof chunk, pipe)) printed.append(chunk, got);
    int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, printed};
}

// What the command writes to its standard output; its errors are dropped.
inline std::string outputOf(const std::string& command) {
    return runCommand(command + " 2>/dev/null").second;
}

}  // namespace velvox::testing

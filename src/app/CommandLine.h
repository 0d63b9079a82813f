#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "capture/DictationCommand.h"

namespace velvox::CommandLine {

// What the copy that runs made of a command handed to it.
struct HandedOver {
    // Whether a running copy took the command at all.
    bool reached = false;
    // Why it did not carry the command out; empty when it did.
    std::string refusal;
};

// What the front end needs from the program that hosts it.
struct Host {
    // Starts the desktop application (or hands the addresses to the copy
    // that already runs); answers the exit status.
    std::function<int(const std::vector<std::string>& urls)> launchApplication;
    // Hands a dictation command to the copy that runs.
    std::function<HandedOver(DictationCommand command, bool boost)> handOverDictation;
    // Whether a copy runs in this session.
    std::function<bool()> applicationRunning;
    // Asks the copy that runs to retry the last failed dictation.
    std::function<HandedOver()> handOverRetry;
};

// Runs `velvox ARGS...` (args without the program name) and answers the exit status.
int run(const std::vector<std::string>& args, const Host& host, std::ostream& out,
        std::ostream& err);

// The key as `velvox config` shows it: "" when empty, else "set (N characters)".
std::string maskedKey(const std::string& key);

}  // namespace velvox::CommandLine

#pragma once

#include <functional>
#include <optional>
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

// How a command reaches the copy that runs.
struct HandOverHost {
    // Hands a dictation command to the copy that runs.
    std::function<HandedOver(DictationCommand command, bool boost)> handOverDictation;
    // Whether a copy runs in this session.
    std::function<bool()> applicationRunning;
    // Asks the copy that runs to retry the last failed dictation.
    std::function<HandedOver()> handOverRetry;
};

// `velvox dictate start|stop|toggle [--boost]` and `velvox retry` (args
// without the program name): the exit status, or nothing when the arguments
// are not such a command (the caller shows the usage). They need nothing of
// the application but the session bus and the settings folder, so a desktop
// shortcut's command starts in a few milliseconds.
std::optional<int> dictate(const std::vector<std::string>& args, const HandOverHost& host,
                           std::ostream& err);
std::optional<int> retry(const std::vector<std::string>& args, const HandOverHost& host,
                         std::ostream& err);

}  // namespace velvox::CommandLine

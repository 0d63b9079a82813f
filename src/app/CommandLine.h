#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "app/CommandHandOver.h"

namespace velvox::CommandLine {

// What the front end needs from the program that hosts it.
struct Host : HandOverHost {
    // Starts the desktop application (or hands the addresses to the copy
    // that already runs); answers the exit status.
    std::function<int(const std::vector<std::string>& urls)> launchApplication;
};

// Runs `velvox ARGS...` (args without the program name) and answers the exit status.
int run(const std::vector<std::string>& args, const Host& host, std::ostream& out,
        std::ostream& err);

// The key as `velvox config` shows it: "" when empty, else "set (N characters)".
std::string maskedKey(const std::string& key);

}  // namespace velvox::CommandLine

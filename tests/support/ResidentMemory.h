#pragma once

#include <fstream>
#include <string>

namespace velvox::testing {

// This process's resident memory (VmRSS), in megabytes.
inline double residentMegabytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmRSS:")) return std::stod(line.substr(6)) / 1024;
    return 0;
}

}  // namespace velvox::testing

#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/Log.h"
#include "base/Paths.h"
#include "config/Config.h"

namespace velvox::bench {

// Points HOME at a fresh temporary folder so that benchmarks never touch the
// user's settings.
inline std::string useTemporaryHome() {
    std::string pattern = std::filesystem::temp_directory_path() / "velvox-bench-XXXXXX";
    std::string home = ::mkdtemp(pattern.data());
    // Lines still on their way belong to the previous folder.
    Log::flush();
    ::setenv("HOME", home.c_str(), 1);
    Paths::resetForTesting();
    Log::resetForTesting();
    return home;
}

}  // namespace velvox::bench

#pragma once

// What the contract suites share: each runs the same cases on every
// implementation of one seam interface, through a driver per implementation
// that names itself (kName) and says why it cannot run here, if it cannot.

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace velvox::testing {

struct DriverName {
    template <typename Driver>
    static std::string GetName(int) {
        return Driver::kName;
    }
};

// Why a driver cannot run without the session variable, if it is missing.
inline std::optional<std::string> needs(const char* variable) {
    if (std::getenv(variable)) return std::nullopt;
    return std::string("no ") + variable + " in this session";
}

}  // namespace velvox::testing

#pragma once

// What the contract suites share: each runs the same cases on every
// implementation of one seam interface, through a driver per implementation
// that names itself (kName) and says why it cannot run here, if it cannot.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "integration/DesktopTest.h"

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

// A case of a contract suite: skipped where its driver cannot run, else given
// a fresh driver, in a throw-away home on the GLib main queue.
template <typename Driver>
class ContractTest : public DesktopTest {
  protected:
    void SetUp() override {
        DesktopTest::SetUp();
        if (auto why = Driver::unavailable()) GTEST_SKIP() << *why;
        driver = std::make_unique<Driver>();
    }
    std::unique_ptr<Driver> driver;
};

}  // namespace velvox::testing

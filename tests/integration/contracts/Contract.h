#pragma once

// What the contract suites share: each runs the same cases on every
// implementation of one seam interface, through a driver per implementation
// that names itself (kName) and says why it cannot run here, if it cannot.

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "integration/DesktopTest.h"
#include "integration/delivery/DeliveryWindowProcess.h"
#include "support/Shell.h"

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

// Another application's window with the keyboard's focus in its entry: the
// delivery tests' window, which reports every key it gets. On X11 it is
// given the focus; a Wayland compositor gives it to a new window itself.
inline std::unique_ptr<DeliveryWindowProcess> focusedWindow(
    std::vector<std::string> arguments = {}) {
    auto window = std::make_unique<DeliveryWindowProcess>(std::move(arguments));
    std::string pid = std::to_string(window->pid());
    bool focused =
        window->started() &&
        (std::getenv("WAYLAND_DISPLAY") ||
         shell("id=$(xdotool search --sync --onlyvisible --pid " + pid +
               " | head -n1) && xdotool windowactivate --sync $id windowfocus --sync $id"));
    window->send("focus entry");
    EXPECT_TRUE(focused && spinUntil([&] { return window->saw("active yes"); }, 5) &&
                window->waitForPrefix("focused entry"));
    return window;
}

// The next `count` keys the window gets, as "v down" (letters in lower case,
// whatever the modifiers held), and any that follow within a moment.
inline std::vector<std::string> keysGot(DeliveryWindowProcess& window, size_t count) {
    std::vector<std::string> keys;
    while (auto line = window.waitForPrefix("key ", keys.size() < count ? 5 : 0.3)) {
        // "key press V control+shift"
        auto name = line->substr(line->find(' ', 4) + 1);
        name = name.substr(0, name.find(' '));
        if (name.size() == 1)
            name[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
        keys.push_back(name + (line->starts_with("key press") ? " down" : " up"));
    }
    return keys;
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

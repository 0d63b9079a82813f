#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "fakes/DictationFakes.h"
#include "support/TempHome.h"

namespace velvox {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using Lines = std::vector<std::string>;
using Args = Lines;
constexpr int64_t kF5 = 96, kRightAlt = 61;
const std::string kEllipsis = "\u2026";
const std::string kReady = "Ready. Hold F5 to dictate \u00B7 right alt for smart to talk";
const std::string kServiceDown = "Service unavailable, try again. Retry from the tray menu";
const std::string kHeardNothing = "Heard nothing, check the input device";

// Every edge of the system faked, with time in the test's hand.
class FakedDesktopTest : public testing::TempHomeTest {
  protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        fakes = std::make_unique<testing::DictationFakes>();
    }
    // A settled user: onboarded, own Groq key, F5 to dictate, right alt for
    // smart, one correction; `extra` overrides.
    void writeConfig(const Json& extra = Json::object()) {
        Json config = Json::parse(R"({"onboarded": true, "useOwnKey": true,
            "groqApiKey": "gsk_test_key", "hotkeyKeyCode": 96, "boostHotkeyKeyCode": 61,
            "corrections": {"reddit for the cache": "Redis for the cache"}})");
        config.update(extra);
        writeFile(settingsPath("config.json"), config.dump());
    }
    bool logged(const std::string& line) const { return timesLogged(line) > 0; }

    std::unique_ptr<testing::DictationFakes> fakes;
};

}  // namespace velvox

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "app/CommandLine.h"
#include "base/Log.h"
#include "support/TempHome.h"

namespace velvox {
namespace {

using Json = nlohmann::json;

class ConfigCommandTest : public testing::TempHomeTest {
  protected:
    int run(std::vector<std::string> args) {
        out.str("");
        err.str("");
        CommandLine::Host host;
        host.launchApplication = [this](const std::vector<std::string>& urls) {
            ++launches;
            launchedWith = urls;
            return 0;
        };
        host.handOverDictation = [this](DictationCommand command, bool boost) {
            handedOver.push_back(dictationCommandName(command) + (boost ? " boost" : ""));
            return copyRuns;
        };
        int status = CommandLine::run(args, host, out, err);
        Log::sendToStandardError(false);
        return status;
    }
    std::ostringstream out, err;
    int launches = 0;
    std::vector<std::string> launchedWith;
    std::vector<std::string> handedOver;
    bool copyRuns = true;
};

TEST_F(ConfigCommandTest, PrintsTheSettingsAsReadWithKeysMasked) {
    writeFile(settingsPath("config.json"),
              R"({"groqApiKey": "  gsk_0123456789\n", "hotkeyKeyCode": 50,
                  "boostHotkeyKeyCode": 50, "minHoldSeconds": 0, "extra": 1})");
    ASSERT_EQ(run({"config"}), 0);
    Json printed = Json::parse(out.str());
    EXPECT_EQ(printed.size(), 28u);
    EXPECT_EQ(printed["groqApiKey"], "set (14 characters)");
    EXPECT_EQ(printed["anthropicApiKey"], "");
    EXPECT_EQ(printed["boostHotkeyKeyCode"], 63);
    EXPECT_DOUBLE_EQ(printed["minHoldSeconds"].get<double>(), 0.05);
    EXPECT_FALSE(printed.contains("extra"));
    EXPECT_EQ(out.str().find("gsk_"), std::string::npos) << "the key itself never shows";
    std::string text = out.str();
    EXPECT_LT(text.find("\"alwaysCopyToClipboard\""), text.find("\"apiBase\""));
}

TEST_F(ConfigCommandTest, WritesNothingEvenForADamagedFile) {
    ASSERT_EQ(run({"config"}), 0);
    EXPECT_FALSE(std::filesystem::exists(home() + "/.velvox")) << "no folder, no install id";

    writeFile(settingsPath("config.json"), "{oops");
    ASSERT_EQ(run({"config"}), 0);
    EXPECT_EQ(Json::parse(out.str())["cleanup"], true);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(home() + "/.velvox"),
                            std::filesystem::directory_iterator()),
              1)
        << "only config.json: the log line went elsewhere";
}

TEST_F(ConfigCommandTest, UsageErrorsAndDispatch) {
    EXPECT_EQ(run({"--bogus"}), 2);
    EXPECT_NE(err.str().find("usage: velvox"), std::string::npos);
    EXPECT_EQ(run({"config", "extra"}), 2);
    EXPECT_EQ(run({}), 0);
    EXPECT_EQ(launches, 1);
    EXPECT_EQ(run({"velvox://auth?token=ovk_x"}), 0);
    EXPECT_EQ(launchedWith, std::vector<std::string>{"velvox://auth?token=ovk_x"});
    EXPECT_EQ(run({"velvox://auth?token=ovk_x", "stats"}), 2);
    EXPECT_EQ(launches, 2);
    EXPECT_EQ(run({"--version"}), 0);
    EXPECT_EQ(out.str().rfind("Velvox ", 0), 0u);
}

TEST_F(ConfigCommandTest, DictateHandsOverToTheRunningCopyOnly) {
    EXPECT_EQ(run({"dictate", "start"}), 0);
    EXPECT_EQ(run({"dictate", "toggle", "--boost"}), 0);
    EXPECT_EQ(run({"dictate", "stop"}), 0);
    EXPECT_EQ(handedOver, (std::vector<std::string>{"start", "toggle boost", "stop"}));
    for (std::vector<std::string> args :
         std::vector<std::vector<std::string>>{{"dictate"},
                                               {"dictate", "begin"},
                                               {"dictate", "start", "--smart"},
                                               {"dictate", "--boost", "start"},
                                               {"dictate", "start", "--boost", "now"}}) {
        EXPECT_EQ(run(args), 2) << args.back();
        EXPECT_NE(err.str().find("velvox dictate start|stop|toggle [--boost]"), std::string::npos);
    }
    EXPECT_EQ(handedOver.size(), 3u);
    copyRuns = false;
    EXPECT_EQ(run({"dictate", "toggle"}), 1);
    EXPECT_EQ(err.str(),
              "Velvox is not running. Start it first, then run \"velvox dictate toggle\" again.\n");
    EXPECT_EQ(launches, 0) << "a command never starts the application itself";
}

TEST(MaskedKeyTest, CountsCharactersAfterTrimming) {
    EXPECT_EQ(CommandLine::maskedKey(""), "");
    EXPECT_EQ(CommandLine::maskedKey(" \n"), "");
    EXPECT_EQ(CommandLine::maskedKey(" abc "), "set (3 characters)");
    EXPECT_EQ(CommandLine::maskedKey("ключ"), "set (4 characters)");
}

}  // namespace
}  // namespace velvox

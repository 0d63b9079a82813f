#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "config/Config.h"
#include "fakes/FakeKeyEventSource.h"
#include "support/TempHome.h"

namespace velvox {
namespace {

using Json = nlohmann::json;

class ConfigTest : public testing::TempHomeTest {
  protected:
    std::string configPath() const { return settingsPath("config.json"); }
    Config loadWith(const Json& object) {
        writeFile(configPath(), object.dump());
        return Config::load();
    }
    Json stored() const { return Json::parse(readFile(configPath())); }
};

TEST_F(ConfigTest, MissingFileGivesDefaultsSilently) {
    Config config = Config::load();
    EXPECT_EQ(config.apiBase, Config::defaultApiBase());
    EXPECT_EQ(config.hotkeyKeyCode, 63);
    EXPECT_EQ(config.boostHotkeyKeyCode, 61);
    EXPECT_EQ(config.vocabulary.size(), 36u);
    EXPECT_EQ(config.vocabulary[7], "Velvox");
    EXPECT_EQ(config.corrections.size(), 26u);
    EXPECT_EQ(config.systemPrompt, Config::defaultPrompt());
    EXPECT_TRUE(logMessages().empty());
}

TEST_F(ConfigTest, DamagedFileGivesDefaultsWithOneLogLine) {
    for (const char* content : {"{\"cleanup\": false,}", "[]", "\"text\"", "", "{\"a\": 1"}) {
        writeFile(configPath(), content);
        Config config = Config::load();
        EXPECT_TRUE(config.cleanup) << content;
    }
    auto messages = logMessages();
    ASSERT_EQ(messages.size(), 5u);
    EXPECT_EQ(messages[0],
              "config.json is not valid JSON, using defaults. Check for a stray comma or quote.");
}

TEST_F(ConfigTest, ClampsHoldAndRecordTimes) {
    EXPECT_DOUBLE_EQ(loadWith({{"minHoldSeconds", 0}}).minHoldSeconds, 0.05);
    EXPECT_DOUBLE_EQ(loadWith({{"minHoldSeconds", 9}}).minHoldSeconds, 2.0);
    EXPECT_DOUBLE_EQ(loadWith({{"minHoldSeconds", 0.4}}).minHoldSeconds, 0.4);
    EXPECT_DOUBLE_EQ(loadWith({{"maxRecordSeconds", 1}}).maxRecordSeconds, 5);
    EXPECT_DOUBLE_EQ(loadWith({{"maxRecordSeconds", 3600}}).maxRecordSeconds, 600);
    EXPECT_DOUBLE_EQ(loadWith({{"maxRecordSeconds", "30"}}).maxRecordSeconds, 120);
}

TEST_F(ConfigTest, ResolvesHotkeyClashes) {
    auto keys = [&](Json dictation, Json boost) {
        Config config = loadWith({{"hotkeyKeyCode", dictation}, {"boostHotkeyKeyCode", boost}});
        return std::make_pair(config.hotkeyKeyCode, config.boostHotkeyKeyCode);
    };
    EXPECT_EQ(keys(63, 63), std::make_pair(int64_t{63}, int64_t{61}));
    EXPECT_EQ(keys(50, 50), std::make_pair(int64_t{50}, int64_t{63}));
    EXPECT_EQ(keys(-1, -1), std::make_pair(int64_t{63}, int64_t{-1}));
    EXPECT_EQ(keys(96, -1), std::make_pair(int64_t{96}, int64_t{-1}));
    EXPECT_EQ(keys(-1, 61), std::make_pair(int64_t{-1}, int64_t{61}));
    EXPECT_EQ(keys(49.9, 61.2), std::make_pair(int64_t{49}, int64_t{61})) << "truncated";
}

// A PC keyboard handles fn itself: stored or built in, a key the system never
// reports becomes its own default, and the file keeps what the user wrote.
TEST_F(ConfigTest, KeysThisKeyboardNeverSendsReadAsItsDefaults) {
    auto pc = std::make_shared<testing::FakeKeyEventSource>();
    pc->defaults = {62, 61};
    pc->unreportable = {63};
    Platform::installKeyEventSource(pc);
    using Keys = std::pair<int64_t, int64_t>;
    EXPECT_EQ(Config().hotkeyKeyCode, 62);
    EXPECT_EQ(Config::templateObject()["hotkeyKeyCode"], 62);
    EXPECT_EQ(loadWith(Json::object()).hotkeyKeyCode, 62);
    const std::vector<std::pair<Keys, Keys>> table = {
        {{63, 61}, {62, 61}}, {{63, 62}, {61, 62}}, {{62, 63}, {62, 61}}, {{61, 63}, {61, 62}},
        {{63, 63}, {62, 61}}, {{50, 50}, {50, 62}}, {{-1, -1}, {62, -1}}, {{-1, 63}, {-1, 61}},
    };
    for (const auto& [written, read] : table) {
        Config config =
            loadWith({{"hotkeyKeyCode", written.first}, {"boostHotkeyKeyCode", written.second}});
        EXPECT_EQ(Keys(config.hotkeyKeyCode, config.boostHotkeyKeyCode), read)
            << written.first << ", " << written.second;
        EXPECT_EQ(stored()["hotkeyKeyCode"], written.first) << "the file is left as it is";
    }
}

TEST_F(ConfigTest, ReadsTolerantlyKeyByKey) {
    Config config = loadWith({{"useOwnKey", 1},
                              {"autoPaste", 0},
                              {"cleanup", "false"},
                              {"keepHistory", false},
                              {"groqApiKey", "  gsk_abc\n"},
                              {"anthropicApiKey", 42},
                              {"transcribeModel", ""},
                              {"systemPrompt", ""},
                              {"emailPrompt", "Write it as mail."},
                              {"vocabulary", Json::array({"one", 2})},
                              {"promptModeApps", Json::array({"a.b", "c"})},
                              {"corrections", {{"a", "b"}, {"c", 1}}},
                              {"inputDevice", " alsa_input.usb-mic \n"},
                              {"unknownKey", true}});
    EXPECT_TRUE(config.useOwnKey);
    EXPECT_FALSE(config.autoPaste);
    EXPECT_TRUE(config.cleanup) << "a string is not a boolean";
    EXPECT_FALSE(config.keepHistory);
    EXPECT_EQ(config.groqApiKey, "gsk_abc");
    EXPECT_EQ(config.anthropicApiKey, "");
    EXPECT_EQ(config.transcribeModel, "") << "an empty model is taken as is";
    EXPECT_EQ(config.systemPrompt, Config::defaultPrompt()) << "an empty prompt keeps the default";
    EXPECT_EQ(config.emailPrompt, "Write it as mail.");
    EXPECT_EQ(config.vocabulary, Config::defaultVocabulary()) << "one number spoils the array";
    EXPECT_EQ(config.promptModeApps, (std::vector<std::string>{"a.b", "c"}));
    EXPECT_EQ(config.corrections, Config::defaultCorrections());
    EXPECT_EQ(config.inputDevice, "alsa_input.usb-mic");
    EXPECT_EQ(loadWith({{"inputDevice", 7}}).inputDevice, "") << "not a name: the default input";
}

TEST_F(ConfigTest, IgnoresEmptyOrRetiredServiceBase) {
    EXPECT_EQ(loadWith({{"apiBase", ""}}).apiBase, Config::defaultApiBase());
    for (const auto& host : Config::retiredServiceHosts()) {
        EXPECT_EQ(loadWith({{"apiBase", "https://" + host + "/v1"}}).apiBase,
                  Config::defaultApiBase());
    }
    EXPECT_EQ(loadWith({{"apiBase", "http://127.0.0.1:9/v1"}}).apiBase, "http://127.0.0.1:9/v1");
}

TEST_F(ConfigTest, SetEditsOneKeyAndKeepsTheRest) {
    writeFile(configPath(), R"({"cleanup": true, "mine": [1, 2], "autoPaste": true})");
    Config::set("cleanup", Json(false));
    Config::set("autoPaste", std::nullopt);
    Json object = stored();
    EXPECT_EQ(object, (Json{{"cleanup", false}, {"mine", {1, 2}}}));
    EXPECT_EQ(modeOf(configPath()), 0600u);
    std::string text = readFile(configPath());
    EXPECT_LT(text.find("\"cleanup\""), text.find("\"mine\"")) << "sorted keys";
    EXPECT_NE(text.find("\n  \"cleanup\""), std::string::npos) << "pretty-printed";
}

TEST_F(ConfigTest, SetNeverOverwritesADamagedFile) {
    writeFile(configPath(), "{\"cleanup\": tru");
    Config::set("cleanup", Json(false));
    EXPECT_EQ(readFile(configPath()), "{\"cleanup\": tru");
    EXPECT_EQ(logMessages(),
              std::vector<std::string>{"could not persist cleanup, config.json unreadable"});
    EXPECT_EQ(systemLog->lines().size(), 1u);
}

TEST_F(ConfigTest, InstallIdIsIssuedOnceAndKept) {
    writeFile(configPath(), R"({"installId": "short", "installID": "other"})");
    std::string first = Config::installId();
    EXPECT_EQ(first.size(), 36u);
    EXPECT_EQ(first, Config::installId());
    EXPECT_EQ(stored()["installId"], first);
    EXPECT_EQ(stored()["installID"], "other") << "the record's key is a different key";
    for (char c : first) EXPECT_FALSE(std::islower(static_cast<unsigned char>(c)));
}

TEST_F(ConfigTest, InstallIdWithoutAFileIsFreshEachTime) {
    std::string first = Config::installId();
    std::string second = Config::installId();
    EXPECT_NE(first, second);
    EXPECT_FALSE(testing::TempHomeTest::modeOf(configPath()));
    EXPECT_EQ(logMessages().size(), 2u);
    EXPECT_EQ(logMessages()[0], "could not persist installId, config.json unreadable");
}

TEST_F(ConfigTest, ContextTextIsTrimmedAndOptional) {
    EXPECT_EQ(Config::contextText(), "");
    writeFile(settingsPath("context.md"), "\n\n   \n");
    EXPECT_EQ(Config::contextText(), "");
    writeFile(settingsPath("context.md"), "\n I work at Northwind.\n\n");
    EXPECT_EQ(Config::contextText(), "I work at Northwind.");
}

}  // namespace
}  // namespace velvox

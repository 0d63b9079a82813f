#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "config/Config.h"
#include "support/TempHome.h"

namespace velvox {
namespace {

using Json = nlohmann::json;

class ConfigMigrationTest : public testing::TempHomeTest {
  protected:
    std::string configPath() const { return settingsPath("config.json"); }
    Json stored() const { return Json::parse(readFile(configPath())); }
    void prepare() {
        Config::migrateOldFolder();
        Config::writeTemplateIfMissing();
    }
};

TEST_F(ConfigMigrationTest, NewInstallGetsFullTemplateInOneRun) {
    prepare();
    Json object = stored();
    EXPECT_EQ(object.size(), 27u);
    EXPECT_FALSE(object.contains("promptModeApps"));
    EXPECT_EQ(object["promptVersion"], 5);
    EXPECT_TRUE(object["maxRecordSeconds"].is_number_integer());
    EXPECT_EQ(object["installID"].get<std::string>().size(), 36u);
    EXPECT_EQ(object["corrections"].size(), 26u);
    EXPECT_EQ(modeOf(home() + "/.velvox"), 0700u);
    EXPECT_EQ(modeOf(configPath()), 0600u);
    EXPECT_EQ(logMessages(), (std::vector<std::string>{"new install id issued",
                                                       "prompts updated to version 5 from 0"}));
}

TEST_F(ConfigMigrationTest, SecondRunWritesAndLogsNothing) {
    prepare();
    std::string before = readFile(configPath());
    auto inode = std::filesystem::last_write_time(configPath());
    size_t lines = logMessages().size();
    prepare();
    EXPECT_EQ(readFile(configPath()), before);
    EXPECT_EQ(std::filesystem::last_write_time(configPath()), inode);
    EXPECT_EQ(logMessages().size(), lines);
}

TEST_F(ConfigMigrationTest, UpgradesAnOlderFileInPlace) {
    std::vector<std::string> vocabulary = Config::defaultVocabulary();
    vocabulary.erase(vocabulary.begin() + 2, vocabulary.begin() + 5);  // three entries gone
    vocabulary.push_back("mine");
    writeFile(configPath(), Json{{"vocabulary", vocabulary},
                                 {"installID", ""},
                                 {"systemPrompt", "old prompt"},
                                 {"promptVersion", 3},
                                 {"cleanupModel", "mixtral-8x7b-32768"},
                                 {"cleanup", "not a bool"}}
                                .dump());
    prepare();
    Json object = stored();
    auto words = object["vocabulary"].get<std::vector<std::string>>();
    ASSERT_EQ(words.size(), 37u);
    EXPECT_EQ(words[33], "mine");
    EXPECT_EQ(std::vector<std::string>(words.end() - 3, words.end()),
              (std::vector<std::string>{"Supabase", "Amara", "Figma"}));
    EXPECT_EQ(object["systemPrompt"], Config::defaultPrompt());
    EXPECT_EQ(object["cleanupModel"], "openai/gpt-oss-120b");
    EXPECT_EQ(object["cleanup"], "not a bool")
        << "existing keys are never replaced by the template";
    EXPECT_FALSE(object["installID"].get<std::string>().empty());
    EXPECT_EQ(logMessages(),
              (std::vector<std::string>{
                  "vocabulary topped up with 3 terms", "new install id issued",
                  "prompts updated to version 5 from 3",
                  "cleanupModel mixtral-8x7b-32768 is retired, switched to openai/gpt-oss-120b"}));
}

TEST_F(ConfigMigrationTest, KeepsCurrentPromptsAndNearRetiredModels) {
    writeFile(configPath(), Json{{"promptVersion", 5},
                                 {"systemPrompt", "my own"},
                                 {"cleanupModel", "llama-3.3-70b-versatile-2"},
                                 {"vocabulary", Json::array()}}
                                .dump());
    prepare();
    Json object = stored();
    EXPECT_EQ(object["systemPrompt"], "my own");
    EXPECT_EQ(object["cleanupModel"], "llama-3.3-70b-versatile-2");
    EXPECT_EQ(object["vocabulary"].size(), 36u) << "an emptied vocabulary is refilled";
}

TEST_F(ConfigMigrationTest, LeavesADamagedFileUntouched) {
    writeFile(configPath(), "{\"cleanup\": false,,}");
    prepare();
    EXPECT_EQ(readFile(configPath()), "{\"cleanup\": false,,}");
    EXPECT_EQ(logMessages(),
              std::vector<std::string>{"config.json unreadable or invalid, leaving it untouched"});
}

TEST_F(ConfigMigrationTest, MovesTheFirstOldFolderOnly) {
    writeFile(home() + "/.orvo/config.json", R"({"cleanup": false})");
    writeFile(home() + "/.orvo/history.md", "old history");
    writeFile(home() + "/.orvo/.hidden", "x");
    writeFile(home() + "/.mirel/config.json", R"({"autoPaste": false})");
    writeFile(settingsPath("history.md"), "current history");
    Config::migrateOldFolder();
    EXPECT_EQ(readFile(configPath()), R"({"cleanup": false})");
    EXPECT_EQ(readFile(settingsPath("history.md")), "current history");
    EXPECT_EQ(readFile(home() + "/.orvo/history.md"), "old history");
    EXPECT_TRUE(std::filesystem::exists(settingsPath(".hidden")));
    EXPECT_TRUE(std::filesystem::exists(home() + "/.mirel/config.json"));
    EXPECT_EQ(modeOf(home() + "/.velvox"), 0700u);
    EXPECT_EQ(logMessages(), std::vector<std::string>{"migrated settings from ~/.orvo"});

    Config::writeTemplateIfMissing();
    EXPECT_FALSE(Config::load().cleanup);
}

TEST_F(ConfigMigrationTest, NothingToMigrateWhenConfigExists) {
    writeFile(configPath(), "{}");
    writeFile(home() + "/.orvo/config.json", R"({"cleanup": false})");
    Config::migrateOldFolder();
    EXPECT_EQ(readFile(configPath()), "{}");
    EXPECT_TRUE(logMessages().empty());
}

}  // namespace
}  // namespace velvox

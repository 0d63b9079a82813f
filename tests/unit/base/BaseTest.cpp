#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "base/AppState.h"
#include "base/Files.h"
#include "base/Log.h"
#include "base/NotificationCenter.h"
#include "base/Paths.h"
#include "config/Config.h"
#include "fakes/FakeKeyEventSource.h"
#include "support/TempHome.h"

namespace velvox {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using Lines = std::vector<std::string>;
using Keys = std::pair<int64_t, int64_t>;

class ConfigTest : public testing::TempHomeTest {
  protected:
    std::string configPath() const { return settingsPath("config.json"); }
    Config loadWith(const Json& object) {
        writeFile(configPath(), object.dump());
        return Config::load();
    }
    Keys keys(Json dictation, Json boost) {
        Config config = loadWith({{"hotkeyKeyCode", dictation}, {"boostHotkeyKeyCode", boost}});
        return {config.hotkeyKeyCode, config.boostHotkeyKeyCode};
    }
    Json stored() const { return Json::parse(readFile(configPath())); }
    void prepare() {
        Config::migrateOldFolder();
        Config::writeTemplateIfMissing();
    }
};

TEST_F(ConfigTest, MissingOrDamagedFileGivesDefaults) {
    EXPECT_TRUE(Config::load().cleanup);
    EXPECT_TRUE(logMessages().empty()) << "a missing file is not worth a line";
    writeFile(settingsPath("context.md"), "\n I work at Northwind.\n\n");
    EXPECT_EQ(Config::contextText(), "I work at Northwind.") << "trimmed";
    for (const char* content : {"{\"cleanup\": false,}", "[]", "\"text\"", "", "{\"a\": 1"}) {
        writeFile(configPath(), content);
        EXPECT_TRUE(Config::load().cleanup) << content;
    }
    EXPECT_EQ(logMessages().size(), 5u) << "each damaged read is logged";
}

TEST_F(ConfigTest, ClampsTimesAndResolvesHotkeyClashes) {
    const std::tuple<Json, double, Json, double> times[] = {
        {0, 0.05, 1, 5}, {9, 2.0, 3600, 600}, {0.4, 0.4, "30", 120}};
    for (const auto& [minHold, minHoldRead, maxRecord, maxRecordRead] : times) {
        Config config = loadWith({{"minHoldSeconds", minHold}, {"maxRecordSeconds", maxRecord}});
        EXPECT_DOUBLE_EQ(config.minHoldSeconds, minHoldRead) << minHold;
        EXPECT_DOUBLE_EQ(config.maxRecordSeconds, maxRecordRead) << maxRecord;
    }
    const std::pair<std::pair<Json, Json>, Keys> clashes[] = {
        {{63, 63}, {63, 61}}, {{-1, -1}, {63, -1}}, {{-1, 61}, {-1, 61}}, {{49.9, 61.2}, {49, 61}}};
    for (const auto& [written, read] : clashes)
        EXPECT_EQ(keys(written.first, written.second), read) << written.first << written.second;
}

// A PC keyboard handles fn itself: stored or built in, a key the system never
// reports becomes its own default, and the file keeps what the user wrote.
TEST_F(ConfigTest, KeysThisKeyboardNeverSendsReadAsItsDefaults) {
    auto pc = std::make_shared<testing::FakeKeyEventSource>();
    pc->defaults = {62, 61};
    pc->unreportable = {63};
    Platform::installKeyEventSource(pc);
    EXPECT_EQ(Config().hotkeyKeyCode, 62);
    EXPECT_EQ(Config::templateObject()["hotkeyKeyCode"], 62);
    const std::pair<Keys, Keys> table[] = {
        {{63, 61}, {62, 61}}, {{63, 62}, {61, 62}}, {{62, 63}, {62, 61}}, {{61, 63}, {61, 62}},
        {{63, 63}, {62, 61}}, {{50, 50}, {50, 62}}, {{-1, -1}, {62, -1}}, {{-1, 63}, {-1, 61}},
    };
    for (const auto& [written, read] : table) {
        EXPECT_EQ(keys(written.first, written.second), read) << written.first << written.second;
        EXPECT_EQ(stored()["hotkeyKeyCode"], written.first) << "the file is left as it is";
    }
}

TEST_F(ConfigTest, ReadsTolerantlyKeyByKey) {
    Config config = loadWith(Json::parse(R"({"useOwnKey": 1, "autoPaste": 0, "cleanup": "false",
        "keepHistory": false, "groqApiKey": "  gsk_abc\n", "anthropicApiKey": 42,
        "transcribeModel": "", "systemPrompt": "", "emailPrompt": "Write it as mail.",
        "vocabulary": ["one", 2], "promptModeApps": ["a.b", "c"], "corrections": {"a": "b", "c": 1},
        "inputDevice": " alsa_input.usb-mic \n", "apiBase": "", "unknownKey": true,
        "insertDirectly": false, "promptModePrompt": "Be brief."})"));
    // Numbers count as booleans, a string does not.
    EXPECT_EQ(std::tuple(config.useOwnKey, config.autoPaste, config.cleanup, config.keepHistory,
                         config.insertDirectly),
              std::tuple(true, false, true, false, false));
    EXPECT_EQ(std::tuple(config.groqApiKey, config.anthropicApiKey, config.emailPrompt,
                         config.promptModePrompt),
              std::tuple("gsk_abc", "", "Write it as mail.", "Be brief."));
    EXPECT_EQ(config.transcribeModel, "") << "an empty model is taken as is";
    EXPECT_EQ(config.systemPrompt, Config::defaultPrompt()) << "an empty prompt keeps the default";
    EXPECT_EQ(config.vocabulary, Config::defaultVocabulary()) << "one number spoils the array";
    EXPECT_EQ(config.promptModeApps, (Lines{"a.b", "c"}));
    EXPECT_EQ(config.corrections, Config::defaultCorrections());
    EXPECT_EQ(config.inputDevice, "alsa_input.usb-mic");
    EXPECT_EQ(config.apiBase, Config::defaultApiBase());
    for (const auto& host : Config::retiredServiceHosts())
        EXPECT_EQ(loadWith({{"apiBase", "https://" + host + "/v1"}}).apiBase,
                  Config::defaultApiBase());
    EXPECT_EQ(loadWith({{"apiBase", "http://127.0.0.1:9/v1"}}).apiBase, "http://127.0.0.1:9/v1");
    // A server of the user's own: an unknown upload format sends what every server reads.
    const std::pair<Json, std::string> formats[] = {
        {"wav", "wav"}, {"m4a", "m4a"}, {"flac", "auto"}, {1, "auto"}};
    for (const auto& [written, read] : formats)
        EXPECT_EQ(loadWith({{"transcribeUploadFormat", written}}).transcribeUploadFormat, read);
    config = loadWith({{"transcribeApiKey", " sk-own\n"},
                       {"cleanupBaseUrl", " http://gpubox:8080 "},
                       {"customTimeoutPerSecond", 100}});
    EXPECT_EQ(
        std::tuple(config.transcribeApiKey, config.cleanupBaseUrl, config.customTimeoutPerSecond),
        std::tuple("sk-own", "http://gpubox:8080", 30.0));
}

TEST_F(ConfigTest, SetEditsOneKeyAndNeverOverwritesADamagedFile) {
    writeFile(configPath(), R"({"cleanup": true, "mine": [1, 2], "autoPaste": true})");
    Config::set("cleanup", Json(false));
    Config::set("autoPaste", std::nullopt);
    EXPECT_EQ(readFile(configPath()),
              "{\n  \"cleanup\": false,\n  \"mine\": [\n    1,\n    2\n  ]\n}\n")
        << "pretty-printed, sorted keys";
    EXPECT_EQ(modeOf(configPath()), 0600u);

    writeFile(configPath(), "{\"cleanup\": tru");
    Config::set("cleanup", Json(false));
    EXPECT_EQ(readFile(configPath()), "{\"cleanup\": tru");
    EXPECT_EQ(logMessages(), Lines{"could not persist cleanup, config.json unreadable"});
    EXPECT_EQ(systemLog->lines().size(), 1u);
}

// Lowers one resource limit of this process for a scope. Limits bind root too,
// unlike file modes.
struct LimitScope {
    LimitScope(int resource, rlim_t soft) : resource(resource) {
        ::getrlimit(resource, &saved);
        rlimit lowered{soft, saved.rlim_max};
        ::setrlimit(resource, &lowered);
    }
    ~LimitScope() { ::setrlimit(resource, &saved); }
    int resource;
    rlimit saved{};
};

TEST_F(ConfigTest, AFailedAtomicWriteLeavesTheOldFileInPlace) {
    const std::string old = "{\n  \"cleanup\": true\n}\n";
    const std::string longer = "{\n  \"cleanup\": false,\n  \"autoPaste\": false\n}\n";
    auto fileSizeSignal = std::signal(SIGXFSZ, SIG_IGN);
    // With no file descriptor left nothing may run that opens a file, the
    // sanitizers' own checks included: only the write itself runs there.
    // The temporary file cannot take the whole text; no temporary file can be made.
    for (auto [resource, soft] :
         {std::pair<int, rlim_t>{RLIMIT_FSIZE, old.size()}, {RLIMIT_NOFILE, 0}}) {
        SCOPED_TRACE(resource);
        writeFile(configPath(), old);
        Log::flush();
        bool written, set = false;
        {
            LimitScope limit(resource, soft);
            written = Files::writeAtomically(configPath(), longer);
            if (resource == RLIMIT_FSIZE) set = Config::set("autoPaste", Json(false));
        }
        EXPECT_FALSE(set) << "a setting not stored says so";
        EXPECT_FALSE(written) << "the write reports its failure";
        EXPECT_EQ(readFile(configPath()), old);
        auto files =
            std::count_if(fs::directory_iterator(settingsPath("")), {},
                          [](const auto& entry) { return entry.path().filename() != "app.log"; });
        EXPECT_EQ(files, 1) << "no temporary file is left beside it";
    }
    std::signal(SIGXFSZ, fileSizeSignal);
    // Said through the system log, which the file-size limit cannot cut short.
    EXPECT_EQ(systemLog->lines(),
              std::vector<std::string>{"Velvox error: could not persist autoPaste, config.json not "
                                       "written"});
    EXPECT_TRUE(Files::writeAtomically(configPath(), longer)) << "and without the fault it works";
    EXPECT_EQ(readFile(configPath()), longer);
}

TEST_F(ConfigTest, InstallIdIsIssuedOnceAndKeptOnlyWhereAFileIs) {
    std::string unsaved = Config::installId();
    EXPECT_NE(unsaved, Config::installId()) << "no file: fresh each time";
    EXPECT_FALSE(modeOf(configPath()));

    writeFile(configPath(), R"({"installId": "short", "installID": "other"})");
    std::string first = Config::installId();
    EXPECT_EQ(first.size(), 36u);
    EXPECT_EQ(first, Config::installId());
    EXPECT_EQ(stored()["installId"], first);
    EXPECT_EQ(stored()["installID"], "other") << "the record's key is a different key";
    for (char c : first) EXPECT_FALSE(std::islower(static_cast<unsigned char>(c)));
}

TEST_F(ConfigTest, NewInstallGetsTheFullTemplateOnceInAPrivateFile) {
    prepare();
    Json object = stored();
    EXPECT_EQ(object.size(), 27u);
    EXPECT_EQ(object["installID"].get<std::string>().size(), 36u);
    EXPECT_EQ(timesLogged("new install id issued"), 1u);
    EXPECT_EQ(modeOf(home() + "/.velvox"), 0700u);
    size_t logged = logMessages().size();
    std::string before = readFile(configPath());
    auto written = fs::last_write_time(configPath());
    prepare();
    EXPECT_EQ(readFile(configPath()), before);
    EXPECT_EQ(fs::last_write_time(configPath()), written);
    EXPECT_EQ(logMessages().size(), logged) << "a second run writes and logs nothing";
}

TEST_F(ConfigTest, UpgradesAnOlderFileInPlace) {
    Lines vocabulary = Config::defaultVocabulary();
    vocabulary.erase(vocabulary.begin() + 2, vocabulary.begin() + 5);  // three entries gone
    vocabulary.push_back("mine");
    Json older = Json::parse(R"({"installID": "", "systemPrompt": "old prompt", "promptVersion": 3,
        "cleanupModel": "mixtral-8x7b-32768", "cleanup": "not a bool"})");
    older["vocabulary"] = vocabulary;
    writeFile(configPath(), older.dump());
    prepare();
    Json object = stored();
    auto words = object["vocabulary"].get<Lines>();
    ASSERT_EQ(words.size(), 37u);
    EXPECT_EQ(words[33], "mine");
    EXPECT_EQ(Lines(words.end() - 3, words.end()), (Lines{"Supabase", "Amara", "Figma"}));
    EXPECT_EQ(object["systemPrompt"], Config::defaultPrompt());
    EXPECT_EQ(object["cleanupModel"], "openai/gpt-oss-120b");
    EXPECT_EQ(object["cleanup"], "not a bool") << "existing keys are never replaced";
    EXPECT_FALSE(object["installID"].get<std::string>().empty());

    writeFile(configPath(), R"({"promptVersion": 5, "systemPrompt": "my own",
        "cleanupModel": "llama-3.3-70b-versatile-2", "vocabulary": []})");
    prepare();
    object = stored();
    EXPECT_EQ(object["systemPrompt"], "my own");
    EXPECT_EQ(object["cleanupModel"], "llama-3.3-70b-versatile-2") << "near a retired name";
    EXPECT_EQ(object["vocabulary"].size(), 36u) << "an emptied vocabulary is refilled";

    writeFile(configPath(), "{\"cleanup\": false,,}");
    prepare();
    EXPECT_EQ(readFile(configPath()), "{\"cleanup\": false,,}");
    EXPECT_EQ(logMessages().back(), "config.json unreadable or invalid, leaving it untouched");
}

// One thing amiss in an otherwise current file, so that each step alone must
// say that it changed the file; what a step does not understand stays as it
// is and the file is not written.
TEST_F(ConfigTest, MendsTheOneThingAmissInACurrentFile) {
    prepare();
    const Json current = stored();
    Json shorter = current["vocabulary"];
    shorter.erase(shorter.size() - 1);
    const std::tuple<const char*, Json, Json> cases[] = {
        {"vocabulary", shorter, current["vocabulary"]},
        {"promptVersion", false, current["promptVersion"]},
        {"cleanupModel", "mixtral-8x7b-32768", current["cleanupModel"]},
        {"vocabulary", "mine", "mine"},
        {"cleanupModel", 5, 5},
    };
    for (const auto& [key, written, read] : cases) {
        Json object = current;
        object[key] = written;
        writeFile(configPath(), object.dump());
        prepare();
        EXPECT_EQ(stored()[key], read) << key << written;
        EXPECT_EQ(readFile(configPath()) == object.dump(), written == read) << key << written;
    }
}

TEST_F(ConfigTest, MovesTheFirstOldFolderOnlyWhenNoConfigExists) {
    writeFile(home() + "/.orvo/config.json", R"({"cleanup": false})");
    writeFile(home() + "/.orvo/history.md", "old history");
    writeFile(home() + "/.orvo/.hidden", "x");
    writeFile(home() + "/.mirel/config.json", R"({"autoPaste": false})");
    writeFile(settingsPath("history.md"), "current history");
    Config::migrateOldFolder();
    EXPECT_EQ(readFile(configPath()), R"({"cleanup": false})");
    EXPECT_EQ(readFile(settingsPath("history.md")), "current history");
    EXPECT_EQ(readFile(home() + "/.orvo/history.md"), "old history");
    EXPECT_TRUE(fs::exists(settingsPath(".hidden")));
    EXPECT_TRUE(fs::exists(home() + "/.mirel/config.json"));
    EXPECT_EQ(modeOf(home() + "/.velvox"), 0700u);

    writeFile(configPath(), "{}");
    writeFile(home() + "/.orvo/config.json", R"({"cleanup": false})");
    size_t lines = logMessages().size();
    Config::migrateOldFolder();
    EXPECT_EQ(readFile(configPath()), "{}");
    EXPECT_EQ(logMessages().size(), lines);
}

class LogTest : public testing::TempHomeTest {
  protected:
    std::string logPath() const { return settingsPath("app.log"); }
};

TEST_F(LogTest, LinesAreStampedInLocalTimeInAPrivateFile) {
    setEnv("TZ", "Asia/Kolkata");  // UTC+05:30, no daylight saving
    ::tzset();
    queue->setNow(std::chrono::system_clock::from_time_t(1772442000 + 59));  // 09:00:59 UTC
    Log::write("a");
    queue->setNow(std::chrono::system_clock::from_time_t(1772442000 + 60));
    Log::write("first\nsecond");  // written as is
    Log::flush();
    setEnv("TZ", std::nullopt);
    ::tzset();
    EXPECT_EQ(readFile(logPath()), "14:30:59  a\n14:31:00  first\nsecond\n");
    EXPECT_EQ(modeOf(home() + "/.velvox"), 0700u);
    EXPECT_EQ(modeOf(logPath()), 0600u);
}

TEST_F(LogTest, RestartsOnlyPastTwoHundredThousandBytesAndKeepsModeAndOrder) {
    for (size_t size : {200000, 200001}) {  // at the limit appended, past it restarted
        writeFile(logPath(), std::string(size, 'x'));
        Log::write("alone");
        Log::flush();
        std::string log = readFile(logPath());
        EXPECT_EQ(log.size(), (size == 200000 ? size : 0) + 8 + 8) << "time stamp and line";
        EXPECT_TRUE(log.ends_with("  alone\n"));
    }
    fs::permissions(logPath(), fs::perms::all);
    Log::write("appended");
    EXPECT_EQ(logMessages(), (Lines{"alone", "appended"}));
    EXPECT_EQ(modeOf(logPath()), 0600u);
}

TEST_F(LogTest, LinesWrittenJustBeforeExitReachTheFile) {
    // The child is this program started afresh (the log's objects made in a real run's order);
    // it runs this test again from the top, so the parent names the home it writes into.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ::setenv("VELVOX_TEST_EXIT_HOME", home().c_str(), /*overwrite=*/0);
    EXPECT_EXIT(
        {
            fs::remove_all(home());
            ::setenv("HOME", std::getenv("VELVOX_TEST_EXIT_HOME"), 1);
            Paths::resetForTesting();
            Log::resetForTesting();
            for (int i = 0; i < 200; ++i) Log::write("line " + std::to_string(i));
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    ::unsetenv("VELVOX_TEST_EXIT_HOME");
    auto messages = logMessages();
    ASSERT_EQ(messages.size(), 200u);
    EXPECT_EQ(messages.back(), "line 199");
}

using AppStateTest = testing::TempHomeTest;

TEST_F(AppStateTest, PostsOnlyRealChangesAndAlwaysLater) {
    Lines seen;  // the status each post finds when it is delivered
    auto changes = NotificationCenter::defaultCenter().observe(
        AppState::changed, [&](auto&) { seen.push_back(AppState::status()); });
    AppState::setStatus("Starting up");  // the values it starts with
    AppState::setTapRunning(false);
    queue->runUntilIdle();
    AppState::setStatus("Idle");
    EXPECT_TRUE(seen.empty()) << "no change posts nothing, and a change waits for the main queue";
    AppState::setStatus("Recording");
    AppState::setTapRunning(true);
    AppState::setTapRunning(true);
    queue->runUntilIdle();
    EXPECT_EQ(seen, (Lines{"Recording", "Recording", "Recording"})) << "no coalescing";
}

TEST(AppStateWords, PerMinuteTruncatesAndNeedsTime) {
    for (auto [seconds, wpm] : {std::pair{0.0, 0}, {-1.0, 0}, {7.0, 102}})  // 102.86 truncated
        EXPECT_EQ(AppState::wordsPerMinute(12, seconds), wpm) << seconds;
}

}  // namespace
}  // namespace velvox

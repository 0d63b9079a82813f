// Settings changes from the pages: single values and their special keys,
// hotkey capture, the Groq key check against a real server, the application
// chooser and the microphone test.
#include <chrono>
#include <thread>

#include "base/Log.h"
#include "platform/curl/CurlHttpClient.h"
#include "support/LoopbackServer.h"
#include "unit/home/HomeFixture.h"

namespace velvox::testing {
namespace {

using Json = nlohmann::json;

class HomeSettingsTest : public HomeTest {
  protected:
    void SetUp() override {
        HomeTest::SetUp();
        AppState::reload() = [this] { ++reloads; };
    }
    int reloads = 0;
};

// Values are stored as sent and shown as the configuration reads them
// (clamped); a value of neither kind only reloads; API keys never go through "set".
TEST_F(HomeSettingsTest, SettingsShowWhatTheConfigurationMakesOfThem) {
    show();
    struct Case {
        Json message;
        Json stored;  // null: not stored
        Json shown;   // as the next state shows it
    };
    const Case cases[] = {
        {{{"key", "maxRecordSeconds"}, {"number", 90}}, 90, 90},
        {{{"key", "maxRecordSeconds"}, {"number", 900}}, 900, 600},
        {{{"key", "minHoldSeconds"}, {"number", 0.4}}, 0.4, 0.4},
        {{{"key", "minHoldSeconds"}, {"number", 0.01}}, 0.01, 0.05},
        {{{"key", "cleanup"}, {"bool", false}}, false, false},
        {{{"key", "autoPaste"}, {"bool", false}}, false, false},
        {{{"key", "keepHistory"}, {"text", "no"}}, nullptr, true},
        {{{"key", "cleanupProvider"}, {"text", "anthropic"}}, "anthropic", "anthropic"},
        {{{"key", "transcribeModel"}, {"text", "whisper-large-v3"}},
         "whisper-large-v3",
         "whisper-large-v3"},
        {{{"key", "systemPrompt"}, {"text", "Be brief."}}, "Be brief.", "Be brief."},
        // An empty prompt keeps the built-in one.
        {{{"key", "notePrompt"}, {"text", ""}}, "", Config::defaultNotePrompt()},
    };
    int expectedReloads = 0;
    for (const auto& c : cases) {
        Json message = c.message;
        message["action"] = "set";
        window->clearCalls();
        post(message);
        std::string key = c.message["key"];
        EXPECT_EQ(configFile().contains(key) ? configFile()[key] : Json(), c.stored) << key;
        EXPECT_EQ(reloads, ++expectedReloads) << key;
        // Numbers and texts are shown back at once; switches only reload.
        bool pushes = c.message.contains("number") || c.stored.is_string();
        EXPECT_EQ(callsOf("window.orvoState"), pushes ? 1u : 0u) << key;
        if (!pushes) post({{"action", "ready"}});
        EXPECT_EQ(lastArgument("window.orvoState")["cfg"][key], c.shown) << key;
    }
    post({{"action", "set"}, {"number", 3}});  // no key
    post({{"action", "set"}, {"key", 5}, {"number", 3}});
    EXPECT_EQ(reloads, expectedReloads);
    int before = reloads;
    for (const char* key : {"groqApiKey", "anthropicApiKey", "keepHistory"}) {
        post({{"action", "set"}, {"key", key}, {"text", "sk-not-checked"}});
        EXPECT_FALSE(configFile().contains(key)) << key;
    }
    EXPECT_EQ(reloads, before + 3);
    post({{"action", "ready"}});
    auto state = lastArgument("window.orvoState");
    EXPECT_EQ(state["cfg"]["anthropicKeySaved"], false);
    EXPECT_EQ(state["defaults"]["cleanupModel"], "openai/gpt-oss-120b");
    EXPECT_EQ(state["defaults"]["systemPrompt"], Config::defaultPrompt());
}

TEST_F(HomeSettingsTest, ThemeGivesTheWindowItsLookAtOnceAndSystemFollowsTheDesktop) {
    show();
    struct Case {
        Json message;
        ColorScheme desktop;
        std::string stored;
        bool dark;
    };
    const Case cases[] = {
        {{{"text", "dark"}}, ColorScheme::light, "dark", true},
        {{{"text", "light"}}, ColorScheme::dark, "light", false},
        {{{"text", "system"}}, ColorScheme::light, "system", false},
        {{{"text", "system"}}, ColorScheme::dark, "system", true},
        {{{"number", 1}}, ColorScheme::light, "system", false},
        {{{"text", "sepia"}}, ColorScheme::dark, "sepia", true},
    };
    for (const auto& c : cases) {
        window->desktopScheme = c.desktop;
        window->dark = !c.dark;
        Json message = c.message;
        message["action"] = "set";
        message["key"] = "theme";
        post(message);
        EXPECT_EQ(configFile()["theme"], c.stored) << message;
        EXPECT_EQ(window->dark, c.dark) << message;
    }
    EXPECT_EQ(reloads, 0);
    EXPECT_EQ(callsOf("window.orvoState"), 0u);

    // A desktop that switches its scheme tells the page and the window.
    post({{"action", "set"}, {"key", "theme"}, {"text", "system"}});
    window->changeDesktopScheme(ColorScheme::light);
    EXPECT_EQ(lastArgument("window.orvoState")["systemScheme"], "light");
    EXPECT_FALSE(window->dark);
}

TEST_F(HomeSettingsTest, LoginItemHasItsOwnHandling) {
    show();

    post({{"action", "set"}, {"key", "loginItem"}, {"bool", true}});
    EXPECT_TRUE(desktop->loginItem);
    EXPECT_EQ(lastArgument("window.orvoState")["loginItem"], true);
    post({{"action", "set"}, {"key", "loginItem"}, {"bool", "yes"}});
    EXPECT_FALSE(desktop->loginItem);
    desktop->loginItemError = "cannot write autostart entry";
    post({{"action", "set"}, {"key", "loginItem"}, {"bool", true}});
    EXPECT_EQ(logMessages().back(), "start at login: cannot write autostart entry");
    EXPECT_EQ(lastArgument("window.orvoState")["loginItem"], false);  // the real state
    EXPECT_FALSE(configFile().contains("loginItem"));
    EXPECT_EQ(reloads, 0);
}

TEST_F(HomeSettingsTest, TheTwoHotkeysCannotBeTheSameKey) {
    writeConfig({{"hotkeyKeyCode", 63}, {"boostHotkeyKeyCode", 61}});
    show();
    post({{"action", "set"}, {"key", "boostHotkeyKeyCode"}, {"number", 63}});
    EXPECT_EQ(lastArgument("window.orvoCapture"),
              Json::parse(R"({"note":"Those two cannot be the same key.","bad":true})"));
    EXPECT_EQ(configFile()["boostHotkeyKeyCode"], 61);
    EXPECT_EQ(reloads, 0);

    post({{"action", "set"}, {"key", "hotkeyKeyCode"}, {"number", 96.7}});
    EXPECT_EQ(configFile()["hotkeyKeyCode"], 96);
    EXPECT_TRUE(configFile()["hotkeyKeyCode"].is_number_integer());
    EXPECT_EQ(lastArgument("window.orvoCapture"), Json::parse(R"({"note":"","bad":false})"));
    EXPECT_EQ(lastArgument("window.orvoState")["cfg"]["hotkeyKeyCode"], 96);
    EXPECT_EQ(reloads, 1);

    // "No key" on both sides is not a clash.
    post({{"action", "set"}, {"key", "boostHotkeyKeyCode"}, {"number", -1}});
    post({{"action", "set"}, {"key", "hotkeyKeyCode"}, {"number", -1}});
    EXPECT_EQ(configFile()["hotkeyKeyCode"], -1);
    EXPECT_EQ(reloads, 3);
}

TEST_F(HomeSettingsTest, CapturedKeysAreAppliedAndAnEmptyCaptureClearsTheNote) {
    writeConfig({{"hotkeyKeyCode", 63}, {"boostHotkeyKeyCode", 61}});
    show();
    auto& monitor = HotkeyMonitor::shared();
    post({{"action", "captureKey"}, {"key", "promptModePrompt"}});
    post({{"action", "captureKey"}});
    EXPECT_FALSE(monitor.isCapturing());
    EXPECT_FALSE(monitor.onCaptured);

    post({{"action", "captureKey"}, {"key", "boostHotkeyKeyCode"}});
    EXPECT_TRUE(monitor.isCapturing());
    ASSERT_TRUE(monitor.onCaptured);
    monitor.onCaptured(HotkeyMonitor::KeyCode{63});
    EXPECT_EQ(lastArgument("window.orvoCapture")["note"], "Those two cannot be the same key.");
    monitor.onCaptured(HotkeyMonitor::KeyCode{58});
    EXPECT_EQ(configFile()["boostHotkeyKeyCode"], 58);
    window->clearCalls();
    monitor.onCaptured(std::nullopt);
    EXPECT_EQ(lastArgument("window.orvoCapture"), Json::parse(R"({"note":"","bad":false})"));
    EXPECT_EQ(configFile()["boostHotkeyKeyCode"], 58);

    post({{"action", "captureKey"}, {"key", "hotkeyKeyCode"}});
    window->clearCalls();
    post({{"action", "cancelCapture"}});
    EXPECT_FALSE(monitor.isCapturing());
    EXPECT_EQ(lastArgument("window.orvoCapture"), Json::parse(R"({"note":"","bad":false})"));
    EXPECT_EQ(callsOf("window.orvoState"), 1u);
}

// Key checks against a real server through the real HTTP client.
class KeyCheckTest : public HomeSettingsTest {
  protected:
    void SetUp() override {
        HomeSettingsTest::SetUp();
        ::setenv("VELVOX_GROQ_BASE", server.base().c_str(), 1);
        ::setenv("VELVOX_ANTHROPIC_BASE", server.base().c_str(), 1);
        Platform::installHttpClient(std::make_shared<CurlHttpClient>());
        writeConfig({{"useOwnKey", true}});
        show();
    }
    void TearDown() override {
        ::unsetenv("VELVOX_GROQ_BASE");
        ::unsetenv("VELVOX_ANTHROPIC_BASE");
        HomeSettingsTest::TearDown();
    }
    // Posts the key and waits (bounded) for the answer to reach the main queue.
    Json check(const std::string& key, const std::string& action = "setKey") {
        window->clearCalls();
        post({{"action", action}, {"text", key}});
        for (int i = 0; i < 3000 && !queue->hasPendingWork(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        queue->runUntilIdle();
        return lastArgument("window.orvoState");
    }
    LoopbackServer server;
};

// Each key is checked with its provider's own request, and saved only once
// the provider accepts it; the notes go beside its own field, and the key
// reaches neither the log nor the file before it is accepted.
TEST_F(KeyCheckTest, AKeyIsSavedOnlyOnceItsProviderAcceptsIt) {
    struct Provider {
        const char *action, *path, *prefix, *field, *configKey;
    };
    const Provider groq{"setKey", "/openai/v1/models", "gsk_", "key", "groqApiKey"};
    const Provider anthropic{"setAnthropicKey", "/v1/models", "sk-ant-", "anthropicKey",
                             "anthropicApiKey"};
    struct Case {
        const Provider* provider;
        int status;
        std::string note;
    };
    const std::string works = "Key works and is saved on this computer.";
    const Case cases[] = {
        {&groq, 401, "Groq rejected that key. Copy it again from the key page."},
        {&groq, 403, "Groq returned 403. Try again in a moment."},
        {&groq, 200, works},
        {&anthropic, 401, "Anthropic rejected that key. Copy it again from the console."},
        {&anthropic, 529, "Anthropic returned 529. Try again in a moment."},
        {&anthropic, 200, works},
    };
    int saved = 0;
    for (const auto& c : cases) {
        const Provider& p = *c.provider;
        std::string key = p.prefix + std::to_string(c.status);
        server.answer(p.path, c.status, R"({"data":[]})");
        auto state = check(" " + key + " \n", p.action);
        std::string field = p.field;
        bool accepted = c.status == 200;
        saved += accepted;
        EXPECT_EQ(state[field + "Note"], c.note) << key;
        EXPECT_EQ(state[field + "Bad"], !accepted) << key;
        EXPECT_EQ(state.contains(field + "Saved"), accepted) << key;
        EXPECT_FALSE(state.contains(&p == &groq ? "anthropicKeyNote" : "keyNote")) << key;
        EXPECT_EQ(configFile().contains(p.configKey) && configFile()[p.configKey] == key, accepted)
            << key;
        EXPECT_EQ(reloads, saved) << key;
        auto request = server.lastRequest();
        EXPECT_EQ(request.method, "GET");
        EXPECT_EQ(request.path, p.path);
        if (&p == &groq) {
            EXPECT_EQ(request.header("Authorization"), "Bearer " + key);
        } else {
            EXPECT_EQ(request.header("x-api-key"), key);
            EXPECT_EQ(request.header("anthropic-version"), "2023-06-01");
            EXPECT_FALSE(request.hasHeader("Authorization"));
        }
        EXPECT_FALSE(request.hasHeader("X-Velvox-App"));
    }
    EXPECT_EQ(check("gsk_200")["live"]["hasKey"], true);
    EXPECT_EQ(lastArgument("window.orvoState")["cfg"]["anthropicKeySaved"], true);
    EXPECT_EQ(window->scriptsCalling("window.orvoUsage").back(),
              "window.orvoUsage && window.orvoUsage({own:true})");
    auto lines = logMessages();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "home: key validated and saved"), lines.end());
    for (const auto& line : lines) {
        EXPECT_EQ(line.find("gsk_"), std::string::npos) << line;
        EXPECT_EQ(line.find("sk-ant-"), std::string::npos) << line;
    }
    post({{"action", "setAnthropicKey"}, {"text", "  "}});
    EXPECT_EQ(lastArgument("window.orvoState")["anthropicKeyNote"], "Paste a key first.");
}

TEST_F(KeyCheckTest, AnUnreachableServerIsReportedAndNothingSaved) {
    int port = server.port();
    ::setenv("VELVOX_GROQ_BASE", ("http://127.0.0.1:" + std::to_string(port == 1 ? 2 : 1)).c_str(),
             1);
    auto state = check("gsk_any");
    ASSERT_TRUE(state.is_object());
    EXPECT_EQ(state["keyNote"].get<std::string>().rfind("Could not reach Groq: ", 0), 0u);
    EXPECT_GT(state["keyNote"].get<std::string>().size(),
              std::string("Could not reach Groq: ").size());
    EXPECT_EQ(state["keyBad"], true);
    EXPECT_FALSE(configFile().contains("groqApiKey"));
}

TEST_F(HomeSettingsTest, ChosenApplicationsJoinThePromptList) {
    writeConfig({{"promptModeApps", {"code"}}});
    show();
    post({{"action", "addApp"}});
    EXPECT_EQ(desktop->calls.back(),
              "chooseApplication Choose an app | Dictating into this app will use prompt mode.");
    desktop->choose(std::nullopt);  // cancelled
    EXPECT_EQ(reloads, 0);

    post({{"action", "addApp"}});
    desktop->choose("obsidian");
    EXPECT_EQ(configFile()["promptModeApps"], Json({"code", "obsidian"}));
    EXPECT_EQ(reloads, 1);
    window->clearCalls();
    post({{"action", "addApp"}});
    desktop->choose("code");  // already there: written again, reloaded, pushed
    EXPECT_EQ(configFile()["promptModeApps"], Json({"code", "obsidian"}));
    EXPECT_EQ(reloads, 2);
    EXPECT_EQ(callsOf("window.orvoState"), 1u);
}

// The microphone list reaches the page with the choice; choosing one stores
// its name (a name that is not text changes nothing) and a running test
// goes on from the chosen microphone.
TEST_F(HomeSettingsTest, ChosenMicrophoneIsStoredAndHeardByTheTest) {
    audio->devices = {{"virtual_mic", "Virtual microphone"}, {"desk_mic", "Desk microphone"}};
    Home& home = show();
    post({{"action", "ready"}});
    Json pushed = lastArgument("window.orvoState");
    EXPECT_EQ(pushed["inputDevices"],
              Json::parse(R"([{"name":"virtual_mic","label":"Virtual microphone"},
                              {"name":"desk_mic","label":"Desk microphone"}])"));
    EXPECT_EQ(pushed["cfg"]["inputDevice"], "");

    post({{"action", "micTest"}});
    post({{"action", "set"}, {"key", "inputDevice"}, {"text", " desk_mic "}});
    post({{"action", "set"}, {"key", "inputDevice"}, {"number", 2}});
    EXPECT_EQ(configFile()["inputDevice"], "desk_mic");
    EXPECT_EQ(reloads, 2);
    ASSERT_TRUE(home.micTestRunning());
    EXPECT_TRUE(audio->takes.front()->stopped);
    EXPECT_EQ(audio->calls()[audio->calls().size() - 3],
              "makeTake format 1633772320, 16000 Hz, 1 channel, 32000 bit/s from desk_mic");
}

TEST_F(HomeSettingsTest, MicTestSendsLevelsTwentyTimesASecondUntilStopped) {
    Home& home = show();
    post({{"action", "micTest"}});
    ASSERT_TRUE(home.micTestRunning());
    auto take = audio->lastTake();
    ASSERT_TRUE(take);
    take->averagePower = 0.0f;  // full scale
    queue->advance(0.05);
    auto levels = window->scriptsCalling("window.orvoLevel");
    ASSERT_EQ(levels.size(), 1u);
    EXPECT_EQ(levels[0], "window.orvoLevel && window.orvoLevel(1)");
    queue->advance(0.95);
    EXPECT_EQ(callsOf("window.orvoLevel"), 20u);

    // A new test restarts; stopping discards the take and its file.
    post({{"action", "micTest"}});
    EXPECT_TRUE(take->stopped);
    auto second = audio->lastTake();
    EXPECT_NE(second, take);
    post({{"action", "micTestStop"}});
    EXPECT_FALSE(home.micTestRunning());
    EXPECT_FALSE(std::filesystem::exists(second->path));
    window->clearCalls();
    queue->advance(1.0);
    EXPECT_EQ(callsOf("window.orvoLevel"), 0u);

    audio->recordSucceeds = false;
    post({{"action", "micTest"}});
    EXPECT_FALSE(home.micTestRunning());
    queue->advance(1.0);
    EXPECT_EQ(callsOf("window.orvoLevel"), 0u);
}

}  // namespace
}  // namespace velvox::testing

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
        {{{"key", "maxRecordSeconds"}, {"number", 900}}, 900, 600},
        {{{"key", "minHoldSeconds"}, {"number", 0.01}}, 0.01, 0.05},
        {{{"key", "cleanup"}, {"bool", false}}, false, false},
        {{{"key", "keepHistory"}, {"text", "no"}}, nullptr, true},
        {{{"key", "cleanupProvider"}, {"text", "anthropic"}}, "anthropic", "anthropic"},
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
}

TEST_F(HomeSettingsTest, ThemeGivesTheWindowItsLookAtOnceAndSystemFollowsTheDesktop) {
    show();
    // The value sent, the desktop's scheme, what is stored, whether the window is dark.
    const std::tuple<Json, ColorScheme, const char*, bool> cases[] = {
        {"dark", ColorScheme::light, "dark", true},
        {"light", ColorScheme::dark, "light", false},
        {"system", ColorScheme::light, "system", false},
        {"system", ColorScheme::dark, "system", true},
        {1, ColorScheme::light, "system", false},
        {"sepia", ColorScheme::dark, "sepia", true}};
    for (const auto& [value, scheme, stored, dark] : cases) {
        window->desktopScheme = scheme;
        window->dark = !dark;
        post({{"action", "set"}, {"key", "theme"}, {value.is_string() ? "text" : "number", value}});
        EXPECT_EQ(configFile()["theme"], stored) << value;
        EXPECT_EQ(window->dark, dark) << value;
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

// A key code is stored whole; the two hotkeys cannot be the same key, but
// both may be none. Captured keys go the same way; an empty capture clears
// the note. (The clash note itself is in the recorded pushes.)
TEST_F(HomeSettingsTest, HotkeysAreSetByNumberOrCapture) {
    writeConfig({{"hotkeyKeyCode", 63}, {"boostHotkeyKeyCode", 61}});
    show();
    post({{"action", "set"}, {"key", "hotkeyKeyCode"}, {"number", 96.7}});
    EXPECT_EQ(configFile()["hotkeyKeyCode"], 96);
    EXPECT_TRUE(configFile()["hotkeyKeyCode"].is_number_integer());
    EXPECT_EQ(lastArgument("window.orvoCapture"), Json::parse(R"({"note":"","bad":false})"));
    post({{"action", "set"}, {"key", "boostHotkeyKeyCode"}, {"number", -1}});
    post({{"action", "set"}, {"key", "hotkeyKeyCode"}, {"number", -1}});
    EXPECT_EQ(configFile()["hotkeyKeyCode"], -1);
    EXPECT_EQ(reloads, 3);

    auto& monitor = HotkeyMonitor::shared();
    post({{"action", "captureKey"}, {"key", "promptModePrompt"}});
    EXPECT_FALSE(monitor.isCapturing());
    post({{"action", "captureKey"}, {"key", "boostHotkeyKeyCode"}});
    ASSERT_TRUE(monitor.isCapturing() && monitor.onCaptured);
    monitor.onCaptured(HotkeyMonitor::KeyCode{58});
    EXPECT_EQ(configFile()["boostHotkeyKeyCode"], 58);
    window->clearCalls();
    monitor.onCaptured(std::nullopt);
    EXPECT_EQ(lastArgument("window.orvoCapture"), Json::parse(R"({"note":"","bad":false})"));
    EXPECT_EQ(configFile()["boostHotkeyKeyCode"], 58);
    post({{"action", "captureKey"}, {"key", "hotkeyKeyCode"}});
    post({{"action", "cancelCapture"}});
    EXPECT_FALSE(monitor.isCapturing());
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
        {&groq, 200, works},
        {&anthropic, 401, "Anthropic rejected that key. Copy it again from the console."},
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
    ::setenv("VELVOX_GROQ_BASE", "http://127.0.0.1:1", 1);
    auto note = check("gsk_any")["keyNote"].get<std::string>();
    EXPECT_TRUE(note.starts_with("Could not reach Groq: ") && note.size() > 22) << note;
    EXPECT_FALSE(configFile().contains("groqApiKey"));
}

TEST_F(HomeSettingsTest, ChosenApplicationsJoinThePromptList) {
    writeConfig({{"promptModeApps", {"code"}}});
    show();
    post({{"action", "addApp"}});
    EXPECT_EQ(desktop->calls.back(),
              "chooseApplication Choose an app | Dictating into this app will use prompt mode.");
    desktop->choose(std::nullopt);  // cancelled
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
// its name and a running test goes on from it. The test sends levels twenty
// times a second until stopped; stopping discards the take and its file.
TEST_F(HomeSettingsTest, MicTestHearsTheChosenMicrophoneUntilStopped) {
    audio->devices = {{"virtual_mic", "Virtual microphone"}, {"desk_mic", "Desk microphone"}};
    Home& home = show();
    post({{"action", "ready"}});
    EXPECT_EQ(lastArgument("window.orvoState")["inputDevices"][1],
              Json::parse(R"({"name":"desk_mic","label":"Desk microphone"})"));
    post({{"action", "micTest"}});
    auto first = audio->lastTake();
    ASSERT_TRUE(home.micTestRunning() && first);
    post({{"action", "set"}, {"key", "inputDevice"}, {"text", " desk_mic "}});
    post({{"action", "set"}, {"key", "inputDevice"}, {"number", 2}});
    EXPECT_EQ(configFile()["inputDevice"], "desk_mic");
    EXPECT_TRUE(first->stopped);
    auto take = audio->lastTake();
    EXPECT_NE(take, first);
    EXPECT_EQ(audio->calls()[audio->calls().size() - 3],
              "makeTake format 1633772320, 16000 Hz, 1 channel, 32000 bit/s from desk_mic");

    take->averagePower = 0.0f;  // full scale
    window->clearCalls();
    queue->advance(0.05);
    EXPECT_EQ(window->scriptsCalling("window.orvoLevel"),
              std::vector<std::string>{"window.orvoLevel && window.orvoLevel(1)"});
    queue->advance(0.95);
    EXPECT_EQ(callsOf("window.orvoLevel"), 20u);
    post({{"action", "micTestStop"}});
    EXPECT_FALSE(home.micTestRunning());
    EXPECT_FALSE(std::filesystem::exists(take->path));
    audio->recordSucceeds = false;
    post({{"action", "micTest"}});
    EXPECT_FALSE(home.micTestRunning());
    window->clearCalls();
    queue->advance(1.0);
    EXPECT_EQ(callsOf("window.orvoLevel"), 0u);
}

}  // namespace
}  // namespace velvox::testing

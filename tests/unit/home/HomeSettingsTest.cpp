#include "base/Files.h"
#include "capture/TakeFiles.h"
#include "home/ServerTestSample.h"
#include "unit/home/HomeFixture.h"

namespace velvox::testing {
namespace {

class HomeSettingsTest : public HomeTest {};

// Values are stored as sent and shown as the configuration reads them
// (clamped); numbers and texts are pushed back at once, switches only reload;
// API keys never go through "set".
TEST_F(HomeSettingsTest, SettingsShowWhatTheConfigurationMakesOfThem) {
    show();
    // key, value sent, stored (null: not), as the next state shows it.
    const std::tuple<const char*, Json, Json, Json> cases[] = {
        {"maxRecordSeconds", 900, 900, 600},
        {"cleanup", false, false, false},
        {"notePrompt", "", "", Config::defaultNotePrompt()},  // empty: the built-in one
        {"groqApiKey", "sk-not-checked", nullptr, nullptr},
    };
    int expectedReloads = 0;
    for (const auto& [key, value, stored, shown] : cases) {
        window->calls.clear();
        set(key, value);
        EXPECT_EQ(configFile().contains(key) ? configFile()[key] : Json(), stored) << key;
        EXPECT_EQ(reloads, ++expectedReloads) << key;
        bool pushes = value.is_number() || stored.is_string();
        EXPECT_EQ(callsOf("window.orvoState"), pushes ? 1u : 0u) << key;
        if (!pushes) post({{"action", "ready"}});
        EXPECT_TRUE(shown.is_null() || lastArgument("window.orvoState")["cfg"][key] == shown)
            << key;
    }
    post({{"action", "set"}, {"number", 3}});  // no key
    post({{"action", "set"}, {"key", 5}, {"number", 3}});
    EXPECT_EQ(reloads, expectedReloads);
}

// The theme gives the window its look at once, "system" follows the desktop;
// start at login is the desktop's, never the file's.
TEST_F(HomeSettingsTest, ThemeAndLoginItemAreAppliedAtOnce) {
    show();
    // The value sent, the desktop's scheme, what is stored, whether the window is dark.
    const auto light = ColorScheme::light, dark = ColorScheme::dark;
    // clang-format off
    const std::tuple<Json, ColorScheme, const char*, bool> cases[] = {
        {"dark", light, "dark", true}, {"light", dark, "light", false},
        {"system", dark, "system", true}, {1, light, "system", false}};
    // clang-format on
    for (const auto& [value, scheme, stored, dark] : cases) {
        window->desktopScheme = scheme;
        window->dark = !dark;
        set("theme", value);
        EXPECT_EQ(configFile()["theme"], stored) << value;
        EXPECT_EQ(window->dark, dark) << value;
    }
    EXPECT_EQ(callsOf("window.orvoState"), 0u);
    set("theme", "system");
    window->changeDesktopScheme(ColorScheme::light);
    EXPECT_EQ(lastArgument("window.orvoState")["systemScheme"], "light");
    EXPECT_FALSE(window->dark);
    set("loginItem", true);
    EXPECT_TRUE(desktop->loginItem);
    EXPECT_EQ(lastArgument("window.orvoState")["loginItem"], true);
    post({{"action", "set"}, {"key", "loginItem"}, {"bool", "yes"}});
    EXPECT_FALSE(desktop->loginItem);
    desktop->loginItemError = "cannot write autostart entry";
    set("loginItem", true);
    EXPECT_EQ(logMessages().back(), "start at login: cannot write autostart entry");
    EXPECT_EQ(lastArgument("window.orvoState")["loginItem"], false);  // the real state
    EXPECT_FALSE(configFile().contains("loginItem"));
    EXPECT_EQ(reloads, 0);
}

// A key code is stored whole; both hotkeys may be none. Captured keys go the
// same way; an empty capture clears the note. (The clash note is in the
// recorded pushes.)
TEST_F(HomeSettingsTest, HotkeysAreSetByNumberOrCapture) {
    writeConfig({{"hotkeyKeyCode", 63}, {"boostHotkeyKeyCode", 61}});
    show();
    set("hotkeyKeyCode", 96.7);
    EXPECT_EQ(configFile()["hotkeyKeyCode"].dump(), "96");  // a whole number
    set("boostHotkeyKeyCode", -1);
    set("hotkeyKeyCode", -1);
    EXPECT_EQ(configFile()["hotkeyKeyCode"], -1);
    EXPECT_EQ(reloads, 3);
    auto& monitor = HotkeyMonitor::shared();
    post({{"action", "captureKey"}, {"key", "promptModePrompt"}});
    EXPECT_FALSE(monitor.isCapturing());
    post({{"action", "captureKey"}, {"key", "boostHotkeyKeyCode"}});
    ASSERT_TRUE(monitor.isCapturing() && monitor.onCaptured);
    monitor.onCaptured(HotkeyMonitor::KeyCode{58});
    EXPECT_EQ(configFile()["boostHotkeyKeyCode"], 58);
    window->calls.clear();
    monitor.onCaptured(std::nullopt);
    EXPECT_EQ(lastArgument("window.orvoCapture"), Json::parse(R"({"note":"","bad":false})"));
    EXPECT_EQ(configFile()["boostHotkeyKeyCode"], 58);
    post({{"action", "cancelCapture"}});
    EXPECT_FALSE(monitor.isCapturing());
}

// Each key is checked with its provider's own request and saved only once
// the provider accepts it; the notes go beside its own field, and the key
// reaches neither the log nor the file before it is accepted.
TEST_F(HomeSettingsTest, AKeyIsSavedOnlyOnceItsProviderAcceptsIt) {
    setEnv("VELVOX_GROQ_BASE", "https://groq.test");
    setEnv("VELVOX_ANTHROPIC_BASE", "https://anthropic.test");
    writeConfig({{"useOwnKey", true}});
    show();
    // clang-format off
    const std::tuple<std::string, int, const char*, std::string> cases[] = {
        {"gsk_401", 401, "Groq rejected that key. Copy it again from the key page.",
         "GET https://groq.test/openai/v1/models 15\nAuthorization: Bearer gsk_401"},
        {"gsk_200", 200, "Key works and is saved on this computer.",
         "GET https://groq.test/openai/v1/models 15\nAuthorization: Bearer gsk_200"},
        {"sk-ant-200", 200, "Key works and is saved on this computer.",
         "GET https://anthropic.test/v1/models 15\nx-api-key: sk-ant-200\nanthropic-version: 2023-06-01"},
    };
    // clang-format on
    int saved = 0;
    for (const auto& [key, status, note, request] : cases) {
        bool groq = key.starts_with("gsk_"), accepted = status == 200;
        std::string field = groq ? "key" : "anthropicKey";
        post({{"action", groq ? "setKey" : "setAnthropicKey"}, {"text", " " + key + " \n"}});
        answer(status, R"({"data":[]})");
        EXPECT_EQ(lastRequest(), request);
        auto state = lastArgument("window.orvoState");
        saved += accepted;
        EXPECT_EQ(state[field + "Note"], note) << key;
        EXPECT_EQ(state[field + "Bad"], !accepted) << key;
        EXPECT_EQ(state.contains(field + "Saved"), accepted) << key;
        EXPECT_EQ(configFile().value(groq ? "groqApiKey" : "anthropicApiKey", "") == key, accepted);
        EXPECT_EQ(reloads, saved) << key;
    }
    EXPECT_EQ(window->scriptsCalling("window.orvoUsage").back(),
              "window.orvoUsage && window.orvoUsage({own:true})");
    post({{"action", "setKey"}, {"text", "gsk_any"}});
    http->fail({TransportError::Kind::cannotConnect, "no route"});
    queue->runUntilIdle();
    EXPECT_EQ(lastArgument("window.orvoState")["keyNote"], "Could not reach Groq: no route");
    EXPECT_EQ(configFile()["groqApiKey"], "gsk_200");
    for (const auto& line : logMessages())
        EXPECT_TRUE(line.find("gsk_") == line.npos && line.find("sk-ant-") == line.npos);
}

// Choosing a microphone stores its name and a running test goes on from it.
// The test sends levels twenty times a second until stopped; stopping
// discards the take and its file.
TEST_F(HomeSettingsTest, MicTestHearsTheChosenMicrophoneUntilStopped) {
    audio->devices = {{"virtual_mic", "Virtual microphone"}, {"desk_mic", "Desk microphone"}};
    Home& home = show();
    post({{"action", "micTest"}});
    auto first = audio->lastTake();
    ASSERT_TRUE(home.micTestRunning() && first);
    set("inputDevice", " desk_mic ");
    set("inputDevice", 2);
    EXPECT_EQ(configFile()["inputDevice"], "desk_mic");
    EXPECT_TRUE(first->stopped);
    auto take = audio->lastTake();
    EXPECT_EQ(audio->calls()[audio->calls().size() - 3],
              "makeTake format 1633772320, 16000 Hz, 1 channel, 32000 bit/s from desk_mic");
    take->averagePower = 0.0f;  // full scale
    window->calls.clear();
    queue->advance(0.05);
    EXPECT_EQ(window->scriptsCalling("window.orvoLevel"),
              Lines{"window.orvoLevel && window.orvoLevel(1)"});
    queue->advance(0.95);
    EXPECT_EQ(callsOf("window.orvoLevel"), 20u);
    post({{"action", "micTestStop"}});
    EXPECT_FALSE(home.micTestRunning());
    EXPECT_FALSE(std::filesystem::exists(take->path));
    audio->recordSucceeds = false;
    post({{"action", "micTest"}});
    EXPECT_FALSE(home.micTestRunning());
}

// A server of the user's own takes its key as given (the page never sees it
// again); each Test button sends what a dictation would, to the server as
// saved, and says what came back.
TEST_F(HomeSettingsTest, ServerTestsSendWhatADictationWouldAndSayWhatCameBack) {
    show();
    set("transcribeBaseUrl", "http://127.0.0.1:8080");
    set("cleanupBaseUrl", "http://localhost:8081/v1/");
    set("transcribeApiKey", "sk-local");
    auto state = lastArgument("window.orvoState");
    EXPECT_EQ(state["cfg"]["transcribeKeySaved"], true);
    EXPECT_EQ(state.dump().find("sk-local"), std::string::npos);
    std::string chat = R"({"choices":[{"message":{"content":"Hello."}}]})";
    const std::tuple<const char*, int, std::string, std::string, bool> cases[] = {
        {"transcription", 200, R"({"text":"Hello from Velvox."})",
         "It works. The server heard: \u201cHello from Velvox.\u201d", false},
        {"transcription", 200, R"({"text":" "})",
         "It works, but the server heard no words in the sample.", false},
        {"transcription", 404, "Not Found",
         "The transcription server at http://127.0.0.1:8080 has no /v1/audio/transcriptions. Is "
         "it an OpenAI-compatible server?",
         true},
        {"polishing", 200, chat, "It works. The model answered: \u201cHello.\u201d", false},
    };
    for (const auto& [step, status, body, note, bad] : cases) {
        post({{"action", "testServer"}, {"text", step}});
        const HttpRequest sent = http->requests().back();
        answer(status, body);
        EXPECT_EQ(lastArgument("window.orvoState")["serverTest"],
                  Json({{"step", step}, {"note", note}, {"bad", bad}}));
        bool transcription = std::string(step) == "transcription";
        EXPECT_EQ(sent.url, transcription ? "http://127.0.0.1:8080/v1/audio/transcriptions"
                                          : "http://localhost:8081/v1/chat/completions");
        EXPECT_EQ(sent.header("Authorization").has_value(), transcription);
        EXPECT_EQ(sent.body.find(serverTestSample()) != std::string::npos, transcription);
    }
    EXPECT_TRUE(Files::namesInside(*TakeFiles::takeFolder()).empty()) << "the sample is removed";
}

}  // namespace
}  // namespace velvox::testing

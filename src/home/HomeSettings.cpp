// Settings changes the pages ask for: single values, the Groq and Anthropic keys, the list of
// prompt-mode applications and the microphone test.
#include <cmath>
#include <set>

#include "base/AppState.h"
#include "base/Files.h"
#include "base/Log.h"
#include "base/Strings.h"
#include "capture/TakeFiles.h"
#include "home/Home.h"
#include "home/PageFunctions.h"
#include "home/PageScript.h"
#include "home/ServerTestSample.h"
#include "platform/Desktop.h"
#include "platform/Platform.h"
#include "platform/WebView.h"
#include "services/API.h"
#include "services/Account.h"

namespace velvox {

namespace {

// What the page says when a provider's key check fails: the provider could not
// be reached, refused the key, or answered something else.
std::string keyCheckFailure(const std::string& provider, const std::string& copyFrom,
                            const EmptyResult& answer) {
    const APIError* refusal = answer.apiError();
    if (!refusal) return "Could not reach " + provider + ": " + answer.errorDescription();
    if (refusal->status == 401)
        return provider + " rejected that key. Copy it again from " + copyFrom + ".";
    return provider + " returned " + std::to_string(refusal->status) + ". Try again in a moment.";
}

}  // namespace

namespace {

constexpr double kLevelIntervalSeconds = 0.05;

// A JSON number read as a 64-bit key code (fractions cut off).
std::optional<int64_t> keyCodeOf(const nlohmann::json& number) {
    if (number.is_number_integer()) return number.get<int64_t>();
    double value = number.get<double>();
    if (!std::isfinite(value) || value < -9.2e18 || value > 9.2e18) return std::nullopt;
    return static_cast<int64_t>(value);
}

// The text settings the pages edit. The Groq and Anthropic keys are not among
// them: those are saved only once their provider has accepted them. A key for
// a server of the user's own is saved as given (the server may want none),
// and its Test button checks it.
bool isTextSetting(const std::string& key) {
    static const std::set<std::string> keys = {"cleanupProvider",
                                               "transcribeModel",
                                               "cleanupModel",
                                               "systemPrompt",
                                               "boostSystemPrompt",
                                               "promptModePrompt",
                                               "emailPrompt",
                                               "messagePrompt",
                                               "notePrompt",
                                               "transcribeProvider",
                                               "transcribeBaseUrl",
                                               "transcribeApiKey",
                                               "transcribeUploadFormat",
                                               "cleanupBaseUrl",
                                               "cleanupApiKey"};
    return keys.count(key) > 0;
}

// What a server test shows when the server answered.
std::string heard(const std::string& step, const std::string& text) {
    if (step == "polishing") return "It works. The model answered: \u201c" + text + "\u201d";
    if (text.empty()) return "It works, but the server heard no words in the sample.";
    return "It works. The server heard: \u201c" + text + "\u201d";
}

}  // namespace

void Home::apply(const std::string& key, const nlohmann::json& message) {
    auto member = [&](const char* name) -> const nlohmann::json* {
        if (!message.is_object()) return nullptr;
        auto found = message.find(name);
        return found == message.end() ? nullptr : &*found;
    };
    if (key == "theme") {
        const auto* text = member("text");
        Config::set("theme", text && text->is_string() ? *text : nlohmann::json("system"));
        applyTheme();
        return;
    }
    if (key == "loginItem") {
        const auto* value = member("bool");
        bool enable = value && value->is_boolean() && value->get<bool>();
        if (auto error = Platform::desktop().setLoginItem(enable))
            Log::error("start at login: " + *error);
        pushAll();
        return;
    }
    if (key == "inputDevice") {
        const auto* text = member("text");
        if (text && text->is_string()) {
            Config::set(key, Strings::trim(text->get<std::string>()));
            if (micTestRunning()) startMicTest();  // the test follows the choice
        }
        return reloadApplication();
    }
    const auto* number = member("number");
    const auto* flag = member("bool");
    const auto* text = member("text");
    if (number && number->is_number()) {
        if (key == "hotkeyKeyCode" || key == "boostHotkeyKeyCode") {
            auto code = keyCodeOf(*number);
            if (!code) return reloadApplication();
            Config config = Config::load();
            int64_t other =
                key == "hotkeyKeyCode" ? config.boostHotkeyKeyCode : config.hotkeyKeyCode;
            if (*code >= 0 && *code == other) {
                captureNote("Those two cannot be the same key.", true);
                return;
            }
            Config::set(key, *code);
            captureNote("", false);
        } else {
            Config::set(key, *number);
            // Reading the file clamps some numbers: the page shows what counts.
            reloadApplication();
            pushAll();
            return;
        }
    } else if (text && text->is_string() && isTextSetting(key)) {
        Config::set(key, *text);
        reloadApplication();
        pushAll();
        return;
    } else if (flag && flag->is_boolean()) {
        Config::set(key, *flag);
        if (key == "useOwnKey") {
            pushAll();
            fetchUsage();
        }
    }
    reloadApplication();
}

void Home::validateAndSave(const std::string& key) {
    if (key.empty()) {
        pushAll("Paste a key first.", true);
        return;
    }
    Account::checkGroqKey(key, [weakSelf = weak(), key](EmptyResult answer) {
        onMain(weakSelf, [key, answer = std::move(answer)](Home& home) {
            home.receiveKeyCheck(key, answer);
        });
    });
}

void Home::receiveKeyCheck(const std::string& key, const EmptyResult& answer) {
    if (answer.ok()) {
        Config::set("groqApiKey", key);
        Log::write("home: key validated and saved");
        reloadApplication();
        pushAll("Key works and is saved on this computer.", false, true);
        fetchUsage();
        return;
    }
    pushAll(keyCheckFailure("Groq", "the key page", answer), true);
}

void Home::validateAndSaveAnthropicKey(const std::string& key) {
    if (key.empty()) {
        anthropicKeyNote("Paste a key first.", true, false);
        return;
    }
    Account::checkAnthropicKey(key, [weakSelf = weak(), key](EmptyResult answer) {
        onMain(weakSelf, [key, answer = std::move(answer)](Home& home) {
            if (!answer.ok()) {
                home.anthropicKeyNote(keyCheckFailure("Anthropic", "the console", answer), true,
                                      false);
                return;
            }
            Config::set("anthropicApiKey", key);
            Log::write("home: Anthropic key validated and saved");
            reloadApplication();
            home.anthropicKeyNote("Key works and is saved on this computer.", false, true);
        });
    });
}

// Notes beside the Anthropic key field, with the rest of the state as it is.
void Home::anthropicKeyNote(const std::string& note, bool bad, bool saved) {
    Json members = {{"anthropicKeyNote", note}, {"anthropicKeyBad", bad}};
    if (saved) members["anthropicKeySaved"] = true;
    pushStateWith(members);
}

void Home::pushStateWith(const Json& members) {
    Json state = stateObject(std::nullopt, false, false);
    state.update(members);
    applyTheme();
    run(PageScript::call(PageFunction::state, state));
}

void Home::testServer(const std::string& step) {
    if (step != "transcription" && step != "polishing") return;
    auto report = [weakSelf = weak(), step](API::TextResult result) {
        onMain(weakSelf, [step, result = std::move(result)](Home& home) {
            if (result.ok()) return home.serverTestNote(step, heard(step, result.value()), false);
            home.serverTestNote(step, result.errorDescription(), true);
        });
    };
    Config config = Config::load();
    if (step == "polishing") {
        API::polishWithCustom("hello", "Write the word in the transcript with a capital letter.",
                              config, report);
        return;
    }
    std::string error;
    auto sample = TakeFiles::createTakeFile(error);
    if (!sample || !Files::overwrite(*sample, std::string(serverTestSample()))) {
        if (sample) Files::remove(*sample);
        return serverTestNote(step, "Could not write the test sample in the folder of takes.",
                              true);
    }
    API::transcribeWithCustom(*sample, config, [sample = *sample, report](API::TextResult result) {
        Files::remove(sample);
        report(std::move(result));
    });
}

void Home::serverTestNote(const std::string& step, const std::string& note, bool bad) {
    pushStateWith({{"serverTest", {{"step", step}, {"note", note}, {"bad", bad}}}});
}

void Home::chooseApp() {
    Platform::desktop().chooseApplication(
        "Choose an app", "Dictating into this app will use prompt mode.",
        [weakSelf = weak()](std::optional<std::string> identifier) {
            if (!identifier || identifier->empty()) return;
            Config config = Config::load();
            auto apps = config.promptModeApps;
            if (std::find(apps.begin(), apps.end(), *identifier) == apps.end())
                apps.push_back(*identifier);
            Config::set("promptModeApps", apps);
            reloadApplication();
            if (Home* alive = weakSelf.get()) alive->pushAll();
        });
}

void Home::startMicTest() {
    stopMicTest();
    auto recorder = std::make_unique<Recorder>();
    // The test hears what a dictation would: the chosen microphone.
    if (!recorder->start(Config::load().inputDevice)) return;
    micTest_ = std::move(recorder);
    micTimer_ = Platform::mainQueue().repeating(kLevelIntervalSeconds, [weakSelf = weak()] {
        Home* alive = weakSelf.get();
        if (!alive) return;
        Home& home = *alive;
        if (!home.micTest_ || !home.loaded_) return;
        home.run(
            PageScript::callRaw(PageFunction::level, Strings::decimal(home.micTest_->level())));
    });
}

void Home::stopMicTest() {
    micTimer_.cancel();
    if (micTest_) {
        micTest_->discard();
        micTest_.reset();
    }
}

}  // namespace velvox

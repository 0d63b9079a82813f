#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "base/AppState.h"
#include "capture/HotkeyMonitor.h"
#include "config/Config.h"
#include "fakes/FakeAccessibility.h"
#include "fakes/FakeAudioInput.h"
#include "fakes/FakeDesktop.h"
#include "fakes/FakeHttpClient.h"
#include "fakes/FakeMicrophoneAccess.h"
#include "fakes/FakeWebView.h"
#include "home/Home.h"
#include "services/Auth.h"
#include "support/TempHome.h"
#include "text/Smart.h"

namespace velvox::testing {

using Json = nlohmann::json;
using Lines = std::vector<std::string>;

// A Home window over fakes: the window, the desktop, icons, the network, the
// microphone and accessibility. show() builds the controller and plays the end
// of the first page load.
class HomeTest : public TempHomeTest {
  protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        Home::resetForTesting();
        microphone->authorization = MicrophoneAuthorization::authorized;
        desktop->resources = {{"settings.html", "/app/pages/settings.html"},
                              {"onboarding.html", "/app/pages/onboarding.html"}};
        Platform::installWebView(window);
        Platform::installDesktop(desktop);
        Platform::installIconImages(icons);
        Platform::installHttpClient(http);
        Platform::installMicrophoneAccess(microphone);
        Platform::installAccessibility(accessibility);
        Platform::installAudioInput(audio);
        AppState::reload() = [this] { ++reloads; };
        // The application writes the file at launch; settings are only ever changed in it.
        writeConfig(Json::object());
    }
    void TearDown() override {
        Home::resetForTesting();
        HotkeyMonitor::shared().cancelCapture();
        HotkeyMonitor::shared().onCaptured = nullptr;
        Smart::setDemoKind(std::nullopt);
        for (const char* name : {"VELVOX_GROQ_BASE", "VELVOX_ANTHROPIC_BASE"}) setEnv(name, {});
        TempHomeTest::TearDown();  // uninstalls the fakes
    }
    // Shows the window with its page loaded and clears what that recorded.
    Home& show() {
        Home::show();
        window->finishLoading();
        settle();
        return *Home::shared();
    }
    // Shows the window using the service at https://service.test/v1, signed in with `token`.
    Home& showOnService(const std::string& token = "") {
        writeConfig({{"apiBase", "https://service.test/v1"}});
        Home& home = show();
        if (!token.empty()) Auth::save(token);
        settle();
        return home;
    }
    // Answers what is still asked, and forgets what that pushed.
    void settle() {
        queue->runUntilIdle();
        while (http->pendingRequests() > 0) http->respond(200, "{}");
        queue->runUntilIdle();
        window->calls.clear();
    }
    // Answers the one request asked, then runs what the answer queued.
    void answer(int status, const std::string& body) {
        ASSERT_EQ(http->pendingRequests(), 1u);
        http->respond(status, body);
        queue->runUntilIdle();
    }
    void post(const Json& body) { window->post(body.dump()); }
    // Sets `key` the way the pages do, the value under its type's name.
    void set(const std::string& key, const Json& value) {
        const char* kind = value.is_boolean() ? "bool" : value.is_number() ? "number" : "text";
        post({{"action", "set"}, {"key", key}, {kind, value}});
    }
    // The argument of the latest call of a page function, parsed; null when none.
    Json lastArgument(const std::string& function) const {
        auto scripts = window->scriptsCalling(function);
        if (scripts.empty()) return nullptr;
        return Json::parse(FakeWebView::argumentOf(scripts.back()), nullptr, false);
    }
    size_t callsOf(const std::string& function) const {
        return window->scriptsCalling(function).size();
    }
    // The latest request: method, address, timeout, then each header in the order
    // sent (the app's identifier only by name), then the body.
    std::string lastRequest() const {
        const HttpRequest r = http->requests().back();
        std::string text = r.method + " " + r.url + " " + std::to_string(int(r.timeoutSeconds));
        for (const auto& [name, value] : r.headers)
            text += "\n" + name + ": " + (name == "X-Velvox-App" ? "*" : value);
        return r.body.empty() ? text : text + "\n\n" + r.body;
    }
    Json configFile() const {
        return Json::parse(readFile(settingsPath("config.json")), nullptr, false);
    }
    void writeConfig(const Json& object) { writeFile(settingsPath("config.json"), object.dump(2)); }
    std::shared_ptr<FakeWebView> window = std::make_shared<FakeWebView>();
    std::shared_ptr<FakeDesktop> desktop = std::make_shared<FakeDesktop>();
    std::shared_ptr<FakeIconImages> icons = std::make_shared<FakeIconImages>();
    std::shared_ptr<FakeHttpClient> http = std::make_shared<FakeHttpClient>();
    std::shared_ptr<FakeMicrophoneAccess> microphone = std::make_shared<FakeMicrophoneAccess>();
    std::shared_ptr<FakeAccessibility> accessibility = std::make_shared<FakeAccessibility>();
    std::shared_ptr<FakeAudioInput> audio = std::make_shared<FakeAudioInput>();
    int reloads = 0;  // how often the application was told to reload its settings
};

}  // namespace velvox::testing

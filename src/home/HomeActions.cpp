// The actions a page can post, and what each one does.
#include <algorithm>
#include <functional>
#include <unordered_map>

#include "base/AppState.h"
#include "base/Files.h"
#include "base/Log.h"
#include "base/Paths.h"
#include "base/Strings.h"
#include "capture/HotkeyMonitor.h"
#include "home/Home.h"
#include "home/WebText.h"
#include "platform/Desktop.h"
#include "platform/MicrophoneAccess.h"
#include "platform/Platform.h"
#include "platform/WebView.h"
#include "services/Account.h"
#include "services/Auth.h"
#include "text/Smart.h"

namespace velvox {

namespace {

const std::string kGroqKeysPage = "https://console.groq.com/keys";
const std::string kPrivacyPage = "https://velvox.app/privacy";

}  // namespace

void Home::receive(const std::string& body) {
    auto message = PageMessage::parse(body);
    if (message) perform(*message);
}

const Home::ActionTable& Home::actions() {
    static const ActionTable table = {
        {"ready",
         [](Home& home, const PageMessage&) {
             home.pushAll();
             home.replayKept();
         }},
        {"dragWindow", [](Home&, const PageMessage&) { Platform::webView().beginDrag(); }},
        {"titleBarDoubleClick", [](Home& home, const PageMessage&) { home.titleBarDoubleClick(); }},
        {"set",
         [](Home& home, const PageMessage& m) {
             if (auto key = m.string("key")) home.apply(*key, m.body());
         }},
        {"setKey",
         [](Home& home, const PageMessage& m) { home.validateAndSave(Strings::trim(m.text())); }},
        {"setAnthropicKey",
         [](Home& home, const PageMessage& m) {
             home.validateAndSaveAnthropicKey(Strings::trim(m.text()));
         }},
        {"testServer", [](Home& home, const PageMessage& m) { home.testServer(m.text()); }},
        {"captureKey", [](Home& home, const PageMessage& m) { home.captureKey(m); }},
        {"cancelCapture",
         [](Home& home, const PageMessage&) {
             HotkeyMonitor::shared().cancelCapture();
             home.captureNote("", false);
         }},
        {"finishOnboarding", [](Home& home, const PageMessage& m) { home.finishOnboarding(m); }},
        {"appendContext", [](Home& home, const PageMessage& m) { home.appendContext(m.text()); }},
        {"demoKind",
         [](Home&, const PageMessage& m) { Smart::setDemoKind(Smart::fromRawValue(m.text())); }},
        {"micTest", [](Home& home, const PageMessage&) { home.startMicTest(); }},
        {"micTestStop", [](Home& home, const PageMessage&) { home.stopMicTest(); }},
        {"openSound",
         [](Home&, const PageMessage&) { Platform::desktop().openSettings(SettingsPage::sound); }},
        {"saveContext", [](Home& home, const PageMessage& m) { home.saveContext(m.text()); }},
        {"saveVocabulary",
         [](Home& home, const PageMessage& m) { home.saveList("vocabulary", m.list()); }},
        {"saveCorrections",
         [](Home& home, const PageMessage& m) { home.saveList("corrections", m.map()); }},
        {"savePromptApps",
         [](Home& home, const PageMessage& m) { home.saveList("promptModeApps", m.list()); }},
        {"signIn", [](Home& home, const PageMessage& m) { home.signIn(m.text()); }},
        {"signInGoogle",
         [](Home& home, const PageMessage&) {
             home.openURL(Config::load().apiBase + "/auth/google");
             home.authNote("Finish in your browser, then Velvox will open.", false, false);
         }},
        {"upgrade", [](Home& home, const PageMessage&) { home.upgrade(); }},
        {"manageBilling", [](Home& home, const PageMessage&) { home.manageBilling(); }},
        {"signOut",
         [](Home& home, const PageMessage&) {
             Auth::signOut();
             home.pushAll();
             home.fetchUsage();
         }},
        {"pasteToken", [](Home& home, const PageMessage& m) { home.pasteToken(m.text()); }},
        {"addApp", [](Home& home, const PageMessage&) { home.chooseApp(); }},
        {"askMic", [](Home& home, const PageMessage&) { home.askMic(); }},
        {"openAccessibility",
         [](Home&, const PageMessage&) {
             Platform::desktop().openSettings(SettingsPage::accessibility);
         }},
        {"openShortcuts",
         [](Home&, const PageMessage&) {
             Platform::desktop().openSettings(SettingsPage::keyboard);
         }},
        {"openGroq", [](Home& home, const PageMessage&) { home.openURL(kGroqKeysPage); }},
        {"openFolder",
         [](Home&, const PageMessage&) { Platform::desktop().openFile(Paths::dir()); }},
        {"openHistory",
         [](Home& home, const PageMessage&) {
             home.reveal(Files::join(Paths::dir(), "history.md"));
         }},
        {"openLog", [](Home& home, const PageMessage&) { home.reveal(Log::url()); }},
        {"openPrivacy", [](Home& home, const PageMessage&) { home.openPrivacy(); }},
        {"retryLast",
         [](Home&, const PageMessage&) {
             if (AppState::retryLastDictation()) AppState::retryLastDictation()();
         }},
        {"dismissRetry",
         [](Home&, const PageMessage&) {
             if (AppState::dismissRetry()) AppState::dismissRetry()();
         }},
    };
    return table;
}

std::vector<std::string> Home::actionNames() {
    std::vector<std::string> names;
    for (const auto& entry : actions()) names.push_back(entry.first);
    std::sort(names.begin(), names.end());
    return names;
}

void Home::perform(const PageMessage& message) {
    auto found = actions().find(message.action());
    if (found == actions().end()) {
        Log::write("settings page sent an unknown action: " + message.action());
        return;
    }
    found->second(*this, message);
}

void Home::captureKey(const PageMessage& message) {
    auto key = message.string("key");
    if (!key || (*key != "hotkeyKeyCode" && *key != "boostHotkeyKeyCode")) return;
    auto& monitor = HotkeyMonitor::shared();
    auto weakSelf = self_.ref();
    monitor.onCaptured = [weakSelf, key = *key](std::optional<HotkeyMonitor::KeyCode> code) {
        Home* alive = weakSelf.get();
        if (!alive) return;
        if (code) {
            alive->apply(key, nlohmann::json{{"number", *code}});
        } else {
            alive->captureNote("", false);
        }
    };
    monitor.capture();
}

void Home::finishOnboarding(const PageMessage& message) {
    stopMicTest();
    Config::set("onboarded", true);
    Smart::setDemoKind(std::nullopt);
    std::string name = Strings::trim(message.text());
    if (!name.empty()) Config::set("name", name);
    load("settings");
}

void Home::appendContext(const std::string& text) {
    std::string addition = Strings::trim(text);
    if (addition.empty()) return;
    std::string content = Config::contextText();
    if (content.find(addition) == std::string::npos) {
        content = content.empty() ? addition : content + "\n" + addition;
    }
    Files::createFolder(Paths::dir());
    Files::writeAtomically(Paths::contextURL(), content);
}

void Home::saveContext(const std::string& text) {
    Files::createFolder(Paths::dir());
    if (!Files::writeAtomically(Paths::contextURL(), text)) return;
    Log::write("context saved, " + std::to_string(WebText::characterCount(text)) + " chars");
}

void Home::saveList(const std::string& key, const nlohmann::json& value) {
    Config::set(key, value);
    reloadStep();
}

void Home::reloadApplication() {
    if (auto& reload = AppState::reload()) reload();
}

void Home::reloadStep() {
    reloadApplication();
    pushAll();
}

void Home::signIn(const std::string& text) {
    std::string email = Strings::trim(text);
    if (email.find('@') == std::string::npos || WebText::characterCount(email) < 5) {
        authNote("That does not look like an email address.", true, false);
        return;
    }
    authNote("Sending\u2026", false, true);
    auto weakSelf = self_.ref();
    Auth::requestLink(email, Config::load(), [weakSelf, email](EmptyResult result) {
        Home* alive = weakSelf.get();
        if (!alive) return;
        if (result.ok()) {
            alive->authNote("Check " + email + ". The link opens Velvox and works once.", false,
                            false);
        } else {
            alive->authNote(result.errorDescription(), true, false);
        }
    });
}

void Home::upgrade() {
    if (fetchedUpgradeUrl_ && !fetchedUpgradeUrl_->empty() && openServiceURL(*fetchedUpgradeUrl_))
        return;
    std::string base = Config::load().apiBase;
    for (auto at = base.find("/v1"); at != std::string::npos; at = base.find("/v1", at))
        base.erase(at, 3);
    std::string url = base + "/upgrade";
    if (fetchedEmail_ && fetchedEmail_->find('@') != std::string::npos)
        url += "?email=" + WebText::queryValue(*fetchedEmail_);
    openURL(url);
}

void Home::manageBilling() {
    Account::billingPortal(
        Config::load(), [weakSelf = weak()](ServiceResult<std::string> overview) {
            onMain(weakSelf, [overview = std::move(overview)](Home& home) {
                // An address that is not https counts as no answer.
                if (!overview.ok() || !home.openServiceURL(overview.value())) {
                    home.billingNote("Could not open billing just now. Try again in a moment.");
                }
            });
        });
}

void Home::pasteToken(const std::string& text) {
    if (Auth::save(text)) {
        pushAll();
        fetchUsage();
    } else {
        authNote("That is not a valid Velvox token.", true, false);
    }
}

void Home::askMic() {
    Platform::microphoneAccess().requestAccess(
        [weakSelf = weak()](bool) { onMain(weakSelf, [](Home& home) { home.pushLive(); }); });
}

void Home::titleBarDoubleClick() {
    auto& window = Platform::webView();
    auto action = window.titleBarDoubleClickAction();
    if (action == "minimize") {
        window.minimize();
    } else if (action != "none") {
        window.zoom();
    }
}

void Home::openPrivacy() {
    if (auto path = Platform::desktop().resourceFile("PRIVACY.md")) {
        Platform::desktop().openFile(*path);
    } else {
        openURL(kPrivacyPage);
    }
}

void Home::openURL(const std::string& url) {
    if (!WebText::isOpenableURL(url)) return;
    Platform::desktop().openURL(url);
}

bool Home::openServiceURL(const std::string& url) {
    if (url.empty()) return false;
    if (!WebText::isHttpsURL(url)) {
        // Not the address itself: it may carry a billing session.
        Log::write("home: the service sent an address that is not https; it was not opened");
        return false;
    }
    openURL(url);
    return true;
}

void Home::reveal(const std::string& path) {
    if (!Files::exists(path)) {
        Files::createFolder(Paths::dir());
        Files::writeAtomically(path, "");
    }
    Platform::desktop().openFile(path);
}

}  // namespace velvox

// What the pages are told: the whole state, the live status, the account's
// usage and billing, the short notes and the application icons.
#include <set>

#include "base/AppState.h"
#include "base/Files.h"
#include "base/Log.h"
#include "base/Paths.h"
#include "capture/KeyNames.h"
#include "home/Home.h"
#include "home/PageFunctions.h"
#include "home/PageScript.h"
#include "home/WebText.h"
#include "platform/Accessibility.h"
#include "platform/AudioTake.h"
#include "platform/Desktop.h"
#include "platform/IconImages.h"
#include "platform/KeyEventSource.h"
#include "platform/MicrophoneAccess.h"
#include "platform/Platform.h"
#include "platform/SessionCapabilities.h"
#include "platform/WebView.h"
#include "records/Stats.h"
#include "services/API.h"
#include "services/Account.h"
#include "services/Auth.h"

#ifndef VELVOX_VERSION
#define VELVOX_VERSION "1.0"
#endif

namespace velvox {

namespace {

constexpr int kIconPixels = 64;

using Json = Home::Json;

std::string schemeName(ColorScheme scheme) {
    return scheme == ColorScheme::dark ? "dark" : "light";
}

}  // namespace

// The raw "theme" of config.json: the page shows what the file says.
std::string Home::themeOfFile() {
    auto text = Files::read(Paths::configURL());
    if (!text) return "system";
    auto parsed = nlohmann::json::parse(*text, nullptr, false);
    if (!parsed.is_object()) return "system";
    auto theme = parsed.find("theme");
    return theme != parsed.end() && theme->is_string() ? theme->get<std::string>() : "system";
}

void Home::applyTheme() {
    std::string theme = themeOfFile();
    auto& window = Platform::webView();
    bool dark =
        theme == "dark" || (theme != "light" && window.desktopColorScheme() == ColorScheme::dark);
    window.setDarkAppearance(dark);
}

namespace {

std::vector<std::pair<std::string, std::string>> promptsOf(const Config& config) {
    return {{"systemPrompt", config.systemPrompt},
            {"boostSystemPrompt", config.boostSystemPrompt},
            {"promptModePrompt", config.promptModePrompt},
            {"emailPrompt", config.emailPrompt},
            {"messagePrompt", config.messagePrompt},
            {"notePrompt", config.notePrompt}};
}

Json configSubset(const Config& config) {
    Json cfg = Json::object();
    cfg["hotkeyKeyCode"] = config.hotkeyKeyCode;
    cfg["boostHotkeyKeyCode"] = config.boostHotkeyKeyCode;
    cfg["minHoldSeconds"] = config.minHoldSeconds;
    cfg["maxRecordSeconds"] = config.maxRecordSeconds;
    cfg["cleanup"] = config.cleanup;
    cfg["insertDirectly"] = config.insertDirectly;
    cfg["alwaysCopyToClipboard"] = config.alwaysCopyToClipboard;
    cfg["keepHistory"] = config.keepHistory;
    cfg["promptModeEnabled"] = config.promptModeEnabled;
    cfg["useOwnKey"] = config.useOwnKey;
    cfg["vocabulary"] = config.vocabulary;
    cfg["promptModeApps"] = config.promptModeApps;
    Json corrections = Json::object();
    for (const auto& [spoken, written] : config.corrections) corrections[spoken] = written;
    cfg["corrections"] = std::move(corrections);
    cfg["inputDevice"] = config.inputDevice;
    // Settings otherwise edited by hand in config.json. The keys themselves
    // never reach the page: only whether one is saved.
    cfg["autoPaste"] = config.autoPaste;
    cfg["cleanupProvider"] = config.cleanupProvider;
    cfg["anthropicKeySaved"] = !config.anthropicApiKey.empty();
    cfg["transcribeModel"] = config.transcribeModel;
    cfg["cleanupModel"] = config.cleanupModel;
    cfg["transcribeProvider"] = config.transcribeProvider;
    cfg["transcribeBaseUrl"] = config.transcribeBaseUrl;
    cfg["transcribeUploadFormat"] = config.transcribeUploadFormat;
    cfg["transcribeKeySaved"] = !config.transcribeApiKey.empty();
    cfg["cleanupBaseUrl"] = config.cleanupBaseUrl;
    cfg["cleanupKeySaved"] = !config.cleanupApiKey.empty();
    cfg["customTimeoutPerSecond"] = config.customTimeoutPerSecond;
    for (const auto& [name, text] : promptsOf(config)) cfg[name] = text;
    return cfg;
}

// What the page offers to go back to.
Json builtInDefaults() {
    Json defaults = Json::object();
    Config builtIn;
    defaults["transcribeModel"] = builtIn.transcribeModel;
    defaults["cleanupModel"] = builtIn.cleanupModel;
    for (const auto& [name, text] : promptsOf(builtIn)) defaults[name] = text;
    return defaults;
}

void collectBundles(const nlohmann::json& entries, std::set<std::string>& bundles) {
    if (!entries.is_array()) return;
    for (const auto& entry : entries) {
        if (!entry.is_object()) continue;
        auto bundle = entry.find("bundle");
        if (bundle != entry.end() && bundle->is_string() &&
            !bundle->get_ref<const std::string&>().empty())
            bundles.insert(bundle->get<std::string>());
    }
}

}  // namespace

std::map<std::string, std::string>& Home::iconCache() {
    static std::map<std::string, std::string> cache;
    return cache;
}

std::optional<std::string> Home::icon(const std::string& bundle) {
    auto& cache = iconCache();
    if (auto found = cache.find(bundle); found != cache.end()) {
        if (found->second.empty()) return std::nullopt;
        return found->second;
    }
    auto icon = Platform::iconImages().applicationIcon(bundle, kIconPixels);
    if (!icon.installed) {
        cache[bundle] = "";
        return std::nullopt;
    }
    if (!icon.png || icon.png->empty()) return std::nullopt;
    std::string url = WebText::pngDataURL(*icon.png);
    cache[bundle] = url;
    return url;
}

Json Home::liveDict() {
    Config config = Config::load();
    bool mic = Platform::microphoneAccess().status() == MicrophoneAuthorization::authorized;
    bool ax = Platform::accessibility().isProcessTrusted();
    // A desktop without accessibility cannot grant it; dictation pastes there.
    bool axAvailable = ax || Platform::accessibility().isAvailable();
    bool tap = AppState::tapRunning();
    bool signedIn = Auth::signedIn();
    bool hasKey = API::usesService(config) ? signedIn : API::ownTranscriptionReady(config);
    Json live = Json::object();
    live["mic"] = mic;
    live["ax"] = ax;
    live["axAvailable"] = axAvailable;
    live["tap"] = tap;
    live["hasKey"] = hasKey;
    live["ownKey"] = config.useOwnKey;
    live["signedIn"] = signedIn;
    // Accessibility only decides between typing and pasting.
    live["ready"] = mic && hasKey && tap;
    live["fnDead"] = AppState::fnDead();
    live["status"] = AppState::status();
    live["mainKey"] = config.hotkeyKeyCode;
    // The desktop's own shortcuts, where they stand in for the hotkeys, are what to press.
    DesktopShortcutKeys assigned = Platform::keyEventSource().desktopShortcutKeys();
    live["mainKeyName"] =
        assigned.dictation.empty() ? KeyNames::name(config.hotkeyKeyCode) : assigned.dictation;
    live["boostKeyName"] =
        assigned.boost.empty() ? KeyNames::name(config.boostHotkeyKeyCode) : assigned.boost;
    bool wayland = Platform::desktop().displaySession() == DisplaySession::wayland;
    // Where no app may watch the keyboard, a desktop shortcut starts dictation
    // instead, and the pages explain the hotkeys that way.
    live["keySource"] =
        wayland && !Platform::keyEventSource().seesGlobalKeys() ? "shortcut" : "x11";
    // What a Wayland session gives and what to do about the rest, as a list
    // and in words.
    Json notes = Json::array();
    Json capabilities = Json::array();
    for (const auto& capability : sessionCapabilities()) {
        capabilities.push_back({{"name", capability.name},
                                {"works", capability.works},
                                {"detail", capability.detail}});
        notes.push_back(capability.name + ": " + capability.detail);
    }
    if (!axAvailable && capabilities.empty())
        notes.push_back(
            "This desktop has no accessibility support, so Velvox pastes the text instead of "
            "typing it into the field.");
    live["capabilities"] = std::move(capabilities);
    live["desktopNotes"] = std::move(notes);
    live["canRetry"] = AppState::retryAvailable();
    return live;
}

Json Home::stateObject(const std::optional<std::string>& keyNote, bool keyBad, bool keySaved) {
    Config config = Config::load();
    nlohmann::json recent = Stats::recent(3, 2000);
    nlohmann::json smartApps = Stats::smartApps(90);

    std::set<std::string> bundles;
    collectBundles(recent, bundles);
    collectBundles(smartApps, bundles);
    Json icons = Json::object();
    for (const auto& bundle : bundles) {
        if (auto url = icon(bundle)) icons[bundle] = std::move(*url);
    }

    Json appNames = Json::array();
    auto& desktop = Platform::desktop();
    for (const auto& bundle : config.promptModeApps) {
        auto name = desktop.applicationName(bundle);
        appNames.push_back(Json{{"bundle", bundle}, {"name", name ? *name : bundle}});
    }

    Json state = Json::object();
    state["version"] = VELVOX_VERSION;
    state["theme"] = themeOfFile();
    state["systemScheme"] = schemeName(Platform::webView().desktopColorScheme());
    state["build"] = Log::buildStamp();
    state["loginItem"] = desktop.loginItemEnabled();
    state["context"] = Config::contextText();
    state["cfg"] = configSubset(config);
    state["defaults"] = builtInDefaults();
    state["appNames"] = std::move(appNames);
    state["stats"] = Json(Stats::summary(30));
    state["week"] = Json(Stats::summary(7, Stats::weekStartUTC()));
    state["recent"] = Json(recent);
    state["smartApps"] = Json(smartApps);
    state["icons"] = std::move(icons);
    state["live"] = liveDict();
    Json inputs = Json::array();
    for (const InputDevice& input : Platform::audioInput().inputDevices())
        inputs.push_back({{"name", input.name}, {"label", input.description}});
    state["inputDevices"] = std::move(inputs);
    if (keyNote) {
        state["keyNote"] = *keyNote;
        state["keyBad"] = keyBad;
    }
    if (keySaved) state["keySaved"] = true;
    return state;
}

void Home::pushAll(const std::optional<std::string>& keyNote, bool keyBad, bool keySaved) {
    Json state = stateObject(keyNote, keyBad, keySaved);
    applyTheme();
    run(PageScript::call(PageFunction::state, state));
}

void Home::pushLive() {
    run(PageScript::call(PageFunction::live, liveDict()));
}

void Home::authChanged() {
    pushAll();
    fetchUsage();
}

void Home::fetchUsage() {
    Config config = Config::load();
    if (config.useOwnKey) {
        runKept(PageFunction::usage,
                PageScript::callRaw(PageFunction::usage, std::string_view("{own:true}")));
        return;
    }
    Account::usage(config, [weakSelf = weak()](ServiceResult<Account::Usage> usage) {
        onMain(weakSelf, [usage = std::move(usage)](Home& home) { home.receiveUsage(usage); });
    });
}

void Home::receiveUsage(const ServiceResult<Account::Usage>& answer) {
    if (!answer.ok()) {
        runKept(PageFunction::usage,
                PageScript::callRaw(PageFunction::usage, std::string_view("{reachable:false}")));
        return;
    }
    const Account::Usage& account = answer.value();
    Json usage = Json::object();
    usage["reachable"] = true;
    usage["own"] = false;
    usage["ok"] = account.ok;
    usage["signedIn"] = account.signedIn;
    usage["email"] = account.email.value_or("");
    usage["plan"] = account.plan;
    usage["used"] = account.used;
    usage["cap"] = account.cap;
    fetchedEmail_ = account.email;
    runKept(PageFunction::usage, PageScript::call(PageFunction::usage, usage));
    if (account.signedIn) fetchBilling();
}

void Home::fetchBilling() {
    Account::billingSummary(
        Config::load(), [weakSelf = weak()](ServiceResult<Account::BillingSummary> summary) {
            if (!summary.ok()) return;  // an answer without a string plan is ignored
            onMain(weakSelf, [summary = std::move(summary.value())](Home& home) {
                home.fetchedUpgradeUrl_ = summary.upgradeUrl;
                home.runKept(PageFunction::billing,
                             PageScript::call(PageFunction::billing, summary.object));
            });
        });
}

void Home::authNote(const std::string& note, bool bad, bool busy) {
    Json object = Json::object();
    object["note"] = note;
    object["bad"] = bad;
    object["busy"] = busy;
    run(PageScript::call(PageFunction::auth, object));
}

void Home::captureNote(const std::string& note, bool bad) {
    Json object = Json::object();
    object["note"] = note;
    object["bad"] = bad;
    run(PageScript::call(PageFunction::capture, object));
    pushAll();
}

void Home::billingNote(const std::string& note) {
    run(PageScript::call(PageFunction::billingNote, Json{{"note", note}}));
}

}  // namespace velvox

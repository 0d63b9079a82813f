#include "home/Home.h"

#include "base/AppState.h"
#include "base/Files.h"
#include "base/Log.h"
#include "base/Paths.h"
#include "home/PageFunctions.h"
#include "home/PageScript.h"
#include "home/WebText.h"
#include "platform/Desktop.h"
#include "platform/IconImages.h"
#include "platform/MicrophoneAccess.h"
#include "platform/Platform.h"
#include "platform/WebView.h"
#include "services/API.h"
#include "services/Auth.h"

namespace velvox {

namespace {

// Symbols are drawn at 30 points on a double-density bitmap.
constexpr int kSymbolPixels = 60;
constexpr double kLiveRefreshSeconds = 1.0;

// Never released: the controller lives to the end of the process, and
// destroying it during exit would reach into services already torn down.
Home*& sharedHome() {
    static Home* home = nullptr;
    return home;
}

std::map<std::string, std::string>& symbolCache() {
    static std::map<std::string, std::string> cache;
    return cache;
}

}  // namespace

// ---- static -------------------------------------------------------------

void Home::show() {
    auto& home = sharedHome();
    if (!home) {
        home = new Home();
        home->build();
    }
    home->present();
}

Home* Home::shared() {
    return sharedHome();
}

namespace {

// A top-level flag of config.json that is not a setting of the record.
bool configFlag(const char* key) {
    auto text = Files::read(Paths::configURL());
    if (!text) return false;
    auto parsed = nlohmann::json::parse(*text, nullptr, false);
    if (!parsed.is_object()) return false;
    auto found = parsed.find(key);
    return found != parsed.end() && found->is_boolean() && found->get<bool>();
}

}  // namespace

bool Home::onboarded() {
    return configFlag("onboarded");
}

bool Home::setupReminderShown() {
    return configFlag("setupReminderShown");
}

bool Home::setupIncomplete(const Config& config) {
    if (Platform::microphoneAccess().status() != MicrophoneAuthorization::authorized) return true;
    return config.useOwnKey && !API::ownTranscriptionReady(config);
}

const std::vector<std::string>& Home::symbolNames() {
    static const std::vector<std::string> names = {
        "square.grid.2x2",
        "waveform",
        "text.alignleft",
        "character.book.closed",
        "chart.bar.xaxis",
        "person.crop.circle",
        "mic",
        "hand.raised",
        "keyboard",
        "circle.lefthalf.filled",
        "power",
        "text.cursor",
        "doc.on.clipboard",
        "timer",
        "stop.circle",
        "sparkles",
        "clock",
        "folder",
        "doc.text",
        "lock",
        "key",
        "checkmark.circle",
        "envelope",
        "person",
        "creditcard",
        "arrow.up.forward.app",
        "doc.plaintext",
        "rectangle.and.pencil.and.ellipsis",
        "bolt",
        "message",
        "chevron.left.forwardslash.chevron.right",
        "ellipsis.circle",
    };
    return names;
}

void Home::resetForTesting() {
    delete sharedHome();
    sharedHome() = nullptr;
    symbolCache().clear();
    iconCache().clear();
}

void Home::onMain(WeakSelf<Home>::Ref home, std::function<void(Home&)> work) {
    Platform::mainQueue().async([home = std::move(home), work = std::move(work)] {
        if (Home* alive = home.get()) work(*alive);
    });
}

// ---- building and showing ------------------------------------------------

Home::Home() : self_(this) {}

Home::~Home() {
    self_.invalidate();
    if (AppState::insertIntoOwnWindow()) AppState::insertIntoOwnWindow() = nullptr;
    stopMicTest();
    Platform::webView().setEvents({});
}

void Home::build() {
    auto weakSelf = self_.ref();
    auto with = [weakSelf](auto member) {
        return [weakSelf, member](auto&&... arguments) {
            if (Home* alive = weakSelf.get()) (alive->*member)(arguments...);
        };
    };
    WebViewEvents events;
    events.message = with(&Home::receive);
    events.finishedLoading = with(&Home::didFinishLoading);
    events.closed = with(&Home::windowClosed);
    // The page learns the desktop's scheme with the state.
    events.colorSchemeChanged = [weakSelf] {
        if (Home* alive = weakSelf.get()) alive->pushAll();
    };
    Platform::webView().setEvents(std::move(events));
    applyTheme();
    load(onboarded() ? "settings" : "onboarding");

    AppState::insertIntoOwnWindow() = [weakSelf](const std::string& text, const std::string& mode) {
        Home* alive = weakSelf.get();
        return alive && alive->insertIntoWindow(text, mode);
    };
    auto& center = NotificationCenter::defaultCenter();
    observers_.push_back(center.observe(AppState::changed, [weakSelf](const UserInfo&) {
        if (Home* alive = weakSelf.get()) alive->pushLive();
    }));
    observers_.push_back(center.observe(Auth::changed, [weakSelf](const UserInfo&) {
        if (Home* alive = weakSelf.get()) alive->authChanged();
    }));
    observers_.push_back(center.observe(AppState::lastDictation, [weakSelf](const UserInfo& info) {
        if (Home* alive = weakSelf.get()) alive->dictated(info);
    }));
}

void Home::present() {
    Platform::webView().present();
    pushAll();
    fetchUsage();
    auto weakSelf = self_.ref();
    timer_ = Platform::mainQueue().repeating(kLiveRefreshSeconds, [weakSelf] {
        if (Home* alive = weakSelf.get()) alive->pushLive();
    });
}

void Home::windowClosed() {
    AppState::insertIntoOwnWindow() = nullptr;
    timer_.cancel();
    stopMicTest();
}

// ---- the page ------------------------------------------------------------

void Home::load(const std::string& page) {
    page_ = page;
    loaded_ = false;
    auto path = Platform::desktop().resourceFile(page + ".html");
    if (!path) {
        Log::error(page + ".html missing from the app bundle");
        return;
    }
    Platform::webView().loadPage(*path);
}

void Home::run(const std::string& script) {
    if (!loaded_) return;
    Platform::webView().evaluate(
        script, [](const std::string& error) { Log::error("settings page: " + error); });
}

void Home::runKept(std::string_view function, const std::string& script) {
    kept_.insert_or_assign(std::string(function), script);
    run(script);
}

void Home::replayKept() {
    for (const auto& [function, script] : kept_) run(script);
}

void Home::didFinishLoading() {
    loaded_ = true;
    auto& cache = symbolCache();
    if (cache.empty()) {
        auto& images = Platform::iconImages();
        for (const auto& name : symbolNames()) {
            if (auto png = images.symbolPNG(name, kSymbolPixels); png && !png->empty())
                cache[name] = WebText::pngDataURL(*png);
        }
    }
    Json symbols = Json::object();
    for (const auto& name : symbolNames()) {
        auto found = cache.find(name);
        if (found != cache.end()) symbols[name] = found->second;
    }
    run(PageScript::call(PageFunction::symbols, symbols));
    pushAll();
}

bool Home::insertIntoWindow(const std::string& text, const std::string& mode) {
    auto& window = Platform::webView();
    if (!window.isVisible() || !window.isKey() || !loaded_) return false;
    Json payload = {{"text", text}, {"mode", mode}};
    run(PageScript::call(PageFunction::insert, payload));
    return true;
}

void Home::dictated(const UserInfo& info) {
    if (!info.is_object()) return;
    runKept(PageFunction::dictated, PageScript::call(PageFunction::dictated, info));
    pushAll();
}

}  // namespace velvox

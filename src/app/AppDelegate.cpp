#include "app/AppDelegate.h"

#include <algorithm>

#include "base/AppState.h"
#include "base/Brand.h"
#include "base/Log.h"
#include "capture/HotkeyMonitor.h"
#include "capture/KeyNames.h"
#include "capture/Recorder.h"
#include "config/Config.h"
#include "home/Home.h"
#include "platform/Accessibility.h"
#include "platform/Desktop.h"
#include "platform/KeyEventSource.h"
#include "platform/MicrophoneAccess.h"
#include "platform/Platform.h"
#include "platform/SessionCapabilities.h"
#include "platform/StatusItem.h"
#include "services/Auth.h"

namespace velvox {

namespace {

constexpr double kPermissionPollSeconds = 2.0;
// In config.json while set-up is unfinished and Home was opened for it once:
// a step the desktop never lets finish must not open Home at every login.
constexpr const char* kSetupShownKey = "setupReminderShown";

}  // namespace

AppDelegate::AppDelegate(std::function<void()> quit)
    : quit_(std::move(quit)),
      controller_(std::make_unique<DictationController>(Config::load())),
      self_(this) {}

AppDelegate::~AppDelegate() {
    self_.invalidate();
}

std::function<void()> AppDelegate::weakly(std::function<void(AppDelegate&)> action) {
    return self_.bind(std::move(action));
}

void AppDelegate::didFinishLaunching() {
    Config::migrateOldFolder();
    Config::writeTemplateIfMissing();
    controller_->setConfig(Config::load());
    Log::write(Brand::name + " launched, binary built " + Log::buildStamp() + ", cleanupModel " +
               controller_->config().cleanupModel);
    if (Platform::desktop().displaySession() == DisplaySession::wayland) {
        Log::write(Platform::keyEventSource().seesGlobalKeys()
                       ? "Wayland session: keys, paste and the frontmost app reach X11 apps only"
                       : "Wayland session: no global keys, the desktop's shortcuts run velvox "
                         "dictate; the frontmost app from accessibility");
    }
    logSessionCapabilities();
    if (!Platform::accessibility().isAvailable())
        Log::write("no accessibility bus: text is pasted, never typed into a field");

    controller_->rescueInterruptedTake();
    controller_->loadKeptTake();
    controller_->setIcon(false);
    buildStatusMenu();
    syncMenu();

    Recorder::sweepTempFiles();
    Platform::microphoneAccess().requestAccess([](bool granted) {
        if (!granted) Log::error("microphone access denied");
    });

    connectCallbacks();
    openHomeWhenSetupUnfinished();
    startTapWhenTrusted();
}

void AppDelegate::buildStatusMenu() {
    auto item = [](std::string title, std::function<void()> action) {
        MenuItem entry;
        entry.title = std::move(title);
        entry.action = std::move(action);
        return entry;
    };
    auto check = [&](std::string title, std::function<void()> action) {
        MenuItem entry = item(std::move(title), std::move(action));
        entry.checked = false;
        return entry;
    };
    MenuItem status = item(controller_->statusLine(), nullptr);
    status.enabled = false;

    std::vector<MenuItem> menu;
    menu.push_back(status);
    menu.push_back(MenuItem::separator());
    menu.push_back(
        item("Open " + Brand::name + "\u2026", weakly([](AppDelegate& d) { d.openHome(); })));
    menu.push_back(MenuItem::separator());
    menu.push_back(check("Polish transcript", weakly([](AppDelegate& d) { d.toggleCleanup(); })));
    menu.push_back(check("Paste automatically", weakly([](AppDelegate& d) { d.togglePaste(); })));
    menu.push_back(check("Start at login", weakly([](AppDelegate& d) { d.toggleLoginItem(); })));
    menu.push_back(MenuItem::separator());
    menu.push_back(
        item("Copy last result", weakly([](AppDelegate& d) { d.controller_->copyLast(); })));
    // Only while a failed dictation's take is kept (the menu is built anew then).
    if (AppState::retryAvailable()) {
        menu.push_back(item("Retry last dictation",
                            weakly([](AppDelegate& d) { d.controller_->retryLastDictation(); })));
    }
    menu.push_back(MenuItem::separator());
    menu.push_back(item("Quit " + Brand::name, [quit = quit_] {
        if (quit) quit();
    }));
    Platform::statusItem().setMenu(std::move(menu));

    controller_->onStatusLineChanged = [](const std::string& text) {
        Platform::statusItem().setItemTitle(statusLineItem, text);
    };
}

void AppDelegate::syncMenu() {
    StatusItem& item = Platform::statusItem();
    item.setItemChecked(cleanupItem, controller_->config().cleanup);
    item.setItemChecked(pasteItem, controller_->config().autoPaste);
    item.setItemChecked(loginItem, Platform::desktop().loginItemEnabled());
}

void AppDelegate::connectCallbacks() {
    HotkeyMonitor& monitor = HotkeyMonitor::shared();
    controller_->connect(monitor);
    monitor.setKeys(
        {controller_->config().hotkeyKeyCode, controller_->config().boostHotkeyKeyCode});
    AppState::reload() = weakly([](AppDelegate& d) { d.reloadSettings(); });
    controller_->onRetryAvailableChanged = [rebuild = weakly([](AppDelegate& d) {
                                                d.buildStatusMenu();
                                                d.syncMenu();
                                            })](bool) { rebuild(); };
    AppState::retryLastDictation() =
        weakly([](AppDelegate& d) { d.controller_->retryLastDictation(); });
    AppState::dismissRetry() = weakly([](AppDelegate& d) { d.controller_->dismissKeptTake(); });
}

void AppDelegate::logSessionCapabilities() {
    std::vector<std::string> lines;
    for (const auto& capability : sessionCapabilities())
        lines.push_back("Wayland session, " + capability.name +
                        (capability.works ? ": " : " missing: ") + capability.detail);
    // Only what changed since it was last said.
    for (const auto& line : lines)
        if (std::find(loggedCapabilities_.begin(), loggedCapabilities_.end(), line) ==
            loggedCapabilities_.end())
            Log::write(line);
    loggedCapabilities_ = std::move(lines);
}

void AppDelegate::sessionOfferChanged() {
    logSessionCapabilities();
    AppState::postChanged();
}

void AppDelegate::openHomeWhenSetupUnfinished() {
    bool onboarded = Home::onboarded();
    if (!onboarded) {
        Log::write("first launch, opening onboarding");
        Home::show();
        return;
    }
    bool shown = Home::setupReminderShown();
    if (!Home::setupIncomplete(controller_->config())) {
        if (shown) Config::set(kSetupShownKey, std::nullopt);
        return;
    }
    if (shown) {
        Log::write("setup incomplete, Home stays closed (it opened for that once)");
        return;
    }
    Log::write("setup incomplete, opening Home");
    Config::set(kSetupShownKey, true);
    Home::show();
}

void AppDelegate::reloadSettings() {
    controller_->setConfig(Config::load());
    HotkeyMonitor::shared().setKeys(
        {controller_->config().hotkeyKeyCode, controller_->config().boostHotkeyKeyCode});
    syncMenu();
    startTapWhenTrusted();
}

void AppDelegate::startTapWhenTrusted() {
    // The hotkeys and the paste road need no accessibility: it only lets
    // the text be typed into fields. Desktops ship with it off, and switching
    // it on changes a desktop-wide setting, so dictation never waits for it.
    if (HotkeyMonitor::shared().start()) {
        // Logged once per start, so the log tells when dictation became possible.
        if (!AppState::tapRunning()) Log::write("hotkeys live: " + controller_->readyLine());
        AppState::setTapRunning(true);
        controller_->setStatus(controller_->readyLine());
        permTimer_.cancel();
        watchTakenKeys();
        return;
    } else {
        AppState::setTapRunning(false);
        controller_->setStatus("Add " + Brand::name + " to Input Monitoring too");
    }
    if (!permTimer_.active()) {
        permTimer_ = Platform::mainQueue().repeating(
            kPermissionPollSeconds, weakly([](AppDelegate& d) { d.startTapWhenTrusted(); }));
    }
}

void AppDelegate::watchTakenKeys() {
    auto taken = HotkeyMonitor::shared().takenKeys();
    auto missing = [](const std::vector<int64_t>& from, const std::vector<int64_t>& in) {
        std::vector<int64_t> left;
        for (int64_t code : from)
            if (std::find(in.begin(), in.end(), code) == in.end()) left.push_back(code);
        return left;
    };
    for (int64_t code : missing(taken, takenKeys_))
        Log::write(KeyNames::name(code) + " is taken by another application");
    const auto& keys = HotkeyMonitor::shared().keys();
    for (int64_t code : missing(takenKeys_, taken)) {
        if (std::find(keys.begin(), keys.end(), code) != keys.end())
            Log::write(KeyNames::name(code) + " is free again");
    }
    takenKeys_ = taken;
    if (taken.empty()) {
        takenKeysTimer_.cancel();
    } else if (!takenKeysTimer_.active()) {
        takenKeysTimer_ = Platform::mainQueue().repeating(
            kPermissionPollSeconds, weakly([](AppDelegate& d) { d.retryTakenKeys(); }));
    }
}

void AppDelegate::retryTakenKeys() {
    HotkeyMonitor::shared().retryTakenKeys();
    auto before = takenKeys_;
    watchTakenKeys();
    bool atRest = !controller_->busy() && !controller_->recorder().hasSession();
    if (takenKeys_ != before && atRest) controller_->setStatus(controller_->readyLine());
}

void AppDelegate::toggleCleanup() {
    toggleSetting("cleanup", &Config::cleanup);
}

void AppDelegate::togglePaste() {
    toggleSetting("autoPaste", &Config::autoPaste);
}

void AppDelegate::toggleSetting(const std::string& key, bool Config::*field) {
    Config config = controller_->config();
    config.*field = !(config.*field);
    Config::set(key, config.*field);
    controller_->setConfig(std::move(config));
    syncMenu();
}

void AppDelegate::toggleLoginItem() {
    Desktop& desktop = Platform::desktop();
    if (auto error = desktop.setLoginItem(!desktop.loginItemEnabled())) {
        controller_->setStatus("Could not change login item");
        Log::write("login item failed: " + *error);
    }
    syncMenu();
}

void AppDelegate::openHome() {
    Home::show();
}

void AppDelegate::openURLs(const std::vector<std::string>& urls) {
    for (const std::string& url : urls) {
        if (Auth::handle(url)) {
            Log::write("signed in from the browser callback");
            Home::show();
            return;
        }
    }
}

void AppDelegate::reopen() {
    Home::show();
}

void AppDelegate::willTerminate() {
    controller_->stopForExit();
    HotkeyMonitor::shared().stop();
    permTimer_.cancel();
    takenKeysTimer_.cancel();
    Log::flush();
}

}  // namespace velvox

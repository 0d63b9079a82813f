#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "app/AppDelegate.h"
#include "base/AppState.h"
#include "capture/HotkeyMonitor.h"
#include "config/Config.h"
#include "fakes/DictationFakes.h"
#include "fakes/FakeDesktop.h"
#include "fakes/FakeWebView.h"
#include "feedback/Overlay.h"
#include "home/Home.h"
#include "platform/Desktop.h"
#include "platform/IconImages.h"
#include "platform/WebView.h"
#include "services/Auth.h"
#include "support/TempHome.h"

namespace velvox {
namespace {

using Json = nlohmann::json;
const std::string kReady = "Ready. Hold F5 to dictate \u00B7 right alt for smart to talk";

// The application controller over a faked desktop: keyboard hook, tray menu,
// accessibility, microphone, Home window and login entry, with time in the
// test's hand.
class AppDelegateTest : public testing::TempHomeTest {
  protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        Home::resetForTesting();
        AppState::resetForTesting();
        fakes = std::make_unique<testing::DictationFakes>();
        window = std::make_shared<testing::FakeWebView>();
        desktop = std::make_shared<testing::FakeDesktop>();
        desktop->resources = {{"settings.html", "/app/pages/settings.html"},
                              {"onboarding.html", "/app/pages/onboarding.html"}};
        Platform::installWebView(window);
        Platform::installDesktop(desktop);
        Platform::installIconImages(std::make_shared<testing::FakeIconImages>());
    }

    void TearDown() override {
        if (delegate) delegate->willTerminate();
        delegate.reset();
        Home::resetForTesting();
        AppState::reload() = nullptr;
        // A flash's fade timer must not outlive this test's clock.
        Overlay::resetSharedForTesting();
        TempHomeTest::TearDown();
        Platform::installWebView(nullptr);
        Platform::installDesktop(nullptr);
        Platform::installIconImages(nullptr);
    }

    // A settled user: onboarded, own key, F5 and right alt.
    void writeConfig(const Json& extra = Json::object()) {
        std::filesystem::create_directories(settingsPath(""));
        Json config = {{"onboarded", true},
                       {"useOwnKey", true},
                       {"groqApiKey", "gsk_test_key"},
                       {"hotkeyKeyCode", 96},
                       {"boostHotkeyKeyCode", 61}};
        config.update(extra);
        writeFile(settingsPath("config.json"), config.dump());
    }

    void launch() {
        delegate = std::make_unique<AppDelegate>([this] { ++quitRequests; });
        delegate->didFinishLaunching();
        queue->runUntilIdle();
    }

    std::vector<std::string> menuTitles() const {
        std::vector<std::string> titles;
        for (const auto& item : fakes->statusItem->menu)
            titles.push_back(item.isSeparator ? "-" : item.title);
        return titles;
    }
    std::string statusTitle() const { return fakes->statusItem->menu.at(0).title; }
    bool checked(const std::string& title) const {
        auto* item = fakes->statusItem->item(title);
        return item && item->checked.value_or(false);
    }
    size_t keySourceStarts() const {
        const auto& calls = fakes->keys->calls;
        return std::count(calls.begin(), calls.end(), "start");
    }
    Json savedConfig() const { return Json::parse(readFile(settingsPath("config.json"))); }
    bool logged(const std::string& line) const {
        auto lines = logMessages();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    std::unique_ptr<testing::DictationFakes> fakes;
    std::shared_ptr<testing::FakeWebView> window;
    std::shared_ptr<testing::FakeDesktop> desktop;
    std::unique_ptr<AppDelegate> delegate;
    int quitRequests = 0;
};

TEST_F(AppDelegateTest, FirstLaunchPreparesSettingsBuildsTheMenuAndOpensOnboarding) {
    launch();

    EXPECT_TRUE(std::filesystem::exists(settingsPath("config.json")));
    auto lines = logMessages();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.starts_with("Velvox launched, binary built ");
    }));
    EXPECT_TRUE(logged("first launch, opening onboarding"));
    window->finishLoading();
    EXPECT_TRUE(window->isVisible());

    EXPECT_EQ(menuTitles(), (std::vector<std::string>{statusTitle(), "-", "Open Velvox\u2026", "-",
                                                      "Polish transcript", "Paste automatically",
                                                      "Start at login", "-", "Copy last result",
                                                      "-", "Quit Velvox"}));
    EXPECT_FALSE(fakes->statusItem->menu[0].enabled);
    EXPECT_FALSE(fakes->statusItem->images.empty());
    EXPECT_EQ(fakes->statusItem->toolTips.back(), "Velvox");
    EXPECT_EQ(fakes->microphone->pendingRequests(), 1u);

    fakes->statusItem->pick("Quit Velvox");
    EXPECT_EQ(quitRequests, 1);
}

TEST_F(AppDelegateTest, HomeOpensOnlyWhileSetupIsUnfinished) {
    writeConfig();
    launch();
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(logged("setup incomplete, opening Home"));
    delegate->willTerminate();
    delegate.reset();

    writeConfig({{"groqApiKey", ""}});
    launch();
    EXPECT_TRUE(logged("setup incomplete, opening Home"));
    window->finishLoading();
    EXPECT_TRUE(window->isVisible());
}

TEST_F(AppDelegateTest, HotkeysGoLiveWhenTrustedAndTheStatusLineFollows) {
    writeConfig();
    launch();

    EXPECT_EQ(statusTitle(), kReady);
    EXPECT_EQ(AppState::status(), kReady);
    EXPECT_TRUE(logged("hotkeys live: " + kReady));
    EXPECT_TRUE(AppState::tapRunning());
    EXPECT_FALSE(delegate->isPolling());
    EXPECT_EQ(fakes->keys->swallowedKeys, (std::vector<int64_t>{96}));
}

TEST_F(AppDelegateTest, WaitsForAccessibilityAndPicksItUpWithinTwoSeconds) {
    writeConfig();
    fakes->accessibility->trusted = false;
    launch();

    EXPECT_EQ(statusTitle(), "Waiting for Accessibility permission");
    EXPECT_FALSE(AppState::tapRunning());
    EXPECT_TRUE(delegate->isPolling());
    EXPECT_EQ(keySourceStarts(), 0u);
    window->finishLoading();
    EXPECT_TRUE(window->isVisible()) << "set-up is unfinished";

    queue->advance(2.0);
    queue->runUntilIdle();
    EXPECT_EQ(statusTitle(), "Waiting for Accessibility permission");
    EXPECT_TRUE(desktop->calls.empty()) << "the desktop-wide switch is the user's to throw";

    fakes->accessibility->trusted = true;
    queue->advance(2.0);
    queue->runUntilIdle();
    EXPECT_EQ(statusTitle(), kReady);
    EXPECT_TRUE(AppState::tapRunning());
    EXPECT_FALSE(delegate->isPolling());
}

TEST_F(AppDelegateTest, DesktopsWithoutAccessibilityOrOnWaylandSaySoAndDictationStillStarts) {
    writeConfig();
    fakes->accessibility->trusted = false;
    fakes->accessibility->available = false;
    desktop->session = DisplaySession::wayland;
    launch();

    const std::string line =
        "Wayland session: works in X11 apps only. Hold F5 to dictate \u00B7 right alt for smart "
        "to talk";
    EXPECT_EQ(statusTitle(), line);
    EXPECT_TRUE(AppState::tapRunning());
    EXPECT_FALSE(delegate->isPolling());
    EXPECT_FALSE(window->isVisible()) << "nothing is left to set up";
    EXPECT_TRUE(logged("Wayland session: keys, paste and the frontmost app reach X11 apps only"));
    EXPECT_TRUE(logged("no accessibility bus: text is pasted, never typed into a field"));
    EXPECT_TRUE(logged("hotkeys live: " + line));
}

TEST_F(AppDelegateTest, WaylandPiecesPointToTheDesktopsShortcutsInsteadOfKeys) {
    writeConfig();
    desktop->session = DisplaySession::wayland;
    fakes->keys->globalKeys = false;
    launch();
    const std::string line =
        "Wayland session: bind \"velvox dictate toggle\" to a key in your desktop's keyboard "
        "shortcuts";
    EXPECT_EQ(statusTitle(), line);
    EXPECT_TRUE(AppState::tapRunning());
    EXPECT_TRUE(
        logged("Wayland session: no global keys, the desktop's shortcuts run velvox "
               "dictate; the frontmost app from accessibility"));
    EXPECT_TRUE(
        logged("Wayland session, Global shortcuts missing: this desktop offers none to "
               "apps: bind \"velvox dictate toggle\" to a key in its keyboard shortcuts"));
    EXPECT_TRUE(logged("hotkeys live: " + line));

    // The desktop's portal assigns its keys later: the line names them.
    fakes->keys->desktopKeys = {"Press Super+D", "Press Super+B"};
    delegate->controller().refreshReadyLine();
    EXPECT_EQ(statusTitle(), "Ready. Press Super+D to dictate \u00B7 Press Super+B for smart");
}

TEST_F(AppDelegateTest, KeyHookThatWillNotStartAsksForInputMonitoringAndKeepsTrying) {
    writeConfig();
    fakes->keys->startSucceeds = false;
    launch();

    EXPECT_EQ(statusTitle(), "Add Velvox to Input Monitoring too");
    EXPECT_FALSE(AppState::tapRunning());
    size_t starts = keySourceStarts();
    queue->advance(4.0);
    queue->runUntilIdle();
    EXPECT_EQ(keySourceStarts(), starts + 2);

    fakes->keys->startSucceeds = true;
    queue->advance(2.0);
    queue->runUntilIdle();
    EXPECT_EQ(statusTitle(), kReady);
    EXPECT_FALSE(delegate->isPolling());
    queue->advance(10.0);
    queue->runUntilIdle();
    EXPECT_EQ(keySourceStarts(), starts + 3) << "no poll once the hotkeys are live";
}

TEST_F(AppDelegateTest, MenuTogglesWriteTheSettingAndShowTheRealState) {
    writeConfig({{"cleanup", true}, {"autoPaste", true}});
    launch();
    EXPECT_TRUE(checked("Polish transcript"));
    EXPECT_TRUE(checked("Paste automatically"));
    EXPECT_FALSE(checked("Start at login"));

    fakes->statusItem->pick("Polish transcript");
    EXPECT_FALSE(checked("Polish transcript"));
    EXPECT_EQ(savedConfig()["cleanup"], false);
    EXPECT_FALSE(delegate->controller().config().cleanup);

    fakes->statusItem->pick("Paste automatically");
    EXPECT_FALSE(checked("Paste automatically"));
    EXPECT_EQ(savedConfig()["autoPaste"], false);

    fakes->statusItem->pick("Start at login");
    EXPECT_TRUE(desktop->loginItem);
    EXPECT_TRUE(checked("Start at login"));
    fakes->statusItem->pick("Start at login");
    EXPECT_FALSE(desktop->loginItem);
    EXPECT_FALSE(checked("Start at login"));
}

TEST_F(AppDelegateTest, RefusedLoginItemSaysSoAndKeepsTheMarkTrue) {
    writeConfig();
    launch();
    desktop->loginItemError = "autostart folder is not writable";

    fakes->statusItem->pick("Start at login");
    EXPECT_EQ(statusTitle(), "Could not change login item");
    EXPECT_EQ(AppState::status(), "Could not change login item");
    EXPECT_TRUE(logged("login item failed: autostart folder is not writable"));
    EXPECT_FALSE(checked("Start at login"));
}

TEST_F(AppDelegateTest, SignInCallbackStoresTheTokenAndShowsHomeOtherAddressesDoNothing) {
    writeConfig();
    launch();

    delegate->openURLs({"https://example.com/", "velvox://settings"});
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(Auth::token());

    delegate->openURLs({"velvox://auth?token=ovk_first", "velvox://auth?token=ovk_second"});
    EXPECT_EQ(Auth::token(), "ovk_first");
    EXPECT_TRUE(logged("signed in from the browser callback"));
    EXPECT_TRUE(window->isVisible());
}

TEST_F(AppDelegateTest, ReopenAndTheMenuShowHome) {
    writeConfig();
    launch();
    delegate->reopen();
    EXPECT_TRUE(window->isVisible());
    window->close();
    EXPECT_FALSE(window->isVisible());
    fakes->statusItem->pick("Open Velvox\u2026");
    EXPECT_TRUE(window->isVisible());
}

TEST_F(AppDelegateTest, TheMenuOffersARetryOnlyWhileAFailedTakeIsKept) {
    writeConfig();
    writeFile(settingsPath("kept/take-plain-2000.m4a"), "audio");
    std::filesystem::permissions(settingsPath("kept"), std::filesystem::perms::owner_all);
    launch();
    EXPECT_TRUE(fakes->statusItem->item("Retry last dictation"));
    EXPECT_TRUE(fakes->statusItem->pick("Retry last dictation"));
    queue->runUntilIdle();
    EXPECT_EQ(fakes->http->requests().size(), 1u);
    EXPECT_FALSE(fakes->statusItem->item("Retry last dictation")) << "not while it runs";
    ASSERT_TRUE(fakes->http->respond(500, R"({"error":"down"})"));
    queue->runUntilIdle();
    EXPECT_TRUE(fakes->statusItem->item("Retry last dictation")) << "kept again";
    EXPECT_EQ(menuTitles().back(), "Quit Velvox");
    AppState::dismissRetry()();
    EXPECT_FALSE(fakes->statusItem->item("Retry last dictation"));
}

TEST_F(AppDelegateTest, SettingsReloadTakesNewHotkeysAndChecksPermissionsAgain) {
    writeConfig();
    launch();
    writeConfig({{"hotkeyKeyCode", 97}, {"boostHotkeyKeyCode", -1}, {"cleanup", false}});

    ASSERT_TRUE(AppState::reload());
    AppState::reload()();
    queue->runUntilIdle();

    EXPECT_EQ(statusTitle(), "Ready. Hold F6 to dictate to talk");
    EXPECT_EQ(fakes->keys->swallowedKeys, (std::vector<int64_t>{97}));
    EXPECT_FALSE(checked("Polish transcript"));
}

// Another application grabbed F5: right alt goes on working, the status line
// and one log line say so, and the key comes back when the other lets go or
// when another key is chosen, without restarting the hook.
TEST_F(AppDelegateTest, HotkeyTakenByAnotherApplicationIsNamedAndRecovered) {
    writeConfig();
    fakes->keys->heldElsewhere = {96};
    launch();
    const std::string taken =
        "Ready. Hold right alt for smart to talk. F5 is taken by another application";
    EXPECT_EQ(statusTitle(), taken);
    EXPECT_TRUE(AppState::tapRunning());
    size_t starts = keySourceStarts();
    queue->advance(6.0);
    queue->runUntilIdle();
    auto lines = logMessages();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "F5 is taken by another application"), 1);
    EXPECT_EQ(keySourceStarts(), starts) << "retried without restarting the hook";

    fakes->keys->heldElsewhere.clear();
    queue->advance(2.0);
    queue->runUntilIdle();
    EXPECT_EQ(statusTitle(), kReady);
    EXPECT_TRUE(logged("F5 is free again"));

    fakes->keys->heldElsewhere = {96};
    AppState::reload()();
    EXPECT_EQ(statusTitle(), taken);
    writeConfig({{"hotkeyKeyCode", 97}});
    AppState::reload()();
    EXPECT_EQ(statusTitle(), "Ready. Hold F6 to dictate \u00B7 right alt for smart to talk");
    fakes->keys->calls.clear();
    queue->advance(6.0);
    queue->runUntilIdle();
    EXPECT_TRUE(fakes->keys->calls.empty()) << "nothing left to retry";
}

TEST_F(AppDelegateTest, MicrophoneRefusedAtLaunchIsLoggedOnce) {
    writeConfig();
    launch();
    fakes->microphone->answer(false);
    queue->runUntilIdle();
    auto errors = systemLog->lines();
    EXPECT_EQ(std::count(errors.begin(), errors.end(), "Velvox error: microphone access denied"),
              1);
}

TEST_F(AppDelegateTest, TerminationStopsHotkeysRecordingAndThePoll) {
    writeConfig();
    fakes->keys->startSucceeds = false;
    launch();
    ASSERT_TRUE(delegate->isPolling());
    size_t starts = keySourceStarts();
    delegate->willTerminate();
    queue->advance(10.0);
    queue->runUntilIdle();
    EXPECT_EQ(keySourceStarts(), starts);
    EXPECT_FALSE(delegate->isPolling());
}

}  // namespace
}  // namespace velvox

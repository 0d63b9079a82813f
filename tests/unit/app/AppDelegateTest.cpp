#include "FakedDesktopTest.h"
#include "app/AppDelegate.h"
#include "base/AppState.h"
#include "fakes/FakeDesktop.h"
#include "fakes/FakeWebView.h"
#include "feedback/Overlay.h"
#include "home/Home.h"

namespace velvox {
namespace {

// The application controller over the faked desktop, a Home window and a login entry.
class AppDelegateTest : public FakedDesktopTest {
  protected:
    void SetUp() override {
        FakedDesktopTest::SetUp();
        Home::resetForTesting();
        window = std::make_shared<testing::FakeWebView>();
        desktop = std::make_shared<testing::FakeDesktop>();
        desktop->resources = {{"settings.html", "/app/pages/settings.html"},
                              {"onboarding.html", "/app/pages/onboarding.html"}};
        Platform::installWebView(window);
        Platform::installDesktop(desktop);
        Platform::installIconImages(std::make_shared<testing::FakeIconImages>());
        writeConfig();
    }
    void TearDown() override {
        if (delegate) delegate->willTerminate();
        delegate.reset();
        Home::resetForTesting();
        AppState::reload() = nullptr;
        Overlay::resetSharedForTesting();  // a flash's fade timer must not outlive the clock
        FakedDesktopTest::TearDown();
    }

    void launch() {
        delegate = std::make_unique<AppDelegate>([this] { ++quitRequests; });
        delegate->didFinishLaunching();
        queue->runUntilIdle();
        window->finishLoading();
    }

    Lines menuTitles() const {
        Lines titles;
        for (const auto& item : fakes->statusItem->menu)
            titles.push_back(item.isSeparator ? "-" : item.title);
        return titles;
    }
    std::string statusTitle() const { return fakes->statusItem->menu.at(0).title; }
    bool checked(const std::string& title) const {
        return fakes->statusItem->item(title)->checked.value_or(false);
    }
    size_t keySourceStarts() const { return std::ranges::count(fakes->keys->calls, "start"); }

    std::shared_ptr<testing::FakeWebView> window;
    std::shared_ptr<testing::FakeDesktop> desktop;
    std::unique_ptr<AppDelegate> delegate;
    int quitRequests = 0;
};

TEST_F(AppDelegateTest, FirstLaunchPreparesSettingsBuildsTheMenuAndOpensOnboarding) {
    fs::remove(settingsPath("config.json"));
    launch();
    EXPECT_TRUE(fs::exists(settingsPath("config.json")));
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(menuTitles(), (Lines{statusTitle(), "-", "Open Velvox\u2026", "-",
                                   "Polish transcript", "Paste automatically", "Start at login",
                                   "-", "Copy last result", "-", "Quit Velvox"}));
    EXPECT_FALSE(fakes->statusItem->images.empty());
    EXPECT_EQ(fakes->microphone->pendingRequests(), 1);
    fakes->microphone->answer(false);
    queue->runUntilIdle();
    EXPECT_EQ(systemLog->lines(), Lines{"Velvox error: microphone access denied"});
    fakes->statusItem->pick("Quit Velvox");
    EXPECT_EQ(quitRequests, 1);
}

// What the status line says at launch, whether the hotkeys go live, whether
// the permission poll runs and whether Home opens (once while set-up is
// unfinished: config.json remembers it until set-up is done), for each kind
// of desktop. Accessibility switched off holds nothing up: text is pasted.
TEST_F(AppDelegateTest, LaunchOnEachKindOfDesktop) {
    enum : int { untrusted = 1, noBus = 2, wayland = 4, noGlobalKeys = 8, noHook = 16, taken = 32 };
    const std::string onX11 = "Wayland session: works in X11 apps only. " + kReady.substr(7);
    const std::string portal =
        "Wayland session: bind \"velvox dictate toggle\" to a key in your desktop's keyboard "
        "shortcuts";
    // clang-format off
    const struct { const char *name, *config; int desktop; std::string status;
                   bool live, polling, homeOpens, reminded = false; } cases[] = {
        {"settled", R"({"setupReminderShown":true})", 0, kReady, true, false, false},
        {"set-up unfinished", R"({"groqApiKey":""})", 0, kReady, true, false, true, true},
        {"set-up unfinished, Home shown for it before",
         R"({"groqApiKey":"","setupReminderShown":true})", 0, kReady, true, false, false, true},
        {"no trust", "{}", untrusted, kReady, true, false, false},
        {"hook refused", "{}", noHook, "Add Velvox to Input Monitoring too", false, true, false},
        {"F5 grabbed", "{}", taken, "Ready. Hold right alt for smart to talk. F5 is taken by "
         "another application", true, false, false},
        {"Wayland, no bus", "{}", untrusted | noBus | wayland, onX11, true, false, false},
        {"Wayland without global keys", "{}", wayland | noGlobalKeys, portal, true, false, false},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        writeConfig(Json::parse(c.config));
        fakes->accessibility->trusted = !(c.desktop & untrusted);
        fakes->accessibility->available = !(c.desktop & noBus);
        if (c.desktop & wayland) desktop->session = DisplaySession::wayland;
        fakes->keys->globalKeys = !(c.desktop & noGlobalKeys);
        fakes->keys->startSucceeds = !(c.desktop & noHook);
        if (c.desktop & taken) fakes->keys->heldElsewhere = {96};
        launch();
        EXPECT_EQ(statusTitle(), c.status);
        EXPECT_EQ(AppState::status(), c.status);
        EXPECT_EQ(AppState::tapRunning(), c.live);
        EXPECT_EQ(delegate->isPolling(), c.polling);
        EXPECT_EQ(window->isVisible(), c.homeOpens);
        EXPECT_EQ(Home::setupReminderShown(), c.reminded);
        EXPECT_TRUE(desktop->calls.empty()) << "the desktop's own switches are the user's";
        EXPECT_EQ(keySourceStarts(), 1u);
        if (!c.polling) continue;
        // What was missing arrives: the next poll makes the hotkeys live and ends.
        fakes->accessibility->trusted = true;
        fakes->keys->startSucceeds = true;
        queue->advance(2.0);
        EXPECT_EQ(statusTitle(), kReady);
        EXPECT_FALSE(delegate->isPolling());
    }
    // The desktop's portal assigns its keys later: the line names them.
    fakes->keys->desktopKeys = {"Press Super+D", "Press Super+B"};
    delegate->controller().refreshReadyLine();
    EXPECT_EQ(statusTitle(), "Ready. Press Super+D to dictate \u00B7 Press Super+B for smart");
}

TEST_F(AppDelegateTest, TheHookIsTriedAgainEveryTwoSecondsUntilTheApplicationEnds) {
    fakes->keys->startSucceeds = false;
    launch();
    size_t starts = keySourceStarts();
    queue->advance(4.0);
    EXPECT_EQ(keySourceStarts(), starts + 2);
    delegate->willTerminate();
    queue->advance(10.0);
    EXPECT_EQ(keySourceStarts(), starts + 2) << "termination stops the poll";
    EXPECT_FALSE(delegate->isPolling());
}

// Another application grabbed F5: the key comes back when the other lets go
// or when another key is chosen, without restarting the hook.
TEST_F(AppDelegateTest, HotkeyTakenByAnotherApplicationIsRecovered) {
    fakes->keys->heldElsewhere = {96};
    launch();
    const std::string taken = statusTitle();
    queue->advance(6.0);
    EXPECT_EQ(timesLogged("F5 is taken by another application"), 1u);
    EXPECT_EQ(keySourceStarts(), 1u) << "retried without restarting the hook";
    fakes->keys->heldElsewhere.clear();
    queue->advance(2.0);
    EXPECT_EQ(statusTitle(), kReady);

    fakes->keys->heldElsewhere = {96};
    AppState::reload()();
    EXPECT_EQ(statusTitle(), taken);
    writeConfig({{"hotkeyKeyCode", 97}, {"boostHotkeyKeyCode", -1}, {"cleanup", false}});
    AppState::reload()();
    queue->runUntilIdle();
    EXPECT_EQ(statusTitle(), "Ready. Hold F6 to dictate to talk");
    EXPECT_EQ(fakes->keys->swallowedKeys, (std::vector<int64_t>{97}));
    EXPECT_FALSE(checked("Polish transcript"));
    fakes->keys->calls.clear();
    queue->advance(6.0);
    EXPECT_TRUE(fakes->keys->calls.empty()) << "nothing left to retry";
}

TEST_F(AppDelegateTest, MenuTogglesWriteTheSettingAndShowTheRealState) {
    writeConfig({{"cleanup", true}, {"autoPaste", true}});
    launch();
    for (const char* title : {"Polish transcript", "Paste automatically"}) {
        EXPECT_TRUE(checked(title));
        fakes->statusItem->pick(title);
        EXPECT_FALSE(checked(title));
    }
    Json saved = Json::parse(readFile(settingsPath("config.json")));
    EXPECT_EQ(std::pair(saved["cleanup"], saved["autoPaste"]), std::pair(Json(false), Json(false)));
    EXPECT_FALSE(delegate->controller().config().cleanup);

    for (bool on : {true, false}) {
        fakes->statusItem->pick("Start at login");
        EXPECT_EQ(desktop->loginItem, on);
        EXPECT_EQ(checked("Start at login"), on);
    }
    desktop->loginItemError = "autostart folder is not writable";
    fakes->statusItem->pick("Start at login");
    EXPECT_EQ(statusTitle(), "Could not change login item");
    EXPECT_FALSE(checked("Start at login"));
}

TEST_F(AppDelegateTest, TheMenuOffersARetryOnlyWhileAFailedTakeIsKept) {
    writeFile(settingsPath("kept/take-plain-2000.m4a"), "audio");
    fs::permissions(settingsPath("kept"), fs::perms::owner_all);
    launch();
    EXPECT_TRUE(fakes->statusItem->pick("Retry last dictation"));
    queue->runUntilIdle();
    EXPECT_EQ(fakes->http->requests().size(), 1);
    EXPECT_FALSE(fakes->statusItem->item("Retry last dictation")) << "not while it runs";
    ASSERT_TRUE(fakes->http->respond(500, R"({"error":"down"})"));
    queue->runUntilIdle();
    EXPECT_TRUE(fakes->statusItem->item("Retry last dictation")) << "kept again";
    AppState::dismissRetry()();
    EXPECT_FALSE(fakes->statusItem->item("Retry last dictation"));
}

}  // namespace
}  // namespace velvox

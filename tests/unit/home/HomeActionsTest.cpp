// The page actions: what each one changes, opens or answers (notes: PageContractTest).
#include "base/Log.h"
#include "base/Paths.h"
#include "unit/home/HomeFixture.h"

namespace velvox::testing {
namespace {

TEST_F(HomeTest, MalformedBodiesAreIgnoredAndUnknownActionsLogged) {
    show();
    for (const char* body :
         {"", "[]", R"({"action": 3})", "{bad", R"({"action": "launchRockets"})"})
        window->post(body);
    EXPECT_TRUE(window->calls.empty());
    EXPECT_EQ(logMessages().back(), "settings page sent an unknown action: launchRockets");
    // The window actions follow the desktop's double-click setting.
    post({{"action", "dragWindow"}});
    for (const char* setting : {"", "minimize", "none", "toggle-maximize"}) {
        window->doubleClickAction = setting;
        post({{"action", "titleBarDoubleClick"}});
    }
    EXPECT_EQ(window->calls, (Lines{"beginDrag", "zoom", "minimize", "zoom"}));
}

// Lists are saved whole or, for chosen applications, joined; the context is
// saved whole, or a line is appended once.
TEST_F(HomeTest, ListsAndContextAreSaved) {
    show();
    post({{"action", "saveVocabulary"}, {"list", {"Velvox", "Groq"}}});
    post({{"action", "saveCorrections"}, {"map", {{"velvet box", "Velvox"}}}});
    post({{"action", "savePromptApps"}, {"list", {"code"}}});
    EXPECT_EQ(callsOf("window.orvoState"), 3u);
    EXPECT_EQ(configFile()["vocabulary"], Json({"Velvox", "Groq"}));
    EXPECT_EQ(configFile()["corrections"], Json({{"velvet box", "Velvox"}}));
    EXPECT_EQ(lastArgument("window.orvoState")["cfg"]["promptModeApps"], Json({"code"}));
    for (const char* chosen : {"", "obsidian", "code"}) {  // cancelled, new, already there
        post({{"action", "addApp"}});
        desktop->choose(*chosen ? std::optional<std::string>(chosen) : std::nullopt);
    }
    EXPECT_EQ(configFile()["promptModeApps"], Json({"code", "obsidian"}));
    EXPECT_EQ(reloads, 5);
    window->calls.clear();
    const std::pair<const char*, const char*> appended[] = {
        {"  \n ", ""},  // no file yet
        {" I work on Velvox. ", "I work on Velvox."},
        {" on Velvox \n", "I work on Velvox."},
        {"My name is Ada.", "I work on Velvox.\nMy name is Ada."}};
    for (const auto& [text, content] : appended) {
        post({{"action", "appendContext"}, {"text", text}});
        EXPECT_EQ(readFile(Paths::contextURL()), content) << text;
    }
    post({{"action", "saveContext"}, {"text", "  I write Rust.\n"}});
    EXPECT_EQ(readFile(Paths::contextURL()), "  I write Rust.\n");
    EXPECT_EQ(modeOf(Paths::contextURL()), 0600u);
    EXPECT_EQ(logMessages().back(), "context saved, 16 chars");
    EXPECT_TRUE(window->scripts().empty());
}

TEST_F(HomeTest, FinishingOnboardingStoresTheNameAndOpensSettings) {
    Home& home = show();
    home.startMicTest();
    Smart::setDemoKind(Smart::Kind::email);
    post({{"action", "finishOnboarding"}, {"text", "  Ada \n"}});
    EXPECT_FALSE(home.micTestRunning());
    EXPECT_FALSE(Smart::demoKind());
    EXPECT_EQ(configFile()["onboarded"], true);
    EXPECT_EQ(configFile()["name"], "Ada");
    EXPECT_EQ(window->calls.back(), "load /app/pages/settings.html");
    post({{"action", "finishOnboarding"}, {"text", " "}});
    EXPECT_EQ(configFile()["name"], "Ada");
}

// Settings pages, addresses and files open on the desktop; the history and
// the log are created first when missing. The demo kind takes only known kinds.
TEST_F(HomeTest, DesktopAndDemoActions) {
    show();
    desktop->resources["PRIVACY.md"] = "/app/PRIVACY.md";
    for (const char* action : {"openSound", "openAccessibility", "openShortcuts", "openGroq",
                               "openFolder", "openPrivacy"})
        post({{"action", action}});
    desktop->resources.erase("PRIVACY.md");
    post({{"action", "openPrivacy"}});
    std::string history = settingsPath("history.md");
    post({{"action", "openHistory"}});
    EXPECT_TRUE(std::filesystem::exists(history));
    writeFile(history, "# kept\n");
    post({{"action", "openHistory"}});
    EXPECT_EQ(readFile(history), "# kept\n");
    Log::flush();
    post({{"action", "openLog"}});
    EXPECT_EQ(desktop->calls,
              (Lines{"openSettings sound", "openSettings accessibility", "openSettings keyboard",
                     "openURL https://console.groq.com/keys", "openFile " + Paths::dir(),
                     "openFile /app/PRIVACY.md", "openURL https://velvox.app/privacy",
                     "openFile " + history, "openFile " + history, "openFile " + Log::url()}));
    post({{"action", "demoKind"}, {"text", "message"}});
    EXPECT_EQ(Smart::demoKind(), Smart::Kind::message);
    post({{"action", "demoKind"}, {"text", "poem"}});
    EXPECT_FALSE(Smart::demoKind());
}

// An address needs an @ and five characters before the service is asked.
TEST_F(HomeTest, SignInByAddressBrowserOrPastedToken) {
    showOnService();
    post({{"action", "signIn"}, {"text", "adabc"}});
    EXPECT_EQ(lastArgument("window.orvoAuth")["bad"], true);
    EXPECT_EQ(http->pendingRequests(), 0u);
    post({{"action", "signIn"}, {"text", " a@b.c "}});
    answer(500, "oops");
    EXPECT_EQ(http->requests().back().url, "https://service.test/v1/auth/start");
    EXPECT_EQ(lastArgument("window.orvoAuth"),
              Json::parse(R"({"note":"Service unavailable, try again","bad":true,"busy":false})"));
    post({{"action", "signInGoogle"}});
    EXPECT_EQ(desktop->calls.back(), "openURL https://service.test/v1/auth/google");
    // A pasted token is checked, then signs in until signing out.
    post({{"action", "pasteToken"}, {"text", "not-a-token"}});
    EXPECT_EQ(lastArgument("window.orvoAuth")["bad"], true);
    post({{"action", "pasteToken"}, {"text", "ovk_abc123"}});
    EXPECT_TRUE(lastArgument("window.orvoState")["live"]["signedIn"]);
    EXPECT_EQ(http->requests().back().header("Authorization"), "Bearer ovk_abc123");
    settle();
    post({{"action", "signOut"}});
    EXPECT_FALSE(lastArgument("window.orvoState")["live"]["signedIn"]);
    EXPECT_FALSE(http->requests().back().header("Authorization"));
}

// Not signed in, billing asks nothing and the upgrade opens the service's page
// with the fetched address. Signed in, billing asks with the token, and the
// addresses the service sends (the upgrade page, the billing overview) open
// only over https; anything else is logged, the upgrade falls back to the
// service's own page and billing says it cannot.
TEST_F(HomeTest, UpgradeAndBillingOpenOnlyTheServicesHttpsAddresses) {
    Home& home = showOnService();
    post({{"action", "manageBilling"}});
    EXPECT_EQ(http->pendingRequests(), 0u);
    home.fetchUsage();
    answer(200, R"({"signedIn":false,"email":"ada+x@example.com"})");
    post({{"action", "upgrade"}});
    EXPECT_EQ(desktop->calls.back(),
              "openURL https://service.test/upgrade?email=ada%2Bx@example.com");
    Auth::save("ovk_t");
    settle();
    const std::string refused =
        "home: the service sent an address that is not https; it was not opened";
    const std::pair<std::string, bool> cases[] = {
        {"https://pay.test/u?s=1", true}, {"", false},
        {"HTTPS://pay.test/u", true},     {"http://pay.test/u", false},
        {"javascript:alert(1)", false},   {"https:///nohost", false}};
    for (const auto& [address, opened] : cases) {
        home.fetchBilling();
        answer(200, Json{{"plan", "free"}, {"upgradeUrl", address}}.dump());
        desktop->calls.clear();
        window->calls.clear();
        post({{"action", "upgrade"}});
        post({{"action", "manageBilling"}});
        EXPECT_EQ(lastRequest(),
                  "POST https://service.test/v1/billing/portal 15\n"
                  "Authorization: Bearer ovk_t\nX-Velvox-App: *");
        answer(200, Json{{"overview", address}}.dump());
        std::string opens = "openURL " + (opened ? address : "https://service.test/upgrade");
        EXPECT_EQ(desktop->calls, std::vector<std::string>(opened ? 2 : 1, opens)) << address;
        EXPECT_EQ(callsOf("window.orvoBillingNote"), opened ? 0u : 1u) << address;
        EXPECT_EQ(logMessages().back() == refused, !opened && !address.empty()) << address;
    }
}

TEST_F(HomeTest, MicrophoneAnswersArePushedOnTheMainQueueWhileTheControllerLives) {
    show();
    post({{"action", "askMic"}});
    microphone->answer(false);
    EXPECT_EQ(callsOf("window.orvoLive"), 0u);  // not on the answering thread
    queue->runUntilIdle();
    EXPECT_EQ(lastArgument("window.orvoLive")["mic"], false);
    post({{"action", "askMic"}});
    Home::resetForTesting();
    window->calls.clear();
    microphone->answer(true);  // after the controller is gone
    queue->runUntilIdle();
    EXPECT_TRUE(window->scripts().empty());
}

}  // namespace
}  // namespace velvox::testing

// The page actions: what each one changes, opens or answers, and how
// malformed messages are treated.
#include "base/Files.h"
#include "base/Log.h"
#include "base/Paths.h"
#include "home/WebText.h"
#include "services/Auth.h"
#include "unit/home/HomeFixture.h"

namespace velvox::testing {
namespace {

using Json = nlohmann::json;

TEST_F(HomeTest, MalformedBodiesAreIgnoredAndUnknownActionsLogged) {
    show();
    for (const char* body : {"", "[]", "\"ready\"", "{\"action\": 3}", "{\"text\": \"x\"}", "{bad"})
        window->post(body);
    EXPECT_TRUE(window->calls.empty());
    post({{"action", "launchRockets"}});
    EXPECT_TRUE(window->calls.empty());
    auto lines = logMessages();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "settings page sent an unknown action: launchRockets");

    post({{"action", "ready"}});
    EXPECT_EQ(callsOf("window.orvoState"), 1u);
}

TEST_F(HomeTest, WindowActionsFollowTheDesktopsDoubleClickSetting) {
    show();
    post({{"action", "dragWindow"}});
    post({{"action", "titleBarDoubleClick"}});  // no setting: zoom
    window->doubleClickAction = "minimize";
    post({{"action", "titleBarDoubleClick"}});
    window->doubleClickAction = "none";
    post({{"action", "titleBarDoubleClick"}});
    window->doubleClickAction = "toggle-maximize";
    post({{"action", "titleBarDoubleClick"}});
    EXPECT_EQ(window->calls, (std::vector<std::string>{"beginDrag", "zoom", "minimize", "zoom"}));
}

TEST_F(HomeTest, ListsAreSavedThenTheApplicationReloadsAndThePageIsPushed) {
    show();
    int reloads = 0;
    AppState::reload() = [&] { ++reloads; };
    post({{"action", "saveVocabulary"}, {"list", {"Velvox", "Groq"}}});
    post({{"action", "saveCorrections"}, {"map", {{"velvet box", "Velvox"}}}});
    post({{"action", "savePromptApps"}, {"list", {"code", "cursor"}}});
    EXPECT_EQ(reloads, 3);
    EXPECT_EQ(callsOf("window.orvoState"), 3u);
    auto config = configFile();
    EXPECT_EQ(config["vocabulary"], Json({"Velvox", "Groq"}));
    EXPECT_EQ(config["corrections"], Json({{"velvet box", "Velvox"}}));
    EXPECT_EQ(config["promptModeApps"], Json({"code", "cursor"}));
    EXPECT_EQ(lastArgument("window.orvoState")["cfg"]["promptModeApps"], Json({"code", "cursor"}));

    // Fields of the wrong shape take the empty default.
    post({{"action", "saveVocabulary"}, {"list", {"ok", 3}}});
    post({{"action", "saveCorrections"}, {"map", {{"a", 1}}}});
    post({{"action", "savePromptApps"}, {"list", "code"}});
    config = configFile();
    EXPECT_EQ(config["vocabulary"], Json::array());
    EXPECT_EQ(config["corrections"], Json::object());
    EXPECT_EQ(config["promptModeApps"], Json::array());
    EXPECT_EQ(reloads, 6);
}

TEST_F(HomeTest, ContextIsSavedWholeOrAppendedOnce) {
    show();
    post({{"action", "saveContext"}, {"text", "  I write Rust.\n"}});
    EXPECT_EQ(readFile(Paths::contextURL()), "  I write Rust.\n");
    EXPECT_EQ(modeOf(Paths::contextURL()), 0600u);
    auto lines = logMessages();
    EXPECT_EQ(lines.back(), "context saved, 16 chars");

    // Characters are user-perceived: a flag is one.
    post({{"action", "saveContext"}, {"text", "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA"}});
    EXPECT_EQ(logMessages().back(), "context saved, 1 chars");

    post({{"action", "saveContext"}, {"text", "I work on Velvox."}});
    post({{"action", "appendContext"}, {"text", "  \n "}});
    EXPECT_EQ(readFile(Paths::contextURL()), "I work on Velvox.");
    post({{"action", "appendContext"}, {"text", " on Velvox \n"}});
    EXPECT_EQ(readFile(Paths::contextURL()), "I work on Velvox.");
    post({{"action", "appendContext"}, {"text", "My name is Ada."}});
    EXPECT_EQ(readFile(Paths::contextURL()), "I work on Velvox.\nMy name is Ada.");
    EXPECT_TRUE(window->scripts().empty());  // nothing is pushed back

    ::unlink(Paths::contextURL().c_str());
    post({{"action", "appendContext"}, {"text", "First line"}});
    EXPECT_EQ(readFile(Paths::contextURL()), "First line");
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
    EXPECT_EQ(home.page(), "settings");
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
    EXPECT_EQ(desktop->calls,
              (std::vector<std::string>{
                  "openSettings sound", "openSettings accessibility", "openSettings keyboard",
                  "openURL https://console.groq.com/keys", "openFile " + Paths::dir(),
                  "openFile /app/PRIVACY.md", "openURL https://velvox.app/privacy"}));

    desktop->calls.clear();
    std::string history = settingsPath("history.md");
    post({{"action", "openHistory"}});
    EXPECT_TRUE(Files::exists(history));
    EXPECT_EQ(readFile(history), "");
    writeFile(history, "# kept\n");
    post({{"action", "openHistory"}});
    EXPECT_EQ(readFile(history), "# kept\n");
    Log::flush();
    post({{"action", "openLog"}});
    EXPECT_EQ(desktop->calls,
              (std::vector<std::string>{"openFile " + history, "openFile " + history,
                                        "openFile " + Log::url()}));
    post({{"action", "demoKind"}, {"text", "message"}});
    EXPECT_EQ(Smart::demoKind(), Smart::Kind::message);
    post({{"action", "demoKind"}, {"text", "poem"}});
    EXPECT_FALSE(Smart::demoKind());
    post({{"action", "demoKind"}, {"text", "note"}});
    post({{"action", "demoKind"}});
    EXPECT_FALSE(Smart::demoKind());
}

// The notes' texts are in the recorded pushes (PageContractTest).
TEST_F(HomeTest, SignInChecksTheAddressThenAsksTheServiceOrTheBrowser) {
    writeConfig({{"apiBase", "https://service.test/v1"}});
    show();
    for (const char* address : {" a@bc ", "adabc"}) {
        post({{"action", "signIn"}, {"text", address}});
        EXPECT_EQ(lastArgument("window.orvoAuth")["bad"], true) << address;
    }
    EXPECT_EQ(http->pendingRequests(), 0u);
    post({{"action", "signIn"}, {"text", " a@b.c "}});
    EXPECT_EQ(lastArgument("window.orvoAuth")["busy"], true);
    ASSERT_EQ(http->pendingRequests(), 1u);
    EXPECT_EQ(http->requests().back().url, "https://service.test/v1/auth/start");
    http->respond(500, "oops");
    queue->runUntilIdle();
    EXPECT_EQ(lastArgument("window.orvoAuth"),
              Json::parse(R"({"note":"Service unavailable, try again","bad":true,"busy":false})"));

    post({{"action", "signInGoogle"}});
    EXPECT_EQ(desktop->calls.back(), "openURL https://service.test/v1/auth/google");
    EXPECT_EQ(lastArgument("window.orvoAuth")["note"],
              "Finish in your browser, then Velvox will open.");
}

TEST_F(HomeTest, TokensArePastedCheckedAndSignedOut) {
    show();
    post({{"action", "pasteToken"}, {"text", "not-a-token"}});
    EXPECT_EQ(
        lastArgument("window.orvoAuth"),
        Json::parse(R"({"note":"That is not a valid Velvox token.","bad":true,"busy":false})"));
    EXPECT_FALSE(Auth::signedIn());

    window->clearCalls();
    post({{"action", "pasteToken"}, {"text", "ovk_abc123"}});
    EXPECT_TRUE(Auth::signedIn());
    EXPECT_GE(callsOf("window.orvoState"), 1u);
    EXPECT_TRUE(lastArgument("window.orvoState")["live"]["signedIn"]);
    ASSERT_GE(http->pendingRequests(), 1u);
    EXPECT_EQ(*http->requests().back().header("Authorization"), "Bearer ovk_abc123");
    while (http->pendingRequests()) http->respond(200, "{}");
    queue->runUntilIdle();

    post({{"action", "signOut"}});
    EXPECT_FALSE(Auth::signedIn());
    EXPECT_FALSE(lastArgument("window.orvoState")["live"]["signedIn"]);
    EXPECT_FALSE(http->requests().back().header("Authorization"));
}

TEST_F(HomeTest, UpgradeOpensTheFetchedAddressOrTheServicePageWithTheEmail) {
    writeConfig({{"apiBase", "https://service.test/v1"}});
    Home& home = show();
    post({{"action", "upgrade"}});
    EXPECT_EQ(desktop->calls.back(), "openURL https://service.test/upgrade");

    home.fetchUsage();
    http->respond(200, R"({"signedIn":false,"email":"ada+x@example.com"})");
    queue->runUntilIdle();
    post({{"action", "upgrade"}});
    EXPECT_EQ(desktop->calls.back(),
              "openURL https://service.test/upgrade?email=ada%2Bx@example.com");

    Auth::save("ovk_t");
    while (http->pendingRequests()) http->respond(200, "{}");
    queue->runUntilIdle();
    home.fetchBilling();
    http->respond(200, R"({"plan":"free","upgradeUrl":"https://pay.test/u"})");
    queue->runUntilIdle();
    post({{"action", "upgrade"}});
    EXPECT_EQ(desktop->calls.back(), "openURL https://pay.test/u");
}

TEST_F(HomeTest, BillingPortalOpensTheOverviewOrSaysItCannot) {
    writeConfig({{"apiBase", "https://service.test/v1"}});
    show();
    post({{"action", "manageBilling"}});  // not signed in: nothing
    EXPECT_EQ(http->pendingRequests(), 0u);

    Auth::save("ovk_t");
    while (http->pendingRequests()) http->respond(200, "{}");
    queue->runUntilIdle();
    size_t before = http->requests().size();
    post({{"action", "manageBilling"}});
    ASSERT_EQ(http->requests().size(), before + 1);
    auto request = http->requests().back();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.url, "https://service.test/v1/billing/portal");
    EXPECT_EQ(request.timeoutSeconds, 15);
    EXPECT_EQ(*request.header("Authorization"), "Bearer ovk_t");
    EXPECT_TRUE(request.header("X-Velvox-App"));
    EXPECT_TRUE(request.body.empty());
    http->respond(200, R"({"overview":"https://billing.test/portal"})");
    queue->runUntilIdle();
    EXPECT_EQ(desktop->calls.back(), "openURL https://billing.test/portal");

    for (auto answer : {std::string(R"({"overview":""})"), std::string("<html>")}) {
        post({{"action", "manageBilling"}});
        http->respond(502, answer);
        queue->runUntilIdle();
        EXPECT_EQ(
            lastArgument("window.orvoBillingNote"),
            Json::parse(R"({"note":"Could not open billing just now. Try again in a moment."})"));
        window->clearCalls();
    }
    post({{"action", "manageBilling"}});
    http->fail({TransportError::Kind::timedOut, "timed out"});
    queue->runUntilIdle();
    EXPECT_EQ(callsOf("window.orvoBillingNote"), 1u);
}

// Addresses from the service open only over https; anything else is logged,
// the upgrade falls back to the service's own page and billing says it cannot.
TEST_F(HomeTest, AddressesFromTheServiceOpenOnlyOverHttps) {
    writeConfig({{"apiBase", "https://service.test/v1"}});
    Home& home = show();
    Auth::save("ovk_t");
    while (http->pendingRequests()) http->respond(200, "{}");
    queue->runUntilIdle();
    const std::string refused =
        "home: the service sent an address that is not https; it was not opened";
    struct Case {
        std::string address;
        bool opened;
    };
    for (const auto& c : {Case{"https://pay.test/u?s=1", true}, Case{"HTTPS://pay.test/u", true},
                          Case{"http://pay.test/u", false}, Case{"javascript:alert(1)", false},
                          Case{"file:///etc/passwd", false}, Case{"https:///nohost", false},
                          Case{"ftp://pay.test/u", false}}) {
        SCOPED_TRACE(c.address);
        home.fetchBilling();
        http->respond(200, Json{{"plan", "free"}, {"upgradeUrl", c.address}}.dump());
        queue->runUntilIdle();
        desktop->calls.clear();
        post({{"action", "upgrade"}});
        EXPECT_EQ(desktop->calls,
                  std::vector<std::string>{
                      "openURL " + (c.opened ? c.address : "https://service.test/upgrade")});

        window->clearCalls();
        post({{"action", "manageBilling"}});
        http->respond(200, Json{{"overview", c.address}}.dump());
        queue->runUntilIdle();
        EXPECT_EQ(desktop->calls.size(), c.opened ? 2u : 1u);
        EXPECT_EQ(callsOf("window.orvoBillingNote"), c.opened ? 0u : 1u);
        EXPECT_EQ(logMessages().back() == refused, !c.opened);
    }
}

TEST_F(HomeTest, AskingForTheMicrophonePushesLiveOnceAnswered) {
    show();
    microphone->authorization = MicrophoneAuthorization::notDetermined;
    post({{"action", "askMic"}});
    EXPECT_EQ(microphone->pendingRequests(), 1u);
    microphone->answer(false);
    EXPECT_EQ(callsOf("window.orvoLive"), 0u);  // not on the answering thread
    queue->runUntilIdle();
    EXPECT_EQ(lastArgument("window.orvoLive")["mic"], false);
}

TEST_F(HomeTest, AnswersArrivingAfterTheControllerIsGoneAreDropped) {
    writeConfig({{"apiBase", "https://service.test/v1"}});
    show();
    post({{"action", "askMic"}});
    Home::resetForTesting();
    microphone->answer(true);
    http->respond(200, "{}");
    queue->runUntilIdle();
    EXPECT_TRUE(window->scripts().empty());
}

}  // namespace
}  // namespace velvox::testing

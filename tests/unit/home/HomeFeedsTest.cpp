// What the pages receive: the state and live objects, usage, billing and the
// application icons.
#include <algorithm>

#include "base/Paths.h"
#include "fakes/FakeKeyEventSource.h"
#include "fakes/FakePasteboard.h"
#include "home/WebText.h"
#include "records/Stats.h"
#include "services/Auth.h"
#include "unit/home/HomeFixture.h"

namespace velvox::testing {
namespace {

using Json = nlohmann::json;

std::vector<std::string> keysOf(const std::string& objectText) {
    // The order the page receives, which nlohmann::json would sort away.
    std::vector<std::string> keys;
    auto ordered = nlohmann::ordered_json::parse(objectText);
    for (const auto& [key, value] : ordered.items()) keys.push_back(key);
    return keys;
}

TEST_F(HomeTest, StateCarriesEveryMemberInOrderWithTheConfiguration) {
    writeConfig({{"theme", "light"},
                 {"hotkeyKeyCode", 96},
                 {"useOwnKey", true},
                 {"promptModeApps", {"code", "gone.app"}}});
    writeFile(Paths::contextURL(), "  I am Ada.  ");
    desktop->names["code"] = "Visual Studio Code";
    desktop->loginItem = true;
    Home& home = show();
    home.pushAll();
    auto script = window->scriptsCalling("window.orvoState").back();
    auto text = FakeWebView::argumentOf(script);
    EXPECT_EQ(keysOf(text),
              (std::vector<std::string>{"version", "theme", "systemScheme", "build", "loginItem",
                                        "context", "cfg", "defaults", "appNames", "stats", "week",
                                        "recent", "smartApps", "icons", "live", "inputDevices"}));
    auto state = Json::parse(text);
    EXPECT_TRUE(state["version"].is_string());
    EXPECT_EQ(state["theme"], "light");
    EXPECT_TRUE(state["build"].is_string());
    EXPECT_EQ(state["loginItem"], true);
    EXPECT_EQ(state["context"], "I am Ada.");
    EXPECT_EQ(state["appNames"], Json::parse(R"([{"bundle":"code","name":"Visual Studio Code"},
                              {"bundle":"gone.app","name":"gone.app"}])"));
    EXPECT_EQ(state["stats"]["empty"], true);
    EXPECT_EQ(state["stats"]["days"], 30);
    EXPECT_TRUE(state["recent"].is_array());
    EXPECT_TRUE(state["icons"].is_object());
    EXPECT_EQ(state["systemScheme"], "dark");
    EXPECT_FALSE(window->dark);  // the light theme, whatever the desktop says

    auto cfgKeys = keysOf(Json(state["cfg"]).dump());
    auto ordered = nlohmann::ordered_json::parse(text)["cfg"];
    std::vector<std::string> cfgOrder;
    for (const auto& [key, value] : ordered.items()) cfgOrder.push_back(key);
    EXPECT_EQ(cfgOrder, (std::vector<std::string>{"hotkeyKeyCode",
                                                  "boostHotkeyKeyCode",
                                                  "minHoldSeconds",
                                                  "maxRecordSeconds",
                                                  "cleanup",
                                                  "insertDirectly",
                                                  "alwaysCopyToClipboard",
                                                  "keepHistory",
                                                  "promptModeEnabled",
                                                  "useOwnKey",
                                                  "vocabulary",
                                                  "promptModeApps",
                                                  "corrections",
                                                  "inputDevice",
                                                  "autoPaste",
                                                  "cleanupProvider",
                                                  "anthropicKeySaved",
                                                  "transcribeModel",
                                                  "cleanupModel",
                                                  "systemPrompt",
                                                  "boostSystemPrompt",
                                                  "promptModePrompt",
                                                  "emailPrompt",
                                                  "messagePrompt",
                                                  "notePrompt"}));
    auto cfg = state["cfg"];
    EXPECT_EQ(cfg["hotkeyKeyCode"], 96);
    EXPECT_TRUE(cfg["hotkeyKeyCode"].is_number_integer());
    EXPECT_TRUE(cfg["minHoldSeconds"].is_number());
    EXPECT_EQ(cfg["useOwnKey"], true);
    EXPECT_TRUE(cfg["corrections"].is_object());
    EXPECT_TRUE(cfg["vocabulary"].is_array());
}

TEST_F(HomeTest, KeyNotesAppearOnlyWhenGiven) {
    Home& home = show();
    home.pushAll();
    auto plain = lastArgument("window.orvoState");
    EXPECT_FALSE(plain.contains("keyNote"));
    EXPECT_FALSE(plain.contains("keyBad"));
    EXPECT_FALSE(plain.contains("keySaved"));
    home.pushAll("Nope.", true);
    auto noted = lastArgument("window.orvoState");
    EXPECT_EQ(noted["keyNote"], "Nope.");
    EXPECT_EQ(noted["keyBad"], true);
    EXPECT_FALSE(noted.contains("keySaved"));
    home.pushAll("Saved.", false, true);
    EXPECT_EQ(lastArgument("window.orvoState")["keySaved"], true);
}

TEST_F(HomeTest, LiveObjectIsReadyOnlyWithEverythingInPlace) {
    writeConfig({{"useOwnKey", true}, {"groqApiKey", "gsk_1"}, {"hotkeyKeyCode", 96}});
    Home& home = show();
    auto live = home.liveDict();
    std::vector<std::string> order;
    for (const auto& [key, value] : live.items()) order.push_back(key);
    EXPECT_EQ(order, (std::vector<std::string>{
                         "mic", "ax", "axAvailable", "tap", "hasKey", "ownKey", "signedIn", "ready",
                         "fnDead", "status", "mainKey", "mainKeyName", "boostKeyName", "keySource",
                         "capabilities", "desktopNotes", "canRetry"}));
    EXPECT_EQ(live["desktopNotes"], Json::array());
    EXPECT_EQ(live["keySource"], "x11");
    EXPECT_EQ(live["hasKey"], true);
    EXPECT_EQ(live["ownKey"], true);
    EXPECT_EQ(live["tap"], false);
    EXPECT_EQ(live["ready"], false);  // the tap is not running
    EXPECT_EQ(live["status"], "Starting up");
    EXPECT_EQ(live["mainKey"], 96);
    EXPECT_EQ(live["mainKeyName"], "F5");
    EXPECT_TRUE(live["boostKeyName"].is_string());

    AppState::setTapRunning(true);
    EXPECT_EQ(home.liveDict()["ready"], true);
    accessibility->trusted = false;
    EXPECT_EQ(home.liveDict()["ready"], false);
    accessibility->available = false;
    live = home.liveDict();
    EXPECT_EQ(live["ready"], true) << "nothing to grant on a desktop without accessibility";
    EXPECT_EQ(live["axAvailable"], false);
    EXPECT_EQ(live["desktopNotes"],
              Json({"This desktop has no accessibility support, so Velvox pastes the text instead "
                    "of typing it into the field."}));
    // A Wayland session lists what it gives of each capability and what to
    // do about the rest, as the pieces installed for it find.
    desktop->session = DisplaySession::wayland;
    auto keys = std::make_shared<FakeKeyEventSource>();
    auto keystroke = std::make_shared<FakePasteKeystroke>();
    Platform::installKeyEventSource(keys);
    Platform::installPasteKeystroke(keystroke);
    auto works = [&] {
        std::string flags;
        auto listed = home.liveDict()["capabilities"];
        for (const auto& capability : listed) flags += capability["works"] == true ? '+' : '-';
        return flags;
    };
    struct Session {
        bool globalKeys;  // seen through XWayland: the compositor was out of reach
        std::string assigned;
        bool accessibility;
        bool nativePaste;
        std::string shortcuts, typing, paste, pill;
    };
    for (const auto& session : std::vector<Session>{
             {true, "", true, true, "-", "+", "-", "+"},
             {false, "", false, false, "-", "-", "-", "+"},
             {false, "Press Super+D", true, true, "+", "+", "+", "+"},
         }) {
        keys->globalKeys = session.globalKeys;
        keys->desktopKeys.dictation = session.assigned;
        accessibility->available = session.accessibility;
        keystroke->native = session.nativePaste;
        EXPECT_EQ(works(), session.shortcuts + session.typing + session.paste + session.pill)
            << session.assigned;
    }
    live = home.liveDict();
    EXPECT_EQ(live["keySource"], "shortcut");
    EXPECT_EQ(live["desktopNotes"][0], "Global shortcuts: from the desktop: Press Super+D");
    keys->desktopKeys.dictation = "";
    EXPECT_EQ(home.liveDict()["desktopNotes"][0],
              "Global shortcuts: this desktop offers none to apps: bind \"velvox dictate "
              "toggle\" to a key in its keyboard shortcuts");
    Platform::installPasteKeystroke(nullptr);
    keys->desktopKeys.dictation = "Press Super+D";
    EXPECT_EQ(home.liveDict()["mainKeyName"], "Press Super+D") << "the key the desktop assigned";
    Platform::installKeyEventSource(nullptr);
    accessibility->trusted = true;
    accessibility->available = true;

    // With the service, the key is the sign-in.
    writeConfig({{"useOwnKey", false}, {"groqApiKey", "gsk_1"}});
    EXPECT_EQ(home.liveDict()["hasKey"], false);
    Auth::save("ovk_1");
    EXPECT_EQ(home.liveDict()["hasKey"], true);
    EXPECT_EQ(home.liveDict()["ready"], true);
}

TEST_F(HomeTest, OwnKeyUsersGetTheOwnFormAndNoRequest) {
    writeConfig({{"useOwnKey", true}});
    Home& home = show();
    home.fetchUsage();
    EXPECT_EQ(http->pendingRequests(), 0u);
    EXPECT_EQ(window->scriptsCalling("window.orvoUsage").back(),
              "window.orvoUsage && window.orvoUsage({own:true})");
}

TEST_F(HomeTest, UsageAnswersBecomeTheUsageObjectOrUnreachable) {
    writeConfig({{"apiBase", "https://service.test/v1"}});
    Home& home = show();
    Auth::save("ovk_z");
    while (http->pendingRequests()) http->respond(200, "{}");
    queue->runUntilIdle();
    size_t sent = http->requests().size();
    window->clearCalls();

    home.fetchUsage();
    ASSERT_EQ(http->requests().size(), sent + 1);
    auto request = http->requests().back();
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.url, "https://service.test/v1/me");
    EXPECT_EQ(request.timeoutSeconds, 12);
    EXPECT_EQ(*request.header("Authorization"), "Bearer ovk_z");
    EXPECT_TRUE(request.header("X-Velvox-App"));
    // The status is not examined: the body decides.
    http->respond(401,
                  R"({"ok":true,"signedIn":false,"email":7,"plan":"pro","used":12.0,"cap":"x"})");
    EXPECT_EQ(callsOf("window.orvoUsage"), 0u);  // waits for the main queue
    queue->runUntilIdle();
    auto text = FakeWebView::argumentOf(window->scriptsCalling("window.orvoUsage").back());
    EXPECT_EQ(keysOf(text), (std::vector<std::string>{"reachable", "own", "ok", "signedIn", "email",
                                                      "plan", "used", "cap"}));
    EXPECT_EQ(Json::parse(text), Json::parse(R"({"reachable":true,"own":false,"ok":true,
        "signedIn":false,"email":"","plan":"pro","used":12,"cap":0})"));
    EXPECT_FALSE(home.fetchedEmail());
    EXPECT_EQ(http->pendingRequests(), 0u);  // not signed in: no billing

    for (auto failure : {std::string("<html>"), std::string("[1]"), std::string()}) {
        home.fetchUsage();
        http->respond(200, failure);
        queue->runUntilIdle();
        EXPECT_EQ(window->scriptsCalling("window.orvoUsage").back(),
                  "window.orvoUsage && window.orvoUsage({reachable:false})");
    }
    home.fetchUsage();
    http->fail({TransportError::Kind::cannotConnect, "no route"});
    queue->runUntilIdle();
    EXPECT_EQ(window->scriptsCalling("window.orvoUsage").back(),
              "window.orvoUsage && window.orvoUsage({reachable:false})");
}

TEST_F(HomeTest, SignedInUsageAsksForBillingWithTheSameToken) {
    writeConfig({{"apiBase", "https://service.test/v1"}});
    Home& home = show();
    Auth::save("ovk_b");
    while (http->pendingRequests()) http->respond(200, "{}");
    queue->runUntilIdle();

    home.fetchUsage();
    http->respond(200,
                  R"({"ok":true,"signedIn":true,"email":"ada@example.com","used":5,"cap":2000})");
    queue->runUntilIdle();
    EXPECT_EQ(home.fetchedEmail(), "ada@example.com");
    ASSERT_EQ(http->pendingRequests(), 1u);
    auto billing = http->requests().back();
    EXPECT_EQ(billing.method, "GET");
    EXPECT_EQ(billing.url, "https://service.test/v1/billing/summary");
    EXPECT_EQ(*billing.header("Authorization"), "Bearer ovk_b");

    // Passed on unchanged, in the service's own order.
    http->respond(200, R"({"zeta":1,"plan":"pro","upgradeUrl":"https://u.test","alpha":[2]})");
    queue->runUntilIdle();
    EXPECT_EQ(
        window->scriptsCalling("window.orvoBilling").back(),
        R"(window.orvoBilling && window.orvoBilling({"zeta":1,"plan":"pro","upgradeUrl":"https://u.test","alpha":[2]}))");
    EXPECT_EQ(home.fetchedUpgradeUrl(), "https://u.test");

    // Without a string plan the answer is ignored.
    window->clearCalls();
    home.fetchBilling();
    http->respond(200, R"({"plan":3,"upgradeUrl":"https://other.test"})");
    queue->runUntilIdle();
    EXPECT_EQ(callsOf("window.orvoBilling"), 0u);
    EXPECT_EQ(home.fetchedUpgradeUrl(), "https://u.test");

    Auth::signOut();
    while (http->pendingRequests()) http->respond(200, "{}");
    queue->runUntilIdle();
    home.fetchBilling();  // no token: nothing is asked
    EXPECT_EQ(http->pendingRequests(), 0u);
}

TEST_F(HomeTest, AccountAnswersOutside2xxAreLoggedByPathWithoutTheToken) {
    writeConfig({{"apiBase", "https://service.test/v1"}});
    Home& home = show();
    Auth::save("ovk_secret");
    while (http->pendingRequests()) http->respond(200, "{}");
    queue->runUntilIdle();

    home.fetchUsage();
    http->respond(401, R"({"signedIn":false,"echo":"ovk_secret"})");
    post({{"action", "manageBilling"}});
    http->respond(502, "down");
    queue->runUntilIdle();
    auto lines = logMessages();
    for (const auto* expected : {R"(HTTP 401 from /v1/me: {"signedIn":false,"echo":"[redacted]"})",
                                 "HTTP 502 from /v1/billing/portal: down"})
        EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end()) << expected;
    EXPECT_EQ(lastArgument("window.orvoUsage")["signedIn"], false);
}

TEST_F(HomeTest, InvalidServiceAddressesAreSkippedSilently) {
    writeConfig({{"apiBase", "not a url"}});
    Home& home = show();
    home.fetchUsage();
    EXPECT_EQ(http->pendingRequests(), 0u);
    EXPECT_EQ(callsOf("window.orvoUsage"), 0u);
}

TEST_F(HomeTest, IconsComeForRecentAndSmartAppsAndMissingOnesAreRememberedAsMissing) {
    Stats::record("hello there", 2, 1.0, "code", "Code", "plain");
    Stats::record("write this mail", 3, 1.0, "thunderbird", "Thunderbird", "email");
    Stats::record("who knows", 2, 1.0, "gone.app", "Gone", "plain");
    icons->icons["code"] = std::string("PNG-code");
    icons->icons["thunderbird"] = std::nullopt;  // installed, cannot be drawn
    Home& home = show();
    icons->calls.clear();

    home.pushAll();
    auto state = lastArgument("window.orvoState");
    EXPECT_EQ(state["recent"].size(), 3u);
    EXPECT_EQ(state["icons"], Json({{"code", WebText::pngDataURL("PNG-code")}}));
    std::vector<std::string> lookups;
    for (const auto& call : icons->calls)
        if (call.rfind("icon ", 0) == 0) lookups.push_back(call);
    // Drawn ones and uninstalled ones are not asked again; a failed drawing is.
    EXPECT_EQ(lookups, (std::vector<std::string>{"icon thunderbird 64"}));
    EXPECT_EQ(Home::icon("gone.app"), std::nullopt);
    EXPECT_EQ(Home::icon("code"), WebText::pngDataURL("PNG-code"));
}

TEST_F(HomeTest, NotesHaveTheirFixedShapes) {
    Home& home = show();
    home.authNote("a", true, false);
    EXPECT_EQ(window->scriptsCalling("window.orvoAuth").back(),
              R"(window.orvoAuth && window.orvoAuth({"note":"a","bad":true,"busy":false}))");
    home.billingNote("b");
    EXPECT_EQ(window->scriptsCalling("window.orvoBillingNote").back(),
              R"(window.orvoBillingNote && window.orvoBillingNote({"note":"b"}))");
    window->clearCalls();
    home.captureNote("c", false);
    auto scripts = window->scripts();
    ASSERT_EQ(scripts.size(), 2u);
    EXPECT_EQ(scripts[0], R"(window.orvoCapture && window.orvoCapture({"note":"c","bad":false}))");
    EXPECT_EQ(scripts[1].rfind("window.orvoState && ", 0), 0u);
}

TEST_F(HomeTest, TextThatIsNotUtf8StillReachesThePage) {
    writeFile(Paths::contextURL(), "caf\xE9 notes");
    Home& home = show();
    home.pushAll();
    auto state = lastArgument("window.orvoState");
    ASSERT_TRUE(state.is_object());
    EXPECT_EQ(state["context"], "caf\xEF\xBF\xBD notes");
}

}  // namespace
}  // namespace velvox::testing

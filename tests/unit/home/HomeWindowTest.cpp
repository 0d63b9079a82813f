// The window, its pages and what they receive, and the text pieces of the bridge.
#include <cmath>

#include "base/NotificationCenter.h"
#include "base/Strings.h"
#include "fakes/FakeKeyEventSource.h"
#include "fakes/FakePasteboard.h"
#include "home/PageScript.h"
#include "home/WebText.h"
#include "unit/home/HomeFixture.h"

namespace velvox::testing {
namespace {

const std::string kUnreachable = "window.orvoUsage && window.orvoUsage({reachable:false})";

// Presenting pushes, but nothing is evaluated until the page has loaded;
// the first page is onboarding until it is finished.
TEST_F(HomeTest, ScriptsWaitForTheEndOfLoadingThenSymbolsAndStateArrive) {
    Home::show();
    EXPECT_EQ(window->calls, (Lines{"load /app/pages/onboarding.html", "present"}));
    icons->missingSymbols["lock"] = true;
    window->finishLoading();
    auto scripts = window->scripts();
    ASSERT_EQ(scripts.size(), 2u);
    EXPECT_TRUE(scripts[0].starts_with("window.orvoSymbols") &&
                scripts[1].starts_with("window.orvoState"));
    auto symbols = lastArgument("window.orvoSymbols");
    EXPECT_EQ(symbols.size(), Home::symbolNames().size() - 1);
    EXPECT_FALSE(symbols.contains("lock"));
    size_t drawn = icons->calls.size();  // symbols are drawn once per process
    Home::shared()->load("settings");
    window->finishLoading();
    EXPECT_EQ(icons->calls.size(), drawn);
    EXPECT_EQ(callsOf("window.orvoSymbols"), 2u);
    // Onboarding until a boolean "onboarded" in an object says it is done.
    Home::resetForTesting();
    writeConfig({{"onboarded", true}});
    window->calls.clear();
    Home::show();
    EXPECT_EQ(window->calls.front(), "load /app/pages/settings.html");
    for (const char* content : {"", "{ broken", "[1]", R"({"onboarded":"yes"})"}) {
        writeFile(settingsPath("config.json"), content);
        EXPECT_FALSE(Home::onboarded()) << content;
    }
}

// Showing again reuses the page and replaces the live timer; closing stops
// the timer and the mic test and removes the insert hook.
TEST_F(HomeTest, ShowingAgainRestartsTheLiveTimerAndClosingStopsIt) {
    Home& home = show();
    Home::show();
    EXPECT_EQ(window->calls.front(), "present");
    EXPECT_EQ(callsOf("window.orvoState"), 1u);
    window->calls.clear();
    queue->advance(2.0);
    EXPECT_EQ(window->calls.size(), 2u) << "one timer, no new load";
    home.startMicTest();
    window->close();
    EXPECT_FALSE(AppState::insertIntoOwnWindow());
    EXPECT_FALSE(home.micTestRunning());
    window->calls.clear();
    queue->advance(5.0);
    EXPECT_TRUE(window->scripts().empty());
}

// Dictations are inserted into the own window only when it is shown, focused
// and loaded (what reaches the page after a dictation: the recorded pushes).
TEST_F(HomeTest, DictationsReachTheOwnWindowWhenShownFocusedAndLoaded) {
    Home& home = show();
    auto insert = AppState::insertIntoOwnWindow();
    EXPECT_TRUE(insert("hello \"there\"", "plain"));
    EXPECT_EQ(
        window->scriptsCalling("window.orvoInsert").back(),
        R"(window.orvoInsert && window.orvoInsert({"text":"hello \"there\"","mode":"plain"}))");
    window->key = false;
    EXPECT_FALSE(insert("a", "plain"));
    window->key = true;
    home.load("settings");
    EXPECT_FALSE(insert("a", "plain"));
    window->finishLoading();
    // A notification without a dictionary is ignored.
    window->calls.clear();
    NotificationCenter::defaultCenter().post(AppState::lastDictation);
    EXPECT_TRUE(window->scripts().empty());
    Home::resetForTesting();
    EXPECT_FALSE(insert("a", "plain"));  // the controller is gone
}

// Ready needs the microphone, a key (the sign-in on the service route) and
// the key watcher running; accessibility only decides between typing and
// pasting. The setup that opens Home at launch lacks only what the user must
// grant or enter.
TEST_F(HomeTest, LiveObjectIsReadyOnlyWithEverythingInPlace) {
    Home& home = show();
    const struct {
        bool mic, trusted, available, ownKey, groqKey, signedIn, tap, hasKey, ready, incomplete;
    } cases[] = {
        {true, true, true, true, true, false, true, true, true, false},
        {false, true, true, true, true, false, true, true, false, true},
        {true, false, true, true, true, false, true, true, true, false},  // switched off: pasted
        {true, true, true, true, false, true, true, false, false, true},
        {true, true, true, true, true, false, false, true, false, false},
        {true, true, true, false, true, false, true, false, false, false},  // key: the sign-in
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        microphone->authorization =
            c.mic ? MicrophoneAuthorization::authorized : MicrophoneAuthorization::denied;
        accessibility->trusted = c.trusted;
        accessibility->available = c.available;
        writeConfig({{"useOwnKey", c.ownKey}, {"groqApiKey", c.groqKey ? "gsk_1" : ""}});
        c.signedIn ? (void)Auth::save("ovk_1") : Auth::signOut();
        AppState::setTapRunning(c.tap);
        auto live = home.liveDict();
        EXPECT_EQ(live["hasKey"], c.hasKey);
        EXPECT_EQ(live["ready"], c.ready);
        EXPECT_EQ(Home::setupIncomplete(Config::load()), c.incomplete);
    }
    // On Wayland without global keys the key the desktop assigned is the one shown.
    desktop->session = DisplaySession::wayland;
    auto keys = std::make_shared<FakeKeyEventSource>();
    keys->globalKeys = false;
    keys->desktopKeys.dictation = "Press Super+D";
    Platform::installKeyEventSource(keys);
    EXPECT_EQ(home.liveDict()["keySource"], "shortcut");
    EXPECT_EQ(home.liveDict()["mainKeyName"], "Press Super+D");

    // What the session offers, as the set-up page lists it: nothing of the
    // shortcuts before the desktop answered, typing only with accessibility
    // switched on, and what a paste through the desktop's portal asks first.
    auto paste = std::make_shared<FakePasteKeystroke>();
    Platform::installPasteKeystroke(paste);
    auto offer = [&] {
        std::string all;
        Json live = home.liveDict();
        for (const auto& capability : live["capabilities"])
            all += capability["name"].get<std::string>() + (capability["works"] ? "+ " : "- ");
        return all;
    };
    keys->desktopKeys = {.pending = true};
    accessibility->trusted = true;
    EXPECT_EQ(offer(), "Typing into fields+ Paste+ Pill+ ");
    keys->desktopKeys = {.dictation = "F5"};
    accessibility->trusted = false;
    paste->noteText = "the desktop asks first";
    EXPECT_EQ(offer(), "Global shortcuts+ Typing into fields- Paste+ Pill+ ");
    EXPECT_TRUE(home.liveDict()["capabilities"][2]["detail"].get<std::string>().ends_with(
        "; the desktop asks first"));
    keys->desktopKeys = {};
    paste->native = false;
    EXPECT_EQ(offer(), "Global shortcuts- Typing into fields- Paste- Pill+ ");
}

TEST_F(HomeTest, UsageAnswersBecomeTheUsageObjectOrUnreachableAndBringBilling) {
    Home& home = showOnService("ovk_z");
    home.fetchUsage();
    ASSERT_EQ(http->pendingRequests(), 1u);
    EXPECT_EQ(lastRequest(),
              "GET https://service.test/v1/me 12\nAuthorization: Bearer ovk_z\n"
              "X-Velvox-App: *");
    http->respond(401,  // the status is not examined: the body decides
                  R"({"ok":true,"signedIn":false,"email":7,"plan":"pro","used":12.0,"cap":"x"})");
    EXPECT_EQ(callsOf("window.orvoUsage"), 0u);  // waits for the main queue
    queue->runUntilIdle();
    EXPECT_EQ(lastArgument("window.orvoUsage"),
              Json::parse(R"({"reachable":true,"own":false,"ok":true,
        "signedIn":false,"email":"","plan":"pro","used":12,"cap":0})"));
    for (const char* failure : {"<html>", "[1]", ""}) {
        home.fetchUsage();
        *failure ? http->respond(200, failure)
                 : http->fail({TransportError::Kind::cannotConnect, "no route"});
        queue->runUntilIdle();
        EXPECT_EQ(window->scriptsCalling("window.orvoUsage").back(), kUnreachable) << failure;
    }
    home.fetchUsage();  // signed in: billing is asked with the same token
    answer(200, R"({"ok":true,"signedIn":true,"email":"ada@example.com","used":5,"cap":2000})");
    EXPECT_EQ(lastRequest(),
              "GET https://service.test/v1/billing/summary 12\n"
              "Authorization: Bearer ovk_z\nX-Velvox-App: *");
    settle();
    writeConfig({{"apiBase", "not a url"}});  // skipped silently
    home.fetchUsage();
    EXPECT_EQ(http->pendingRequests() + callsOf("window.orvoUsage"), 0u);
}

// A machine that cannot reach the service answers before the page has even
// loaded: the page gets the answer once it says it is ready, and every page after.
TEST_F(HomeTest, AnAnswerBeforeThePageIsReadyReachesItWhenItIs) {
    writeConfig({{"apiBase", "https://service.test/v1"}});
    Home::show();
    http->fail({TransportError::Kind::cannotConnect, "no route"});
    queue->runUntilIdle();
    window->finishLoading();
    for (int page = 0; page < 2; ++page) {
        window->calls.clear();
        post({{"action", "ready"}});
        EXPECT_EQ(window->scriptsCalling("window.orvoUsage"), Lines{kUnreachable}) << page;
    }
}

TEST_F(HomeTest, AccountAnswersOutside2xxAreLoggedByPathWithoutTheToken) {
    Home& home = showOnService("ovk_secret");
    home.fetchUsage();
    http->respond(401, R"({"signedIn":false,"echo":"ovk_secret"})");
    post({{"action", "manageBilling"}});
    http->respond(502, "down");
    queue->runUntilIdle();
    for (const char* expected : {R"(HTTP 401 from /v1/me: {"signedIn":false,"echo":"[redacted]"})",
                                 "HTTP 502 from /v1/billing/portal: down"})
        EXPECT_GT(timesLogged(expected), 0u) << expected;
}

// The text pieces of the bridge: encodings, the addresses that may be opened
// and the guarded calls of the page functions (a page without the function
// ignores them; text never ends the script).
TEST(WebText, EncodesChecksAndGuardsWhatCrossesTheBridge) {
    EXPECT_EQ(WebText::base64(std::string("\x89PNG\xff\xfe\x00", 7)), "iVBOR//+AA==");
    EXPECT_EQ(WebText::queryValue("a+b&c=d e#f%@jos\xC3\xA9"),
              "a%2Bb%26c%3Dd%20e%23f%25@jos%C3%A9");
    for (const char* good : {"https://velvox.app/upgrade?email=a@b.c", "mailto:ada@example.com"})
        EXPECT_TRUE(WebText::isOpenableURL(good)) << good;
    for (const char* bad :
         {"", "velvox.app/upgrade", "://x", "https://a b", "1http://x", "https:", "https://x\n"})
        EXPECT_FALSE(WebText::isOpenableURL(bad)) << bad;
    nlohmann::ordered_json object = {{"b", 1}, {"a", "</script>\u2028"}};
    EXPECT_EQ(PageScript::call("window.orvoX", object),
              "window.orvoX && window.orvoX({\"b\":1,\"a\":\"</script>\u2028\"})");
    EXPECT_EQ(Strings::decimal(std::nan("")) + " " + Strings::decimal(0.5), "0 0.5");
    EXPECT_EQ(Strings::fixed(1.25, 1) + " " + Strings::fixed(-0.06, 1), "1.2 -0.1");
}

}  // namespace
}  // namespace velvox::testing

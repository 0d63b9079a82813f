// What the pages receive: the live object, usage and billing (the recorded
// pushes hold the whole state).
#include "base/Paths.h"
#include "fakes/FakeKeyEventSource.h"
#include "services/Auth.h"
#include "unit/home/HomeFixture.h"

namespace velvox::testing {
namespace {

using Json = nlohmann::json;

// Ready needs the microphone, accessibility where the desktop has it, a key
// (the sign-in on the service route) and the key watcher running.
TEST_F(HomeTest, LiveObjectIsReadyOnlyWithEverythingInPlace) {
    Home& home = show();
    struct Case {
        bool mic, trusted, available, ownKey, groqKey, signedIn, tap;
        bool hasKey, ready;
    };
    const Case cases[] = {
        {true, true, true, true, true, false, true, true, true},
        {false, true, true, true, true, false, true, true, false},
        {true, false, true, true, true, false, true, true, false},
        {true, false, false, true, true, false, true, true, true},  // nothing to grant
        {true, true, true, true, false, true, true, false, false},
        {true, true, true, true, true, false, false, true, false},
        {true, true, true, false, true, false, true, false, false},  // the key is the sign-in
        {true, true, true, false, false, true, true, true, true},
    };
    for (const auto& c : cases) {
        microphone->authorization =
            c.mic ? MicrophoneAuthorization::authorized : MicrophoneAuthorization::denied;
        accessibility->trusted = c.trusted;
        accessibility->available = c.available;
        writeConfig({{"useOwnKey", c.ownKey}, {"groqApiKey", c.groqKey ? "gsk_1" : ""}});
        c.signedIn ? (void)Auth::save("ovk_1") : Auth::signOut();
        AppState::setTapRunning(c.tap);
        auto live = home.liveDict();
        std::string row = std::to_string(&c - cases);
        EXPECT_EQ(live["hasKey"], c.hasKey) << row;
        EXPECT_EQ(live["ready"], c.ready) << row;
        EXPECT_EQ(live["axAvailable"], c.trusted || c.available) << row;
        EXPECT_EQ(live["tap"], c.tap) << row;
    }
    // On Wayland without global keys the key the desktop assigned is the one shown.
    desktop->session = DisplaySession::wayland;
    auto keys = std::make_shared<FakeKeyEventSource>();
    keys->globalKeys = false;
    keys->desktopKeys.dictation = "Press Super+D";
    Platform::installKeyEventSource(keys);
    EXPECT_EQ(home.liveDict()["keySource"], "shortcut");
    EXPECT_EQ(home.liveDict()["mainKeyName"], "Press Super+D");
    Platform::installKeyEventSource(nullptr);
}

TEST_F(HomeTest, UsageAnswersBecomeTheUsageObjectOrUnreachable) {
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
    EXPECT_FALSE(home.fetchedEmail());
    EXPECT_EQ(http->pendingRequests(), 0u);  // not signed in: no billing
    for (const char* failure : {"<html>", "[1]", ""}) {
        home.fetchUsage();
        *failure ? http->respond(200, failure)
                 : http->fail({TransportError::Kind::cannotConnect, "no route"});
        queue->runUntilIdle();
        EXPECT_EQ(window->scriptsCalling("window.orvoUsage").back(),
                  "window.orvoUsage && window.orvoUsage({reachable:false})")
            << failure;
    }
    writeConfig({{"apiBase", "not a url"}});  // skipped silently
    window->clearCalls();
    home.fetchUsage();
    EXPECT_EQ(http->pendingRequests(), 0u);
    EXPECT_EQ(callsOf("window.orvoUsage"), 0u);
}

TEST_F(HomeTest, SignedInUsageAsksForBillingWithTheSameToken) {
    Home& home = showOnService("ovk_b");
    home.fetchUsage();
    http->respond(200,
                  R"({"ok":true,"signedIn":true,"email":"ada@example.com","used":5,"cap":2000})");
    queue->runUntilIdle();
    EXPECT_EQ(home.fetchedEmail(), "ada@example.com");
    ASSERT_EQ(http->pendingRequests(), 1u);
    EXPECT_EQ(lastRequest(),
              "GET https://service.test/v1/billing/summary 12\n"
              "Authorization: Bearer ovk_b\nX-Velvox-App: *");
    // Passed on unchanged, in the service's own order.
    http->respond(200, R"({"zeta":1,"plan":"pro","upgradeUrl":"https://u.test","alpha":[2]})");
    queue->runUntilIdle();
    EXPECT_EQ(
        window->scriptsCalling("window.orvoBilling").back(),
        R"(window.orvoBilling && window.orvoBilling({"zeta":1,"plan":"pro","upgradeUrl":"https://u.test","alpha":[2]}))");
    EXPECT_EQ(home.fetchedUpgradeUrl(), "https://u.test");
}

TEST_F(HomeTest, AccountAnswersOutside2xxAreLoggedByPathWithoutTheToken) {
    Home& home = showOnService("ovk_secret");
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

}  // namespace
}  // namespace velvox::testing

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
        if (c.signedIn)
            Auth::save("ovk_1");
        else
            Auth::signOut();
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
    keys->globalKeys = false;  // the compositor gives none: the desktop's shortcut
    keys->desktopKeys.dictation = "Press Super+D";
    Platform::installKeyEventSource(keys);
    EXPECT_EQ(home.liveDict()["keySource"], "shortcut");
    EXPECT_EQ(home.liveDict()["mainKeyName"], "Press Super+D");
    Platform::installKeyEventSource(nullptr);
}

TEST_F(HomeTest, UsageAnswersBecomeTheUsageObjectOrUnreachable) {
    Home& home = showSignedIn("ovk_z");
    size_t sent = http->requests().size();
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
    EXPECT_EQ(lastArgument("window.orvoUsage"),
              Json::parse(R"({"reachable":true,"own":false,"ok":true,
        "signedIn":false,"email":"","plan":"pro","used":12,"cap":0})"));
    EXPECT_FALSE(home.fetchedEmail());
    EXPECT_EQ(http->pendingRequests(), 0u);  // not signed in: no billing

    for (const char* failure : {"<html>", "[1]", ""}) {
        home.fetchUsage();
        if (*failure)
            http->respond(200, failure);
        else
            http->fail({TransportError::Kind::cannotConnect, "no route"});
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
    Home& home = showSignedIn("ovk_b");

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
}

TEST_F(HomeTest, AccountAnswersOutside2xxAreLoggedByPathWithoutTheToken) {
    Home& home = showSignedIn("ovk_secret");

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

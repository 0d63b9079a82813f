#include <cmath>

#include "base/NotificationCenter.h"
#include "base/Strings.h"
#include "home/Home.h"
#include "home/PageMessage.h"
#include "home/PageScript.h"
#include "home/WebText.h"
#include "unit/home/HomeFixture.h"

namespace velvox::testing {
namespace {

using Json = nlohmann::json;

TEST_F(HomeTest, SetupIsIncompleteWithoutPermissionsOrWithAnEmptyOwnKey) {
    Config config;
    EXPECT_FALSE(Home::setupIncomplete(config));
    config.useOwnKey = true;
    EXPECT_TRUE(Home::setupIncomplete(config));
    config.groqApiKey = "gsk_x";
    EXPECT_FALSE(Home::setupIncomplete(config));
    accessibility->trusted = false;
    EXPECT_TRUE(Home::setupIncomplete(config));
    accessibility->trusted = true;
    microphone->authorization = MicrophoneAuthorization::denied;
    EXPECT_TRUE(Home::setupIncomplete(config));
}

// Presenting pushes, but nothing is evaluated until the page has loaded;
// the first page is onboarding until it is finished.
TEST_F(HomeTest, ScriptsWaitForTheEndOfLoadingThenSymbolsAndStateArrive) {
    Home::show();
    EXPECT_TRUE(window->scripts().empty());
    EXPECT_EQ(window->calls,
              (std::vector<std::string>{"load /app/pages/onboarding.html", "present"}));
    icons->missingSymbols["lock"] = true;
    window->finishLoading();
    auto scripts = window->scripts();
    ASSERT_EQ(scripts.size(), 2u);
    EXPECT_TRUE(scripts[0].starts_with("window.orvoSymbols") &&
                scripts[1].starts_with("window.orvoState"));
    auto symbols = lastArgument("window.orvoSymbols");
    EXPECT_EQ(symbols.size(), Home::symbolNames().size() - 1);
    EXPECT_FALSE(symbols.contains("lock"));
    EXPECT_EQ(symbols["waveform"], "data:image/png;base64," + WebText::base64("png:waveform"));
    // Symbols are drawn once per process, at 30 points on a double-density bitmap.
    EXPECT_EQ(icons->calls.front(), "symbol square.grid.2x2 60");
    size_t drawn = icons->calls.size();
    Home::shared()->load("settings");
    window->finishLoading();
    EXPECT_EQ(icons->calls.size(), drawn);
    EXPECT_EQ(callsOf("window.orvoSymbols"), 2u);
    // Onboarding until a boolean "onboarded" in an object says it is done.
    Home::resetForTesting();
    writeConfig({{"onboarded", true}});
    window->clearCalls();
    Home::show();
    EXPECT_EQ(window->calls.front(), "load /app/pages/settings.html");
    for (const char* content : {"", "{ broken", "[1]", R"({"onboarded":"yes"})"}) {
        writeFile(settingsPath("config.json"), content);
        EXPECT_FALSE(Home::onboarded()) << content;
    }
}

TEST_F(HomeTest, ScriptErrorsAndAMissingPageAreLoggedAsErrors) {
    Home& home = show();
    window->scriptError = "ReferenceError: x is not defined";
    home.run("x()");
    EXPECT_EQ(logMessages().back(), "settings page: ReferenceError: x is not defined");
    EXPECT_EQ(systemLog->lines().size(), 1u);
    window->scriptError.reset();
    window->clearCalls();
    desktop->resources.erase("settings.html");
    home.load("settings");
    EXPECT_FALSE(home.loaded());
    home.run("1");
    EXPECT_TRUE(window->scripts().empty());
    EXPECT_EQ(systemLog->lines().size(), 2u);
}

// Showing again reuses the page and replaces the live timer; closing stops
// the timer and the mic test and removes the insert hook.
TEST_F(HomeTest, ShowingAgainRestartsTheLiveTimerAndClosingStopsIt) {
    Home& home = show();
    queue->advance(3.0);
    EXPECT_EQ(callsOf("window.orvoLive"), 3u);
    window->clearCalls();
    Home::show();
    EXPECT_EQ(window->calls.front(), "present");
    EXPECT_EQ(callsOf("window.orvoState"), 1u);
    window->clearCalls();
    queue->advance(2.0);
    EXPECT_EQ(window->calls.size(), 2u) << "one timer, no new load";
    home.startMicTest();
    window->close();
    EXPECT_FALSE(AppState::insertIntoOwnWindow());
    EXPECT_FALSE(home.micTestRunning());
    window->clearCalls();
    queue->advance(5.0);
    EXPECT_TRUE(window->scripts().empty());
}

TEST_F(HomeTest, OwnWindowInsertionOnlyWhenShownFocusedAndLoaded) {
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
    EXPECT_TRUE(insert("a", "email"));
    Home::resetForTesting();
    EXPECT_FALSE(insert("a", "plain"));  // the controller is gone
}

TEST_F(HomeTest, DictationsAndStatusChangesReachThePage) {
    show();
    AppState::setStatus("Listening");
    queue->runUntilIdle();
    EXPECT_EQ(lastArgument("window.orvoLive")["status"], "Listening");
    AppState::dictated("one two three", 1.5, "email");
    queue->runUntilIdle();
    EXPECT_EQ(lastArgument("window.orvoDictated"),
              Json::parse(
                  R"({"text":"one two three","words":3,"seconds":1.5,"wpm":120,"mode":"email"})"));
    // A notification without a dictionary is ignored.
    window->clearCalls();
    NotificationCenter::defaultCenter().post(AppState::lastDictation);
    EXPECT_TRUE(window->scripts().empty());
}

// The text pieces of the bridge: encodings, the addresses that may be opened,
// the messages the pages post, and the guarded calls of the page functions
// (a page without the function ignores them; text never ends the script).
TEST(WebText, EncodesChecksAndGuardsWhatCrossesTheBridge) {
    EXPECT_EQ(WebText::base64(std::string("\x89PNG\xff\xfe\x00", 7)), "iVBOR//+AA==");
    EXPECT_EQ(WebText::base64("fo"), "Zm8=");
    EXPECT_EQ(WebText::queryValue("a+b&c=d e#f%@jos\xC3\xA9"),
              "a%2Bb%26c%3Dd%20e%23f%25@jos%C3%A9");
    for (const char* good : {"https://velvox.app/upgrade?email=a@b.c", "mailto:ada@example.com"})
        EXPECT_TRUE(WebText::isOpenableURL(good)) << good;
    for (const char* bad :
         {"", "velvox.app/upgrade", "://x", "https://a b", "1http://x", "https:", "https://x\n"})
        EXPECT_FALSE(WebText::isOpenableURL(bad)) << bad;
    for (const char* body : {"[]", "{\"action\":null}", "not json"})
        EXPECT_FALSE(PageMessage::parse(body)) << body;
    auto message = PageMessage::parse(
        R"({"action":"x","text":5,"list":["a","b"],"map":{"k":"v"},"key":"hotkeyKeyCode"})");
    ASSERT_TRUE(message);
    EXPECT_EQ(message->action() + message->text() + *message->string("key"), "xhotkeyKeyCode");
    EXPECT_EQ(message->list(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(message->map(), (std::map<std::string, std::string>{{"k", "v"}}));
    EXPECT_EQ(PageScript::callRaw("window.orvoUsage", std::string_view("{own:true}")),
              "window.orvoUsage && window.orvoUsage({own:true})");
    nlohmann::ordered_json object = {{"b", 1}, {"a", "</script>\u2028"}};
    EXPECT_EQ(PageScript::call("window.orvoX", object),
              "window.orvoX && window.orvoX({\"b\":1,\"a\":\"</script>\u2028\"})");
    EXPECT_EQ(Strings::decimal(std::nan("")) + " " + Strings::decimal(0.5), "0 0.5");
    EXPECT_EQ(Strings::fixed(1.25, 1) + " " + Strings::fixed(-0.06, 1), "1.2 -0.1");
}

}  // namespace
}  // namespace velvox::testing

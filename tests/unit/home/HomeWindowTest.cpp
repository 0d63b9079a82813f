// The window, page loading, the script runner and the hooks into the rest of
// the application.
#include "base/NotificationCenter.h"
#include "home/Home.h"
#include "home/WebText.h"
#include "unit/home/HomeFixture.h"

namespace velvox::testing {
namespace {

using Json = nlohmann::json;

// Only a boolean "onboarded" of an object counts; until then the window
// opens onboarding.
TEST_F(HomeTest, FirstShowOpensOnboardingUntilItIsFinishedThenSettings) {
    Home::show();
    EXPECT_EQ(window->calls.front(), "load /app/pages/onboarding.html");
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

TEST_F(HomeTest, ScriptsWaitForTheEndOfLoadingThenSymbolsAndStateArrive) {
    Home::show();
    // Presenting pushes, but the page is still loading: nothing is evaluated.
    EXPECT_TRUE(window->scripts().empty());
    EXPECT_EQ(window->calls,
              (std::vector<std::string>{"load /app/pages/onboarding.html", "present"}));

    icons->missingSymbols["lock"] = true;
    window->finishLoading();
    auto scripts = window->scripts();
    ASSERT_EQ(scripts.size(), 2u);
    EXPECT_EQ(scripts[0].rfind("window.orvoSymbols && window.orvoSymbols({", 0), 0u);
    EXPECT_EQ(scripts[1].rfind("window.orvoState && window.orvoState({", 0), 0u);

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
}

TEST_F(HomeTest, ScriptErrorsAndAMissingPageAreLoggedAsErrors) {
    Home& home = show();
    window->scriptError = "ReferenceError: x is not defined";
    home.run("x()");
    EXPECT_EQ(logMessages().back(), "settings page: ReferenceError: x is not defined");
    EXPECT_EQ(systemLog->lines().size(), 1u);
    window->scriptError.reset();
    window->clearCalls();

    EXPECT_TRUE(home.loaded());
    desktop->resources.erase("settings.html");
    home.load("settings");
    EXPECT_FALSE(home.loaded());
    home.run("1");
    EXPECT_TRUE(window->scripts().empty());
    auto lines = logMessages();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "settings.html missing from the app bundle"),
              lines.end());
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
    auto info = lastArgument("window.orvoDictated");
    EXPECT_EQ(info["text"], "one two three");
    EXPECT_EQ(info["words"], 3);
    EXPECT_EQ(info["wpm"], 120);
    EXPECT_EQ(info["mode"], "email");
    // A notification without a dictionary is ignored.
    window->clearCalls();
    NotificationCenter::defaultCenter().post(AppState::lastDictation);
    EXPECT_TRUE(window->scripts().empty());
}

}  // namespace
}  // namespace velvox::testing

// The contract between the program and the pages. The pushes the page tests
// load (tests/pages/pushes.json) are the ones this program builds from a
// representative state, and both sides use the one list of actions and page
// functions in resources/page-protocol.json. Refresh the pushes file after a
// deliberate change with VELVOX_UPDATE_PUSHES=1.
#include <filesystem>
#include <regex>
#include <set>

#include "base/Paths.h"
#include "home/PageFunctions.h"
#include "records/Stats.h"
#include "unit/home/HomeFixture.h"

namespace velvox::testing {
namespace {

using Ordered = nlohmann::ordered_json;

std::filesystem::path sourceFolder() {
    const char* data = std::getenv("VELVOX_TEST_DATA");
    return std::filesystem::path(data ? data : "tests/data").parent_path().parent_path();
}

class PageContractTest : public HomeTest {
  protected:
    // The local calendar of the stats is the TZ variable's; the page tests run in UTC too.
    void SetUp() override {
        if (const char* zone = std::getenv("TZ")) savedZone = zone;
        setZone("UTC");
        HomeTest::SetUp();
    }
    void TearDown() override {
        HomeTest::TearDown();
        setZone(savedZone);
    }
    static void setZone(const std::optional<std::string>& zone) {
        setEnv("TZ", zone);
        ::tzset();
    }
    // Posts `action` (unless null), then keeps the newest call of `function` as the push `name`.
    void keep(const std::string& name, std::string_view function, const Json& action = {}) {
        if (!action.is_null()) post(action);
        auto scripts = window->scriptsCalling(std::string(function));
        ASSERT_FALSE(scripts.empty()) << name;
        std::string argument = FakeWebView::argumentOf(scripts.back());
        Ordered parsed = Ordered::parse(argument, nullptr, false);
        // What changes with every build is not part of the contract.
        if (function == PageFunction::state) {
            parsed["version"] = "1.0";
            parsed["build"] = "01 Mar 12:00:00";
        }
        pushes[name] = Ordered::array(
            {std::string(function.substr(7)), parsed.is_discarded() ? Ordered(argument) : parsed});
        window->calls.clear();
    }
    // Before anything is granted or running, or everything in place.
    void setUp(bool fresh) {
        microphone->authorization =
            fresh ? MicrophoneAuthorization::notDetermined : MicrophoneAuthorization::authorized;
        accessibility->trusted = !fresh;
        AppState::setTapRunning(!fresh);
        AppState::setStatus(fresh ? "Starting up" : "Ready");
    }
    Ordered pushes = Ordered::object();
    std::optional<std::string> savedZone;
};

TEST_F(PageContractTest, ThePagesFixtureIsWhatTheProgramPushes) {
    const int64_t now =
        std::chrono::duration_cast<std::chrono::seconds>(queue->now().time_since_epoch()).count();
    // Four dictations in the last two days: ago, application, mode, text.
    const std::tuple<int64_t, const char*, const char*, const char*, const char*> recent[] = {
        {90400, "", "Notes", "note", "Ideas for the retreat: hiking, a cooking class."},
        {86400, "com.slack.Slack", "Slack", "plain", "On my way, five minutes."},
        {3600, "com.anthropic.claudefordesktop", "Claude", "prompt",
         "Rewrite the onboarding copy."},
        {300, "org.gnome.Evolution", "Mail", "email", "Hi Sam, could we go over it tomorrow?"}};
    for (const auto& [ago, bundle, app, mode, text] : recent) {
        queue->setNow(WallTime(std::chrono::seconds(now - ago)));
        int words = static_cast<int>(std::string(text).size() / 5);
        Stats::record(text, words, words / 2.5, bundle, app, mode);
    }
    queue->setNow(WallTime(std::chrono::seconds(now)));
    writeConfig(Json::parse(R"({"apiBase": "https://service.test/v1",
        "hotkeyKeyCode": 63, "boostHotkeyKeyCode": 61, "maxRecordSeconds": 120,
        "alwaysCopyToClipboard": false, "vocabulary": ["Velvox", "Supabase", "TypeScript"],
        "corrections": {"super base": "Supabase", "type script": "TypeScript"},
        "promptModeApps": ["com.anthropic.claudefordesktop", "com.openai.chat"],
        "emailPrompt": "My own e-mail prompt."})"));
    writeFile(Paths::contextURL(), "I am Alex, I run a small studio.\nClients: Acme, Globex.");
    desktop->names["com.anthropic.claudefordesktop"] = "Claude";
    for (const char* bundle : {"org.gnome.Evolution", "com.anthropic.claudefordesktop"})
        icons->icons[bundle] = std::string("PNG ") + bundle;
    audio->devices = {{"alsa_input.pci-0000_00_1f.3.analog-stereo", "Built-in Audio Analog Stereo"},
                      {"alsa_input.usb-Blue_Yeti-00.analog-stereo", "Yeti Stereo Microphone"}};
    setUp(false);
    Auth::save("ovk_fixture");
    Home::show();
    window->finishLoading();
    keep("symbols", PageFunction::symbols);
    settle();
    keep("state", PageFunction::state, {{"action", "ready"}});
    Home& home = *Home::shared();
    home.pushLive();
    keep("live", PageFunction::live);
    home.fetchUsage();
    answer(200, R"({"ok":true,"signedIn":true,"email":"alex@example.com","plan":"free",)"
                R"("used":1800,"cap":2000})");
    keep("usage.signedIn", PageFunction::usage);
    answer(200, R"({"plan":"pro","status":"active","renewsAt":1774000000,)"
                R"("upgradeUrl":"https://pay.example/upgrade"})");
    keep("billing", PageFunction::billing);
    post({{"action", "manageBilling"}});
    answer(502, "down");
    keep("billingNote", PageFunction::billingNote);
    keep("auth.badAddress", PageFunction::auth, {{"action", "signIn"}, {"text", " a@bc "}});
    keep("auth.sending", PageFunction::auth, {{"action", "signIn"}, {"text", "alex@example.com"}});
    answer(200, "{}");
    keep("auth.linkSent", PageFunction::auth);
    keep("auth.inBrowser", PageFunction::auth, {{"action", "signInGoogle"}});
    keep("capture.clash", PageFunction::capture,
         {{"action", "set"}, {"key", "boostHotkeyKeyCode"}, {"number", 63}});
    keep("capture.clear", PageFunction::capture, {{"action", "cancelCapture"}});
    Auth::signOut();
    settle();
    home.fetchUsage();
    answer(200, R"({"ok":true,"signedIn":false,"email":"","plan":"free","used":0,"cap":0})");
    keep("usage.signedOut", PageFunction::usage);
    home.fetchUsage();
    answer(503, "<html>");
    keep("usage.unreachable", PageFunction::usage);
    setUp(true);
    queue->runUntilIdle();  // the changed status and key watcher reach the page
    keep("live.fresh", PageFunction::live);
    setUp(false);
    keep("usage.own", PageFunction::usage,
         {{"action", "set"}, {"key", "useOwnKey"}, {"bool", true}});
    post({{"action", "setKey"}, {"text", " \n\t"}});
    keep("state.keyMissing", PageFunction::state, {{"action", "setKey"}, {"text", 42}});
    post({{"action", "setKey"}, {"text", "gsk_fixture"}});
    answer(200, "{}");
    keep("state.keySaved", PageFunction::state);
    post({{"action", "set"}, {"key", "cleanupProvider"}, {"text", "anthropic"}});
    post({{"action", "setAnthropicKey"}, {"text", "sk-ant-fixture"}});
    answer(401, "{}");
    keep("state.anthropicKeyRejected", PageFunction::state);
    AppState::dictated("Hi Sam, could we go over it tomorrow?", 4.0, "email");
    queue->runUntilIdle();
    keep("dictated", PageFunction::dictated);
    Ordered fixture = {{"about",
                        "Pushes the program builds, written by "
                        "tests/unit/home/PageContractTest.cpp for the page tests."},
                       {"now", now},
                       {"timeZone", "UTC"},
                       {"pushes", pushes}};
    std::string expected = fixture.dump(1) + "\n";
    auto path = sourceFolder() / "tests" / "pages" / "pushes.json";
    if (std::getenv("VELVOX_UPDATE_PUSHES")) writeFile(path, expected);
    EXPECT_TRUE(readFile(path) == expected)
        << path << " differs from what the program pushes; if the change is meant, "
        << "run this test with VELVOX_UPDATE_PUSHES=1 and adapt the page tests.";
}

std::set<std::string> matches(const std::string& text, const std::string& pattern) {
    std::set<std::string> found;
    std::regex expression(pattern);
    for (std::sregex_iterator it(text.begin(), text.end(), expression), end; it != end; ++it)
        found.insert((*it)[1]);
    return found;
}

// The page tests check each message they see posted against the protocol's
// actions; here the protocol is held against what the program handles, and
// every action a page script can post against the protocol.
TEST_F(PageContractTest, EveryActionAPageCanPostIsOneTheProgramHandles) {
    auto resources = sourceFolder() / "resources";
    auto protocol = Json::parse(readFile(resources / "page-protocol.json"), nullptr, false);
    ASSERT_TRUE(protocol.is_object()) << resources;
    auto actions = protocol["actions"].get<std::set<std::string>>();
    auto functions = protocol["functions"].get<std::set<std::string>>();
    EXPECT_EQ(Home::actionNames(), std::vector<std::string>(actions.begin(), actions.end()));
    std::set<std::string> called;
    for (auto name : PageFunction::all) called.insert(std::string(name.substr(7)));
    EXPECT_EQ(called, functions);
    std::string pages;
    for (const auto& entry : std::filesystem::directory_iterator(resources)) {
        auto extension = entry.path().extension();
        if (extension == ".js" || extension == ".html") pages += readFile(entry.path()) + "\n";
    }
    for (const char* pattern : {R"re(post\('([A-Za-z]+)')re", R"re(data-action="([A-Za-z]+)")re",
                                R"re(\['[^']*', '([A-Za-z]+)', (?:true|false)\])re"})
        for (const auto& name : matches(pages, pattern)) EXPECT_TRUE(actions.count(name)) << name;
    for (const auto& name : actions)
        EXPECT_TRUE(pages.find("'" + name + "'") != pages.npos ||
                    pages.find('"' + name + '"') != pages.npos)
            << name << " is not used by any page";
    EXPECT_EQ(matches(pages, R"re(window\.(orvo[A-Za-z]+) = function)re"), functions);
}

}  // namespace
}  // namespace velvox::testing

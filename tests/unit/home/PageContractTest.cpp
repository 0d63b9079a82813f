// The contract between the program and the pages. The pushes the page tests
// load (tests/pages/pushes.json) are the ones this program builds from a
// representative state, and both sides use the one list of actions and page
// functions in resources/page-protocol.json. Refresh the pushes file after a
// deliberate change with VELVOX_UPDATE_PUSHES=1.
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "base/Paths.h"
#include "fakes/FakeKeyEventSource.h"
#include "home/PageFunctions.h"
#include "records/Stats.h"
#include "services/Auth.h"
#include "unit/home/HomeFixture.h"

namespace velvox::testing {
namespace {

using Ordered = nlohmann::ordered_json;

std::filesystem::path sourceFolder() {
    const char* data = std::getenv("VELVOX_TEST_DATA");
    return std::filesystem::path(data ? data : "tests/data").parent_path().parent_path();
}

std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The local calendar of the stats is the TZ variable's; the page tests run in UTC too.
class UtcZone {
  public:
    UtcZone() {
        if (const char* zone = std::getenv("TZ")) saved_ = zone;
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    ~UtcZone() {
        if (saved_)
            ::setenv("TZ", saved_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

  private:
    std::optional<std::string> saved_;
};

WallTime moment(int64_t unixSeconds) {
    return WallTime(std::chrono::seconds(unixSeconds));
}

class PageContractTest : public HomeTest {
  protected:
    // Takes the newest call of the page function as the push called `name`.
    void keep(const std::string& name, std::string_view function) {
        auto scripts = window->scriptsCalling(std::string(function));
        ASSERT_FALSE(scripts.empty()) << name;
        std::string argument = FakeWebView::argumentOf(scripts.back());
        Ordered parsed = Ordered::parse(argument, nullptr, false);
        pushes[name] = Ordered::array(
            {std::string(function.substr(7)), parsed.is_discarded() ? Ordered(argument) : parsed});
        window->clearCalls();
    }
    void answer(int status, const std::string& body) {
        ASSERT_EQ(http->pendingRequests(), 1u);
        http->respond(status, body);
        queue->runUntilIdle();
    }
    // Answers what is still asked, and forgets what that pushed.
    void settle() {
        while (http->pendingRequests() > 0) http->respond(200, "{}");
        queue->runUntilIdle();
        window->clearCalls();
    }
    Ordered pushes = Ordered::object();
};

TEST_F(PageContractTest, ThePagesFixtureIsWhatTheProgramPushes) {
    UtcZone zone;
    const int64_t now =
        std::chrono::duration_cast<std::chrono::seconds>(queue->now().time_since_epoch()).count();
    const int64_t day = 86400;
    // A month of dictations in four applications, the newest four in the last two days.
    const char* apps[][3] = {{"org.gnome.Evolution", "Mail", "email"},
                             {"com.slack.Slack", "Slack", "message"},
                             {"com.anthropic.claudefordesktop", "Claude", "prompt"},
                             {"code", "Code", "plain"}};
    for (int i = 0; i < 24; ++i) {
        const auto* app = apps[i % 4];
        int spoken = 40 + (i * 13) % 60;
        std::string text;
        for (int word = 0; word < spoken; ++word) text += "word ";
        queue->setNow(moment(now - (i + 3) * day + (i % 9) * 3600));
        Stats::record(text, spoken, spoken / 2.5, app[0], app[1], i % 3 == 0 ? "plain" : app[2]);
    }
    struct Recent {
        int64_t ago;
        const char *bundle, *app, *mode, *text;
        int spoken;
        double seconds;
    };
    for (const auto& r :
         {Recent{day + 4000, "", "Notes", "note",
                 "Ideas for the retreat: hiking, a cooking class, no laptops.", 20, 8},
          Recent{day, "com.slack.Slack", "Slack", "plain", "On my way, five minutes.", 6, 2},
          Recent{3600, "com.anthropic.claudefordesktop", "Claude", "prompt",
                 "Rewrite the onboarding copy so each step fits on one line.", 31, 12},
          Recent{300, "org.gnome.Evolution", "Mail", "email",
                 "Hi Sam, thanks for the draft. Could we go over it tomorrow?", 54, 20}}) {
        queue->setNow(moment(now - r.ago));
        Stats::record(r.text, r.spoken, r.seconds, r.bundle, r.app, r.mode);
    }
    queue->setNow(moment(now));

    writeConfig({{"apiBase", "https://service.test/v1"},
                 {"hotkeyKeyCode", 63},
                 {"boostHotkeyKeyCode", 61},
                 {"maxRecordSeconds", 120},
                 {"alwaysCopyToClipboard", false},
                 {"vocabulary", {"Velvox", "Supabase", "TypeScript"}},
                 {"corrections", {{"super base", "Supabase"}, {"type script", "TypeScript"}}},
                 {"promptModeApps", {"com.anthropic.claudefordesktop", "com.openai.chat"}},
                 {"emailPrompt", "My own e-mail prompt."}});
    writeFile(Paths::contextURL(), "I am Alex, I run a small studio.\nClients: Acme, Globex.");
    desktop->names["com.anthropic.claudefordesktop"] = "Claude";
    for (const char* bundle : {"org.gnome.Evolution", "com.anthropic.claudefordesktop"})
        icons->icons[bundle] = std::string("PNG ") + bundle;
    audio->devices = {{"alsa_input.pci-0000_00_1f.3.analog-stereo", "Built-in Audio Analog Stereo"},
                      {"alsa_input.usb-Blue_Yeti-00.analog-stereo", "Yeti Stereo Microphone"}};
    AppState::setTapRunning(true);
    AppState::setStatus("Ready");
    Auth::save("ovk_fixture");

    Home::show();
    window->finishLoading();
    keep("symbols", PageFunction::symbols);
    settle();
    Home& home = *Home::shared();
    home.pushAll();
    keep("state", PageFunction::state);
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

    post({{"action", "signIn"}, {"text", " a@bc "}});
    keep("auth.badAddress", PageFunction::auth);
    post({{"action", "signIn"}, {"text", "alex@example.com"}});
    keep("auth.sending", PageFunction::auth);
    answer(200, "{}");
    keep("auth.linkSent", PageFunction::auth);

    post({{"action", "set"}, {"key", "boostHotkeyKeyCode"}, {"number", 63}});
    keep("capture.clash", PageFunction::capture);
    post({{"action", "cancelCapture"}});
    keep("capture.clear", PageFunction::capture);

    post({{"action", "micTest"}});
    audio->lastTake()->averagePower = -6.0f;
    queue->advance(0.05);
    keep("level", PageFunction::level);
    post({{"action", "micTestStop"}});
    AppState::dictated("Hello there", 1.5, "email");
    queue->runUntilIdle();
    keep("dictated", PageFunction::dictated);
    AppState::insertIntoOwnWindow()("Hello there", "plain");
    keep("insert", PageFunction::insert);

    Auth::signOut();
    settle();
    home.fetchUsage();
    answer(200, R"({"ok":true,"signedIn":false,"email":"","plan":"free","used":0,"cap":0})");
    keep("usage.signedOut", PageFunction::usage);
    home.fetchUsage();
    answer(503, "<html>");
    keep("usage.unreachable", PageFunction::usage);

    // Before anything is granted or running.
    microphone->authorization = MicrophoneAuthorization::notDetermined;
    accessibility->trusted = false;
    AppState::setTapRunning(false);
    AppState::setStatus("Starting up");
    home.pushLive();
    keep("live.fresh", PageFunction::live);
    // A Wayland desktop that gives no global keys and has no accessibility.
    desktop->session = DisplaySession::wayland;
    accessibility->available = false;
    auto keys = std::make_shared<FakeKeyEventSource>();
    keys->globalKeys = false;
    Platform::installKeyEventSource(keys);
    home.pushLive();
    keep("live.wayland", PageFunction::live);
    Platform::installKeyEventSource(nullptr);
    desktop->session = DisplaySession::x11;
    accessibility->available = accessibility->trusted = true;
    microphone->authorization = MicrophoneAuthorization::authorized;
    AppState::setTapRunning(true);
    AppState::setStatus("Ready");

    post({{"action", "set"}, {"key", "useOwnKey"}, {"bool", true}});
    keep("usage.own", PageFunction::usage);
    EXPECT_EQ(http->pendingRequests(), 0u);  // the own key needs no account
    post({{"action", "setKey"}, {"text", " \n\t"}});
    post({{"action", "setKey"}, {"text", 42}});
    EXPECT_EQ(http->pendingRequests(), 0u);  // nothing to check
    keep("state.keyMissing", PageFunction::state);
    post({{"action", "setKey"}, {"text", "gsk_fixture"}});
    answer(200, "{}");
    keep("state.keySaved", PageFunction::state);
    post({{"action", "set"}, {"key", "cleanupProvider"}, {"text", "anthropic"}});
    post({{"action", "setAnthropicKey"}, {"text", "sk-ant-fixture"}});
    answer(401, "{}");
    keep("state.anthropicKeyRejected", PageFunction::state);

    // What changes with every build is not part of the contract.
    for (auto& [name, push] : pushes.items()) {
        if (push[0] != "orvoState") continue;
        push[1]["version"] = "1.0";
        push[1]["build"] = "01 Mar 12:00:00";
    }
    Ordered fixture = {
        {"about",
         "Pushes the program builds, written by tests/unit/home/PageContractTest.cpp "
         "for the page tests. Do not edit by hand."},
        {"now", now},
        {"timeZone", "UTC"},
        {"pushes", pushes}};
    std::string expected = fixture.dump(1) + "\n";
    auto path = sourceFolder() / "tests" / "pages" / "pushes.json";
    if (std::getenv("VELVOX_UPDATE_PUSHES")) {
        std::ofstream(path) << expected;
    }
    EXPECT_TRUE(fileText(path) == expected)
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
TEST(PageProtocol, EveryActionAPageCanPostIsOneTheProgramHandles) {
    auto resources = sourceFolder() / "resources";
    auto protocol =
        nlohmann::json::parse(fileText(resources / "page-protocol.json"), nullptr, false);
    ASSERT_TRUE(protocol.is_object()) << resources;
    auto actions = protocol["actions"].get<std::set<std::string>>();
    auto functions = protocol["functions"].get<std::set<std::string>>();
    auto handled = Home::actionNames();
    EXPECT_EQ(std::set<std::string>(handled.begin(), handled.end()), actions);
    std::set<std::string> called;
    for (auto name : PageFunction::all) called.insert(std::string(name.substr(7)));
    EXPECT_EQ(called, functions);

    std::string pages;
    for (const auto& entry : std::filesystem::directory_iterator(resources)) {
        auto extension = entry.path().extension();
        if (extension == ".js" || extension == ".html") pages += fileText(entry.path()) + "\n";
    }
    for (const char* pattern : {R"re(post\('([A-Za-z]+)')re", R"re(data-action="([A-Za-z]+)")re",
                                R"re(\['[^']*', '([A-Za-z]+)', (?:true|false)\])re"}) {
        for (const auto& name : matches(pages, pattern)) EXPECT_TRUE(actions.count(name)) << name;
    }
    for (const auto& name : actions) {
        bool used = pages.find("'" + name + "'") != std::string::npos ||
                    pages.find('"' + name + '"') != std::string::npos;
        EXPECT_TRUE(used) << name << " is not used by any page";
    }
    EXPECT_EQ(matches(pages, R"re(window\.(orvo[A-Za-z]+) = function)re"), functions);
}

}  // namespace
}  // namespace velvox::testing

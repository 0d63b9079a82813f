#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "base/Brand.h"
#include "config/Config.h"
#include "fakes/FakeWorkspace.h"
#include "support/TempHome.h"
#include "text/Corrections.h"
#include "text/Smart.h"
#include "text/Tidy.h"

namespace velvox {
namespace {

TEST(Tidy, PunctuationSpacingBlanksAndEnds) {
    const std::pair<const char*, const char*> cases[] = {
        // clang-format off
        // The missing space after a mark is added before a capital letter only.
        {"hello.World", "hello. World"}, {"what?Yes!No", "what? Yes! No"}, {"one,two", "one, two"},
        {"a;b", "a; b"}, {"note:this", "note: this"}, {"5,apples", "5, apples"},
        // Abbreviations, numbers, times and emoticons are left alone.
        {"U.S.A", "U.S.A"}, {"e.g.X", "e.g.X"}, {"v1.2 and 3.5", "v1.2 and 3.5"},
        {"at 10:30", "at 10:30"}, {"1,000,000", "1,000,000"}, {"done.next", "done.next"},
        {"Ab.Cd", "Ab.Cd"}, {"ok :D", "ok :D"},
        // Spaces before a mark go, unless the mark starts an emoticon.
        {"Really ?", "Really?"}, {"yes , no", "yes, no"}, {"end   .", "end."},
        {"nice ;)", "nice ;)"}, {"wink ;-)", "wink ;-)"}, {"sad ;(", "sad ;("},
        // The steps run in order: a space removed last is not added back.
        {"wait ,what", "wait,what"}, {"word .Next", "word.Next"},
        // Runs of blanks after text collapse; the ends are trimmed.
        {"so  many   spaces", "so many spaces"}, {"tab\t\tbed", "tab bed"}, {"  padded  ", "padded"},
        {"\n\t line one  \n  line two \n", "line one \n  line two"}, {"", ""}, {" \u00a0 ", ""},
        // Non-ASCII text passes through.
        {"Grüße.Tschüss", "Grüße.Tschüss"}, {"ça va ?", "ça va?"},
        {"emoji 👍🏽 ,yes", "emoji 👍🏽,yes"}, {"well ,ok", "well ,ok"},
        // clang-format on
    };
    for (const auto& [input, expected] : cases) EXPECT_EQ(Tidy::text(input), expected) << input;
}

using Rules = std::map<std::string, std::string>;
using CorrectionsTest = testing::TempHomeTest;

TEST_F(CorrectionsTest, RulesApplyLongestFirstToWholeWordsLiterally) {
    // Written with combining accents, "ééééé ab" is 8 characters but 18 bytes.
    const std::string accents = "e\u0301e\u0301e\u0301e\u0301e\u0301";
    const struct {
        const char* name;
        Rules rules;
        std::string input, expected;
    } cases[] = {
        // clang-format off
        {"longer phrase first", {{"for the coaching", "for the caching"},
          {"for the coaching system", "for the caching system"}},
         "we use it for the coaching system", "we use it for the caching system"},
        {"length in user-perceived characters", {{accents + " ab", "X"}, {"ab cdefghi", "Y"}},
         accents + " ab cdefghi", accents + " Y"},
        {"later rules see earlier results",
         {{"super base", "post gres"}, {"post gres", "Postgres"}}, "super base", "Postgres"},
        {"equal lengths in a fixed order", {{"x cd", "2"}, {"ab x", "1"}}, "ab x cd", "1 cd"},
        {"whole words only", {{"sq lite", "SQLite"}, {"capacita", "Capacitor"}},
         "a sq liter of sq lite, xsq lite, capacitance, capacita.",
         "a sq liter of SQLite, xsq lite, capacitance, Capacitor."},
        {"case ignored, replacement as written", {{"reddit for the cache", "Redis for the cache"}},
         "REDDIT FOR THE CACHE and reddit for the cache",
         "Redis for the cache and Redis for the cache"},
        {"metacharacters are literal",
         {{"c++", "C++"}, {"(x)", "X"}, {"\\d", "digit"}, {"a.b", "AB"}},
         "axb 7 a.b c++x x\\d y a(x)b", "axb 7 AB C++x xdigit y aXb"},
        {"a phrase ending in a mark needs a word character after it", {{"c++", "C++"}},
         "I like c++ a lot", "I like c++ a lot"},
        {"replacement is never a template", {{"money", "$1"}, {"slash", "a\\b"}, {"group", "$0$"}},
         "money slash group", "$1 a\\b $0$"},
        {"an empty phrase matches nothing", {{"", "X"}}, "one two", "one two"},
        // clang-format on
    };
    for (const auto& c : cases)
        EXPECT_EQ(Corrections::apply(c.input, c.rules), c.expected) << c.name;
}

TEST_F(CorrectionsTest, OneLogLineNamesTheRulesThatMatched) {
    Corrections::apply("nothing to see", {{"tail wind", "Tailwind"}});
    Corrections::apply("super base for the coaching system",
                       {{"super base", "post gres"},
                        {"post gres", "Postgres"},
                        {"tail wind", "Tailwind"},
                        {"for the coaching system", "for the caching system"}});
    EXPECT_EQ(logMessages(),
              std::vector<std::string>{"corrections: for the coaching system -> for the caching "
                                       "system, super base -> post gres, post gres -> Postgres"});
}

using Smart::Kind;

class SmartTest : public testing::TempHomeTest {
  protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        Platform::installWorkspace(workspace);
    }
    std::shared_ptr<testing::FakeWorkspace> workspace = std::make_shared<testing::FakeWorkspace>();
    Config config;
};

TEST_F(SmartTest, NamesAndWindowTitleKeywords) {
    const std::pair<const char*, Kind> titles[] = {
        {"ChatGPT", Kind::prompt},           {"Claude and Gmail", Kind::prompt},
        {"Hey there", Kind::email},          {"general | Slack", Kind::message},
        {"Le Chat - Mistral", Kind::prompt}, {"Wikipedia", Kind::note},
        {"They use Teams", Kind::email},  // mail keywords are tried before chat ones
    };
    for (const auto& [title, kind] : titles) EXPECT_EQ(Smart::fromTitle(title), kind) << title;
}

TEST_F(SmartTest, ApplicationsAndBrowsersGiveTheirKinds) {
    workspace->titles = {{42, "Inbox (3) - Gmail"}, {43, "DeepSeek"}, {44, "WhatsApp"}};
    const std::tuple<const char*, std::optional<int32_t>, Kind> cases[] = {
        // clang-format off
        {"Slack", 1, Kind::message}, {"thunderbird", 1, Kind::email},
        {"org.gnome.TextEditor", 1, Kind::note}, {"Google-chrome", 44, Kind::message},
        {"com.google.Chrome.app.gemini", 42, Kind::prompt},  // the built-in prompt list
        {"com.apple.Safari", 42, Kind::email}, {"firefox", 43, Kind::prompt},
        {"com.google.Chrome", 7, Kind::note},  // no title known
        {"com.google.Chrome", std::nullopt, Kind::note},
        // clang-format on
    };
    for (const auto& [bundle, pid, kind] : cases)
        EXPECT_EQ(Smart::kind(bundle, pid, config), kind) << bundle;
    EXPECT_EQ(workspace->calls.size(), 4u) << "only browsers ask for a window title";
    EXPECT_EQ(workspace->calls.back(), "focusedWindowTitle 7");
}

TEST_F(SmartTest, TheUsersListWinsExactlyAndTheDemoKindOnlyHere) {
    workspace->titles[1] = "Gmail";
    config.promptModeApps = {"com.apple.mail", "firefox"};
    config.promptModeEnabled = false;  // the list applies either way
    EXPECT_EQ(Smart::kind("com.apple.mail", 1, config), Kind::prompt);
    EXPECT_EQ(Smart::kind("firefox", 1, config), Kind::prompt);
    EXPECT_EQ(Smart::kind("Firefox", 1, config), Kind::email) << "compared exactly";
    config.promptModeApps.clear();
    EXPECT_EQ(Smart::kind("com.google.Chrome.app.gemini", 1, config), Kind::note)
        << "an emptied list; no prefix matching of browsers";

    Smart::setDemoKind(Kind::email);
    EXPECT_EQ(Smart::kind(Brand::bundleID, 1, config), Kind::email);
    Smart::setDemoKind(Kind::prompt);  // the first kind is a kind too
    EXPECT_EQ(Smart::kind(Brand::bundleID, 1, config), Kind::prompt);
    EXPECT_EQ(Smart::kind("org.gnome.TextEditor", 1, config), Kind::note);
    Smart::setDemoKind(std::nullopt);
    EXPECT_EQ(Smart::kind(Brand::bundleID, 1, config), Kind::note);
}

}  // namespace
}  // namespace velvox

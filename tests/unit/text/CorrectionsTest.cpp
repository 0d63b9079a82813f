#include <gtest/gtest.h>

#include <map>
#include <string>

#include "support/TempHome.h"
#include "text/Corrections.h"

namespace velvox {
namespace {

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
        {"no rules", {}, "  reddit for the cache ", "  reddit for the cache "},
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

}  // namespace
}  // namespace velvox

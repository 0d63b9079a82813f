#include <gtest/gtest.h>

#include <map>
#include <string>

#include "config/Config.h"
#include "support/TempHome.h"
#include "text/Corrections.h"

namespace velvox {
namespace {

using Rules = std::map<std::string, std::string>;

class CorrectionsTest : public testing::TempHomeTest {
  protected:
    // The "corrections: " lines written to the log so far.
    std::vector<std::string> correctionLines() {
        std::vector<std::string> lines;
        for (const auto& message : logMessages()) {
            if (message.rfind("corrections: ", 0) == 0) lines.push_back(message);
        }
        return lines;
    }
};

TEST_F(CorrectionsTest, LongerPhraseIsTriedBeforeThePhraseItContains) {
    Rules rules = {{"for the coaching", "for the caching"},
                   {"for the coaching system", "for the caching system"},
                   {"tail wind", "Tailwind"}};
    EXPECT_EQ(Corrections::apply("we use it for the coaching system", rules),
              "we use it for the caching system");
    // Only the rule that matched is named.
    EXPECT_EQ(correctionLines(),
              (std::vector<std::string>{
                  "corrections: for the coaching system -> for the caching system"}));
}

TEST_F(CorrectionsTest, LengthCountsUserPerceivedCharactersNotBytes) {
    // Written with combining accents, "ééééé ab" is 8 characters but 13 code
    // points and 18 bytes; "ab cdefghi" is 10 of each. The two overlap, so
    // whichever goes first wins: by characters it is the second.
    std::string accents = "e\u0301e\u0301e\u0301e\u0301e\u0301";
    Rules rules = {{accents + " ab", "X"}, {"ab cdefghi", "Y"}};
    EXPECT_EQ(Corrections::apply(accents + " ab cdefghi", rules), accents + " Y");
}

TEST_F(CorrectionsTest, LaterRulesSeeTheTextAsEarlierRulesLeftIt) {
    // The longer rule produces text that a shorter rule then matches.
    Rules rules = {{"super base", "post gres"}, {"post gres", "Postgres"}};
    EXPECT_EQ(Corrections::apply("super base", rules), "Postgres");
    EXPECT_EQ(
        correctionLines(),
        (std::vector<std::string>{"corrections: super base -> post gres, post gres -> Postgres"}));
}

TEST_F(CorrectionsTest, EqualLengthsAlwaysApplyInTheSameOrder) {
    // "ab x" and "x cd" have equal length and overlap in "ab x cd": whichever
    // goes first wins, and it must be the same every time.
    Rules rules = {{"x cd", "2"}, {"ab x", "1"}};
    std::string first = Corrections::apply("ab x cd", rules);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(Corrections::apply("ab x cd", rules), first);
    EXPECT_EQ(first, "1 cd");
}

TEST_F(CorrectionsTest, PhrasesMatchWholeWordsOnly) {
    Rules rules = {{"sq lite", "SQLite"}, {"capacita", "Capacitor"}};
    EXPECT_EQ(Corrections::apply("a sq liter of sq lite", rules), "a sq liter of SQLite");
    EXPECT_EQ(Corrections::apply("capacitance, capacita.", rules), "capacitance, Capacitor.");
    EXPECT_EQ(Corrections::apply("xsq lite", rules), "xsq lite");
}

TEST_F(CorrectionsTest, MatchingIgnoresCaseAndTheReplacementIsInsertedAsWritten) {
    Rules rules = {{"reddit for the cache", "Redis for the cache"}};
    EXPECT_EQ(Corrections::apply("Reddit for the cache", rules), "Redis for the cache");
    EXPECT_EQ(Corrections::apply("REDDIT FOR THE CACHE and reddit for the cache", rules),
              "Redis for the cache and Redis for the cache");
}

TEST_F(CorrectionsTest, PhraseMetacharactersAreMatchedLiterally) {
    Rules rules = {{"c++", "C++"}, {"(x)", "X"}, {"\\d", "digit"}, {"a.b", "AB"}};
    // "a.b" must not match "axb"; "\d" must not match a digit.
    EXPECT_EQ(Corrections::apply("axb 7 a.b", rules), "axb 7 AB");
    // A phrase that ends in a non-word character only matches before a word character.
    EXPECT_EQ(Corrections::apply("c++x", rules), "C++x");
    EXPECT_EQ(Corrections::apply("I like c++ a lot", rules), "I like c++ a lot");
    EXPECT_EQ(Corrections::apply("x\\d y", rules), "xdigit y");
    EXPECT_EQ(Corrections::apply("a(x)b", rules), "aXb");
}

TEST_F(CorrectionsTest, ReplacementIsNeverATemplate) {
    Rules rules = {{"money", "$1"}, {"slash", "a\\b"}, {"group", "$0$"}};
    EXPECT_EQ(Corrections::apply("money slash group", rules), "$1 a\\b $0$");
}

TEST_F(CorrectionsTest, NoRuleOrNoMatchLeavesTextAndLogUntouched) {
    EXPECT_EQ(Corrections::apply("  reddit for the cache ", {}), "  reddit for the cache ");
    EXPECT_EQ(Corrections::apply("nothing to see", {{"tail wind", "Tailwind"}}), "nothing to see");
    // An empty phrase (a blank row in the settings) matches nothing.
    EXPECT_EQ(Corrections::apply("one two", {{"", "X"}}), "one two");
    EXPECT_TRUE(correctionLines().empty());
}

TEST_F(CorrectionsTest, DefaultRulesRepairTheUsualMishearings) {
    const auto& rules = Config::defaultCorrections();
    ASSERT_EQ(rules.size(), 26u);
    EXPECT_EQ(Corrections::apply("Reddit for the coaching with super base and sequel light", rules),
              "Redis for the caching with Supabase and SQLite");
    EXPECT_EQ(Corrections::apply("for the coaching system on post grass", rules),
              "for the caching system on Postgres");
    // Non-ASCII text around the phrases survives unchanged.
    EXPECT_EQ(Corrections::apply("Grüße: tail wind ✓ und shad cn 👍🏽", rules),
              "Grüße: Tailwind ✓ und shadcn 👍🏽");
}

}  // namespace
}  // namespace velvox

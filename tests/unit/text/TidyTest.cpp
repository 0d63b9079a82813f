#include <gtest/gtest.h>

#include <string>

#include "text/Tidy.h"

namespace velvox {
namespace {

struct Case {
    const char* input;
    const char* expected;
};

void expectAll(std::initializer_list<Case> cases) {
    for (const Case& c : cases) {
        EXPECT_EQ(Tidy::text(c.input), c.expected) << "input: '" << c.input << "'";
    }
}

TEST(Tidy, AddsTheMissingSpaceAfterPunctuation) {
    expectAll({
        {"hello.World", "hello. World"},
        {"done.Next", "done. Next"},
        {"what?Yes!No", "what? Yes! No"},
        {"one,two", "one, two"},
        {"a;b", "a; b"},
        {"note:this", "note: this"},
        {"5,apples", "5, apples"},
    });
}

TEST(Tidy, LeavesAbbreviationsNumbersAndTimesAlone) {
    expectAll({
        {"U.S.A", "U.S.A"},
        {"e.g.X", "e.g.X"},
        {"v1.2 and 3.5", "v1.2 and 3.5"},
        {"at 10:30", "at 10:30"},
        {"1,000,000", "1,000,000"},
        {"done.next", "done.next"},
        {"Ab.Cd", "Ab.Cd"},
        {"ok :D", "ok :D"},
    });
}

TEST(Tidy, RemovesSpacesBeforePunctuationButKeepsEmoticons) {
    expectAll({
        {"Really ?", "Really?"},
        {"yes , no", "yes, no"},
        {"end   .", "end."},
        {"nice ;)", "nice ;)"},
        {"nice ;P", "nice ;P"},
        {"wink ;-)", "wink ;-)"},
        {"sad ;(", "sad ;("},
        {"hm ;o", "hm ;o"},
        {"big ;D", "big ;D"},
    });
}

TEST(Tidy, StepsRunStrictlyInOrder) {
    // Steps 1 and 2 see a space before the mark and do nothing; step 3 then
    // removes the space, and nothing adds one after the mark again.
    expectAll({
        {"wait ,what", "wait,what"},
        {"word .Next", "word.Next"},
    });
}

TEST(Tidy, CollapsesRunsOfBlanksAfterTextAndTrimsTheEnds) {
    expectAll({
        {"so  many   spaces", "so many spaces"},
        {"tab\t\tbed", "tab bed"},
        {"  padded  ", "padded"},
        {"\n\t line one  \n  line two \n", "line one \n  line two"},
        {"", ""},
        {" \u00a0 ", ""},
    });
}

TEST(Tidy, NonAsciiTextPassesThrough) {
    expectAll({
        {"Grüße.Tschüss", "Grüße.Tschüss"},  // step 1 needs ASCII lower-case letters
        {"ça va ?", "ça va?"},
        {"emoji 👍🏽 ,yes", "emoji 👍🏽,yes"},
        {"well ,ok", "well ,ok"},  // "o" could start an emoticon
    });
}

}  // namespace
}  // namespace velvox

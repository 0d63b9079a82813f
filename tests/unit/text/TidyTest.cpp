#include <gtest/gtest.h>

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
        {"nice ;)", "nice ;)"}, {"nice ;P", "nice ;P"}, {"wink ;-)", "wink ;-)"},
        {"sad ;(", "sad ;("}, {"hm ;o", "hm ;o"}, {"big ;D", "big ;D"},
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

}  // namespace
}  // namespace velvox

#include "delivery/Inserter.h"

#include <gtest/gtest.h>

#include "DeliveryFixture.h"

namespace velvox::testing {
namespace {

using Result = Inserter::Result;
using Strings = std::vector<std::string>;

// What a field of the frontmost application (process 100, unless the case
// says otherwise) does with a direct insertion, and what the inserter makes of
// it: the result, the one line it logs (after "insert: "), the field's content.
struct Case {
    FakeField field;
    Result result;
    std::string log, content = "", text = "hello";
    std::optional<int32_t> owner = 100;
};
class InserterTest : public DeliveryTest, public ::testing::WithParamInterface<Case> {};

TEST_P(InserterTest, InsertsOnlyWhatTheFieldProvesItTook) {
    const Case& c = GetParam();
    workspace->frontmost = RunningApplication{100, "org.gnome.gedit", "Text Editor"};
    accessibility->field = c.field;
    accessibility->field->processId = c.owner;
    EXPECT_EQ(Inserter::insert(c.text), c.result);
    EXPECT_EQ(accessibility->field->content, c.content);
    EXPECT_EQ(logMessages(), Strings{"insert: " + c.log});
    EXPECT_TRUE(called("element.setMessagingTimeout 0.3"));
    EXPECT_TRUE(called("focusedElement timeout 0.3"));
}

constexpr Result kIn = Result::inserted, kNo = Result::notTaken, kMaybe = Result::uncertain;
const char *kUnchanged = "field unchanged at 3 chars, using the clipboard",
           *kRefused = "field does not accept direct text",
           *kWroteTwo = "wrote 2 chars directly, 3 -> 5",
           *kOther = "focused field belongs to another application, using the clipboard",
           *kUnproven = "field will not report its length, text left on the clipboard",
           *kReplaced = "replaced a selection, 6 -> 5 chars", *kEmoji = "ok \xF0\x9F\x91\x8D";
const Case kCases[] = {
    // Lengths are counted in UTF-16 units: the emoji, outside the Basic
    // Multilingual Plane, is two.
    {{.content = "Hi "}, kIn, "wrote 5 chars directly, 3 -> 8", "Hi there", "there"},
    {{}, kIn, "wrote 5 chars directly, 0 -> 5", kEmoji, kEmoji},
    // A field that cannot take text, or will not say.
    {{.selectedTextSettable = false}, kNo, kRefused},
    {{.selectedTextSettable = {}}, kNo, kRefused},
    {{.setError = -25205}, kNo, "refused, AXError -25205"},
    // No answer at all: the field may yet take the text, so it is not pasted.
    {{.setError = -25204}, kMaybe, "refused, AXError -25204"},
    // The set ignored; an unreadable selection counts as none, as an empty one does.
    {{.content = "abc", .ignoresSetText = true}, kNo, kUnchanged, "abc"},
    {{.selectedText = {}, .content = "abc", .ignoresSetText = true}, kNo, kUnchanged, "abc"},
    // A replaced selection counts even when the field shrinks.
    {{.selectedText = "abcdef", .content = "abcdef"}, kIn, kReplaced, "hello"},
    // Without a count, or with a broken one, the string value decides.
    {{.content = "abc", .reportsNumberOfCharacters = false}, kIn, kWroteTwo, "abcde", "de"},
    {{.content = "abc", .numberOfCharactersOverride = -1}, kIn, kWroteTwo, "abcde", "de"},
    // The text went in; only the proof is missing, and pasting it again could type it twice.
    {{.reportsNumberOfCharacters = false, .reportsStringValue = false}, kMaybe, kUnproven, "hello"},
    // A length that never changes is not believed.
    {{.content = "abc", .numberOfCharactersOverride = 3}, kNo, kUnchanged, "abchello"},
    {{}, kNo, kOther, "", "hello", 200},
    {{}, kNo, kOther, "", "hello", std::nullopt},
};
INSTANTIATE_TEST_SUITE_P(Inserter, InserterTest, ::testing::ValuesIn(kCases));

using InserterRefusalTest = DeliveryTest;

TEST_F(InserterRefusalTest, RefusesQuietlyWithoutTrustOrFocus) {
    accessibility->trusted = false;
    EXPECT_EQ(Inserter::insert("hello"), Result::notTaken);
    EXPECT_EQ(accessibility->calls, Strings{"isProcessTrusted"});
    EXPECT_TRUE(logMessages().empty());
    accessibility->trusted = true;
    accessibility->field.reset();
    EXPECT_EQ(Inserter::insert("hello"), Result::notTaken);
    EXPECT_EQ(logMessages(), Strings{"insert: no focused element"});
    // With no frontmost application known, the field's owner is not checked.
    accessibility->field = FakeField{};
    EXPECT_EQ(Inserter::insert("hello"), Result::inserted);
}

TEST_F(InserterRefusalTest, FieldThatReportsLateIsLookedAtAgainBeforeFallingBack) {
    for (auto [lateWaits, expected, waits] :
         {std::tuple{2, Result::inserted, 2}, {Inserter::kLateLooks + 1, Result::notTaken, 4}}) {
        accessibility->calls.clear();
        accessibility->field->content = "abc";
        accessibility->field->reportsLateAfterWaits = lateWaits;
        EXPECT_EQ(Inserter::insert("de"), expected) << lateWaits;
        EXPECT_EQ(std::count(accessibility->calls.begin(), accessibility->calls.end(),
                             "element.waitBriefly 0.1"),
                  waits);
    }
}

}  // namespace
}  // namespace velvox::testing

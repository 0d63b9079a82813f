#include "delivery/Inserter.h"

#include <gtest/gtest.h>

#include "DeliveryFixture.h"

namespace velvox::testing {
namespace {

using InserterTest = DeliveryTest;
using Result = Inserter::Result;

TEST_F(InserterTest, RefusesQuietlyWithoutTrustOrFocus) {
    accessibility->trusted = false;
    EXPECT_EQ(Inserter::insert("hello"), Result::notTaken);
    EXPECT_EQ(accessibility->calls, std::vector<std::string>{"isProcessTrusted"});
    EXPECT_TRUE(logMessages().empty());

    accessibility->trusted = true;
    accessibility->field.reset();
    EXPECT_EQ(Inserter::insert("hello"), Result::notTaken);
    EXPECT_TRUE(called("focusedElement timeout 0.3"));
    EXPECT_EQ(logMessages(), std::vector<std::string>{"insert: no focused element"});
}

TEST_F(InserterTest, FieldThatCannotTakeTextIsLeftAlone) {
    for (std::optional<bool> settable : {std::optional<bool>(false), std::optional<bool>()}) {
        accessibility->calls.clear();
        accessibility->field->selectedTextSettable = settable;
        EXPECT_EQ(Inserter::insert("hello"), Result::notTaken);
        EXPECT_TRUE(called("element.setMessagingTimeout 0.3"));
        EXPECT_FALSE(called("element.setSelectedText \"hello\""));
    }
    EXPECT_EQ(logMessages(),
              (std::vector<std::string>{"insert: field does not accept direct text",
                                        "insert: field does not accept direct text"}));
}

TEST_F(InserterTest, RefusedSetReportsTheErrorCode) {
    accessibility->field->setError = -25205;
    EXPECT_EQ(Inserter::insert("hello"), Result::notTaken);
    // No answer at all: the field may yet take the text, so it is not pasted.
    accessibility->field->setError = -25204;
    EXPECT_EQ(Inserter::insert("hello"), Result::uncertain);
    EXPECT_EQ(logMessages(), (std::vector<std::string>{"insert: refused, AXError -25205",
                                                       "insert: refused, AXError -25204"}));
}

TEST_F(InserterTest, GrowingFieldIsVerifiedInUtf16Units) {
    accessibility->field->content = "Hi ";
    EXPECT_EQ(Inserter::insert("there"), Result::inserted);
    EXPECT_EQ(accessibility->field->content, "Hi there");

    // The emoji lies outside the Basic Multilingual Plane: two units.
    accessibility->field->content = "";
    EXPECT_EQ(Inserter::insert("ok \xF0\x9F\x91\x8D"), Result::inserted);
    EXPECT_EQ(logMessages(), (std::vector<std::string>{"insert: wrote 5 chars directly, 3 -> 8",
                                                       "insert: wrote 5 chars directly, 0 -> 5"}));
}

TEST_F(InserterTest, FieldThatIgnoresTheTextFallsBackToTheClipboard) {
    accessibility->field->content = "abc";
    accessibility->field->ignoresSetText = true;
    EXPECT_EQ(Inserter::insert("hello"), Result::notTaken);

    // An empty selection string is no selection: the growth test applies.
    accessibility->field->selectedText = std::string();
    EXPECT_EQ(Inserter::insert("hello"), Result::notTaken);

    // An unreadable selection counts as none as well.
    accessibility->field->selectedText.reset();
    EXPECT_EQ(Inserter::insert("hello"), Result::notTaken);
    EXPECT_EQ(logMessages(), std::vector<std::string>(
                                 3, "insert: field unchanged at 3 chars, using the clipboard"));
}

TEST_F(InserterTest, ReplacedSelectionCountsEvenWhenTheFieldShrinks) {
    accessibility->field->content = "hello world";
    accessibility->field->selectedText = "hello world";
    EXPECT_EQ(Inserter::insert("hi"), Result::inserted);
    EXPECT_EQ(accessibility->field->content, "hi");
    EXPECT_EQ(logMessages(),
              std::vector<std::string>{"insert: replaced a selection, 11 -> 2 chars"});
}

TEST_F(InserterTest, LengthComesFromTheStringValueWhenTheCountIsMissingOrBroken) {
    accessibility->field->content = "abc";
    accessibility->field->reportsNumberOfCharacters = false;
    EXPECT_EQ(Inserter::insert("de"), Result::inserted);

    // A negative count is a broken answer: the string value decides.
    accessibility->field->reportsNumberOfCharacters = true;
    accessibility->field->numberOfCharactersOverride = -1;
    EXPECT_EQ(Inserter::insert("f"), Result::inserted);
    EXPECT_EQ(logMessages(), (std::vector<std::string>{"insert: wrote 2 chars directly, 3 -> 5",
                                                       "insert: wrote 1 chars directly, 5 -> 6"}));
}

TEST_F(InserterTest, FieldThatWillNotTellItsLengthIsNotTrusted) {
    accessibility->field->reportsNumberOfCharacters = false;
    accessibility->field->reportsStringValue = false;
    // The text went in; only the proof is missing, and pasting it again
    // could type it twice.
    EXPECT_EQ(Inserter::insert("hello"), Result::uncertain);
    EXPECT_EQ(accessibility->field->content, "hello");
    EXPECT_EQ(logMessages(),
              std::vector<std::string>{
                  "insert: field will not report its length, text left on the clipboard"});
}

TEST_F(InserterTest, FieldThatAlwaysReportsTheSameLengthIsNotBelieved) {
    accessibility->field->numberOfCharactersOverride = 10;
    EXPECT_EQ(Inserter::insert("hello"), Result::notTaken);
    EXPECT_EQ(logMessages(),
              std::vector<std::string>{"insert: field unchanged at 10 chars, using the clipboard"});
}

TEST_F(InserterTest, FieldThatReportsLateIsLookedAtAgainBeforeFallingBack) {
    struct Case {
        int lateWaits;
        Result expected;
        int waits;
    };
    for (auto [lateWaits, expected, waits] :
         {Case{2, Result::inserted, 2}, Case{Inserter::kLateLooks + 1, Result::notTaken, 4}}) {
        accessibility->calls.clear();
        accessibility->field->content = "abc";
        accessibility->field->reportsLateAfterWaits = lateWaits;
        EXPECT_EQ(Inserter::insert("de"), expected) << lateWaits;
        EXPECT_EQ(std::count(accessibility->calls.begin(), accessibility->calls.end(),
                             "element.waitBriefly 0.1"),
                  waits);
    }
}

TEST_F(InserterTest, FieldOfAnotherProcessThanTheFrontmostIsNotTypedInto) {
    workspace->frontmost = RunningApplication{100, "org.gnome.gedit", "Text Editor"};
    for (std::optional<int32_t> owner : {std::optional<int32_t>(200), std::optional<int32_t>()}) {
        accessibility->field->processId = owner;
        EXPECT_EQ(Inserter::insert("hello"), Result::notTaken);
    }
    EXPECT_EQ(accessibility->field->content, "");
    accessibility->field->processId = 100;
    EXPECT_EQ(Inserter::insert("hello"), Result::inserted);
    EXPECT_EQ(logMessages()[0],
              "insert: focused field belongs to another application, using the clipboard");
}

}  // namespace
}  // namespace velvox::testing

#include "delivery/Inserter.h"

#include <gtest/gtest.h>

#include "DeliveryFixture.h"

namespace velvox::testing {
namespace {

using Result = Inserter::Result;
using Strings = std::vector<std::string>;

// What a field does with a direct insertion, and what the inserter makes of it.
struct Case {
    const char* name;
    std::function<void(FakeField&)> arrange;
    Result result;
    std::string log;  // the one line it leaves
    std::string content = "";
    std::string text = "hello";
};
class InserterTest : public DeliveryTest, public ::testing::WithParamInterface<Case> {};

TEST_P(InserterTest, InsertsOnlyWhatTheFieldProvesItTook) {
    const Case& c = GetParam();
    workspace->frontmost = RunningApplication{100, "org.gnome.gedit", "Text Editor"};
    accessibility->field->processId = 100;
    if (c.arrange) c.arrange(*accessibility->field);
    EXPECT_EQ(Inserter::insert(c.text), c.result);
    EXPECT_EQ(accessibility->field->content, c.content);
    EXPECT_EQ(logMessages(), Strings{c.log});
    EXPECT_TRUE(called("element.setMessagingTimeout 0.3"));
    EXPECT_TRUE(called("focusedElement timeout 0.3"));
}

const auto kUnchanged = "insert: field unchanged at 3 chars, using the clipboard";
const auto kRefused = "insert: field does not accept direct text";
INSTANTIATE_TEST_SUITE_P(
    Inserter, InserterTest,
    ::testing::Values(
        Case{"a growing field is counted in UTF-16 units", [](FakeField& f) { f.content = "Hi "; },
             Result::inserted, "insert: wrote 5 chars directly, 3 -> 8", "Hi there", "there"},
        // The emoji lies outside the Basic Multilingual Plane: two units.
        Case{"emoji",
             {},
             Result::inserted,
             "insert: wrote 5 chars directly, 0 -> 5",
             "ok \xF0\x9F\x91\x8D",
             "ok \xF0\x9F\x91\x8D"},
        Case{"a field that cannot take text", [](FakeField& f) { f.selectedTextSettable = false; },
             Result::notTaken, kRefused},
        Case{"a field that will not say", [](FakeField& f) { f.selectedTextSettable.reset(); },
             Result::notTaken, kRefused},
        Case{"a refused set", [](FakeField& f) { f.setError = -25205; }, Result::notTaken,
             "insert: refused, AXError -25205"},
        // No answer at all: the field may yet take the text, so it is not pasted.
        Case{"no answer to the set", [](FakeField& f) { f.setError = -25204; }, Result::uncertain,
             "insert: refused, AXError -25204"},
        Case{"a field that ignores the text",
             [](FakeField& f) { f.content = "abc", f.ignoresSetText = true; }, Result::notTaken,
             kUnchanged, "abc"},
        // An unreadable selection counts as none, as an empty one does.
        Case{"ignored, with an unreadable selection",
             [](FakeField& f) {
                 f.content = "abc", f.ignoresSetText = true, f.selectedText.reset();
             },
             Result::notTaken, kUnchanged, "abc"},
        Case{"a replaced selection counts even when the field shrinks",
             [](FakeField& f) { f.content = f.selectedText.emplace("hello world"); },
             Result::inserted, "insert: replaced a selection, 11 -> 2 chars", "hi", "hi"},
        Case{"no count: the string value decides",
             [](FakeField& f) { f.content = "abc", f.reportsNumberOfCharacters = false; },
             Result::inserted, "insert: wrote 2 chars directly, 3 -> 5", "abcde", "de"},
        Case{"a broken count: the string value decides",
             [](FakeField& f) { f.content = "abc", f.numberOfCharactersOverride = -1; },
             Result::inserted, "insert: wrote 2 chars directly, 3 -> 5", "abcde", "de"},
        // The text went in; only the proof is missing, and pasting it again could type it twice.
        Case{"a field that will not tell its length",
             [](FakeField& f) { f.reportsNumberOfCharacters = f.reportsStringValue = false; },
             Result::uncertain,
             "insert: field will not report its length, text left on the clipboard", "hello"},
        Case{"a length that never changes is not believed",
             [](FakeField& f) { f.numberOfCharactersOverride = 10; }, Result::notTaken,
             "insert: field unchanged at 10 chars, using the clipboard", "hello"},
        Case{"a field of another process than the frontmost",
             [](FakeField& f) { f.processId = 200; }, Result::notTaken,
             "insert: focused field belongs to another application, using the clipboard"},
        Case{"a field of no known process", [](FakeField& f) { f.processId.reset(); },
             Result::notTaken,
             "insert: focused field belongs to another application, using the clipboard"}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

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

#include <gtest/gtest.h>

#include "delivery/Inserter.h"
#include "delivery/Paster.h"
#include "fakes/FakeAccessibility.h"
#include "fakes/FakePasteboard.h"
#include "fakes/FakeWorkspace.h"
#include "support/TempHome.h"

namespace velvox::testing {
namespace {

using Strings = std::vector<std::string>;

// Trusted accessibility, an empty field, the user's text copied, no front app, a counted paste.
class DeliveryTest : public TempHomeTest {
  public:
    void SetUp() override {
        TempHomeTest::SetUp();
        Paster::resetForTesting();
        accessibility->field = FakeField{};
        pasteboard->items = {textItem("user's text")};
        Platform::installAccessibility(accessibility);
        Platform::installPasteboard(pasteboard);
        Platform::installPasteKeystroke(keystroke);
        Platform::installWorkspace(workspace);
    }
    size_t called(const std::string& call) const {
        return std::count(accessibility->calls.begin(), accessibility->calls.end(), call);
    }
    DeliveryOutcome deliver(Paster::DeliveryOptions options = {},
                            std::optional<RunningApplication> target = std::nullopt) {
        return Paster::deliver("hello", target, options);
    }
    std::shared_ptr<FakeAccessibility> accessibility = std::make_shared<FakeAccessibility>();
    std::shared_ptr<FakePasteboard> pasteboard = std::make_shared<FakePasteboard>();
    std::shared_ptr<FakePasteKeystroke> keystroke = std::make_shared<FakePasteKeystroke>();
    std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>();
};
using PasterTest = DeliveryTest;

const std::vector<PasteboardItem> kOurs{{{{"text/plain;charset=utf-8", "hello"},
                                          {"org.nspasteboard.ConcealedType", ""},
                                          {"x-kde-passwordManagerHint", "secret"}}}};
const auto kCopied = DeliveryOutcome::copiedOnly("copied, press ctrl V");
constexpr Paster::DeliveryOptions kPaste{}, kDirect{.direct = true};

// The decision order, one fresh desktop per case.
struct Decision {
    const char *arrange, *options;  // options: copy, paste, direct, always, direct+always
    int32_t target;                 // 0: none
    DeliveryOutcome outcome;
    int pastes;               // keystrokes posted once everything settled
    const char* clipboard;    // the text left on it then
    size_t writes;            // clipboard writes
    const char* logged = "";  // a line the log must hold, if any
};
class PasterDecisionTest : public PasterTest, public ::testing::WithParamInterface<Decision> {};

TEST_P(PasterDecisionTest, DecidesHowTheTextGoesIn) {
    const Decision& c = GetParam();
    std::string how = c.arrange, options = c.options;
    FakeField& field = *accessibility->field;
    if (how.starts_with("untrusted")) accessibility->trusted = false;
    if (how == "no-a11y") accessibility->trusted = accessibility->available = false;
    if (how.starts_with("front=")) workspace->frontmost = {std::stoi(how.substr(6)), "org.app"};
    if (how == "unsettable") field.selectedTextSettable = false;
    if (how == "unproven") field.reportsNumberOfCharacters = field.reportsStringValue = false;
    if (how == "no-paste-key") keystroke->pasteKey = false;
    if (how == "untrusted+no-keys") keystroke->pasteKey = keystroke->canType = false;
    if (how == "keys-lost") keystroke->sends = false;
    EXPECT_EQ(deliver({.autoPaste = options != "copy",
                       .direct = options.find("direct") != std::string::npos,
                       .alwaysCopy = options.find("always") != std::string::npos},
                      c.target ? std::optional(RunningApplication{c.target}) : std::nullopt),
              c.outcome);
    queue->advance(10);
    EXPECT_EQ(keystroke->posted, c.pastes);
    EXPECT_EQ(pasteboard->text(), c.clipboard);
    EXPECT_EQ(pasteboard->writes.size(), c.writes);
    auto log = logMessages();
    EXPECT_TRUE(!*c.logged || std::find(log.begin(), log.end(), c.logged) != log.end());
    EXPECT_TRUE(c.writes > 0 || pasteboard->count == 41) << "the clipboard is left alone";
}

const auto kPasted = DeliveryOutcome::pasted(), kInserted = DeliveryOutcome::inserted();
const Decision kDecisions[] = {
    {"", "copy", 0, kCopied, 0, "hello", 1},
    // Accessibility switched off, or none at all: pasted; copied, with accessibility asked
    // for, only where typing into the field was the one way in.
    {"untrusted", "direct", 0, kPasted, 1, "user's text", 2},
    {"untrusted+no-keys", "direct", 0, DeliveryOutcome::copiedOnly("copied. Allow Accessibility"),
     0, "hello", 1, "not Accessibility trusted, text left on the clipboard"},
    {"no-a11y", "direct", 0, kPasted, 1, "user's text", 2},
    // Never into an application that came to the front; the target in front, or no front, is fine.
    {"front=200", "direct", 100, kCopied, 0, "hello", 1,
     "frontmost app changed during processing, not typing"},
    {"front=100", "paste", 100, kPasted, 1, "user's text", 2},
    {"", "paste", 100, kPasted, 1, "user's text", 2},
    // Direct insertion leaves the clipboard alone unless always-copy keeps the text; a refused
    // one falls through to the paste; one the field will not prove is not pasted again.
    {"", "direct", 0, kInserted, 0, "user's text", 0},
    {"", "direct+always", 0, kInserted, 0, "hello", 1},
    {"unsettable", "direct", 0, kPasted, 1, "user's text", 2,
     "insert: field does not accept direct text"},
    {"unproven", "direct", 0, kCopied, 0, "hello", 1},
    // Always-copy pastes without restoring; a window without a paste key gets short text typed.
    {"", "always", 0, kPasted, 1, "hello", 1},
    {"no-paste-key", "paste", 0, kInserted, 0, "user's text", 0},
    // Keys that may not have arrived: the text stays for the user, nothing is restored.
    {"keys-lost", "paste", 0, kPasted, 1, "hello", 1,
     "paste keys not delivered, text left on the clipboard"},
};
INSTANTIATE_TEST_SUITE_P(Paster, PasterDecisionTest, ::testing::ValuesIn(kDecisions));

TEST_F(PasterTest, DecisionsAskOnlyWhatTheyNeed) {
    deliver({.autoPaste = false});
    accessibility->trusted = false;
    deliver(kDirect);
    EXPECT_EQ(accessibility->calls, Strings{"isProcessTrusted"}) << "no field is asked";
    queue->advance(10);
    keystroke->posted = 0;
    // Typing without a paste key has a limit; longer text is only copied.
    accessibility->trusted = true;
    keystroke->pasteKey = false;
    EXPECT_EQ(deliver(), DeliveryOutcome::inserted());
    std::string longText(Paster::kTypedLimit + 1, 'x');
    EXPECT_EQ(Paster::deliver(longText, std::nullopt, kPaste), kCopied);
    queue->advance(10);
    EXPECT_TRUE(workspace->calls.empty()) << "without a target the workspace is not asked";
    EXPECT_EQ(keystroke->typed, "hello");
    EXPECT_EQ(keystroke->posted, 0);
    EXPECT_EQ(pasteboard->text(), longText);
}

TEST_F(PasterTest, PasteFollowsAfterASixtiethAndTheClipboardComesBackAfterwards) {
    EXPECT_EQ(deliver(), DeliveryOutcome::pasted());
    EXPECT_EQ(keystroke->posted, 0) << "the keystroke must not go out before deliver returns";
    EXPECT_EQ(pasteboard->items, kOurs) << "our copy is marked concealed for clipboard managers";
    for (auto [wait, posted, restored] :
         {std::tuple{0.05, 0, false}, {0.01, 1, false}, {2.49, 1, false}, {0.01, 1, true}}) {
        queue->advance(wait);
        EXPECT_EQ(keystroke->posted, posted);
        EXPECT_EQ(pasteboard->items, restored ? std::vector{textItem("user's text")} : kOurs);
    }
}

TEST_F(PasterTest, RestoreBringsBackWhatTheUserHadUnlessTheyCopiedSince) {
    PasteboardItem rich{{{"text/plain;charset=utf-8", "plain"},
                         {"text/html", "<b>rich</b>"},
                         {"application/rtf", "{\\rtf1 rich}"}}};
    PasteboardItem file{{{"text/uri-list", "file:///a.pdf"},
                         {"x-special/gnome-copied-files", "copy\nfile:///a.pdf"}}};
    PasteboardItem png{{{"image/png", "\x89PNG"}}}, mine = textItem("mine");
    PasteboardItem richWithoutRtf{{rich.representations[0], rich.representations[1]}},
        theirs = textItem("copied meanwhile"), ours = textItem("hello");
    struct Case {
        const char *name, *meanwhile;  // `at` s after the paste: user copies, a manager's take-over
        std::vector<PasteboardItem> before, after;
        int64_t count = 41;
        double at = 0.2;
    } cases[] = {
        {"every readable item and type comes back", "", {rich, png, file}, {richWithoutRtf, file}},
        {"an empty clipboard is emptied again", "", {}, {}},
        {"a counter that starts at zero still saves", "", {mine}, {mine}, 0},
        {"a newer copy is never overwritten", "copy", {mine}, {theirs}},
        {"a manager taking our text over is not the user's copy", "manager", {mine}, {mine}},
        {"a user copy taken over by a manager stays", "copy manager", {mine}, {theirs}},
        {"our text copied after a manager's time is theirs", "same", {mine}, {ours}, 41, 1.5},
    };
    for (const auto& c : cases) {
        Paster::resetForTesting();
        pasteboard->items = c.before;
        pasteboard->count = c.count;
        pasteboard->unreadable = {{0, "application/rtf"}, {1, "image/png"}};
        deliver();
        queue->advance(c.at);
        std::string meanwhile = c.meanwhile;
        if (meanwhile.starts_with("copy")) pasteboard->userCopies({theirs});
        if (meanwhile.ends_with("manager")) pasteboard->managerTakesOver();
        if (meanwhile == "same") pasteboard->userCopies({ours});
        queue->advance(5);
        EXPECT_EQ(pasteboard->items, c.after) << c.name;
        EXPECT_TRUE(!c.before.empty() || pasteboard->writes.back() == "setItems") << c.name;
    }
}

TEST_F(PasterTest, DictationsInQuickSuccessionAllGoInAndTheFirstSnapshotComesBack) {
    deliver();
    queue->advance(1);
    Paster::deliver("second", std::nullopt, kPaste);
    // The first restore finds the second copy and leaves it.
    queue->advance(1.6);
    EXPECT_EQ(pasteboard->text(), "second");
    // The second restore brings back what the user had before the first.
    queue->advance(1);
    EXPECT_EQ(pasteboard->text(), "user's text");
    EXPECT_EQ(keystroke->posted, 2);
    // Changed in place without moving the counter: the restore's own move must bring a snapshot.
    pasteboard->items.front().representations.push_back({"text/html", "<i>user</i>"});
    deliver();
    queue->advance(3);
    EXPECT_EQ(pasteboard->items.front().representations.size(), 2u);
    // A dictation arriving while the last one's clipboard is still read waits, then goes in
    // too, also one that keeps its text on the clipboard.
    pasteboard->slowSnapshots = true;
    size_t writes = pasteboard->writes.size();
    Paster::deliver("first", std::nullopt, kPaste);
    Paster::deliver("third", std::nullopt, {.alwaysCopy = true});
    EXPECT_EQ(pasteboard->writes.size(), writes);
    pasteboard->answerSnapshots();
    queue->advance(0.5);
    EXPECT_EQ(keystroke->posted, 5);
    EXPECT_EQ(pasteboard->text(), "third");
}

// Sandboxed applications share meaningless process numbers; some windows have none.
TEST_F(PasterTest, SwitchToAnotherApplicationsWindowIsNoticedWithoutProcessNumbers) {
    struct {
        RunningApplication target, front;
        bool typed;
    } cases[] = {{{2, "org.gnome.gedit", "", 11}, {2, "org.mozilla.firefox", "", 12}, false},
                 {{0, "org.gnome.gedit", "", 11}, {0, "org.gnome.gedit", "", 12}, false},
                 {{5, "org.gnome.gedit", "", 11}, {5, "org.gnome.gedit", "", 12}, true},
                 {{0, "org.gnome.gedit", "", 11}, {0, "org.gnome.gedit", "", 11}, true}};
    for (const auto& [target, front, typed] : cases) {
        workspace->frontmost = front;
        EXPECT_EQ(Paster::deliver("hello", target, kPaste).succeeded(), typed) << front.window;
    }
}

TEST_F(PasterTest, ClipboardHeldAtQuitGoesToTheManagerOnlyWhenItIsOurs) {
    Paster::handClipboardOver();
    EXPECT_TRUE(pasteboard->writes.empty());
    pasteboard->items.clear();
    deliver();
    queue->advance(10);  // restored to empty: nothing of ours is left
    Paster::handClipboardOver();
    EXPECT_EQ(pasteboard->writes.back(), "setItems");
    deliver({.alwaysCopy = true});
    Paster::handClipboardOver();
    EXPECT_EQ(pasteboard->writes.back(), "handToManager");
    // Quitting before the restore: the user's content is what survives.
    pasteboard->userCopies({textItem("user's text")});
    deliver();
    queue->advance(0.1);
    Paster::handClipboardOver();
    EXPECT_EQ(pasteboard->text(), "user's text");
    EXPECT_EQ(pasteboard->writes.back(), "handToManager");
}

using Result = Inserter::Result;

// A field of the frontmost application (process 100 unless the case says otherwise), and
// what the inserter makes of it: result, its one log line (after "insert: "), the content.
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
    EXPECT_EQ(Inserter::insert(c.text, workspace->frontmost), c.result);
    EXPECT_EQ(accessibility->field->content, c.content);
    EXPECT_EQ(logMessages(), Strings{"insert: " + c.log});
    EXPECT_TRUE(called("element.setMessagingTimeout 0.3") && called("focusedElement timeout 0.3"));
}

constexpr Result kIn = Result::inserted, kNo = Result::notTaken, kMaybe = Result::uncertain;
const char *kUnchanged = "field unchanged at 3 chars, using the clipboard",
           *kRefused = "field does not accept direct text",
           *kWroteTwo = "wrote 2 chars directly, 3 -> 5",
           *kOther = "focused field belongs to another application, using the clipboard",
           *kUnproven = "field will not report its length, text left on the clipboard",
           *kReplaced = "replaced a selection, 6 -> 5 chars", *kEmoji = "ok \xF0\x9F\x91\x8D";
const Case kCases[] = {
    // Lengths are counted in UTF-16 units: the emoji, outside the Basic Multilingual Plane, is two.
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

TEST_F(DeliveryTest, InserterRefusesQuietlyWithoutTrustOrFocusAndWaitsForALateField) {
    accessibility->trusted = false;
    EXPECT_EQ(Inserter::insert("hello", workspace->frontmost), Result::notTaken);
    EXPECT_EQ(accessibility->calls, Strings{"isProcessTrusted"});
    EXPECT_TRUE(logMessages().empty());
    accessibility->trusted = true;
    accessibility->field.reset();
    EXPECT_EQ(Inserter::insert("hello", workspace->frontmost), Result::notTaken);
    EXPECT_EQ(logMessages(), Strings{"insert: no focused element"});
    // A frontmost application without a process number cannot own the field: any is typed into.
    accessibility->field = FakeField{.processId = 100};
    workspace->frontmost = RunningApplication{0, "org.gnome.gedit"};
    EXPECT_EQ(Inserter::insert("hello", workspace->frontmost), Result::inserted);
    // A field that reports late is looked at again before falling back.
    for (auto [lateWaits, expected, waits] :
         {std::tuple{2, Result::inserted, 2},
          {Inserter::kLateLooks + 1, Result::notTaken, Inserter::kLateLooks}}) {
        accessibility->calls.clear();
        accessibility->field->content = "abc";
        accessibility->field->reportsLateAfterWaits = lateWaits;
        EXPECT_EQ(Inserter::insert("de", workspace->frontmost), expected) << lateWaits;
        EXPECT_EQ(called("element.waitBriefly 0.1"), size_t(waits)) << lateWaits;
    }
}

}  // namespace
}  // namespace velvox::testing

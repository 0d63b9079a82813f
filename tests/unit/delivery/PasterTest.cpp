#include "delivery/Paster.h"

#include <gtest/gtest.h>

#include "DeliveryFixture.h"

namespace velvox::testing {
namespace {

const std::string kOurItem =
    "[text/plain;charset=utf-8=hello, org.nspasteboard.ConcealedType=, "
    "x-kde-passwordManagerHint=secret]";

class PasterTest : public DeliveryTest {
  protected:
    DeliveryOutcome deliver(bool autoPaste = true, std::optional<int32_t> target = std::nullopt,
                            bool direct = false, bool alwaysCopy = false) {
        std::optional<RunningApplication> application;
        if (target) application = RunningApplication{*target};
        return Paster::deliver("hello", autoPaste, application, direct, alwaysCopy);
    }
    std::string clipboard() const {
        std::string out;
        for (const auto& item : pasteboard->items) out += describe(item);
        return out;
    }
};

// ---- the decision order ----

TEST_F(PasterTest, WithoutAutoPasteTheTextIsOnlyCopied) {
    EXPECT_EQ(deliver(/*autoPaste=*/false), DeliveryOutcome::copiedOnly("copied, press ctrl V"));
    EXPECT_EQ(clipboard(), kOurItem);
    EXPECT_TRUE(accessibility->calls.empty());
    queue->advance(10);
    EXPECT_EQ(keystroke->posted, 0);
    EXPECT_EQ(pasteboard->writes, std::vector<std::string>{"setItems " + kOurItem});
}

TEST_F(PasterTest, UntrustedProcessCopiesAndAsksForAccessibility) {
    accessibility->trusted = false;
    EXPECT_EQ(deliver(), DeliveryOutcome::copiedOnly("copied. Allow Accessibility"));
    EXPECT_EQ(pasteboard->text(), "hello");
    EXPECT_EQ(systemLog->lines(),
              std::vector<std::string>{"Velvox error: not Accessibility trusted, text left on the "
                                       "clipboard"});
    EXPECT_TRUE(logged("not Accessibility trusted, text left on the clipboard"));
    queue->advance(10);
    EXPECT_EQ(keystroke->posted, 0);

    // A desktop with no accessibility at all never grants it: paste there.
    accessibility->available = false;
    EXPECT_EQ(deliver(true, std::nullopt, /*direct=*/true), DeliveryOutcome::pasted());
    queue->advance(0.06);
    EXPECT_EQ(keystroke->posted, 1);
}

TEST_F(PasterTest, NeverTypesIntoAnApplicationThatCameToTheFront) {
    workspace->frontmost = RunningApplication{200, "org.gnome.Terminal", "Terminal"};
    EXPECT_EQ(deliver(true, /*target=*/100, /*direct=*/true),
              DeliveryOutcome::copiedOnly("copied, press ctrl V"));
    EXPECT_TRUE(logged("frontmost app changed during processing, not typing"));
    EXPECT_FALSE(called("element.setSelectedText \"hello\""));
    queue->advance(10);
    EXPECT_EQ(keystroke->posted, 0);
    EXPECT_EQ(pasteboard->text(), "hello");
}

TEST_F(PasterTest, TargetStillInFrontOrUnknownGoesAhead) {
    workspace->frontmost = RunningApplication{100, "org.gnome.gedit", "Text Editor"};
    EXPECT_EQ(deliver(true, 100), DeliveryOutcome::pasted());

    // No frontmost application can be read: delivery goes on as if it were.
    workspace->frontmost.reset();
    EXPECT_EQ(deliver(true, 100), DeliveryOutcome::pasted());

    // Without a target the workspace is not even asked.
    workspace->calls.clear();
    EXPECT_EQ(deliver(true, std::nullopt), DeliveryOutcome::pasted());
    EXPECT_TRUE(workspace->calls.empty());
}

TEST_F(PasterTest, DirectInsertionLeavesTheClipboardAlone) {
    int64_t before = pasteboard->count;
    EXPECT_EQ(deliver(true, std::nullopt, /*direct=*/true), DeliveryOutcome::inserted());
    EXPECT_EQ(accessibility->field->content, "hello");
    EXPECT_EQ(pasteboard->count, before);
    EXPECT_TRUE(pasteboard->writes.empty());
    queue->advance(10);
    EXPECT_EQ(keystroke->posted, 0);
}

TEST_F(PasterTest, AlwaysCopyKeepsTheTextOnTheClipboardAfterAnInsertion) {
    EXPECT_EQ(deliver(true, std::nullopt, true, /*alwaysCopy=*/true), DeliveryOutcome::inserted());
    queue->advance(10);
    EXPECT_EQ(clipboard(), kOurItem);
    EXPECT_EQ(pasteboard->writes.size(), 1u);
}

TEST_F(PasterTest, RefusedInsertionFallsThroughToThePaste) {
    accessibility->field->selectedTextSettable = false;
    EXPECT_EQ(deliver(true, std::nullopt, /*direct=*/true), DeliveryOutcome::pasted());
    EXPECT_TRUE(logged("insert: field does not accept direct text"));
    queue->advance(0.06);
    EXPECT_EQ(keystroke->posted, 1);
}

// ---- the paste and the restore ----

TEST_F(PasterTest, PasteFollowsAfterASixtiethAndTheClipboardComesBackAfterwards) {
    EXPECT_EQ(deliver(), DeliveryOutcome::pasted());
    EXPECT_EQ(keystroke->posted, 0) << "the keystroke must not go out before deliver returns";
    EXPECT_EQ(clipboard(), kOurItem);

    queue->advance(0.05);
    EXPECT_EQ(keystroke->posted, 0);
    queue->advance(0.01);
    EXPECT_EQ(keystroke->posted, 1);

    queue->advance(2.49);
    EXPECT_EQ(clipboard(), kOurItem);
    queue->advance(0.01);
    EXPECT_EQ(clipboard(), describe(textItem("user's text")));
    queue->advance(10);
    EXPECT_EQ(keystroke->posted, 1);
    EXPECT_EQ(pasteboard->writes.size(), 2u);
}

TEST_F(PasterTest, AlwaysCopyPastesWithoutRestoring) {
    EXPECT_EQ(deliver(true, std::nullopt, false, /*alwaysCopy=*/true), DeliveryOutcome::pasted());
    queue->advance(10);
    EXPECT_EQ(keystroke->posted, 1);
    EXPECT_EQ(clipboard(), kOurItem);
}

TEST_F(PasterTest, NewerCopyIsNeverOverwritten) {
    deliver();
    queue->advance(1);
    pasteboard->userCopies({textItem("copied meanwhile")});
    queue->advance(5);
    EXPECT_EQ(pasteboard->text(), "copied meanwhile");
    EXPECT_EQ(pasteboard->writes.size(), 1u);
}

TEST_F(PasterTest, EmptyClipboardIsEmptiedAgain) {
    pasteboard->items.clear();
    deliver();
    queue->advance(3);
    EXPECT_TRUE(pasteboard->items.empty());
    EXPECT_EQ(pasteboard->writes.back(), "setItems");
}

TEST_F(PasterTest, EveryItemAndTypeWithReadableDataComesBack) {
    PasteboardItem rich{{{"text/plain;charset=utf-8", "plain"},
                         {"text/html", "<b>rich</b>"},
                         {"application/rtf", "{\\rtf1 rich}"}}};
    PasteboardItem file{{{"text/uri-list", "file:///home/user/a.pdf"},
                         {"x-special/gnome-copied-files", "copy\nfile:///home/user/a.pdf"}}};
    PasteboardItem unreadable{{{"image/png", "\x89PNG"}}};
    pasteboard->items = {rich, unreadable, file};
    pasteboard->unreadable = {{0, "application/rtf"}, {1, "image/png"}};

    deliver();
    queue->advance(3);

    PasteboardItem richWithoutRtf{{rich.representations[0], rich.representations[1]}};
    EXPECT_EQ(pasteboard->items, (std::vector<PasteboardItem>{richWithoutRtf, file}));
}

TEST_F(PasterTest, QuickSecondDictationKeepsTheFirstSnapshot) {
    deliver();
    queue->advance(1);
    Paster::deliver("second", true, std::nullopt, false, false);
    // The first restore finds the second copy and leaves it.
    queue->advance(1.6);
    EXPECT_EQ(pasteboard->text(), "second");
    // The second restore brings back what the user had before the first.
    queue->advance(1);
    EXPECT_EQ(pasteboard->text(), "user's text");
    EXPECT_EQ(keystroke->posted, 2);
}

TEST_F(PasterTest, NextDictationAfterARestoreSavesTheRestoredContent) {
    deliver();
    queue->advance(3);
    // Changed in place, without moving the counter: only the restore itself
    // moved it, and that must be enough to take a fresh snapshot.
    pasteboard->items.front().representations.push_back({"text/html", "<i>user</i>"});
    Paster::deliver("again", true, std::nullopt, false, false);
    queue->advance(3);
    EXPECT_EQ(pasteboard->items.front().representations.size(), 2u);
}

TEST_F(PasterTest, ClipboardWhoseCounterStartsAtZeroIsStillSaved) {
    pasteboard->count = 0;
    deliver();
    queue->advance(3);
    EXPECT_EQ(pasteboard->text(), "user's text");
}

// ---- what real desktops do meanwhile ----

TEST_F(PasterTest, ClipboardManagerTakingOverOurTextIsNotTheUsersCopy) {
    struct Case {
        const char* what;
        std::function<void(FakePasteboard&)> meanwhile;
        std::string expected;
    };
    std::vector<Case> cases = {
        {"manager takes our text over", [](FakePasteboard& p) { p.managerTakesOver(); },
         "user's text"},
        {"user copies, manager takes that over",
         [](FakePasteboard& p) {
             p.userCopies({textItem("copied meanwhile")});
             p.managerTakesOver();
         },
         "copied meanwhile"},
        {"user copies the same bytes later", {}, "hello"},
    };
    for (auto& [what, meanwhile, expected] : cases) {
        Paster::resetForTesting();
        pasteboard->items = {textItem("user's text")};
        deliver();
        queue->advance(0.2);
        if (meanwhile) {
            meanwhile(*pasteboard);
        }
        queue->advance(1.5);
        if (!meanwhile) pasteboard->userCopies({textItem("hello")});
        queue->advance(5);
        EXPECT_EQ(pasteboard->text(), expected) << what;
    }
}

TEST_F(PasterTest, SwitchToAnotherApplicationsWindowIsNoticedWithoutProcessNumbers) {
    struct Case {
        RunningApplication target, front;
        bool typed;
    };
    // Sandboxed applications share meaningless process numbers; some windows have none.
    for (auto [target, front, typed] : {
             Case{{2, "org.gnome.gedit", "", 11}, {2, "org.mozilla.firefox", "", 12}, false},
             Case{{0, "org.gnome.gedit", "", 11}, {0, "org.gnome.gedit", "", 12}, false},
             Case{{5, "org.gnome.gedit", "", 11}, {5, "org.gnome.gedit", "", 12}, true},
             Case{{5, "org.gnome.gedit", "", 11}, {5, "org.gnome.gedit", "", 11}, true},
         }) {
        workspace->frontmost = front;
        auto outcome = Paster::deliver("hello", true, target, false, false);
        EXPECT_EQ(outcome.succeeded(), typed) << target.window << " " << front.bundleIdentifier;
    }
}

TEST_F(PasterTest, UnprovenInsertionIsNotPastedAgain) {
    // The field took the text but will not say so.
    accessibility->field->reportsNumberOfCharacters = false;
    accessibility->field->reportsStringValue = false;
    EXPECT_EQ(deliver(true, std::nullopt, /*direct=*/true),
              DeliveryOutcome::copiedOnly("copied, press ctrl V"));
    queue->advance(10);
    EXPECT_EQ(keystroke->posted, 0);
    EXPECT_EQ(accessibility->field->content, "hello");
    EXPECT_EQ(pasteboard->text(), "hello");
}

TEST_F(PasterTest, WindowWithoutAPasteKeyGetsShortTextTypedAndLongTextCopied) {
    keystroke->pasteKey = false;
    EXPECT_EQ(deliver(), DeliveryOutcome::inserted());
    EXPECT_EQ(keystroke->typed, "hello");
    EXPECT_TRUE(pasteboard->writes.empty());

    std::string longText(Paster::kTypedLimit + 1, 'x');
    EXPECT_EQ(Paster::deliver(longText, true, std::nullopt, false, false),
              DeliveryOutcome::copiedOnly("copied, press ctrl V"));
    queue->advance(10);
    EXPECT_EQ(keystroke->typed, "hello");
    EXPECT_EQ(keystroke->posted, 0);
    EXPECT_EQ(pasteboard->text(), longText);
}

TEST_F(PasterTest, ClipboardHeldAtQuitGoesToTheManagerOnlyWhenItIsOurs) {
    Paster::handClipboardOver();
    EXPECT_TRUE(pasteboard->writes.empty());
    pasteboard->items.clear();
    deliver();
    queue->advance(10);  // restored to empty: nothing of ours is left
    Paster::handClipboardOver();
    EXPECT_EQ(pasteboard->writes.back(), "setItems");
    deliver(true, std::nullopt, false, /*alwaysCopy=*/true);
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

}  // namespace
}  // namespace velvox::testing

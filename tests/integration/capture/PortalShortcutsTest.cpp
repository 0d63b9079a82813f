#include "platform/linux/wayland/PortalShortcuts.h"

#include <gtest/gtest.h>

#include <map>

#include "CaptureSession.h"
#include "integration/capture/StandInPortal.h"

namespace velvox::testing {
namespace {

struct Outcome {
    bool answered = false;
    std::optional<std::vector<PortalShortcuts::Bound>> bound;
    std::vector<std::string> changes;
};

std::unique_ptr<PortalShortcuts> ask(Outcome& outcome) {
    return std::make_unique<PortalShortcuts>(
        std::vector<PortalShortcuts::Shortcut>{{"dictate", "Dictate while held"},
                                               {"boost", "Smart dictation while held"}},
        [&outcome](auto bound) {
            outcome.answered = true;
            outcome.bound = std::move(bound);
        },
        [&outcome](const std::string& id, bool pressed) {
            outcome.changes.push_back(id + (pressed ? " down" : " up"));
        });
}

TEST(PortalShortcutsTest, BoundShortcutsReportTheirKeysPressesAndReleases) {
    StandInPortal portal;
    ASSERT_TRUE(portal.ownsName());
    Outcome outcome;
    auto shortcuts = ask(outcome);
    ASSERT_TRUE(runMainLoopUntil([&] { return outcome.answered; }));
    ASSERT_TRUE(outcome.bound);
    ASSERT_EQ(outcome.bound->size(), 2u);
    EXPECT_EQ((*outcome.bound)[0].id, "dictate");
    EXPECT_EQ((*outcome.bound)[0].trigger, "Press Super+D");
    EXPECT_EQ((*outcome.bound)[1].trigger, "Press Super+B");
    EXPECT_EQ(portal.calls(),
              (std::vector<std::string>{
                  "CreateSession",
                  "BindShortcuts our session, dictate \"Dictate while held\", boost "
                  "\"Smart dictation while held\""}));

    portal.press("dictate", true, "/org/freedesktop/portal/desktop/session/1_99/other");
    portal.press("dictate", true);
    portal.press("dictate", false);
    portal.press("boost", true);
    ASSERT_TRUE(runMainLoopUntil([&] { return outcome.changes.size() >= 3; }));
    EXPECT_EQ(outcome.changes,
              (std::vector<std::string>{"dictate down", "dictate up", "boost down"}))
        << "another session's shortcut is not ours";

    // Keys changed in the desktop's settings, and keys we ask for anew, are
    // the bound keys from then on.
    outcome.answered = false;
    portal.changeKeys("dictate", "Press Ctrl+Space");
    ASSERT_TRUE(runMainLoopUntil([&] { return outcome.answered; }));
    ASSERT_TRUE(outcome.bound);
    EXPECT_EQ((*outcome.bound)[0].trigger, "Press Ctrl+Space");
    outcome.answered = false;
    shortcuts->rebind({"F5", ""});
    ASSERT_TRUE(runMainLoopUntil([&] { return outcome.answered; }));
    ASSERT_TRUE(outcome.bound);
    EXPECT_EQ((*outcome.bound)[0].trigger, "Press F5");
    EXPECT_EQ(portal.calls().back(),
              "BindShortcuts our session, dictate \"Dictate while held\" preferring F5, boost "
              "\"Smart dictation while held\"");
}

TEST(PortalShortcutsTest, RefusedOrMissingPortalAnswersNothing) {
    {
        StandInPortal portal;
        portal.bindAnswer = 1;  // the user cancelled the desktop's dialog
        Outcome outcome;
        auto shortcuts = ask(outcome);
        ASSERT_TRUE(runMainLoopUntil([&] { return outcome.answered; }));
        EXPECT_FALSE(outcome.bound);
    }
    Outcome outcome;
    auto shortcuts = ask(outcome);
    ASSERT_TRUE(runMainLoopUntil([&] { return outcome.answered; }));
    EXPECT_FALSE(outcome.bound) << "no portal on this bus";

    // Gone before the portal answers: nothing is called afterwards.
    Outcome late;
    StandInPortal portal;
    ask(late).reset();
    runMainLoopUntil([] { return false; }, 1);
    EXPECT_FALSE(late.answered);
}

}  // namespace
}  // namespace velvox::testing

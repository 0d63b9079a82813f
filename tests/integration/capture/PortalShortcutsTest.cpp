#include "platform/linux/wayland/PortalShortcuts.h"
#include "platform/linux/wayland/RemoteDesktopPaste.h"

#include <gtest/gtest.h>
#include <filesystem>

#include "StandInPortal.h"
#include "support/MainLoop.h"

namespace velvox::testing {
namespace {

// What the portal's answers and the user's presses did: `bound` once answered
// (nothing when refused), each press as "dictate down".
struct Outcome {
    bool answered = false;
    std::optional<std::vector<PortalShortcuts::Bound>> bound;
    std::vector<std::string> changes;
    // The trigger the desktop bound to the first shortcut, once it answers again.
    std::string nextTrigger() {
        answered = false;
        if (!spinUntil([&] { return answered; })) return "unanswered";
        return bound ? (*bound)[0].trigger : "none";
    }
    std::unique_ptr<PortalShortcuts> ask() {
        return std::make_unique<PortalShortcuts>(
            std::vector<PortalShortcuts::Shortcut>{{"dictate", "Dictate while held"},
                                                   {"boost", "Smart dictation while held"}},
            [this](auto bound) {
                answered = true;
                this->bound = std::move(bound);
            },
            [this](const std::string& id, bool pressed) {
                changes.push_back(id + (pressed ? " down" : " up"));
            });
    }
};

// Bound shortcuts report their keys, presses and releases (of our session
// only); keys changed in the desktop's settings or asked for anew are bound from
// then on. A refused or missing portal binds nothing; one gone calls nothing.
TEST(PortalShortcutsTest, BoundShortcutsReportTheirKeysPressesAndReleases) {
    std::optional<StandInPortal> portal(std::in_place);
    ASSERT_TRUE(portal->ownsName());
    Outcome outcome;
    auto shortcuts = outcome.ask();
    ASSERT_EQ(outcome.nextTrigger(), "Press Super+D");
    ASSERT_EQ(outcome.bound->size(), 2u);
    EXPECT_EQ((*outcome.bound)[0].id, "dictate");
    EXPECT_EQ((*outcome.bound)[1].trigger, "Press Super+B");
    EXPECT_EQ(portal->calls(), (std::vector<std::string>{
                                   "CreateSession",
                                   "BindShortcuts our session, dictate \"Dictate while held\", "
                                   "boost \"Smart dictation while held\""}));
    portal->press("dictate", true, "/org/freedesktop/portal/desktop/session/1_99/other");
    portal->press("dictate", true);
    portal->press("dictate", false);
    portal->press("boost", true);
    ASSERT_TRUE(spinUntil([&] { return outcome.changes.size() >= 3; }));
    EXPECT_EQ(outcome.changes,
              (std::vector<std::string>{"dictate down", "dictate up", "boost down"}))
        << "another session's shortcut is not ours";

    portal->changeKeys("dictate", "Press Ctrl+Space");
    EXPECT_EQ(outcome.nextTrigger(), "Press Ctrl+Space");
    shortcuts->rebind({"F5", ""});
    EXPECT_EQ(outcome.nextTrigger(), "Press F5");
    EXPECT_EQ(portal->calls().back(),
              "BindShortcuts our session, dictate \"Dictate while held\" preferring F5, boost "
              "\"Smart dictation while held\"");

    portal->bindAnswer = 1;  // the user cancels the desktop's dialog
    Outcome refused, late, missing;
    auto again = refused.ask();
    EXPECT_EQ(refused.nextTrigger(), "none");
    late.ask().reset();  // gone before the portal answers: nothing is called afterwards
    spinUntil([] { return false; }, 1);
    EXPECT_FALSE(late.answered);
    portal.reset();
    auto alone = missing.ask();
    EXPECT_EQ(missing.nextTrigger(), "none") << "no portal on this bus";
}

// The paste keys through the desktop's remote desktop portal: typed by
// symbol once the user agreed, the consent kept for the next start, and
// nothing typed where the user refused the keyboard.
TEST(PortalShortcutsTest, RemoteDesktopTypesThePasteKeysOnceTheUserAgreed) {
    StandInPortal portal;
    ASSERT_TRUE(portal.ownsName());
    std::string tokenFile = ::testing::TempDir() + "velvox-remote-desktop-token";
    std::filesystem::remove(tokenFile);
    std::optional<bool> agreed;  // what the desktop answered the last one opened
    auto open = [&] {
        agreed.reset();
        auto paste = std::make_unique<RemoteDesktopPaste>(
            tokenFile, [] { return true; }, [&](bool yes) { agreed = yes; });
        EXPECT_TRUE(spinUntil([&] { return agreed.has_value(); }));
        return paste;
    };
    auto paste = open();
    ASSERT_EQ(agreed, true);
    EXPECT_TRUE(paste->focusPastesClipboard());
    paste->post();
    ASSERT_TRUE(spinUntil([&] { return portal.calls().size() >= 9; }));
    EXPECT_EQ(portal.calls(), (std::vector<std::string>{
                                  "CreateSession", "SelectDevices types 1 persist 2", "Start",
                                  "keysym 0xffe3 down", "keysym 0xffe1 down", "keysym 0x76 down",
                                  "keysym 0x76 up", "keysym 0xffe1 up", "keysym 0xffe3 up"}));
    paste.reset();
    paste = open();
    EXPECT_EQ(portal.calls()[10], "SelectDevices types 1 persist 2 restoring consent-1");
    portal.remoteDevices = 0;  // the user lets it have no keyboard
    paste.reset();
    paste = open();
    EXPECT_EQ(agreed, false);
    EXPECT_FALSE(paste->focusPastesClipboard()) << "the text stays copied";
    size_t before = portal.calls().size();
    paste->post();
    spinUntil([] { return false; }, 1);
    EXPECT_EQ(portal.calls().size(), before);
    std::filesystem::remove(tokenFile);
}

}  // namespace
}  // namespace velvox::testing

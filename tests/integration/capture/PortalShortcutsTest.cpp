#include "platform/linux/wayland/PortalShortcuts.h"
#include "platform/linux/wayland/RemoteDesktopPaste.h"

#include <gtest/gtest.h>

#include <filesystem>
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
    ASSERT_TRUE(spinUntil([&] { return outcome.answered; }));
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
    ASSERT_TRUE(spinUntil([&] { return outcome.changes.size() >= 3; }));
    EXPECT_EQ(outcome.changes,
              (std::vector<std::string>{"dictate down", "dictate up", "boost down"}))
        << "another session's shortcut is not ours";

    // Keys changed in the desktop's settings, and keys we ask for anew, are
    // the bound keys from then on.
    outcome.answered = false;
    portal.changeKeys("dictate", "Press Ctrl+Space");
    ASSERT_TRUE(spinUntil([&] { return outcome.answered; }));
    ASSERT_TRUE(outcome.bound);
    EXPECT_EQ((*outcome.bound)[0].trigger, "Press Ctrl+Space");
    outcome.answered = false;
    shortcuts->rebind({"F5", ""});
    ASSERT_TRUE(spinUntil([&] { return outcome.answered; }));
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
        ASSERT_TRUE(spinUntil([&] { return outcome.answered; }));
        EXPECT_FALSE(outcome.bound);
    }
    Outcome outcome;
    auto shortcuts = ask(outcome);
    ASSERT_TRUE(spinUntil([&] { return outcome.answered; }));
    EXPECT_FALSE(outcome.bound) << "no portal on this bus";

    // Gone before the portal answers: nothing is called afterwards.
    Outcome late;
    StandInPortal portal;
    ask(late).reset();
    spinUntil([] { return false; }, 1);
    EXPECT_FALSE(late.answered);
}

// The paste keys through the desktop's remote desktop portal: typed by
// symbol once the user agreed, the consent kept for the next start, and
// nothing typed where the user refused the keyboard.
TEST(PortalShortcutsTest, RemoteDesktopTypesThePasteKeysOnceTheUserAgreed) {
    StandInPortal portal;
    ASSERT_TRUE(portal.ownsName());
    std::string tokenFile = ::testing::TempDir() + "velvox-remote-desktop-token";
    std::filesystem::remove(tokenFile);
    bool terminal = true;
    auto open = [&](std::optional<bool>& agreed) {
        auto paste = std::make_unique<RemoteDesktopPaste>(
            tokenFile, [&] { return terminal; }, [&](bool yes) { agreed = yes; });
        EXPECT_TRUE(spinUntil([&] { return agreed.has_value(); }));
        return paste;
    };
    std::optional<bool> agreed;
    auto paste = open(agreed);
    ASSERT_EQ(agreed, true);
    EXPECT_TRUE(paste->focusPastesClipboard());
    paste->post();
    ASSERT_TRUE(spinUntil([&] { return portal.calls().size() >= 9; }));
    EXPECT_EQ(portal.calls(), (std::vector<std::string>{
                                  "CreateSession", "SelectDevices types 1 persist 2", "Start",
                                  "keysym 0xffe3 down", "keysym 0xffe1 down", "keysym 0x76 down",
                                  "keysym 0x76 up", "keysym 0xffe1 up", "keysym 0xffe3 up"}));
    paste.reset();

    std::optional<bool> again;
    paste = open(again);
    EXPECT_EQ(portal.calls()[10], "SelectDevices types 1 persist 2 restoring consent-1");
    paste.reset();

    portal.remoteDevices = 0;  // the user let it have no keyboard
    std::optional<bool> refused;
    paste = open(refused);
    EXPECT_EQ(refused, false);
    EXPECT_FALSE(paste->focusPastesClipboard()) << "the text stays copied";
    size_t before = portal.calls().size();
    paste->post();
    spinUntil([] { return false; }, 1);
    EXPECT_EQ(portal.calls().size(), before);
    std::filesystem::remove(tokenFile);
}

}  // namespace
}  // namespace velvox::testing

#include "linux/wayland/PortalShortcuts.h"
#include "linux/wayland/RemoteDesktopPaste.h"

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
                                   "CreateSession with 2",
                                   "BindShortcuts our session, dictate \"Dictate while held\", "
                                   "boost \"Smart dictation while held\""}));
    portal->press("dictate", true, "/org/freedesktop/portal/desktop/session/1_99/other");
    portal->press("dictate", true);
    portal->press("dictate", true);  // the key repeats while held
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

    // KDE Plasma 5.27 binds only what came with the session, and says so when asked.
    portal->bindsOnlyAtCreation = true;
    Outcome plasma;
    auto registered = plasma.ask();
    EXPECT_EQ(plasma.nextTrigger(), "Press Super+D");
    EXPECT_EQ(portal->calls().back(), "ListShortcuts");
    portal->bindsOnlyAtCreation = false;

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

// The paste keys through the desktop's remote desktop portal: asked for when
// a paste first needs them, the consent kept for the next start; a key the
// desktop lost gets a new session for the next paste; a refusal types nothing.
// (What the keys are, and that none is left pressed, every paste keystroke
// promises alike.)
TEST(PortalShortcutsTest, RemoteDesktopAsksWhenAPasteNeedsItAndRecoversFromALostKey) {
    StandInPortal portal;
    ASSERT_TRUE(portal.ownsName());
    std::string tokenFile = ::testing::TempDir() + "velvox-remote-desktop-token";
    std::filesystem::remove(tokenFile);
    std::vector<bool> answers;
    auto open = [&] {
        return std::make_unique<RemoteDesktopPaste>(
            tokenFile, [] { return false; }, [&](bool agreed) { answers.push_back(agreed); });
    };
    // What one paste sends, once it is answered.
    auto paste = [](RemoteDesktopPaste& keys) {
        std::optional<bool> sent;
        keys.post([&](bool ok) { sent = ok; });
        spinUntil([&] { return sent.has_value(); });
        return sent;
    };
    auto keys = open();
    spinUntil([] { return false; }, 0.3);
    EXPECT_TRUE(portal.calls().empty()) << "nothing asked before a paste needs it";
    EXPECT_EQ(paste(*keys), true);
    auto calls = portal.calls();
    calls.resize(3);
    EXPECT_EQ(calls, (std::vector<std::string>{"CreateSession", "SelectDevices types 1 persist 2",
                                               "Start"}));
    EXPECT_EQ(answers, std::vector<bool>{true});

    portal.failingKey = 5;  // the second paste's V press
    EXPECT_EQ(paste(*keys), false);
    size_t lost = portal.calls().size();
    EXPECT_EQ(paste(*keys), true);
    EXPECT_EQ(portal.calls()[lost], "CreateSession") << "a new session";
    EXPECT_NE(portal.calls()[lost + 1].find("restoring consent-1"), std::string::npos);

    portal.remoteDevices = 0;  // the user lets it have no keyboard
    keys = open();
    EXPECT_EQ(paste(*keys), false);
    EXPECT_FALSE(keys->focusPastesClipboard()) << "the text stays copied";
    size_t before = portal.calls().size();
    EXPECT_EQ(paste(*keys), false);
    EXPECT_EQ(portal.calls().size(), before) << "a refusal holds";
    std::filesystem::remove(tokenFile);
}

}  // namespace
}  // namespace velvox::testing

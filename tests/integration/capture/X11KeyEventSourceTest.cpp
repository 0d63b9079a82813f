#include <gtest/gtest.h>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include "capture/HotkeyMonitor.h"
#include "integration/capture/GrabbedKey.h"
#include "integration/contracts/Contract.h"
#include "linux/x11/InjectedKeys.h"
#include "linux/x11/X11KeyEventSource.h"
#include "linux/x11/XTestPaste.h"
#include "support/MainLoop.h"
#include "support/Shell.h"

namespace velvox::testing {
namespace {

using Events = std::vector<std::string>;

class X11KeyEventSourceTest : public DesktopTest {
  protected:
    void SetUp() override {
        DesktopTest::SetUp();
        source = std::make_shared<X11KeyEventSource>();
        Platform::installKeyEventSource(source);
    }
    void TearDown() override {
        monitor.reset();
        source->stop();
        shell("xdotool keyup F5 keyup Alt_R keyup Alt_L keyup Super_L keyup Control_L keyup shift");
        XCloseDisplay(other);
        DesktopTest::TearDown();
    }

    // The hotkey logic on top of the real source: what it reports goes to
    // `heard` ("down 96", "up 96", "captured none"), other keys to `others`.
    void startMonitor(const std::vector<int64_t>& keys) {
        heard.clear();
        others.clear();
        window->forget();
        monitor = std::make_unique<HotkeyMonitor>();
        auto note = [this](const char* what, std::optional<int64_t> code) {
            heard.push_back(what + (code ? std::to_string(*code) : "none"));
        };
        monitor->onDown = [note](int64_t code) { note("down ", code); };
        monitor->onUp = [note](int64_t code) { note("up ", code); };
        monitor->onCaptured = [note](std::optional<int64_t> code) { note("captured ", code); };
        monitor->onOtherKeyDown = [this](int64_t code) { others.push_back(code); };
        monitor->setKeys(keys);
        EXPECT_TRUE(monitor->start());
    }
    // Types with xdotool, then waits until the monitor has reported `count` events in all.
    bool xdotool(const std::string& keys, size_t count) {
        return shell("xdotool " + keys) && spinUntil([&] { return heard.size() >= count; });
    }
    bool reached(const std::string& key) {
        return window->saw("key press " + key + " ") || window->saw("key release " + key + " ");
    }
    // Types F12 (no lock or layout changes it) and waits until the window has
    // it: every key event sent before has then been handled by the server.
    bool typeMarker() {
        return shell("xdotool key F12") && window->waitForPrefix("key release F12 ");
    }
    // Another client grabs F5 (or lets go of it) with these modifiers.
    void otherGrabsF5(unsigned modifiers, bool grab = true) {
        otherClientGrabsF5(other, modifiers, grab);
    }

    // What the user types into: the delivery tests' window ("key press F5 none").
    std::unique_ptr<DeliveryWindowProcess> window = focusedWindow();
    Display* other = XOpenDisplay(nullptr);
    std::shared_ptr<X11KeyEventSource> source;
    std::unique_ptr<HotkeyMonitor> monitor;
    Events heard;
    std::vector<int64_t> others;
};

// A held F5 fires once and never reaches the window, whatever else holds or
// locks the keyboard, and after the layout changes under the running source (a
// new keymap, or another group of it). Another client holding Control+F5 leaves
// us the grabs of F5 with each combination of the locks only.
TEST_F(X11KeyEventSourceTest, HotkeyFiresOnceAndIsSwallowedWithLocksModifiersAndLayouts) {
    const char* locks = "xdotool key Caps_Lock Num_Lock";
    struct Case {
        const char* name;
        const char* on;   // after the start
        const char* off;  // undoes it
        bool otherHoldsControlF5;
        unsigned locked;      // the locked modifiers then
        int group;            // locked with the XKB API after `on`
        const char* reaches;  // a key of `on` the window gets
    } cases[] = {
        // clang-format off
        {"shift held", "xdotool keydown shift", "xdotool keyup shift", false, 0, 0, "Shift_L"},
        {"num lock", "xdotool key Num_Lock", "xdotool key Num_Lock", false, Mod2Mask, 0, "Num_Lock"},
        {"caps lock", "xdotool key Caps_Lock", "xdotool key Caps_Lock", false, LockMask, 0, "Caps_Lock"},
        {"both locks, another client holds Control+F5", locks, locks, true, LockMask | Mod2Mask, 0, "Num_Lock"},
        {"num lock, another client holds Control+F5", "xdotool key Num_Lock", "xdotool key Num_Lock", true, Mod2Mask, 0, "Num_Lock"},
        {"new layout", "setxkbmap fr", "setxkbmap us", false, 0, 0, nullptr},
        {"new layout and locks, another client holds Control+F5", "setxkbmap de && xdotool key Caps_Lock Num_Lock",
         "xdotool key Caps_Lock Num_Lock && setxkbmap us", true, LockMask | Mod2Mask, 0, "Caps_Lock"},
        {"second group of the keymap", "setxkbmap us,fr", "setxkbmap us", false, 0, 1, nullptr},
        {"second group, another client holds Control+F5", "setxkbmap us,de", "setxkbmap us", true, 0, 1, nullptr},
        // clang-format on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.otherHoldsControlF5) otherGrabsF5(ControlMask);
        startMonitor({96});
        ASSERT_TRUE(shell(c.on));
        if (c.group) XkbLockGroup(other, XkbUseCoreKbd, c.group);
        ASSERT_TRUE(typeMarker());  // the server has made the change
        drainMainLoop();            // and the source has seen it
        XkbStateRec state;
        XkbGetState(other, XkbUseCoreKbd, &state);
        EXPECT_EQ(state.locked_mods, c.locked);
        EXPECT_EQ(state.locked_group, c.group);
        EXPECT_TRUE(monitor->takenKeys().empty());
        ASSERT_TRUE(xdotool("keydown F5 sleep 0.6 keyup F5", 2));  // long enough to repeat
        ASSERT_TRUE(typeMarker());
        EXPECT_EQ(heard, (Events{"down 96", "up 96"}));
        EXPECT_FALSE(reached("F5"));
        EXPECT_TRUE(!c.reaches || window->saw("key press " + std::string(c.reaches)));
        ASSERT_TRUE(shell(c.off));
        monitor.reset();
        if (c.otherHoldsControlF5) otherGrabsF5(ControlMask, false);
    }
    EXPECT_EQ(logged("hotkeys: key 96 is grabbed by another application"), 0u);
}

TEST_F(X11KeyEventSourceTest,
       ModifierHotkeyFiresOnlyForTheUsersOwnKeyOnItsSideAndCaptureTakesTheNextKey) {
    startMonitor({61});
    ASSERT_TRUE(shell("xdotool key Alt_L") && typeMarker());
    EXPECT_TRUE(heard.empty()) << "left alt is not right alt";
    ASSERT_TRUE(xdotool("key Alt_R", 2) && typeMarker());
    EXPECT_EQ(heard, (Events{"down 61", "up 61"}));
    EXPECT_TRUE(window->saw("key press Alt_R") && window->saw("key release Alt_R"));

    // Escape or a letter typed while it is held reaches the hotkey logic
    // (which may cancel or discard the take) and the window alike.
    startMonitor({62});
    ASSERT_TRUE(xdotool("keydown Control_R key Escape key q keyup Control_R", 2));
    EXPECT_EQ(others, (std::vector<int64_t>{53, 12}));
    ASSERT_TRUE(typeMarker());
    EXPECT_TRUE(window->saw("key press Escape") && window->saw("key press q"));

    // The paste types Control+V through XTEST, the device xdotool uses too:
    // our own keystroke must not look like the user pressing a control
    // hotkey, while the same key from anyone else still counts.
    startMonitor({59});
    auto paste = XTestPaste::create();
    ASSERT_TRUE(paste);
    paste->post({});
    ASSERT_TRUE(spinUntil([] { return !InjectedKeys::active(); }) && typeMarker());
    EXPECT_TRUE(window->saw("key press Control_L") && window->saw("key release v"))
        << "the paste reached the window";
    EXPECT_TRUE(heard.empty()) << "our Control+V is not the left control hotkey";
    ASSERT_TRUE(xdotool("key Control_L", 2));
    EXPECT_EQ(heard, (Events{"down 59", "up 59"}));

    // A hotkey held through the same device stays held across our paste and
    // its release still counts; another client's key counts while one of
    // ours is still on its way.
    startMonitor({96, 61});
    ASSERT_TRUE(xdotool("keydown F5", 1));
    paste->post({});
    ASSERT_TRUE(xdotool("keyup F5", 2));
    InjectedKeys::expect(55, true);  // a V of ours the server dropped
    ASSERT_TRUE(xdotool("key Alt_R", 4));
    EXPECT_EQ(heard, (Events{"down 96", "up 96", "down 61", "up 61"}));

    // A capture takes the next key away from the window.
    startMonitor({96});
    monitor->capture();
    ASSERT_TRUE(xdotool("key Escape", 1));  // cancels
    monitor->capture();
    ASSERT_TRUE(xdotool("key a", 2));
    ASSERT_TRUE(typeMarker()) << "the keyboard is given back after the capture";
    EXPECT_EQ(heard, (Events{"captured none", "captured 0"})) << "no hotkey fires while capturing";
    EXPECT_FALSE(reached("a") || reached("Escape"));
}

// A second client holds F5 with every modifier: only F5 is lost, right alt
// goes on firing, the log says so once however often the grab is tried, and
// F5 is ours again as soon as the other lets go.
TEST_F(X11KeyEventSourceTest, GrabsSurviveAnotherClientHoldingTheKeyAndALostConnection) {
    otherGrabsF5(AnyModifier);
    startMonitor({96, 61});
    EXPECT_EQ(monitor->takenKeys(), std::vector<int64_t>{96});
    for (int retry = 0; retry < 3; ++retry) monitor->retryTakenKeys();
    EXPECT_EQ(logged("hotkeys: key 96 is grabbed by another application"), 1u);
    ASSERT_TRUE(shell("xdotool key F5") && xdotool("key Alt_R", 2));
    EXPECT_EQ(heard, (Events{"down 61", "up 61"})) << "F5 acts for the other client only";

    otherGrabsF5(AnyModifier, false);
    monitor->retryTakenKeys();
    EXPECT_TRUE(monitor->takenKeys().empty());
    ASSERT_TRUE(xdotool("key F5", 4) && typeMarker());
    EXPECT_EQ(heard, (Events{"down 61", "up 61", "down 96", "up 96"}));
    EXPECT_FALSE(reached("F5")) << "swallowed again";

    // The key held when the connection is lost is let go, and the new
    // connection reports the key again.
    startMonitor({61});
    ASSERT_TRUE(xdotool("keydown Alt_R", 1));
    XKillClient(other, source->connectionResourceForTesting());
    XSync(other, False);
    ASSERT_TRUE(spinUntil([&] { return heard.size() == 2; }));
    EXPECT_GE(logged("hotkeys: lost the connection to the X display"), 1u);
    ASSERT_TRUE(xdotool("keyup Alt_R keydown Alt_R keyup Alt_R", 4));
    EXPECT_EQ(heard, (Events{"down 61", "up 61", "down 61", "up 61"}));
}

}  // namespace
}  // namespace velvox::testing

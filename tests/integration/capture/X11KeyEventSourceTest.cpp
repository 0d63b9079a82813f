#include <gtest/gtest.h>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CaptureSession.h"
#include "capture/HotkeyMonitor.h"
#include "platform/Platform.h"
#include "platform/linux/GlibMainQueue.h"
#include "platform/linux/x11/InjectedKeys.h"
#include "platform/linux/x11/X11KeyEventSource.h"
#include "platform/linux/x11/XTestPaste.h"
#include "platform/linux/x11/XkbKeyboardLayout.h"
#include "support/TempHome.h"

namespace velvox {
namespace {

using testing::run;
using testing::spinUntil;

// A small X11 window standing in for the application the user types into:
// it takes the focus and records the key events that reach it ("press F5").
struct TestWindow {
    TestWindow() {
        window = XCreateSimpleWindow(display, DefaultRootWindow(display), 100, 100, 300, 200, 0, 0,
                                     0xFFFFFF);
        XSelectInput(display, window, KeyPressMask | KeyReleaseMask);
        XStoreName(display, window, "capture target");
        XMapWindow(display, window);
        XSync(display, False);
    }
    ~TestWindow() { XCloseDisplay(display); }
    bool focus() {
        std::string id = std::to_string(window);
        return run(
            "xdotool search --sync --onlyvisible --name '^capture target$' >/dev/null && "
            "xdotool windowactivate --sync " +
            id + " && xdotool windowfocus --sync " + id);
    }
    bool received(const std::string& event) {
        for (XEvent next; XPending(display) > 0;) {
            XNextEvent(display, &next);
            const char* name =
                XKeysymToString(XkbKeycodeToKeysym(display, next.xkey.keycode, 0, 0));
            if (next.type == KeyPress || next.type == KeyRelease)
                events.push_back(std::string(next.type == KeyPress ? "press " : "release ") +
                                 (name ? name : "?"));
        }
        return std::find(events.begin(), events.end(), event) != events.end();
    }
    bool receivedAnyOf(const std::string& key) {
        return received("press " + key) || received("release " + key);
    }
    // Types x and waits until the window has it: every key event sent before
    // has then been handled by the server.
    bool typeMarker() {
        return run("xdotool key x") && spinUntil([&] { return received("release x"); });
    }

    Display* display = XOpenDisplay(nullptr);
    Window window = 0;
    std::vector<std::string> events;
};

class X11KeyEventSourceTest : public testing::TempHomeTest {
  protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        Platform::installMainQueue(std::make_shared<GlibMainQueue>());
        source = std::make_shared<X11KeyEventSource>();
        Platform::installKeyEventSource(source);
        ASSERT_TRUE(window.focus());
    }
    void TearDown() override {
        monitor.reset();
        source->stop();
        run("xdotool keyup F5 keyup Alt_R keyup Alt_L keyup Super_L keyup Control_L keyup shift");
        TempHomeTest::TearDown();
    }

    // Records "down 96", "repeat 96", "up 96"; modifier keys come as "flags 61".
    KeyEventSource::Handler recorder() {
        return [this](const KeyEvent& event) {
            bool down = event.type == KeyEventType::keyDown;
            seen.push_back((down ? event.autorepeat ? "repeat " : "down "
                            : event.type == KeyEventType::keyUp ? "up "
                                                                : "flags ") +
                           std::to_string(event.keyCode));
            return KeyEventVerdict::pass;
        };
    }
    // The hotkey logic on top of the real source, with its callbacks recorded.
    void startMonitor(const std::vector<int64_t>& keys) {
        downs.clear(), ups.clear(), others.clear(), window.events.clear();
        monitor = std::make_unique<HotkeyMonitor>();
        monitor->onDown = [this](int64_t code) { downs.push_back(code); };
        monitor->onUp = [this](int64_t code) { ups.push_back(code); };
        monitor->onCaptured = [this](std::optional<int64_t> code) { captured.push_back(code); };
        monitor->onOtherKeyDown = [this](int64_t code) { others.push_back(code); };
        monitor->setKeys(keys);
        EXPECT_TRUE(monitor->start());
    }
    size_t count(const std::string& event) const {
        return std::count(seen.begin(), seen.end(), event);
    }
    bool logged(const std::string& message) const {
        auto messages = logMessages();
        return std::find(messages.begin(), messages.end(), message) != messages.end();
    }
    // Presses and lets go of the key, then waits for its release to be reported.
    bool press(const std::string& key) {
        size_t before = ups.size();
        return run("xdotool key " + key) && spinUntil([&] { return ups.size() > before; });
    }

    TestWindow window;
    std::shared_ptr<X11KeyEventSource> source;
    std::unique_ptr<HotkeyMonitor> monitor;
    std::vector<std::string> seen;
    std::vector<int64_t> downs, ups, others;
    std::vector<std::optional<int64_t>> captured;
};

TEST_F(X11KeyEventSourceTest, SwallowedKeyRepeatsWhileHeldAndNeverReachesTheWindow) {
    source->setSwallowedKeys({96});
    ASSERT_TRUE(source->start(recorder()));
    ASSERT_TRUE(run("xdotool keydown F5"));
    ASSERT_TRUE(spinUntil([&] { return count("repeat 96") >= 2; }));
    ASSERT_TRUE(run("xdotool keyup F5"));
    ASSERT_TRUE(spinUntil([&] { return count("up 96") == 1; }));
    ASSERT_TRUE(window.typeMarker());
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), "down 96");
    EXPECT_EQ(count("down 96"), 1u) << "the grab's copy of the press is not reported twice";
    auto upAt = std::find(seen.begin(), seen.end(), "up 96");
    EXPECT_EQ(std::count(upAt, seen.end(), "repeat 96"), 0) << "no repeat after the release";
    EXPECT_FALSE(window.receivedAnyOf("F5")) << ::testing::PrintToString(window.events);
}

// A held F5 fires once and never reaches the window, whatever else holds or
// locks the keyboard, and after the layout changes under the running source
// (the server's new keymap, or another group of the same one). Another
// client holding Control+F5 leaves us the grabs of F5 with each combination
// of the locks only.
TEST_F(X11KeyEventSourceTest, HotkeyFiresOnceAndIsSwallowedWithLocksModifiersAndLayouts) {
    Display* other = XOpenDisplay(nullptr);
    KeyCode f5 = XKeysymToKeycode(other, XStringToKeysym("F5"));
    struct Case {
        const char* name;
        const char* on;   // after the start
        const char* off;  // undoes it
        bool otherHoldsControlF5;
        unsigned locked;      // the locked modifiers then
        int group;            // locked with the XKB API after `on`
        const char* reaches;  // a key of `on` the window gets
    } cases[] = {
        {"shift held", "xdotool keydown shift", "xdotool keyup shift", false, 0, 0, "Shift_L"},
        {"num lock", "xdotool key Num_Lock", "xdotool key Num_Lock", false, Mod2Mask, 0,
         "Num_Lock"},
        {"caps lock", "xdotool key Caps_Lock", "xdotool key Caps_Lock", false, LockMask, 0,
         "Caps_Lock"},
        {"both locks, another client holds Control+F5", "xdotool key Caps_Lock Num_Lock",
         "xdotool key Caps_Lock Num_Lock", true, LockMask | Mod2Mask, 0, "Num_Lock"},
        {"num lock, another client holds Control+F5", "xdotool key Num_Lock",
         "xdotool key Num_Lock", true, Mod2Mask, 0, "Num_Lock"},
        {"new layout", "setxkbmap fr", "setxkbmap us", false, 0, 0, nullptr},
        {"new layout and locks, another client holds Control+F5",
         "setxkbmap de && xdotool key Caps_Lock Num_Lock",
         "xdotool key Caps_Lock Num_Lock && setxkbmap us", true, LockMask | Mod2Mask, 0,
         "Caps_Lock"},
        {"second group of the keymap", "setxkbmap us,fr", "setxkbmap us", false, 0, 1, nullptr},
        {"second group, another client holds Control+F5", "setxkbmap us,de", "setxkbmap us", true,
         0, 1, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.otherHoldsControlF5) {
            XGrabKey(other, f5, ControlMask, DefaultRootWindow(other), False, GrabModeAsync,
                     GrabModeAsync);
            XSync(other, False);
        }
        startMonitor({96});
        ASSERT_TRUE(run(c.on));
        if (c.group) XkbLockGroup(other, XkbUseCoreKbd, c.group);
        ASSERT_TRUE(window.typeMarker());  // the server has made the change
        testing::drainMainLoop();          // and the source has seen it
        XkbStateRec state;
        XkbGetState(other, XkbUseCoreKbd, &state);
        EXPECT_EQ(state.locked_mods, c.locked);
        EXPECT_EQ(state.locked_group, c.group);
        EXPECT_TRUE(monitor->takenKeys().empty());
        ASSERT_TRUE(run("xdotool keydown F5 sleep 0.6 keyup F5"));  // long enough to repeat
        ASSERT_TRUE(spinUntil([&] { return !ups.empty(); }));
        ASSERT_TRUE(window.typeMarker());
        EXPECT_EQ(downs, std::vector<int64_t>{96});
        EXPECT_EQ(ups, std::vector<int64_t>{96});
        EXPECT_FALSE(window.receivedAnyOf("F5")) << ::testing::PrintToString(window.events);
        EXPECT_TRUE(!c.reaches || window.received("press " + std::string(c.reaches)));
        ASSERT_TRUE(run(c.off));
        monitor.reset();
        if (c.otherHoldsControlF5) XUngrabKey(other, f5, ControlMask, DefaultRootWindow(other));
    }
    EXPECT_FALSE(logged("hotkeys: key 96 is grabbed by another application"));
    XCloseDisplay(other);
}

TEST_F(X11KeyEventSourceTest, ModifierHotkeyFiresOnlyForItsOwnSideAndIsNotSwallowed) {
    startMonitor({61});
    ASSERT_TRUE(run("xdotool key Alt_L"));
    ASSERT_TRUE(window.typeMarker());
    EXPECT_TRUE(downs.empty()) << "left alt is not right alt";
    ASSERT_TRUE(press("Alt_R"));
    EXPECT_EQ(downs, std::vector<int64_t>{61});
    EXPECT_EQ(ups, std::vector<int64_t>{61});
    ASSERT_TRUE(window.typeMarker());
    EXPECT_TRUE(window.received("press Alt_R"));
    EXPECT_TRUE(window.received("release Alt_R"));

    // Escape or a letter typed while it is held reaches the hotkey logic
    // (which may cancel or discard the take) and the window alike.
    startMonitor({62});
    ASSERT_TRUE(run("xdotool keydown Control_R key Escape key q keyup Control_R"));
    ASSERT_TRUE(spinUntil([&] { return ups.size() == 1; }));
    EXPECT_EQ(others, (std::vector<int64_t>{53, 12}));
    ASSERT_TRUE(window.typeMarker());
    EXPECT_TRUE(window.received("press Escape"));
    EXPECT_TRUE(window.received("press q"));
}

// The paste types Control+V through XTEST, the device xdotool uses too: our
// own keystroke must not look like the user pressing a control hotkey, while
// the same key from anyone else still counts.
TEST_F(X11KeyEventSourceTest, OwnPasteKeystrokeIsNotTakenForTheHotkey) {
    startMonitor({59});
    auto paste = XTestPaste::create();
    ASSERT_TRUE(paste);
    paste->post();
    ASSERT_TRUE(spinUntil([] { return !InjectedKeys::active(); }));
    ASSERT_TRUE(window.typeMarker());
    EXPECT_TRUE(window.received("press Control_L")) << "the paste reached the window";
    EXPECT_TRUE(window.received("release v"));
    EXPECT_TRUE(downs.empty() && ups.empty()) << "our Control+V is not the left control hotkey";
    ASSERT_TRUE(press("Control_L"));
    EXPECT_EQ(downs, std::vector<int64_t>{59});
    EXPECT_EQ(ups, std::vector<int64_t>{59});
}

TEST_F(X11KeyEventSourceTest, CaptureTakesTheNextKeyAwayFromTheWindow) {
    startMonitor({96});
    monitor->capture();
    ASSERT_TRUE(run("xdotool key Escape"));
    ASSERT_TRUE(spinUntil([&] { return captured.size() == 1; }));
    EXPECT_EQ(captured.front(), std::nullopt) << "escape cancels";
    monitor->capture();
    ASSERT_TRUE(run("xdotool key a"));
    ASSERT_TRUE(spinUntil([&] { return captured.size() == 2; }));
    EXPECT_EQ(captured.back(), std::optional<int64_t>(0));
    ASSERT_TRUE(window.typeMarker()) << "the keyboard is given back after the capture";
    EXPECT_FALSE(window.receivedAnyOf("a") || window.receivedAnyOf("Escape"))
        << ::testing::PrintToString(window.events);
    EXPECT_TRUE(downs.empty()) << "no hotkey fires while capturing";
}

// A second client holds F5 with every modifier: only F5 is lost, right alt
// goes on firing, the log says so once however often the grab is tried, and
// F5 is ours again as soon as the other lets go.
TEST_F(X11KeyEventSourceTest, HotkeyHeldByAnotherClientCostsOnlyThatKey) {
    Display* other = XOpenDisplay(nullptr);
    KeyCode f5 = XKeysymToKeycode(other, XStringToKeysym("F5"));
    XGrabKey(other, f5, AnyModifier, DefaultRootWindow(other), False, GrabModeAsync, GrabModeAsync);
    XSync(other, False);
    startMonitor({96, 61});
    EXPECT_EQ(monitor->takenKeys(), std::vector<int64_t>{96});
    for (int retry = 0; retry < 3; ++retry) monitor->retryTakenKeys();
    auto messages = logMessages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(),
                         "hotkeys: key 96 is grabbed by another application"),
              1);
    ASSERT_TRUE(run("xdotool key F5"));
    ASSERT_TRUE(press("Alt_R"));
    EXPECT_EQ(downs, std::vector<int64_t>{61}) << "F5 acts for the other client only";

    XUngrabKey(other, f5, AnyModifier, DefaultRootWindow(other));
    XCloseDisplay(other);
    monitor->retryTakenKeys();
    EXPECT_TRUE(monitor->takenKeys().empty());
    ASSERT_TRUE(press("F5"));
    EXPECT_EQ(downs, (std::vector<int64_t>{61, 96}));
    ASSERT_TRUE(window.typeMarker());
    EXPECT_FALSE(window.receivedAnyOf("F5")) << "swallowed again";
    EXPECT_FALSE(source->canReport(63)) << "fn has no X key code";
    EXPECT_TRUE(source->canReport(source->defaultHotkeys().dictation));
}

TEST_F(X11KeyEventSourceTest, LostConnectionReleasesTheHeldKeyAndReconnects) {
    startMonitor({61});
    ASSERT_TRUE(run("xdotool keydown Alt_R"));
    ASSERT_TRUE(spinUntil([&] { return downs.size() == 1; }));
    XKillClient(window.display, source->connectionResourceForTesting());
    XSync(window.display, False);
    ASSERT_TRUE(spinUntil([&] { return ups.size() == 1; }));
    EXPECT_EQ(ups, std::vector<int64_t>{61});
    EXPECT_TRUE(logged("hotkeys: lost the connection to the X display"));
    ASSERT_TRUE(run("xdotool keyup Alt_R keydown Alt_R keyup Alt_R"));
    ASSERT_TRUE(spinUntil([&] { return ups.size() == 2; }));
    EXPECT_EQ(downs, (std::vector<int64_t>{61, 61})) << "the new connection reports the key";
}

TEST_F(X11KeyEventSourceTest, NoDisplayMeansNoHookAndNoCharacters) {
    testing::ScopedEnvironment noDisplay("DISPLAY", std::nullopt);
    X11KeyEventSource lonely;
    EXPECT_FALSE(lonely.start(recorder()));
    EXPECT_TRUE(logged("hotkeys: no X display to watch"));
    EXPECT_EQ(XkbKeyboardLayout().character(0), std::nullopt);
}

}  // namespace
}  // namespace velvox

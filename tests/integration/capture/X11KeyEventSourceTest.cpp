#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CaptureSession.h"
#include "TestWindow.h"
#include "capture/HotkeyMonitor.h"
#include "platform/Platform.h"
#include "platform/linux/GlibMainQueue.h"
#include "platform/linux/InjectedKeys.h"
#include "platform/linux/X11KeyEventSource.h"
#include "platform/linux/XTestPaste.h"
#include "support/TempHome.h"

namespace velvox {
namespace {

using testing::run;
using testing::runMainLoopUntil;

std::string describe(const KeyEvent& event) {
    char flags[32];
    std::snprintf(flags, sizeof(flags), "%llx", static_cast<unsigned long long>(event.flags));
    std::string code = std::to_string(event.keyCode);
    switch (event.type) {
        case KeyEventType::keyDown:
            return (event.autorepeat ? "repeat " : "down ") + code;
        case KeyEventType::keyUp:
            return "up " + code;
        case KeyEventType::flagsChanged:
            return "flags " + code + " " + flags;
        case KeyEventType::tapDisabled:
            return "disabled";
    }
    return "?";
}

class X11KeyEventSourceTest : public testing::TempHomeTest {
  protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        Platform::installMainQueue(std::make_shared<GlibMainQueue>());
        source = std::make_shared<X11KeyEventSource>();
        Platform::installKeyEventSource(source);
        ASSERT_TRUE(window.open());
        ASSERT_TRUE(window.focus());
    }
    void TearDown() override {
        monitor.reset();
        source->stop();
        run("xdotool keyup F5 keyup Alt_R keyup Alt_L keyup Super_L keyup Control_L");
        TempHomeTest::TearDown();
    }

    KeyEventSource::Handler recorder() {
        return [this](const KeyEvent& event) {
            seen.push_back(describe(event));
            return KeyEventVerdict::pass;
        };
    }
    // The hotkey logic on top of the real source, with its callbacks recorded.
    HotkeyMonitor& startMonitor(const std::vector<int64_t>& keys) {
        monitor = std::make_unique<HotkeyMonitor>();
        monitor->onDown = [this](int64_t code) { downs.push_back(code); };
        monitor->onUp = [this](int64_t code) { ups.push_back(code); };
        monitor->onCaptured = [this](std::optional<int64_t> code) { captured.push_back(code); };
        monitor->onOtherKeyDown = [this](int64_t code) { others.push_back(code); };
        monitor->setKeys(keys);
        EXPECT_TRUE(monitor->start());
        return *monitor;
    }
    size_t count(const std::string& event) const {
        return std::count(seen.begin(), seen.end(), event);
    }

    testing::TestWindow window;
    std::shared_ptr<X11KeyEventSource> source;
    std::unique_ptr<HotkeyMonitor> monitor;
    std::vector<std::string> seen;
    std::vector<int64_t> downs, ups, others;
    std::vector<std::optional<int64_t>> captured;
};

TEST_F(X11KeyEventSourceTest, ModifierKeysArriveAsFlagChangesAndStillReachTheWindow) {
    ASSERT_TRUE(source->start(recorder()));
    // xdotool presses left alt along with right alt (its own modifier handling).
    ASSERT_TRUE(run("xdotool keydown Alt_R keydown Super_L keyup Super_L keyup Alt_R"));
    ASSERT_TRUE(runMainLoopUntil([&] { return count("flags 61 0") == 1; }));
    EXPECT_EQ(count("flags 61 60"), 1u) << "right alt down, with left alt: both bits";
    EXPECT_EQ(count("flags 55 68"), 1u) << "left super down on top";
    EXPECT_EQ(count("flags 55 60"), 1u) << "left super up, once even if released twice";
    EXPECT_EQ(count("flags 58 40"), 1u) << "left alt up, right alt still down";
    for (const std::string& event : seen) {
        EXPECT_EQ(event.rfind("flags ", 0), 0u) << event << ": modifiers are flag changes only";
    }
    ASSERT_TRUE(window.typeMarker());
    EXPECT_TRUE(window.received("press Alt_R"));
    EXPECT_TRUE(window.received("release Super_L"));
}

TEST_F(X11KeyEventSourceTest, SwallowedKeyRepeatsWhileHeldAndNeverReachesTheWindow) {
    source->setSwallowedKeys({96});
    ASSERT_TRUE(source->start(recorder()));
    ASSERT_TRUE(run("xdotool keydown F5"));
    ASSERT_TRUE(runMainLoopUntil([&] { return count("repeat 96") >= 2; }));
    ASSERT_TRUE(run("xdotool keyup F5"));
    ASSERT_TRUE(runMainLoopUntil([&] { return count("up 96") == 1; }));
    ASSERT_TRUE(window.typeMarker());

    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), "down 96");
    EXPECT_EQ(count("down 96"), 1u) << "the grab's copy of the press is not reported twice";
    auto upAt = std::find(seen.begin(), seen.end(), "up 96");
    EXPECT_EQ(std::count(upAt, seen.end(), "repeat 96"), 0) << "no repeat after the release";
    EXPECT_FALSE(window.receivedAnyOf("F5")) << ::testing::PrintToString(window.events);
}

TEST_F(X11KeyEventSourceTest, ModifierHotkeyFiresOnlyForItsOwnSide) {
    startMonitor({61});
    ASSERT_TRUE(run("xdotool key Alt_L"));
    ASSERT_TRUE(window.typeMarker());
    EXPECT_TRUE(downs.empty()) << "left alt is not right alt";

    ASSERT_TRUE(run("xdotool keydown Alt_R"));
    ASSERT_TRUE(runMainLoopUntil([&] { return downs.size() == 1; }));
    ASSERT_TRUE(run("xdotool keyup Alt_R"));
    ASSERT_TRUE(runMainLoopUntil([&] { return ups.size() == 1; }));
    EXPECT_EQ(downs, std::vector<int64_t>{61});
    EXPECT_EQ(ups, std::vector<int64_t>{61});
    ASSERT_TRUE(window.typeMarker());
    EXPECT_TRUE(window.received("press Alt_R")) << "a modifier hotkey is not swallowed";
    EXPECT_TRUE(window.received("release Alt_R"));
}

// Escape or a letter typed while a modifier hotkey is held reaches the hotkey
// logic (which may cancel or discard the take) and the window alike.
TEST_F(X11KeyEventSourceTest, KeysTypedWhileAModifierHotkeyIsHeldReachBothSides) {
    startMonitor({62});
    ASSERT_TRUE(run("xdotool keydown Control_R key Escape key q keyup Control_R"));
    ASSERT_TRUE(runMainLoopUntil([&] { return ups.size() == 1; }));
    EXPECT_EQ(others, (std::vector<int64_t>{53, 12}));
    ASSERT_TRUE(window.typeMarker());
    EXPECT_TRUE(window.received("press Escape"));
    EXPECT_TRUE(window.received("press q"));
}

TEST_F(X11KeyEventSourceTest, OrdinaryHotkeyFiresOnceWhileHeldWithModifiers) {
    startMonitor({96, 61});
    ASSERT_TRUE(run("xdotool keydown shift keydown F5"));
    ASSERT_TRUE(runMainLoopUntil([&] { return downs.size() == 1; }));
    // Hold it long enough for the server to repeat it.
    ASSERT_TRUE(run("sleep 1 && xdotool keyup F5 keyup shift"));
    ASSERT_TRUE(runMainLoopUntil([&] { return ups.size() == 1; }));
    ASSERT_TRUE(window.typeMarker());
    EXPECT_EQ(downs, std::vector<int64_t>{96});
    EXPECT_EQ(ups, std::vector<int64_t>{96});
    EXPECT_FALSE(window.receivedAnyOf("F5")) << ::testing::PrintToString(window.events);
    EXPECT_TRUE(window.received("press Shift_L"));
}

// The paste types Control+V through XTEST, the device xdotool uses too: our
// own keystroke must not look like the user pressing a control hotkey, while
// the same key from anyone else still counts.
TEST_F(X11KeyEventSourceTest, OwnPasteKeystrokeIsNotTakenForTheHotkey) {
    startMonitor({59});
    auto paste = XTestPaste::create();
    ASSERT_TRUE(paste);
    paste->post();
    ASSERT_TRUE(runMainLoopUntil([] { return !InjectedKeys::active(); }));
    ASSERT_TRUE(window.typeMarker());
    EXPECT_TRUE(window.received("press Control_L")) << "the paste reached the window";
    EXPECT_TRUE(window.received("release v"));
    EXPECT_TRUE(downs.empty()) << "our Control+V is not the left control hotkey";
    EXPECT_TRUE(ups.empty());

    ASSERT_TRUE(run("xdotool keydown Control_L"));
    ASSERT_TRUE(runMainLoopUntil([&] { return downs.size() == 1; }));
    ASSERT_TRUE(run("xdotool keyup Control_L"));
    ASSERT_TRUE(runMainLoopUntil([&] { return ups.size() == 1; }));
    EXPECT_EQ(downs, std::vector<int64_t>{59});
    EXPECT_EQ(ups, std::vector<int64_t>{59});
}

TEST_F(X11KeyEventSourceTest, CaptureTakesTheNextKeyAwayFromTheWindow) {
    startMonitor({96});
    monitor->capture();
    ASSERT_TRUE(run("xdotool key Escape"));
    ASSERT_TRUE(runMainLoopUntil([&] { return captured.size() == 1; }));
    EXPECT_EQ(captured.front(), std::nullopt) << "escape cancels";

    monitor->capture();
    ASSERT_TRUE(run("xdotool key a"));
    ASSERT_TRUE(runMainLoopUntil([&] { return captured.size() == 2; }));
    EXPECT_EQ(captured.back(), std::optional<int64_t>(0));
    ASSERT_TRUE(window.typeMarker()) << "the keyboard is given back after the capture";
    EXPECT_FALSE(window.receivedAnyOf("a")) << ::testing::PrintToString(window.events);
    EXPECT_FALSE(window.receivedAnyOf("Escape")) << ::testing::PrintToString(window.events);
    EXPECT_TRUE(downs.empty()) << "no hotkey fires while capturing";
}

// A second client holds F5: only F5 is lost, right alt goes on firing, the
// log says so once however often the grab is tried, and F5 is ours again as
// soon as the other lets go.
TEST_F(X11KeyEventSourceTest, HotkeyHeldByAnotherClientCostsOnlyThatKey) {
    Display* other = XOpenDisplay(nullptr);
    ASSERT_TRUE(other);
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
    ASSERT_TRUE(run("xdotool key F5 keydown Alt_R"));
    ASSERT_TRUE(runMainLoopUntil([&] { return downs.size() == 1; }));
    ASSERT_TRUE(run("xdotool keyup Alt_R"));
    ASSERT_TRUE(runMainLoopUntil([&] { return ups.size() == 1; }));
    EXPECT_EQ(downs, std::vector<int64_t>{61}) << "F5 acts for the other client only";

    XUngrabKey(other, f5, AnyModifier, DefaultRootWindow(other));
    XCloseDisplay(other);
    monitor->retryTakenKeys();
    EXPECT_TRUE(monitor->takenKeys().empty());
    ASSERT_TRUE(run("xdotool key F5"));
    ASSERT_TRUE(runMainLoopUntil([&] { return ups.size() == 2; }));
    EXPECT_EQ(downs, (std::vector<int64_t>{61, 96}));
    ASSERT_TRUE(window.typeMarker());
    EXPECT_FALSE(window.receivedAnyOf("F5")) << "swallowed again";

    EXPECT_FALSE(source->canReport(63)) << "fn has no X key code";
    EXPECT_TRUE(source->canReport(source->defaultHotkeys().dictation));
}

TEST_F(X11KeyEventSourceTest, LostConnectionReleasesTheHeldKeyAndReconnects) {
    startMonitor({61});
    ASSERT_TRUE(run("xdotool keydown Alt_R"));
    ASSERT_TRUE(runMainLoopUntil([&] { return downs.size() == 1; }));

    XKillClient(window.display(), source->connectionResourceForTesting());
    XSync(window.display(), False);
    ASSERT_TRUE(runMainLoopUntil([&] { return ups.size() == 1; }));
    EXPECT_EQ(ups, std::vector<int64_t>{61});
    auto messages = logMessages();
    EXPECT_NE(std::find(messages.begin(), messages.end(),
                        "hotkeys: lost the connection to the X display"),
              messages.end());

    ASSERT_TRUE(run("xdotool keyup Alt_R keydown Alt_R keyup Alt_R"));
    ASSERT_TRUE(runMainLoopUntil([&] { return ups.size() == 2; }));
    EXPECT_EQ(downs, (std::vector<int64_t>{61, 61})) << "the new connection reports the key";
}

TEST_F(X11KeyEventSourceTest, NoDisplayMeansNoHook) {
    testing::ScopedEnvironment noDisplay("DISPLAY", std::nullopt);
    X11KeyEventSource lonely;
    EXPECT_FALSE(lonely.start(recorder()));
    auto messages = logMessages();
    EXPECT_NE(std::find(messages.begin(), messages.end(), "hotkeys: no X display to watch"),
              messages.end());
}

}  // namespace
}  // namespace velvox

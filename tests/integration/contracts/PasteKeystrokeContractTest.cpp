#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "integration/capture/StandInPortal.h"
#include "integration/contracts/Contract.h"
#include "linux/wayland/RemoteDesktopPaste.h"
#include "linux/wayland/VirtualKeyboardPaste.h"
#include "linux/wayland/WaylandConnection.h"
#include "linux/x11/XTestPaste.h"
#include "support/MainLoop.h"

namespace velvox::testing {
namespace {

using Keys = std::vector<std::string>;

// What every way of typing the paste shortcut promises the paste logic, kept
// by XTEST on an X server, by a virtual keyboard of a Wayland compositor (each
// typing into another application's window, which reports the keys it gets)
// and by the desktop's remote desktop portal (whose stand-in records the keys
// it was asked to press). A driver makes the keystroke with a focus that is a
// terminal emulator's when `terminal` says so.
struct IntoWindow {
    bool terminal = false;
    std::unique_ptr<DeliveryWindowProcess> window = focusedWindow();
    Keys keysGot(size_t count) { return testing::keysGot(*window, count); }
    std::string text() { return window->lastText("entry"); }
};
struct XTestDriver : IntoWindow {
    static constexpr const char* kName = "XTest";
    std::shared_ptr<PasteKeystroke> keystroke = XTestPaste::create([this] { return terminal; });
    // A window without a paste key: xterm's, whose paste takes the primary selection.
    bool cannotPaste() {
        window = focusedWindow({"--class", "XTerm"});
        return true;
    }
    static std::optional<std::string> unavailable() { return needs("DISPLAY"); }
};
struct VirtualKeyboardDriver : IntoWindow {
    static constexpr const char* kName = "VirtualKeyboard";
    std::shared_ptr<PasteKeystroke> keystroke =
        VirtualKeyboardPaste::create(WaylandConnection::open(), [this] { return terminal; });
    static bool cannotPaste() { return false; }
    static std::optional<std::string> unavailable() { return needs("WAYLAND_DISPLAY"); }
};
struct RemoteDesktopDriver {
    static constexpr const char* kName = "RemoteDesktop";
    bool terminal = false;
    StandInPortal portal;
    std::string tokenFile = ::testing::TempDir() + "velvox-remote-desktop-token";
    std::shared_ptr<PasteKeystroke> keystroke = std::make_shared<RemoteDesktopPaste>(
        tokenFile, [this] { return terminal; }, [](bool) {});
    size_t taken = 0;
    ~RemoteDesktopDriver() { std::filesystem::remove(tokenFile); }
    Keys keysGot(size_t count) {
        static const std::map<std::string, std::string> names = {
            {"0xffe3", "Control_L"}, {"0xffe1", "Shift_L"}, {"0x76", "v"}};
        Keys keys;
        spinUntil([&] { return portal.calls().size() >= taken + count; }, 5);
        spinFor(std::chrono::milliseconds(300));
        auto calls = portal.calls();
        for (; taken < calls.size(); ++taken) {
            char symbol[16], state[8];
            if (std::sscanf(calls[taken].c_str(), "keysym %15s %7s", symbol, state) == 2)
                keys.push_back(names.at(symbol) + " " + state);
        }
        return keys;
    }
    static std::string text() { return "text entry "; }
    // The desktop loses the V key's press.
    bool cannotPaste() {
        portal.failingKey = 1;
        return true;
    }
    static std::optional<std::string> unavailable() { return needs("DBUS_SESSION_BUS_ADDRESS"); }
};

template <typename Driver>
class PasteKeystrokeContract : public ContractTest<Driver> {
  protected:
    // What post() said, each time it said it, once it said something.
    std::vector<bool> post() {
        std::vector<bool> said;
        this->driver->keystroke->post([&](bool sent) { said.push_back(sent); });
        spinUntil([&] { return !said.empty(); }, 5);
        spinFor(std::chrono::milliseconds(100));
        return said;
    }
};
using Drivers = ::testing::Types<XTestDriver, VirtualKeyboardDriver, RemoteDesktopDriver>;
TYPED_TEST_SUITE(PasteKeystrokeContract, Drivers, DriverName);

// Each post types the shortcut once, every key pressed released in reverse
// order, and says once that it went out; a terminal's shortcut holds Shift too.
TYPED_TEST(PasteKeystrokeContract, EachPostTypesTheShortcutOnceAndReleasesEveryKey) {
    ASSERT_TRUE(this->driver->keystroke);
    const Keys plain = {"Control_L down", "v down", "v up", "Control_L up"};
    const Keys terminal = {"Control_L down", "Shift_L down", "v down",
                           "v up",           "Shift_L up",   "Control_L up"};
    for (const Keys* keys : {&plain, &plain, &terminal, &plain}) {
        this->driver->terminal = keys == &terminal;
        EXPECT_EQ(this->post(), std::vector<bool>{true});
        EXPECT_EQ(this->driver->keysGot(keys->size()), *keys);
    }
    EXPECT_TRUE(this->driver->keystroke->focusPastesClipboard());
}

// A keystroke that cannot be made says so, once, and leaves no key pressed.
TYPED_TEST(PasteKeystrokeContract, AKeystrokeThatCannotBeMadeSaysSoAndLeavesNothingPressed) {
    ASSERT_TRUE(this->driver->keystroke);
    if (!this->driver->cannotPaste()) GTEST_SKIP() << "nothing here keeps its keys from going out";
    EXPECT_EQ(this->post(), std::vector<bool>{false});
    std::map<std::string, int> held;
    for (const auto& key : this->driver->keysGot(0))
        held[key.substr(0, key.find(' '))] += key.ends_with(" down") ? 1 : -1;
    for (const auto& [key, count] : held) EXPECT_EQ(count, 0) << key << " is left pressed";
}

// Typing types the whole text into the focused field, or types nothing.
TYPED_TEST(PasteKeystrokeContract, TypingTypesTheWholeTextOrNothing) {
    ASSERT_TRUE(this->driver->keystroke);
    const std::string text = "ls -l ~/Über";
    if (this->driver->keystroke->type(text)) {
        EXPECT_TRUE(spinUntil([&] { return this->driver->text() == "text entry " + text; }, 5))
            << this->driver->text();
    } else {
        EXPECT_EQ(this->driver->keysGot(0), Keys{});
        EXPECT_EQ(this->driver->text(), "text entry ");
    }
}

}  // namespace
}  // namespace velvox::testing

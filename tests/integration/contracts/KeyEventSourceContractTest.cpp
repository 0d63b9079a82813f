#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "integration/capture/GrabbedKey.h"
#include "integration/contracts/Contract.h"
#include "linux/wayland/WaylandKeyEventSource.h"
#include "linux/x11/X11KeyEventSource.h"
#include "support/MainLoop.h"

namespace velvox::testing {
namespace {

// What every source of the session's keys promises the hotkey logic, kept by
// the X server's (which sees every key and holds back the hotkeys) and by a
// Wayland session's, where the desktop's shortcuts run `velvox dictate`
// instead and no key of another application is ever seen. A driver types on
// the session's keyboard into another application's window.
struct X11Driver {
    static constexpr const char* kName = "X11";
    std::shared_ptr<KeyEventSource> source = std::make_shared<X11KeyEventSource>();
    static bool type(const std::string& keys) { return shell("xdotool " + keys); }
    static std::string hold(const std::string& key) {
        return "keydown " + key + " sleep 1 keyup " + key;  // long enough to repeat
    }
    static std::string tap(const std::string& key) { return "key " + key; }
    static std::optional<std::string> unavailable() { return needs("DISPLAY"); }
};
struct WaylandDriver {
    static constexpr const char* kName = "Wayland";
    std::shared_ptr<KeyEventSource> source =
        std::make_shared<WaylandKeyEventSource>(std::make_shared<X11KeyEventSource>());
    // A virtual keyboard's first key may be lost while the compositor takes its keymap.
    static bool type(const std::string& keys) {
        return shell("wtype -P Shift_L -p Shift_L " + keys);
    }
    static std::string hold(const std::string& key) { return "-P " + key + " -s 1000 -p " + key; }
    static std::string tap(const std::string& key) { return "-k " + key; }
    static std::optional<std::string> unavailable() { return needs("WAYLAND_DISPLAY"); }
};

template <typename Driver>
class KeyEventSourceContract : public ContractTest<Driver> {
  protected:
    void TearDown() override {
        if (this->driver) source().stop();
        if (other) XCloseDisplay(other);
        ContractTest<Driver>::TearDown();
    }
    KeyEventSource& source() { return *this->driver->source; }
    // Starts the source with a handler that notes each event ("down 96",
    // "repeat 96", "up 96"), swallows F5 as the hotkey logic does, and holds
    // `token` while it is kept.
    bool start() {
        heard.clear();
        return source().start([this, held = token](const KeyEvent& event) {
            if (event.type == KeyEventType::keyDown || event.type == KeyEventType::keyUp)
                heard.push_back(std::string(event.type == KeyEventType::keyUp ? "up "
                                            : event.autorepeat                ? "repeat "
                                                                              : "down ") +
                                std::to_string(event.keyCode));
            return event.keyCode == 96 ? KeyEventVerdict::swallow : KeyEventVerdict::pass;
        });
    }
    // Types `keys`, then F12, and waits until the window has F12: every key
    // typed before has then reached whoever gets it.
    bool typeIntoTheWindow(const std::string& keys) {
        window->forget();
        bool arrived = Driver::type(keys) && Driver::type(Driver::tap("F12")) &&
                       window->waitForPrefix("key release F12 ");
        drainMainLoop();
        return arrived;
    }
    long count(const std::string& event) const { return std::ranges::count(heard, event); }
    bool windowGot(const std::string& key) { return window->saw("key press " + key + " "); }
    // Another client holds F5 with any modifiers, or lets go of it.
    void otherHoldsF5(bool holds) {
        if (!other) other = XOpenDisplay(nullptr);
        otherClientGrabsF5(other, AnyModifier, holds);
    }

    std::unique_ptr<DeliveryWindowProcess> window = focusedWindow();
    std::vector<std::string> heard;
    std::shared_ptr<int> token = std::make_shared<int>();
    Display* other = nullptr;
};
using Drivers = ::testing::Types<X11Driver, WaylandDriver>;
TYPED_TEST_SUITE(KeyEventSourceContract, Drivers, DriverName);

// Where the source sees the session's keys, a swallowed key held in another
// window is heard down once, repeating while held, up once, and never reaches
// that window, while other keys reach both; where it does not, nothing is heard and
// nothing held back. The swallowed keys hold across a stop and a new start; a
// stopped source lets go of its handler and of every key.
TYPED_TEST(KeyEventSourceContract, SwallowedKeysAreHeardNotPassedOnUntilTheSourceStops) {
    bool seesAll = this->source().seesGlobalKeys();
    this->source().enable();                // not started: nothing happens
    this->source().setSwallowedKeys({96});  // F5
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(this->start());
        ASSERT_TRUE(this->typeIntoTheWindow(TypeParam::hold("F5")));
        std::vector<std::string> expected;
        if (seesAll) {
            long repeats = this->count("repeat 96");
            EXPECT_GE(repeats, 1);
            expected = {"down 96"};
            expected.insert(expected.end(), size_t(repeats), "repeat 96");
            expected.insert(expected.end(), {"up 96", "down 111", "up 111"});  // F12 as well
        }
        EXPECT_EQ(this->heard, expected);
        EXPECT_EQ(this->windowGot("F5"), !seesAll);
        EXPECT_TRUE(this->windowGot("F12"));
        this->source().stop();
        EXPECT_EQ(this->token.use_count(), 1) << "the handler is let go";
        ASSERT_TRUE(this->typeIntoTheWindow(TypeParam::hold("F5")));
        EXPECT_TRUE(this->windowGot("F5")) << "a stopped source holds nothing back";
    }
}

// Only a swallowed key another application holds is taken, until it lets go;
// the hotkeys a new installation starts with are keys the source reports.
TYPED_TEST(KeyEventSourceContract, TakenKeysAreThoseAnotherApplicationHolds) {
    bool seesAll = this->source().seesGlobalKeys();
    this->otherHoldsF5(true);
    this->source().setSwallowedKeys({96, 61});
    ASSERT_TRUE(this->start());
    EXPECT_EQ(this->source().takenKeys(),
              seesAll ? std::vector<int64_t>{96} : std::vector<int64_t>{});
    this->otherHoldsF5(false);
    this->source().setSwallowedKeys({96, 61});
    EXPECT_EQ(this->source().takenKeys(), std::vector<int64_t>{});
    auto defaults = this->source().defaultHotkeys();
    EXPECT_TRUE(this->source().canReport(defaults.dictation));
    EXPECT_TRUE(this->source().canReport(defaults.boost));
    EXPECT_FALSE(this->source().canReport(63)) << "fn never reaches a PC's system";
}

}  // namespace
}  // namespace velvox::testing

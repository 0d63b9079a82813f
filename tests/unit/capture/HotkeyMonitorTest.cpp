#include "capture/HotkeyMonitor.h"

#include <gtest/gtest.h>

#include <sstream>

#include "fakes/FakeKeyEventSource.h"
#include "platform/Platform.h"
#include "support/TempHome.h"

namespace velvox::testing {
namespace {

using Strings = std::vector<std::string>;

// A monitor on a fake keyboard, driven by a script of space-separated steps:
//   d96 r96 u96   key-down, its repeat, key-up of key 96 (with the modifiers held)
//   +61 -61       modifier 61 pressed / released (a flag change)
//   ~61           modifier 61 let go without its release ever arriving
//   x             the system disables the source
//   keys=96,-1 start stop capture cancel   the monitor's own operations
// run() answers each event's verdict (S swallowed, P passed, - not delivered)
// followed by what reached the callbacks once the main queue ran, e.g.
// "S:down96 S:up96 P:other0".
class HotkeyMonitorTest : public TempHomeTest {
  protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        source = std::make_shared<FakeKeyEventSource>();
        Platform::installKeyEventSource(source);
        monitor = std::make_unique<HotkeyMonitor>();
        auto note = [this](std::string what) {
            return [this, what](int64_t code) { seen.push_back(what + std::to_string(code)); };
        };
        monitor->onDown = note("down");
        monitor->onUp = note("up");
        monitor->onOtherKeyDown = note("other");
        monitor->onCaptured = [this](std::optional<int64_t> code) {
            seen.push_back(code ? "cap" + std::to_string(*code) : "capnone");
        };
        monitor->onHotkeyNeverSeen = [this] { seen.push_back("never"); };
    }
    void TearDown() override {
        monitor.reset();
        TempHomeTest::TearDown();
    }

    std::string run(const std::string& script) {
        std::istringstream steps(script);
        std::string out;
        for (std::string step; steps >> step;) {
            int64_t code = std::atoll(step.c_str() + 1);
            if (step[0] == '+') flags |= modifierFlag(code);
            if (step[0] == '-' || step[0] == '~') flags &= ~modifierFlag(code);
            std::optional<std::optional<KeyEventVerdict>> verdict;
            if (step.starts_with("keys=")) {
                std::vector<int64_t> keys;
                std::istringstream list(step.substr(5));
                for (int64_t key; list >> key; list.ignore()) keys.push_back(key);
                monitor->setKeys(keys);
            } else if (step == "start") {
                EXPECT_TRUE(monitor->start());
            } else if (step == "stop") {
                monitor->stop();
            } else if (step == "capture") {
                monitor->capture();
            } else if (step == "cancel") {
                monitor->cancelCapture();
            } else if (step == "x") {
                verdict = source->disable();
            } else if (step[0] == '+' || step[0] == '-') {
                verdict = source->flagsChanged(code, flags);
            } else if (step[0] != '~') {
                verdict =
                    source->send({step[0] == 'u' ? KeyEventType::keyUp : KeyEventType::keyDown,
                                  code, flags, step[0] == 'r'});
            }
            EXPECT_TRUE(seen.empty()) << step << ": callbacks wait for the main queue";
            queue->runUntilIdle();
            if (verdict) {
                out += out.empty() ? "" : " ";
                out += !*verdict ? '-' : **verdict == KeyEventVerdict::swallow ? 'S' : 'P';
            }
            for (const auto& call : std::exchange(seen, {})) out += ":" + call;
        }
        return out;
    }
    bool warns(const std::string& script) { return run(script).find("never") != std::string::npos; }
    static std::string taps(int count, const std::string& tap = "+56 -56 ") {
        std::string out;
        while (count-- > 0) out += tap;
        return out;
    }
    std::shared_ptr<FakeKeyEventSource> source;
    std::unique_ptr<HotkeyMonitor> monitor;
    Strings seen;
    uint64_t flags = 0;
};

TEST_F(HotkeyMonitorTest, HoldsOfOrdinaryAndModifierHotkeys) {
    // clang-format off
    struct Case { const char *script, *result; } cases[] = {
        // An ordinary key is swallowed and fires once per hold whatever the modifiers;
        // other presses are told; a stray release and a second hotkey do nothing.
        {"keys=96,-1 start d96 r96 r96 u96 d0 r0 u0 +56 -56",
         "S:down96 S S S:up96 P:other0 P P P P"},
        {"keys=96 start +56 d96 u96 -56", "P S:down96 S:up96 P"},
        {"keys=96,0 start u96 d96 d0 u0 u96", "S S:down96 S S S:up96"},
        // A modifier hotkey follows flag changes and always passes; another modifier joining
        // does not end the hold; a lost release shows as the next change without the bit.
        {"keys=63 start +63 +56 -63 -56", "P:down63 P P:up63 P"},
        {"keys=61 start +61 ~61 +56", "P:down61 P:up61"},
        // Left and right are told apart; key events of a modifier code are not followed.
        {"keys=61 start +58 -58 d61 u61", "P P P P"},
        // The boost modifier while the main one is held is ignored.
        {"keys=63,61 start +63 +61 -61 -63 +61 -61", "P:down63 P P P:up63 P:down61 P:up61"},
        // Keys changed while held: the old key's release still ends the hold.
        {"keys=96 start d96 keys=0 u96 d0 u0", "S:down96 S:up96 S:down0 S:up0"},
        {"keys=63 start +63 keys=61 -63 +61 -61", "P:down63 P:up63 P:down61 P:up61"},
        // Capture reports the next key (releases and caps lock keep it on, the hotkey's release
        // pairs with nothing, a key's passes); escape and caps lock cancel it, not a take.
        {"keys=63 start capture u96 -56 +57 -57 +63 -63", "S P P P P:cap63 P"},
        {"keys=63 start capture +56 -56 capture d0 u0", "P:cap56 P S:cap0 P"},
        {"keys=63 start capture d53 capture d57 u57", "S:capnone S:capnone P"},
        {"keys=63 start capture cancel d0 u0", "P:other0 P"},
        // A disabled source is enabled again and the held key released; repeats start no take.
        {"keys=63 start +63 x -63 +63 -63", "P:down63 P:up63 P P:down63 P:up63"},
        {"keys=96 start d96 x r96 u96 d96 u96", "S:down96 P:up96 S S S:down96 S:up96"},
        // A second start forgets the held key without a release; stop ends delivery.
        {"keys=63 start +63 start -63 stop +63", "P:down63 P -"},
    };
    // clang-format on
    for (const auto& c : cases) {
        flags = 0;
        EXPECT_EQ(run(c.script), c.result) << c.script;
        EXPECT_FALSE(monitor->activeKey() || monitor->isCapturing()) << c.script;
    }
}

TEST_F(HotkeyMonitorTest, KeysGrabsStartsCaptureModeAndTheEndAreAskedOfTheSource) {
    using Keys = std::vector<int64_t>;
    monitor->setKeys({-1, -1});
    EXPECT_EQ(monitor->keys(), Keys{63});
    monitor->setKeys({96, -1, 61});
    EXPECT_EQ(monitor->keys(), (Keys{96, 61}));
    EXPECT_EQ(source->swallowedKeys, Keys{96}) << "modifiers are never grabbed";
    monitor->setKeys({});
    EXPECT_TRUE(monitor->keys() == Keys{63} && source->swallowedKeys.empty());
    source->defaults = {62, 61};  // a PC keyboard: right control
    monitor->setKeys({-1, -1});
    EXPECT_EQ(monitor->keys(), Keys{62});
    source->calls.clear();
    source->startSucceeds = false;
    EXPECT_FALSE(monitor->start() || monitor->isRunning());
    monitor->reenable();  // a source that never ran is asked nothing
    EXPECT_EQ(source->calls, (Strings{"swallow keys", "start"}));
    source->startSucceeds = true;
    source->calls.clear();
    run("keys=63 start capture");
    EXPECT_TRUE(source->captureMode);
    run("+63 start x");
    EXPECT_FALSE(source->captureMode);
    EXPECT_EQ(source->calls,
              (Strings{"swallow keys", "swallow keys", "start", "capture mode on",
                       "capture mode off", "stop", "swallow keys", "start", "enable"}));
    EXPECT_TRUE(source->enabled());
    run("capture cancel");
    EXPECT_EQ(source->calls.back(), "capture mode off");
    // A gone monitor stops the source, and work queued for it does nothing.
    run("keys=96 start d96");
    source->keyUp(96);
    source->keyDown(96);
    monitor.reset();
    EXPECT_FALSE(source->running());
    queue->runUntilIdle();
    EXPECT_TRUE(seen.empty());
}

TEST_F(HotkeyMonitorTest, NeverSeenWarnsOnceAtTheThirtyFirstOtherEvent) {
    EXPECT_FALSE(warns("keys=61 start " + taps(15)));
    EXPECT_EQ(run("+55"), "P:never");
    EXPECT_FALSE(warns("-55 " + taps(40)));
    EXPECT_EQ(systemLog->lines(),
              Strings{"Velvox error: configured hotkey never reported by this keyboard"});
    // setKeys starts the check afresh, so the warning can come once more.
    EXPECT_TRUE(warns("keys=61 " + taps(16)));
    // One sighting of a hotkey, as a modifier or as the boost key, prevents it;
    // capturing counts nothing.
    for (std::string sighting : {"+61 -61", "keys=61,96 d96 u96", "capture"}) {
        std::string tap = sighting == "capture" ? "-56 -56 " : "+56 -56 ";
        EXPECT_FALSE(warns("keys=61 " + sighting + " " + taps(40, tap) + "cancel")) << sighting;
    }
    EXPECT_EQ(systemLog->lines().size(), 2u);
}

}  // namespace
}  // namespace velvox::testing

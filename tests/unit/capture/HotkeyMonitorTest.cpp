#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/HotkeyMonitor.h"
#include "fakes/FakeKeyEventSource.h"
#include "platform/Platform.h"
#include "support/TempHome.h"

namespace velvox {
namespace {

using testing::FakeKeyEventSource;

constexpr int64_t kFn = 63;
constexpr int64_t kRightAlt = 61;
constexpr int64_t kLeftAlt = 58;
constexpr int64_t kLeftShift = 56;
constexpr int64_t kLeftSuper = 55;
constexpr int64_t kCapsLock = 57;
constexpr int64_t kEscape = 53;
constexpr int64_t kF5 = 96;
constexpr int64_t kA = 0;

constexpr auto kSwallow = KeyEventVerdict::swallow;
constexpr auto kPass = KeyEventVerdict::pass;

// A monitor on a fake keyboard; every callback that reaches the main queue is
// written down in order, so a test sees exactly what the controller would.
class HotkeyMonitorTest : public testing::TempHomeTest {
  protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        source = std::make_shared<FakeKeyEventSource>();
        Platform::installKeyEventSource(source);
        monitor = std::make_unique<HotkeyMonitor>();
        monitor->onDown = [this](int64_t code) { seen.push_back("down " + std::to_string(code)); };
        monitor->onUp = [this](int64_t code) { seen.push_back("up " + std::to_string(code)); };
        monitor->onCaptured = [this](std::optional<int64_t> code) {
            seen.push_back(code ? "captured " + std::to_string(*code) : "captured none");
        };
        monitor->onHotkeyNeverSeen = [this] { seen.push_back("never seen"); };
        monitor->onOtherKeyDown = [this](int64_t code) {
            seen.push_back("other " + std::to_string(code));
        };
    }
    void TearDown() override {
        monitor.reset();
        TempHomeTest::TearDown();
    }

    // Runs the main queue and answers what reached the callbacks since last asked.
    std::vector<std::string> delivered() {
        queue->runUntilIdle();
        return std::exchange(seen, {});
    }

    void startWith(std::vector<int64_t> keys) {
        monitor->setKeys(keys);
        ASSERT_TRUE(monitor->start());
    }

    // Presses and releases a modifier that is not a hotkey: two flag changes.
    void tapModifier(int64_t code, uint64_t bit) {
        source->flagsChanged(code, bit);
        source->flagsChanged(code, 0);
    }

    std::shared_ptr<FakeKeyEventSource> source;
    std::unique_ptr<HotkeyMonitor> monitor;
    std::vector<std::string> seen;
};

using Strings = std::vector<std::string>;

TEST_F(HotkeyMonitorTest, OrdinaryKeyIsSwallowedAndFiresOncePerHold) {
    startWith({kF5, -1});
    EXPECT_EQ(source->swallowedKeys, std::vector<int64_t>{kF5});

    EXPECT_EQ(source->keyDown(kF5), kSwallow);
    // Nothing runs inside the handler: callbacks wait for the main queue.
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(delivered(), Strings{"down 96"});

    for (int i = 0; i < 5; ++i) EXPECT_EQ(source->keyRepeat(kF5), kSwallow);
    EXPECT_EQ(source->keyUp(kF5), kSwallow);
    EXPECT_EQ(delivered(), Strings{"up 96"});

    // Other keys reach the application untouched; their presses (not their
    // repeats, nor modifiers) are told to the controller.
    EXPECT_EQ(source->keyDown(kA), kPass);
    EXPECT_EQ(source->keyRepeat(kA), kPass);
    EXPECT_EQ(source->keyUp(kA), kPass);
    tapModifier(kLeftShift, ModifierFlag::leftShift);
    EXPECT_EQ(delivered(), Strings{"other 0"});
}

TEST_F(HotkeyMonitorTest, OrdinaryKeyFiresWhateverModifiersAreHeld) {
    startWith({kF5});
    source->flagsChanged(kLeftShift, ModifierFlag::leftShift);
    EXPECT_EQ(source->keyDown(kF5, ModifierFlag::leftShift), kSwallow);
    EXPECT_EQ(source->keyUp(kF5, ModifierFlag::leftShift), kSwallow);
    EXPECT_EQ(delivered(), (Strings{"down 96", "up 96"}));
}

TEST_F(HotkeyMonitorTest, StrayReleasesAndSecondHotkeyDoNothing) {
    startWith({kF5, kA});
    // A release without a press (the press happened before start) is swallowed silently.
    EXPECT_EQ(source->keyUp(kF5), kSwallow);
    EXPECT_TRUE(delivered().empty());

    source->keyDown(kF5);
    // The other hotkey while one is held: swallowed, no second onDown, no onUp.
    EXPECT_EQ(source->keyDown(kA), kSwallow);
    EXPECT_EQ(source->keyUp(kA), kSwallow);
    source->keyUp(kF5);
    EXPECT_EQ(delivered(), (Strings{"down 96", "up 96"}));
}

TEST_F(HotkeyMonitorTest, ModifierHotkeyFiresOnFlagChangesAndAlwaysPasses) {
    startWith({kFn});
    EXPECT_TRUE(source->swallowedKeys.empty());

    EXPECT_EQ(source->flagsChanged(kFn, ModifierFlag::function), kPass);
    EXPECT_EQ(delivered(), Strings{"down 63"});
    // Another modifier joining does not end the hold.
    EXPECT_EQ(source->flagsChanged(kLeftShift, ModifierFlag::function | ModifierFlag::leftShift),
              kPass);
    EXPECT_EQ(source->flagsChanged(kFn, ModifierFlag::leftShift), kPass);
    EXPECT_EQ(delivered(), Strings{"up 63"});
}

TEST_F(HotkeyMonitorTest, HeldModifierIsReleasedByAnyFlagChangeWithoutItsBit) {
    startWith({kRightAlt});
    source->flagsChanged(kRightAlt, ModifierFlag::rightOption);
    // The release itself was lost; the next change of another key shows the bit gone.
    source->flagsChanged(kLeftShift, ModifierFlag::leftShift);
    EXPECT_EQ(delivered(), (Strings{"down 61", "up 61"}));
    EXPECT_FALSE(monitor->activeKey());
}

TEST_F(HotkeyMonitorTest, LeftAndRightModifiersAreToldApart) {
    startWith({kRightAlt});
    source->flagsChanged(kLeftAlt, ModifierFlag::leftOption);
    source->flagsChanged(kLeftAlt, 0);
    EXPECT_TRUE(delivered().empty());
    // Key events carrying a modifier's code are not how modifiers are followed.
    EXPECT_EQ(source->keyDown(kRightAlt, ModifierFlag::rightOption), kPass);
    EXPECT_TRUE(delivered().empty());
}

TEST_F(HotkeyMonitorTest, BoostModifierWhileMainIsHeldIsIgnored) {
    startWith({kFn, kRightAlt});
    source->flagsChanged(kFn, ModifierFlag::function);
    source->flagsChanged(kRightAlt, ModifierFlag::function | ModifierFlag::rightOption);
    source->flagsChanged(kRightAlt, ModifierFlag::function);
    source->flagsChanged(kFn, 0);
    source->flagsChanged(kRightAlt, ModifierFlag::rightOption);
    source->flagsChanged(kRightAlt, 0);
    EXPECT_EQ(delivered(), (Strings{"down 63", "up 63", "down 61", "up 61"}));
}

TEST_F(HotkeyMonitorTest, SetKeysDropsUnsetKeysAndFallsBackToFn) {
    monitor->setKeys({-1, -1});
    EXPECT_EQ(monitor->keys(), std::vector<int64_t>{kFn});
    monitor->setKeys({kF5, -1, kRightAlt});
    EXPECT_EQ(monitor->keys(), (std::vector<int64_t>{kF5, kRightAlt}));
    EXPECT_EQ(source->swallowedKeys, std::vector<int64_t>{kF5});
    monitor->setKeys({});
    EXPECT_EQ(monitor->keys(), std::vector<int64_t>{kFn});

    source->defaults = {62, kRightAlt};  // a PC keyboard: right control
    monitor->setKeys({-1, -1});
    EXPECT_EQ(monitor->keys(), std::vector<int64_t>{62});
}

TEST_F(HotkeyMonitorTest, KeysChangedWhileHeldStillEndTheHold) {
    startWith({kF5});
    source->keyDown(kF5);
    monitor->setKeys({kA});
    EXPECT_EQ(monitor->activeKey(), kF5);
    // The release of the old key ends the take and frees the monitor for the new key.
    EXPECT_EQ(source->keyUp(kF5), kSwallow);
    EXPECT_EQ(source->keyDown(kA), kSwallow);
    EXPECT_EQ(delivered(), (Strings{"down 96", "up 96", "down 0"}));

    // The same for a modifier hotkey replaced while held.
    source->keyUp(kA);
    monitor->setKeys({kFn});
    source->flagsChanged(kFn, ModifierFlag::function);
    monitor->setKeys({kRightAlt});
    source->flagsChanged(kFn, 0);
    source->flagsChanged(kRightAlt, ModifierFlag::rightOption);
    EXPECT_EQ(delivered(), (Strings{"up 0", "down 63", "up 63", "down 61"}));
}

TEST_F(HotkeyMonitorTest, NeverSeenWarnsOnceAtTheThirtyFirstOtherEvent) {
    startWith({kRightAlt});
    for (int i = 0; i < 15; ++i) tapModifier(kLeftShift, ModifierFlag::leftShift);
    EXPECT_TRUE(delivered().empty());
    EXPECT_TRUE(systemLog->lines().empty());

    source->flagsChanged(kLeftSuper, ModifierFlag::leftCommand);
    EXPECT_EQ(delivered(), Strings{"never seen"});
    for (int i = 0; i < 40; ++i) tapModifier(kLeftShift, ModifierFlag::leftShift);
    EXPECT_TRUE(delivered().empty());

    EXPECT_EQ(systemLog->lines(),
              Strings{"Velvox error: configured hotkey never reported by this keyboard"});
    EXPECT_EQ(logMessages(), Strings{"configured hotkey never reported by this keyboard"});

    // setKeys starts the check afresh, so the warning can come once more.
    monitor->setKeys({kRightAlt});
    for (int i = 0; i < 31; ++i) source->flagsChanged(kLeftShift, i % 2 ? 0 : 2);
    EXPECT_EQ(delivered(), Strings{"never seen"});
}

TEST_F(HotkeyMonitorTest, NeverSeenIsPreventedByOneSightingOfAHotkey) {
    // Seen as a modifier change.
    startWith({kRightAlt});
    tapModifier(kRightAlt, ModifierFlag::rightOption);
    for (int i = 0; i < 40; ++i) tapModifier(kLeftShift, ModifierFlag::leftShift);
    EXPECT_EQ(delivered(), (Strings{"down 61", "up 61"}));

    // Seen as an ordinary key-down (the boost key), after a fresh setKeys.
    monitor->setKeys({kRightAlt, kF5});
    source->keyDown(kF5);
    source->keyUp(kF5);
    for (int i = 0; i < 40; ++i) tapModifier(kLeftShift, ModifierFlag::leftShift);
    EXPECT_EQ(delivered(), (Strings{"down 96", "up 96"}));
    EXPECT_TRUE(systemLog->lines().empty());
}

TEST_F(HotkeyMonitorTest, CaptureReportsTheNextKeyAndSwallowsOnlyKeyEvents) {
    startWith({kFn});
    monitor->capture();
    EXPECT_TRUE(source->captureMode);

    // Releases and caps lock keep capture mode on.
    EXPECT_EQ(source->keyUp(kF5), kSwallow);
    EXPECT_EQ(source->flagsChanged(kLeftShift, 0), kPass);
    EXPECT_EQ(source->flagsChanged(kCapsLock, 0x10000), kPass);
    EXPECT_TRUE(monitor->isCapturing());
    // The hotkey does not fire while capturing.
    EXPECT_EQ(source->flagsChanged(kFn, ModifierFlag::function), kPass);
    EXPECT_EQ(delivered(), Strings{"captured 63"});
    EXPECT_FALSE(monitor->isCapturing());
    EXPECT_FALSE(source->captureMode);
    // Its release is no hotkey release: there was no onDown to pair it with.
    source->flagsChanged(kFn, 0);
    EXPECT_TRUE(delivered().empty());

    monitor->capture();
    EXPECT_EQ(source->flagsChanged(kLeftShift, ModifierFlag::leftShift), kPass);
    EXPECT_EQ(delivered(), Strings{"captured 56"});

    monitor->capture();
    EXPECT_EQ(source->keyDown(kA), kSwallow);
    EXPECT_EQ(delivered(), Strings{"captured 0"});
    EXPECT_EQ(source->keyUp(kA), kPass);
}

TEST_F(HotkeyMonitorTest, CaptureEndsWithNothingOnEscapeOrCapsLockKeyDown) {
    startWith({kFn});
    monitor->capture();
    EXPECT_EQ(source->keyDown(kEscape), kSwallow);
    monitor->capture();
    EXPECT_EQ(source->keyDown(kCapsLock), kSwallow);
    EXPECT_EQ(delivered(), (Strings{"captured none", "captured none"}))
        << "escape while capturing cancels the capture, not a take";

    monitor->capture();
    monitor->cancelCapture();
    EXPECT_EQ(source->keyDown(kA), kPass);
    EXPECT_EQ(delivered(), Strings{"other 0"});
    EXPECT_EQ(source->calls.back(), "capture mode off");
}

TEST_F(HotkeyMonitorTest, CaptureCountsNothingForTheNeverSeenCheck) {
    startWith({kRightAlt});
    monitor->capture();
    for (int i = 0; i < 40; ++i) source->flagsChanged(kLeftShift, 0);
    monitor->cancelCapture();
    EXPECT_TRUE(delivered().empty());
    EXPECT_TRUE(systemLog->lines().empty());
}

TEST_F(HotkeyMonitorTest, DisabledSourceIsReenabledAndTheHeldKeyReleased) {
    startWith({kFn});
    source->flagsChanged(kFn, ModifierFlag::function);
    EXPECT_EQ(source->disable(), kPass);
    EXPECT_TRUE(source->enabled());
    EXPECT_EQ(source->calls.back(), "enable");
    EXPECT_EQ(delivered(), (Strings{"down 63", "up 63"}));

    // The late release of the key changes nothing; the next press works again.
    source->flagsChanged(kFn, 0);
    source->flagsChanged(kFn, ModifierFlag::function);
    EXPECT_EQ(delivered(), Strings{"down 63"});

    // With an ordinary key held, the same; its late key-up is swallowed quietly.
    source->flagsChanged(kFn, 0);
    monitor->setKeys({kF5});
    delivered();
    source->keyDown(kF5);
    source->disable();
    // The key is still down: its repeats must not start a second take.
    EXPECT_EQ(source->keyRepeat(kF5), kSwallow);
    EXPECT_EQ(source->keyUp(kF5), kSwallow);
    EXPECT_EQ(delivered(), (Strings{"down 96", "up 96"}));
}

TEST_F(HotkeyMonitorTest, StartAndStop) {
    source->startSucceeds = false;
    EXPECT_FALSE(monitor->start());
    EXPECT_FALSE(monitor->isRunning());
    // Re-enabling a source that never ran asks nothing of it.
    monitor->reenable();
    EXPECT_EQ(source->calls, (Strings{"swallow keys", "start"}));

    source->startSucceeds = true;
    source->calls.clear();
    EXPECT_TRUE(monitor->start());
    source->flagsChanged(kFn, ModifierFlag::function);
    // A second start restarts the source and forgets the held key without onUp.
    EXPECT_TRUE(monitor->start());
    EXPECT_EQ(source->calls, (Strings{"swallow keys", "start", "stop", "swallow keys", "start"}));
    EXPECT_EQ(delivered(), Strings{"down 63"});
    EXPECT_FALSE(monitor->activeKey());

    monitor->stop();
    EXPECT_FALSE(source->running());
    EXPECT_EQ(source->flagsChanged(kFn, 0), std::nullopt);
    EXPECT_TRUE(delivered().empty());
}

TEST_F(HotkeyMonitorTest, CallbacksQueuedBeforeTheMonitorIsGoneDoNothing) {
    startWith({kFn});
    source->flagsChanged(kFn, ModifierFlag::function);
    monitor.reset();
    EXPECT_FALSE(source->running());
    EXPECT_TRUE(delivered().empty());
}

TEST_F(HotkeyMonitorTest, CallbacksInstalledLaterStillReceiveQueuedEvents) {
    startWith({kF5});
    monitor->onDown = nullptr;
    source->keyDown(kF5);
    // The callback is read when the queued work runs, not when the key went down.
    monitor->onDown = [this](int64_t code) { seen.push_back("late down " + std::to_string(code)); };
    EXPECT_EQ(delivered(), Strings{"late down 96"});
}

}  // namespace
}  // namespace velvox

#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "fakes/CallLog.h"
#include "platform/KeyEventSource.h"

namespace velvox::testing {

// A keyboard hook the test types on; requests are kept in `calls`. send() hands an event to
// the handler and answers its verdict (nothing when the source is not delivering).
class FakeKeyEventSource final : public KeyEventSource, public CallLog {
  public:
    bool start(Handler handler) override {
        if (!note("start", startSucceeds)) return false;
        handler_ = std::move(handler);
        enabled_ = true;
        return true;
    }
    void stop() override {
        handler_ = nullptr;
        enabled_ = note("stop", false);
    }
    void enable() override { enabled_ = note("enable", enabled_ || handler_ != nullptr); }
    void setSwallowedKeys(const std::vector<int64_t>& keyCodes) override {
        std::string text = "swallow keys";
        for (int64_t code : keyCodes) text += " " + std::to_string(code);
        swallowedKeys = note(text, keyCodes);
    }
    std::vector<int64_t> takenKeys() const override {
        std::vector<int64_t> taken;
        for (int64_t code : swallowedKeys)
            if (std::ranges::find(heldElsewhere, code) != heldElsewhere.end())
                taken.push_back(code);
        return taken;
    }
    DefaultHotkeys defaultHotkeys() const override { return defaults; }
    bool seesGlobalKeys() const override { return globalKeys; }
    DesktopShortcutKeys desktopShortcutKeys() const override { return desktopKeys; }
    bool canReport(int64_t keyCode) const override {
        return std::ranges::find(unreportable, keyCode) == unreportable.end();
    }
    void setCaptureMode(bool on) override {
        captureMode = note(on ? "capture mode on" : "capture mode off", on);
    }
    std::optional<KeyEventVerdict> send(const KeyEvent& event) {
        if (!handler_) return std::nullopt;
        if (event.type == KeyEventType::tapDisabled)
            enabled_ = false;
        else if (!enabled_)
            return std::nullopt;  // a disabled hook delivers nothing
        return handler_(event);
    }
    std::optional<KeyEventVerdict> keyDown(int64_t code, uint64_t flags = 0) {
        return send({KeyEventType::keyDown, code, flags, false});
    }
    std::optional<KeyEventVerdict> keyUp(int64_t code, uint64_t flags = 0) {
        return send({KeyEventType::keyUp, code, flags, false});
    }
    // A modifier change: code is the key that changed, flags the bits after it.
    std::optional<KeyEventVerdict> flagsChanged(int64_t code, uint64_t flags) {
        return send({KeyEventType::flagsChanged, code, flags, false});
    }
    // The system stops the hook; it stays off until enable().
    std::optional<KeyEventVerdict> disable() { return send({KeyEventType::tapDisabled, 0, 0}); }
    bool running() const { return handler_ != nullptr; }
    bool enabled() const { return enabled_; }
    bool startSucceeds = true;
    // Keys another application has grabbed, and what this keyboard can send.
    std::vector<int64_t> heldElsewhere;
    DefaultHotkeys defaults;
    std::vector<int64_t> unreportable;
    // False as in a Wayland session, where no key of another application arrives.
    bool globalKeys = true;
    DesktopShortcutKeys desktopKeys;
    std::vector<int64_t> swallowedKeys;
    bool captureMode = false;

  private:
    Handler handler_;
    bool enabled_ = false;
};

}  // namespace velvox::testing

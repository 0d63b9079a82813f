#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/KeyEventSource.h"

namespace velvox {

// The keyboard of a Wayland session: the compositor shows an application only
// the keys typed into its own windows, so no key of another application ever
// arrives here and nothing can be swallowed. Dictation starts from the
// desktop's own shortcuts (`velvox dictate`). What the keyboards can serve as
// hotkeys is still the system's key table, which `keyTable` answers.
class WaylandKeyEventSource final : public KeyEventSource {
  public:
    explicit WaylandKeyEventSource(std::shared_ptr<KeyEventSource> keyTable)
        : keyTable_(std::move(keyTable)) {}

    // Runs without ever delivering, so the application starts as anywhere.
    bool start(Handler) override { return true; }
    void stop() override {}
    void enable() override {}
    // Told the hotkeys' ordinary keys whenever the hotkeys are set: a change
    // after the first is the user choosing other keys in Settings.
    void setSwallowedKeys(const std::vector<int64_t>& keys) override {
        bool changed = published_ && *published_ != keys;
        published_ = keys;
        if (changed && hotkeysChanged_) hotkeysChanged_();
    }
    void onHotkeysChanged(std::function<void()> changed) { hotkeysChanged_ = std::move(changed); }
    std::vector<int64_t> takenKeys() const override { return {}; }
    void setCaptureMode(bool) override {}
    bool seesGlobalKeys() const override { return false; }
    DesktopShortcutKeys desktopShortcutKeys() const override { return assigned_; }
    // What the desktop assigned to the hotkeys through its shortcuts portal.
    void setDesktopShortcutKeys(DesktopShortcutKeys keys) { assigned_ = std::move(keys); }
    DefaultHotkeys defaultHotkeys() const override { return keyTable_->defaultHotkeys(); }
    bool canReport(int64_t keyCode) const override { return keyTable_->canReport(keyCode); }

  private:
    std::shared_ptr<KeyEventSource> keyTable_;
    DesktopShortcutKeys assigned_;
    std::optional<std::vector<int64_t>> published_;
    std::function<void()> hotkeysChanged_;
};

}  // namespace velvox

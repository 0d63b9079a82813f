#pragma once

#include <memory>

#include "platform/KeyEventSource.h"

namespace velvox {

// The session's keyboard on an X11 display, watched on a connection of its
// own from the GLib main loop. XInput 2 raw events report every press and
// release whoever holds the keyboard; they cannot hold an event back, so the
// keys to be swallowed are grabbed ahead of time (XGrabKey), and the whole
// keyboard is grabbed while a new hotkey is being chosen. Events reach the
// handler as macOS-style events: key codes by physical position, modifier
// keys as flag changes with their device-dependent bits, and autorepeat
// reported for grabbed keys.
class X11KeyEventSource final : public KeyEventSource {
  public:
    X11KeyEventSource();
    ~X11KeyEventSource() override;
    X11KeyEventSource(const X11KeyEventSource&) = delete;
    X11KeyEventSource& operator=(const X11KeyEventSource&) = delete;

    bool start(Handler handler) override;
    void stop() override;
    void enable() override;
    void setSwallowedKeys(const std::vector<int64_t>& keyCodes) override;
    std::vector<int64_t> takenKeys() const override;
    void setCaptureMode(bool on) override;
    DefaultHotkeys defaultHotkeys() const override;
    bool canReport(int64_t keyCode) const override;

    // The connection's X resource base (an id any of its resources shares),
    // so a test can cut the connection with XKillClient; 0 when not connected.
    unsigned long connectionResourceForTesting() const;

    struct State;

  private:
    std::unique_ptr<State> state_;
};

}  // namespace velvox

#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/XInput.h>

#include <bitset>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "linux/glib/GlibIds.h"
#include "linux/x11/X11Connection.h"
#include "platform/PasteKeystroke.h"

namespace velvox {

// Control+V typed through the XTEST extension on a connection of our own;
// Control+Shift+V when the focused window is a terminal emulator, where
// Control+V means something else; the key urxvt pastes with; none for
// xterm, which has no key that pastes the clipboard.
class XTestPaste final : public PasteKeystroke {
  public:
    // Nothing without a display or the XTEST extension. focusIsTerminal is
    // asked when the window itself does not tell (the accessibility role).
    // activeNames gives the active window's names as a workspace that follows
    // the active window keeps them; without it the server is asked each time.
    using Names = std::function<std::vector<std::string>()>;
    static std::shared_ptr<XTestPaste> create(std::function<bool()> focusIsTerminal = {},
                                              Names activeNames = {});
    ~XTestPaste() override;

    void post(Sent sent) override;
    bool focusPastesClipboard() override;
    bool type(const std::string& text) override;

    // Whether a window class, instance or program name is a terminal emulator's.
    static bool isTerminalName(const std::string& name);

    enum class PasteKey { controlV, controlShiftV, controlAltV, none };

    XTestPaste(std::unique_ptr<x11::Connection> connection, std::function<bool()> focusIsTerminal,
               Names activeNames);

  private:
    struct DeviceCloser {
        Display* display;
        void operator()(XDevice* device) const { XCloseDevice(display, device); }
    };
    using OpenDevice = std::unique_ptr<XDevice, DeviceCloser>;
    static OpenDevice openOurDevice(Display* display);

    PasteKey pasteKeyForFocus(bool askAccessibility);
    // One key event of ours, announced to our own key source first.
    void strike(KeyCode code, bool press);
    // Lifts the modifiers the user holds, so that our keys mean what they say.
    void liftModifiers();
    // Releases whatever key we pressed that is still down on the XTEST device.
    void releaseLeftovers();
    // Maps the spare keys borrowed for typing to nothing again.
    void giveBackBorrowedKeys();

    std::unique_ptr<x11::Connection> connection_;
    Display* display_;
    std::function<bool()> focusIsTerminal_;
    Names activeNames_;
    OpenDevice ourDevice_;  // goes before the connection it was opened on
    // Spare key codes mapped to characters the layout lacks, until given back.
    std::vector<KeyCode> borrowed_;
    SourceId giveBack_;
    // The keys pressed since the last leftovers were released.
    std::bitset<256> pressed_;
};

}  // namespace velvox

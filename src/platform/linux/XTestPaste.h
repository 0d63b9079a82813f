#pragma once

#include <X11/Xlib.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/PasteKeystroke.h"

namespace velvox {

// Control+V typed through the XTEST extension on a connection of our own;
// Control+Shift+V when the focused window is a terminal emulator, where
// Control+V means something else.
class XTestPaste final : public PasteKeystroke {
  public:
    // Nothing without a display or the XTEST extension. focusIsTerminal is
    // asked when the window itself does not tell (the accessibility role).
    static std::shared_ptr<XTestPaste> create(std::function<bool()> focusIsTerminal = {});
    ~XTestPaste() override;

    void post() override;

    // Whether a window class, instance or program name is a terminal emulator's.
    static bool isTerminalName(const std::string& name);

    XTestPaste(Display* display, std::function<bool()> focusIsTerminal);

  private:
    bool focusedWindowIsTerminal();

    Display* display_;
    std::function<bool()> focusIsTerminal_;
};

}  // namespace velvox

#pragma once

#include <memory>

namespace velvox {

// The desktop's paste shortcut, typed into whatever window has the focus.
class PasteKeystroke {
  public:
    virtual ~PasteKeystroke() = default;
    // Sends the key press and release (Control+V; Control+Shift+V in a
    // terminal emulator). A keystroke that cannot be made is not sent.
    virtual void post() = 0;
    // False when the keystroke would not reach the window with the focus (a
    // native window of a Wayland session, for keys sent through XWayland):
    // the text then stays on the clipboard for the user to paste.
    virtual bool reachesFocusedWindow() { return true; }
};

namespace Platform {
PasteKeystroke& pasteKeystroke();
void installPasteKeystroke(std::shared_ptr<PasteKeystroke> keystroke);
}  // namespace Platform

}  // namespace velvox

#pragma once

#include <functional>
#include <memory>
#include <string>

namespace velvox {

// The desktop's paste shortcut, typed into whatever window has the focus.
class PasteKeystroke {
  public:
    virtual ~PasteKeystroke() = default;
    // Runs once with whether every key went out, pressed and released, in
    // order; false when any may not have (and then nothing is left pressed).
    using Sent = std::function<void(bool sent)>;
    // Sends the key press and release (Control+V; Control+Shift+V in a
    // terminal emulator). A keystroke that cannot be made is not sent.
    // `sent` may run before this returns, or later from the main loop.
    virtual void post(Sent sent) = 0;
    // Whether the focused window pastes the clipboard with a key at all
    // (xterm has none by default).
    virtual bool focusPastesClipboard() { return true; }
    // Types the text key by key into the focused window; false when it
    // cannot, and then nothing was typed.
    virtual bool type(const std::string&) { return false; }
    // Whether the keystroke reaches windows of every kind; in a Wayland
    // session without a virtual keyboard it reaches X11 windows only.
    virtual bool reachesNativeWindows() const { return true; }
    // What the user should know about how the keys get in (a dialog of the
    // desktop asking for consent, say); empty when there is nothing to know.
    virtual std::string note() const { return {}; }
};

namespace Platform {
PasteKeystroke& pasteKeystroke();
void installPasteKeystroke(std::shared_ptr<PasteKeystroke> keystroke);
}  // namespace Platform

}  // namespace velvox

#pragma once

#include <memory>
#include <string>

#include "platform/PasteKeystroke.h"
#include "platform/Workspace.h"

namespace velvox {

// The X11 paste keystroke in a Wayland session: XWayland hands synthetic
// keys to its own windows only, so the keystroke reaches the focus only while
// an X11 window is active. A native window in front gets `native`'s keystroke
// where there is one (the desktop's remote desktop portal); without one its
// text stays on the clipboard (which the compositor shares with Wayland
// programs).
class XWaylandPaste final : public PasteKeystroke {
  public:
    // `x11Workspace` may be null: then no X11 window is ever active.
    XWaylandPaste(std::shared_ptr<PasteKeystroke> x11Paste, std::shared_ptr<Workspace> x11Workspace,
                  std::shared_ptr<PasteKeystroke> native = nullptr)
        : x11Paste_(std::move(x11Paste)),
          x11Workspace_(std::move(x11Workspace)),
          native_(std::move(native)) {}

    void post(Sent sent) override {
        if (x11WindowInFront()) {
            x11Paste_->post(std::move(sent));
        } else if (native_) {
            native_->post(std::move(sent));
        } else if (sent) {
            sent(false);
        }
    }
    // A native window without the portal counts as one without a paste key:
    // the text stays on the clipboard, and no key is typed into nowhere.
    bool focusPastesClipboard() override {
        if (x11WindowInFront()) return x11Paste_->focusPastesClipboard();
        return native_ && native_->focusPastesClipboard();
    }
    bool type(const std::string& text) override {
        return x11WindowInFront() && x11Paste_->type(text);
    }
    bool reachesNativeWindows() const override {
        return native_ && native_->reachesNativeWindows();
    }
    std::string note() const override { return native_ ? native_->note() : ""; }

  private:
    bool x11WindowInFront() {
        return x11Paste_ && x11Workspace_ && x11Workspace_->frontmostApplication().has_value();
    }

    std::shared_ptr<PasteKeystroke> x11Paste_;
    std::shared_ptr<Workspace> x11Workspace_;
    std::shared_ptr<PasteKeystroke> native_;
};

}  // namespace velvox

#pragma once

#include <memory>
#include <string>

#include "platform/PasteKeystroke.h"
#include "platform/Workspace.h"

namespace velvox {

// The X11 paste keystroke in a Wayland session: XWayland hands synthetic
// keys to its own windows only, so the keystroke reaches the focus only while
// an X11 window is active; for a native window the text stays on the
// clipboard (which the compositor shares with Wayland programs).
class XWaylandPaste final : public PasteKeystroke {
  public:
    // `x11Workspace` may be null: then no X11 window is ever active.
    XWaylandPaste(std::shared_ptr<PasteKeystroke> x11Paste, std::shared_ptr<Workspace> x11Workspace)
        : x11Paste_(std::move(x11Paste)), x11Workspace_(std::move(x11Workspace)) {}

    void post() override { x11Paste_->post(); }
    // A native window counts as one without a paste key: the text stays on
    // the clipboard, and no key is typed into nowhere either.
    bool focusPastesClipboard() override {
        return reachesFocusedWindow() && x11Paste_->focusPastesClipboard();
    }
    bool type(const std::string& text) override {
        return reachesFocusedWindow() && x11Paste_->type(text);
    }
    bool reachesNativeWindows() const override { return false; }

  private:
    bool reachesFocusedWindow() {
        return x11Workspace_ && x11Workspace_->frontmostApplication().has_value();
    }

    std::shared_ptr<PasteKeystroke> x11Paste_;
    std::shared_ptr<Workspace> x11Workspace_;
};

}  // namespace velvox

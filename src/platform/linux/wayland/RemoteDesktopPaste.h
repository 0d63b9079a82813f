#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/PasteKeystroke.h"
#include "platform/linux/wayland/PortalRequests.h"

namespace velvox {

// The paste shortcut typed through the desktop's RemoteDesktop portal
// (org.freedesktop.portal.RemoteDesktop), keyboard only, where the compositor
// offers no virtual keyboard (GNOME, KDE Plasma). The desktop asks the user
// once; the consent is kept with the token the portal hands back, in
// `tokenFile`, so later starts need no dialog. Keys go by symbol, so the
// user's layout does not matter. Main thread only.
class RemoteDesktopPaste final : public PasteKeystroke {
  public:
    // Opens the session; `ready` runs once with whether the desktop agreed
    // to keyboard input. `focusIsTerminal` chooses Control+Shift+V.
    RemoteDesktopPaste(std::string tokenFile, std::function<bool()> focusIsTerminal,
                       std::function<void(bool agreed)> ready);
    ~RemoteDesktopPaste() override;
    RemoteDesktopPaste(const RemoteDesktopPaste&) = delete;
    RemoteDesktopPaste& operator=(const RemoteDesktopPaste&) = delete;

    void post() override;
    // Nothing pastes before the desktop agreed: the text then stays copied.
    bool focusPastesClipboard() override { return agreed_; }
    bool reachesNativeWindows() const override { return agreed_; }

  private:
    void sessionCreated(GVariant* results);
    void devicesSelected(GVariant* results);
    void started(GVariant* results);
    void finish(bool agreed);
    void key(unsigned symbol, bool down);

    std::string tokenFile_;
    std::function<bool()> focusIsTerminal_;
    std::function<void(bool)> ready_;
    GDBusConnection* bus_ = nullptr;
    std::unique_ptr<PortalRequests> requests_;
    std::string session_;
    bool agreed_ = false;
};

}  // namespace velvox

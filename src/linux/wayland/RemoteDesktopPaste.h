#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "linux/glib/GlibIds.h"
#include "linux/wayland/PortalRequests.h"
#include "platform/PasteKeystroke.h"

typedef struct _GCancellable GCancellable;

namespace velvox {

// The paste shortcut typed through the desktop's RemoteDesktop portal
// (org.freedesktop.portal.RemoteDesktop), keyboard only, where the compositor
// offers no virtual keyboard (GNOME, KDE Plasma). The desktop may show a
// consent dialog, so the session is asked for only when a paste first needs
// it; that paste waits a moment for the answer and otherwise leaves its text
// on the clipboard, and later ones paste. A refusal holds for the life of the
// process. Where the portal hands back a token, the consent is kept in
// `tokenFile` for later starts.
//
// Keys go by symbol, so the user's layout does not matter, and one at a
// time, each after the desktop answered the one before: calls not awaited
// can arrive out of order, and a release that arrives before its press
// leaves a key held down in the user's document. Every key pressed is
// released on every road, failures included. Main thread only.
class RemoteDesktopPaste final : public PasteKeystroke {
  public:
    // `focusIsTerminal` chooses Control+Shift+V; `answered` runs each time
    // the desktop answers whether we may type (for the status and the log).
    RemoteDesktopPaste(std::string tokenFile, std::function<bool()> focusIsTerminal,
                       std::function<void(bool agreed)> answered);
    ~RemoteDesktopPaste() override;
    RemoteDesktopPaste(const RemoteDesktopPaste&) = delete;
    RemoteDesktopPaste& operator=(const RemoteDesktopPaste&) = delete;

    // Asks the desktop now (a paste asks by itself when it needs to).
    void ask();
    void post(Sent sent) override;
    // Until the user refused, a paste is worth trying.
    bool focusPastesClipboard() override { return state_ != State::refused; }
    bool reachesNativeWindows() const override { return state_ != State::refused; }
    std::string note() const override;

    // How long a paste waits for the desktop's answer before it leaves the
    // text on the clipboard: long enough for a desktop that asks nobody,
    // too short for a person reading a dialog.
    static constexpr double kAnswerWaitSeconds = 1.0;

  private:
    enum class State { unasked, asking, agreed, refused };
    struct Key {
        unsigned symbol;
        bool down;
    };

    void sessionCreated(GVariant* results);
    void devicesSelected(GVariant* results);
    void started(GVariant* results);
    void finish(bool agreed);
    // Sends the first post still waiting, when none is on its way.
    void sendNext();
    void sendKey(size_t index);
    void keyAnswered(size_t index, bool ok);
    void done(bool sent);

    std::string tokenFile_;
    std::function<bool()> focusIsTerminal_;
    std::function<void(bool)> answered_;
    GOwned<GDBusConnection> bus_;
    GOwned<GCancellable> cancellable_;
    std::unique_ptr<PortalRequests> requests_;
    std::string session_;
    State state_ = State::unasked;
    // Posts in the order made; the first is on its way while `keys_` is set.
    std::deque<Sent> waiting_;
    std::vector<Key> keys_;
    // Keys pressed and not yet known to be released.
    std::vector<unsigned> held_;
    bool failed_ = false;
    unsigned answerTimer_ = 0;
};

}  // namespace velvox

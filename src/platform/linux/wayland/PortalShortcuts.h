#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

typedef struct _GDBusConnection GDBusConnection;
typedef struct _GCancellable GCancellable;
typedef struct _GVariant GVariant;

namespace velvox {

// Keyboard shortcuts through the desktop's GlobalShortcuts portal
// (org.freedesktop.portal.GlobalShortcuts): the desktop asks the user to
// confirm them, picks their keys, and tells us when one is pressed
// (Activated) and released (Deactivated), whatever window has the focus.
// Main thread only; everything arrives through the GLib main loop.
class PortalShortcuts {
  public:
    struct Shortcut {
        std::string id;
        std::string description;
    };
    // A shortcut as the desktop bound it; `trigger` is its own description of
    // the keys ("Press Super+D"), empty when it assigned none.
    struct Bound {
        std::string id;
        std::string trigger;
    };
    // Nothing when there is no portal, or the user or desktop refused.
    using Ready = std::function<void(std::optional<std::vector<Bound>>)>;
    using Changed = std::function<void(const std::string& id, bool pressed)>;

    // Opens a session on the session bus and asks for the shortcuts; `ready`
    // runs once with the answer, `changed` on every press and release after.
    PortalShortcuts(std::vector<Shortcut> shortcuts, Ready ready, Changed changed);
    ~PortalShortcuts();
    PortalShortcuts(const PortalShortcuts&) = delete;
    PortalShortcuts& operator=(const PortalShortcuts&) = delete;

  private:
    // Calls METHOD of the portal, whose answer comes as the Response signal
    // of a request object; `answered` gets that signal's results, or nothing
    // when the call failed or was refused.
    void request(const char* method, GVariant* arguments, const std::string& token,
                 std::function<void(GVariant* results)> answered);
    void sessionCreated(GVariant* results);
    void bound(GVariant* results);
    void finish(std::optional<std::vector<Bound>> bound);
    static void onSignal(GDBusConnection*, const char*, const char*, const char*,
                         const char* signal, GVariant* parameters, void* self);

    std::vector<Shortcut> shortcuts_;
    Ready ready_;
    Changed changed_;
    GDBusConnection* bus_ = nullptr;
    GCancellable* cancellable_ = nullptr;
    std::string session_;
    unsigned pressSubscription_ = 0;
    unsigned releaseSubscription_ = 0;
    struct Pending;
    std::vector<std::unique_ptr<Pending>> pending_;
};

}  // namespace velvox

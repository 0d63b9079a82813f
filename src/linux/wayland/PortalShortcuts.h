#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "linux/wayland/PortalRequests.h"

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
        // The keys we would like, in the desktop's shortcut notation ("F5",
        // "CTRL+a"); empty leaves the choice to the desktop.
        std::string preferredTrigger = {};
    };
    // A shortcut as the desktop bound it; `trigger` is its own description of
    // the keys ("Press Super+D"), empty when it assigned none.
    struct Bound {
        std::string id;
        std::string trigger;
    };
    // Nothing when there is no portal, or the user or desktop refused or
    // bound none of them.
    using Ready = std::function<void(std::optional<std::vector<Bound>>)>;
    using Changed = std::function<void(const std::string& id, bool pressed)>;

    // Opens a session on the session bus and asks for the shortcuts; `ready`
    // runs with the answer, and again with the new keys whenever they change
    // (the user changed them in the desktop's settings, or we asked again);
    // `changed` on every press and release.
    PortalShortcuts(std::vector<Shortcut> shortcuts, Ready ready, Changed changed);
    ~PortalShortcuts();
    PortalShortcuts(const PortalShortcuts&) = delete;
    PortalShortcuts& operator=(const PortalShortcuts&) = delete;

    // Asks for the shortcuts again with other preferred keys, one per
    // shortcut in order. A refusal keeps the keys bound before.
    void rebind(const std::vector<std::string>& preferredTriggers);

  private:
    void sessionCreated(GVariant* results);
    // The shortcuts as the portal takes them (floating).
    GVariant* shortcutList() const;
    void bind();
    void list();
    void bound(GVariant* results, bool listed);
    // The shortcuts of a list the portal sent, as bound.
    static std::vector<Bound> boundFrom(GVariant* list);
    void finish(std::optional<std::vector<Bound>> bound);
    static void onSignal(GDBusConnection*, const char*, const char*, const char*,
                         const char* signal, GVariant* parameters, void* self);

    std::vector<Shortcut> shortcuts_;
    Ready ready_;
    Changed changed_;
    GOwned<GDBusConnection> bus_;
    std::string session_;
    unsigned pressSubscription_ = 0;
    unsigned releaseSubscription_ = 0;
    unsigned changeSubscription_ = 0;
    bool answered_ = false;
    std::set<std::string> held_;
    std::unique_ptr<PortalRequests> requests_;
};

}  // namespace velvox

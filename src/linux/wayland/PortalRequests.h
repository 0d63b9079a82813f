#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "linux/glib/GlibIds.h"

typedef struct _GDBusConnection GDBusConnection;
typedef struct _GCancellable GCancellable;
typedef struct _GVariant GVariant;

namespace velvox {

// Calls to the desktop's portals (org.freedesktop.portal.Desktop), whose
// answers come later as the Response signal of a request object. Main thread
// only; what has not been answered when this goes is never answered.
class PortalRequests {
  public:
    explicit PortalRequests(GDBusConnection* bus);
    ~PortalRequests();
    PortalRequests(const PortalRequests&) = delete;
    PortalRequests& operator=(const PortalRequests&) = delete;

    // A handle_token of its own for each request and session.
    static std::string token(const char* what);
    // Options that carry only the handle_token (floating).
    static GVariant* handleOnly(const std::string& token);

    // Ends a portal session (nothing when `session` is empty) and sends the
    // call before returning: it is made as its owner goes away.
    static void closeSession(GDBusConnection* bus, const std::string& session);

    // Calls METHOD of INTERFACE with `arguments` (floating, taken), whose
    // options carry `token` as handle_token; `answered` gets the Response's
    // results, or null when the call failed or was refused.
    void call(const char* interface, const char* method, GVariant* arguments,
              const std::string& token, std::function<void(GVariant* results)> answered);

    static constexpr const char* kService = "org.freedesktop.portal.Desktop";
    static constexpr const char* kPath = "/org/freedesktop/portal/desktop";

  private:
    struct Pending;
    GOwned<GDBusConnection> bus_;
    GOwned<GCancellable> cancellable_;
    std::vector<std::unique_ptr<Pending>> pending_;
};

}  // namespace velvox

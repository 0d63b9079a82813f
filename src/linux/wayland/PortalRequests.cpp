#include "linux/wayland/PortalRequests.h"

#include <gio/gio.h>
#include <unistd.h>

namespace velvox {

namespace {

// The portal answers at once with a request object; the user's answer in the
// desktop's dialog comes later as its Response signal, so no time-out there.
constexpr int kCallTimeoutMilliseconds = 5000;

}  // namespace

struct PortalRequests::Pending {
    unsigned subscription = 0;
    std::function<void(GVariant*)> answered;
};

PortalRequests::PortalRequests(GDBusConnection* bus)
    : bus_(gRef(bus)), cancellable_(g_cancellable_new()) {}

PortalRequests::~PortalRequests() {
    g_cancellable_cancel(cancellable_.get());
    for (auto& pending : pending_)
        if (pending->subscription)
            g_dbus_connection_signal_unsubscribe(bus_.get(), pending->subscription);
}

void PortalRequests::closeSession(GDBusConnection* bus, const std::string& session) {
    if (!bus || session.empty()) return;
    g_dbus_connection_call(bus, kService, session.c_str(), "org.freedesktop.portal.Session",
                           "Close", nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr,
                           nullptr);
    g_dbus_connection_flush_sync(bus, nullptr, nullptr);
}

std::string PortalRequests::token(const char* what) {
    static unsigned counter = 0;
    return std::string("velvox_") + what + std::to_string(getpid()) + "_" +
           std::to_string(++counter);
}

GVariant* PortalRequests::handleOnly(const std::string& token) {
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    return g_variant_builder_end(&options);
}

void PortalRequests::call(const char* interface, const char* method, GVariant* arguments,
                          const std::string& token, std::function<void(GVariant*)> answered) {
    // The request object's path is known ahead, so its Response cannot come
    // before we listen: /org/freedesktop/portal/desktop/request/SENDER/TOKEN,
    // SENDER being our unique name without the colon, dots made underscores.
    std::string sender = g_dbus_connection_get_unique_name(bus_.get()) + 1;
    for (char& c : sender)
        if (c == '.') c = '_';
    std::string path = std::string(kPath) + "/request/" + sender + "/" + token;

    auto pending = std::make_unique<Pending>();
    pending->answered = std::move(answered);
    Pending* raw = pending.get();
    pending->subscription = g_dbus_connection_signal_subscribe(
        bus_.get(), kService, "org.freedesktop.portal.Request", "Response", path.c_str(), nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection* bus, const char*, const char*, const char*, const char*,
           GVariant* parameters, gpointer data) {
            auto* pending = static_cast<Pending*>(data);
            g_dbus_connection_signal_unsubscribe(bus, pending->subscription);
            pending->subscription = 0;
            guint32 response = 2;
            g_autoptr(GVariant) results = nullptr;
            g_variant_get(parameters, "(u@a{sv})", &response, &results);
            // 0 is success; 1 the user cancelled, 2 anything else.
            pending->answered(response == 0 ? results : nullptr);
        },
        raw, nullptr);
    pending_.push_back(std::move(pending));

    g_dbus_connection_call(
        bus_.get(), kService, kPath, interface, method, arguments, G_VARIANT_TYPE("(o)"),
        G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMilliseconds, cancellable_.get(),
        [](GObject* source, GAsyncResult* result, gpointer data) {
            g_autoptr(GError) error = nullptr;
            g_autoptr(GVariant) reply =
                g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
            if (reply) return;
            // Cancelled: the owner is gone.
            if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) return;
            // No portal, or one without this interface.
            auto* pending = static_cast<Pending*>(data);
            if (pending->subscription) {
                g_dbus_connection_signal_unsubscribe(G_DBUS_CONNECTION(source),
                                                     pending->subscription);
                pending->subscription = 0;
            }
            pending->answered(nullptr);
        },
        raw);
}

}  // namespace velvox

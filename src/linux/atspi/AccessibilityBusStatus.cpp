#include "linux/atspi/AccessibilityBusStatus.h"

namespace velvox {

namespace {

constexpr const char* kBusName = "org.a11y.Bus";
constexpr const char* kBusPath = "/org/a11y/bus";
constexpr const char* kStatusInterface = "org.a11y.Status";

// Asked only until the bus's properties have come, or while it is away: a
// busy desktop may take a moment to answer, or to start the bus.
constexpr int kAskMs = 1000;

// Asks the bus directly (which starts it where the session bus can).
std::optional<bool> askBus() {
    g_autoptr(GDBusConnection) bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus) return std::nullopt;
    g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
        bus, kBusName, kBusPath, "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", kStatusInterface, "IsEnabled"), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NONE, kAskMs, nullptr, nullptr);
    if (!reply) return std::nullopt;
    g_autoptr(GVariant) value = nullptr;
    g_variant_get(reply, "(v)", &value);
    return value && g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) &&
           g_variant_get_boolean(value);
}

}  // namespace

AccessibilityBusStatus::AccessibilityBusStatus()
    : cancellable_(g_cancellable_new()), proxy_(std::make_shared<GOwned<GDBusProxy>>()) {
    // The proxy keeps the bus's properties and follows its PropertiesChanged
    // signals, and forgets them when the bus goes away.
    g_dbus_proxy_new_for_bus(G_BUS_TYPE_SESSION, G_DBUS_PROXY_FLAGS_NONE, nullptr, kBusName,
                             kBusPath, kStatusInterface, cancellable_.get(), onProxyReady,
                             new std::weak_ptr<GOwned<GDBusProxy>>(proxy_));
}

AccessibilityBusStatus::~AccessibilityBusStatus() {
    g_cancellable_cancel(cancellable_.get());
}

void AccessibilityBusStatus::onProxyReady(GObject*, GAsyncResult* result, gpointer data) {
    std::unique_ptr<std::weak_ptr<GOwned<GDBusProxy>>> weak(
        static_cast<std::weak_ptr<GOwned<GDBusProxy>>*>(data));
    GDBusProxy* proxy = g_dbus_proxy_new_for_bus_finish(result, nullptr);
    auto slot = weak->lock();
    if (!slot) {
        if (proxy) g_object_unref(proxy);
        return;
    }
    slot->reset(proxy);
}

std::optional<bool> AccessibilityBusStatus::enabled() {
    GDBusProxy* proxy = proxy_->get();
    if (proxy) {
        g_autoptr(GVariant) value = g_dbus_proxy_get_cached_property(proxy, "IsEnabled");
        if (value && g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN))
            return g_variant_get_boolean(value);
    }
    // Not known yet, or the bus is gone (and may come back when asked).
    return askBus();
}

}  // namespace velvox

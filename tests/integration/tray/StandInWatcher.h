#pragma once

// A stand-in for a desktop panel's org.kde.StatusNotifierWatcher, on a bus
// connection of its own, for tests and benchmarks in the headless session.
#include <gio/gio.h>

#include <string>
#include <vector>

#include "support/MainLoop.h"

namespace velvox::testing {

inline const char* const kWatcherName = "org.kde.StatusNotifierWatcher";
inline const char* const kWatcherXml = R"(<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
  </interface>
</node>)";

struct Registration {
    std::string sender;   // the item's bus name
    std::string service;  // what it passed: its object path
};

// A private bus connection that owns the watcher name and records who registers.
class StandInWatcher {
  public:
    StandInWatcher() {
        GError* error = nullptr;
        gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
        if (address) {
            connection_ = g_dbus_connection_new_for_address_sync(
                address,
                GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                     G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                nullptr, nullptr, &error);
            g_free(address);
        }
        if (!connection_) {
            if (error) g_error_free(error);
            return;
        }
        GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kWatcherXml, nullptr);
        static const GDBusInterfaceVTable vtable = {onMethodCall, onGetProperty, nullptr, {}};
        registration_ =
            g_dbus_connection_register_object(connection_, "/StatusNotifierWatcher",
                                              node->interfaces[0], &vtable, this, nullptr, nullptr);
        g_dbus_node_info_unref(node);
        ownership_ = g_bus_own_name_on_connection(
            connection_, kWatcherName, G_BUS_NAME_OWNER_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, gpointer self) {
                static_cast<StandInWatcher*>(self)->owned_ = true;
            },
            nullptr, this, nullptr);
        if (!spinUntil([this] { return owned_; })) close();
    }

    ~StandInWatcher() {
        if (!connection_) return;
        close();
        // The next test must not find a watcher that is on its way out.
        spinUntil([] { return !nameHasOwner(kWatcherName); });
    }
    StandInWatcher(const StandInWatcher&) = delete;
    StandInWatcher& operator=(const StandInWatcher&) = delete;

    // Null when the session bus could not be reached or the name not owned.
    GDBusConnection* connection() const { return connection_; }
    const std::vector<Registration>& registrations() const { return registrations_; }

    static bool nameHasOwner(const char* name) {
        GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        GVariant* reply = g_dbus_connection_call_sync(
            bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "NameHasOwner", g_variant_new("(s)", name), G_VARIANT_TYPE("(b)"),
            G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        gboolean owned = FALSE;
        if (reply) {
            g_variant_get(reply, "(b)", &owned);
            g_variant_unref(reply);
        }
        g_object_unref(bus);
        return owned;
    }

  private:
    void close() {
        g_bus_unown_name(ownership_);
        g_dbus_connection_unregister_object(connection_, registration_);
        g_dbus_connection_close_sync(connection_, nullptr, nullptr);
        g_object_unref(connection_);
        connection_ = nullptr;
    }

    static void onMethodCall(GDBusConnection*, const gchar* sender, const gchar*, const gchar*,
                             const gchar* method, GVariant* parameters,
                             GDBusMethodInvocation* invocation, gpointer data) {
        auto* self = static_cast<StandInWatcher*>(data);
        if (g_strcmp0(method, "RegisterStatusNotifierItem") == 0) {
            const gchar* service = nullptr;
            g_variant_get(parameters, "(&s)", &service);
            self->registrations_.push_back({sender, service});
        }
        g_dbus_method_invocation_return_value(invocation, nullptr);
    }

    static GVariant* onGetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                   const gchar* property, GError**, gpointer data) {
        auto* self = static_cast<StandInWatcher*>(data);
        if (g_strcmp0(property, "IsStatusNotifierHostRegistered") == 0)
            return g_variant_new_boolean(TRUE);
        if (g_strcmp0(property, "ProtocolVersion") == 0) return g_variant_new_int32(0);
        GVariantBuilder items;
        g_variant_builder_init(&items, G_VARIANT_TYPE("as"));
        for (const auto& registration : self->registrations_)
            g_variant_builder_add(&items, "s",
                                  (registration.sender + registration.service).c_str());
        return g_variant_builder_end(&items);
    }

    GDBusConnection* connection_ = nullptr;
    unsigned registration_ = 0;
    unsigned ownership_ = 0;
    bool owned_ = false;
    std::vector<Registration> registrations_;
};

}  // namespace velvox::testing

#pragma once

// A stand-in for a desktop panel's org.kde.StatusNotifierWatcher on the
// session bus: it records who registers, and reads the first item's
// properties and exported menu and clicks its entries, as a panel would.
#include <gio/gio.h>

#include <string>
#include <vector>

#include "support/MainLoop.h"

namespace velvox::testing {

inline const char* const kWatcherName = "org.kde.StatusNotifierWatcher";

struct Registration {
    std::string sender;   // the item's bus name
    std::string service;  // what it passed: its object path
};

// One entry of an item's exported menu (com.canonical.dbusmenu), drawn as a
// panel shows it: "-" a separator, "(off)" one that cannot be picked, "[x]"
// or "[ ]" a check mark.
struct ExportedEntry {
    int id = 0;
    std::string row;
};

class StandInWatcher {
  public:
    StandInWatcher() {
        connection_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        if (!connection_) return;
        g_autoptr(GDBusNodeInfo) node = g_dbus_node_info_new_for_xml(R"(<node>
          <interface name="org.kde.StatusNotifierWatcher">
            <method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
          </interface></node>)",
                                                                     nullptr);
        static const GDBusInterfaceVTable vtable = {onMethodCall, nullptr, nullptr, {}};
        registration_ =
            g_dbus_connection_register_object(connection_, "/StatusNotifierWatcher",
                                              node->interfaces[0], &vtable, this, nullptr, nullptr);
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
    // Null when the session bus could not be reached or the name not owned.
    GDBusConnection* connection() const { return connection_; }
    const std::vector<Registration>& registrations() const { return registrations_; }
    // The last failed call's message, for a test to show.
    const std::string& lastError() const { return lastError_; }

    static bool nameHasOwner(const char* name) {
        g_autoptr(GDBusConnection) bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
            bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "NameHasOwner", g_variant_new("(s)", name), G_VARIANT_TYPE("(b)"),
            G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        gboolean owned = FALSE;
        if (reply) g_variant_get(reply, "(b)", &owned);
        return owned;
    }

    // A string (or object path) property of the first registered item.
    std::string property(const char* name) {
        g_autoptr(GVariant) reply =
            callItem(registrations_.at(0).service, "org.freedesktop.DBus.Properties", "Get",
                     g_variant_new("(ss)", "org.kde.StatusNotifierItem", name));
        if (!reply) return "<missing>";
        g_autoptr(GVariant) value = nullptr;
        g_variant_get(reply, "(v)", &value);
        if (!g_variant_is_of_type(value, G_VARIANT_TYPE_STRING) &&
            !g_variant_is_of_type(value, G_VARIANT_TYPE_OBJECT_PATH))
            return "<wrong type>";
        return g_variant_get_string(value, nullptr);
    }

    // The first item's menu, top level, as the panel would draw it.
    std::vector<ExportedEntry> menu() {
        std::vector<ExportedEntry> entries;
        g_autoptr(GVariant) reply = callItem(property("Menu"), "com.canonical.dbusmenu",
                                             "GetLayout", g_variant_new("(iias)", 0, -1, nullptr));
        if (!reply) return entries;
        g_autoptr(GVariantIter) children = nullptr;
        g_variant_get(reply, "(u(ia{sv}av))", nullptr, nullptr, nullptr, &children);
        for (GVariant* child = nullptr; g_variant_iter_loop(children, "v", &child);) {
            ExportedEntry& entry = entries.emplace_back();
            g_autoptr(GVariant) properties = nullptr;
            g_variant_get(child, "(i@a{sv}av)", &entry.id, &properties, nullptr);
            const gchar *label = "", *type = "", *toggle = "";
            gboolean enabled = TRUE;
            int state = -1;
            g_variant_lookup(properties, "label", "&s", &label);
            g_variant_lookup(properties, "type", "&s", &type);
            g_variant_lookup(properties, "toggle-type", "&s", &toggle);
            g_variant_lookup(properties, "enabled", "b", &enabled);
            g_variant_lookup(properties, "toggle-state", "i", &state);
            entry.row = g_strcmp0(type, "separator") == 0 ? "-" : label;
            if (!enabled) entry.row += " (off)";
            if (g_strcmp0(toggle, "checkmark") == 0)
                entry.row += state == 1 ? " [x]" : state == 0 ? " [ ]" : " [?]";
        }
        return entries;
    }

    // A click on an entry of the first item's menu; false when the item refused it.
    bool click(int id) {
        g_autoptr(GVariant) reply =
            callItem(property("Menu"), "com.canonical.dbusmenu", "Event",
                     g_variant_new("(isvu)", id, "clicked", g_variant_new_int32(0), 0u));
        return reply != nullptr;
    }

  private:
    // Calls the first item and runs the main loop until it answers (an item
    // in this process answers from this same loop, so a blocking call would
    // wait for ever).
    GVariant* callItem(const std::string& path, const char* interface, const char* method,
                       GVariant* parameters) {
        g_autoptr(GAsyncResult) result = nullptr;
        g_dbus_connection_call(
            connection_, registrations_.at(0).sender.c_str(), path.c_str(), interface, method,
            parameters, nullptr, G_DBUS_CALL_FLAGS_NONE, 10000, nullptr,
            [](GObject*, GAsyncResult* done, gpointer data) {
                *static_cast<GAsyncResult**>(data) = G_ASYNC_RESULT(g_object_ref(done));
            },
            &result);
        spinUntil([&] { return result != nullptr; });
        g_autoptr(GError) error = nullptr;
        GVariant* reply = g_dbus_connection_call_finish(connection_, result, &error);
        if (error) lastError_ = std::string(method) + ": " + error->message;
        return reply;
    }

    void close() {
        g_bus_unown_name(ownership_);
        g_dbus_connection_unregister_object(connection_, registration_);
        g_clear_object(&connection_);
    }

    static void onMethodCall(GDBusConnection*, const gchar* sender, const gchar*, const gchar*,
                             const gchar* method, GVariant* parameters,
                             GDBusMethodInvocation* invocation, gpointer data) {
        const gchar* service = nullptr;
        if (g_strcmp0(method, "RegisterStatusNotifierItem") == 0) {
            g_variant_get(parameters, "(&s)", &service);
            static_cast<StandInWatcher*>(data)->registrations_.push_back({sender, service});
        }
        g_dbus_method_invocation_return_value(invocation, nullptr);
    }

    GDBusConnection* connection_ = nullptr;
    unsigned registration_ = 0, ownership_ = 0;
    bool owned_ = false;
    std::vector<Registration> registrations_;
    std::string lastError_;
};

}  // namespace velvox::testing

#pragma once

#include <gio/gio.h>

#include <future>
#include <mutex>
#include <string>
#include <thread>

namespace velvox::testing {

const char* const kPortalXml = R"xml(<node>
  <interface name="org.freedesktop.portal.GlobalShortcuts">
    <method name="CreateSession"><arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
    <method name="BindShortcuts"><arg type="o" direction="in"/><arg type="a(sa{sv})" direction="in"/>
      <arg type="s" direction="in"/><arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
  </interface>
</node>)xml";

// The desktop's global shortcuts portal on a connection and thread of its
// own (so it answers whatever the test's thread is doing): it hands out
// request and session objects as the real one names them, answers through
// their Response signals and binds the shortcuts to Super+D and Super+B.
class StandInPortal {
  public:
    StandInPortal() {
        std::promise<void> started;
        thread_ = std::thread([this, &started] {
            g_main_context_push_thread_default(context_);
            open();
            started.set_value();
            g_main_loop_run(loop_);
            g_dbus_connection_unregister_object(bus_, registration_);
            g_dbus_connection_close_sync(bus_, nullptr, nullptr);
            g_object_unref(bus_);
            g_main_context_pop_thread_default(context_);
        });
        started.get_future().wait();
    }
    ~StandInPortal() {
        g_main_loop_quit(loop_);
        thread_.join();
        g_main_loop_unref(loop_);
        g_main_context_unref(context_);
    }
    bool ownsName() const { return nameReply_ == 1; }  // DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER

    // The user presses or lets go of a bound shortcut.
    void press(const std::string& id, bool pressed) {
        std::unique_lock lock(mutex_);
        std::string session = session_;
        lock.unlock();
        g_dbus_connection_emit_signal(
            bus_, nullptr, "/org/freedesktop/portal/desktop",
            "org.freedesktop.portal.GlobalShortcuts", pressed ? "Activated" : "Deactivated",
            g_variant_new("(ost@a{sv})", session.c_str(), id.c_str(), guint64(1),
                          g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0)),
            nullptr);
        g_dbus_connection_flush_sync(bus_, nullptr, nullptr);
    }

  private:
    void open() {
        gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        bus_ = g_dbus_connection_new_for_address_sync(
            address,
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                 G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        g_free(address);
        GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kPortalXml, nullptr);
        static const GDBusInterfaceVTable table = {&StandInPortal::onMethod, nullptr, nullptr, {}};
        registration_ =
            g_dbus_connection_register_object(bus_, "/org/freedesktop/portal/desktop",
                                              node->interfaces[0], &table, this, nullptr, nullptr);
        g_dbus_node_info_unref(node);
        GVariant* reply = g_dbus_connection_call_sync(
            bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "RequestName", g_variant_new("(su)", "org.freedesktop.portal.Desktop", 4u),
            G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        if (reply) g_variant_get(reply, "(u)", &nameReply_), g_variant_unref(reply);
    }
    static std::string objectPath(const char* kind, const char* sender, GVariant* options,
                                  const char* key) {
        std::string name = sender + 1;
        for (char& c : name) c = c == '.' ? '_' : c;
        return std::string("/org/freedesktop/portal/desktop/") + kind + "/" + name + "/" +
               option(options, key);
    }
    static std::string option(GVariant* options, const char* key) {
        const char* value = nullptr;
        return g_variant_lookup(options, key, "&s", &value) ? value : "";
    }
    static void onMethod(GDBusConnection*, const gchar* sender, const gchar*, const gchar*,
                         const gchar* method, GVariant* parameters,
                         GDBusMethodInvocation* invocation, gpointer data) {
        auto* portal = static_cast<StandInPortal*>(data);
        std::string call = method;
        GVariantDict results;
        g_variant_dict_init(&results, nullptr);
        GVariant* options = g_variant_get_child_value(parameters, call == "CreateSession" ? 0 : 3);
        if (call == "CreateSession") {
            std::lock_guard lock(portal->mutex_);
            portal->session_ = objectPath("session", sender, options, "session_handle_token");
            g_variant_dict_insert(&results, "session_handle", "s", portal->session_.c_str());
        } else if (call == "BindShortcuts") {
            GVariant* shortcuts = g_variant_get_child_value(parameters, 1);
            GVariantBuilder bound;
            g_variant_builder_init(&bound, G_VARIANT_TYPE("a(sa{sv})"));
            GVariantIter iterator;
            g_variant_iter_init(&iterator, shortcuts);
            const char* id = nullptr;
            while (g_variant_iter_next(&iterator, "(&s@a{sv})", &id, nullptr)) {
                GVariantDict trigger;
                g_variant_dict_init(&trigger, nullptr);
                g_variant_dict_insert(&trigger, "trigger_description", "s",
                                      id[0] == 'b' ? "Press Super+B" : "Press Super+D");
                g_variant_builder_add(&bound, "(s@a{sv})", id, g_variant_dict_end(&trigger));
            }
            g_variant_unref(shortcuts);
            g_variant_dict_insert_value(&results, "shortcuts", g_variant_builder_end(&bound));
        }
        // Answers the call with a request object, then the request with its Response.
        std::string request = objectPath("request", sender, options, "handle_token");
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", request.c_str()));
        g_dbus_connection_emit_signal(
            portal->bus_, sender, request.c_str(), "org.freedesktop.portal.Request", "Response",
            g_variant_new("(u@a{sv})", 0u, g_variant_dict_end(&results)), nullptr);
        g_variant_unref(options);
    }
    GMainContext* context_ = g_main_context_new();
    GMainLoop* loop_ = g_main_loop_new(context_, FALSE);
    std::thread thread_;
    GDBusConnection* bus_ = nullptr;
    guint registration_ = 0;
    guint32 nameReply_ = 0;
    std::mutex mutex_;
    std::string session_;
};

}  // namespace velvox::testing

#pragma once

#include <gio/gio.h>

#include <atomic>
#include <cstdio>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velvox::testing {

const char* const kPortalXml = R"xml(<node>
  <interface name="org.freedesktop.portal.GlobalShortcuts">
    <method name="CreateSession">
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="o" name="handle" direction="out"/>
    </method>
    <method name="BindShortcuts">
      <arg type="o" name="session_handle" direction="in"/>
      <arg type="a(sa{sv})" name="shortcuts" direction="in"/>
      <arg type="s" name="parent_window" direction="in"/>
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="o" name="request_handle" direction="out"/>
    </method>
    <signal name="Activated">
      <arg type="o" name="session_handle"/><arg type="s" name="shortcut_id"/>
      <arg type="t" name="timestamp"/><arg type="a{sv}" name="options"/>
    </signal>
    <signal name="Deactivated">
      <arg type="o" name="session_handle"/><arg type="s" name="shortcut_id"/>
      <arg type="t" name="timestamp"/><arg type="a{sv}" name="options"/>
    </signal>
    <signal name="ShortcutsChanged">
      <arg type="o" name="session_handle"/><arg type="a(sa{sv})" name="shortcuts"/>
    </signal>
  </interface>
  <interface name="org.freedesktop.portal.RemoteDesktop">
    <method name="CreateSession">
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="o" name="handle" direction="out"/>
    </method>
    <method name="SelectDevices">
      <arg type="o" name="session_handle" direction="in"/>
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="o" name="handle" direction="out"/>
    </method>
    <method name="Start">
      <arg type="o" name="session_handle" direction="in"/>
      <arg type="s" name="parent_window" direction="in"/>
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="o" name="handle" direction="out"/>
    </method>
    <method name="NotifyKeyboardKeysym">
      <arg type="o" name="session_handle" direction="in"/>
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="i" name="keysym" direction="in"/>
      <arg type="u" name="state" direction="in"/>
    </method>
  </interface>
</node>)xml";

// The desktop's portal on a connection of its own, with scripted answers: it
// hands out request and session objects as the real one names them, answers
// through their Response signals, and records what it was asked.
//
// It runs on a thread of its own with its own main context, so it answers
// whatever the test's thread is doing (waiting for a program, say).
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
            g_dbus_connection_unregister_object(bus_, remoteRegistration_);
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

    // The user presses or lets go of a bound shortcut, in `session` (ours by default).
    void press(const std::string& id, bool pressed, std::string session = "") {
        if (session.empty()) session = this->session();
        g_dbus_connection_emit_signal(
            bus_, nullptr, "/org/freedesktop/portal/desktop",
            "org.freedesktop.portal.GlobalShortcuts", pressed ? "Activated" : "Deactivated",
            g_variant_new("(ost@a{sv})", session.c_str(), id.c_str(), guint64(1),
                          g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0)),
            nullptr);
        g_dbus_connection_flush_sync(bus_, nullptr, nullptr);
    }
    // The user gives a shortcut other keys in the desktop's settings.
    void changeKeys(const std::string& id, const std::string& trigger) {
        GVariantBuilder list;
        g_variant_builder_init(&list, G_VARIANT_TYPE("a(sa{sv})"));
        GVariantBuilder properties;
        g_variant_builder_init(&properties, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&properties, "{sv}", "trigger_description",
                              g_variant_new_string(trigger.c_str()));
        g_variant_builder_add(&list, "(sa{sv})", id.c_str(), &properties);
        g_dbus_connection_emit_signal(bus_, nullptr, "/org/freedesktop/portal/desktop",
                                      "org.freedesktop.portal.GlobalShortcuts", "ShortcutsChanged",
                                      g_variant_new("(oa(sa{sv}))", session().c_str(), &list),
                                      nullptr);
        g_dbus_connection_flush_sync(bus_, nullptr, nullptr);
    }
    std::vector<std::string> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    std::string session() const {
        std::lock_guard lock(mutex_);
        return session_;
    }

    // What the user answers in the desktop's dialog: 0 confirms, 1 cancels.
    // Set before anyone asks.
    std::atomic<guint32> bindAnswer = 0;
    // The devices the user lets a remote desktop session have (1: keyboard).
    std::atomic<guint32> remoteDevices = 1;

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
        remoteRegistration_ =
            g_dbus_connection_register_object(bus_, "/org/freedesktop/portal/desktop",
                                              node->interfaces[1], &table, this, nullptr, nullptr);
        g_dbus_node_info_unref(node);
        GVariant* reply = g_dbus_connection_call_sync(
            bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "RequestName", g_variant_new("(su)", "org.freedesktop.portal.Desktop", 4u),
            G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        if (reply) g_variant_get(reply, "(u)", &nameReply_);
        if (reply) g_variant_unref(reply);
    }
    static std::string objectPath(const char* kind, const char* sender, const std::string& token) {
        std::string name = sender + 1;
        for (char& c : name)
            if (c == '.') c = '_';
        return std::string("/org/freedesktop/portal/desktop/") + kind + "/" + name + "/" + token;
    }
    static std::string option(GVariant* options, const char* key) {
        const char* value = nullptr;
        return g_variant_lookup(options, key, "&s", &value) ? value : "";
    }
    void respond(const char* sender, const std::string& request, guint32 answer,
                 GVariant* results) {
        g_dbus_connection_emit_signal(bus_, sender, request.c_str(),
                                      "org.freedesktop.portal.Request", "Response",
                                      g_variant_new("(u@a{sv})", answer, results), nullptr);
    }
    static void onMethod(GDBusConnection*, const gchar* sender, const gchar*,
                         const gchar* interface, const gchar* method, GVariant* parameters,
                         GDBusMethodInvocation* invocation, gpointer data) {
        auto* portal = static_cast<StandInPortal*>(data);
        if (g_strcmp0(interface, "org.freedesktop.portal.RemoteDesktop") == 0 &&
            g_strcmp0(method, "CreateSession") != 0)
            return portal->remoteDesktop(sender, method, parameters, invocation);
        GVariantDict results;
        g_variant_dict_init(&results, nullptr);
        if (g_strcmp0(method, "CreateSession") == 0) {
            GVariant* options = g_variant_get_child_value(parameters, 0);
            std::string request = objectPath("request", sender, option(options, "handle_token"));
            std::string session =
                objectPath("session", sender, option(options, "session_handle_token"));
            portal->record("", session);
            g_variant_unref(options);
            portal->record("CreateSession", "");
            g_dbus_method_invocation_return_value(invocation,
                                                  g_variant_new("(o)", request.c_str()));
            g_variant_dict_insert(&results, "session_handle", "s", session.c_str());
            portal->respond(sender, request, 0, g_variant_dict_end(&results));
            return;
        }
        const char* session = nullptr;
        GVariant* shortcuts = nullptr;
        GVariant* options = nullptr;
        g_variant_get(parameters, "(&o@a(sa{sv})&s@a{sv})", &session, &shortcuts, nullptr,
                      &options);
        std::string request = objectPath("request", sender, option(options, "handle_token"));
        std::string call = std::string("BindShortcuts ") +
                           (portal->session() == session ? "our session" : session);
        GVariantBuilder bound;
        g_variant_builder_init(&bound, G_VARIANT_TYPE("a(sa{sv})"));
        GVariantIter iterator;
        g_variant_iter_init(&iterator, shortcuts);
        const char* id = nullptr;
        GVariant* properties = nullptr;
        while (g_variant_iter_next(&iterator, "(&s@a{sv})", &id, &properties)) {
            call += std::string(", ") + id + " \"" + option(properties, "description") + "\"";
            // The desktop takes the keys asked for, else picks its own.
            std::string preferred = option(properties, "preferred_trigger");
            if (!preferred.empty()) call += " preferring " + preferred;
            GVariantBuilder assigned;
            g_variant_builder_init(&assigned, G_VARIANT_TYPE_VARDICT);
            std::string trigger =
                "Press " + (preferred.empty() ? std::string("Super+") + (id[0] == 'b' ? "B" : "D")
                                              : preferred);
            g_variant_builder_add(&assigned, "{sv}", "trigger_description",
                                  g_variant_new_string(trigger.c_str()));
            g_variant_builder_add(&bound, "(sa{sv})", id, &assigned);
            g_variant_unref(properties);
        }
        g_variant_unref(shortcuts);
        g_variant_unref(options);
        portal->record(call, "");
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", request.c_str()));
        g_variant_dict_insert_value(&results, "shortcuts", g_variant_builder_end(&bound));
        portal->respond(sender, request, portal->bindAnswer, g_variant_dict_end(&results));
    }

    // The keyboard of a remote desktop session: the user agrees (devices
    // says which), and keys are recorded by symbol.
    void remoteDesktop(const char* sender, const char* method, GVariant* parameters,
                       GDBusMethodInvocation* invocation) {
        GVariantDict results;
        g_variant_dict_init(&results, nullptr);
        if (g_strcmp0(method, "NotifyKeyboardKeysym") == 0) {
            gint32 symbol = 0;
            guint32 state = 0;
            g_variant_get(parameters, "(&o@a{sv}iu)", nullptr, nullptr, &symbol, &state);
            char line[64];
            std::snprintf(line, sizeof line, "keysym 0x%x %s", symbol, state ? "down" : "up");
            record(line, "");
            g_variant_dict_clear(&results);
            g_dbus_method_invocation_return_value(invocation, nullptr);
            return;
        }
        GVariant* options =
            g_variant_get_child_value(parameters, g_strcmp0(method, "Start") == 0 ? 2 : 1);
        std::string request = objectPath("request", sender, option(options, "handle_token"));
        std::string call = std::string(method);
        if (g_strcmp0(method, "SelectDevices") == 0) {
            guint32 types = 0, persist = 0;
            g_variant_lookup(options, "types", "u", &types);
            g_variant_lookup(options, "persist_mode", "u", &persist);
            call += " types " + std::to_string(types) + " persist " + std::to_string(persist);
            std::string kept = option(options, "restore_token");
            if (!kept.empty()) call += " restoring " + kept;
        } else {
            g_variant_dict_insert(&results, "devices", "u", guint32(remoteDevices));
            g_variant_dict_insert(&results, "restore_token", "s", "consent-1");
        }
        g_variant_unref(options);
        record(call, "");
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", request.c_str()));
        respond(sender, request, 0, g_variant_dict_end(&results));
    }

    void record(const std::string& call, const std::string& session) {
        std::lock_guard lock(mutex_);
        if (!call.empty()) calls_.push_back(call);
        if (!session.empty()) session_ = session;
    }

    GMainContext* context_ = g_main_context_new();
    GMainLoop* loop_ = g_main_loop_new(context_, FALSE);
    std::thread thread_;
    GDBusConnection* bus_ = nullptr;
    guint registration_ = 0;
    guint remoteRegistration_ = 0;
    guint32 nameReply_ = 0;
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    std::string session_;
};

}  // namespace velvox::testing

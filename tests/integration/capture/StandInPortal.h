#pragma once

#include <gio/gio.h>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace velvox::testing {

// The desktop's portal (global shortcuts, the remote desktop keyboard) on a
// connection of its own: it hands out request and session objects as the real
// one names them, answers through their Response signals (on the bus's message
// thread, whatever the test's thread does), and records what it was asked.
class StandInPortal {
  public:
    StandInPortal() {
        g_autofree gchar* address =
            g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        bus_ = g_dbus_connection_new_for_address_sync(
            address,
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                 G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        g_dbus_connection_add_filter(bus_, &StandInPortal::filter, this, nullptr);
        g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
            bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "RequestName", g_variant_new("(su)", "org.freedesktop.portal.Desktop", 4u),
            G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        if (reply) g_variant_get(reply, "(u)", &nameReply_);
    }
    // Closing stops the message thread's work on this connection: no filter runs afterwards.
    ~StandInPortal() {
        g_dbus_connection_close_sync(bus_, nullptr, nullptr);
        g_object_unref(bus_);
        if (created_) g_variant_unref(created_);
    }
    bool ownsName() const { return nameReply_ == 1; }  // DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER

    // The user presses or lets go of a bound shortcut, in `session` (ours by default).
    void press(const std::string& id, bool pressed, std::string session = "") {
        emit(pressed ? "Activated" : "Deactivated",
             g_variant_new("(ost@a{sv})", (session.empty() ? this->session() : session).c_str(),
                           id.c_str(), guint64(1),
                           g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0)));
    }
    // The user gives a shortcut other keys in the desktop's settings.
    void changeKeys(const std::string& id, const std::string& trigger) {
        GVariantBuilder list;
        g_variant_builder_init(&list, G_VARIANT_TYPE("a(sa{sv})"));
        g_variant_builder_add(&list, "(s@a{sv})", id.c_str(), triggerProperties(trigger));
        emit("ShortcutsChanged", g_variant_new("(oa(sa{sv}))", session().c_str(), &list));
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
    // As KDE Plasma 5.27: only shortcuts that came with CreateSession are
    // registered, and BindShortcuts answers with none of them.
    std::atomic<bool> bindsOnlyAtCreation = false;
    // The number of the key event (from 0) that fails, as one lost by the desktop.
    std::atomic<int> failingKey = -1;

  private:
    static constexpr const char* kPath = "/org/freedesktop/portal/desktop";

    void emit(const char* signal, GVariant* parameters) {
        g_dbus_connection_emit_signal(bus_, nullptr, kPath,
                                      "org.freedesktop.portal.GlobalShortcuts", signal, parameters,
                                      nullptr);
        g_dbus_connection_flush_sync(bus_, nullptr, nullptr);
    }
    static GVariant* triggerProperties(const std::string& trigger) {
        return g_variant_new_parsed("{'trigger_description': <%s>}", trigger.c_str());
    }
    // The shortcuts as bound (none when `registered` is false): the desktop
    // takes the keys asked for, else picks its own.
    static GVariant* bindings(GVariant* shortcuts, bool registered) {
        GVariantBuilder bound;
        g_variant_builder_init(&bound, G_VARIANT_TYPE("a(sa{sv})"));
        GVariantIter iterator;
        if (shortcuts && registered) g_variant_iter_init(&iterator, shortcuts);
        const char* id = nullptr;
        GVariant* properties = nullptr;
        while (shortcuts && registered &&
               g_variant_iter_loop(&iterator, "(&s@a{sv})", &id, &properties)) {
            std::string preferred = option(properties, "preferred_trigger");
            std::string keys =
                preferred.empty() ? std::string("Super+") + (id[0] == 'b' ? "B" : "D") : preferred;
            g_variant_builder_add(&bound, "(s@a{sv})", id, triggerProperties("Press " + keys));
        }
        return g_variant_builder_end(&bound);
    }
    static std::string objectPath(const char* kind, const char* sender, const std::string& token) {
        std::string name = sender + 1;
        for (char& c : name) c = c == '.' ? '_' : c;
        return std::string(kPath) + "/" + kind + "/" + name + "/" + token;
    }
    static std::string option(GVariant* options, const char* key) {
        const char* value = nullptr;
        return g_variant_lookup(options, key, "&s", &value) ? value : "";
    }
    void record(const std::string& call) {
        std::lock_guard lock(mutex_);
        calls_.push_back(call);
    }

    // Takes the calls the portal answers; the rest get the connection's "no such object".
    static GDBusMessage* filter(GDBusConnection*, GDBusMessage* message, gboolean incoming,
                                gpointer self) {
        static const std::set<std::string> answered = {"CreateSession", "BindShortcuts",
                                                       "ListShortcuts", "SelectDevices",
                                                       "Start",         "NotifyKeyboardKeysym"};
        if (!incoming || g_strcmp0(g_dbus_message_get_path(message), kPath) != 0 ||
            g_dbus_message_get_message_type(message) != G_DBUS_MESSAGE_TYPE_METHOD_CALL ||
            !answered.count(g_dbus_message_get_member(message)))
            return message;
        static_cast<StandInPortal*>(self)->answer(message);
        g_object_unref(message);
        return nullptr;
    }
    void reply(GDBusMessage* call, GVariant* body) {
        GDBusMessage* reply = g_dbus_message_new_method_reply(call);
        g_dbus_message_set_body(reply, body);
        g_dbus_connection_send_message(bus_, reply, G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr,
                                       nullptr);
        g_object_unref(reply);
    }

    void answer(GDBusMessage* message) {
        std::string call = g_dbus_message_get_member(message);
        const char* sender = g_dbus_message_get_sender(message);
        GVariant* parameters = g_dbus_message_get_body(message);
        if (call == "NotifyKeyboardKeysym") {
            gint32 symbol = 0;
            guint32 state = 0;
            g_variant_get(parameters, "(&o@a{sv}iu)", nullptr, nullptr, &symbol, &state);
            char line[64];
            std::snprintf(line, sizeof line, "keysym 0x%x %s", symbol, state ? "down" : "up");
            record(line);
            if (keys_++ == failingKey) {
                GDBusMessage* error = g_dbus_message_new_method_error(
                    message, "org.freedesktop.DBus.Error.Failed", "lost");
                g_dbus_connection_send_message(bus_, error, G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr,
                                               nullptr);
                g_object_unref(error);
                return;
            }
            return reply(message, nullptr);
        }
        // The options come last in each of the calls answered through a request.
        g_autoptr(GVariant) options =
            g_variant_get_child_value(parameters, g_variant_n_children(parameters) - 1);
        GVariant* results = nullptr;
        guint32 answer = 0;
        if (call == "CreateSession") {
            std::string session =
                objectPath("session", sender, option(options, "session_handle_token"));
            g_autoptr(GVariant) shortcuts =
                g_variant_lookup_value(options, "shortcuts", G_VARIANT_TYPE("a(sa{sv})"));
            if (shortcuts) call += " with " + std::to_string(g_variant_n_children(shortcuts));
            std::lock_guard lock(mutex_);
            session_ = session;
            if (shortcuts) {
                if (created_) g_variant_unref(created_);
                created_ = g_variant_ref(shortcuts);
            }
            results = g_variant_new_parsed("{'session_handle': <%s>}", session.c_str());
        } else if (call == "ListShortcuts") {
            std::lock_guard lock(mutex_);
            results =
                g_variant_new_parsed("{'shortcuts': <%@a(sa{sv})>}", bindings(created_, true));
        } else if (call == "BindShortcuts") {
            const char* session = nullptr;
            g_autoptr(GVariant) shortcuts = nullptr;
            g_variant_get(parameters, "(&o@a(sa{sv})&s@a{sv})", &session, &shortcuts, nullptr,
                          nullptr);
            call += this->session() == session ? " our session" : std::string(" ") + session;
            GVariantIter iterator;
            g_variant_iter_init(&iterator, shortcuts);
            const char* id = nullptr;
            GVariant* properties = nullptr;
            while (g_variant_iter_loop(&iterator, "(&s@a{sv})", &id, &properties)) {
                call += std::string(", ") + id + " \"" + option(properties, "description") + "\"";
                std::string preferred = option(properties, "preferred_trigger");
                if (!preferred.empty()) call += " preferring " + preferred;
            }
            results = g_variant_new_parsed("{'shortcuts': <%@a(sa{sv})>}",
                                           bindings(shortcuts, !bindsOnlyAtCreation));
            answer = bindAnswer;
        } else if (call == "SelectDevices") {
            // The keyboard of a remote desktop session: the user agrees (devices says which).
            guint32 types = 0, persist = 0;
            g_variant_lookup(options, "types", "u", &types);
            g_variant_lookup(options, "persist_mode", "u", &persist);
            call += " types " + std::to_string(types) + " persist " + std::to_string(persist);
            std::string kept = option(options, "restore_token");
            if (!kept.empty()) call += " restoring " + kept;
        } else {
            results = g_variant_new_parsed("{'devices': <%u>, 'restore_token': <'consent-1'>}",
                                           guint32(remoteDevices));
        }
        record(call);
        // Answers the call with a request object, then the request with its Response.
        std::string request = objectPath("request", sender, option(options, "handle_token"));
        reply(message, g_variant_new("(o)", request.c_str()));
        g_dbus_connection_emit_signal(
            bus_, sender, request.c_str(), "org.freedesktop.portal.Request", "Response",
            g_variant_new("(u@a{sv})", answer,
                          results ? results : g_variant_new_parsed("@a{sv} {}")),
            nullptr);
    }

    GDBusConnection* bus_ = nullptr;
    guint32 nameReply_ = 0;
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    std::string session_;
    GVariant* created_ = nullptr;  // the shortcuts that came with the session
    std::atomic<int> keys_ = 0;
};

}  // namespace velvox::testing

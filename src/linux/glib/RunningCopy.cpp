#include "linux/glib/RunningCopy.h"

#include <gio/gio.h>

namespace velvox {

std::string commandsInterface(const std::string& applicationID) {
    return applicationID + ".Dictation";
}

std::string objectPathOf(const std::string& applicationID) {
    std::string path = "/" + applicationID;
    for (char& c : path) {
        if (c == '.') c = '/';
        if (c == '-') c = '_';
    }
    return path;
}

namespace {

bool nameHasOwner(GDBusConnection* bus, const std::string& applicationID) {
    // Asked first: registering as a launcher for a name nobody owns would
    // start the application through D-Bus activation instead.
    constexpr int kTimeoutMilliseconds = 5000;
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "NameHasOwner", g_variant_new("(s)", applicationID.c_str()), G_VARIANT_TYPE("(b)"),
        G_DBUS_CALL_FLAGS_NONE, kTimeoutMilliseconds, nullptr, &error);
    gboolean running = FALSE;
    if (reply) g_variant_get(reply, "(b)", &running);
    return running;
}

}  // namespace

bool isApplicationRunning(const std::string& applicationID) {
    g_autoptr(GDBusConnection) bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    return bus && nameHasOwner(bus, applicationID);
}

std::optional<std::string> handOverDictation(const std::string& applicationID,
                                             const std::string& command, bool boost) {
    // A shortcut's command never hangs on a copy that has stopped answering.
    constexpr int kTimeoutMilliseconds = 1000;
    g_autoptr(GError) error = nullptr;
    g_autoptr(GDBusConnection) bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!bus) return std::nullopt;
    // Never auto-started: a command must not launch the application.
    g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
        bus, applicationID.c_str(), objectPathOf(applicationID).c_str(),
        commandsInterface(applicationID).c_str(), kRunCommandMethod,
        g_variant_new("(sb)", command.c_str(), boost), G_VARIANT_TYPE("(s)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, kTimeoutMilliseconds, nullptr, &error);
    std::optional<std::string> answer;
    if (reply) {
        const gchar* refusal = nullptr;
        g_variant_get(reply, "(&s)", &refusal);
        answer = refusal;
    } else if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT) ||
               g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY)) {
        // It may yet carry it out: not the same as none running.
        answer = "the running copy did not answer";
    }
    return answer;
}

bool handOverLaunch(const std::string& applicationID, const std::vector<std::string>& urls) {
    constexpr int kTimeoutMilliseconds = 1000;
    g_autoptr(GDBusConnection) bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus) return false;
    GVariantBuilder addresses;
    g_variant_builder_init(&addresses, G_VARIANT_TYPE("as"));
    for (const auto& url : urls) g_variant_builder_add(&addresses, "s", url.c_str());
    GVariant* noPlatformData = g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0);
    GVariant* arguments = urls.empty() ? g_variant_new("(@a{sv})", noPlatformData)
                                       : g_variant_new("(as@a{sv})", &addresses, noPlatformData);
    if (urls.empty()) g_variant_builder_clear(&addresses);
    // GApplication's own interface for a launch handed over, never auto-started.
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
        bus, applicationID.c_str(), objectPathOf(applicationID).c_str(),
        "org.freedesktop.Application", urls.empty() ? "Activate" : "Open", arguments, nullptr,
        G_DBUS_CALL_FLAGS_NO_AUTO_START, kTimeoutMilliseconds, nullptr, &error);
    // A copy still busy starting has the call queued and carries it out
    // later: handing it over again would open the address twice.
    return reply || !(g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
                      g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER) ||
                      g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD) ||
                      g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_OBJECT) ||
                      g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_INTERFACE));
}

}  // namespace velvox

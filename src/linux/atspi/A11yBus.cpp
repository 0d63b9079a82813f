#include "linux/atspi/A11yBus.h"

#include <algorithm>
#include <cmath>

namespace velvox {

namespace {

constexpr const char* kAccessible = "org.a11y.atspi.Accessible";
constexpr const char* kNullPath = "/org/a11y/atspi/null";

std::optional<RemoteAccessible> reference(GVariant* pair) {
    const gchar* bus = nullptr;
    const gchar* path = nullptr;
    g_variant_get(pair, "(&s&o)", &bus, &path);
    if (!bus || !*bus || !path || g_strcmp0(path, kNullPath) == 0) return std::nullopt;
    return RemoteAccessible{bus, path};
}

}  // namespace

std::shared_ptr<A11yBus> A11yBus::connect() {
    g_autoptr(GDBusConnection) session = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!session) return nullptr;
    g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
        session, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", nullptr,
        G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, nullptr);
    if (!reply) return nullptr;
    const gchar* address = nullptr;
    g_variant_get(reply, "(&s)", &address);
    GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
        address,
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    if (!connection) return nullptr;
    return std::make_shared<A11yBus>(connection);
}

int A11yBus::timeoutMs(double seconds) {
    return std::isfinite(seconds) && seconds > 0
               ? static_cast<int>(std::lround(std::min(seconds, 60.0) * 1000))
               : 1000;
}

RemoteAccessible A11yBus::desktop() {
    return {"org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root"};
}

A11yBus::Answer A11yBus::call(const RemoteAccessible& object, const char* interface,
                              const char* method, GVariant* arguments, const char* replyType,
                              int timeoutMs) const {
    g_autoptr(GError) error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        connection_.get(), object.bus.c_str(), object.path.c_str(), interface, method, arguments,
        G_VARIANT_TYPE(replyType), G_DBUS_CALL_FLAGS_NO_AUTO_START, timeoutMs, nullptr, &error);
    Answer answer;
    answer.value.reset(reply);
    answer.timedOut = error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT);
    return answer;
}

std::optional<uint32_t> A11yBus::role(const RemoteAccessible& object, int timeoutMs) const {
    auto answer = call(object, kAccessible, "GetRole", nullptr, "(u)", timeoutMs);
    if (!answer.value) return std::nullopt;
    guint32 role = 0;
    g_variant_get(answer.value.get(), "(u)", &role);
    return role;
}

std::optional<std::bitset<64>> A11yBus::states(const RemoteAccessible& object,
                                               int timeoutMs) const {
    auto answer = call(object, kAccessible, "GetState", nullptr, "(au)", timeoutMs);
    if (!answer.value) return std::nullopt;
    g_autoptr(GVariant) words = g_variant_get_child_value(answer.value.get(), 0);
    gsize count = 0;
    const auto* word =
        static_cast<const guint32*>(g_variant_get_fixed_array(words, &count, sizeof(guint32)));
    std::bitset<64> bits;
    for (gsize index = 0; index < count && index < 2; ++index)
        bits |= std::bitset<64>(word[index]) << (32 * index);
    return bits;
}

std::vector<std::string> A11yBus::interfaces(const RemoteAccessible& object, int timeoutMs) const {
    std::vector<std::string> names;
    auto answer = call(object, kAccessible, "GetInterfaces", nullptr, "(as)", timeoutMs);
    if (!answer.value) return names;
    g_autoptr(GVariantIter) iter = nullptr;
    g_variant_get(answer.value.get(), "(as)", &iter);
    const gchar* name = nullptr;
    while (g_variant_iter_next(iter, "&s", &name)) names.emplace_back(name);
    return names;
}

std::vector<RemoteAccessible> A11yBus::children(const RemoteAccessible& object,
                                                int timeoutMs) const {
    std::vector<RemoteAccessible> found;
    auto answer = call(object, kAccessible, "GetChildren", nullptr, "(a(so))", timeoutMs);
    if (!answer.value) return found;
    g_autoptr(GVariant) list = g_variant_get_child_value(answer.value.get(), 0);
    gsize count = g_variant_n_children(list);
    for (gsize index = 0; index < count; ++index) {
        g_autoptr(GVariant) pair = g_variant_get_child_value(list, index);
        if (auto child = reference(pair)) found.push_back(std::move(*child));
    }
    return found;
}

std::optional<RemoteAccessible> A11yBus::parent(const RemoteAccessible& object,
                                                int timeoutMs) const {
    auto answer = call(object, "org.freedesktop.DBus.Properties", "Get",
                       g_variant_new("(ss)", kAccessible, "Parent"), "(v)", timeoutMs);
    if (!answer.value) return std::nullopt;
    g_autoptr(GVariant) value = nullptr;
    g_variant_get(answer.value.get(), "(v)", &value);
    if (!value || !g_variant_is_of_type(value, G_VARIANT_TYPE("(so)"))) return std::nullopt;
    return reference(value);
}

std::optional<int32_t> A11yBus::intProperty(const RemoteAccessible& object, const char* interface,
                                            const char* name, int timeoutMs) const {
    auto answer = call(object, "org.freedesktop.DBus.Properties", "Get",
                       g_variant_new("(ss)", interface, name), "(v)", timeoutMs);
    if (!answer.value) return std::nullopt;
    g_autoptr(GVariant) value = nullptr;
    g_variant_get(answer.value.get(), "(v)", &value);
    if (!value || !g_variant_is_of_type(value, G_VARIANT_TYPE_INT32)) return std::nullopt;
    return g_variant_get_int32(value);
}

std::optional<int32_t> A11yBus::processId(const RemoteAccessible& object, int timeoutMs) const {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (auto known = processes_.find(object.bus); known != processes_.end())
            return known->second;
    }
    auto answer = call({"org.freedesktop.DBus", "/org/freedesktop/DBus"}, "org.freedesktop.DBus",
                       "GetConnectionUnixProcessID", g_variant_new("(s)", object.bus.c_str()),
                       "(u)", timeoutMs);
    if (!answer.value) return std::nullopt;
    guint32 process = 0;
    g_variant_get(answer.value.get(), "(u)", &process);
    std::lock_guard<std::mutex> lock(mutex_);
    processes_[object.bus] = static_cast<int32_t>(process);
    return static_cast<int32_t>(process);
}

}  // namespace velvox

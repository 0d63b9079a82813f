#include "linux/atspi/AccessibilityBusStatus.h"

#include <gio/gio.h>

#include <mutex>
#include <thread>

namespace velvox {

namespace {

constexpr const char* kBusName = "org.a11y.Bus";
constexpr const char* kBusPath = "/org/a11y/bus";
// A busy desktop may take a moment to answer, or to start the bus.
constexpr int kAskMs = 1000;
// How old an answer may be before the next question asks the bus again.
constexpr gint64 kFreshMicroseconds = 2 * G_USEC_PER_SEC;

GVariant* statusQuestion() {
    return g_variant_new("(ss)", "org.a11y.Status", "IsEnabled");
}

std::optional<bool> answerIn(GVariant* reply) {
    if (!reply) return std::nullopt;
    g_autoptr(GVariant) value = nullptr;
    g_variant_get(reply, "(v)", &value);
    return value && g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) &&
           g_variant_get_boolean(value);
}

}  // namespace

struct AccessibilityBusStatus::Known {
    std::mutex mutex;
    std::thread::id mainThread = std::this_thread::get_id();
    std::optional<std::optional<bool>> answer;  // outer: asked at least once
    gint64 askedAt = 0;
    bool asking = false;
};

AccessibilityBusStatus::AccessibilityBusStatus() : known_(std::make_shared<Known>()) {}

AccessibilityBusStatus::~AccessibilityBusStatus() = default;

std::optional<bool> AccessibilityBusStatus::enabled() {
    Known& known = *known_;
    gint64 now = g_get_monotonic_time();
    auto sessionBus = [] { return g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr); };
    std::lock_guard<std::mutex> lock(known.mutex);
    if (!known.answer) {
        // The call starts the bus where the session bus can.
        g_autoptr(GDBusConnection) bus = sessionBus();
        g_autoptr(GVariant) reply =
            bus ? g_dbus_connection_call_sync(bus, kBusName, kBusPath,
                                              "org.freedesktop.DBus.Properties", "Get",
                                              statusQuestion(), G_VARIANT_TYPE("(v)"),
                                              G_DBUS_CALL_FLAGS_NONE, kAskMs, nullptr, nullptr)
                : nullptr;
        known.answer = answerIn(reply);
        known.askedAt = now;
        return *known.answer;
    }
    // The answer comes on the main loop: only the main thread asks again.
    g_autoptr(GDBusConnection) bus = nullptr;
    if (!known.asking && now - known.askedAt > kFreshMicroseconds &&
        std::this_thread::get_id() == known.mainThread && (bus = sessionBus())) {
        known.asking = true;
        known.askedAt = now;
        g_dbus_connection_call(
            bus, kBusName, kBusPath, "org.freedesktop.DBus.Properties", "Get", statusQuestion(),
            G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, kAskMs, nullptr,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                std::unique_ptr<std::weak_ptr<Known>> weak(
                    static_cast<std::weak_ptr<Known>*>(data));
                g_autoptr(GVariant) reply =
                    g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
                if (auto known = weak->lock()) {
                    std::lock_guard<std::mutex> lock(known->mutex);
                    known->answer = answerIn(reply);
                    known->askedAt = g_get_monotonic_time();
                    known->asking = false;
                }
            },
            new std::weak_ptr<Known>(known_));
    }
    return *known.answer;
}

}  // namespace velvox

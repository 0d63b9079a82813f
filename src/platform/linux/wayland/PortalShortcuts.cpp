#include "platform/linux/wayland/PortalShortcuts.h"

#include <gio/gio.h>

#include <unistd.h>

#include <utility>

namespace velvox {

namespace {

constexpr const char* kService = "org.freedesktop.portal.Desktop";
constexpr const char* kPath = "/org/freedesktop/portal/desktop";
constexpr const char* kInterface = "org.freedesktop.portal.GlobalShortcuts";
// The portal answers at once with a request object; the user's answer in the
// desktop's dialog comes later as its Response signal, so no time-out there.
constexpr int kCallTimeoutMilliseconds = 5000;

std::string token(const char* what) {
    static unsigned counter = 0;
    return std::string("velvox_") + what + std::to_string(getpid()) + "_" +
           std::to_string(++counter);
}

}  // namespace

// A request waiting for its Response signal.
struct PortalShortcuts::Pending {
    unsigned subscription = 0;
    std::function<void(GVariant*)> answered;
    PortalShortcuts* owner = nullptr;
};

PortalShortcuts::PortalShortcuts(std::vector<Shortcut> shortcuts, Ready ready, Changed changed)
    : shortcuts_(std::move(shortcuts)), ready_(std::move(ready)), changed_(std::move(changed)) {
    bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    cancellable_ = g_cancellable_new();
    if (!bus_) {
        finish(std::nullopt);
        return;
    }
    std::string sessionToken = token("session");
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    std::string requestToken = token("request");
    g_variant_builder_add(&options, "{sv}", "handle_token",
                          g_variant_new_string(requestToken.c_str()));
    g_variant_builder_add(&options, "{sv}", "session_handle_token",
                          g_variant_new_string(sessionToken.c_str()));
    request("CreateSession", g_variant_new("(a{sv})", &options), requestToken,
            [this](GVariant* results) { sessionCreated(results); });
}

PortalShortcuts::~PortalShortcuts() {
    g_cancellable_cancel(cancellable_);
    if (bus_) {
        for (auto& pending : pending_)
            if (pending->subscription)
                g_dbus_connection_signal_unsubscribe(bus_, pending->subscription);
        if (pressSubscription_) g_dbus_connection_signal_unsubscribe(bus_, pressSubscription_);
        if (releaseSubscription_) g_dbus_connection_signal_unsubscribe(bus_, releaseSubscription_);
        if (changeSubscription_) g_dbus_connection_signal_unsubscribe(bus_, changeSubscription_);
        if (!session_.empty()) {
            g_dbus_connection_call(bus_, kService, session_.c_str(),
                                   "org.freedesktop.portal.Session", "Close", nullptr, nullptr,
                                   G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
            g_dbus_connection_flush_sync(bus_, nullptr, nullptr);
        }
        g_object_unref(bus_);
    }
    g_object_unref(cancellable_);
}

void PortalShortcuts::request(const char* method, GVariant* arguments, const std::string& token,
                              std::function<void(GVariant*)> answered) {
    // The request object's path is known ahead, so its Response cannot come
    // before we listen: /org/freedesktop/portal/desktop/request/SENDER/TOKEN,
    // SENDER being our unique name without the colon, dots made underscores.
    std::string sender = g_dbus_connection_get_unique_name(bus_) + 1;
    for (char& c : sender)
        if (c == '.') c = '_';
    std::string path = std::string(kPath) + "/request/" + sender + "/" + token;

    auto pending = std::make_unique<Pending>();
    pending->answered = std::move(answered);
    pending->owner = this;
    Pending* raw = pending.get();
    pending->subscription = g_dbus_connection_signal_subscribe(
        bus_, kService, "org.freedesktop.portal.Request", "Response", path.c_str(), nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection* bus, const char*, const char*, const char*, const char*,
           GVariant* parameters, gpointer data) {
            auto* pending = static_cast<Pending*>(data);
            g_dbus_connection_signal_unsubscribe(bus, pending->subscription);
            pending->subscription = 0;
            guint32 response = 2;
            GVariant* results = nullptr;
            g_variant_get(parameters, "(u@a{sv})", &response, &results);
            // 0 is success; 1 the user cancelled, 2 anything else.
            pending->answered(response == 0 ? results : nullptr);
            g_variant_unref(results);
        },
        raw, nullptr);
    pending_.push_back(std::move(pending));

    g_dbus_connection_call(
        bus_, kService, kPath, kInterface, method, arguments, G_VARIANT_TYPE("(o)"),
        G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMilliseconds, cancellable_,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            GError* error = nullptr;
            GVariant* reply =
                g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
            if (reply) {
                g_variant_unref(reply);
                return;
            }
            bool cancelled = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
            g_error_free(error);
            if (cancelled) return;  // the owner is gone
            // No portal, or one without global shortcuts.
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

void PortalShortcuts::sessionCreated(GVariant* results) {
    const char* session = nullptr;
    // The session handle is a string in this interface, an object path in older
    // portals' answers; either reads as a string.
    GVariant* handle =
        results ? g_variant_lookup_value(results, "session_handle", nullptr) : nullptr;
    if (handle && (g_variant_is_of_type(handle, G_VARIANT_TYPE_STRING) ||
                   g_variant_is_of_type(handle, G_VARIANT_TYPE_OBJECT_PATH)))
        session = g_variant_get_string(handle, nullptr);
    if (!session || !g_variant_is_object_path(session)) {
        if (handle) g_variant_unref(handle);
        finish(std::nullopt);
        return;
    }
    session_ = session;
    g_variant_unref(handle);

    // Filtered by session in onSignal: a match on the first argument would
    // compare strings only, and the session is an object path.
    pressSubscription_ = g_dbus_connection_signal_subscribe(
        bus_, kService, kInterface, "Activated", kPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        &PortalShortcuts::onSignal, this, nullptr);
    releaseSubscription_ = g_dbus_connection_signal_subscribe(
        bus_, kService, kInterface, "Deactivated", kPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        &PortalShortcuts::onSignal, this, nullptr);
    changeSubscription_ = g_dbus_connection_signal_subscribe(
        bus_, kService, kInterface, "ShortcutsChanged", kPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        &PortalShortcuts::onSignal, this, nullptr);
    bind();
}

void PortalShortcuts::rebind(const std::vector<std::string>& preferredTriggers) {
    for (size_t index = 0; index < shortcuts_.size() && index < preferredTriggers.size(); ++index)
        shortcuts_[index].preferredTrigger = preferredTriggers[index];
    // Before the session exists, the first request carries them.
    if (!session_.empty()) bind();
}

void PortalShortcuts::bind() {
    GVariantBuilder shortcuts;
    g_variant_builder_init(&shortcuts, G_VARIANT_TYPE("a(sa{sv})"));
    for (const auto& shortcut : shortcuts_) {
        GVariantBuilder properties;
        g_variant_builder_init(&properties, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&properties, "{sv}", "description",
                              g_variant_new_string(shortcut.description.c_str()));
        if (!shortcut.preferredTrigger.empty()) {
            g_variant_builder_add(&properties, "{sv}", "preferred_trigger",
                                  g_variant_new_string(shortcut.preferredTrigger.c_str()));
        }
        g_variant_builder_add(&shortcuts, "(sa{sv})", shortcut.id.c_str(), &properties);
    }
    std::string requestToken = token("bind");
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token",
                          g_variant_new_string(requestToken.c_str()));
    request("BindShortcuts",
            g_variant_new("(oa(sa{sv})sa{sv})", session_.c_str(), &shortcuts, "", &options),
            requestToken, [this](GVariant* results) { bound(results); });
}

void PortalShortcuts::bound(GVariant* results) {
    GVariant* list = results
                         ? g_variant_lookup_value(results, "shortcuts", G_VARIANT_TYPE("a(sa{sv})"))
                         : nullptr;
    // A second request refused keeps what the first bound.
    if (!list) {
        if (!answered_) finish(std::nullopt);
        return;
    }
    finish(boundFrom(list));
    g_variant_unref(list);
}

std::vector<PortalShortcuts::Bound> PortalShortcuts::boundFrom(GVariant* list) {
    std::vector<Bound> bound;
    GVariantIter iterator;
    g_variant_iter_init(&iterator, list);
    const char* id = nullptr;
    GVariant* properties = nullptr;
    while (g_variant_iter_next(&iterator, "(&s@a{sv})", &id, &properties)) {
        const char* trigger = nullptr;
        Bound entry{id, ""};
        if (g_variant_lookup(properties, "trigger_description", "&s", &trigger))
            entry.trigger = trigger;
        bound.push_back(std::move(entry));
        g_variant_unref(properties);
    }
    return bound;
}

void PortalShortcuts::finish(std::optional<std::vector<Bound>> bound) {
    answered_ = true;
    if (ready_) ready_(std::move(bound));
}

void PortalShortcuts::onSignal(GDBusConnection*, const char*, const char*, const char*,
                               const char* signal, GVariant* parameters, void* data) {
    auto* self = static_cast<PortalShortcuts*>(data);
    const char* session = nullptr;
    if (g_strcmp0(signal, "ShortcutsChanged") == 0) {
        GVariant* list = nullptr;
        g_variant_get(parameters, "(&o@a(sa{sv}))", &session, &list);
        if (self->session_ == session && self->ready_) self->ready_(boundFrom(list));
        g_variant_unref(list);
        return;
    }
    const char* id = nullptr;
    g_variant_get(parameters, "(&o&st@a{sv})", &session, &id, nullptr, nullptr);
    if (self->session_ != session || !self->changed_) return;
    self->changed_(id, g_strcmp0(signal, "Activated") == 0);
}

}  // namespace velvox

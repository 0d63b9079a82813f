#include "linux/wayland/PortalShortcuts.h"

#include <gio/gio.h>

#include <unistd.h>

#include <utility>

namespace velvox {

namespace {

constexpr const char* kService = PortalRequests::kService;
constexpr const char* kPath = PortalRequests::kPath;
constexpr const char* kInterface = "org.freedesktop.portal.GlobalShortcuts";

}  // namespace

PortalShortcuts::PortalShortcuts(std::vector<Shortcut> shortcuts, Ready ready, Changed changed)
    : shortcuts_(std::move(shortcuts)), ready_(std::move(ready)), changed_(std::move(changed)) {
    bus_.reset(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
    if (!bus_) {
        finish(std::nullopt);
        return;
    }
    requests_ = std::make_unique<PortalRequests>(bus_.get());
    std::string sessionToken = PortalRequests::token("session");
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    std::string requestToken = PortalRequests::token("request");
    g_variant_builder_add(&options, "{sv}", "handle_token",
                          g_variant_new_string(requestToken.c_str()));
    g_variant_builder_add(&options, "{sv}", "session_handle_token",
                          g_variant_new_string(sessionToken.c_str()));
    // KDE Plasma 5.27 registers only the shortcuts that come with the
    // session; later BindShortcuts calls there bind nothing.
    g_variant_builder_add(&options, "{sv}", "shortcuts", shortcutList());
    requests_->call(kInterface, "CreateSession", g_variant_new("(a{sv})", &options), requestToken,
                    [this](GVariant* results) { sessionCreated(results); });
}

PortalShortcuts::~PortalShortcuts() {
    requests_.reset();
    if (bus_.get()) {
        if (pressSubscription_)
            g_dbus_connection_signal_unsubscribe(bus_.get(), pressSubscription_);
        if (releaseSubscription_)
            g_dbus_connection_signal_unsubscribe(bus_.get(), releaseSubscription_);
        if (changeSubscription_)
            g_dbus_connection_signal_unsubscribe(bus_.get(), changeSubscription_);
        PortalRequests::closeSession(bus_.get(), session_);
    }
}

void PortalShortcuts::sessionCreated(GVariant* results) {
    const char* session = nullptr;
    // The session handle is a string in this interface, an object path in older
    // portals' answers; either reads as a string.
    g_autoptr(GVariant) handle =
        results ? g_variant_lookup_value(results, "session_handle", nullptr) : nullptr;
    if (handle && (g_variant_is_of_type(handle, G_VARIANT_TYPE_STRING) ||
                   g_variant_is_of_type(handle, G_VARIANT_TYPE_OBJECT_PATH)))
        session = g_variant_get_string(handle, nullptr);
    if (!session || !g_variant_is_object_path(session)) {
        finish(std::nullopt);
        return;
    }
    session_ = session;

    // Filtered by session in onSignal: a match on the first argument would
    // compare strings only, and the session is an object path.
    pressSubscription_ = g_dbus_connection_signal_subscribe(
        bus_.get(), kService, kInterface, "Activated", kPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        &PortalShortcuts::onSignal, this, nullptr);
    releaseSubscription_ = g_dbus_connection_signal_subscribe(
        bus_.get(), kService, kInterface, "Deactivated", kPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        &PortalShortcuts::onSignal, this, nullptr);
    changeSubscription_ = g_dbus_connection_signal_subscribe(
        bus_.get(), kService, kInterface, "ShortcutsChanged", kPath, nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE, &PortalShortcuts::onSignal, this, nullptr);
    bind();
}

void PortalShortcuts::rebind(const std::vector<std::string>& preferredTriggers) {
    for (size_t index = 0; index < shortcuts_.size() && index < preferredTriggers.size(); ++index)
        shortcuts_[index].preferredTrigger = preferredTriggers[index];
    // Before the session exists, the first request carries them.
    if (!session_.empty()) bind();
}

GVariant* PortalShortcuts::shortcutList() const {
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
    return g_variant_builder_end(&shortcuts);
}

void PortalShortcuts::bind() {
    std::string requestToken = PortalRequests::token("bind");
    requests_->call(kInterface, "BindShortcuts",
                    g_variant_new("(o@a(sa{sv})s@a{sv})", session_.c_str(), shortcutList(), "",
                                  PortalRequests::handleOnly(requestToken)),
                    requestToken, [this](GVariant* results) { bound(results, /*listed=*/false); });
}

void PortalShortcuts::list() {
    std::string requestToken = PortalRequests::token("list");
    requests_->call(
        kInterface, "ListShortcuts",
        g_variant_new("(o@a{sv})", session_.c_str(), PortalRequests::handleOnly(requestToken)),
        requestToken, [this](GVariant* results) { bound(results, /*listed=*/true); });
}

void PortalShortcuts::bound(GVariant* results, bool listed) {
    g_autoptr(GVariant) list =
        results ? g_variant_lookup_value(results, "shortcuts", G_VARIANT_TYPE("a(sa{sv})"))
                : nullptr;
    std::vector<Bound> shortcuts = list ? boundFrom(list) : std::vector<Bound>{};
    // Some desktops answer a bind with nothing although the session's
    // shortcuts are registered: ask them for the list before giving up.
    if (list && shortcuts.empty() && !listed) {
        this->list();
        return;
    }
    // A second request refused keeps what the first bound; an empty
    // assignment is as good as a refusal, since no key would ever dictate.
    if (shortcuts.empty()) {
        if (!answered_) finish(std::nullopt);
        return;
    }
    finish(std::move(shortcuts));
}

std::vector<PortalShortcuts::Bound> PortalShortcuts::boundFrom(GVariant* list) {
    std::vector<Bound> bound;
    GVariantIter iterator;
    g_variant_iter_init(&iterator, list);
    const char* id = nullptr;
    for (GVariant* next = nullptr; g_variant_iter_next(&iterator, "(&s@a{sv})", &id, &next);) {
        g_autoptr(GVariant) properties = next;
        const char* trigger = nullptr;
        Bound entry{id, ""};
        if (g_variant_lookup(properties, "trigger_description", "&s", &trigger))
            entry.trigger = trigger;
        bound.push_back(std::move(entry));
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
        g_autoptr(GVariant) list = nullptr;
        g_variant_get(parameters, "(&o@a(sa{sv}))", &session, &list);
        if (self->session_ == session && self->ready_) self->ready_(boundFrom(list));
        return;
    }
    const char* id = nullptr;
    g_variant_get(parameters, "(&o&st@a{sv})", &session, &id, nullptr, nullptr);
    if (self->session_ != session || !self->changed_) return;
    // A held key sends Activated again with every repeat on some desktops
    // (KWin): one hold is one press.
    bool pressed = g_strcmp0(signal, "Activated") == 0;
    if (pressed == self->held_.count(id)) return;
    pressed ? (void)self->held_.insert(id) : (void)self->held_.erase(id);
    self->changed_(id, pressed);
}

}  // namespace velvox

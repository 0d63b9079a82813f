#include "linux/gtk/DesktopColorScheme.h"

#include <gio/gio.h>
#include <gtk/gtk.h>

#include <string>
#include <utility>

namespace velvox {

namespace {

constexpr const char* kPortalName = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kPortalSettings = "org.freedesktop.portal.Settings";
constexpr const char* kAppearance = "org.freedesktop.appearance";
constexpr const char* kColorSchemeKey = "color-scheme";
constexpr int kPortalTimeoutMs = 2000;

struct PortalCall {
    std::weak_ptr<bool> alive;
    DesktopColorScheme* scheme;
    bool deprecatedRead;
};

}  // namespace

DesktopColorScheme::DesktopColorScheme() = default;

DesktopColorScheme::~DesktopColorScheme() {
    *alive_ = false;
    if (bus_ && settingSubscription_)
        g_dbus_connection_signal_unsubscribe(bus_.get(), settingSubscription_);
    if (themeNameHandler_)
        if (GtkSettings* settings = gtk_settings_get_default())
            g_signal_handler_disconnect(settings, themeNameHandler_);
}

void DesktopColorScheme::watch() {
    if (watched_) return;
    watched_ = true;
    if (GtkSettings* settings = gtk_settings_get_default())
        themeNameHandler_ =
            g_signal_connect(settings, "notify::gtk-theme-name", G_CALLBACK(onThemeName), this);
    last_ = current();
    bus_.reset(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
    if (!bus_) return;
    settingSubscription_ = g_dbus_connection_signal_subscribe(
        bus_.get(), kPortalName, kPortalSettings, "SettingChanged", kPortalPath, kAppearance,
        G_DBUS_SIGNAL_FLAGS_NONE,
        reinterpret_cast<GDBusSignalCallback>(&DesktopColorScheme::onSettingChanged), this,
        nullptr);
    readPortal(false);
}

// Asked without waiting: a desktop without the portal must not hold anything
// up, and meanwhile the theme's name decides.
void DesktopColorScheme::readPortal(bool deprecatedRead) {
    auto* call = new PortalCall{alive_, this, deprecatedRead};
    g_dbus_connection_call(
        bus_.get(), kPortalName, kPortalPath, kPortalSettings, deprecatedRead ? "Read" : "ReadOne",
        g_variant_new("(ss)", kAppearance, kColorSchemeKey), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, kPortalTimeoutMs, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<PortalCall> call(static_cast<PortalCall*>(data));
            g_autoptr(GError) error = nullptr;
            g_autoptr(GVariant) reply =
                g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
            auto alive = call->alive.lock();
            if (!alive || !*alive) return;
            if (!reply) {
                // Portals older than ReadOne answer the same question with Read.
                if (g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD) &&
                    !call->deprecatedRead)
                    call->scheme->readPortal(true);
                return;
            }
            g_autoptr(GVariant) value = nullptr;
            g_variant_get(reply, "(v)", &value);
            call->scheme->takePortalValue(value);
        },
        call);
}

void DesktopColorScheme::takePortalValue(GVariant* value) {
    // Read wraps the value in one more variant than ReadOne does.
    g_autoptr(GVariant) inner = value ? g_variant_ref(value) : nullptr;
    while (inner && g_variant_is_of_type(inner, G_VARIANT_TYPE_VARIANT)) {
        g_autoptr(GVariant) outer = std::exchange(inner, g_variant_get_variant(inner));
    }
    if (inner && g_variant_is_of_type(inner, G_VARIANT_TYPE_UINT32)) {
        portalScheme_ = static_cast<int>(g_variant_get_uint32(inner));
        mayHaveChanged();
    }
}

ColorScheme DesktopColorScheme::current() {
    watch();
    if (portalScheme_ == 1) return ColorScheme::dark;
    if (portalScheme_ == 2) return ColorScheme::light;
    // No portal, or one with no preference: dark themes say so in their
    // name ("Adwaita-dark", "Breeze-Dark", "Yaru:dark").
    g_autofree gchar* name = nullptr;
    if (GtkSettings* settings = gtk_settings_get_default())
        g_object_get(settings, "gtk-theme-name", &name, nullptr);
    std::string theme = name ? name : "";
    for (auto& c : theme) c = static_cast<char>(g_ascii_tolower(c));
    return theme.find("dark") != std::string::npos ? ColorScheme::dark : ColorScheme::light;
}

void DesktopColorScheme::mayHaveChanged() {
    ColorScheme now = current();
    if (now == last_) return;
    last_ = now;
    if (changed_) changed_();
}

void DesktopColorScheme::onThemeName(void*, void*, void* data) {
    static_cast<DesktopColorScheme*>(data)->mayHaveChanged();
}

void DesktopColorScheme::onSettingChanged(GDBusConnection*, const char*, const char*, const char*,
                                          const char*, GVariant* parameters, void* data) {
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ssv)"))) return;
    const gchar* space = nullptr;
    const gchar* key = nullptr;
    g_autoptr(GVariant) value = nullptr;
    g_variant_get(parameters, "(&s&sv)", &space, &key, &value);
    if (g_strcmp0(space, kAppearance) == 0 && g_strcmp0(key, kColorSchemeKey) == 0)
        static_cast<DesktopColorScheme*>(data)->takePortalValue(value);
}

}  // namespace velvox

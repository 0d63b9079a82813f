#include "platform/linux/wayland/RemoteDesktopPaste.h"

#include <gio/gio.h>

#include <fstream>
#include <utility>

namespace velvox {

namespace {

constexpr const char* kInterface = "org.freedesktop.portal.RemoteDesktop";
// Device types and persistence as the portal numbers them.
constexpr guint32 kKeyboard = 1;
constexpr guint32 kPersistUntilRevoked = 2;
// X keysyms: the keys by what they mean, whatever the layout.
constexpr unsigned kControl = 0xffe3, kShift = 0xffe1, kV = 0x0076;

std::string readToken(const std::string& path) {
    std::ifstream in(path);
    std::string token;
    std::getline(in, token);
    return token;
}

GVariant* handleOnly(const std::string& token) {
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    return g_variant_builder_end(&options);
}

}  // namespace

RemoteDesktopPaste::RemoteDesktopPaste(std::string tokenFile, std::function<bool()> focusIsTerminal,
                                       std::function<void(bool)> ready)
    : tokenFile_(std::move(tokenFile)),
      focusIsTerminal_(std::move(focusIsTerminal)),
      ready_(std::move(ready)) {
    bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus_) {
        finish(false);
        return;
    }
    requests_ = std::make_unique<PortalRequests>(bus_);
    std::string token = PortalRequests::token("remote");
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    std::string sessionToken = PortalRequests::token("remote_session");
    g_variant_builder_add(&options, "{sv}", "session_handle_token",
                          g_variant_new_string(sessionToken.c_str()));
    requests_->call(kInterface, "CreateSession", g_variant_new("(a{sv})", &options), token,
                    [this](GVariant* results) { sessionCreated(results); });
}

RemoteDesktopPaste::~RemoteDesktopPaste() {
    requests_.reset();
    if (!bus_) return;
    PortalRequests::closeSession(bus_, session_);
    g_object_unref(bus_);
}

void RemoteDesktopPaste::sessionCreated(GVariant* results) {
    const char* session = nullptr;
    if (!results || !g_variant_lookup(results, "session_handle", "&s", &session) ||
        !g_variant_is_object_path(session)) {
        finish(false);
        return;
    }
    session_ = session;
    std::string token = PortalRequests::token("devices");
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    g_variant_builder_add(&options, "{sv}", "types", g_variant_new_uint32(kKeyboard));
    g_variant_builder_add(&options, "{sv}", "persist_mode",
                          g_variant_new_uint32(kPersistUntilRevoked));
    // The consent the user gave before, if any: no dialog this time.
    std::string kept = readToken(tokenFile_);
    if (!kept.empty()) {
        g_variant_builder_add(&options, "{sv}", "restore_token",
                              g_variant_new_string(kept.c_str()));
    }
    requests_->call(kInterface, "SelectDevices",
                    g_variant_new("(oa{sv})", session_.c_str(), &options), token,
                    [this](GVariant* results) { devicesSelected(results); });
}

void RemoteDesktopPaste::devicesSelected(GVariant* results) {
    if (!results) {
        finish(false);
        return;
    }
    std::string token = PortalRequests::token("start");
    requests_->call(kInterface, "Start",
                    g_variant_new("(os@a{sv})", session_.c_str(), "", handleOnly(token)), token,
                    [this](GVariant* results) { started(results); });
}

void RemoteDesktopPaste::started(GVariant* results) {
    guint32 devices = 0;
    if (!results || !g_variant_lookup(results, "devices", "u", &devices) ||
        !(devices & kKeyboard)) {
        finish(false);
        return;
    }
    const char* token = nullptr;
    if (g_variant_lookup(results, "restore_token", "&s", &token) && *token) {
        std::ofstream(tokenFile_, std::ios::trunc) << token << "\n";
    }
    finish(true);
}

void RemoteDesktopPaste::finish(bool agreed) {
    agreed_ = agreed;
    if (auto ready = std::exchange(ready_, nullptr)) ready(agreed);
}

void RemoteDesktopPaste::key(unsigned symbol, bool down) {
    g_dbus_connection_call(bus_, PortalRequests::kService, PortalRequests::kPath, kInterface,
                           "NotifyKeyboardKeysym",
                           g_variant_new("(o@a{sv}iu)", session_.c_str(),
                                         g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0),
                                         static_cast<gint32>(symbol), down ? 1u : 0u),
                           nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
}

void RemoteDesktopPaste::post() {
    if (!agreed_) return;
    bool terminal = focusIsTerminal_ && focusIsTerminal_();
    // One connection keeps the calls in order.
    key(kControl, true);
    if (terminal) key(kShift, true);
    key(kV, true);
    key(kV, false);
    if (terminal) key(kShift, false);
    key(kControl, false);
    g_dbus_connection_flush(bus_, nullptr, nullptr, nullptr);
}

}  // namespace velvox

#pragma once

// What GNOME, KDE and other portal desktops run for the appearance setting:
// the settings portal on the session bus, with its "color-scheme" (0 no
// preference, 1 dark, 2 light) read with ReadOne (or the older Read) and
// changes announced with SettingChanged.
#include <gio/gio.h>

#include "support/MainLoop.h"

namespace velvox::testing {

class StandInPortal {
  public:
    explicit StandInPortal(guint32 scheme, bool onlyDeprecatedRead = false)
        : scheme_(scheme), onlyDeprecatedRead_(onlyDeprecatedRead) {
        bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(kInterface, nullptr);
        static const GDBusInterfaceVTable vtable = {&StandInPortal::onCall, nullptr, nullptr, {}};
        registration_ = g_dbus_connection_register_object(bus_, kPath, info->interfaces[0], &vtable,
                                                          this, nullptr, nullptr);
        g_dbus_node_info_unref(info);
        owner_ = g_bus_own_name_on_connection(
            bus_, "org.freedesktop.portal.Desktop", G_BUS_NAME_OWNER_FLAGS_NONE,
            +[](GDBusConnection*, const gchar*, gpointer self) {
                static_cast<StandInPortal*>(self)->owned_ = true;
            },
            nullptr, this, nullptr);
        spinUntil([&] { return owned_; });
    }
    ~StandInPortal() {
        g_bus_unown_name(owner_);
        g_dbus_connection_unregister_object(bus_, registration_);
        g_object_unref(bus_);
    }
    StandInPortal(const StandInPortal&) = delete;
    StandInPortal& operator=(const StandInPortal&) = delete;

    void setScheme(guint32 scheme) {
        scheme_ = scheme;
        g_dbus_connection_emit_signal(bus_, nullptr, kPath, "org.freedesktop.portal.Settings",
                                      "SettingChanged",
                                      g_variant_new("(ssv)", "org.freedesktop.appearance",
                                                    "color-scheme", g_variant_new_uint32(scheme)),
                                      nullptr);
        g_dbus_connection_flush_sync(bus_, nullptr, nullptr);
    }

  private:
    static constexpr const char* kPath = "/org/freedesktop/portal/desktop";
    static constexpr const char* kInterface = R"(<node>
      <interface name="org.freedesktop.portal.Settings">
        <method name="ReadOne"><arg type="s"/><arg type="s"/><arg type="v" direction="out"/></method>
        <method name="Read"><arg type="s"/><arg type="s"/><arg type="v" direction="out"/></method>
        <signal name="SettingChanged"><arg type="s"/><arg type="s"/><arg type="v"/></signal>
      </interface></node>)";

    static void onCall(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                       const gchar* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                       gpointer data) {
        auto* self = static_cast<StandInPortal*>(data);
        const gchar *space = nullptr, *key = nullptr;
        g_variant_get(parameters, "(&s&s)", &space, &key);
        bool readOne = g_strcmp0(method, "ReadOne") == 0;
        if (readOne && self->onlyDeprecatedRead_)
            return g_dbus_method_invocation_return_dbus_error(
                invocation, "org.freedesktop.DBus.Error.UnknownMethod", "no ReadOne here");
        if (g_strcmp0(space, "org.freedesktop.appearance") != 0 ||
            g_strcmp0(key, "color-scheme") != 0)
            return g_dbus_method_invocation_return_dbus_error(
                invocation, "org.freedesktop.portal.Error.NotFound", "no such setting");
        GVariant* value = g_variant_new_uint32(self->scheme_);
        // Read answers with the value wrapped once more.
        if (!readOne) value = g_variant_new_variant(value);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(v)", value));
    }

    GDBusConnection* bus_ = nullptr;
    guint registration_ = 0, owner_ = 0;
    bool owned_ = false;
    guint32 scheme_;
    bool onlyDeprecatedRead_;
};

}  // namespace velvox::testing

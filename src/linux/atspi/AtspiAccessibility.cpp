#include "linux/atspi/AtspiAccessibility.h"

#include <atspi/atspi.h>
#include <gio/gio.h>

#include <unistd.h>

#include <optional>

#include "linux/atspi/AtspiFocusedElement.h"

namespace velvox {

namespace {

// Upper bound of a search of the active window when no focus event told us
// where the focus is: enough for any form, small enough to stay quick.
constexpr int kSearchLimit = 4000;

bool hasState(AtspiAccessible* object, AtspiStateType state) {
    AtspiStateSet* states = atspi_accessible_get_state_set(object);
    if (!states) return false;
    bool result = atspi_state_set_contains(states, state);
    g_object_unref(states);
    return result;
}

bool belongsToThisProcess(AtspiAccessible* object) {
    // Our own interface cannot answer synchronous calls from its own main
    // thread; asking it would only wait for the time-out.
    return atspi_accessible_get_process_id(object, nullptr) == static_cast<guint>(getpid());
}

AtspiAccessible* focusedDescendant(AtspiAccessible* object, int& budget) {
    if (--budget < 0) return nullptr;
    if (hasState(object, ATSPI_STATE_FOCUSED))
        return static_cast<AtspiAccessible*>(g_object_ref(object));
    // Hidden branches cannot hold the focus. GTK 4 marks what it shows
    // visible but never showing.
    if (!hasState(object, ATSPI_STATE_SHOWING) && !hasState(object, ATSPI_STATE_VISIBLE) &&
        !hasState(object, ATSPI_STATE_ACTIVE))
        return nullptr;
    gint count = atspi_accessible_get_child_count(object, nullptr);
    for (gint i = 0; i < count && budget > 0; ++i) {
        AtspiAccessible* child = atspi_accessible_get_child_at_index(object, i, nullptr);
        if (!child) continue;
        AtspiAccessible* found = focusedDescendant(child, budget);
        g_object_unref(child);
        if (found) return found;
    }
    return nullptr;
}

}  // namespace

std::shared_ptr<AtspiAccessibility> AtspiAccessibility::create() {
    if (!atspi_is_initialized() && atspi_init() > 1) return nullptr;
    return std::make_shared<AtspiAccessibility>();
}

AtspiAccessibility::AtspiAccessibility() {
    listener_ = atspi_event_listener_new(
        reinterpret_cast<AtspiEventListenerCB>(&AtspiAccessibility::onFocusEvent), this, nullptr);
    atspi_event_listener_register(listener_, "object:state-changed:focused", nullptr);
}

AtspiAccessibility::~AtspiAccessibility() {
    atspi_event_listener_deregister(listener_, "object:state-changed:focused", nullptr);
    g_object_unref(listener_);
    if (focused_) g_object_unref(focused_);
}

void AtspiAccessibility::onFocusEvent(void* data, void* self) {
    auto* event = static_cast<AtspiEvent*>(data);
    auto* accessibility = static_cast<AtspiAccessibility*>(self);
    if (event->source) {
        if (event->detail1) {
            if (accessibility->focused_) g_object_unref(accessibility->focused_);
            accessibility->focused_ = static_cast<AtspiAccessible*>(g_object_ref(event->source));
        } else if (event->source == accessibility->focused_) {
            g_object_unref(accessibility->focused_);
            accessibility->focused_ = nullptr;
        }
    }
    g_boxed_free(ATSPI_TYPE_EVENT, event);
}

namespace {

// The accessibility bus's switch; nothing when no accessibility bus answers
// (the call starts one where the session bus can activate it).
std::optional<bool> accessibilityBusEnabled() {
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus) return std::nullopt;
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", "org.a11y.Status", "IsEnabled"), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NONE, 300, nullptr, nullptr);
    g_object_unref(bus);
    if (!reply) return std::nullopt;
    GVariant* value = nullptr;
    g_variant_get(reply, "(v)", &value);
    bool enabled = value && g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) &&
                   g_variant_get_boolean(value);
    if (value) g_variant_unref(value);
    g_variant_unref(reply);
    return enabled;
}

}  // namespace

bool AtspiAccessibility::isProcessTrusted() {
    return accessibilityBusEnabled().value_or(false);
}

bool AtspiAccessibility::isAvailable() {
    return accessibilityBusEnabled().has_value();
}

AtspiAccessible* AtspiAccessibility::findFocused() {
    if (focused_ && hasState(focused_, ATSPI_STATE_FOCUSED) && !belongsToThisProcess(focused_)) {
        return static_cast<AtspiAccessible*>(g_object_ref(focused_));
    }
    // No focus event, or a stale one: look in the active window of every
    // application.
    AtspiAccessible* desktop = atspi_get_desktop(0);
    if (!desktop) return nullptr;
    AtspiAccessible* found = nullptr;
    int budget = kSearchLimit;
    gint applications = atspi_accessible_get_child_count(desktop, nullptr);
    for (gint a = 0; a < applications && !found && budget > 0; ++a) {
        AtspiAccessible* application = atspi_accessible_get_child_at_index(desktop, a, nullptr);
        if (!application) continue;
        if (!belongsToThisProcess(application)) {
            gint windows = atspi_accessible_get_child_count(application, nullptr);
            for (gint w = 0; w < windows && !found; ++w) {
                AtspiAccessible* window =
                    atspi_accessible_get_child_at_index(application, w, nullptr);
                if (!window) continue;
                if (hasState(window, ATSPI_STATE_ACTIVE)) found = focusedDescendant(window, budget);
                g_object_unref(window);
            }
        }
        g_object_unref(application);
    }
    g_object_unref(desktop);
    return found;
}

std::unique_ptr<FocusedElement> AtspiAccessibility::focusedElement(double messagingTimeoutSeconds) {
    setAtspiTimeout(messagingTimeoutSeconds);
    AtspiAccessible* object = findFocused();
    if (!object) return nullptr;
    auto element = std::make_unique<AtspiFocusedElement>(object);
    g_object_unref(object);
    return element;
}

bool AtspiAccessibility::focusIsTerminal() {
    AtspiAccessible* object = findFocused();
    if (!object) return false;
    GError* error = nullptr;
    bool terminal = atspi_accessible_get_role(object, &error) == ATSPI_ROLE_TERMINAL && !error;
    if (error) g_error_free(error);
    g_object_unref(object);
    return terminal;
}

}  // namespace velvox

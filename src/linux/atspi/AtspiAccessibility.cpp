#include "linux/atspi/AtspiAccessibility.h"

#include <atspi/atspi.h>

#include <unistd.h>

#include <optional>

#include "linux/atspi/AtspiFocusedElement.h"

namespace velvox {

namespace {

// Upper bound of a search of the active window when no focus event told us
// where the focus is: enough for any form, small enough to stay quick.
constexpr int kSearchLimit = 4000;

bool hasState(AtspiAccessible* object, AtspiStateType state) {
    GOwned<AtspiStateSet> states(atspi_accessible_get_state_set(object));
    return states && atspi_state_set_contains(states.get(), state);
}

bool belongsToThisProcess(AtspiAccessible* object) {
    // Our own interface cannot answer synchronous calls from its own main
    // thread; asking it would only wait for the time-out.
    return atspi_accessible_get_process_id(object, nullptr) == static_cast<guint>(getpid());
}

GOwned<AtspiAccessible> focusedDescendant(AtspiAccessible* object, int& budget) {
    if (--budget < 0) return nullptr;
    if (hasState(object, ATSPI_STATE_FOCUSED)) return gRef(object);
    // Hidden branches cannot hold the focus. GTK 4 marks what it shows
    // visible but never showing.
    if (!hasState(object, ATSPI_STATE_SHOWING) && !hasState(object, ATSPI_STATE_VISIBLE) &&
        !hasState(object, ATSPI_STATE_ACTIVE))
        return nullptr;
    gint count = atspi_accessible_get_child_count(object, nullptr);
    for (gint i = 0; i < count && budget > 0; ++i) {
        GOwned<AtspiAccessible> child(atspi_accessible_get_child_at_index(object, i, nullptr));
        if (!child) continue;
        if (auto found = focusedDescendant(child.get(), budget)) return found;
    }
    return nullptr;
}

struct EventFree {
    void operator()(AtspiEvent* event) const { g_boxed_free(ATSPI_TYPE_EVENT, event); }
};

}  // namespace

std::shared_ptr<AtspiAccessibility> AtspiAccessibility::create() {
    if (!atspi_is_initialized() && atspi_init() > 1) return nullptr;
    return std::make_shared<AtspiAccessibility>();
}

AtspiAccessibility::AtspiAccessibility()
    : listener_(atspi_event_listener_new(
          reinterpret_cast<AtspiEventListenerCB>(&AtspiAccessibility::onFocusEvent), this,
          nullptr)) {
    atspi_event_listener_register(listener_.get(), "object:state-changed:focused", nullptr);
}

AtspiAccessibility::~AtspiAccessibility() {
    atspi_event_listener_deregister(listener_.get(), "object:state-changed:focused", nullptr);
}

void AtspiAccessibility::onFocusEvent(void* data, void* self) {
    // The listener is handed the event to free.
    std::unique_ptr<AtspiEvent, EventFree> event(static_cast<AtspiEvent*>(data));
    auto* accessibility = static_cast<AtspiAccessibility*>(self);
    if (!event->source) return;
    if (event->detail1) {
        accessibility->focused_ = gRef(event->source);
    } else if (event->source == accessibility->focused_.get()) {
        accessibility->focused_.reset();
    }
}

bool AtspiAccessibility::isProcessTrusted() {
    return busStatus_.enabled().value_or(false);
}

bool AtspiAccessibility::isAvailable() {
    return busStatus_.enabled().has_value();
}

GOwned<AtspiAccessible> AtspiAccessibility::findFocused() {
    if (focused_ && hasState(focused_.get(), ATSPI_STATE_FOCUSED) &&
        !belongsToThisProcess(focused_.get())) {
        return gRef(focused_.get());
    }
    // No focus event, or a stale one: look in the active window of every
    // application.
    GOwned<AtspiAccessible> desktop(atspi_get_desktop(0));
    if (!desktop) return nullptr;
    GOwned<AtspiAccessible> found;
    int budget = kSearchLimit;
    gint applications = atspi_accessible_get_child_count(desktop.get(), nullptr);
    for (gint a = 0; a < applications && !found && budget > 0; ++a) {
        GOwned<AtspiAccessible> application(
            atspi_accessible_get_child_at_index(desktop.get(), a, nullptr));
        if (!application || belongsToThisProcess(application.get())) continue;
        gint windows = atspi_accessible_get_child_count(application.get(), nullptr);
        for (gint w = 0; w < windows && !found; ++w) {
            GOwned<AtspiAccessible> window(
                atspi_accessible_get_child_at_index(application.get(), w, nullptr));
            if (window && hasState(window.get(), ATSPI_STATE_ACTIVE))
                found = focusedDescendant(window.get(), budget);
        }
    }
    return found;
}

std::unique_ptr<FocusedElement> AtspiAccessibility::focusedElement(double messagingTimeoutSeconds) {
    setAtspiTimeout(messagingTimeoutSeconds);
    auto object = findFocused();
    if (!object) return nullptr;
    return std::make_unique<AtspiFocusedElement>(object.get());
}

bool AtspiAccessibility::focusIsTerminal() {
    auto object = findFocused();
    if (!object) return false;
    g_autoptr(GError) error = nullptr;
    return atspi_accessible_get_role(object.get(), &error) == ATSPI_ROLE_TERMINAL && !error;
}

}  // namespace velvox

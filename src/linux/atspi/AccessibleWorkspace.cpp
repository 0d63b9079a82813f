#include "linux/atspi/AccessibleWorkspace.h"

#include <atspi/atspi.h>

#include <unistd.h>

#include "linux/atspi/AtspiFocusedElement.h"
#include "linux/glib/DesktopFiles.h"

namespace velvox {

namespace {

// The question comes at every key-down: an application that hangs must not
// hold the recording back for long.
constexpr double kAskSeconds = 0.5;

bool isActive(AtspiAccessible* object) {
    AtspiStateSet* states = atspi_accessible_get_state_set(object);
    if (!states) return false;
    bool active = atspi_state_set_contains(states, ATSPI_STATE_ACTIVE);
    g_object_unref(states);
    return active;
}

std::string nameOf(AtspiAccessible* object) {
    gchar* name = atspi_accessible_get_name(object, nullptr);
    std::string text = name ? name : "";
    g_free(name);
    return text;
}

}  // namespace

AccessibleWorkspace::AccessibleWorkspace(std::shared_ptr<Workspace> x11, DesktopFiles desktopFiles)
    : x11_(std::move(x11)), desktopFiles_(std::move(desktopFiles)) {
    if (!atspi_is_initialized()) atspi_init();
}

AtspiAccessible* AccessibleWorkspace::activeWindow(AtspiAccessible** application) {
    setAtspiTimeout(kAskSeconds);
    AtspiAccessible* desktop = atspi_get_desktop(0);
    if (!desktop) return nullptr;
    AtspiAccessible* found = nullptr;
    gint applications = atspi_accessible_get_child_count(desktop, nullptr);
    for (gint a = 0; a < applications && !found; ++a) {
        AtspiAccessible* candidate = atspi_accessible_get_child_at_index(desktop, a, nullptr);
        if (!candidate) continue;
        // Our own windows are XWayland's, and our own interface cannot answer
        // a synchronous call from its own main thread.
        if (atspi_accessible_get_process_id(candidate, nullptr) != static_cast<guint>(getpid())) {
            gint windows = atspi_accessible_get_child_count(candidate, nullptr);
            for (gint w = 0; w < windows && !found; ++w) {
                AtspiAccessible* window =
                    atspi_accessible_get_child_at_index(candidate, w, nullptr);
                if (!window) continue;
                if (isActive(window)) {
                    found = window;
                    *application = static_cast<AtspiAccessible*>(g_object_ref(candidate));
                } else {
                    g_object_unref(window);
                }
            }
        }
        g_object_unref(candidate);
    }
    g_object_unref(desktop);
    return found;
}

std::optional<RunningApplication> AccessibleWorkspace::frontmostApplication() {
    if (x11_) {
        if (auto application = x11_->frontmostApplication()) return application;
    }
    AtspiAccessible* application = nullptr;
    AtspiAccessible* window = activeWindow(&application);
    if (!window) return std::nullopt;
    RunningApplication running;
    running.processId = static_cast<int32_t>(atspi_accessible_get_process_id(application, nullptr));
    // A toolkit names the application after its program (GTK: the program
    // name it was given), which desktop entries match as a window class.
    auto identity =
        desktopFiles_.identify("", nameOf(application), executableName(running.processId));
    running.bundleIdentifier = identity.id;
    running.name = identity.name;
    g_object_unref(window);
    g_object_unref(application);
    return running;
}

std::optional<std::string> AccessibleWorkspace::focusedWindowTitle(int32_t processId) {
    if (x11_) {
        if (auto title = x11_->focusedWindowTitle(processId)) return title;
    }
    AtspiAccessible* application = nullptr;
    AtspiAccessible* window = activeWindow(&application);
    if (!window) return std::nullopt;
    std::optional<std::string> title;
    if (static_cast<int32_t>(atspi_accessible_get_process_id(application, nullptr)) == processId)
        title = nameOf(window);
    g_object_unref(window);
    g_object_unref(application);
    return title;
}

}  // namespace velvox

#include "linux/atspi/AccessibleWorkspace.h"

#include <atspi/atspi.h>

#include <unistd.h>

#include "linux/glib/DesktopFiles.h"

namespace velvox {

namespace {

// The question comes at every key-down: an application that hangs must not
// hold the recording back for long.
constexpr double kAskSeconds = 0.5;

bool isActive(AtspiAccessible* object) {
    GOwned<AtspiStateSet> states(atspi_accessible_get_state_set(object));
    return states && atspi_state_set_contains(states.get(), ATSPI_STATE_ACTIVE);
}

std::string nameOf(AtspiAccessible* object) {
    g_autofree gchar* name = atspi_accessible_get_name(object, nullptr);
    return name ? name : "";
}

}  // namespace

AccessibleWorkspace::AccessibleWorkspace(std::shared_ptr<Workspace> x11, DesktopFiles desktopFiles)
    : x11_(std::move(x11)), desktopFiles_(std::move(desktopFiles)) {
    if (!atspi_is_initialized()) atspi_init();
}

std::optional<AccessibleWorkspace::ActiveWindow> AccessibleWorkspace::activeWindow() {
    // The second figure is for applications that are still starting up.
    int milliseconds = static_cast<int>(kAskSeconds * 1000);
    atspi_set_timeout(milliseconds, milliseconds);
    GOwned<AtspiAccessible> desktop(atspi_get_desktop(0));
    if (!desktop) return std::nullopt;
    gint applications = atspi_accessible_get_child_count(desktop.get(), nullptr);
    for (gint a = 0; a < applications; ++a) {
        GOwned<AtspiAccessible> candidate(
            atspi_accessible_get_child_at_index(desktop.get(), a, nullptr));
        // Our own windows are XWayland's, and our own interface cannot answer
        // a synchronous call from its own main thread.
        if (!candidate || atspi_accessible_get_process_id(candidate.get(), nullptr) ==
                              static_cast<guint>(getpid()))
            continue;
        gint windows = atspi_accessible_get_child_count(candidate.get(), nullptr);
        for (gint w = 0; w < windows; ++w) {
            GOwned<AtspiAccessible> window(
                atspi_accessible_get_child_at_index(candidate.get(), w, nullptr));
            if (window && isActive(window.get()))
                return ActiveWindow{std::move(window), std::move(candidate)};
        }
    }
    return std::nullopt;
}

std::optional<RunningApplication> AccessibleWorkspace::frontmostApplication() {
    if (x11_) {
        if (auto application = x11_->frontmostApplication()) return application;
    }
    auto active = activeWindow();
    if (!active) return std::nullopt;
    RunningApplication running;
    running.processId =
        static_cast<int32_t>(atspi_accessible_get_process_id(active->application.get(), nullptr));
    // A toolkit names the application after its program (GTK: the program
    // name it was given), which desktop entries match as a window class.
    auto identity = desktopFiles_.identify("", nameOf(active->application.get()),
                                           executableName(running.processId));
    running.bundleIdentifier = identity.id;
    running.name = identity.name;
    return running;
}

std::optional<std::string> AccessibleWorkspace::focusedWindowTitle(int32_t processId) {
    if (x11_) {
        if (auto title = x11_->focusedWindowTitle(processId)) return title;
    }
    auto active = activeWindow();
    if (!active) return std::nullopt;
    if (static_cast<int32_t>(atspi_accessible_get_process_id(active->application.get(), nullptr)) !=
        processId)
        return std::nullopt;
    return nameOf(active->window.get());
}

}  // namespace velvox

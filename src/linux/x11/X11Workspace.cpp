#include "linux/x11/X11Workspace.h"

#include <X11/Xatom.h>

#include <unistd.h>

#include "linux/x11/X11WorkspaceProperties.h"
#include "linux/x11/XOwned.h"

namespace velvox {

std::shared_ptr<X11Workspace> X11Workspace::create(std::string ownIdentifier,
                                                   DesktopFiles desktopFiles) {
    auto connection = x11::Connection::open();
    if (!connection) return nullptr;
    return std::make_shared<X11Workspace>(std::move(connection), std::move(ownIdentifier),
                                          std::move(desktopFiles));
}

X11Workspace::X11Workspace(std::unique_ptr<x11::Connection> connection, std::string ownIdentifier,
                           DesktopFiles desktopFiles)
    : connection_(std::move(connection)),
      display_(connection_->display()),
      ownIdentifier_(std::move(ownIdentifier)),
      desktopFiles_(std::move(desktopFiles)) {}

X11Workspace::~X11Workspace() = default;

std::optional<RunningApplication> X11Workspace::frontmostApplication() {
    auto window = x11::activeWindow(display_);
    if (!window) return std::nullopt;
    auto windowClass = x11::windowClass(display_, *window);
    auto gtkId =
        x11::byteProperty(display_, *window, XInternAtom(display_, "_GTK_APPLICATION_ID", False),
                          XInternAtom(display_, "UTF8_STRING", False));
    // A window that closed meanwhile answers nothing at all: no application.
    if (!windowClass && !gtkId && !x11::windowTitle(display_, *window)) return std::nullopt;

    RunningApplication application;
    application.processId = x11::windowProcess(display_, *window).value_or(0);
    application.window = *window;
    auto identity =
        desktopFiles_.identify(gtkId.value_or(""), windowClass ? windowClass->instance : "",
                               windowClass ? windowClass->className : "");
    application.bundleIdentifier = identity.id;
    application.name = identity.name;
    if (application.processId == getpid()) application.bundleIdentifier = ownIdentifier_;
    return application;
}

std::optional<std::string> X11Workspace::focusedWindowTitle(int32_t processId) {
    if (processId <= 0) return std::nullopt;
    if (auto active = x11::activeWindow(display_)) {
        if (x11::windowProcess(display_, *active) == processId) {
            return x11::windowTitle(display_, *active);
        }
    }
    // The process is not in front: its topmost window stands for its focus.
    auto stacking = XInternAtom(display_, "_NET_CLIENT_LIST_STACKING", False);
    x11::ErrorTrap trap(display_);
    std::optional<std::string> title;
    auto list =
        x11::getProperty(display_, DefaultRootWindow(display_), stacking, 4096, false, XA_WINDOW);
    if (list && list->type == XA_WINDOW && list->format == 32 && list->data) {
        auto* windows = reinterpret_cast<unsigned long*>(list->data.get());
        for (unsigned long i = list->count; i-- > 0 && !title;) {
            if (x11::windowProcess(display_, windows[i]) == processId) {
                title = x11::windowTitle(display_, windows[i]);
            }
        }
    }
    return title;
}

}  // namespace velvox

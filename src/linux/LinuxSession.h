#pragma once

#include <memory>

#include "linux/WaylandSession.h"

namespace velvox {

class KeyEventSource;
class WaylandConnection;
class WaylandKeyEventSource;

// The display server the desktop runs, decided once when the program starts,
// and the one coherent set of services that goes with it: each platform slot
// is installed once, by the backend that serves this session.
class LinuxSession {
  public:
    enum class Display {
        x11,
        // A Wayland session whose compositor answers.
        wayland,
        // A session that says Wayland while its display is gone (a stale
        // variable in a terminal): XWayland, or a plain X server, is all there is.
        xwaylandOnly,
    };

    // Reads the kind of session and, in a Wayland one, connects to the
    // compositor. Installs the session's key source, which the command-line
    // front already reads (the default hotkeys of this system's keyboards).
    static LinuxSession start();

    Display display() const { return display_; }

    // Installs every other service the application needs. Main thread, once,
    // after GTK is initialised. On Wayland the hotkeys are asked of the
    // desktop's shortcuts portal, through `shortcuts`.
    void installApplicationServices(DesktopShortcutHooks shortcuts);

  private:
    Display display_ = Display::x11;
    std::shared_ptr<WaylandConnection> connection_;
    std::shared_ptr<WaylandKeyEventSource> waylandKeys_;
};

}  // namespace velvox

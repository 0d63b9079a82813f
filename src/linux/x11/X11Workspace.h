#pragma once

#include <memory>
#include <string>

#include "linux/glib/DesktopFiles.h"
#include "linux/x11/X11Connection.h"
#include "platform/Workspace.h"

namespace velvox {

// The frontmost application and window titles, from the window manager's
// EWMH properties on a connection of our own.
class X11Workspace final : public Workspace {
  public:
    // Nothing when the display cannot be opened. ownIdentifier is what our
    // own windows report as their application.
    static std::shared_ptr<X11Workspace> create(std::string ownIdentifier,
                                                DesktopFiles desktopFiles = DesktopFiles());
    ~X11Workspace() override;

    std::optional<RunningApplication> frontmostApplication() override;
    std::optional<std::string> focusedWindowTitle(int32_t processId) override;

    X11Workspace(std::unique_ptr<x11::Connection> connection, std::string ownIdentifier,
                 DesktopFiles desktopFiles);

  private:
    std::unique_ptr<x11::Connection> connection_;
    Display* display_;
    std::string ownIdentifier_;
    DesktopFiles desktopFiles_;
};

}  // namespace velvox

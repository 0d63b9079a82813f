#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "linux/glib/DesktopFiles.h"
#include "linux/x11/X11Connection.h"
#include "platform/Workspace.h"

namespace velvox {

// The frontmost application and window titles, from the window manager's
// EWMH properties on a connection of our own. The frontmost application is
// asked at every key-down and every delivery, and naming it takes several
// round trips to the server and a look through the desktop files: a thread
// with a second connection follows the active window as it changes and keeps
// the answer ready.
class X11Workspace final : public Workspace {
  public:
    // Nothing when the display cannot be opened. ownIdentifier is what our
    // own windows report as their application.
    static std::shared_ptr<X11Workspace> create(std::string ownIdentifier,
                                                DesktopFiles desktopFiles = DesktopFiles());
    ~X11Workspace() override;

    std::optional<RunningApplication> frontmostApplication() override;
    std::optional<std::string> focusedWindowTitle(int32_t processId) override;

    // The active window's class (instance, then class name) and program, as
    // the follower last saw them: what tells a terminal's paste key.
    std::vector<std::string> activeWindowNames();

    X11Workspace(std::unique_ptr<x11::Connection> connection,
                 std::unique_ptr<x11::Connection> following, std::string ownIdentifier,
                 DesktopFiles desktopFiles);

  private:
    void follow();
    // What the follower keeps of the active window, once it has had its
    // first look; without a follower, asked of the server.
    template <typename Answer>
    Answer aboutActiveWindow(Answer X11Workspace::*kept, const std::function<Answer(Window)>& ask);

    std::unique_ptr<x11::Connection> connection_;
    Display* display_;
    // The follower's own: its connection, the desktop files it reads, and the
    // pipe that tells it to stop.
    std::unique_ptr<x11::Connection> following_;
    std::string ownIdentifier_;
    DesktopFiles desktopFiles_;
    int stopPipe_[2] = {-1, -1};
    std::thread follower_;

    std::mutex mutex_;
    std::condition_variable firstAnswer_;
    bool answered_ = false;
    std::optional<RunningApplication> frontmost_;
    std::vector<std::string> activeNames_;
};

}  // namespace velvox

#pragma once

#include <memory>
#include <optional>
#include <string>

#include "linux/glib/DesktopFiles.h"
#include "linux/glib/GlibIds.h"
#include "platform/Workspace.h"

typedef struct _AtspiAccessible AtspiAccessible;

namespace velvox {

// The frontmost application of a Wayland session. The compositor tells no
// client which window is active, but every toolkit marks its active window in
// the accessibility tree; the X11 windows of XWayland (our own among them)
// are still asked first, through `x11`, where one is active.
class AccessibleWorkspace final : public Workspace {
  public:
    // `x11` may be null (no XWayland).
    AccessibleWorkspace(std::shared_ptr<Workspace> x11, DesktopFiles desktopFiles = DesktopFiles());

    std::optional<RunningApplication> frontmostApplication() override;
    std::optional<std::string> focusedWindowTitle(int32_t processId) override;

  private:
    struct ActiveWindow {
        GOwned<AtspiAccessible> window;
        GOwned<AtspiAccessible> application;
    };
    // The active window of another process's application, and that
    // application; nothing when none is active.
    std::optional<ActiveWindow> activeWindow();

    std::shared_ptr<Workspace> x11_;
    DesktopFiles desktopFiles_;
};

}  // namespace velvox

#pragma once

#include <gdk/gdk.h>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "linux/glib/GlibIds.h"
#include "platform/Screens.h"

namespace velvox {

// The monitors as GDK reports them, in GDK's desktop coordinates (logical
// pixels from the top left of the whole desktop). The monitor of the focused
// window comes from the window manager's _NET_ACTIVE_WINDOW on X11. The
// monitors are read once and again after each change. Main thread only.
class GdkScreens final : public Screens {
  public:
    // Nothing when GTK has no display.
    static std::shared_ptr<GdkScreens> create();
    ~GdkScreens() override;
    GdkScreens(const GdkScreens&) = delete;
    GdkScreens& operator=(const GdkScreens&) = delete;

    std::vector<Screen> screens() override;
    std::optional<Screen> mainScreen() override;
    Point mouseLocation() override;
    // Changes that arrive together (a monitor added also resizes the
    // desktop) are reported once.
    Handle observeChanges(std::function<void()> changed) override;

  private:
    struct Observers;

    explicit GdkScreens(GdkDisplay* display);

    std::optional<Point> activeWindowCentre();
    void watchMonitor(GdkMonitor* monitor);

    static void onMonitorAdded(GdkDisplay* display, GdkMonitor* monitor, gpointer self);
    static void onMonitorRemoved(GdkDisplay* display, GdkMonitor* monitor, gpointer self);
    static void onChanged(gpointer self);
    static GdkFilterReturn onRootEvent(GdkXEvent* event, GdkEvent*, gpointer self);

    GOwned<GdkDisplay> display_;
    GdkWindow* root_ = nullptr;
    std::vector<GOwned<GdkMonitor>> watched_;
    std::shared_ptr<Observers> observers_;
    std::optional<std::vector<Screen>> known_;
    SourceId pendingReport_;
};

}  // namespace velvox

#pragma once

#include <string>

typedef struct _GtkWindow GtkWindow;

namespace velvox {

// A window's size and position between runs, kept in a small JSON file
// ({"width", "height", "x", "y"}). Main thread only.
class WindowGeometry final {
  public:
    WindowGeometry(std::string file, int minimumWidth, int minimumHeight);

    // Gives a window not yet shown the saved size, when it is at least the
    // minimum, and the saved position, when the window's top edge would be on
    // a monitor there; otherwise the window keeps its own.
    void restore(GtkWindow* window) const;
    // Keeps the size and position of a shown window that is not maximised.
    void save(GtkWindow* window) const;

  private:
    // Whether a window of this width placed at x, y shows its top edge on a monitor.
    static bool onSomeMonitor(int x, int y, int width);

    std::string file_;
    int minimumWidth_;
    int minimumHeight_;
};

}  // namespace velvox

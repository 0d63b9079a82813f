#pragma once

// What the tests of the pill look at on the real desktop: X11 windows of other
// clients (a focused target application), and the pixels on screen.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/MainLoop.h"

namespace velvox::testing {

inline bool run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

// GDK's own connection, for questions about windows.
inline Display* xdisplay() {
    return GDK_DISPLAY_XDISPLAY(gdk_display_get_default());
}

inline Window xidOf(GtkWidget* widget) {
    GdkWindow* window = gtk_widget_get_window(widget);
    return window ? gdk_x11_window_get_xid(window) : None;
}

struct WindowFacts {
    int x = 0, y = 0, width = 0, height = 0;  // on the root window
    bool viewable = false, overrideRedirect = false;
};

inline WindowFacts factsOf(Window window) {
    Display* display = xdisplay();
    XSync(display, False);
    WindowFacts facts;
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, window, &attributes)) return facts;
    Window child = None;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &facts.x, &facts.y,
                          &child);
    facts.width = attributes.width;
    facts.height = attributes.height;
    facts.viewable = attributes.map_state == IsViewable;
    facts.overrideRedirect = attributes.override_redirect;
    return facts;
}

// A 32-bit property of the root window.
inline std::vector<long> cardinals(const char* name) {
    Display* display = xdisplay();
    std::vector<long> values;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, DefaultRootWindow(display), XInternAtom(display, name, False),
                           0, 64, False, AnyPropertyType, &type, &format, &count, &remaining,
                           &data) == Success &&
        data && format == 32) {
        auto* longs = reinterpret_cast<long*>(data);
        values.assign(longs, longs + count);
    }
    if (data) XFree(data);
    return values;
}

inline Window activeWindow() {
    auto values = cardinals("_NET_ACTIVE_WINDOW");
    return values.empty() ? None : static_cast<Window>(values[0]);
}

inline Window inputFocus() {
    Window focus = None;
    int revert = 0;
    XGetInputFocus(xdisplay(), &focus, &revert);
    return focus;
}

struct Pixel {
    int red = 0, green = 0, blue = 0;
};

// The window's area of the screen as it is shown now; pixels by their place
// inside the window.
class Screenshot {
  public:
    explicit Screenshot(const WindowFacts& area) {
        XSync(xdisplay(), False);
        pixbuf_ = gdk_pixbuf_get_from_window(gdk_get_default_root_window(), area.x, area.y,
                                             area.width, area.height);
    }
    ~Screenshot() { g_clear_object(&pixbuf_); }
    Screenshot(const Screenshot&) = delete;
    Screenshot& operator=(const Screenshot&) = delete;

    bool taken() const { return pixbuf_ != nullptr; }
    Pixel at(int x, int y) const {
        if (!pixbuf_) return {-1, -1, -1};
        const guchar* pixel = gdk_pixbuf_get_pixels(pixbuf_) +
                              y * gdk_pixbuf_get_rowstride(pixbuf_) +
                              x * gdk_pixbuf_get_n_channels(pixbuf_);
        return {pixel[0], pixel[1], pixel[2]};
    }

  private:
    GdkPixbuf* pixbuf_ = nullptr;
};

// Another application's plain white window, on a connection of its own,
// placed where the test wants it. It records the pointer presses it gets.
class TargetWindow {
  public:
    TargetWindow(int x, int y, int width, int height) {
        display_ = XOpenDisplay(nullptr);
        if (!display_) return;
        window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), x, y, width, height, 0,
                                      0, 0xFFFFFF);
        XSizeHints hints{USPosition | USSize, x, y, width, height};
        XSetWMNormalHints(display_, window_, &hints);
        XSelectInput(display_, window_, ButtonPressMask | ExposureMask);
        XStoreName(display_, window_, "pill target");
        XMapWindow(display_, window_);
        XSync(display_, False);
    }
    ~TargetWindow() {
        if (!display_) return;
        XDestroyWindow(display_, window_);
        XCloseDisplay(display_);
    }
    TargetWindow(const TargetWindow&) = delete;
    TargetWindow& operator=(const TargetWindow&) = delete;
    Window window() const { return window_; }

    bool focus() {
        std::string id = std::to_string(window_);
        return run(
            "xdotool search --sync --name '^pill target$' >/dev/null && "
            "xdotool windowactivate --sync " +
            id + " && xdotool windowfocus --sync " + id);
    }

    // Root coordinates of every button press received so far.
    std::vector<std::pair<int, int>> presses() {
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            if (event.type == ButtonPress)
                presses_.emplace_back(event.xbutton.x_root, event.xbutton.y_root);
        }
        return presses_;
    }

  private:
    Display* display_ = nullptr;
    Window window_ = None;
    std::vector<std::pair<int, int>> presses_;
};

}  // namespace velvox::testing

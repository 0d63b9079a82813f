#pragma once

// What the tests of the pill look at on the real desktop: the GTK main loop
// run until something holds, X11 windows of other clients (a focused target
// application, a panel with a strut), and the pixels on screen.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace velvox::testing {

// Runs the GTK main loop until the condition holds or 20 s have passed.
inline bool spinUntil(const std::function<bool()>& condition) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        if (!g_main_context_iteration(nullptr, FALSE))
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

inline void spinFor(std::chrono::milliseconds duration) {
    auto until = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < until) {
        if (!g_main_context_iteration(nullptr, FALSE))
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

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
    int depth = 0;
    bool viewable = false;
    bool overrideRedirect = false;
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
    facts.depth = attributes.depth;
    facts.viewable = attributes.map_state == IsViewable;
    facts.overrideRedirect = attributes.override_redirect;
    return facts;
}

inline std::vector<long> rootCardinals(const char* name) {
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
    auto values = rootCardinals("_NET_ACTIVE_WINDOW");
    return values.empty() ? None : static_cast<Window>(values[0]);
}

inline Window inputFocus() {
    Window focus = None;
    int revert = 0;
    XGetInputFocus(xdisplay(), &focus, &revert);
    return focus;
}

// The child of the root window that holds the window (its frame, when the
// window manager reparented it).
inline Window topLevelOf(Window window) {
    Display* display = xdisplay();
    Window root = DefaultRootWindow(display);
    while (true) {
        Window rootReturn = None, parent = None;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display, window, &rootReturn, &parent, &children, &count)) return None;
        if (children) XFree(children);
        if (parent == root || parent == None) return window;
        window = parent;
    }
}

// Position of the window's top level in the stacking order, bottom first.
inline int stackingIndexOf(Window window) {
    Display* display = xdisplay();
    Window top = topLevelOf(window);
    Window rootReturn = None, parent = None;
    Window* children = nullptr;
    unsigned int count = 0;
    int index = -1;
    if (XQueryTree(display, DefaultRootWindow(display), &rootReturn, &parent, &children, &count)) {
        for (unsigned int i = 0; i < count; ++i) {
            if (children[i] == top) index = static_cast<int>(i);
        }
        if (children) XFree(children);
    }
    return index;
}

struct Pixel {
    int red = 0, green = 0, blue = 0;
};

// A piece of the screen as it is shown now.
class Screenshot {
  public:
    Screenshot(int x, int y, int width, int height) : x_(x), y_(y) {
        XSync(xdisplay(), False);
        pixbuf_ = gdk_pixbuf_get_from_window(gdk_get_default_root_window(), x, y, width, height);
    }
    ~Screenshot() {
        if (pixbuf_) g_object_unref(pixbuf_);
    }
    Screenshot(const Screenshot&) = delete;
    Screenshot& operator=(const Screenshot&) = delete;

    bool taken() const { return pixbuf_ != nullptr; }
    // The pixel at a point of the desktop.
    Pixel at(int desktopX, int desktopY) const {
        int x = desktopX - x_, y = desktopY - y_;
        if (!pixbuf_ || x < 0 || y < 0 || x >= gdk_pixbuf_get_width(pixbuf_) ||
            y >= gdk_pixbuf_get_height(pixbuf_)) {
            return {-1, -1, -1};
        }
        const guchar* row = gdk_pixbuf_get_pixels(pixbuf_) + y * gdk_pixbuf_get_rowstride(pixbuf_);
        const guchar* pixel = row + x * gdk_pixbuf_get_n_channels(pixbuf_);
        return {pixel[0], pixel[1], pixel[2]};
    }
    // Kept with the other test artifacts, for a person to look at.
    void save(const std::string& name) const {
        if (!pixbuf_) return;
        std::string folder = VELVOX_SOURCE_DIR "/test-artifacts/overlay";
        std::filesystem::create_directories(folder);
        gdk_pixbuf_save(pixbuf_, (folder + "/" + name).c_str(), "png", nullptr, nullptr);
    }

  private:
    int x_, y_;
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
        XSizeHints hints{};
        hints.flags = USPosition | USSize;
        hints.x = x;
        hints.y = y;
        hints.width = width;
        hints.height = height;
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
            if (event.type == ButtonPress) {
                presses_.emplace_back(event.xbutton.x_root, event.xbutton.y_root);
            }
        }
        return presses_;
    }

  private:
    Display* display_ = nullptr;
    Window window_ = None;
    std::vector<std::pair<int, int>> presses_;
};

// A desktop panel along the bottom edge that reserves its height: the work
// area shrinks while it is there.
class BottomPanel {
  public:
    explicit BottomPanel(int height) {
        display_ = XOpenDisplay(nullptr);
        if (!display_) return;
        int width = DisplayWidth(display_, DefaultScreen(display_));
        int screenHeight = DisplayHeight(display_, DefaultScreen(display_));
        window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0,
                                      screenHeight - height, width, height, 0, 0, 0x303030);
        Atom dock = XInternAtom(display_, "_NET_WM_WINDOW_TYPE_DOCK", False);
        XChangeProperty(display_, window_, XInternAtom(display_, "_NET_WM_WINDOW_TYPE", False),
                        XA_ATOM, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&dock), 1);
        long strut[12] = {0, 0, 0, height, 0, 0, 0, 0, 0, 0, 0, width - 1};
        XChangeProperty(display_, window_, XInternAtom(display_, "_NET_WM_STRUT_PARTIAL", False),
                        XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<unsigned char*>(strut),
                        12);
        XChangeProperty(display_, window_, XInternAtom(display_, "_NET_WM_STRUT", False),
                        XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<unsigned char*>(strut),
                        4);
        XMapWindow(display_, window_);
        XSync(display_, False);
    }
    ~BottomPanel() {
        if (!display_) return;
        XDestroyWindow(display_, window_);
        XCloseDisplay(display_);
    }
    BottomPanel(const BottomPanel&) = delete;
    BottomPanel& operator=(const BottomPanel&) = delete;

  private:
    Display* display_ = nullptr;
    Window window_ = None;
};

// Claims to be a compositing manager (owns the screen's _NET_WM_CM_S0
// selection) for as long as it lives, without compositing anything: enough
// for toolkits to switch to windows with an alpha channel, and back.
class CompositorStandIn {
  public:
    CompositorStandIn() {
        display_ = XOpenDisplay(nullptr);
        if (!display_) return;
        window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 1, 1, 0, 0, 0);
        XSetSelectionOwner(display_, XInternAtom(display_, "_NET_WM_CM_S0", False), window_,
                           CurrentTime);
        XSync(display_, False);
    }
    ~CompositorStandIn() {
        if (!display_) return;
        XDestroyWindow(display_, window_);
        XCloseDisplay(display_);
    }
    CompositorStandIn(const CompositorStandIn&) = delete;
    CompositorStandIn& operator=(const CompositorStandIn&) = delete;

  private:
    Display* display_ = nullptr;
    Window window_ = None;
};

// The work area the window manager publishes for the current desktop.
struct WorkArea {
    long x = 0, y = 0, width = 0, height = 0;
};
inline std::optional<WorkArea> publishedWorkArea() {
    auto values = rootCardinals("_NET_WORKAREA");
    if (values.size() < 4) return std::nullopt;
    return WorkArea{values[0], values[1], values[2], values[3]};
}

}  // namespace velvox::testing

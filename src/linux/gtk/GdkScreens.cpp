#include "linux/gtk/GdkScreens.h"

#include <gdk/gdkx.h>

#include <algorithm>

#include "linux/x11/X11WorkspaceProperties.h"

namespace velvox {

namespace {

Rect rectOf(const GdkRectangle& rectangle) {
    return {static_cast<double>(rectangle.x), static_cast<double>(rectangle.y),
            static_cast<double>(rectangle.width), static_cast<double>(rectangle.height)};
}

Screen screenOf(GdkMonitor* monitor) {
    GdkRectangle geometry{}, workarea{};
    gdk_monitor_get_geometry(monitor, &geometry);
    gdk_monitor_get_workarea(monitor, &workarea);
    return {rectOf(geometry), rectOf(workarea)};
}

}  // namespace

struct GdkScreens::Observers {
    std::vector<std::shared_ptr<std::function<void()>>> slots;
};

std::shared_ptr<GdkScreens> GdkScreens::create() {
    GdkDisplay* display = gdk_display_get_default();
    if (!display) return nullptr;
    return std::shared_ptr<GdkScreens>(new GdkScreens(display));
}

GdkScreens::GdkScreens(GdkDisplay* display)
    : display_(GDK_DISPLAY(g_object_ref(display))), observers_(std::make_shared<Observers>()) {
    g_signal_connect(display_.get(), "monitor-added", G_CALLBACK(onMonitorAdded), this);
    g_signal_connect(display_.get(), "monitor-removed", G_CALLBACK(onMonitorRemoved), this);
    // The whole desktop growing or shrinking (a monitor moved, a resolution
    // changed) shows on the screen object even where a monitor's own
    // properties stay quiet.
    GdkScreen* screen = gdk_display_get_default_screen(display_.get());
    g_signal_connect_swapped(screen, "size-changed", G_CALLBACK(onChanged), this);
    g_signal_connect_swapped(screen, "monitors-changed", G_CALLBACK(onChanged), this);
    int count = gdk_display_get_n_monitors(display_.get());
    for (int index = 0; index < count; ++index) {
        watchMonitor(gdk_display_get_monitor(display_.get(), index));
    }
    // GDK reads the work area afresh but does not announce its changes (a
    // panel appearing or growing): watch the root window's property.
    if (GDK_IS_X11_DISPLAY(display_.get())) {
        root_ = gdk_screen_get_root_window(screen);
        gdk_window_set_events(root_, static_cast<GdkEventMask>(gdk_window_get_events(root_) |
                                                               GDK_PROPERTY_CHANGE_MASK));
        gdk_window_add_filter(root_, onRootEvent, this);
    }
}

GdkScreens::~GdkScreens() {
    pendingReport_.remove();
    if (root_) gdk_window_remove_filter(root_, onRootEvent, this);
    for (const auto& monitor : watched_) g_signal_handlers_disconnect_by_data(monitor.get(), this);
    watched_.clear();
    g_signal_handlers_disconnect_by_data(gdk_display_get_default_screen(display_.get()), this);
    g_signal_handlers_disconnect_by_data(display_.get(), this);
}

void GdkScreens::watchMonitor(GdkMonitor* monitor) {
    if (!monitor) return;
    watched_.emplace_back(GDK_MONITOR(g_object_ref(monitor)));
    for (const char* signal : {"notify::geometry", "notify::workarea", "notify::scale-factor"}) {
        g_signal_connect_swapped(monitor, signal, G_CALLBACK(onChanged), this);
    }
}

void GdkScreens::onMonitorAdded(GdkDisplay*, GdkMonitor* monitor, gpointer data) {
    auto* self = static_cast<GdkScreens*>(data);
    self->watchMonitor(monitor);
    onChanged(self);
}

void GdkScreens::onMonitorRemoved(GdkDisplay*, GdkMonitor* monitor, gpointer data) {
    auto* self = static_cast<GdkScreens*>(data);
    auto found = std::find_if(self->watched_.begin(), self->watched_.end(),
                              [monitor](const auto& watched) { return watched.get() == monitor; });
    if (found != self->watched_.end()) {
        g_signal_handlers_disconnect_by_data(monitor, self);
        self->watched_.erase(found);
    }
    onChanged(self);
}

void GdkScreens::onChanged(gpointer data) {
    auto* self = static_cast<GdkScreens*>(data);
    self->known_.reset();
    if (self->pendingReport_) return;
    self->pendingReport_ = g_idle_add(
        [](gpointer data) -> gboolean {
            auto* self = static_cast<GdkScreens*>(data);
            self->pendingReport_.forget();
            // A copy: an observer may cancel itself or another one; a
            // cancelled one is emptied and skipped.
            auto slots = self->observers_->slots;
            for (const auto& slot : slots) {
                if (*slot) (*slot)();
            }
            return G_SOURCE_REMOVE;
        },
        self);
}

GdkFilterReturn GdkScreens::onRootEvent(GdkXEvent* event, GdkEvent*, gpointer data) {
    auto* self = static_cast<GdkScreens*>(data);
    const auto* xevent = static_cast<const XEvent*>(event);
    if (xevent->type == PropertyNotify &&
        xevent->xproperty.atom ==
            gdk_x11_get_xatom_by_name_for_display(self->display_.get(), "_NET_WORKAREA")) {
        onChanged(self);
    }
    return GDK_FILTER_CONTINUE;
}

Handle GdkScreens::observeChanges(std::function<void()> changed) {
    auto slot = std::make_shared<std::function<void()>>(std::move(changed));
    observers_->slots.push_back(slot);
    std::weak_ptr<Observers> weakObservers = observers_;
    return Handle([weakObservers, slot] {
        *slot = nullptr;
        if (auto observers = weakObservers.lock()) {
            std::erase(observers->slots, slot);
        }
    });
}

std::vector<Screen> GdkScreens::screens() {
    // Each work area is a round trip to the X server; they change only
    // with the signals that empty this.
    if (known_) return *known_;
    std::vector<Screen> result;
    GdkMonitor* primary = gdk_display_get_primary_monitor(display_.get());
    if (primary) result.push_back(screenOf(primary));
    int count = gdk_display_get_n_monitors(display_.get());
    for (int index = 0; index < count; ++index) {
        GdkMonitor* monitor = gdk_display_get_monitor(display_.get(), index);
        if (monitor && monitor != primary) result.push_back(screenOf(monitor));
    }
    known_ = result;
    return result;
}

Point GdkScreens::mouseLocation() {
    GdkSeat* seat = gdk_display_get_default_seat(display_.get());
    GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
    if (!pointer) return {};
    double x = 0, y = 0;
    gdk_device_get_position_double(pointer, nullptr, &x, &y);
    return {x, y};
}

std::optional<Point> GdkScreens::activeWindowCentre() {
    if (!GDK_IS_X11_DISPLAY(display_.get())) return std::nullopt;
    Display* xdisplay = GDK_DISPLAY_XDISPLAY(display_.get());
    Window root = DefaultRootWindow(xdisplay);
    // The active window belongs to another client and may vanish at any
    // moment: its errors are expected, not fatal.
    x11::ErrorTrap trap(xdisplay);
    Window active = x11::activeWindow(xdisplay).value_or(None);

    std::optional<Point> centre;
    XWindowAttributes attributes{};
    int x = 0, y = 0;
    Window child = None;
    if (active != None && XGetWindowAttributes(xdisplay, active, &attributes) &&
        XTranslateCoordinates(xdisplay, active, root, 0, 0, &x, &y, &child)) {
        // X11 counts device pixels; GDK's desktop coordinates are scaled.
        GdkWindow* rootWindow =
            gdk_screen_get_root_window(gdk_display_get_default_screen(display_.get()));
        double scale = std::max(1, gdk_window_get_scale_factor(rootWindow));
        centre = Point{(x + attributes.width / 2.0) / scale, (y + attributes.height / 2.0) / scale};
    }
    if (!trap.succeeded()) return std::nullopt;
    return centre;
}

std::optional<Screen> GdkScreens::mainScreen() {
    if (gdk_display_get_n_monitors(display_.get()) == 0) return std::nullopt;
    Point point = activeWindowCentre().value_or(mouseLocation());
    // The monitor at the point, or the nearest one when the point lies
    // between monitors.
    GdkMonitor* monitor = gdk_display_get_monitor_at_point(
        display_.get(), static_cast<int>(point.x), static_cast<int>(point.y));
    if (!monitor) return std::nullopt;
    return screenOf(monitor);
}

}  // namespace velvox

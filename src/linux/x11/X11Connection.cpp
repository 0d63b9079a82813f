#include "linux/x11/X11Connection.h"

#include <gdk/gdkx.h>

#include <poll.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <map>
#include <mutex>

namespace velvox::x11 {

namespace {

// What the handlers know of one display. Connections may live on other
// threads (the clipboard is read on one), hence the lock.
struct DisplayRecord {
    bool ours = false;      // opened by a Connection
    int traps = 0;          // ErrorTraps running on it
    bool survives = false;  // its loss marks it lost instead of ending the process
    bool lost = false;
    unsigned long errors = 0;  // protocol errors caught so far
};

std::mutex recordsMutex;
std::map<Display*, DisplayRecord> records;
XErrorHandler previousErrorHandler = nullptr;
XIOErrorHandler previousIoErrorHandler = nullptr;

int onError(Display* display, XErrorEvent* error) {
    XErrorHandler previous;
    {
        std::lock_guard<std::mutex> lock(recordsMutex);
        auto found = records.find(display);
        if (found != records.end() && (found->second.ours || found->second.traps > 0)) {
            ++found->second.errors;
            return 0;
        }
        previous = previousErrorHandler;
    }
    return previous ? previous(display, error) : 0;
}

int onIoError(Display* display) {
    XIOErrorHandler previous;
    {
        std::lock_guard<std::mutex> lock(recordsMutex);
        auto found = records.find(display);
        if (found != records.end() && found->second.survives) {
            found->second.lost = true;
            return 0;  // the display's exit handler below keeps the process alive
        }
        previous = previousIoErrorHandler;
    }
    return previous ? previous(display) : 0;
}

void keepRunningAfterLoss(Display*, void*) {}

// Put in place after whatever toolkit came up first, and only once in a row:
// our handler must never become its own "previous".
void installHandlers() {
    std::lock_guard<std::mutex> lock(recordsMutex);
    XErrorHandler current = XSetErrorHandler(onError);
    if (current != onError) previousErrorHandler = current;
    XIOErrorHandler currentIo = XSetIOErrorHandler(onIoError);
    if (currentIo != onIoError) previousIoErrorHandler = currentIo;
}

bool isOurs(Display* display) {
    std::lock_guard<std::mutex> lock(recordsMutex);
    auto found = records.find(display);
    return found != records.end() && found->second.ours;
}

// Runs the connection's events from the GLib main loop: the descriptor wakes
// it, and events Xlib already read into its queue (during a synchronous
// call) are seen by prepare.
struct WatchSource {
    GSource base;
    Connection* connection;
    gpointer tag;
    std::function<void()>* ready;  // owned; freed with the source, after any dispatch

    static bool pending(WatchSource* self) {
        Display* display = self->connection->display();
        return self->connection->lost() || XEventsQueued(display, QueuedAlready) > 0;
    }
    static gboolean prepare(GSource* source, gint* timeout) {
        auto* self = reinterpret_cast<WatchSource*>(source);
        *timeout = -1;
        if (!self->connection->lost()) XFlush(self->connection->display());
        return pending(self);
    }
    static gboolean check(GSource* source) {
        auto* self = reinterpret_cast<WatchSource*>(source);
        return pending(self) ||
               (g_source_query_unix_fd(source, self->tag) & (G_IO_IN | G_IO_HUP | G_IO_ERR)) != 0;
    }
    static gboolean dispatch(GSource* source, GSourceFunc, gpointer) {
        // The callback may close the connection, and with it this source:
        // GLib holds the source (and so the callback) until dispatch returns.
        (*reinterpret_cast<WatchSource*>(source)->ready)();
        return G_SOURCE_CONTINUE;
    }
    static void finalize(GSource* source) { delete reinterpret_cast<WatchSource*>(source)->ready; }
};

GSourceFuncs watchFuncs = {WatchSource::prepare,
                           WatchSource::check,
                           WatchSource::dispatch,
                           WatchSource::finalize,
                           nullptr,
                           nullptr};

}  // namespace

std::unique_ptr<Connection> Connection::open(const std::string& displayName) {
    Display* display = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
    if (!display) return nullptr;
    return std::make_unique<Connection>(display);
}

Connection::Connection(Display* display) : display_(display) {
    {
        std::lock_guard<std::mutex> lock(recordsMutex);
        records[display_].ours = true;
    }
    installHandlers();
}

Connection::~Connection() {
    source_.reset();
    // Errors of requests still unanswered are caught as ours before the
    // display is forgotten (another connection may get its address next).
    if (!lost()) XSync(display_, False);
    {
        std::lock_guard<std::mutex> lock(recordsMutex);
        records.erase(display_);
    }
    XCloseDisplay(display_);
}

void Connection::watch(std::function<void()> ready) {
    source_.reset(g_source_new(&watchFuncs, sizeof(WatchSource)));
    auto* watchSource = reinterpret_cast<WatchSource*>(source_.get());
    watchSource->connection = this;
    watchSource->ready = new std::function<void()>(std::move(ready));
    watchSource->tag = g_source_add_unix_fd(source_.get(), fileDescriptor(),
                                            GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR));
    g_source_attach(source_.get(), nullptr);
}

bool Connection::nextEvent(XEvent& event, std::chrono::steady_clock::time_point deadline) {
    while (!XPending(display_)) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd descriptor{fileDescriptor(), POLLIN, 0};
        poll(&descriptor, 1, static_cast<int>(std::min<int64_t>(left.count(), INT_MAX - 1)) + 1);
    }
    XNextEvent(display_, &event);
    return true;
}

void Connection::surviveLoss() {
    {
        std::lock_guard<std::mutex> lock(recordsMutex);
        records[display_].survives = true;
    }
    XSetIOErrorExitHandler(display_, keepRunningAfterLoss, nullptr);
}

bool Connection::lost() const {
    std::lock_guard<std::mutex> lock(recordsMutex);
    auto found = records.find(display_);
    return found != records.end() && found->second.lost;
}

ErrorTrap::ErrorTrap(Display* display) : display_(display) {
    if (!isOurs(display)) {
        // GTK's display: GDK keeps its own stack of traps there.
        if (GdkDisplay* gdk = gdk_x11_lookup_xdisplay(display)) {
            gdkDisplay_ = gdk;
            gdk_x11_display_error_trap_push(gdk);
            return;
        }
    }
    installHandlers();
    std::lock_guard<std::mutex> lock(recordsMutex);
    auto& record = records[display_];
    ++record.traps;
    errorsBefore_ = record.errors;
}

ErrorTrap::~ErrorTrap() {
    if (gdkDisplay_) {
        gdk_x11_display_error_trap_pop_ignored(static_cast<GdkDisplay*>(gdkDisplay_));
        return;
    }
    // Errors may still be on their way, unless nothing was sent since the
    // last look.
    if (NextRequest(display_) != answeredBefore_) XSync(display_, False);
    std::lock_guard<std::mutex> lock(recordsMutex);
    auto found = records.find(display_);
    if (found == records.end()) return;
    --found->second.traps;
    if (!found->second.ours && found->second.traps == 0) records.erase(found);
}

bool ErrorTrap::succeeded() {
    if (gdkDisplay_) {
        // GDK tells only when a trap ends: end it and begin another.
        auto* gdk = static_cast<GdkDisplay*>(gdkDisplay_);
        if (int code = gdk_x11_display_error_trap_pop(gdk)) gdkError_ = code;
        gdk_x11_display_error_trap_push(gdk);
        return gdkError_ == 0;
    }
    XSync(display_, False);
    answeredBefore_ = NextRequest(display_);
    std::lock_guard<std::mutex> lock(recordsMutex);
    auto found = records.find(display_);
    return found == records.end() || found->second.errors == errorsBefore_;
}

}  // namespace velvox::x11

#pragma once

#include <X11/Xlib.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include <glib.h>

namespace velvox::x11 {

// A connection of our own to the X server. Every piece that speaks X11 opens
// one of these rather than a bare Display, so that three things are done
// once, the same way:
// - protocol errors on it never end the process (Xlib's default handler
//   would exit on a BadWindow from a window that closed a moment ago); an
//   ErrorTrap tells whether the requests it covers failed;
// - its events are read from the GLib main loop when asked (watch);
// - the loss of the server ends the process, as Xlib does by default, unless
//   the owner asks to survive it (surviveLoss) and reconnects later.
//
// Xlib's error handlers are process-wide and GTK has its own. Ours is put in
// place whenever a connection opens or a trap starts, answers only for our
// connections and for trapped displays, and hands every other display's
// errors to the handler that was there before it.
class Connection {
  public:
    // Nothing when the display cannot be opened. An empty name means $DISPLAY.
    static std::unique_ptr<Connection> open(const std::string& displayName = "");
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    Display* display() const { return display_; }
    int fileDescriptor() const { return ConnectionNumber(display_); }

    // Calls ready from the default GLib main context whenever events wait:
    // on the descriptor, in Xlib's queue (read there during a synchronous
    // call), or once the connection is lost. ready reads them with XPending
    // and XNextEvent; it may close this connection. One watch per connection,
    // removed when the connection closes.
    void watch(std::function<void()> ready);

    // Takes the next event off the queue, waiting for the server until
    // deadline; false when none came by then.
    bool nextEvent(XEvent& event, std::chrono::steady_clock::time_point deadline);

    // From now on a broken connection marks this lost() instead of ending
    // the process; the owner then closes it (and may open another).
    void surviveLoss();
    bool lost() const;

    explicit Connection(Display* display);

  private:
    // The watch leaves the main loop with its last reference.
    struct SourceEnd {
        void operator()(GSource* source) const {
            g_source_destroy(source);
            g_source_unref(source);
        }
    };

    Display* display_;
    std::unique_ptr<GSource, SourceEnd> source_;
};

// Catches the protocol errors of the requests made on one display while it
// lives, instead of passing them on. Traps nest. On GTK's own display GDK's
// error trap is used instead, since GDK keeps a stack of handlers of its own
// there and warns when another one replaces it.
class ErrorTrap {
  public:
    explicit ErrorTrap(Display* display);
    ~ErrorTrap();
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

    // Waits for the server to answer everything sent so far; true when none
    // of it failed since the trap began.
    bool succeeded();

  private:
    Display* display_;
    void* gdkDisplay_ = nullptr;  // set when GDK traps the errors
    unsigned long errorsBefore_ = 0;
    unsigned long answeredBefore_ = 0;  // the first request not yet known to be answered
    int gdkError_ = 0;
};

}  // namespace velvox::x11

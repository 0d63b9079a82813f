#pragma once

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "CaptureSession.h"

namespace velvox::testing {

// A small X11 window standing in for the application the user types into:
// it takes the focus and records the key events that reach it, as
// "press F5" / "release Alt_R".
class TestWindow {
  public:
    TestWindow() {
        display_ = XOpenDisplay(nullptr);
        if (!display_) return;
        window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 100, 100, 300, 200, 0,
                                      0, 0xFFFFFF);
        XSelectInput(display_, window_, KeyPressMask | KeyReleaseMask);
        XStoreName(display_, window_, "capture target");
        XMapWindow(display_, window_);
        XSync(display_, False);
    }
    ~TestWindow() {
        if (!display_) return;
        XDestroyWindow(display_, window_);
        XCloseDisplay(display_);
    }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    bool open() const { return display_ != nullptr; }
    Display* display() const { return display_; }

    bool focus() {
        std::string id = std::to_string(window_);
        return run(
            "xdotool search --sync --onlyvisible --name '^capture target$' >/dev/null && "
            "xdotool windowactivate --sync " +
            id + " && xdotool windowfocus --sync " + id);
    }

    // Reads what has arrived so far.
    void pump() {
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            if (event.type != KeyPress && event.type != KeyRelease) continue;
            KeySym symbol = XkbKeycodeToKeysym(display_, event.xkey.keycode, 0, 0);
            const char* name = XKeysymToString(symbol);
            events.push_back(std::string(event.type == KeyPress ? "press " : "release ") +
                             (name ? name : "?"));
        }
    }
    bool received(const std::string& event) {
        pump();
        return std::find(events.begin(), events.end(), event) != events.end();
    }
    bool receivedAnyOf(const std::string& keyName) {
        pump();
        return std::any_of(events.begin(), events.end(), [&](const std::string& event) {
            return event.size() > keyName.size() &&
                   event.compare(event.size() - keyName.size(), keyName.size(), keyName) == 0 &&
                   event[event.size() - keyName.size() - 1] == ' ';
        });
    }
    // Types x and waits until the window has it: every key event sent before
    // has then been handled by the server.
    bool typeMarker() {
        if (!run("xdotool key x")) return false;
        return runMainLoopUntil([&] { return received("release x"); });
    }

    std::vector<std::string> events;

  private:
    Display* display_ = nullptr;
    Window window_ = 0;
};

}  // namespace velvox::testing

#include "integration/e2e/KeyGrab.h"

#include <X11/Xlib.h>

namespace velvox::testing {

namespace {

int grabRefused = 0;

int noteRefusal(Display*, XErrorEvent* error) {
    grabRefused = error->error_code;
    return 0;
}

}  // namespace

KeyGrab::KeyGrab(const std::string& keysym) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return;
    display_ = display;
    keycode_ = XKeysymToKeycode(display, XStringToKeysym(keysym.c_str()));
    grabRefused = 0;
    XErrorHandler previous = XSetErrorHandler(noteRefusal);
    XGrabKey(display, static_cast<int>(keycode_), AnyModifier, DefaultRootWindow(display), False,
             GrabModeAsync, GrabModeAsync);
    XSync(display, False);
    XSetErrorHandler(previous);
    held_ = keycode_ != 0 && grabRefused == 0;
}

KeyGrab::~KeyGrab() {
    auto* display = static_cast<Display*>(display_);
    if (!display) return;
    XUngrabKey(display, static_cast<int>(keycode_), AnyModifier, DefaultRootWindow(display));
    XCloseDisplay(display);
}

}  // namespace velvox::testing

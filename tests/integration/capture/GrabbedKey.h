#pragma once

#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace velvox::testing {

// Another X client (`other`) grabs F5 on the root window with these
// modifiers, as a desktop's own shortcut does, or lets go of it.
inline void otherClientGrabsF5(Display* other, unsigned modifiers, bool grab) {
    KeyCode f5 = XKeysymToKeycode(other, XK_F5);
    grab ? XGrabKey(other, f5, modifiers, DefaultRootWindow(other), False, GrabModeAsync,
                    GrabModeAsync)
         : XUngrabKey(other, f5, modifiers, DefaultRootWindow(other));
    XSync(other, False);
}

}  // namespace velvox::testing

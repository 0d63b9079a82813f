#pragma once

#include <X11/Xlib.h>

#include <sys/types.h>
#include <optional>
#include <string>
#include <vector>

#include "linux/x11/X11Connection.h"

namespace velvox::x11 {

// A property read as a string of bytes (format 8), of any type when type is
// AnyPropertyType.
std::optional<std::string> byteProperty(Display* display, Window window, Atom property,
                                        Atom type = AnyPropertyType);
// The first value of a 32-bit property (CARDINAL, WINDOW).
std::optional<unsigned long> longProperty(Display* display, Window window, Atom property,
                                          Atom type);

struct WindowClass {
    std::string instance;
    std::string className;
};
std::optional<WindowClass> windowClass(Display* display, Window window);

// _NET_WM_NAME, else WM_NAME.
std::optional<std::string> windowTitle(Display* display, Window window);

// The window the window manager reports as active, if any.
std::optional<Window> activeWindow(Display* display);

// _NET_WM_PID, when the window tells.
std::optional<pid_t> windowProcess(Display* display, Window window);

// What names a window's program: its class (instance, then class name) and
// the program's file name, as far as the window tells.
std::vector<std::string> windowNames(Display* display, Window window);

}  // namespace velvox::x11

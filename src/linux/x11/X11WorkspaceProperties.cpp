#include "linux/x11/X11WorkspaceProperties.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <string>

namespace velvox::x11 {

namespace {

Atom atom(Display* display, const char* name) {
    return XInternAtom(display, name, False);
}

}  // namespace

std::optional<std::string> byteProperty(Display* display, Window window, Atom property, Atom type) {
    ErrorTrap trap(display);
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    int status = XGetWindowProperty(display, window, property, 0, LONG_MAX / 4, False, type,
                                    &actualType, &format, &count, &remaining, &data);
    std::optional<std::string> result;
    if (status == Success && trap.succeeded() && actualType != None && format == 8 && data) {
        result = std::string(reinterpret_cast<char*>(data), count);
    }
    if (data) XFree(data);
    return result;
}

std::optional<unsigned long> longProperty(Display* display, Window window, Atom property,
                                          Atom type) {
    ErrorTrap trap(display);
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    int status = XGetWindowProperty(display, window, property, 0, 1, False, type, &actualType,
                                    &format, &count, &remaining, &data);
    std::optional<unsigned long> result;
    if (status == Success && trap.succeeded() && actualType == type && format == 32 && count >= 1 &&
        data) {
        // Xlib hands 32-bit values over as longs.
        result = reinterpret_cast<unsigned long*>(data)[0];
    }
    if (data) XFree(data);
    return result;
}

std::optional<WindowClass> windowClass(Display* display, Window window) {
    auto value = byteProperty(display, window, XA_WM_CLASS, XA_STRING);
    if (!value || value->empty()) return std::nullopt;
    // Two NUL-terminated strings: instance, then class.
    WindowClass result;
    auto split = value->find('\0');
    result.instance = value->substr(0, split);
    if (split != std::string::npos) {
        auto rest = value->substr(split + 1);
        result.className = rest.substr(0, rest.find('\0'));
    }
    return result;
}

std::optional<std::string> windowTitle(Display* display, Window window) {
    if (auto name = byteProperty(display, window, atom(display, "_NET_WM_NAME"),
                                 atom(display, "UTF8_STRING"))) {
        return name;
    }
    // WM_NAME may be STRING (Latin-1) or COMPOUND_TEXT; Xutil converts both.
    ErrorTrap trap(display);
    XTextProperty property{};
    if (!XGetWMName(display, window, &property) || !property.value) return std::nullopt;
    std::optional<std::string> result;
    char** list = nullptr;
    int count = 0;
    if (Xutf8TextPropertyToTextList(display, &property, &list, &count) >= Success && count > 0 &&
        list) {
        result = std::string(list[0]);
    }
    if (list) XFreeStringList(list);
    XFree(property.value);
    if (!trap.succeeded()) return std::nullopt;
    return result;
}

std::optional<Window> activeWindow(Display* display) {
    auto window = longProperty(display, DefaultRootWindow(display),
                               atom(display, "_NET_ACTIVE_WINDOW"), XA_WINDOW);
    if (!window || *window == None) return std::nullopt;
    return static_cast<Window>(*window);
}

std::optional<pid_t> windowProcess(Display* display, Window window) {
    auto pid = longProperty(display, window, atom(display, "_NET_WM_PID"), XA_CARDINAL);
    if (!pid || *pid == 0) return std::nullopt;
    return static_cast<pid_t>(*pid);
}

}  // namespace velvox::x11

#include "linux/x11/X11WorkspaceProperties.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <string>

#include "linux/glib/DesktopFiles.h"
#include "linux/x11/XOwned.h"

namespace velvox::x11 {

namespace {

Atom atom(Display* display, const char* name) {
    return XInternAtom(display, name, False);
}

}  // namespace

std::optional<std::string> byteProperty(Display* display, Window window, Atom property, Atom type) {
    ErrorTrap trap(display);
    auto value = getProperty(display, window, property, LONG_MAX / 4, false, type);
    if (!value || !trap.succeeded() || value->type == None || value->format != 8 || !value->data)
        return std::nullopt;
    return std::string(reinterpret_cast<char*>(value->data.get()), value->count);
}

std::optional<unsigned long> longProperty(Display* display, Window window, Atom property,
                                          Atom type) {
    ErrorTrap trap(display);
    auto value = getProperty(display, window, property, 1, false, type);
    if (!value || !trap.succeeded() || value->type != type || value->format != 32 ||
        value->count < 1 || !value->data)
        return std::nullopt;
    // Xlib hands 32-bit values over as longs.
    return reinterpret_cast<unsigned long*>(value->data.get())[0];
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
    XFreed<unsigned char> value(property.value);
    std::optional<std::string> result;
    char** texts = nullptr;
    int count = 0;
    int status = Xutf8TextPropertyToTextList(display, &property, &texts, &count);
    XStringList list(texts);
    if (status >= Success && count > 0 && list) result = std::string(list.get()[0]);
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

std::vector<std::string> windowNames(Display* display, Window window) {
    std::vector<std::string> names;
    if (auto found = windowClass(display, window)) {
        names.push_back(found->instance);
        names.push_back(found->className);
    }
    if (auto process = windowProcess(display, window)) names.push_back(executableName(*process));
    return names;
}

}  // namespace velvox::x11

#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <memory>
#include <optional>

namespace velvox::x11 {

// Memory Xlib hands over (property values, atom names, key maps): XFree'd
// when this goes, whichever way the caller leaves.
struct XFreeDeleter {
    void operator()(void* data) const { XFree(data); }
};
template <typename T>
using XFreed = std::unique_ptr<T, XFreeDeleter>;

// The list Xutf8TextPropertyToTextList fills in.
struct XStringListDeleter {
    void operator()(char** list) const { XFreeStringList(list); }
};
using XStringList = std::unique_ptr<char*, XStringListDeleter>;

struct XModifierKeymapDeleter {
    void operator()(XModifierKeymap* map) const { XFreeModifiermap(map); }
};
using XModifiers = std::unique_ptr<XModifierKeymap, XModifierKeymapDeleter>;

// A property's value as XGetWindowProperty gives it. Its format 32 items
// are C longs, whatever the size of long.
struct PropertyValue {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;      // items of format bits each
    unsigned long remaining = 0;  // bytes left unread after them
    XFreed<unsigned char> data;

    size_t byteLength() const {
        return count * (format == 8 ? 1 : format == 16 ? sizeof(short) : sizeof(long));
    }
};

// XGetWindowProperty into a value that frees itself; nothing when the
// request fails. The value's type is None when the window lacks the property.
inline std::optional<PropertyValue> getProperty(Display* display, Window window, Atom property,
                                                long longLength, bool remove, Atom type) {
    PropertyValue value;
    unsigned char* data = nullptr;
    int status =
        XGetWindowProperty(display, window, property, 0, longLength, remove ? True : False, type,
                           &value.type, &value.format, &value.count, &value.remaining, &data);
    value.data.reset(data);
    if (status != Success) return std::nullopt;
    return value;
}

// A window of ours, destroyed with this.
class OwnedWindow {
  public:
    OwnedWindow(Display* display, Window window) : display_(display), window_(window) {}
    // An unmapped window that hears of changes to its own properties: the
    // requestor or owner of selections, and a way to learn the server's time.
    static OwnedWindow hidden(Display* display) {
        XSetWindowAttributes attributes{};
        attributes.event_mask = PropertyChangeMask;
        return OwnedWindow(display,
                           XCreateWindow(display, DefaultRootWindow(display), -10, -10, 1, 1, 0, 0,
                                         InputOnly, CopyFromParent, CWEventMask, &attributes));
    }
    ~OwnedWindow() { XDestroyWindow(display_, window_); }
    OwnedWindow(const OwnedWindow&) = delete;
    OwnedWindow& operator=(const OwnedWindow&) = delete;

    Window get() const { return window_; }

  private:
    Display* display_;
    Window window_;
};

}  // namespace velvox::x11

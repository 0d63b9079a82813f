// What desktops run around the clipboard, for the delivery tests: a
// clipboard manager, and an owner whose data is slow to come.
//
//   clipboard_stand_in manager
//     Takes over every new clipboard content with the same bytes, as GPaste,
//     Klipper, clipman or CopyQ do.
//   clipboard_stand_in keeper
//     Owns CLIPBOARD_MANAGER and copies the content when asked to
//     (SAVE_TARGETS), as the desktop's settings daemons do.
//   clipboard_stand_in slow SECONDS TEXT [TARGET=SECONDS...]
//     Owns the clipboard with TEXT (UTF8_STRING, text/plain;charset=utf-8),
//     text/html and image/png; lists them at once but delivers each target
//     only after SECONDS, or after its own delay when one is named.
//
// Reports "ready PID" when in place, then one line per event on stdout.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

#include <poll.h>
#include <unistd.h>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Targets = std::vector<std::pair<Atom, std::string>>;

Display* display = nullptr;
Window window = None;
Atom clipboard, targetsAtom, incr, property;

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

Atom atom(const char* name) {
    return XInternAtom(display, name, False);
}

bool waitEvent(XEvent& event, int type, Clock::time_point deadline) {
    while (true) {
        while (XPending(display)) {
            XNextEvent(display, &event);
            if (event.type == type) return true;
        }
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd descriptor{ConnectionNumber(display), POLLIN, 0};
        poll(&descriptor, 1, static_cast<int>(left));
    }
}

std::string takeProperty(Atom* type, int* format) {
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    std::string bytes;
    XGetWindowProperty(display, window, property, 0, LONG_MAX / 4, True, AnyPropertyType, type,
                       format, &count, &remaining, &data);
    if (data) {
        bytes.assign(reinterpret_cast<char*>(data), count * (*format == 32   ? sizeof(long)
                                                             : *format == 16 ? 2
                                                                             : 1));
        XFree(data);
    }
    return bytes;
}

// One target of the current owner, INCR included; nothing when refused.
bool convert(Atom selection, Atom target, std::string& bytes, Atom* type) {
    XConvertSelection(display, selection, target, property, window, CurrentTime);
    XEvent event;
    auto deadline = Clock::now() + std::chrono::seconds(3);
    while (waitEvent(event, SelectionNotify, deadline)) {
        if (event.xselection.target != target) continue;
        if (event.xselection.property == None) return false;
        int format = 0;
        bytes = takeProperty(type, &format);
        if (*type != incr) return true;
        bytes.clear();
        while (waitEvent(event, PropertyNotify, deadline)) {
            if (event.xproperty.atom != property || event.xproperty.state != PropertyNewValue)
                continue;
            std::string chunk = takeProperty(type, &format);
            if (chunk.empty()) return true;
            bytes += chunk;
        }
        return false;
    }
    return false;
}

// Every content target of the clipboard's current owner, with its bytes;
// nothing once that owner has given the clipboard up meanwhile.
Targets readAll() {
    Targets all;
    Window owner = XGetSelectionOwner(display, clipboard);
    std::string list;
    Atom type = None;
    if (!convert(clipboard, targetsAtom, list, &type)) return all;
    const auto* atoms = reinterpret_cast<const long*>(list.data());
    for (size_t i = 0; i < list.size() / sizeof(long); ++i) {
        Atom target = static_cast<Atom>(atoms[i]);
        char* name = XGetAtomName(display, target);
        std::string text = name ? name : "";
        if (name) XFree(name);
        if (text == "TARGETS" || text == "TIMESTAMP" || text == "MULTIPLE" ||
            text == "SAVE_TARGETS")
            continue;
        std::string bytes;
        Atom actual = None;
        if (XGetSelectionOwner(display, clipboard) != owner) return {};
        if (convert(clipboard, target, bytes, &actual)) all.emplace_back(target, bytes);
    }
    if (XGetSelectionOwner(display, clipboard) != owner) return {};
    return all;
}

void reply(const XSelectionRequestEvent& request, bool given) {
    XEvent event{};
    event.xselection.type = SelectionNotify;
    event.xselection.requestor = request.requestor;
    event.xselection.selection = request.selection;
    event.xselection.target = request.target;
    event.xselection.time = request.time;
    event.xselection.property = given ? request.property : None;
    XSendEvent(display, request.requestor, False, NoEventMask, &event);
    XFlush(display);
}

// Answers one request from what is held; false when the target is not held.
bool serve(const XSelectionRequestEvent& request, const Targets& held) {
    if (request.target == targetsAtom) {
        std::vector<long> list = {static_cast<long>(targetsAtom)};
        for (const auto& [target, bytes] : held) list.push_back(static_cast<long>(target));
        XChangeProperty(display, request.requestor, request.property, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(list.data()),
                        static_cast<int>(list.size()));
        reply(request, true);
        return true;
    }
    for (const auto& [target, bytes] : held) {
        if (target != request.target) continue;
        XChangeProperty(display, request.requestor, request.property, target, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(bytes.data()),
                        static_cast<int>(bytes.size()));
        reply(request, true);
        return true;
    }
    reply(request, false);
    return false;
}

std::string summary(const Targets& held) {
    for (const auto& [target, bytes] : held) {
        if (target == atom("UTF8_STRING")) return bytes;
    }
    return "";
}

int runManager(bool takeOver, bool save) {
    int eventBase = 0, errorBase = 0;
    XFixesQueryExtension(display, &eventBase, &errorBase);
    XFixesSelectSelectionInput(display, window, clipboard, XFixesSetSelectionOwnerNotifyMask);
    Atom manager = atom("CLIPBOARD_MANAGER"), saveTargets = atom("SAVE_TARGETS");
    if (save) XSetSelectionOwner(display, manager, window, CurrentTime);
    Targets held;
    say("ready " + std::to_string(getpid()));
    while (true) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == eventBase + XFixesSelectionNotify) {
            auto& notify = reinterpret_cast<XFixesSelectionNotifyEvent&>(event);
            if (!takeOver || notify.owner == window || notify.owner == None) continue;
            held = readAll();
            if (held.empty()) continue;
            XSetSelectionOwner(display, clipboard, window, CurrentTime);
            say("took " + summary(held));
        } else if (event.type == SelectionRequest) {
            auto& request = event.xselectionrequest;
            if (request.selection == manager && request.target == saveTargets) {
                held = readAll();
                XSetSelectionOwner(display, clipboard, window, CurrentTime);
                XFlush(display);
                reply(request, true);
                say("saved " + summary(held));
            } else if (request.selection == clipboard) {
                serve(request, held);
            } else {
                reply(request, false);
            }
        }
    }
}

int runSlow(double seconds, const std::string& text, const std::map<std::string, double>& late) {
    std::string image = "\x89PNG\r\n\x1a\n";
    image.resize(30000, 'i');
    Targets held = {{atom("UTF8_STRING"), text},
                    {atom("text/plain;charset=utf-8"), text},
                    {atom("text/html"), "<b>" + text + "</b>"},
                    {atom("image/png"), image}};
    XSetSelectionOwner(display, clipboard, window, CurrentTime);
    XSync(display, False);
    say("ready " + std::to_string(getpid()));
    struct Due {
        Clock::time_point at;
        XSelectionRequestEvent request;
    };
    std::vector<Due> due;
    while (true) {
        auto now = Clock::now();
        for (auto it = due.begin(); it != due.end();) {
            if (it->at > now) {
                ++it;
                continue;
            }
            serve(it->request, held);
            it = due.erase(it);
        }
        int wait = 50;
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == SelectionClear) return 0;
            if (event.type != SelectionRequest) continue;
            auto& request = event.xselectionrequest;
            if (request.target == targetsAtom) {
                serve(request, held);
                continue;
            }
            char* name = XGetAtomName(display, request.target);
            auto found = late.find(name ? name : "");
            if (name) XFree(name);
            double delay = found == late.end() ? seconds : found->second;
            due.push_back({Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(delay)),
                           request});
            say("asked");
        }
        pollfd descriptor{ConnectionNumber(display), POLLIN, 0};
        poll(&descriptor, 1, wait);
    }
}

}  // namespace

int main(int argc, char** argv) {
    display = XOpenDisplay(nullptr);
    if (!display || argc < 2) return 2;
    XSetWindowAttributes attributes{};
    attributes.event_mask = PropertyChangeMask;
    window = XCreateWindow(display, DefaultRootWindow(display), -10, -10, 1, 1, 0, 0, InputOnly,
                           CopyFromParent, CWEventMask, &attributes);
    clipboard = atom("CLIPBOARD");
    targetsAtom = atom("TARGETS");
    incr = atom("INCR");
    property = atom("STAND_IN_SELECTION");
    std::string mode = argv[1];
    if (mode == "manager") return runManager(true, false);
    if (mode == "keeper") return runManager(false, true);
    if (mode == "slow" && argc >= 4) {
        std::map<std::string, double> late;
        for (int i = 4; i < argc; ++i) {
            std::string pair = argv[i];
            auto equals = pair.rfind('=');
            late[pair.substr(0, equals)] = std::stod(pair.substr(equals + 1));
        }
        return runSlow(std::stod(argv[2]), argv[3], late);
    }
    return 2;
}

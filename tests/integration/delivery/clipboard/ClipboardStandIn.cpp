// What desktops run around the clipboard, for the delivery tests; each
// reports "ready PID" when in place, then one line per event.
//
//   clipboard_stand_in manager   takes over every new clipboard content with
//                                the same bytes (GPaste, Klipper, CopyQ)
//   clipboard_stand_in keeper    owns CLIPBOARD_MANAGER and copies the content
//                                when asked to (SAVE_TARGETS), as settings daemons do
//   clipboard_stand_in slow SECONDS TEXT [TARGET=SECONDS...]
//     owns the clipboard with TEXT (UTF8_STRING, text/plain;charset=utf-8),
//     text/html and image/png; lists them at once but delivers each target
//     only after SECONDS, or after its own delay when one is named.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

#include <poll.h>
#include <unistd.h>
#include <chrono>
#include <climits>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Targets = std::vector<std::pair<Atom, std::string>>;

Display* display = nullptr;
Window window = None;

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

Atom atom(const char* name) {
    return XInternAtom(display, name, False);
}

std::string nameOf(Atom target) {
    char* name = XGetAtomName(display, target);
    std::string text = name;
    XFree(name);
    return text;
}

bool waitEvent(XEvent& event, int type, Clock::time_point deadline) {
    for (long left = 1; left > 0;) {
        while (XPending(display)) {
            XNextEvent(display, &event);
            if (event.type == type) return true;
        }
        left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd descriptor{ConnectionNumber(display), POLLIN, 0};
        if (left > 0) poll(&descriptor, 1, static_cast<int>(left));
    }
    return false;
}

std::string takeProperty(Atom* type) {
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    XGetWindowProperty(display, window, atom("STAND_IN_SELECTION"), 0, LONG_MAX / 4, True,
                       AnyPropertyType, type, &format, &count, &remaining, &data);
    if (!data) return "";
    std::string bytes(reinterpret_cast<char*>(data), count * (format == 32   ? sizeof(long)
                                                              : format == 16 ? 2
                                                                             : 1));
    XFree(data);
    return bytes;
}

// One target of the clipboard's owner, in one piece (the contents of the
// tests stay below the size owners send in chunks); false when refused.
bool convert(Atom target, std::string& bytes) {
    XConvertSelection(display, atom("CLIPBOARD"), target, atom("STAND_IN_SELECTION"), window,
                      CurrentTime);
    XEvent event;
    Atom type = None;
    for (auto deadline = Clock::now() + std::chrono::seconds(3);
         waitEvent(event, SelectionNotify, deadline);)
        if (event.xselection.target == target) {
            bytes = takeProperty(&type);
            return event.xselection.property != None;
        }
    return false;
}

// Every content target of the clipboard's current owner, with its bytes;
// nothing once that owner has given the clipboard up meanwhile.
Targets readAll() {
    Targets all;
    Window owner = XGetSelectionOwner(display, atom("CLIPBOARD"));
    std::string list;
    if (!convert(atom("TARGETS"), list)) return all;
    const auto* atoms = reinterpret_cast<const long*>(list.data());
    for (size_t i = 0; i < list.size() / sizeof(long); ++i) {
        Atom target = static_cast<Atom>(atoms[i]);
        std::string name = nameOf(target), bytes;
        if (name == "TARGETS" || name == "TIMESTAMP" || name == "MULTIPLE" ||
            name == "SAVE_TARGETS")
            continue;
        if (XGetSelectionOwner(display, atom("CLIPBOARD")) != owner) return {};
        if (convert(target, bytes)) all.emplace_back(target, bytes);
    }
    if (XGetSelectionOwner(display, atom("CLIPBOARD")) != owner) return {};
    return all;
}

void reply(const XSelectionRequestEvent& request, bool given) {
    XEvent event{};
    event.xselection = {SelectionNotify,
                        0,
                        False,
                        nullptr,
                        request.requestor,
                        request.selection,
                        request.target,
                        given ? request.property : None,
                        request.time};
    XSendEvent(display, request.requestor, False, NoEventMask, &event);
    XFlush(display);
}

// Answers one request from what is held.
void serve(const XSelectionRequestEvent& request, const Targets& held) {
    if (request.target == atom("TARGETS")) {
        std::vector<long> list = {static_cast<long>(request.target)};
        for (const auto& [target, bytes] : held) list.push_back(static_cast<long>(target));
        XChangeProperty(display, request.requestor, request.property, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(list.data()), int(list.size()));
        return reply(request, true);
    }
    for (const auto& [target, bytes] : held) {
        if (target != request.target) continue;
        XChangeProperty(display, request.requestor, request.property, target, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(bytes.data()), int(bytes.size()));
        return reply(request, true);
    }
    reply(request, false);
}

std::string textOf(const Targets& held) {
    for (const auto& [target, bytes] : held)
        if (target == atom("UTF8_STRING")) return bytes;
    return "";
}

int runManager(bool takeOver) {
    int eventBase = 0, errorBase = 0;
    XFixesQueryExtension(display, &eventBase, &errorBase);
    XFixesSelectSelectionInput(display, window, atom("CLIPBOARD"),
                               XFixesSetSelectionOwnerNotifyMask);
    if (!takeOver) XSetSelectionOwner(display, atom("CLIPBOARD_MANAGER"), window, CurrentTime);
    Targets held;
    say("ready " + std::to_string(getpid()));
    for (XEvent event;;) {
        XNextEvent(display, &event);
        auto& request = event.xselectionrequest;
        if (event.type == eventBase + XFixesSelectionNotify) {
            auto& notify = reinterpret_cast<XFixesSelectionNotifyEvent&>(event);
            if (!takeOver || notify.owner == window || notify.owner == None) continue;
            if ((held = readAll()).empty()) continue;
            XSetSelectionOwner(display, atom("CLIPBOARD"), window, CurrentTime);
            say("took " + textOf(held));
        } else if (event.type != SelectionRequest) {
            continue;
        } else if (request.selection == atom("CLIPBOARD_MANAGER") &&
                   request.target == atom("SAVE_TARGETS")) {
            held = readAll();
            XSetSelectionOwner(display, atom("CLIPBOARD"), window, CurrentTime);
            reply(request, true);
            say("saved " + textOf(held));
        } else {
            request.selection == atom("CLIPBOARD") ? serve(request, held) : reply(request, false);
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
    XSetSelectionOwner(display, atom("CLIPBOARD"), window, CurrentTime);
    XSync(display, False);
    say("ready " + std::to_string(getpid()));
    std::vector<std::pair<Clock::time_point, XSelectionRequestEvent>> due;
    while (true) {
        for (auto it = due.begin(); it != due.end();)
            it = it->first > Clock::now() ? it + 1 : (serve(it->second, held), due.erase(it));
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == SelectionClear) return 0;
            if (event.type != SelectionRequest) continue;
            auto& request = event.xselectionrequest;
            if (request.target == atom("TARGETS")) {
                serve(request, held);
                continue;
            }
            auto found = late.find(nameOf(request.target));
            std::chrono::duration<double> delay(found == late.end() ? seconds : found->second);
            due.emplace_back(Clock::now() + std::chrono::duration_cast<Clock::duration>(delay),
                             request);
        }
        pollfd descriptor{ConnectionNumber(display), POLLIN, 0};
        poll(&descriptor, 1, 50);
    }
}

}  // namespace

int main(int argc, char** argv) {
    display = XOpenDisplay(nullptr);
    if (!display || argc < 2) return 2;
    window = XCreateSimpleWindow(display, DefaultRootWindow(display), -10, -10, 1, 1, 0, 0, 0);
    std::string mode = argv[1];
    if (mode == "manager" || mode == "keeper") return runManager(mode == "manager");
    if (mode != "slow" || argc < 4) return 2;
    std::map<std::string, double> late;
    for (int i = 4; i < argc; ++i) {
        std::string pair = argv[i];
        late[pair.substr(0, pair.rfind('='))] = std::stod(pair.substr(pair.rfind('=') + 1));
    }
    return runSlow(std::stod(argv[2]), argv[3], late);
}

// What desktops run around the clipboard, for the delivery tests; each says
// "ready PID" when in place, then one line per event.
//   manager  takes over every new clipboard content with the same bytes (GPaste, CopyQ)
//   keeper   owns CLIPBOARD_MANAGER and copies the content when asked to (SAVE_TARGETS)
//   slow SECONDS TEXT [TARGET=SECONDS...]  owns the clipboard with TEXT (two text
//            targets), text/html and image/png; lists them at once but delivers
//            each only after SECONDS, or after its own delay when one is named.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>
#include <poll.h>
#include <unistd.h>
#include <chrono>
#include <climits>
#include <map>
#include <string>
#include <vector>

#include "integration/delivery/DeliveryWindowProcess.h"

namespace {

using namespace velvox::testing;
using Clock = std::chrono::steady_clock;
using Targets = std::vector<std::pair<Atom, std::string>>;

Display* display = nullptr;
Window window = None;

Atom atom(const char* name) {
    return XInternAtom(display, name, False);
}

void waitForInput(int milliseconds) {
    pollfd descriptor{ConnectionNumber(display), POLLIN, 0};
    poll(&descriptor, 1, milliseconds);
}

// One target of the clipboard's owner, in one piece (the tests' contents stay
// below chunk size); false when refused or not given in three seconds.
bool convert(Atom target, std::string& bytes) {
    Atom property = atom("STAND_IN_SELECTION"), type = None;
    XConvertSelection(display, atom("CLIPBOARD"), target, property, window, CurrentTime);
    XFlush(display);
    XEvent event;
    for (auto deadline = Clock::now() + std::chrono::seconds(3); Clock::now() < deadline;) {
        while (XCheckTypedWindowEvent(display, window, SelectionNotify, &event)) {
            if (event.xselection.target != target) continue;
            int format = 0;
            unsigned long count = 0, remaining = 0;
            unsigned char* data = nullptr;
            XGetWindowProperty(display, window, property, 0, LONG_MAX / 4, True, AnyPropertyType,
                               &type, &format, &count, &remaining, &data);
            bytes.clear();
            if (data) {
                bytes.assign(reinterpret_cast<char*>(data),
                             count * (format == 32 ? sizeof(long) : format / 8));
                XFree(data);
            }
            return event.xselection.property != None;
        }
        waitForInput(10);
    }
    return false;
}

// Every content target of the clipboard's current owner, with its bytes;
// nothing once that owner has given the clipboard up meanwhile.
Targets readAll() {
    Targets all;
    Window owner = XGetSelectionOwner(display, atom("CLIPBOARD"));
    std::string list, bytes;
    if (!convert(atom("TARGETS"), list)) return all;
    for (size_t i = 0; i < list.size() / sizeof(long); ++i) {
        Atom target = reinterpret_cast<const long*>(list.data())[i];
        char* name = XGetAtomName(display, target);
        bool content = std::string(name) != "TARGETS" && std::string(name) != "TIMESTAMP" &&
                       std::string(name) != "MULTIPLE" && std::string(name) != "SAVE_TARGETS";
        XFree(name);
        if (content && convert(target, bytes)) all.emplace_back(target, bytes);
    }
    return XGetSelectionOwner(display, atom("CLIPBOARD")) == owner ? all : Targets{};
}

void reply(const XSelectionRequestEvent& request, bool given) {
    XEvent event{.xselection = {.type = SelectionNotify,
                                .requestor = request.requestor,
                                .selection = request.selection,
                                .target = request.target,
                                .property = given ? request.property : None,
                                .time = request.time}};
    XSendEvent(display, request.requestor, False, NoEventMask, &event);
    XFlush(display);
}

// Answers one request from what is held.
void serve(const XSelectionRequestEvent& request, const Targets& held) {
    std::vector<long> list = {static_cast<long>(atom("TARGETS"))};
    for (const auto& [target, bytes] : held) {
        list.push_back(static_cast<long>(target));
        if (target != request.target) continue;
        XChangeProperty(display, request.requestor, request.property, target, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(bytes.data()), int(bytes.size()));
        return reply(request, true);
    }
    if (request.target == atom("TARGETS"))
        XChangeProperty(display, request.requestor, request.property, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(list.data()), int(list.size()));
    reply(request, request.target == atom("TARGETS"));
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
            Window owner = reinterpret_cast<XFixesSelectionNotifyEvent&>(event).owner;
            if (!takeOver || owner == window || owner == None || (held = readAll()).empty())
                continue;
            XSetSelectionOwner(display, atom("CLIPBOARD"), window, CurrentTime);
            say("took " + textOf(held));
        } else if (event.type == SelectionRequest && request.target == atom("SAVE_TARGETS") &&
                   request.selection == atom("CLIPBOARD_MANAGER")) {
            held = readAll();
            XSetSelectionOwner(display, atom("CLIPBOARD"), window, CurrentTime);
            reply(request, true);
            say("saved " + textOf(held));
        } else if (event.type == SelectionRequest) {
            request.selection == atom("CLIPBOARD") ? serve(request, held) : reply(request, false);
        }
    }
}

int runSlow(int argc, char** argv) {
    std::string text = argv[3];
    std::map<std::string, double> delays;  // by target; the rest take SECONDS
    for (int i = 4; i < argc; ++i) {
        std::string pair = argv[i];
        delays[pair.substr(0, pair.rfind('='))] = std::stod(pair.substr(pair.rfind('=') + 1));
    }
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
    for (XEvent event;; waitForInput(50)) {
        std::erase_if(due, [&](const auto& request) {
            if (request.first > Clock::now()) return false;
            serve(request.second, held);
            return true;
        });
        while (XPending(display)) {
            XNextEvent(display, &event);
            if (event.type == SelectionClear) return 0;
            if (event.type != SelectionRequest) continue;
            auto& request = event.xselectionrequest;
            char* name = XGetAtomName(display, request.target);
            auto found = delays.find(name);
            XFree(name);
            std::chrono::duration<double> delay(found == delays.end() ? std::stod(argv[2])
                                                                      : found->second);
            if (request.target == atom("TARGETS"))
                serve(request, held);
            else
                due.emplace_back(Clock::now() + std::chrono::duration_cast<Clock::duration>(delay),
                                 request);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    display = XOpenDisplay(nullptr);
    if (!display || argc < 2) return 2;
    window = XCreateSimpleWindow(display, DefaultRootWindow(display), -10, -10, 1, 1, 0, 0, 0);
    std::string mode = argv[1];
    if (mode == "manager" || mode == "keeper") return runManager(mode == "manager");
    return mode == "slow" && argc >= 4 ? runSlow(argc, argv) : 2;
}

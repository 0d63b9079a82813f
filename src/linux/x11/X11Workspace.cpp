#include "linux/x11/X11Workspace.h"

#include <X11/Xatom.h>

#include <cerrno>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "linux/x11/X11WorkspaceProperties.h"
#include "linux/x11/XOwned.h"

namespace velvox {

namespace {

// The window's application; `names` (when asked for) gets what x11::windowNames
// gives, from the same answers.
std::optional<RunningApplication> applicationOf(Display* display, Window window,
                                                DesktopFiles& desktopFiles,
                                                const std::string& ownIdentifier,
                                                std::vector<std::string>* names = nullptr) {
    auto windowClass = x11::windowClass(display, window);
    auto process = x11::windowProcess(display, window);
    if (names) {
        if (windowClass) *names = {windowClass->instance, windowClass->className};
        if (process) names->push_back(executableName(*process));
    }
    auto gtkId =
        x11::byteProperty(display, window, XInternAtom(display, "_GTK_APPLICATION_ID", False),
                          XInternAtom(display, "UTF8_STRING", False));
    // A window that closed meanwhile answers nothing at all: no application.
    if (!windowClass && !gtkId && !x11::windowTitle(display, window)) return std::nullopt;

    RunningApplication application;
    application.processId = process.value_or(0);
    application.window = window;
    auto identity =
        desktopFiles.identify(gtkId.value_or(""), windowClass ? windowClass->instance : "",
                              windowClass ? windowClass->className : "");
    application.bundleIdentifier = identity.id;
    application.name = identity.name;
    if (application.processId == getpid()) application.bundleIdentifier = ownIdentifier;
    return application;
}

}  // namespace

std::shared_ptr<X11Workspace> X11Workspace::create(std::string ownIdentifier,
                                                   DesktopFiles desktopFiles) {
    auto connection = x11::Connection::open();
    auto following = x11::Connection::open();
    if (!connection || !following) return nullptr;
    return std::make_shared<X11Workspace>(std::move(connection), std::move(following),
                                          std::move(ownIdentifier), std::move(desktopFiles));
}

X11Workspace::X11Workspace(std::unique_ptr<x11::Connection> connection,
                           std::unique_ptr<x11::Connection> following, std::string ownIdentifier,
                           DesktopFiles desktopFiles)
    : connection_(std::move(connection)),
      display_(connection_->display()),
      following_(std::move(following)),
      ownIdentifier_(std::move(ownIdentifier)),
      desktopFiles_(std::move(desktopFiles)) {
    Display* display = following_->display();
    // Selected before the first look, so that no change falls between them.
    XSelectInput(display, DefaultRootWindow(display), PropertyChangeMask);
    XFlush(display);
    if (::pipe2(stopPipe_, O_CLOEXEC) == 0) {
        follower_ = std::thread([this] { follow(); });
    } else {
        answered_ = true;  // no follower: every question is asked directly
    }
}

X11Workspace::~X11Workspace() {
    if (follower_.joinable()) {
        char stop = 0;
        (void)!::write(stopPipe_[1], &stop, 1);
        follower_.join();
    }
    for (int fd : stopPipe_)
        if (fd >= 0) ::close(fd);
}

void X11Workspace::follow() {
    Display* display = following_->display();
    Atom active = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    bool changed = true;
    while (true) {
        if (changed) {
            std::optional<RunningApplication> application;
            std::vector<std::string> names;
            {
                x11::ErrorTrap trap(display);
                if (auto window = x11::activeWindow(display))
                    application =
                        applicationOf(display, *window, desktopFiles_, ownIdentifier_, &names);
            }
            std::lock_guard<std::mutex> lock(mutex_);
            frontmost_ = std::move(application);
            activeNames_ = std::move(names);
            answered_ = true;
            firstAnswer_.notify_all();
        }
        changed = false;
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == PropertyNotify && event.xproperty.atom == active) changed = true;
        }
        if (changed) continue;
        pollfd waits[2] = {{ConnectionNumber(display), POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0 && errno != EINTR) return;
        if (waits[1].revents) return;
    }
}

template <typename Answer>
Answer X11Workspace::aboutActiveWindow(Answer X11Workspace::*kept,
                                       const std::function<Answer(Window)>& ask) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (follower_.joinable()) {
        // Only the first question can come before the follower's first look.
        firstAnswer_.wait(lock, [this] { return answered_; });
        return this->*kept;
    }
    lock.unlock();
    auto window = x11::activeWindow(display_);
    return window ? ask(*window) : Answer();
}

std::optional<RunningApplication> X11Workspace::frontmostApplication() {
    return aboutActiveWindow<std::optional<RunningApplication>>(
        &X11Workspace::frontmost_, [this](Window window) {
            return applicationOf(display_, window, desktopFiles_, ownIdentifier_);
        });
}

std::vector<std::string> X11Workspace::activeWindowNames() {
    return aboutActiveWindow<std::vector<std::string>>(
        &X11Workspace::activeNames_,
        [this](Window window) { return x11::windowNames(display_, window); });
}

std::optional<std::string> X11Workspace::focusedWindowTitle(int32_t processId) {
    if (processId <= 0) return std::nullopt;
    if (auto active = x11::activeWindow(display_)) {
        if (x11::windowProcess(display_, *active) == processId) {
            return x11::windowTitle(display_, *active);
        }
    }
    // The process is not in front: its topmost window stands for its focus.
    auto stacking = XInternAtom(display_, "_NET_CLIENT_LIST_STACKING", False);
    x11::ErrorTrap trap(display_);
    std::optional<std::string> title;
    auto list =
        x11::getProperty(display_, DefaultRootWindow(display_), stacking, 4096, false, XA_WINDOW);
    if (list && list->type == XA_WINDOW && list->format == 32 && list->data) {
        auto* windows = reinterpret_cast<unsigned long*>(list->data.get());
        for (unsigned long i = list->count; i-- > 0 && !title;) {
            if (x11::windowProcess(display_, windows[i]) == processId) {
                title = x11::windowTitle(display_, windows[i]);
            }
        }
    }
    return title;
}

}  // namespace velvox

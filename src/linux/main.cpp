#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>

#include "app/AppDelegate.h"
#include "app/CommandLine.h"
#include "base/Brand.h"
#include "base/Files.h"
#include "base/Log.h"
#include "base/Paths.h"
#include "capture/KeyNames.h"
#include "config/Config.h"
#include "delivery/Paster.h"
#include "linux/LinuxSession.h"
#include "linux/glib/GlibMainQueue.h"
#include "linux/glib/MainLoopWatch.h"
#include "linux/glib/SyslogSystemLog.h"
#include "linux/gst/GstAudioDecoder.h"
#include "linux/gtk/GtkApplicationShell.h"
#include "platform/Accessibility.h"
#include "platform/AudioDecoder.h"
#include "platform/HttpClient.h"
#include "platform/Platform.h"
#include "platform/curl/LoadedHttpClient.h"

namespace {

using namespace velvox;

// The one application controller. It is never destroyed: the desktop's
// callbacks may reach it until the very end of the process.
AppDelegate* delegate = nullptr;

// The display server, chosen once at start.
std::optional<LinuxSession> session;

// A hotkey in the desktop's shortcut notation: function keys, letters and
// digits by their key names; nothing for the rest (a lone modifier cannot be
// a desktop shortcut), which leaves the choice to the desktop.
std::string preferredTrigger(int64_t keyCode) {
    std::string name = KeyNames::name(keyCode);
    if (name.size() == 1 && std::isalnum(static_cast<unsigned char>(name[0])))
        return std::string(1, static_cast<char>(std::tolower(static_cast<unsigned char>(name[0]))));
    bool functionKey =
        name.size() > 1 && name[0] == 'F' && std::all_of(name.begin() + 1, name.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c));
        });
    return functionKey ? name : "";
}

// The desktop's shortcuts portal serves the hotkeys in a Wayland session:
// its presses and releases start and stop a dictation.
DesktopShortcutHooks desktopShortcuts() {
    DesktopShortcutHooks hooks;
    hooks.changed = [](bool pressed, bool boost) {
        if (delegate)
            delegate->controller().runCommand(
                pressed ? DictationCommand::start : DictationCommand::stop, boost);
    };
    hooks.wished = [] {
        Config config = Config::load();
        return DesktopShortcutHooks::Triggers{preferredTrigger(config.hotkeyKeyCode),
                                              preferredTrigger(config.boostHotkeyKeyCode)};
    };
    hooks.keysAssigned = [] {
        if (!delegate) return;
        delegate->controller().refreshReadyLine();
        // The keys the desktop assigned are what dictates from now on.
        Log::write("hotkeys live: " + delegate->controller().readyLine());
    };
    hooks.offerChanged = [] {
        if (delegate) delegate->sessionOfferChanged();
    };
    return hooks;
}

// GTK 3 on X11 loads the OpenGL drivers at start-up only to choose its
// visuals (with Mesa's LLVM, tens of megabytes held for the life of the
// process), though nothing here draws with OpenGL. Turned off for this
// process's toolkit only, unless the user asked otherwise: the setting goes
// away once the toolkit has read it, so programs started from here (the
// browser, the web engine's processes) start as they would anyway.
bool glTurnedOff = false;
void turnOffToolkitGL() {
    if (std::getenv("GDK_GL") || std::getenv("WAYLAND_DISPLAY")) return;
    glTurnedOff = ::setenv("GDK_GL", "disable", 0) == 0;
}

// One copy per user also where the session bus, which normally keeps a
// second copy out, cannot be reached: a second copy would sweep the first
// one's take while it records. The lock is held for the life of the process
// (the system lets go of it when the process ends, however it ends).
bool holdInstanceLock() {
    // The settings folder may still have to come from an earlier name.
    Config::migrateOldFolder();
    Files::createFolder(Paths::dir());
    int fd = ::open(Files::join(Paths::dir(), "velvox.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC,
                    Files::kPrivateFileMode);
    if (fd < 0) return true;  // nothing can tell: this copy runs
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    ::close(fd);
    return false;
}

// Puts the desktop's implementation of every service in place once the
// toolkit runs, then starts the application controller.
void launch() {
    if (!holdInstanceLock()) {
        std::cerr << Brand::name << " is already running." << std::endl;
        // Nothing of this copy has started yet, and the toolkit is still
        // starting up: there is nothing to end but the process.
        ::_exit(0);
    }
    if (glTurnedOff) ::unsetenv("GDK_GL");
    session->installApplicationServices(desktopShortcuts());
    delegate = new AppDelegate(quitGtkApplication);
    delegate->didFinishLaunching();
}

int runApplication(const std::vector<std::string>& urls) {
    MainLoopWatch::startFromEnvironment();
    ApplicationEvents events;
    events.launched = launch;
    events.opened = [](const std::vector<std::string>& opened) {
        if (delegate) delegate->openURLs(opened);
    };
    events.reopened = [] {
        if (delegate) delegate->reopen();
    };
    events.dictate = [](const std::string& command, bool boost,
                        std::optional<uint64_t> sentAt) -> std::string {
        static DictationCommandOrder order;
        if (!delegate) return "not started yet";
        if (!order.takes(sentAt)) return "a later command came first";
        if (command == "retry") return delegate->controller().retryLastDictation();
        auto parsed = parseDictationCommand(command);
        if (!parsed) return "unknown command \"" + command + "\"";
        return delegate->controller().runCommand(*parsed, boost);
    };
    events.terminating = [] {
        // A dictation on its way into a field arrives before anything ends.
        Platform::accessibility().finishPerforming();
        if (delegate) delegate->willTerminate();
        // What we hold on the clipboard would go with the process.
        Paster::handClipboardOver();
    };
    return runGtkApplication(Brand::bundleID, urls, std::move(events));
}

}  // namespace

int main(int argc, char** argv) {
    // Before any thread starts: the environment is not safe to change later.
    turnOffToolkitGL();
    Platform::installMainQueue(std::make_shared<GlibMainQueue>());
    Platform::installSystemLog(std::make_shared<SyslogSystemLog>());
    Platform::installHttpClient(
        std::make_shared<LoadedHttpClient>(LoadedHttpClient::besideProgram()));
    // `velvox transcribe` may need WAV for a server as much as a dictation
    // does; GStreamer is loaded only when something is decoded.
    Platform::installAudioDecoder(std::make_shared<GstAudioDecoder>());
    // The key source is not started here: the command-line front reads the
    // settings with the default hotkeys of this system's keyboards.
    session = LinuxSession::start();

    std::vector<std::string> args(argv + 1, argv + argc);
    CommandLine::Host host;
    host.launchApplication = runApplication;
    int status = CommandLine::run(args, host, std::cout, std::cerr);
    // The network's thread is stopped and joined here, while everything its
    // last answers reach still exists: at the statics' end it would not.
    Platform::installHttpClient(nullptr);
    Log::flush();
    return status;
}

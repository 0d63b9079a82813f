#include "linux/gtk/LinuxDesktop.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "base/Brand.h"
#include "base/Files.h"
#include "base/Log.h"

namespace velvox {

namespace {

constexpr int kBusCallTimeoutMs = 2000;
constexpr mode_t kAutostartFileMode = 0644;

// Identifiers and resource names are plain file names: no folders, no way out.
bool isPlainName(const std::string& name) {
    return !name.empty() && name != "." && name.find('/') == std::string::npos &&
           name.find("..") == std::string::npos && name.find('\0') == std::string::npos;
}

std::string desktopFileName(const std::string& identifier) {
    static const std::string suffix = ".desktop";
    bool hasSuffix =
        identifier.size() > suffix.size() &&
        identifier.compare(identifier.size() - suffix.size(), suffix.size(), suffix) == 0;
    return hasSuffix ? identifier : identifier + suffix;
}

// An address for the log: without its query, which may carry an e-mail address.
std::string addressForLog(const std::string& address) {
    return address.substr(0, address.find('?'));
}

GAppLaunchContext* launchContext() {
    GdkDisplay* display = gdk_display_get_default();
    return display ? G_APP_LAUNCH_CONTEXT(gdk_display_get_app_launch_context(display)) : nullptr;
}

void launched(GObject*, GAsyncResult* result, gpointer data) {
    g_autofree char* what = static_cast<char*>(data);
    g_autoptr(GError) error = nullptr;
    if (g_app_info_launch_default_for_uri_finish(result, &error)) return;
    Log::write(std::string("open: could not open ") + what + ": " +
               (error && error->message ? error->message : "no application"));
}

// Hands the address to the user's default application for it. GIO starts the
// application and reports back later; nothing here waits for it.
void launchDefault(const std::string& uri, const std::string& forLog) {
    g_autoptr(GAppLaunchContext) context = launchContext();
    g_app_info_launch_default_for_uri_async(uri.c_str(), context, nullptr, launched,
                                            g_strdup(forLog.c_str()));
}

std::string pageName(SettingsPage page) {
    switch (page) {
        case SettingsPage::sound:
            return "sound";
        case SettingsPage::accessibility:
            return "accessibility";
        case SettingsPage::keyboard:
            return "keyboard";
    }
    return "settings";
}

bool desktopIsCurrent(const std::string& desktop, const std::string& current) {
    auto lower = [](std::string text) {
        std::transform(text.begin(), text.end(), text.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return text;
    };
    std::string wanted = lower(desktop), list = lower(current);
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(':', start);
        if (end == std::string::npos) end = list.size();
        if (list.compare(start, end - start, wanted) == 0) return true;
        start = end + 1;
    }
    return false;
}

// The accessibility bus is what assistive technologies (and our own text
// insertion) use; it is switched on the way a desktop does when a screen
// reader asks for it.
void switchAccessibilityBusOn() {
    g_bus_get(
        G_BUS_TYPE_SESSION, nullptr,
        [](GObject*, GAsyncResult* result, gpointer) {
            g_autoptr(GError) error = nullptr;
            g_autoptr(GDBusConnection) bus = g_bus_get_finish(result, &error);
            if (!bus) {
                Log::write(std::string("accessibility: no session bus: ") +
                           (error ? error->message : "unknown"));
                return;
            }
            g_dbus_connection_call(
                bus, "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
                g_variant_new("(ssv)", "org.a11y.Status", "IsEnabled", g_variant_new_boolean(TRUE)),
                nullptr, G_DBUS_CALL_FLAGS_NONE, kBusCallTimeoutMs, nullptr,
                [](GObject* source, GAsyncResult* callResult, gpointer) {
                    g_autoptr(GError) callError = nullptr;
                    g_autoptr(GVariant) reply = g_dbus_connection_call_finish(
                        G_DBUS_CONNECTION(source), callResult, &callError);
                    if (reply) return;
                    Log::write(std::string("accessibility: could not switch the bus on: ") +
                               (callError ? callError->message : "unknown"));
                },
                nullptr);
        },
        nullptr);
}

}  // namespace

LinuxDesktop::LinuxDesktop(std::string pagesFolder) : pagesFolder_(std::move(pagesFolder)) {}

LinuxDesktop::~LinuxDesktop() {
    if (chooser_) {
        g_signal_handlers_disconnect_by_data(chooser_, this);
        gtk_widget_destroy(chooser_);
    }
}

// ---- opening ------------------------------------------------------------------

void LinuxDesktop::openURL(const std::string& url) {
    if (url.empty() || url.find('\0') != std::string::npos) return;
    g_autofree gchar* scheme = g_uri_parse_scheme(url.c_str());
    if (!scheme) {
        Log::write("open: not an address: " + addressForLog(url));
        return;
    }
    launchDefault(url, addressForLog(url));
}

void LinuxDesktop::openFile(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos) return;
    g_autoptr(GFile) file = g_file_new_for_path(path.c_str());
    g_autofree gchar* uri = g_file_get_uri(file);
    if (uri) launchDefault(uri, path);
}

DisplaySession LinuxDesktop::displaySession() {
    return sessionFromEnvironment();
}

DisplaySession LinuxDesktop::sessionFromEnvironment() {
    const char* type = g_getenv("XDG_SESSION_TYPE");
    if (g_strcmp0(type, "wayland") == 0) return DisplaySession::wayland;
    if (g_strcmp0(type, "x11") == 0) return DisplaySession::x11;
    const char* display = g_getenv("WAYLAND_DISPLAY");
    return display && *display ? DisplaySession::wayland : DisplaySession::x11;
}

std::vector<std::vector<std::string>> LinuxDesktop::settingsCommands(SettingsPage page,
                                                                     const std::string& desktops) {
    struct Candidate {
        const char* desktop;  // the desktop that ships the tool; empty for any
        std::vector<std::string> command;
    };
    std::vector<Candidate> candidates;
    switch (page) {
        case SettingsPage::sound:
            candidates = {{"GNOME", {"gnome-control-center", "sound"}},
                          {"KDE", {"systemsettings", "kcm_pulseaudio"}},
                          {"KDE", {"systemsettings5", "kcm_pulseaudio"}},
                          {"", {"pavucontrol"}}};
            break;
        case SettingsPage::accessibility:
            candidates = {{"GNOME", {"gnome-control-center", "universal-access"}},
                          {"XFCE", {"xfce4-accessibility-settings"}},
                          {"KDE", {"systemsettings", "kcm_access"}},
                          {"KDE", {"systemsettings5", "kcm_access"}}};
            break;
        case SettingsPage::keyboard:
            candidates = {{"GNOME", {"gnome-control-center", "keyboard"}},
                          {"XFCE", {"xfce4-keyboard-settings"}},
                          {"KDE", {"systemsettings", "kcm_keyboard"}},
                          {"KDE", {"systemsettings5", "kcm_keyboard"}}};
            break;
    }
    std::stable_partition(candidates.begin(), candidates.end(), [&](const Candidate& candidate) {
        return *candidate.desktop && desktopIsCurrent(candidate.desktop, desktops);
    });
    std::vector<std::vector<std::string>> commands;
    for (auto& candidate : candidates) commands.push_back(std::move(candidate.command));
    return commands;
}

void LinuxDesktop::openSettings(SettingsPage page) {
    if (page == SettingsPage::accessibility) switchAccessibilityBusOn();
    const char* current = std::getenv("XDG_CURRENT_DESKTOP");
    for (const auto& command : settingsCommands(page, current ? current : "")) {
        g_autofree gchar* program = g_find_program_in_path(command.front().c_str());
        if (!program) continue;
        std::vector<gchar*> argv;
        argv.push_back(program);
        for (size_t i = 1; i < command.size(); ++i)
            argv.push_back(const_cast<gchar*>(command[i].c_str()));
        argv.push_back(nullptr);
        g_autoptr(GError) error = nullptr;
        // Without DO_NOT_REAP_CHILD, GLib reaps the tool itself; we never wait for it.
        if (g_spawn_async(nullptr, argv.data(), nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, nullptr,
                          &error))
            return;
        Log::write("settings: could not start " + command.front() + ": " +
                   (error ? error->message : "unknown"));
    }
    Log::write("settings: no settings tool found for " + pageName(page));
}

// ---- applications ---------------------------------------------------------------

void LinuxDesktop::chooseApplication(const std::string& title, const std::string& message,
                                     std::function<void(std::optional<std::string>)> done) {
    if (chooser_) {  // one chooser at a time; the open one keeps its answer
        gtk_window_present(GTK_WINDOW(chooser_));
        return;
    }
    // Any content type will do: the chooser is told to list every application.
    chooser_ = gtk_app_chooser_dialog_new_for_content_type(nullptr, GtkDialogFlags(0),
                                                           "application/octet-stream");
    chooserDone_ = std::move(done);
    gtk_window_set_title(GTK_WINDOW(chooser_), title.c_str());
    gtk_app_chooser_dialog_set_heading(GTK_APP_CHOOSER_DIALOG(chooser_), message.c_str());
    GtkWidget* list = gtk_app_chooser_dialog_get_widget(GTK_APP_CHOOSER_DIALOG(chooser_));
    gtk_app_chooser_widget_set_show_all(GTK_APP_CHOOSER_WIDGET(list), TRUE);
    g_signal_connect(chooser_, "response", G_CALLBACK(onChooserResponse), this);
    gtk_widget_show(chooser_);
    gtk_window_present(GTK_WINDOW(chooser_));
}

void LinuxDesktop::onChooserResponse(GtkWidget* dialog, int response, void* data) {
    auto* self = static_cast<LinuxDesktop*>(data);
    std::optional<std::string> chosen;
    if (response == GTK_RESPONSE_OK) {
        g_autoptr(GAppInfo) info = gtk_app_chooser_get_app_info(GTK_APP_CHOOSER(dialog));
        if (info) {
            if (const char* id = g_app_info_get_id(info)) {
                std::string identifier = id;
                static const std::string suffix = ".desktop";
                if (identifier.size() > suffix.size() &&
                    identifier.compare(identifier.size() - suffix.size(), suffix.size(), suffix) ==
                        0)
                    identifier.resize(identifier.size() - suffix.size());
                if (!identifier.empty()) chosen = identifier;
            }
        }
    }
    auto done = std::move(self->chooserDone_);
    self->chooserDone_ = nullptr;
    g_signal_handlers_disconnect_by_data(dialog, self);
    gtk_widget_destroy(dialog);
    self->chooser_ = nullptr;
    if (done) done(std::move(chosen));
}

std::optional<std::string> LinuxDesktop::applicationName(const std::string& identifier) {
    if (!isPlainName(identifier)) return std::nullopt;
    g_autoptr(GDesktopAppInfo) info = g_desktop_app_info_new(desktopFileName(identifier).c_str());
    if (!info) return std::nullopt;
    if (const char* text = g_app_info_get_name(G_APP_INFO(info)); text && *text)
        return std::string(text);
    return std::nullopt;
}

// ---- files shipped with the program -----------------------------------------------

std::optional<std::string> LinuxDesktop::resourceFile(const std::string& name) {
    if (!isPlainName(name)) return std::nullopt;
    std::string path = Files::join(pagesFolder_, name);
    if (!Files::exists(path) || Files::isFolder(path)) return std::nullopt;
    return path;
}

// ---- start at login --------------------------------------------------------------

std::string LinuxDesktop::autostartFile() {
    std::string config;
    if (const char* value = std::getenv("XDG_CONFIG_HOME"); value && value[0] == '/') {
        config = value;  // a relative value is invalid and ignored
    } else {
        const char* home = std::getenv("HOME");
        config = std::string(home && *home ? home : g_get_home_dir()) + "/.config";
    }
    return Files::join(Files::join(config, "autostart"), Brand::bundleID + ".desktop");
}

std::string LinuxDesktop::execArgument(const std::string& argument) {
    // Inside double quotes, ", `, $ and \ take a backslash; "%" is doubled so
    // that it is not read as a field code.
    std::string quoted = "\"";
    for (char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        if (c == '%') quoted += '%';
        quoted += c;
    }
    quoted += '"';
    // The general string escapes of the key file come on top of the quoting.
    std::string escaped;
    for (char c : quoted) {
        switch (c) {
            case '\\':
                escaped += "\\\\";
                break;
            case '\n':
                escaped += "\\n";
                break;
            case '\t':
                escaped += "\\t";
                break;
            case '\r':
                escaped += "\\r";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

std::string LinuxDesktop::autostartEntry(const std::string& executable) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=" +
           Brand::name +
           "\n"
           "Comment=Push-to-talk dictation\n"
           "Exec=" +
           execArgument(executable) +
           "\n"
           "Icon=" +
           Brand::bundleID +
           "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool LinuxDesktop::loginItemEnabled() {
    g_autoptr(GKeyFile) entry = g_key_file_new();
    bool enabled = false;
    if (g_key_file_load_from_file(entry, autostartFile().c_str(), G_KEY_FILE_NONE, nullptr)) {
        auto flag = [&](const char* key, bool fallback) {
            g_autoptr(GError) error = nullptr;
            gboolean value = g_key_file_get_boolean(entry, "Desktop Entry", key, &error);
            if (error) return fallback;
            return value != FALSE;
        };
        enabled = g_key_file_has_group(entry, "Desktop Entry") && !flag("Hidden", false) &&
                  flag("X-GNOME-Autostart-enabled", true);
    }
    return enabled;
}

namespace {

// The login starts the program people run, as the desktop entry does: in a
// build tree beside the application, installed in the bin folder above its
// lib/velvox; this very program where neither is (a test's).
std::string programPeopleRun() {
    std::string folder = Files::executableFolder();
    for (const std::string& candidate : {folder + "/velvox", folder + "/../../bin/velvox"}) {
        char resolved[PATH_MAX];
        if (::access(candidate.c_str(), X_OK) == 0 && ::realpath(candidate.c_str(), resolved))
            return resolved;
    }
    return Files::executablePath();
}

}  // namespace

std::optional<std::string> LinuxDesktop::setLoginItem(bool enabled) {
    std::string file = autostartFile();
    if (!enabled) {
        if (::unlink(file.c_str()) == 0 || errno == ENOENT) return std::nullopt;
        return "could not remove " + file + ": " + std::strerror(errno);
    }
    std::string executable = programPeopleRun();
    if (executable.empty()) return std::string("could not find the program's own path");
    std::string folder = file.substr(0, file.rfind('/'));
    std::string error;
    if (!Files::createFolder(folder, Files::kPrivateFolderMode, &error))
        return "could not create " + folder + ": " + error;
    if (::access(folder.c_str(), W_OK) != 0) return folder + " is not writable";
    if (!Files::writeAtomically(file, autostartEntry(executable), kAutostartFileMode))
        return "could not write " + file + ": " + std::strerror(errno);
    return std::nullopt;
}

}  // namespace velvox

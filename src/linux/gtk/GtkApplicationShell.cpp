#include "linux/gtk/GtkApplicationShell.h"

#include <X11/Xlib.h>
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>
#include <memory>
#include <optional>

#include "linux/dbus/RunningCopy.h"
#include "linux/glib/GlibIds.h"

namespace velvox {

namespace {

struct Shell {
    ApplicationEvents events;
    std::vector<std::string> launchURLs;
    // GApplication activates the first copy once as it starts; that is the
    // launch itself, not a reopen.
    bool sawOwnActivation = false;
};

void onStartup(GApplication* application, gpointer data) {
    // A tray application has no window most of the time; without a hold the
    // application would end as soon as it started.
    g_application_hold(application);
    auto* shell = static_cast<Shell*>(data);
    if (shell->events.launched) shell->events.launched();
    if (!shell->launchURLs.empty() && shell->events.opened) shell->events.opened(shell->launchURLs);
}

void onActivate(GApplication*, gpointer data) {
    auto* shell = static_cast<Shell*>(data);
    if (!shell->sawOwnActivation) {
        shell->sawOwnActivation = true;
        return;
    }
    if (shell->events.reopened) shell->events.reopened();
}

void onOpen(GApplication*, GFile** files, gint count, const gchar*, gpointer data) {
    auto* shell = static_cast<Shell*>(data);
    std::vector<std::string> urls;
    for (gint i = 0; i < count; ++i) {
        g_autofree char* uri = g_file_get_uri(files[i]);
        if (uri) urls.emplace_back(uri);
    }
    if (!urls.empty() && shell->events.opened) shell->events.opened(urls);
}

void onCommandCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                   GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
    // The bus has checked the arguments against the interface: (sb), and
    // the time it was sent after them when the sender says it.
    auto* shell = static_cast<Shell*>(data);
    const gchar* command = nullptr;
    gboolean boost = FALSE;
    std::optional<uint64_t> sentAt;
    if (std::string(method) == kRunSentCommandMethod) {
        guint64 at = 0;
        g_variant_get(parameters, "(&sbt)", &command, &boost, &at);
        sentAt = at;
    } else {
        g_variant_get(parameters, "(&sb)", &command, &boost);
    }
    std::string refusal =
        shell->events.dictate ? shell->events.dictate(command, boost, sentAt) : "not started yet";
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(s)", refusal.c_str()));
}

// The commands' object on the session bus, in place before the application
// owns its name, so that no command can come before it; gone with this.
class CommandsObject {
  public:
    CommandsObject(const std::string& applicationID, Shell* shell)
        : bus_(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
        if (!bus_) return;
        const std::string arguments =
            "<arg type='s' name='command' direction='in'/>"
            "<arg type='b' name='boost' direction='in'/>";
        const std::string refusal = "<arg type='s' name='refusal' direction='out'/></method>";
        std::string xml = "<node><interface name='" + commandsInterface(applicationID) +
                          "'><method name='" + kRunCommandMethod + "'>" + arguments + refusal +
                          "<method name='" + kRunSentCommandMethod + "'>" + arguments +
                          "<arg type='t' name='sentAt' direction='in'/>" + refusal +
                          "</interface></node>";
        g_autoptr(GDBusNodeInfo) node = g_dbus_node_info_new_for_xml(xml.c_str(), nullptr);
        static const GDBusInterfaceVTable vtable = {onCommandCall, nullptr, nullptr, {}};
        if (node)
            id_ = g_dbus_connection_register_object(bus_.get(), objectPathOf(applicationID).c_str(),
                                                    node->interfaces[0], &vtable, shell, nullptr,
                                                    nullptr);
    }
    ~CommandsObject() {
        if (id_) g_dbus_connection_unregister_object(bus_.get(), id_);
    }
    CommandsObject(const CommandsObject&) = delete;
    CommandsObject& operator=(const CommandsObject&) = delete;

  private:
    GOwned<GDBusConnection> bus_;
    guint id_ = 0;
};

void onShutdown(GApplication*, gpointer data) {
    auto* shell = static_cast<Shell*>(data);
    if (shell->events.terminating) shell->events.terminating();
}

gboolean onTerminationSignal(gpointer) {
    quitGtkApplication();
    return G_SOURCE_CONTINUE;
}

// Hands the addresses, or a reopen, to the copy that runs already.
void handOver(GApplication* application, const std::vector<std::string>& urls) {
    if (urls.empty()) {
        g_application_activate(application);
    } else {
        std::vector<GOwned<GFile>> owned;
        std::vector<GFile*> files;
        for (const auto& url : urls) {
            owned.emplace_back(g_file_new_for_uri(url.c_str()));
            files.push_back(owned.back().get());
        }
        g_application_open(application, files.data(), static_cast<gint>(files.size()), "");
    }
    if (GDBusConnection* bus = g_application_get_dbus_connection(application))
        g_dbus_connection_flush_sync(bus, nullptr, nullptr);
}

}  // namespace

int runGtkApplication(const std::string& applicationID, const std::vector<std::string>& urls,
                      ApplicationEvents events) {
    // The clipboard is read on a thread of its own, with a connection of its
    // own; Xlib's shared state needs its locks for that, set before any
    // other Xlib call.
    XInitThreads();
    // Keys, pastes, the clipboard and the pill all speak X11; on a Wayland
    // desktop the application runs through XWayland.
    gdk_set_allowed_backends("x11");
    Shell shell{std::move(events), urls, false};
    // The handlers must be in place before registering: a first copy starts
    // up during registration.
    // GTK 3 declares no automatic cleanup for GtkApplication.
    auto make = [&](GApplicationFlags flags, bool& registered) {
        GOwned<GtkApplication> application(gtk_application_new(applicationID.c_str(), flags));
        g_signal_connect(application.get(), "startup", G_CALLBACK(onStartup), &shell);
        g_signal_connect(application.get(), "activate", G_CALLBACK(onActivate), &shell);
        g_signal_connect(application.get(), "open", G_CALLBACK(onOpen), &shell);
        g_signal_connect(application.get(), "shutdown", G_CALLBACK(onShutdown), &shell);
        g_autoptr(GError) error = nullptr;
        registered = g_application_register(G_APPLICATION(application.get()), nullptr, &error);
        if (!registered)
            g_warning("could not register the application: %s", error ? error->message : "unknown");
        return application;
    };

    auto commands = std::make_unique<CommandsObject>(applicationID, &shell);
    bool registered = false;
    GOwned<GtkApplication> application = make(G_APPLICATION_HANDLES_OPEN, registered);
    if (!registered) {
        // No session bus: run as a lone copy rather than not at all.
        application.reset();
        application = make(GApplicationFlags(G_APPLICATION_HANDLES_OPEN | G_APPLICATION_NON_UNIQUE),
                           registered);
        if (!registered) return 1;
    }
    if (g_application_get_is_remote(G_APPLICATION(application.get()))) {
        commands.reset();
        handOver(G_APPLICATION(application.get()), urls);
        return 0;
    }

    int status = 0;
    {
        SourceId terminate(g_unix_signal_add(SIGTERM, onTerminationSignal, nullptr));
        SourceId interrupt(g_unix_signal_add(SIGINT, onTerminationSignal, nullptr));
        char program[] = "velvox";
        char* argv[] = {program, nullptr};
        status = g_application_run(G_APPLICATION(application.get()), 1, argv);
    }
    return status;
}

void quitGtkApplication() {
    if (GApplication* application = g_application_get_default()) g_application_quit(application);
}

}  // namespace velvox
